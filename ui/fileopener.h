// Opens the files given on the command line or handed over by a later start:
// a sound package is imported and a key sequence loaded exactly as their menu
// commands do once the file is chosen. Files wait, in their order, until the
// start-up has finished and the program is free: no dialog open, no command
// replacing the kit, and the command itself available.
#pragma once

#include "appcontext.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

namespace rimbal {

class TFrmCenter;

class FileOpener : public QObject {
    Q_OBJECT
public:
    explicit FileOpener(AppContext& ctx, QObject* parent = nullptr);

    // The main window, once it exists; opening starts after its first showing.
    void setMainWindow(TFrmCenter* main);
    void open(const QStringList& files);
    // A later start: its window comes forward, then its files are opened.
    void receive(const QStringList& files);
    QStringList pending() const { return m_queue; }

private:
    bool free() const;
    void next();
    void openOne(const QString& file);
    void bringForward();

    AppContext& m_ctx;
    QPointer<TFrmCenter> m_main;
    QStringList m_queue;
    QTimer m_retry;
    bool m_opening = false;
};

}  // namespace rimbal
