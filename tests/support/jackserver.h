// A JACK server with its dummy backend under a name of its own, so it meets
// nothing else on the machine; this process's JACK clients use it.
#pragma once

#include <QProcess>
#include <QString>

class JackServer {
public:
    // Starts the server and waits until it answers; false (with why) where
    // JACK is not installed or cannot run.
    bool start(QString* why);
    // Waits until the port is connected (or not) in the graph the server runs:
    // a change takes effect only at its next cycle. False after ms.
    static bool waitForConnection(const QString& port, bool connected = true, int ms = 20000);
    ~JackServer();

private:
    QProcess jackd_;
};
