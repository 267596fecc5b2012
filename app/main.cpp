// The program body: the splash runs the start-up; the main window follows
// only when start-up succeeded.
#include "appcontext.h"
#include "frmcenter.h"
#include "frmsplash.h"
#include "qtprompt.h"
#include "render.h"

#include <QApplication>
#include <QFont>

int main(int argc, char** argv) {
    // Rendering needs no window and no audio device.
    if (rimbal::IsRenderCommand(argc, argv)) return rimbal::RenderCommand(argc, argv);

    QApplication app(argc, argv);
    Q_INIT_RESOURCE(pictures);
    QApplication::setApplicationName(QStringLiteral("Rimbal 2"));
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);

    rimbal::QtPrompt prompt;
    rimbal::QtLogView log;
    const QString appDir = QCoreApplication::applicationDirPath() + u'/';
    rimbal::AppContext ctx(appDir, prompt, log);
    // The executable's path with ".ini": rimbal2 keeps rimbal2.ini beside it.
    ctx.settings.SetIniPath(QCoreApplication::applicationFilePath() + QStringLiteral(".ini"));

    // No banner download where nobody sees a window.
    const QString platform = QGuiApplication::platformName();
    ctx.bannerDownload = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");

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
    return QApplication::exec();
}
