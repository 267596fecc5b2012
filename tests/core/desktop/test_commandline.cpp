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

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
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

}  // namespace
