// The program body: the command line first; then one program per folder (a
// later start hands its files over and ends); the splash runs the start-up,
// and the main window follows only when start-up succeeded.
#include "appcontext.h"
#include "desktop/commandline.h"
#include "fileopener.h"
#include "frmcenter.h"
#include "frmsplash.h"
#include "qtprompt.h"
#include "render.h"
#include "desktop/singleinstance.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QIcon>
#include <QStandardPaths>
#include <QTranslator>

#include <cstdio>

namespace {

void print(FILE* to, const QString& text) { std::fputs(text.toLocal8Bit().constData(), to); }

std::uint32_t EngineVersion() {
    rb::System system{};
    std::uint32_t version = 0;
    if (rb::System_Create(&system) == rb::OK) {
        rb::System_GetVersion(system, &version);
        rb::System_Release(system);
    }
    return version;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    // Usage, versions and rendering need no window, no audio device and no configuration.
    const rimbal::CommandLine command = rimbal::ParseCommandLine(args, QDir::currentPath());
    switch (command.mode) {
    case rimbal::CommandLine::Mode::Help: print(stdout, rimbal::UsageText()); return 0;
    case rimbal::CommandLine::Mode::Version: print(stdout, rimbal::VersionText(EngineVersion(), rb::kVersion)); return 0;
    case rimbal::CommandLine::Mode::Usage:
        print(stderr, QStringLiteral("rimbal2: %1\n\n").arg(command.error) + rimbal::UsageText());
        return 2;
    case rimbal::CommandLine::Mode::Render: return rimbal::RenderCommand(argc, argv);
    case rimbal::CommandLine::Mode::Run: break;
    }

    // Qt reads no options of its own from the command line: every argument
    // was taken above, and a file named like one of them stays a file.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    Q_INIT_RESOURCE(pictures);
    QApplication::setApplicationName(QStringLiteral("Rimbal 2"));
    QTranslator qtTexts;
    rimbal::InstallQtTranslations(qtTexts);
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icon/%1x%1/apps/rimbal2.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);

    const rimbal::ProgramPlaces places = rimbal::LocateProgram(
        QCoreApplication::applicationFilePath(), QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    if (places.installed) QDir().mkpath(places.appDir);
    const QString appDir = places.appDir;
    rimbal::SingleInstance instance(appDir);
    switch (instance.start(command.files)) {
    case rimbal::SingleInstance::Role::Handed: return 0;
    case rimbal::SingleInstance::Role::NoAnswer:
        print(stderr, QStringLiteral("rimbal2: o Rimbal 2 já está aberto nesta pasta, mas não respondeu.\n"));
        return 1;
    case rimbal::SingleInstance::Role::Primary:
    case rimbal::SingleInstance::Role::Alone: break;
    }

    rimbal::QtPrompt prompt;
    rimbal::QtLogView log;
    rimbal::AppContext ctx(appDir, prompt, log);
    // rimbal2.ini beside the executable, or in the user's folder of an installed program.
    ctx.settings.SetIniPath(places.iniPath);
    ctx.settings.ProgramDir = places.programDir;

    // No banner download where nobody sees a window.
    const QString platform = QGuiApplication::platformName();
    ctx.bannerDownload = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");

    // Files wait for the end of the start-up; later starts may add theirs meanwhile.
    rimbal::FileOpener opener(ctx);
    QObject::connect(&instance, &rimbal::SingleInstance::filesReceived, &opener, &rimbal::FileOpener::receive);
    opener.open(command.files);

    ctx.StartupOk = true;
    bool completed = false;
    {
        rimbal::TFrmSplash splash(ctx);
        completed = splash.exec() == QDialog::Accepted;
    }
    // Without a finished start-up there is no configuration, engine or key list to work with.
    if (!ctx.StartupOk || !completed) return 1;

    rimbal::TFrmCenter center(ctx);
    center.show();
    opener.setMainWindow(&center);
    return QApplication::exec();
}
