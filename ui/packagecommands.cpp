// The main window's package commands and the progress display the package
// windows share.
#include "packagecommands.h"

#include "frmcenter.h"
#include "frmexportarbp.h"
#include "frmlistapacotes.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QProgressBar>
#include <QProgressDialog>
#include <QWidget>

#include <algorithm>
#include <memory>

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

namespace {

// How many package commands are replacing the kit now.
int g_running = 0;

// While a command replaces the kit, the main window takes no input: the
// windows repaint, but no key plays a sound being released and no menu starts
// a second command. The progress dialog may not be up yet to block it.
class InputBlocker : public QObject {
public:
    explicit InputBlocker(QWidget* window) : window_(window) {
        qApp->installEventFilter(this);
        ++g_running;
    }
    ~InputBlocker() override {
        qApp->removeEventFilter(this);
        --g_running;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            return watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == window_;
        default:
            return false;
        }
    }

private:
    QWidget* window_;
};

// The import's progress window: up only once the work has run for a moment,
// and out of the way whenever the import asks or tells the user something.
class ImportProgress : public Prompt, public LogView {
public:
    ImportProgress(AppContext& ctx, QWidget& main, QString title, QString label)
        : ctx_(ctx), main_(main), painting_(&main), title_(std::move(title)), label_(std::move(label)) {
        clock_.start();
    }

    PackageProgress callback() {
        return [this](const QString& caption, double done) {
            if (!caption.isEmpty()) label_ = caption;
            const bool due = clock_.elapsed() >= 400;
            if (!dialog_ && due) {
                dialog_ = std::make_unique<QProgressDialog>(label_, QString(), 0, 1000, &main_);
                dialog_->setObjectName(QStringLiteral("ProgressImport"));
                dialog_->setWindowTitle(title_);
                dialog_->setWindowModality(Qt::WindowModal);
                dialog_->setCancelButton(nullptr);
                dialog_->setAutoClose(false);
                dialog_->setAutoReset(false);
                dialog_->setMinimumWidth(320);
            }
            if (dialog_) {
                dialog_->setLabelText(label_);
                if (done >= 0) dialog_->setValue(static_cast<int>(done * 1000));
                if (due && !dialog_->isVisible()) dialog_->show();
            }
            paint_(QString(), done);
        };
    }

    Button message(const QString& caption, const QString& text, Icon icon, int buttons) override {
        aside();
        return ctx_.prompt.message(caption, text, icon, buttons);
    }
    bool input(const QString& caption, const QString& label, QString& value) override {
        aside();
        return ctx_.prompt.input(caption, label, value);
    }
    QString openFile(const QString& caption, const QString& folder, const QString& filter) override {
        aside();
        return ctx_.prompt.openFile(caption, folder, filter);
    }
    QString saveFile(const QString& caption, const QString& folder, const QString& filter) override {
        aside();
        return ctx_.prompt.saveFile(caption, folder, filter);
    }
    QString chooseFolder(const QString& caption, const QString& folder) override {
        aside();
        return ctx_.prompt.chooseFolder(caption, folder);
    }
    void showLog(const QString& caption, const QStringList& lines) override {
        aside();
        ctx_.log.showLog(caption, lines);
    }

private:
    void aside() {
        if (dialog_) dialog_->hide();
        clock_.restart();
    }

    AppContext& ctx_;
    QWidget& main_;
    WindowProgress painting_;
    PackageProgress paint_ = painting_.callback();
    std::unique_ptr<QProgressDialog> dialog_;
    QString title_;
    QString label_;
    QElapsedTimer clock_;
};

}  // namespace

void ExportarPacote1Click(AppContext& ctx, TFrmCenter& main) {
    TFrmExportaRBP dlg(ctx, &main);
    dlg.exec();
}

void ImportarPacote1Click(AppContext& ctx, TFrmCenter& main) {
    const QString file = ctx.prompt.openFile(QStringLiteral("Importar Pacote de Sons"), QString(),
                                             QStringLiteral("Pacote do Rimbal (*.rbp);;Todos (*.*)"));
    if (!file.isEmpty()) ImportPackageFile(ctx, main, file);
}

void ImportPackageFile(AppContext& ctx, TFrmCenter& main, const QString& file) {
    main.TimerInfo.stop();
    main.TimerStatus.stop();
    bool ok = false;
    {
        const InputBlocker block(&main);
        ImportProgress progress(ctx, main, QStringLiteral("Importar Pacote de Sons"), QStringLiteral("Importando pacote..."));
        Packages packages(ctx.core, progress, progress, progress.callback());
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

void ImportarKitHydrogen1Click(AppContext& ctx, TFrmCenter& main) {
    // One dialog for both kinds: a .h2drumkit archive, or the drumkit.xml of a kit folder.
    const QString file = ctx.prompt.openFile(QStringLiteral("Importar Kit do Hydrogen"), Packages::HydrogenKitsFolder(),
                                             QStringLiteral("Kit do Hydrogen (*.h2drumkit drumkit.xml);;Todos (*.*)"));
    if (!file.isEmpty()) ImportHydrogenKitFile(ctx, main, file);
}

void ImportHydrogenKitFile(AppContext& ctx, TFrmCenter& main, const QString& file) {
    main.TimerInfo.stop();
    main.TimerStatus.stop();
    KitImport done;
    {
        const InputBlocker block(&main);
        ImportProgress progress(ctx, main, QStringLiteral("Importar Kit do Hydrogen"), QStringLiteral("Lendo kit..."));
        Packages packages(ctx.core, progress, progress, progress.callback());
        done = packages.ImportHydrogenKit(file);
    }
    main.PaintCanaisPaint();
    main.TimerInfo.start();
    main.TimerStatus.start();
    switch (done.result) {
    case KitImport::Imported: {
        if (done.notImported.isEmpty() && done.notes.isEmpty()) {
            ctx.prompt.message(QStringLiteral("Info"), QStringLiteral("Kit importado com sucesso!"), Prompt::Icon::Information,
                               Prompt::Ok);
            break;
        }
        QStringList lines;
        if (!done.notImported.isEmpty())
            lines << QStringLiteral("O kit foi importado como o pacote \"%1\", sem estes instrumentos:").arg(done.package)
                  << done.notImported;
        if (!done.notes.isEmpty()) {
            lines << QStringLiteral("O kit foi importado como o pacote \"%1\"; algumas camadas ficaram de fora:").arg(done.package);
            // The notes take what room the window has left, so no count line
            // of either list is cut off.
            const qsizetype room = std::max<qsizetype>(kLogShownLines - lines.size(), 0);
            if (done.notes.size() <= room + 1) lines << done.notes;
            else
                lines << done.notes.first(room)
                      << QStringLiteral("... e mais %1 camadas de fora.").arg(done.notes.size() - room);
        }
        ctx.log.showLog(QStringLiteral("Erros ao importar kit"), lines);
        break;
    }
    case KitImport::Failed:
        if (!done.notImported.isEmpty()) ctx.log.showLog(QStringLiteral("Erros ao importar kit"), done.notImported);
        ctx.prompt.message(QStringLiteral("Erro"),
                           QStringLiteral("O kit não foi importado.\r") + done.errors.join(QStringLiteral("\r")),
                           Prompt::Icon::Error, Prompt::Ok);
        break;
    case KitImport::Cancelled:
        break;
    }
}

bool PackageCommandRunning() { return g_running > 0; }

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
    QStringList errors;
    bool ok = false;
    {
        const InputBlocker block(&main);
        QCoreApplication::processEvents();
        ok = Packages(ctx.core, ctx.prompt, ctx.log).ImportFirstVersionKeys(file, errors);
    }
    main.TimerStatus.start();
    main.PaintCanaisPaint();
    if (ok && errors.isEmpty())
        ctx.prompt.message(QStringLiteral("Info"), QStringLiteral("Teclas importadas com sucesso!"),
                           Prompt::Icon::Information, Prompt::Ok);
    else
        ctx.log.showLog(QStringLiteral("Erros ao importar teclas"), errors);
}

}  // namespace rimbal
