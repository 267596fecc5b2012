#include "packagecommands.h"

#include "frmcenter.h"
#include "frmexportarbp.h"
#include "frmlistapacotes.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QProgressDialog>
#include <QWidget>

namespace rimbal {

WindowProgress::WindowProgress(QWidget* window, QProgressBar* bar)
    : window_(window), bar_(bar), caption_(window->windowTitle()) {
    clock_.start();
    if (bar_) {
        bar_->setValue(0);
        bar_->setVisible(true);
    }
}

WindowProgress::~WindowProgress() {
    window_->setWindowTitle(caption_);
    if (bar_) {
        bar_->setRange(0, 1000);
        bar_->setValue(0);
    }
}

PackageProgress WindowProgress::callback() {
    return [this](const QString& caption, double done) { update(caption, done); };
}

void WindowProgress::update(const QString& caption, double done) {
    bool now = false;
    if (!caption.isEmpty() && caption != window_->windowTitle()) {
        window_->setWindowTitle(caption);
        now = true;
    }
    if (bar_) {
        if (done < 0) {
            bar_->setRange(0, 0);  // busy
        } else {
            bar_->setRange(0, 1000);
            bar_->setValue(static_cast<int>(done * 1000));
        }
    }
    if (now || clock_.elapsed() >= 30) {
        QCoreApplication::processEvents();
        clock_.restart();
    }
}

void ExportarPacote1Click(AppContext& ctx, TFrmCenter& main) {
    TFrmExportaRBP dlg(ctx, &main);
    dlg.exec();
}

void ImportarPacote1Click(AppContext& ctx, TFrmCenter& main) {
    const QString file = ctx.prompt.openFile(QStringLiteral("Importar Pacote de Sons"), QString(),
                                             QStringLiteral("Pacote do Rimbal (*.rbp);;Todos (*.*)"));
    if (file.isEmpty()) return;
    main.TimerInfo.stop();
    main.TimerStatus.stop();
    bool ok = false;
    {
        // Shown only when the import takes long enough to need it.
        QProgressDialog progress(QStringLiteral("Importando pacote..."), QString(), 0, 1000, &main);
        progress.setObjectName(QStringLiteral("ProgressImport"));
        progress.setWindowTitle(QStringLiteral("Importar Pacote de Sons"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setCancelButton(nullptr);
        progress.setMinimumDuration(400);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        progress.setMinimumWidth(320);
        WindowProgress painting(&main);
        const PackageProgress paint = painting.callback();
        Packages packages(ctx.core, ctx.prompt, ctx.log, [&](const QString& caption, double done) {
            if (!caption.isEmpty()) progress.setLabelText(caption);
            if (done >= 0) progress.setValue(static_cast<int>(done * 1000));
            paint(QString(), done);
        });
        ok = packages.ImportPackage(file);
    }
    main.PaintCanaisPaint();
    if (ok)
        ctx.prompt.message(QStringLiteral("Info"), QStringLiteral("Pacote importado com sucesso!"),
                           Prompt::Icon::Information, Prompt::Ok);
    else
        ctx.prompt.message(QStringLiteral("Erro"), QStringLiteral("Erro ao importar pacote"), Prompt::Icon::Error,
                           Prompt::Ok);
    main.TimerInfo.start();
    main.TimerStatus.start();
}

void GerenciarPacotes1Click(AppContext& ctx, TFrmCenter& main) {
    TFrmListaPacotes dlg(ctx, &main, &main);
    dlg.exec();
    main.PaintCanaisPaint();
}

void ImportarTeclas1Click(AppContext& ctx, TFrmCenter& main) {
    const QString file = ctx.prompt.openFile(QStringLiteral("Importar Teclas do Rimbal 1.0"), QString(),
                                             QStringLiteral("Arquivo Texto (*.txt);;Todos (*.*)"));
    if (file.isEmpty()) return;
    main.TimerStatus.stop();
    QCoreApplication::processEvents();
    QStringList errors;
    const bool ok = Packages(ctx.core, ctx.prompt, ctx.log).ImportFirstVersionKeys(file, errors);
    main.TimerStatus.start();
    main.PaintCanaisPaint();
    if (ok && errors.isEmpty())
        ctx.prompt.message(QStringLiteral("Info"), QStringLiteral("Teclas importadas com sucesso!"),
                           Prompt::Icon::Information, Prompt::Ok);
    else
        ctx.log.showLog(QStringLiteral("Erros ao importar teclas"), errors);
}

}  // namespace rimbal
