// The local socket that makes one program per user and folder: listening,
// handing over files, answering.
#include "desktop/singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <QtEndian>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rimbal {
namespace {

constexpr char kTag[4] = {'R', 'B', '2', 'F'};
constexpr qint64 kHeader = 8;
constexpr quint32 kMaxBody = 1 << 20;
constexpr char kTaken = 'k';
constexpr int kReadTimeoutMs = 5000;

#ifdef Q_OS_UNIX
// A folder only this user may enter: ours, and no access for anyone else.
// A link is followed only where the user's own environment names it.
bool isPrivateFolder(const QString& path, bool followLink) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    const int r = followLink ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
    return r == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}
#endif

// The peer at the other end of a connected local socket runs as this user.
// Anyone who got a socket under the name (or reached ours) is not trusted
// with the paths of the user's files, nor believed when it says it took them.
bool peerIsThisUser(qintptr descriptor) {
#if defined(Q_OS_LINUX)
    ucred cred{};
    socklen_t length = sizeof cred;
    return ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 &&
           cred.uid == ::geteuid();
#elif defined(Q_OS_UNIX)
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(static_cast<int>(descriptor), &uid, &gid) == 0 && uid == ::geteuid();
#else
    Q_UNUSED(descriptor);
    return true;  // the pipe is made for this user alone (UserAccessOption)
#endif
}

}  // namespace

QString SingleInstance::PrivateFolder() {
#ifdef Q_OS_UNIX
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime, true)) return QDir::cleanPath(runtime);
    // The temporary folder is everybody's: a folder of our own in it, made
    // private, and refused when someone else made it first.
    const QString own = QDir(QDir::tempPath()).filePath(QStringLiteral("rimbal2-%1").arg(::geteuid()));
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    return isPrivateFolder(own, false) ? own : QString();
#else
    return QDir::tempPath();
#endif
}

SingleInstance::SingleInstance(const QString& appDir, QObject* parent) : QObject(parent), m_name(ServerName(appDir)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::ServerName(const QString& appDir) {
    QString folder = QFileInfo(appDir).canonicalFilePath();
    if (folder.isEmpty()) folder = QDir::cleanPath(QDir(appDir).absolutePath());
#ifdef Q_OS_UNIX
    const QString user = QString::number(::geteuid());
#else
    const QString user = qEnvironmentVariable("USERNAME");
#endif
    const QByteArray hash =
        QCryptographicHash::hash((user + u'\n' + folder).toUtf8(), QCryptographicHash::Sha256).toHex().left(20);
    const QString name = QStringLiteral("rimbal2-") + QString::fromLatin1(hash);
#ifdef Q_OS_UNIX
    const QString own = PrivateFolder();
    return own.isEmpty() ? QString() : QDir(own).filePath(name);
#else
    return name;
#endif
}

QByteArray SingleInstance::Message(const QStringList& files) {
    const QByteArray body = files.join(QChar(u'\0')).toUtf8();
    QByteArray message(kTag, sizeof kTag);
    char length[4];
    qToBigEndian(static_cast<quint32>(body.size()), length);
    message.append(length, sizeof length);
    return message + body;
}

SingleInstance::Role SingleInstance::start(const QStringList& files, int answerTimeoutMs) {
    if (m_name.isEmpty()) {
        // Nowhere private to meet: this start runs alone rather than meet in the open.
        qWarning("rimbal2: no private folder for the running program's socket (XDG_RUNTIME_DIR, %s)",
                 qPrintable(QDir::tempPath()));
        return Role::Alone;
    }
    // Two starts at the same moment must not both decide to run: the look
    // and the listen happen under a lock (one whose holder died is taken over).
    QLockFile lock(m_name + QStringLiteral(".lock"));
    const bool locked = lock.tryLock(3000);
    bool running = false;
    const Role handed = handOver(files, answerTimeoutMs, running);
    if (running) return handed;
    const bool listening = listen();
    if (locked) lock.unlock();
    return listening ? Role::Primary : Role::Alone;
}

SingleInstance::Role SingleInstance::handOver(const QStringList& files, int answerTimeoutMs, bool& running) {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    running = socket.waitForConnected(1000) && peerIsThisUser(socket.socketDescriptor());
    if (!running) {
        // Another user's socket gets nothing; listening replaces it.
        socket.abort();
        return Role::Alone;
    }
    const QByteArray message = Message(files);
    socket.write(message);
    const QDeadlineTimer deadline(answerTimeoutMs);
    while (socket.bytesToWrite() > 0 && socket.state() == QLocalSocket::ConnectedState)
        if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) break;
    while (socket.bytesAvailable() < 1 && !deadline.hasExpired())
        if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) break;
    char answer = 0;
    return socket.getChar(&answer) && answer == kTaken ? Role::Handed : Role::NoAnswer;
}

bool SingleInstance::listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::connection);
    if (m_server->listen(m_name)) return true;
    // Nobody answered on it: a socket left behind by a program that crashed.
    QLocalServer::removeServer(m_name);
    if (m_server->listen(m_name)) return true;
    qWarning("rimbal2: %s", qPrintable(m_server->errorString()));
    return false;
}

void SingleInstance::connection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(kHeader + kMaxBody);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        // A start that connects and says nothing is dropped.
        QTimer::singleShot(kReadTimeoutMs, socket, [socket] { socket->abort(); });
        read(socket);
    }
}

void SingleInstance::read(QLocalSocket* socket) {
    if (socket->property("done").toBool() || socket->bytesAvailable() < kHeader) return;
    const QByteArray header = socket->peek(kHeader);
    const quint32 length = qFromBigEndian<quint32>(header.constData() + 4);
    if (!header.startsWith(QByteArray(kTag, sizeof kTag)) || length > kMaxBody) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < kHeader + length) return;
    socket->read(kHeader);
    const QByteArray body = socket->read(length);
    socket->setProperty("done", true);
    QStringList files;
    if (!body.isEmpty()) files = QString::fromUtf8(body).split(QChar(u'\0'));
    files.removeAll(QString());
    // Taken means taken: the files are in the program's hands before the start hears so.
    emit filesReceived(files);
    socket->putChar(kTaken);
    socket->flush();
    socket->disconnectFromServer();
}

}  // namespace rimbal
