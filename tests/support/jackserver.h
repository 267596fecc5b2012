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
    ~JackServer();

private:
    QProcess jackd_;
};
