// The command line and the hand-over to a running program: what each
// argument means, and a later start reaching the one that runs (listening on
// its own thread here, as the program's window loop would).
#include "desktop/commandline.h"
#include "desktop/singleinstance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <vector>

using namespace rimbal;
using Mode = CommandLine::Mode;

namespace {

TEST(CommandLineTest, EachArgumentMeansOneThing) {
    struct Case {
        QStringList args;
        Mode mode;
        QStringList files;
        QString error;
    };
    const std::vector<Case> cases{
        {{}, Mode::Run, {}, {}},
        {{"kit.rbp", "sub/groove.rbs"}, Mode::Run, {"/home/ana/kit.rbp", "/home/ana/sub/groove.rbs"}, {}},
        {{"/tmp/a.RBP", "../b.rbs"}, Mode::Run, {"/tmp/a.RBP", "/home/b.rbs"}, {}},
        {{"file:///tmp/com%20espa%C3%A7o.rbs"}, Mode::Run, {"/tmp/com espaço.rbs"}, {}},
        {{"--", "-x.rbp", "--help"}, Mode::Run, {"/home/ana/-x.rbp", "/home/ana/--help"}, {}},
        // A leading colon names a file here, not one of Qt's resources.
        {{":kit.rbp", ":/../b.rbs"}, Mode::Run, {"/home/ana/:kit.rbp", "/home/ana/b.rbs"}, {}},
        {{"a.rbp", "--help"}, Mode::Help, {}, {}},
        {{"-h"}, Mode::Help, {}, {}},
        {{"--version"}, Mode::Version, {}, {}},
        {{"-v", "--nada"}, Mode::Version, {}, {}},
        {{"--nada", "--help"}, Mode::Usage, {}, "opção desconhecida: --nada"},
        {{"-"}, Mode::Usage, {}, "opção desconhecida: -"},
        {{"--render-sequence", "g.rbs", "--output", "g.wav"}, Mode::Render, {}, {}},
        {{"--render-sequence=g.rbs", "--output=g.wav", "--rate", "44100", "--package", "Kit"}, Mode::Render, {}, {}},
        // A file beside the render would be neither opened nor rendered.
        {{"--render-sequence", "g.rbs", "x.rbs", "--output", "g.wav"}, Mode::Usage, {},
         "--render-sequence não abre outros arquivos: /home/ana/x.rbs"},
        {{"--render-sequence", "g.rbs"}, Mode::Usage, {}, "--render-sequence precisa de --output"},
        {{"--output", "g.wav", "g.rbs"}, Mode::Usage, {}, "--output só vale com --render-sequence"},
        {{"--render-sequence"}, Mode::Usage, {}, "falta o valor de --render-sequence"},
        {{"--render-sequence=", "--output", "g.wav"}, Mode::Usage, {}, "falta o valor de --render-sequence"},
    };
    for (const Case& c : cases) {
        const CommandLine got = ParseCommandLine(QStringList{"rimbal2"} + c.args, "/home/ana");
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(got.mode, c.mode) << what;
        EXPECT_EQ(got.files, c.files) << what;
        EXPECT_EQ(got.error, c.error) << what;
    }
    EXPECT_EQ(ParseCommandLine({"rimbal2", "x.rbp", ":y"}, "/").files, QStringList({"/x.rbp", "/:y"}));
    EXPECT_TRUE(UsageText().contains("--render-sequence"));
    // The commands it names are the menu's, as the user sees them.
    EXPECT_TRUE(UsageText().contains("\"Importar Pacote de Sons\""));
    EXPECT_TRUE(UsageText().contains("\"Carregar Arquivo de Sequência\""));
    EXPECT_EQ(VersionText(0x20001, 0x20001), "Rimbal 2 " RB_TEST_PROGRAM_VERSION "\nEngine rbcore 00020001\n");
    EXPECT_TRUE(VersionText(0x10000, 0x20001).endsWith("(este executável requer a versão 00020001)\n"));
}

// The running program: a SingleInstance listening on a thread of its own,
// collecting what later starts hand over.
class Running {
public:
    explicit Running(const QString& appDir) : instance_(new SingleInstance(appDir)) {
        instance_->moveToThread(&thread_);
        QObject::connect(&thread_, &QThread::finished, instance_, &QObject::deleteLater);
        QObject::connect(instance_, &SingleInstance::filesReceived, instance_, [this](const QStringList& files) {
            const QMutexLocker lock(&mutex_);
            received_.append(files);
        });
        thread_.start();
        QMetaObject::invokeMethod(instance_, [this] { role_ = instance_->start({}); }, Qt::BlockingQueuedConnection);
    }
    ~Running() {
        thread_.quit();
        thread_.wait();
    }
    SingleInstance::Role role() const { return role_; }
    QList<QStringList> received() {
        const QMutexLocker lock(&mutex_);
        return received_;
    }

private:
    QThread thread_;
    SingleInstance* instance_;
    SingleInstance::Role role_ = SingleInstance::Role::Alone;
    QMutex mutex_;
    QList<QStringList> received_;
};

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        app = dir.path() + "/Rimbal/";
        QDir().mkpath(app);
    }
    QTemporaryDir dir;
    QString app;
};

TEST_F(SingleInstanceTest, NamedPerUserAndFolderWhateverTheSpelling) {
    QDir().mkpath(dir.path() + "/Outro");
    ASSERT_TRUE(QFile::link(app, dir.path() + "/atalho"));
    const QString name = SingleInstance::ServerName(app);
    EXPECT_EQ(SingleInstance::ServerName(dir.path() + "/Rimbal"), name);
    EXPECT_EQ(SingleInstance::ServerName(dir.path() + "/Outro/../Rimbal/"), name);
    EXPECT_EQ(SingleInstance::ServerName(dir.path() + "/atalho/"), name);
    EXPECT_NE(SingleInstance::ServerName(dir.path() + "/Outro/"), name);
    EXPECT_TRUE(QFileInfo(name).fileName().startsWith("rimbal2-"));
}

TEST_F(SingleInstanceTest, LaterStartsHandTheirFilesOverInOrderAndEndAtOnce) {
    Running first(app);
    ASSERT_EQ(first.role(), SingleInstance::Role::Primary);
    const QStringList files{"/tmp/um kit.rbp", "/tmp/ação/groove.rbs"};
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(SingleInstance(app).start(files), SingleInstance::Role::Handed);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(SingleInstance(app).start({}), SingleInstance::Role::Handed);
    EXPECT_EQ(first.received(), (QList<QStringList>{files, {}}));

    // Another folder is another program.
    QDir().mkpath(dir.path() + "/Outro");
    SingleInstance other(dir.path() + "/Outro");
    EXPECT_EQ(other.start({"/tmp/x.rbs"}), SingleInstance::Role::Primary);
    EXPECT_EQ(first.received().size(), 2);
}

TEST_F(SingleInstanceTest, ASocketLeftByACrashDoesNotStopAStart) {
    // A bound socket whose process is gone: the file stays, nobody listens.
    const QString name = SingleInstance::ServerName(app);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name);
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(name));

    Running first(app);
    EXPECT_EQ(first.role(), SingleInstance::Role::Primary);
    EXPECT_EQ(SingleInstance(app).start({"/tmp/a.rbs"}), SingleInstance::Role::Handed);
    EXPECT_EQ(first.received(), QList<QStringList>{{"/tmp/a.rbs"}});
}

TEST_F(SingleInstanceTest, WhatIsNotAStartIsDroppedAndTheProgramGoesOn) {
    Running first(app);
    const QString name = SingleInstance::ServerName(app);
    // Nothing at all: dropped after the server's few seconds of patience.
    for (const QByteArray& junk : {QByteArray("GET / HTTP/1.0\r\n\r\n"), QByteArray("RB2F\xff\xff\xff\xff", 8), QByteArray()}) {
        QLocalSocket s;
        s.connectToServer(name);
        ASSERT_TRUE(s.waitForConnected(1000));
        s.write(junk);
        s.waitForBytesWritten(1000);
        EXPECT_TRUE(s.waitForDisconnected(junk.isEmpty() ? 15000 : 1000)) << junk.toStdString();
        EXPECT_EQ(s.bytesAvailable(), 0);
    }
    EXPECT_EQ(SingleInstance(app).start({"/tmp/b.rbp"}), SingleInstance::Role::Handed);
    EXPECT_EQ(first.received(), QList<QStringList>{{"/tmp/b.rbp"}});
}

TEST_F(SingleInstanceTest, AProgramThatTakesNothingIsNotStartedOver) {
    // Something listens under the name but never answers (a frozen program).
    QThread thread;
    auto* mute = new QLocalServer;
    mute->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, mute, &QObject::deleteLater);
    thread.start();
    const QString name = SingleInstance::ServerName(app);
    bool listening = false;
    QMetaObject::invokeMethod(mute, [&] { listening = mute->listen(name); }, Qt::BlockingQueuedConnection);
    ASSERT_TRUE(listening);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(SingleInstance(app).start({"/tmp/c.rbs"}, 300), SingleInstance::Role::NoAnswer);
    EXPECT_LT(clock.elapsed(), 2000);
    thread.quit();
    thread.wait();
}

// An environment variable set for the life of a scope.
class EnvGuard {
public:
    EnvGuard(const char* name, const QString& value) : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value.toLocal8Bit());
    }
    ~EnvGuard() {
        if (had_) qputenv(name_, old_);
        else qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// Without a private runtime folder the socket goes into a folder of the
// user's own in the temporary folder, made 0700; one that someone else made
// first, or that others may enter, is refused and the program runs alone
// rather than meet in the open.
TEST_F(SingleInstanceTest, TheSocketLivesInAFolderOfTheUsersOwn) {
    const QString open = dir.path() + "/aberta", tmp = dir.path() + "/tmp";
    QDir().mkpath(open);
    QDir().mkpath(tmp);
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0777), 0);
    const EnvGuard runtime("XDG_RUNTIME_DIR", open);
    const EnvGuard temp("TMPDIR", tmp);
    const QString own = tmp + "/rimbal2-" + QString::number(::geteuid());
    EXPECT_EQ(QFileInfo(SingleInstance::ServerName(app)).absolutePath(), own);
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(own).constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    {
        Running first(app);
        EXPECT_EQ(first.role(), SingleInstance::Role::Primary);
        EXPECT_EQ(SingleInstance(app).start({"/tmp/a.rbp"}), SingleInstance::Role::Handed);
        EXPECT_EQ(first.received(), QList<QStringList>{{"/tmp/a.rbp"}});
    }
    ASSERT_TRUE(QDir(own).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(own));
    ASSERT_EQ(::chmod(QFile::encodeName(own).constData(), 0777), 0);
    EXPECT_TRUE(SingleInstance::ServerName(app).isEmpty());
    EXPECT_EQ(SingleInstance(app).start({"/tmp/b.rbp"}), SingleInstance::Role::Alone);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(QFile::encodeName(own).constData(), 0700), 0);
        ASSERT_EQ(::chown(QFile::encodeName(own).constData(), 65534, 65534), 0);
        EXPECT_TRUE(SingleInstance::ServerName(app).isEmpty()) << "another user's folder";
    }
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0700), 0);
    EXPECT_EQ(QFileInfo(SingleInstance::ServerName(app)).absolutePath(), open) << "a private runtime folder is used";
}

// A child process running as the user "nobody"; work may make system calls
// only. Its exit status is work's result.
pid_t startAsNobody(const std::function<int()>& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
        ::_exit(work());
    }
    return pid;
}

int exitOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int unixSocket(const QByteArray& path, bool listen) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), std::min<std::size_t>(path.size(), sizeof addr.sun_path - 1));
    const auto* a = reinterpret_cast<sockaddr*>(&addr);
    const bool ok = listen ? ::bind(fd, a, sizeof addr) == 0 && ::listen(fd, 1) == 0 : ::connect(fd, a, sizeof addr) == 0;
    if (!ok) ::close(fd);
    return ok ? fd : -1;
}

// Waits up to ms for fd to become readable.
bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

// Another user who reaches the running program's socket (the folder opened
// to all here) is not heard; and a socket of another user's found under the
// name is not handed the user's files: each end asks who the other is.
TEST_F(SingleInstanceTest, APeerOfAnotherUserIsIgnoredAtBothEnds) {
    if (::geteuid() != 0) GTEST_SKIP() << "a second user needs root";
    QTemporaryDir runtime;
    const EnvGuard env("XDG_RUNTIME_DIR", runtime.path());
    const QString name = SingleInstance::ServerName(app);
    ASSERT_EQ(QFileInfo(name).absolutePath(), runtime.path());
    const QByteArray path = QFile::encodeName(name);
    const QByteArray message = SingleInstance::Message({"/tmp/segredo.rbp"});
    {
        Running first(app);
        ASSERT_EQ(first.role(), SingleInstance::Role::Primary);
        ASSERT_EQ(::chmod(QFile::encodeName(runtime.path()).constData(), 0711), 0);
        ASSERT_EQ(::chmod(path.constData(), 0777), 0);
        const pid_t other = startAsNobody([&] {
            const int fd = unixSocket(path, false);
            if (fd < 0) return 2;
            ::send(fd, message.constData(), static_cast<std::size_t>(message.size()), MSG_NOSIGNAL);
            char answer = 0;
            return readable(fd, 3000) && ::read(fd, &answer, 1) == 1 && answer == 'k' ? 1 : 0;
        });
        EXPECT_EQ(exitOf(other), 0) << "1: taken from another user, 2: could not connect";
        EXPECT_TRUE(first.received().isEmpty());
        ASSERT_EQ(::chmod(QFile::encodeName(runtime.path()).constData(), 0700), 0);
        EXPECT_EQ(SingleInstance(app).start({"/tmp/meu.rbp"}), SingleInstance::Role::Handed) << "the user is still heard";
    }

    QTemporaryDir shared;
    ASSERT_EQ(::chmod(QFile::encodeName(shared.path()).constData(), 0777), 0);
    const QByteArray squat = QFile::encodeName(shared.path() + "/s");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t squatter = startAsNobody([&] {
        const int fd = unixSocket(squat, true);
        ::chmod(squat.constData(), 0777);
        ::write(ready[1], "r", 1);
        if (fd < 0 || !readable(fd, 5000)) return 2;
        const int peer = ::accept(fd, nullptr, nullptr);
        char buffer[256];
        const bool heard = readable(peer, 2000) && ::read(peer, buffer, sizeof buffer) > 0;
        if (heard) ::send(peer, "k", 1, MSG_NOSIGNAL);
        return heard ? 1 : 0;
    });
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_TRUE(QFile::link(shared.path() + "/s", name));
    {
        SingleInstance later(app);
        EXPECT_EQ(later.start({"/tmp/segredo.rbp"}, 2000), SingleInstance::Role::Primary) << "it runs, in place of the squatter";
    }
    EXPECT_EQ(exitOf(squatter), 0) << "1: the squatter got the paths, 2: nobody came";
}

}  // namespace
