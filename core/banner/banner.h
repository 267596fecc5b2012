// The advertising banner: its cache file, the list the site publishes, the
// rule for which links may be opened, and the once-per-run download.
// GUI thread throughout; the network work is asynchronous and never blocks.
#pragma once

#include "base/ownfile.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>

class QNetworkReply;

namespace rimbal {

// Cache layout: picture, a 1024-byte zero-filled link block, a 3-byte type.
inline constexpr qsizetype kBannerLinkBlock = 1024;
inline constexpr qsizetype kBannerLinkMax = kBannerLinkBlock - 1;
inline constexpr qsizetype kBannerTypeSize = 3;
inline constexpr qsizetype kBannerTrailer = kBannerLinkBlock + kBannerTypeSize;
inline constexpr qint64 kBannerListLimit = 64 * 1024;
inline constexpr qint64 kBannerPictureLimit = 2 * 1024 * 1024;
inline constexpr int kBannerTimeoutMs = 10000;

inline const QString kBannerCacheName = QStringLiteral("ad.dat");
inline const QString kBannerTempName = QStringLiteral("temp_ad.dat");
inline const QString kBannerListPath = QStringLiteral("/forumbanners/rbad.txt");
// What a click opens while no banner has been cached.
inline const QString kBannerRetailerPage = QStringLiteral("https://forum.rimbal.com.br/");

struct BannerCache {
    QByteArray picture;
    QString link;
    QByteArray type;  // the last three bytes, upper case
};

// Reads a cache file; nothing when it is missing, unreadable or shorter than
// the link block and type together.
std::optional<BannerCache> ReadBannerCache(const QString& path);

// "GIF" or "JPG" for an address ending in .gif or .jpg (any case), else three zero bytes.
QByteArray BannerTypeOf(const QString& pictureAddress);
// The link block and type that follow the picture in the cache.
QByteArray BannerCacheTrailer(const QString& link, const QString& pictureAddress);

struct BannerEntry {
    QString picture;
    QString link;
};
// One entry per line "picture 0xFD link" of a Windows-1252 list; blank lines
// and lines without the separator are skipped.
QList<BannerEntry> ParseBannerList(const QByteArray& body);

// True only for an http or https address with a host: the address is parsed,
// not compared by prefix, so file paths, file: and javascript: are refused.
bool IsWebAddress(const QString& address);
// The list's address on a site given as scheme and host; empty when the site
// is not a web address (an empty site turns the download off).
QUrl BannerListUrl(const QString& site);

// One attempt to fetch the list, pick an entry, fetch its picture and replace
// the cache in cacheDir. The picture arrives in temp_ad.dat (or a name of its
// own beside it when something else stands there), made exclusively.
// Failures are silent: the old cache stays and the partial file is deleted.
// Destroying the object abandons the attempt.
class BannerDownload : public QObject {
    Q_OBJECT
public:
    explicit BannerDownload(QString cacheDir, QObject* parent = nullptr);
    ~BannerDownload() override;

    // Each request ends after this long, whatever has arrived.
    int timeoutMs = kBannerTimeoutMs;
    // Which of count entries to take; random unless a test decides.
    std::function<qsizetype(qsizetype count)> pick;

    // Starts the object's only attempt; false, without finished(), when the
    // address is not a web address or an attempt was made before.
    bool start(const QUrl& listUrl);
    bool isRunning() const { return m_stage == Stage::List || m_stage == Stage::Picture; }

signals:
    // cached: a new cache was written.
    void finished(bool cached);

private:
    enum class Stage { Idle, List, Picture, Done };
    void get(const QUrl& url, qint64 limit);
    bool take();
    void replyFinished();
    void listArrived();
    void pictureArrived();
    void failSoon();
    void end(bool cached);
    void dropReply();

    QString m_cacheDir;
    Stage m_stage = Stage::Idle;
    QNetworkAccessManager m_net;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    qint64 m_limit = 0;
    qint64 m_received = 0;
    QByteArray m_list;
    OwnFile m_tempFile;  // the picture's file, made by this download
    QFile m_temp;        // open on it while the picture arrives
    QString m_link;
    QString m_pictureAddress;
};

}  // namespace rimbal
