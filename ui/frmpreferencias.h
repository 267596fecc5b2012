// The preferences dialog: output type and devices, quality, display options,
// effects switch, packages folder and the engine's plug-ins. It works on
// copies and writes them back only when the user confirms on closing.
#pragma once

#include "appcontext.h"

#include <QDialog>

#include <memory>

namespace Ui { class FrmPreferencias; }

namespace rimbal {

class TFrmCenter;
class MidiChoice;

class TFrmPreferencias : public QDialog {
    Q_OBJECT
public:
    // mainWindow may be null (during start-up).
    TFrmPreferencias(AppContext& ctx, TFrmCenter* mainWindow, QWidget* parent = nullptr);
    ~TFrmPreferencias() override;

    void setStartPage(int page);
    bool DriversChanged = false;
    bool QualityChanged = false;
    bool OptionsChanged = false;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void List_OutputsClick();
    void qualityChanged(int& target, int index);
    void cb_outputmodeChange(int index);
    void BtnSelPastaPacClick();
    bool FormCloseQuery();
    void FormClose();
    void fillDevices();
    void restoreEngine();

    AppContext& m_ctx;
    TFrmCenter* m_main;
    std::unique_ptr<Ui::FrmPreferencias> m_ui;
    bool m_filling = false;
    bool m_shownOnce = false;

    // Working copies.
    int wOutput = -1, wPlayback = -1, wRecord = -1, wRate = 0, wFormat = 0, wMode = 0, wChannel = 0;
    int wPlaybackCount = 0, wRecordCount = 0;
    QString wPackPath;
    bool wShowChannels = true, wShowStatus = true, wShowAnimation = false, wUseEffects = true, wLimiter = true;
    std::unique_ptr<MidiChoice> m_midi;
    QString wMidiInput;
    bool m_midiPicked = false;
};

}  // namespace rimbal
