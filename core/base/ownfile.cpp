// Temporary files of the program's own in a shared folder: exclusive
// creation, a lock that tells a live file from a leftover, and removal only
// of the file that was made.
#include "base/ownfile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <io.h>
#endif

namespace rimbal {
namespace {

QString systemText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// kick.wav -> kick-a8Zq3x.wav; Temp.$$$ -> Temp-a8Zq3x.$$$
QString otherName(const QString& wanted) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString tag;
    for (int i = 0; i < 6; ++i) tag += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))]);
    const qsizetype dot = wanted.indexOf(u'.');
    return dot <= 0 ? wanted + u'-' + tag : wanted.left(dot) + u'-' + tag + wanted.mid(dot);
}

#ifdef Q_OS_UNIX
// A new file, never one that exists and never through a link.
int createNew(const QByteArray& path) {
    return ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// A leftover of an earlier run: a plain file of this user, with no other
// name, that no running program holds. Opened and locked, or -1.
int openLeftover(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1 ||
        ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int takeOverLeftover(const QByteArray& path) {
    const int fd = openLeftover(path);
    if (fd >= 0 && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The path still leads to the file open on fd.
bool leadsTo(const QByteArray& path, int fd) {
    struct stat atPath {}, open {};
    return ::lstat(path.constData(), &atPath) == 0 && ::fstat(fd, &open) == 0 && atPath.st_dev == open.st_dev &&
           atPath.st_ino == open.st_ino;
}
#endif

}  // namespace

OwnFile::~OwnFile() { release(); }

bool OwnFile::create(const QString& folder, const QString& wanted, QString* error) {
    release();
    const QString base = folder.endsWith(u'/') ? folder : folder + u'/';
#ifdef Q_OS_UNIX
    int err = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = base + (attempt == 0 ? wanted : otherName(wanted));
        const QByteArray native = QFile::encodeName(path);
        int fd = createNew(native);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX | LOCK_NB);
        } else {
            err = errno;
            if (attempt == 0 && err == EEXIST) fd = takeOverLeftover(native);
        }
        if (fd < 0) {
            // Only a name in the way is worth another try.
            if (err != EEXIST) break;
            continue;
        }
        struct stat st {};
        ::fstat(fd, &st);
        m_fd = fd;
        m_path = path;
        m_device = static_cast<quint64>(st.st_dev);
        m_inode = static_cast<quint64>(st.st_ino);
        return true;
    }
    if (error) *error = systemText(err ? err : EEXIST);
    return false;
#else
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = base + (attempt == 0 ? wanted : otherName(wanted));
        QFile f(path);
        if (!f.open(QIODevice::ReadWrite | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path)) continue;
            if (error) *error = f.errorString();
            return false;
        }
        m_fd = _dup(f.handle());
        m_path = path;
        return true;
    }
    if (error) *error = QStringLiteral("nenhum nome livre");
    return false;
#endif
}

void OwnFile::RemoveLeftover(const QString& folder, const QString& name) {
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName((folder.endsWith(u'/') ? folder : folder + u'/') + name);
    const int fd = openLeftover(path);
    if (fd < 0) return;
    if (leadsTo(path, fd)) ::unlink(path.constData());
    ::close(fd);
#else
    Q_UNUSED(folder);
    Q_UNUSED(name);
#endif
}

bool OwnFile::isIntact() const {
    if (m_fd < 0) return false;
#ifdef Q_OS_UNIX
    struct stat st {};
    return ::lstat(QFile::encodeName(m_path).constData(), &st) == 0 && static_cast<quint64>(st.st_dev) == m_device &&
           static_cast<quint64>(st.st_ino) == m_inode;
#else
    return QFileInfo(m_path).isFile();
#endif
}

bool OwnFile::open(QFile& file, QIODevice::OpenMode mode, QString* error) const {
    if (!isIntact()) {
        if (error) *error = systemText(ENOENT);
        return false;
    }
#ifdef Q_OS_UNIX
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
#else
    const int fd = _dup(m_fd);
#endif
    if (fd < 0) {
        if (error) *error = systemText(errno);
        return false;
    }
    // The duplicate shares the file position: start where a fresh open would.
    if (!file.open(fd, mode & ~QIODevice::Truncate, QFileDevice::AutoCloseHandle)) {
        if (error) *error = file.errorString();
#ifdef Q_OS_UNIX
        ::close(fd);
#else
        _close(fd);
#endif
        return false;
    }
    if ((mode & QIODevice::Truncate) && !file.resize(0)) {
        if (error) *error = file.errorString();
        file.close();
        return false;
    }
    file.seek(0);
    return true;
}

void OwnFile::remove() {
    if (isIntact()) QFile::remove(m_path);
    release();
}

void OwnFile::release() {
    if (m_fd < 0) return;
#ifdef Q_OS_UNIX
    ::close(m_fd);
#else
    _close(m_fd);
#endif
    m_fd = -1;
    m_path.clear();
    m_device = m_inode = 0;
}

}  // namespace rimbal
