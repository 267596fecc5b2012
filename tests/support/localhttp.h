// A small HTTP/1.1 server on the loopback address, answering GET requests by
// hand from a table of paths, with the ways a real server misbehaves.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

class LocalHttp : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        Answer,    // status, headers and body at once
        Close,     // closes the connection without a word
        Silent,    // accepts and never answers
        Trickle,   // the body in small pieces, one every trickleMs
        NoLength,  // the body without Content-Length, ended by closing
    };
    struct Route {
        // headers: extra header lines, each ending in CR LF.
        Route(int status_ = 200, QByteArray body_ = {}, Mode mode_ = Mode::Answer, QByteArray headers_ = {},
              int trickleMs_ = 50, int trickleBytes_ = 8)
            : status(status_), body(std::move(body_)), mode(mode_), headers(std::move(headers_)), trickleMs(trickleMs_),
              trickleBytes(trickleBytes_) {}
        int status;
        QByteArray body;
        Mode mode;
        QByteArray headers;
        int trickleMs;
        int trickleBytes;
    };

    LocalHttp();
    // "http://127.0.0.1:port"
    QString site() const;
    QString url(const QString& path) const { return site() + path; }
    void route(const QString& path, Route r) { m_routes.insert(path, std::move(r)); }
    void answer(const QString& path, QByteArray body, int status = 200) { route(path, {status, std::move(body)}); }
    // Paths requested so far, in order.
    QStringList requests;

private:
    void serve(class QTcpSocket* socket);
    QTcpServer m_server;
    QHash<QString, Route> m_routes;
};
