// One running program per user and installation folder: a later start hands
// its files to the running one over a local socket and ends. Two portable
// folders are two programs, each with its own settings, so they never meet.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace rimbal {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Primary,   // this process runs the program and listens for later starts
        Alone,     // runs the program, but could not listen (a later start runs too)
        Handed,    // the running program took the files: this start ends with success
        NoAnswer,  // a program runs but took nothing in time
    };

    explicit SingleInstance(const QString& appDir, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Where the running program listens: a socket in the user's private
    // folder named after the user and appDir; empty when there is no such
    // folder (start() then runs alone).
    static QString ServerName(const QString& appDir);
    // The user's runtime folder (XDG_RUNTIME_DIR) when it is private, or
    // rimbal2-<uid> in the temporary folder, made 0700 and refused when it is
    // not the user's alone (another user made it first). Empty when neither.
    static QString PrivateFolder();
    QString serverName() const { return m_name; }

    // Hands files (absolute paths; none just asks for the window) to a
    // running program, or becomes the one that runs. A socket left by a
    // crashed program is replaced. Both ends check that the other runs as
    // the same user: another user's program is neither given the files nor
    // heard.
    Role start(const QStringList& files, int answerTimeoutMs = 5000);

    // What a start sends: a tag, the length and the paths, NUL-separated.
    static QByteArray Message(const QStringList& files);

signals:
    // A later start, with its files (none: it only asked for the window).
    void filesReceived(const QStringList& files);

private:
    Role handOver(const QStringList& files, int answerTimeoutMs, bool& running);
    bool listen();
    void connection();
    void read(QLocalSocket* socket);

    QString m_name;
    QLocalServer* m_server = nullptr;
};

}  // namespace rimbal
