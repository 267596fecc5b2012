// Opening files from the command line and from later starts, one at a time when
// the program is free.
#include "fileopener.h"

#include "frmcenter.h"
#include "packagecommands.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace rimbal {
namespace {

// What a file is by its name: "rbp", "rbs", "h2drumkit" (an archive or a kit
// folder's drumkit.xml), or anything else.
QString kindOf(const QString& file) {
    const QFileInfo info(file);
    if (info.fileName().compare(QLatin1String("drumkit.xml"), Qt::CaseInsensitive) == 0) return QStringLiteral("h2drumkit");
    return info.suffix().toLower();
}

}  // namespace

FileOpener::FileOpener(AppContext& ctx, QObject* parent) : QObject(parent), m_ctx(ctx) {
    // Waiting is polled: a dialog closing or a command ending sends nothing to listen to.
    m_retry.setInterval(50);
    connect(&m_retry, &QTimer::timeout, this, &FileOpener::next);
}

void FileOpener::setMainWindow(TFrmCenter* main) {
    m_main = main;
    if (!m_queue.isEmpty()) m_retry.start();
}

void FileOpener::open(const QStringList& files) {
    m_queue += files;
    if (!m_queue.isEmpty() && m_main) m_retry.start();
}

void FileOpener::receive(const QStringList& files) {
    bringForward();
    open(files);
}

bool FileOpener::free() const {
    if (!m_main || !m_main->isVisible() || m_ctx.settings.StartingUp || m_opening || PackageCommandRunning() ||
        QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return false;
    // A sequence loads only when its command could be chosen (not while one is recorded).
    if (!m_queue.isEmpty() && kindOf(m_queue.first()) == QLatin1String("rbs")) {
        const auto* load = m_main->findChild<QAction*>(QStringLiteral("CarregarSequencia1"));
        return load && load->isEnabled();
    }
    return true;
}

void FileOpener::next() {
    if (m_queue.isEmpty()) {
        m_retry.stop();
        return;
    }
    if (!free()) return;
    const QString file = m_queue.takeFirst();
    m_opening = true;
    openOne(file);
    m_opening = false;
    if (m_queue.isEmpty()) m_retry.stop();
}

void FileOpener::openOne(const QString& file) {
    const QString kind = kindOf(file);
    if (kind != QLatin1String("rbp") && kind != QLatin1String("rbs") && kind != QLatin1String("h2drumkit")) {
        m_ctx.prompt.message(QStringLiteral("Aviso"),
                             QStringLiteral("O Rimbal 2 não abre este tipo de arquivo:\n%1\n\n"
                                            "Ele abre pacotes de sons (.rbp), sequências de teclas (.rbs) e "
                                            "kits do Hydrogen (.h2drumkit ou drumkit.xml).")
                                 .arg(QDir::toNativeSeparators(file)),
                             Prompt::Icon::Warning, Prompt::Ok);
        return;
    }
    if (!QFileInfo(file).isFile()) {
        m_ctx.prompt.message(QStringLiteral("Erro"),
                             QStringLiteral("Arquivo não encontrado: %1").arg(QDir::toNativeSeparators(file)),
                             Prompt::Icon::Error, Prompt::Ok);
        return;
    }
    if (kind == QLatin1String("rbp")) ImportPackageFile(m_ctx, *m_main, file);
    else if (kind == QLatin1String("h2drumkit")) ImportHydrogenKitFile(m_ctx, *m_main, file);
    else m_main->LoadSequenceFile(file);
}

void FileOpener::bringForward() {
    // The main window, and above it whatever dialog holds the program (the
    // splash while the start-up runs).
    QWidget* const windows[] = {m_main.data(), QApplication::activeModalWidget()};
    for (QWidget* w : windows) {
        if (!w || !w->isVisible()) continue;
        if (w->isMinimized()) w->setWindowState((w->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        w->raise();
        w->activateWindow();
    }
}

}  // namespace rimbal
