// The key definition dialog: choose a sound file, preview it, capture the
// play and stop keys, set volume, effects and options, store the key. It also
// shows what the engine knows about the file (the "Info" tab).
#pragma once

#include "appcontext.h"

#include <QDialog>
#include <QTimer>

#include <memory>

namespace Ui { class FrmSetTecla; }

namespace rimbal {

class TFrmSetTecla : public QDialog {
    Q_OBJECT
public:
    explicit TFrmSetTecla(AppContext& ctx, QWidget* parent = nullptr);
    ~TFrmSetTecla() override;

    // Prepares the dialog to edit record index of the key table; the caller then shows it.
    void PrepareEdit(int index);

    bool Capturing = false;
    bool CaptureStart = true;
    bool Editing = false;
    int EditIndex = -1;
    QTimer Timer1;

    void BtnAbrirClick();
    void BtnOuvirClick();
    void BtnPararClick();
    void BtnCriarClick();
    void BtnInfoClick();
    void Panel_StartClick();
    void Panel_StopClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    void Edit_ArquivoChange();
    void Track_VolumeChange(int position);
    void ListBox_EfeitosClick();
    void FormKeyDown(std::uint16_t key);
    void FormKeyPress(const QString& text);
    void Timer1Timer();
    void StartCapture();
    void EndCapture();
    void ResetDialog();
    void setPanelLook(QWidget* panel, bool capturing, bool highlighted);
    QWidget* targetPanel() const;

    AppContext& m_ctx;
    std::unique_ptr<Ui::FrmSetTecla> m_ui;
    QString m_folder;
    int m_blink = 0;
    bool m_open = false;  // shown and not yet closed: a restore is no new opening
};

}  // namespace rimbal
