// The splash window and the start-up sequence it runs: settings, key list,
// engine and its version, devices, plug-ins, and the key sounds.
#pragma once

#include "appcontext.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>

namespace Ui { class FrmSplash; }

namespace rimbal {

class TFrmPreferencias;

class TFrmSplash : public QDialog {
    Q_OBJECT
public:
    explicit TFrmSplash(AppContext& ctx, QWidget* parent = nullptr);
    ~TFrmSplash() override;

    void SetStatus(const QString& text);
    void AbortStartup();
    QString status() const;

    QTimer tmrDelay;
    // Called with the preferences dialog just before it is shown (tests answer it).
    std::function<void(TFrmPreferencias&)> onPreferences;

    // The user cannot close the splash (Esc, the window manager): the
    // start-up sequence alone ends it.
    void reject() override;

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void tmrDelayTimer();
    void finish(bool ok);
    // While a window of the start-up is open the splash is not top-most, so
    // it never covers that window.
    void setTopMost(bool on);

    AppContext& m_ctx;
    std::unique_ptr<Ui::FrmSplash> m_ui;
    bool m_ran = false;
    bool m_finished = false;
};

}  // namespace rimbal
