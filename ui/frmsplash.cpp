// The splash window and the start-up sequence it runs.
#include "frmsplash.h"

#include "kit/demokit.h"
#include "frmpreferencias.h"
#include "base/textroutines.h"

#include "ui_FrmSplash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QWindow>

namespace rimbal {

TFrmSplash::TFrmSplash(AppContext& ctx, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::FrmSplash>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    const QPixmap picture(QStringLiteral(":/pictures/splash.png"));
    m_ui->imgSplash->setPixmap(picture);
    m_ui->imgSplash->resize(picture.size());
    m_ui->imgSplash->setCursor(Qt::BusyCursor);
    setFixedSize(picture.size());
    m_ui->lblStatus->setMinimumWidth(209);
    tmrDelay.setObjectName(QStringLiteral("tmrDelay"));
    tmrDelay.setSingleShot(true);
    tmrDelay.setInterval(static_cast<int>(m_ctx.startDelayMs));
    connect(&tmrDelay, &QTimer::timeout, this, &TFrmSplash::tmrDelayTimer);
    SetStatus(QStringLiteral("Inicializando..."));
}

TFrmSplash::~TFrmSplash() = default;

QString TFrmSplash::status() const { return m_ui->lblStatus->text(); }

void TFrmSplash::SetStatus(const QString& text) {
    m_ui->lblStatus->setText(text);
    QCoreApplication::processEvents();
    // Each text stays long enough to be read.
    if (isVisible()) WaitMs(m_ctx.statusWaitMs);
}

void TFrmSplash::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (const QScreen* screen = this->screen()) move(screen->geometry().center() - rect().center());
    if (!m_ran) tmrDelay.start();
}

bool TFrmSplash::event(QEvent* e) {
    // Activation comes back after every window the sequence opens; the
    // sequence itself runs only once.
    if (e->type() == QEvent::WindowActivate && !m_ran && !tmrDelay.isActive()) tmrDelay.start();
    return QDialog::event(e);
}

void TFrmSplash::reject() {
    if (m_finished) QDialog::reject();
}

void TFrmSplash::finish(bool ok) {
    m_finished = true;
    if (ok) accept();
    else reject();
}

void TFrmSplash::setTopMost(bool on) {
    Qt::WindowFlags flags = windowFlags();
    if (flags.testFlag(Qt::WindowStaysOnTopHint) == on) return;
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    // Told to the window as it is, without hiding and showing it again.
    overrideWindowFlags(flags);
    if (QWindow* w = windowHandle()) w->setFlags(flags);
}

void TFrmSplash::AbortStartup() {
    SoundCore& core = m_ctx.core;
    core.KeyLines.clear();
    core.EffectNames.clear();
    core.CodecNames.clear();
    core.OutputNames.clear();
    core.ErrorLog.clear();
    m_ctx.StartupOk = false;
}

void TFrmSplash::tmrDelayTimer() {
    tmrDelay.stop();
    if (m_ran) return;
    m_ran = true;
    Settings& s = m_ctx.settings;
    SoundCore& core = m_ctx.core;
    s.StartingUp = true;

    SetStatus(QStringLiteral("Carregando configurações..."));
    s.LoadConfiguration();
    QString demoError;
    const bool demoInPlace = CopyDemoKit(s, &demoError);
    ChooseDemoKit(s);
    core.KeyLines.clear();
    core.EffectNames.clear();
    core.CodecNames.clear();
    core.OutputNames.clear();
    core.ErrorLog.clear();
    if (!s.PackPathWarning.isEmpty()) core.ErrorLog.append(s.PackPathWarning);
    if (!demoError.isEmpty()) core.ErrorLog.append(demoError);

    if (!QFileInfo(s.PackPath).isDir()) QDir().mkdir(s.PackPath);
    if (!s.PackName.isEmpty() && !QFileInfo(core.PackageFolder()).isDir()) QDir().mkdir(core.PackageFolder());

    SetStatus(QStringLiteral("Carregando definições de teclas..."));
    core.LoadKeyLines();
    // A demo kit that could not be copied (a full disk) keeps the first run
    // open, so the next start tries again.
    if (s.FirstRun && demoInPlace) s.FirstRun = false;

    for (auto& r : core.KeySounds) SoundCore::EmptyRecord(r);
    core.KeyCount = 0;
    core.SoundSystem = rb::System{};
    core.RecordSound = rb::Sound{};
    core.PlaybackSound = rb::Sound{};

    SetStatus(QStringLiteral("Iniciando engine..."));
    core.LogResult(rb::System_Create(&core.SoundSystem));

    SetStatus(QStringLiteral("Verificando versão..."));
    std::uint32_t version = 0;
    core.LogResult(rb::System_GetVersion(core.SoundSystem, &version));
    if (version != m_ctx.requiredVersion) {
        setTopMost(false);
        m_ctx.prompt.message(QStringLiteral("Erro"),
                             QStringLiteral("Erro! Você está usando uma versão incorreta da bilbioteca %1. Este executável requer a versão %2")
                                 .arg(version, 8, 16, QChar(u'0'))
                                 .arg(m_ctx.requiredVersion, 8, 16, QChar(u'0')),
                             Prompt::Icon::Error, Prompt::Ok);
        AbortStartup();
        finish(false);
        return;
    }

    SetStatus(QStringLiteral("Definindo drivers de som..."));
    int type = 0;
    if (m_ctx.outputType(s.ID_Driver_Output, type)) core.LogResult(rb::System_SetOutput(core.SoundSystem, type));
    bool usable = false;
    if (s.ID_Driver_Playback != -1 && s.ID_Driver_Record != -1) {
        int playback = -1, record = -1;
        core.LogResult(rb::System_GetNumDrivers(core.SoundSystem, &playback));
        core.LogResult(rb::System_GetRecordNumDrivers(core.SoundSystem, &record));
        usable = playback == s.Driver_Playback_Count && record == s.Driver_Record_Count;
    }
    if (usable) {
        core.LogResult(rb::System_SetDriver(core.SoundSystem, s.ID_Driver_Playback));
        core.LogResult(rb::System_SetRecordDriver(core.SoundSystem, s.ID_Driver_Record));
    } else {
        setTopMost(false);
        {
            // A child of the splash, so the window manager keeps it above.
            TFrmPreferencias prefs(m_ctx, nullptr, this);
            prefs.setStartPage(1);
            if (onPreferences) onPreferences(prefs);
            prefs.exec();
        }
        if (s.ID_Driver_Playback == -1 || s.ID_Driver_Record == -1) {
            m_ctx.prompt.message(QStringLiteral("Erro"), QStringLiteral("Não foi definido drivers de reprodução e gravação. "),
                                 Prompt::Icon::Error, Prompt::Ok);
            AbortStartup();
            finish(false);
            return;
        }
        setTopMost(true);
    }

    if (core.SoundSystem != rb::System{}) {
        SetStatus(QStringLiteral("Listando plugins..."));
        core.ListPlugins(s.ProgramDir + QStringLiteral("plugins"));
    }
    SetStatus(QStringLiteral("Criando sons..."));
    // The log window may open at its end.
    setTopMost(false);
    core.CreateSounds(true);
    setTopMost(true);
    SetStatus(QStringLiteral("Pronto."));
    finish(true);
}

}  // namespace rimbal
