// Starting and stopping a private JACK server with the dummy backend.
#include "jackserver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStandardPaths>

#include <algorithm>

bool JackServer::start(QString* why) {
    const QString jackd = QStandardPaths::findExecutable("jackd");
    const QString wait = QStandardPaths::findExecutable("jack_wait");
    if (jackd.isEmpty() || wait.isEmpty()) {
        *why = "JACK is not installed";
        return false;
    }
    const QString name = QStringLiteral("rbtest-%1").arg(QCoreApplication::applicationPid());
    qputenv("JACK_DEFAULT_SERVER", name.toUtf8());
    qputenv("JACK_NO_START_SERVER", "1");
    jackd_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    jackd_.setStandardOutputFile(QProcess::nullDevice());
    // No real-time scheduling, and a server that waits for its clients: the
    // machine is shared, and a late client must not be dropped from the graph.
    jackd_.start(jackd, {"-n", name, "-r", "-S", "-t", "5000", "-d", "dummy", "-r", "48000", "-p", "512"});
    if (!jackd_.waitForStarted(3000)) {
        *why = "jackd does not start here";
        return false;
    }
    QProcess probe;
    probe.start(wait, {"-s", name, "-w", "-t", "10"});
    if (!probe.waitForFinished(15000) || probe.exitCode() != 0 || jackd_.state() != QProcess::Running) {
        *why = "the JACK server does not run here";
        return false;
    }
    return true;
}

bool JackServer::waitForConnection(const QString& port, bool connected, int ms) {
    const QString lsp = QStandardPaths::findExecutable("jack_lsp");
    const QDeadlineTimer deadline(ms);
    do {
        // jack_lsp -c lists the port, then each port connected to it, indented.
        QProcess p;
        p.start(lsp, {"-c", port});
        p.waitForFinished(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1000)));
        bool any = false;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) any |= line.startsWith(' ') || line.startsWith('\t');
        if (p.exitCode() == 0 && any == connected) return true;
    } while (!deadline.hasExpired());
    return false;
}

JackServer::~JackServer() {
    if (jackd_.state() == QProcess::NotRunning) return;
    jackd_.terminate();
    if (!jackd_.waitForFinished(5000)) jackd_.kill();
    jackd_.waitForFinished(2000);
}
