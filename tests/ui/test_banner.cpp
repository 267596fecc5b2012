// The banner in the main window: the cache shown at start, the click, and a
// download from a local server while keys keep playing.
#include "uifixture.h"

#include "banner/banner.h"
#include "frmcenter.h"
#include "localhttp.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTest>

using namespace rimbal;

namespace {

QByteArray picture(const char* format, QColor color, QSize size) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    QBuffer b;
    b.open(QIODevice::WriteOnly);
    img.save(&b, format);
    return b.data();
}

// Qt reads GIF but does not write it: a solid-colour GIF by hand, with a
// two-colour palette and an LZW stream that clears its table every two pixels.
QByteArray solidGif(QColor color, QSize size) {
    QByteArray g = "GIF89a";
    const auto le16 = [&g](int v) { g += char(v & 0xFF); g += char(v >> 8); };
    le16(size.width());
    le16(size.height());
    g += QByteArray("\x80\0\0", 3);
    g += char(color.red()); g += char(color.green()); g += char(color.blue());
    g += QByteArray(3, '\0');
    g += ',';
    le16(0); le16(0); le16(size.width()); le16(size.height());
    g += QByteArray("\0\x02", 2);
    QByteArray data;
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](quint32 code) {
        bits |= code << count;
        for (count += 3; count >= 8; count -= 8, bits >>= 8) data += char(bits & 0xFF);
    };
    const int pixels = size.width() * size.height();
    for (int i = 0; i < pixels; i += 2) {
        put(4);
        put(0);
        if (i + 1 < pixels) put(0);
    }
    put(5);
    if (count) data += char(bits & 0xFF);
    for (qsizetype i = 0; i < data.size(); i += 255) {
        const QByteArray block = data.mid(i, 255);
        g += char(block.size());
        g += block;
    }
    g += QByteArray("\0;", 2);
    return g;
}

QByteArray cache(const QByteArray& pic, const QByteArray& link, const QByteArray& type) {
    return pic + link + QByteArray(kBannerLinkBlock - link.size(), '\0') + type;
}

class Banner : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        preparePackage(1);
        ASSERT_TRUE(runStartup());
        ctx->openUrl = [this](const QUrl& url) { opened << url.toString(); };
    }
    void writeCache(const QByteArray& bytes) {
        QFile f(appDir + "ad.dat");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    std::unique_ptr<TFrmCenter> window() {
        auto w = std::make_unique<TFrmCenter>(*ctx);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        QTest::qWait(30);
        return w;
    }
    QImage shown(TFrmCenter& w) { return child<QLabel>(&w, "ImgBanner")->pixmap().toImage(); }
    QStringList opened;
};

TEST_F(Banner, TheCachedPictureAndLinkAreShownAtStart) {
    const QImage own(QStringLiteral(":/pictures/banner.png"));
    const QByteArray jpg = picture("JPG", QColor(0, 90, 200), {300, 40});
    const QByteArray gif = solidGif(QColor(200, 0, 0), {200, 30});
    const struct {
        const char* name;
        QByteArray file;  // empty: no cache
        QSize size;       // empty: the form's own picture
        QRgb color;
        QString link;
    } cases[] = {
        {"no cache", {}, {}, 0, kBannerRetailerPage},
        {"jpg", cache(jpg, "https://jpg.example/", "JPG"), {300, 40}, qRgb(0, 90, 200), "https://jpg.example/"},
        {"gif, lower-case type", cache(gif, "https://gif.example/", "gif"), {200, 30}, qRgb(200, 0, 0), "https://gif.example/"},
        {"png keeps the picture, takes the link", cache(picture("PNG", Qt::green, {10, 10}), "https://png.example/", QByteArray(3, '\0')), {}, 0, "https://png.example/"},
        {"undecodable", cache(jpg, "https://bad.example/", "GIF"), {}, 0, "https://bad.example/"},
        {"too short for a link", QByteArray(kBannerTrailer - 1, 'x'), {}, 0, kBannerRetailerPage},
    };
    for (const auto& c : cases) {
        QFile::remove(appDir + "ad.dat");
        if (!c.file.isEmpty()) writeCache(c.file);
        auto w = window();
        EXPECT_EQ(w->BannerLink, c.link) << c.name;
        const QImage img = shown(*w);
        if (c.size.isEmpty()) {
            EXPECT_EQ(img, own.convertToFormat(img.format())) << c.name;
        } else {
            EXPECT_EQ(img.size(), c.size) << c.name;
            EXPECT_EQ(child<QLabel>(w.get(), "ImgBanner")->size(), c.size) << c.name;
            const QRgb px = img.pixel(c.size.width() / 2, c.size.height() / 2);
            EXPECT_NEAR(qRed(px), qRed(c.color), 6) << c.name;
            EXPECT_NEAR(qBlue(px), qBlue(c.color), 6) << c.name;
        }
        // Tests never download unless they ask.
        EXPECT_FALSE(w->TimerBanner.isActive());
        w->TimerBanner.start(0);
        while (w->TimerBanner.isActive()) QTest::qWait(5);
        EXPECT_EQ(w->findChild<BannerDownload*>(), nullptr);
    }
}

TEST_F(Banner, AClickOpensOnlyWebAddresses) {
    auto w = window();
    auto* img = child<QLabel>(w.get(), "ImgBanner");
    QTest::mouseClick(img, Qt::LeftButton);
    EXPECT_EQ(opened, QStringList{kBannerRetailerPage}) << "without a cache, the retailer's page";
    QTest::mouseClick(img, Qt::RightButton);
    EXPECT_EQ(opened.size(), 1);
    const struct {
        const char* link;
        bool opens;
    } cases[] = {{"https://promo.example/x?y=1", true}, {"file:///etc/passwd", false}, {"C:\\x.exe", false},
                 {"javascript:alert(1)", false},         {"/usr/bin/xterm", false},     {"", false}};
    for (const auto& c : cases) {
        opened.clear();
        w->BannerLink = QString::fromLatin1(c.link);
        QTest::mouseClick(img, Qt::LeftButton);
        EXPECT_EQ(opened, c.opens ? QStringList{QString::fromLatin1(c.link)} : QStringList{}) << c.link;
    }
}

TEST_F(Banner, KeysPlayDuringTheDownloadAndTheNewBannerShowsAtTheNextStart) {
    LocalHttp http;
    const QByteArray gif = solidGif(QColor(0, 160, 0), {250, 50});
    http.route("/forumbanners/rbad.txt",
               {200, http.url("/b.gif").toLatin1() + "\xfdhttps://novo.example/\r\n" + QByteArray(300, ' '),
                LocalHttp::Mode::Trickle, {}, 40, 8});
    http.answer("/b.gif", gif);
    ctx->bannerDownload = true;
    ctx->settings.BannerSite = http.site();
    {
        auto w = window();
        EXPECT_TRUE(w->TimerBanner.isActive());
        EXPECT_EQ(w->TimerBanner.interval(), 3000);
        w->TimerInfo.stop();  // keep the count of plays
        w->TimerBanner.start(1);
        BannerDownload* d = nullptr;
        QElapsedTimer clock;
        clock.start();
        while (!(d = w->findChild<BannerDownload*>("NMHTTP1")) && clock.elapsed() < 5000) QTest::qWait(5);
        ASSERT_NE(d, nullptr);
        int presses = 0;
        qint64 longestTurn = 0;
        while (d->isRunning() && presses < 500) {
            // The null output never ends a play: free the key's slots first.
            for (rb::Channel ch : ctx->core.KeySounds[0].channels)
                if (ch != rb::Channel{}) rb::Channel_Stop(ch);
            const auto before = ctx->core.PlayCount;
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : w.get(), Qt::Key_A);
            EXPECT_EQ(ctx->core.PlayCount, before + 1);
            ++presses;
            QElapsedTimer turn;
            turn.start();
            QTest::qWait(40);
            longestTurn = std::max(longestTurn, turn.elapsed());
        }
        EXPECT_GE(presses, 10) << "the list trickles for about two seconds";
        EXPECT_LT(longestTurn, 500) << "the window never waits for the network (the list alone takes 1.5 s)";
        EXPECT_TRUE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[0].channels[0]));
        EXPECT_TRUE(QFile::exists(appDir + "ad.dat"));
        EXPECT_EQ(w->BannerLink, kBannerRetailerPage) << "the new banner waits for the next start";
        // Never twice in a run.
        w->TimerBanner.start(1);
        while (w->TimerBanner.isActive()) QTest::qWait(5);
        QTest::qWait(50);
        EXPECT_EQ(http.requests, QStringList({"/forumbanners/rbad.txt", "/b.gif"}));
    }
    ctx->bannerDownload = false;
    auto w = window();
    EXPECT_EQ(shown(*w).size(), QSize(250, 50));
    EXPECT_EQ(shown(*w).pixel(10, 10), qRgb(0, 160, 0));
    EXPECT_EQ(w->BannerLink, "https://novo.example/");
}

TEST_F(Banner, ClosingTheWindowDuringADownloadLeavesTheOldCache) {
    LocalHttp http;
    http.answer("/forumbanners/rbad.txt", http.url("/slow.jpg").toLatin1() + "\xfdhttps://x.example/");
    http.route("/slow.jpg", {200, QByteArray(5000, 'j'), LocalHttp::Mode::Trickle, {}, 30, 100});
    const QByteArray old = cache(picture("JPG", Qt::blue, {100, 20}), "https://old.example/", "JPG");
    writeCache(old);
    ctx->bannerDownload = true;
    ctx->settings.BannerSite = http.site();
    auto w = window();
    w->TimerBanner.start(1);
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(appDir + "temp_ad.dat") && clock.elapsed() < 5000) QTest::qWait(10);
    ASSERT_TRUE(QFile::exists(appDir + "temp_ad.dat"));
    w->close();
    EXPECT_FALSE(QFile::exists(appDir + "temp_ad.dat"));
    QFile f(appDir + "ad.dat");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == old);
}

}  // namespace
