// A loopback HTTP server for the banner tests, including its misbehaviours.
#include "localhttp.h"

#include <QTcpSocket>
#include <QTimer>

#include <memory>

LocalHttp::LocalHttp() {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = m_server.nextPendingConnection()) {
            s->setParent(this);
            connect(s, &QTcpSocket::readyRead, this, [this, s] { serve(s); });
        }
    });
}

QString LocalHttp::site() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

void LocalHttp::serve(QTcpSocket* s) {
    if (s->property("served").toBool()) return;
    QByteArray head = s->property("head").toByteArray() + s->readAll();
    s->setProperty("head", head);
    if (!head.contains("\r\n\r\n")) return;
    s->setProperty("served", true);
    const QList<QByteArray> first = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = first.size() > 1 ? QString::fromLatin1(first[1]) : QString();
    requests << path;
    const Route r = m_routes.value(path, Route{404, "not found"});
    if (r.mode == Mode::Close) {
        s->abort();
        return;
    }
    if (r.mode == Mode::Silent) return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + " X\r\nConnection: close\r\n" + r.headers;
    if (r.mode != Mode::NoLength) out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    out += "\r\n";
    connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    if (r.mode != Mode::Trickle) {
        s->write(out + r.body);
        s->disconnectFromHost();
        return;
    }
    s->write(out);
    auto* timer = new QTimer(s);
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, s, [s, r, sent, timer] {
        s->write(r.body.mid(*sent, r.trickleBytes));
        *sent += r.trickleBytes;
        if (*sent >= r.body.size()) {
            timer->stop();
            s->disconnectFromHost();
        }
    });
    timer->start(r.trickleMs);
}
