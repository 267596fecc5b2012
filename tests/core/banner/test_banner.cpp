// The banner: cache layout, list lines, which links may be opened, and the
// download against a local server that answers well, badly or not at all.
#include "banner/banner.h"
#include "filesizelimit.h"
#include "localhttp.h"
#include "settings/settings.h"
#include "base/textfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

using namespace rimbal;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray linkBlock(const QByteArray& link) { return link + QByteArray(kBannerLinkBlock - link.size(), '\0'); }

TEST(BannerText, WebAddressesOnlyAfterParsing) {
    const struct {
        const char* address;
        bool web;
    } cases[] = {
        {"https://www.example.com/promo", true}, {"HTTP://EXAMPLE.COM", true}, {"  http://example.com/a b  ", true},
        {"file:///etc/passwd", false},           {"C:\\x.exe", false},          {"javascript:alert(1)", false},
        {"/usr/bin/xterm", false},               {"https:example.com", false},  {"http:///only/a/path", false},
        {"ftp://example.com/x", false},          {"", false},                   {"httpsx://example.com", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsWebAddress(QString::fromLatin1(c.address)), c.web) << c.address;

    EXPECT_EQ(BannerListUrl("http://127.0.0.1:8080").toString(), "http://127.0.0.1:8080/forumbanners/rbad.txt");
    EXPECT_EQ(BannerListUrl("https://site.example/old/path?q=1").toString(), "https://site.example/forumbanners/rbad.txt");
    EXPECT_TRUE(BannerListUrl("").isEmpty()) << "an empty site turns the download off";
    EXPECT_TRUE(BannerListUrl("file:///tmp").isEmpty());
}

TEST(BannerText, ListLinesAreWindows1252AndBadLinesAreSkipped) {
    const QByteArray body = "\r\n   \r\nno separator here\r\n"
                            "http://a.example/x.GIF\xfdhttps://loja.example/promo\xe7\xe3o\r\n"
                            "  http://b.example/y.jpg \xfd https://b.example/  \n"
                            "http://c.example/z.png\xfd\r"
                            "last\xfdline";
    const QList<BannerEntry> e = ParseBannerList(body);
    ASSERT_EQ(e.size(), 4);
    EXPECT_EQ(e[0].picture, "http://a.example/x.GIF");
    EXPECT_EQ(e[0].link, QString::fromUtf8("https://loja.example/promoção"));
    EXPECT_EQ(e[1].picture, "http://b.example/y.jpg");
    EXPECT_EQ(e[1].link, "https://b.example/");
    EXPECT_EQ(e[2].link, "");
    EXPECT_EQ(e[3].picture, "last");
    EXPECT_TRUE(ParseBannerList("").isEmpty());
}

TEST(BannerText, TypeFromTheAddressEnd) {
    EXPECT_EQ(BannerTypeOf("http://x/a.GIF"), "GIF");
    EXPECT_EQ(BannerTypeOf("http://x/a.jpg"), "JPG");
    EXPECT_EQ(BannerTypeOf("http://x/a.png"), QByteArray(3, '\0'));
    EXPECT_EQ(BannerTypeOf("http://x/a.jpeg"), QByteArray(3, '\0'));
    EXPECT_EQ(BannerTypeOf("http://x/a.gif?v=2"), QByteArray(3, '\0')) << "the address must end in the extension";

    EXPECT_EQ(BannerCacheTrailer(QString::fromUtf8("https://l.example/ç"), "a.png"),
              linkBlock("https://l.example/\xe7") + QByteArray(3, '\0'));
}

TEST(BannerText, ReadingTheCache) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/ad.dat";
    EXPECT_FALSE(ReadBannerCache(path)) << "no file";

    writeAll(path, "GIF89a-picture" + linkBlock("https://a.example/") + "gif");
    auto c = ReadBannerCache(path);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->picture, "GIF89a-picture");
    EXPECT_EQ(c->link, "https://a.example/");
    EXPECT_EQ(c->type, "GIF") << "the type is read in upper case";

    // Exactly the trailer: no picture, the link is taken.
    writeAll(path, linkBlock("\xe7") + QByteArray(3, '\0'));
    c = ReadBannerCache(path);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->picture.isEmpty());
    EXPECT_EQ(c->link, QString::fromUtf8("ç"));

    // A link block without any zero byte is taken whole.
    writeAll(path, "p" + QByteArray(kBannerLinkBlock, 'k') + "JPG");
    EXPECT_EQ(ReadBannerCache(path)->link.size(), kBannerLinkBlock);

    writeAll(path, QByteArray(kBannerTrailer - 1, 'x'));
    EXPECT_FALSE(ReadBannerCache(path)) << "shorter than link block and type";

    // A picture far over what is ever written is not read; the link still is.
    writeAll(path, QByteArray(8 * kBannerPictureLimit + 1, 'p') + linkBlock("https://a.example/") + "GIF");
    c = ReadBannerCache(path);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->picture.isEmpty());
    EXPECT_EQ(c->link, "https://a.example/");
}

TEST(BannerText, SiteKeyDefaultsToTheProductSiteAndSurvivesASave) {
    QTemporaryDir dir;
    const QString appDir = dir.path() + u'/';
    Settings s(appDir);
    s.LoadConfiguration();
    EXPECT_EQ(s.BannerSite, kBannerDefaultSite);
    ASSERT_TRUE(WriteTextLines(appDir + "rimbal2.ini", {"[Config]", "BannerSite= http://127.0.0.1:9 "}));
    s.LoadConfiguration();
    EXPECT_EQ(s.BannerSite, "http://127.0.0.1:9");
    ASSERT_TRUE(s.SaveConfiguration());
    QStringList lines;
    ReadTextLines(appDir + "rimbal2.ini", lines);
    EXPECT_TRUE(lines.contains("BannerSite= http://127.0.0.1:9 "));
    ASSERT_TRUE(WriteTextLines(appDir + "rimbal2.ini", {"[Config]", "BannerSite="}));
    s.LoadConfiguration();
    EXPECT_TRUE(BannerListUrl(s.BannerSite).isEmpty());
}

class BannerNet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path() + u'/';
        writeAll(dir + "ad.dat", kOld);
    }
    QByteArray line(const QString& picturePath, const QByteArray& link) const {
        return http.url(picturePath).toLatin1() + '\xfd' + link + "\r\n";
    }
    // Runs one attempt to its end; nothing when it did not start.
    std::optional<bool> run(qsizetype pick = 0, int timeoutMs = 5000, const QUrl& list = {}) {
        BannerDownload d(dir);
        d.timeoutMs = timeoutMs;
        d.pick = [pick](qsizetype) { return pick; };
        std::optional<bool> result;
        QEventLoop loop;
        QObject::connect(&d, &BannerDownload::finished, &loop, [&](bool cached) {
            result = cached;
            loop.quit();
        });
        if (!d.start(list.isEmpty() ? BannerListUrl(http.site()) : list)) return std::nullopt;
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_FALSE(d.isRunning());
        return result;
    }
    bool tempExists() const { return QFile::exists(dir + "temp_ad.dat"); }

    const QByteArray kOld = "OLDPIC" + linkBlock("https://old.example/") + "JPG";
    const QString kList = "/forumbanners/rbad.txt";
    QTemporaryDir tmp;
    QString dir;
    LocalHttp http;
};

TEST_F(BannerNet, EachPickedLineIsCachedByteForByte) {
    const QByteArray gif = "GIF89a" + QByteArray(300, 'g');
    const QByteArray jpg = "\xff\xd8\xff\xe0" + QByteArray(5000, 'j');
    const QByteArray png = "\x89PNG" + QByteArray(70, 'p');
    const QByteArray longLink = "https://long.example/" + QByteArray(1500, 'z');
    http.answer(kList, "\r\nno separator\r\n" + line("/a.GIF", "https://gif.example/") +
                           line("/b.jpg", "https://loja.example/promo\xe7\xe3o") + line("/c.png", longLink));
    http.answer("/a.GIF", gif);
    http.answer("/b.jpg", jpg);
    http.answer("/c.png", png);
    const struct {
        qsizetype pick;
        QString path;
        QByteArray cache;
    } cases[] = {
        {0, "/a.GIF", gif + linkBlock("https://gif.example/") + "GIF"},
        {1, "/b.jpg", jpg + linkBlock("https://loja.example/promo\xe7\xe3o") + "JPG"},
        {2, "/c.png", png + longLink.first(kBannerLinkMax) + '\0' + QByteArray(3, '\0')},
    };
    for (const auto& c : cases) {
        http.requests.clear();
        EXPECT_EQ(run(c.pick), true) << c.pick;
        EXPECT_EQ(http.requests.join(' '), kList + ' ' + c.path);
        const QByteArray cache = readAll(dir + "ad.dat");
        EXPECT_EQ(cache.size(), c.cache.size());
        EXPECT_TRUE(cache == c.cache) << c.pick;
        EXPECT_FALSE(tempExists());
        const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(left, QStringList{"ad.dat"}) << "no headers, no leftovers";
    }
}

TEST_F(BannerNet, PicturesUpToTheLimitAreTaken) {
    const QByteArray big(kBannerPictureLimit, 'b');
    http.answer(kList, line("/big.jpg", "https://x.example/"));
    http.route("/big.jpg", {200, big, LocalHttp::Mode::NoLength});
    EXPECT_EQ(run(), true);
    EXPECT_EQ(readAll(dir + "ad.dat").size(), kBannerPictureLimit + kBannerTrailer);
}

TEST_F(BannerNet, EveryFailureIsSilentAndKeepsTheOldCache) {
    using M = LocalHttp::Mode;
    const QString pic = "/p.gif";
    const QByteArray good = line(pic, "https://new.example/");
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QUrl refused(QStringLiteral("http://127.0.0.1:%1%2").arg(closed.serverPort()).arg(kList));
    closed.close();
    // Where the redirects point: following them would succeed.
    http.answer("/moved.txt", good);
    http.answer("/moved.gif", "GIF89a");
    const struct {
        const char* name;
        LocalHttp::Route list;
        LocalHttp::Route picture;
        QStringList requests;
        QUrl at = {};
    } cases[] = {
        {"empty list", {200, ""}, {}, {kList}},
        {"only unusable lines", {200, "\r\n\r\nnothing to see\r\n"}, {}, {kList}},
        {"list 404", {404, good}, {}, {kList}},
        {"list redirect", {302, good, M::Answer, "Location: /moved.txt\r\n"}, {}, {kList}},
        {"list closed", {200, good, M::Close}, {}, {kList}},
        {"list silent", {200, good, M::Silent}, {}, {kList}},
        {"list too long", {200, good + QByteArray(kBannerListLimit, ' ')}, {}, {kList}},
        {"list too long, no length", {200, good + QByteArray(kBannerListLimit, ' '), M::NoLength}, {}, {kList}},
        {"picture not on the web", {200, "file:///etc/passwd\xfdhttps://x.example/\r\n"}, {}, {kList}},
        {"picture 404", {200, good}, {404, "GIF89a"}, {kList, pic}},
        {"picture redirect", {200, good}, {301, "", M::Answer, "Location: /moved.gif\r\n"}, {kList, pic}},
        {"picture closed", {200, good}, {200, "GIF89a", M::Close}, {kList, pic}},
        {"picture silent", {200, good}, {200, "GIF89a", M::Silent}, {kList, pic}},
        {"picture stalls midway", {200, good}, {200, QByteArray(4000, 'g'), M::Trickle, {}, 100, 100}, {kList, pic}},
        {"picture too big", {200, good}, {200, QByteArray(kBannerPictureLimit + 1, 'g')}, {kList, pic}},
        {"picture too big, no length", {200, good}, {200, QByteArray(kBannerPictureLimit + 1, 'g'), M::NoLength}, {kList, pic}},
        {"connection refused", {}, {}, {}, refused},
    };
    for (const auto& c : cases) {
        http.requests.clear();
        http.route(kList, c.list);
        http.route(pic, c.picture);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(run(0, 400, c.at), false) << c.name;
        EXPECT_LT(clock.elapsed(), 4000) << c.name << ": bounded by the timeout";
        // Qt's client asks once more when a connection drops before any answer.
        http.requests.removeDuplicates();
        EXPECT_EQ(http.requests.join(' '), c.requests.join(' ')) << c.name;
        EXPECT_TRUE(readAll(dir + "ad.dat") == kOld) << c.name;
        EXPECT_FALSE(tempExists()) << c.name;
    }
}

TEST_F(BannerNet, OneAttemptPerObjectAndOnlyWebAddresses) {
    BannerDownload d(dir);
    EXPECT_FALSE(d.start(QUrl("file:///etc/passwd")));
    BannerDownload e(dir);
    http.answer(kList, "");
    EXPECT_TRUE(e.start(BannerListUrl(http.site())));
    EXPECT_FALSE(e.start(BannerListUrl(http.site())));
}

TEST_F(BannerNet, ACacheThatCannotBeReplacedLeavesTheOldOne) {
    QFile::remove(dir + "ad.dat");
    ASSERT_TRUE(QDir(dir).mkpath("ad.dat/inside"));
    http.answer(kList, line("/p.gif", "https://new.example/"));
    http.answer("/p.gif", "GIF89a");
    EXPECT_EQ(run(), false);
    EXPECT_TRUE(QFileInfo(dir + "ad.dat/inside").isDir());
    EXPECT_FALSE(tempExists());
}

// The program folder may be shared: a link planted at temp_ad.dat is not
// written through, and a temp_ad.dat another download holds is neither
// overwritten nor removed, not even by a download abandoned half-way.
TEST_F(BannerNet, WhatStandsAtTheTemporaryNameIsLeftAlone) {
    http.answer(kList, line("/p.gif", "https://new.example/"));
    http.answer("/p.gif", "GIF89a-novo");
    writeAll(dir + "alheio.txt", "de outro");
    ASSERT_TRUE(QFile::link(dir + "alheio.txt", dir + "temp_ad.dat"));
    EXPECT_EQ(run(), true);
    EXPECT_TRUE(readAll(dir + "ad.dat").startsWith("GIF89a-novo"));
    EXPECT_EQ(readAll(dir + "alheio.txt"), "de outro");
    EXPECT_TRUE(QFileInfo(dir + "temp_ad.dat").isSymLink());
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList({"ad.dat", "alheio.txt", "temp_ad.dat"}));

    ASSERT_TRUE(QFile::remove(dir + "temp_ad.dat"));
    OwnFile other;
    ASSERT_TRUE(other.create(dir, "temp_ad.dat"));
    {
        QFile f;
        ASSERT_TRUE(other.open(f, QIODevice::WriteOnly));
        f.write("outra");
    }
    EXPECT_EQ(run(), true);
    http.route(kList, {200, "", LocalHttp::Mode::Silent});
    {
        BannerDownload abandoned(dir);
        ASSERT_TRUE(abandoned.start(BannerListUrl(http.site())));
    }
    EXPECT_EQ(readAll(dir + "temp_ad.dat"), "outra");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList({"ad.dat", "alheio.txt", "temp_ad.dat"}));
}

TEST_F(BannerNet, ADiskThatFillsUpLeavesTheOldCache) {
    http.answer(kList, line("/p.gif", "https://new.example/"));
    http.answer("/p.gif", "GIF89a");
    std::optional<bool> cached;
    {
        const FileSizeLimit full(100);  // the picture fits, the link block does not
        cached = run();
    }
    EXPECT_EQ(cached, false);
    EXPECT_TRUE(readAll(dir + "ad.dat") == kOld);
    EXPECT_FALSE(tempExists());
}

}  // namespace
