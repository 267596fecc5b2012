// The archive unit against other ZIP implementations: what it writes must
// read back in Python's zipfile and Info-ZIP unzip, what Info-ZIP writes must
// read here, and every broken input must end in its own clear error.
#include "archives/ziparchive.h"
#include "ziptools.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <malloc.h>
#include <sys/resource.h>

using rimbal::ArchiveError;
using rimbal::ArchiveReader;
using rimbal::ArchiveWriter;

namespace {

const QByteArray kPassword = "Senha de teste 12";

QByteArray noise(int size) {
    QByteArray b(size, Qt::Uninitialized);
    auto* gen = QRandomGenerator::global();
    for (char& c : b) c = static_cast<char>(gen->bounded(256));
    return b;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString md5(const QByteArray& b) { return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Md5).toHex()); }

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString& name) const { return dir.filePath(name); }
    QStringList listing() const { return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }

    QTemporaryDir dir;
};

TEST_F(ArchiveTest, WrittenArchiveReadsBackInPythonUnzipAndHere) {
    const QByteArray text = "[Info]\r\nName=Kit";
    const QByteArray sound = noise(300 * 1024);
    const QByteArray accented = QByteArray(40000, 'a');
    ASSERT_TRUE(writeFile(path(QStringLiteral("on disk.bin")), sound));
    const QByteArray comment = "Comentário\r\n>>> exemplo.com.br";

    ArchiveWriter w(path(QStringLiteral("out.zip")));
    w.setPassword(kPassword);
    w.setComment(comment);
    w.addData(QStringLiteral("Info.txt"), text);
    w.addFile(QStringLiteral("kick2.wav"), path(QStringLiteral("on disk.bin")));
    w.addData(QStringLiteral("Caixa ç.wav"), accented);
    double last = -1;
    ASSERT_TRUE(w.write([&](double f) {
        EXPECT_GE(f, last);
        last = f;
        return true;
    })) << w.errorText().toStdString();
    EXPECT_DOUBLE_EQ(last, 1.0);

    const QJsonObject py = pythonZipView(path(QStringLiteral("out.zip")), kPassword);
    EXPECT_EQ(py[u"comment"].toString().toLatin1(), comment);
    const QJsonArray entries = py[u"entries"].toArray();
    const QList<std::pair<QString, QByteArray>> expected{
        {QStringLiteral("Info.txt"), text}, {QStringLiteral("kick2.wav"), sound}, {QStringLiteral("Caixa ç.wav"), accented}};
    ASSERT_EQ(entries.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QJsonObject e = entries[i].toObject();
        EXPECT_EQ(e[u"name"].toString(), expected[i].first);
        EXPECT_TRUE(e[u"encrypted"].toBool()) << i;
        EXPECT_EQ(e[u"method"].toInt(), 8) << "deflate";
        EXPECT_EQ(e[u"md5"].toString(), md5(expected[i].second)) << i;
    }
    EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-tqP"), QString::fromLatin1(kPassword), path(QStringLiteral("out.zip"))}).code, 0);

    ArchiveReader r;
    ASSERT_TRUE(r.open(path(QStringLiteral("out.zip")), kPassword)) << r.errorText().toStdString();
    EXPECT_EQ(r.comment(), comment);
    ASSERT_EQ(r.entries().size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QByteArray data;
        EXPECT_EQ(r.entries()[i].name, expected[i].first);
        EXPECT_TRUE(r.entries()[i].encrypted);
        EXPECT_EQ(r.entries()[i].size, expected[i].second.size());
        ASSERT_TRUE(r.read(i, data)) << r.errorText().toStdString();
        EXPECT_EQ(data, expected[i].second);
    }
    EXPECT_EQ(listing(), QStringList({QStringLiteral("on disk.bin"), QStringLiteral("out.zip")}));
}

TEST_F(ArchiveTest, ReadsWhatInfoZipWrites) {
    const QByteArray a = noise(70000), b = "texto\r\n";
    ASSERT_TRUE(writeFile(path(QStringLiteral("a.wav")), a));
    ASSERT_TRUE(writeFile(path(QStringLiteral("b.txt")), b));
    ASSERT_EQ(runTool(QStringLiteral("zip"),
                  {QStringLiteral("-qjz"), QStringLiteral("-P"), QString::fromLatin1(kPassword), QStringLiteral("iz.zip"),
                   QStringLiteral("a.wav"), QStringLiteral("b.txt")},
                  dir.path(), "nota do zip\n.\n")
                  .code,
              0);
    ArchiveReader r;
    ASSERT_TRUE(r.open(path(QStringLiteral("iz.zip")), kPassword)) << r.errorText().toStdString();
    EXPECT_EQ(r.comment(), QByteArray("nota do zip"));
    ASSERT_EQ(r.entries().size(), 2);
    EXPECT_EQ(r.indexOf(QStringLiteral("b.txt")), 1);
    QByteArray data;
    ASSERT_TRUE(r.read(0, data)) << r.errorText().toStdString();
    EXPECT_EQ(data, a);
    EXPECT_TRUE(r.entries()[0].encrypted);
    ASSERT_TRUE(r.extract(1, path(QStringLiteral("out.txt"))));
    EXPECT_EQ(readFile(path(QStringLiteral("out.txt"))), b);
}

TEST_F(ArchiveTest, BrokenArchivesEndInTheirOwnError) {
    // A good encrypted archive, an unencrypted stored one, and damaged copies.
    const QByteArray payload = noise(20000);
    ASSERT_TRUE(writeFile(path(QStringLiteral("p.bin")), payload));
    ASSERT_EQ(runTool(QStringLiteral("zip"), {QStringLiteral("-qj"), QStringLiteral("-P"), QString::fromLatin1(kPassword),
                                          QStringLiteral("good.zip"), QStringLiteral("p.bin")}, dir.path()).code, 0);
    ASSERT_EQ(runTool(QStringLiteral("zip"), {QStringLiteral("-qj0"), QStringLiteral("plain.zip"), QStringLiteral("p.bin")}, dir.path()).code, 0);
    const QByteArray good = readFile(path(QStringLiteral("good.zip")));
    QByteArray crc = readFile(path(QStringLiteral("plain.zip")));
    crc[30 + 5 + 1000] = static_cast<char>(crc[30 + 5 + 1000] ^ 0x55);  // inside the stored data of p.bin
    QByteArray tampered = good;
    tampered[30 + 5 + 12 + 500] = static_cast<char>(tampered[30 + 5 + 12 + 500] ^ 0x55);
    ASSERT_TRUE(writeFile(path(QStringLiteral("crc.zip")), crc));
    ASSERT_TRUE(writeFile(path(QStringLiteral("tampered.zip")), tampered));
    ASSERT_TRUE(writeFile(path(QStringLiteral("half.zip")), good.left(good.size() / 2)));
    ASSERT_TRUE(writeFile(path(QStringLiteral("text.rbp")), "Keys.txt\r\nnão é um zip\r\n"));

    struct Case {
        const char* file;
        QByteArray password;
        ArchiveError atOpen;  // None: opening works and reading the entry fails
        std::vector<ArchiveError> atRead;
    };
    const std::vector<Case> cases{
        {"absent.zip", kPassword, ArchiveError::Open, {}},
        {"text.rbp", kPassword, ArchiveError::NotZip, {}},
        {"half.zip", kPassword, ArchiveError::NotZip, {}},
        {"good.zip", "outra senha", ArchiveError::None, {ArchiveError::WrongPassword}},
        {"good.zip", {}, ArchiveError::None, {ArchiveError::WrongPassword}},
        {"crc.zip", {}, ArchiveError::None, {ArchiveError::BadCrc}},
        // Garbled deflate data fails either in the inflater or at the CRC.
        {"tampered.zip", kPassword, ArchiveError::None, {ArchiveError::BadCrc, ArchiveError::Damaged}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString file = path(QString::fromLatin1(c.file));
        ArchiveReader r;
        const bool opened = r.open(file, c.password);
        EXPECT_EQ(opened, c.atOpen == ArchiveError::None);
        if (!opened) {
            EXPECT_EQ(r.error(), c.atOpen);
            EXPECT_TRUE(r.errorText().contains(file)) << r.errorText().toStdString();
            continue;
        }
        QByteArray data;
        EXPECT_FALSE(r.read(0, data));
        EXPECT_TRUE(data.isEmpty());
        EXPECT_NE(std::find(c.atRead.begin(), c.atRead.end(), r.error()), c.atRead.end()) << r.errorText().toStdString();
        EXPECT_TRUE(r.errorText().contains(QStringLiteral("p.bin"))) << r.errorText().toStdString();
        EXPECT_FALSE(r.extract(0, path(QStringLiteral("x.out"))));
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("x.out")))) << "a partial file stays behind";
    }
}

TEST_F(ArchiveTest, AnEntryOfAnEncryptionLibzipLacksIsRefusedAndKeepsNoMemory) {
    ASSERT_TRUE(writeFile(path(QStringLiteral("p.bin")), noise(300)));
    ASSERT_EQ(runTool(QStringLiteral("zip"), {QStringLiteral("-qj"), QStringLiteral("-P"), QString::fromLatin1(kPassword),
                                          QStringLiteral("strong.zip"), QStringLiteral("p.bin")}, dir.path()).code, 0);
    // The strong encryption flag (bit 6) in both headers: a method libzip cannot decode.
    QByteArray strong = readFile(path(QStringLiteral("strong.zip")));
    for (const QByteArray sig : {QByteArray("PK\x03\x04"), QByteArray("PK\x01\x02")}) {
        const qsizetype at = strong.indexOf(sig) + (sig[2] == 3 ? 6 : 8);
        strong[at] = static_cast<char>(strong[at] | 0x40);
    }
    ASSERT_TRUE(writeFile(path(QStringLiteral("strong.zip")), strong));

    ArchiveReader r;
    ASSERT_TRUE(r.open(path(QStringLiteral("strong.zip")), kPassword));
    QByteArray data;
    const auto inUse = [] { return static_cast<long long>(mallinfo2().uordblks); };
    EXPECT_FALSE(r.read(0, data));
    const long long before = inUse();
    for (int i = 0; i < 400; ++i) {
        EXPECT_FALSE(r.read(0, data));
        EXPECT_EQ(r.error(), ArchiveError::Unsupported) << r.errorText().toStdString();
    }
    // A source left behind by each refusal would add up to some 200 kB.
    EXPECT_LT(inUse() - before, 32 * 1024);
    EXPECT_FALSE(r.extract(0, path(QStringLiteral("x.out"))));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("x.out"))));
}

TEST_F(ArchiveTest, FailedWriteLeavesTheOldTargetAndNoLeftovers) {
    const QString target = path(QStringLiteral("kit.rbp"));
    const QByteArray old = "the archive the user had";
    ASSERT_TRUE(writeFile(target, old));
    ASSERT_TRUE(writeFile(path(QStringLiteral("big.wav")), noise(512 * 1024)));
    const QStringList before = listing();

    struct Case {
        const char* what;
        QString file;
        bool fullDisk;
        bool cancel;
        ArchiveError error;
    };
    const std::vector<Case> cases{
        {"a sound file that vanished", path(QStringLiteral("gone.wav")), false, false, ArchiveError::Read},
        {"a full disk", path(QStringLiteral("big.wav")), true, false, ArchiveError::Write},
        {"cancelled", path(QStringLiteral("big.wav")), false, true, ArchiveError::Cancelled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveWriter w(target);
        w.setPassword(kPassword);
        w.addData(QStringLiteral("Info.txt"), "x");
        w.addFile(QStringLiteral("big.wav"), c.file);
        // A file size limit makes the write fail as a full disk would.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (c.fullDisk) {
            rlimit small = saved;
            small.rlim_cur = 64 * 1024;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const bool ok = w.write([&](double f) { return !(c.cancel && f > 0.1); });
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(ok);
        EXPECT_EQ(w.error(), c.error) << w.errorText().toStdString();
        EXPECT_FALSE(w.errorText().isEmpty());
        EXPECT_EQ(readFile(target), old);
        EXPECT_EQ(listing(), before);
    }
    ArchiveWriter empty(target);
    EXPECT_FALSE(empty.write());
    EXPECT_EQ(empty.error(), ArchiveError::Invalid);
    ArchiveWriter twice(target);
    twice.addData(QStringLiteral("a"), "1");
    twice.addData(QStringLiteral("a"), "2");
    EXPECT_FALSE(twice.write());
    EXPECT_EQ(readFile(target), old);
}

TEST_F(ArchiveTest, EntryKindsLimitsAndExtractionTargets) {
    // Python writes a directory, a symbolic link and a large entry.
    const QString script = QStringLiteral(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("pasta/", b"")
    link = zipfile.ZipInfo("link.wav"); link.create_system = 3; link.external_attr = 0o120777 << 16
    z.writestr(link, "/etc/passwd")
    z.writestr("big.wav", b"\0" * 3000000)
)");
    ASSERT_EQ(runTool(QStringLiteral("python3"), {QStringLiteral("-c"), script, path(QStringLiteral("kinds.zip"))}).code, 0);
    ArchiveReader r;
    ASSERT_TRUE(r.open(path(QStringLiteral("kinds.zip"))));
    ASSERT_EQ(r.entries().size(), 3);
    EXPECT_TRUE(r.entries()[0].directory);
    EXPECT_TRUE(r.entries()[1].symlink);
    EXPECT_FALSE(r.entries()[2].symlink || r.entries()[2].directory || r.entries()[2].encrypted);

    QByteArray data;
    EXPECT_FALSE(r.read(2, data, 1000000));
    EXPECT_EQ(r.error(), ArchiveError::TooLarge);
    qint64 seen = 0;
    int calls = 0;
    ASSERT_TRUE(r.extract(2, path(QStringLiteral("big.out")), [&](qint64 n) { seen = n; return ++calls > 0; }));
    EXPECT_EQ(seen, 3000000);
    EXPECT_GT(calls, 10);
    // A cancelled extraction removes its partial file.
    EXPECT_FALSE(r.extract(2, path(QStringLiteral("cut.out")), [](qint64 n) { return n < 100000; }));
    EXPECT_EQ(r.error(), ArchiveError::Cancelled);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("cut.out"))));
    // A link planted where the entry goes is neither followed nor replaced.
    ASSERT_TRUE(writeFile(path(QStringLiteral("victim")), "keep"));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("victim")), path(QStringLiteral("planted.wav"))));
    EXPECT_FALSE(r.extract(2, path(QStringLiteral("planted.wav"))));
    EXPECT_EQ(r.error(), ArchiveError::Write);
    EXPECT_EQ(readFile(path(QStringLiteral("victim"))), QByteArray("keep"));
    EXPECT_FALSE(r.extract(7, path(QStringLiteral("none.out"))));
}

// libzip takes only ASCII or UTF-8 comments of at most 65535 bytes: anything
// else is refused with its reason, before a temporary file exists.
TEST_F(ArchiveTest, CommentsLibzipCannotStoreAreRefusedClearly) {
    struct Case {
        QByteArray comment;
        bool ok;
        const char* reason;
    };
    const std::vector<Case> cases{
        {"Sequ\xEAncia de sons", false, "UTF-8"},       // Windows-1252
        {QByteArray(70000, 'x'), false, "65535"},      // would be cut to its low 16 bits
        {"Sequ\xC3\xAAncia de sons\r\n>>> x", true, ""},
    };
    for (const Case& c : cases) {
        ArchiveWriter w(path(QStringLiteral("c.zip")));
        w.setComment(c.comment);
        w.addData(QStringLiteral("a.txt"), "a");
        EXPECT_EQ(w.write(), c.ok) << c.reason;
        EXPECT_TRUE(w.errorText().contains(QString::fromLatin1(c.reason))) << w.errorText().toStdString();
        if (c.ok) {
            ArchiveReader r;
            ASSERT_TRUE(r.open(path(QStringLiteral("c.zip"))));
            EXPECT_EQ(r.comment(), c.comment);
        }
    }
    EXPECT_EQ(listing(), QStringList{QStringLiteral("c.zip")});
}

}  // namespace
