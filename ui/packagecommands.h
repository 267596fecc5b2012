// The main window's package commands, and the progress display that the
// package windows share.
#pragma once

#include "appcontext.h"
#include "packages/packages.h"

#include <QElapsedTimer>
#include <QString>

class QProgressBar;
class QWidget;

namespace rimbal {

class TFrmCenter;

// Shows a long operation's steps in a window's caption and its share done in
// a progress bar, and keeps the windows painted (at least every 30 ms of
// work). The caption and the bar are restored when it ends.
class WindowProgress {
public:
    explicit WindowProgress(QWidget* window, QProgressBar* bar = nullptr);
    ~WindowProgress();
    WindowProgress(const WindowProgress&) = delete;
    WindowProgress& operator=(const WindowProgress&) = delete;

    PackageProgress callback();

private:
    void update(const QString& caption, double done);

    QWidget* window_;
    QProgressBar* bar_;
    QString caption_;
    QElapsedTimer clock_;
};

void ExportarPacote1Click(AppContext& ctx, TFrmCenter& main);
void ImportarPacote1Click(AppContext& ctx, TFrmCenter& main);
void ImportarKitHydrogen1Click(AppContext& ctx, TFrmCenter& main);
// What the import command does once its file is chosen.
void ImportPackageFile(AppContext& ctx, TFrmCenter& main, const QString& file);
// What the Hydrogen kit import does once its .h2drumkit or drumkit.xml is chosen.
void ImportHydrogenKitFile(AppContext& ctx, TFrmCenter& main, const QString& file);
void GerenciarPacotes1Click(AppContext& ctx, TFrmCenter& main);
void ImportarTeclas1Click(AppContext& ctx, TFrmCenter& main);

// True while a package command replaces the kit (it runs pending window
// messages, so other work must wait for it).
bool PackageCommandRunning();

}  // namespace rimbal
