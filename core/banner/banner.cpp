// The banner's cache file, the site's list and the one download per run.
#include "banner/banner.h"

#include "base/textfiles.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>

namespace rimbal {
namespace {

// A cache is written with at most a 2 MiB picture; one from elsewhere may be
// larger, but nothing past this is read into memory.
constexpr qint64 kCacheReadLimit = 8 * kBannerPictureLimit;

bool isSuccess(const QNetworkReply& reply) {
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status < 300;
}

}  // namespace

std::optional<BannerCache> ReadBannerCache(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const qint64 size = f.size();
    if (size < kBannerTrailer) return std::nullopt;
    BannerCache cache;
    const qint64 pictureSize = size - kBannerTrailer;
    if (pictureSize <= kCacheReadLimit) cache.picture = f.read(pictureSize);
    if (!f.seek(pictureSize)) return std::nullopt;
    const QByteArray block = f.read(kBannerLinkBlock);
    const QByteArray type = f.read(kBannerTypeSize);
    if (block.size() != kBannerLinkBlock || type.size() != kBannerTypeSize) return std::nullopt;
    const qsizetype end = block.indexOf('\0');
    cache.link = FromWindows1252(end < 0 ? block : block.first(end));
    cache.type = type.toUpper();
    return cache;
}

QByteArray BannerTypeOf(const QString& pictureAddress) {
    const QString a = pictureAddress.trimmed();
    if (a.endsWith(QStringLiteral(".gif"), Qt::CaseInsensitive)) return QByteArrayLiteral("GIF");
    if (a.endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive)) return QByteArrayLiteral("JPG");
    return QByteArray(kBannerTypeSize, '\0');
}

QByteArray BannerCacheTrailer(const QString& link, const QString& pictureAddress) {
    QByteArray trailer = ToWindows1252(link.left(kBannerLinkMax));
    trailer.append(QByteArray(kBannerLinkBlock - trailer.size(), '\0'));
    trailer.append(BannerTypeOf(pictureAddress));
    return trailer;
}

QList<BannerEntry> ParseBannerList(const QByteArray& body) {
    QString text = FromWindows1252(body);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    QList<BannerEntry> entries;
    for (const QString& line : text.split(u'\n')) {
        const qsizetype sep = line.indexOf(QChar(0xFD));
        if (line.trimmed().isEmpty() || sep < 0) continue;
        entries.append({line.left(sep).trimmed(), line.mid(sep + 1).trimmed()});
    }
    return entries;
}

bool IsWebAddress(const QString& address) {
    const QUrl url(address.trimmed());
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

QUrl BannerListUrl(const QString& site) {
    if (!IsWebAddress(site)) return {};
    QUrl url(site.trimmed());
    url.setPath(kBannerListPath);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

BannerDownload::BannerDownload(QString cacheDir, QObject* parent) : QObject(parent), m_cacheDir(std::move(cacheDir)) {
    // Straight to the site: no proxy, no redirects, nothing followed silently.
    m_net.setProxy(QNetworkProxy::NoProxy);
    m_net.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { end(false); });
}

BannerDownload::~BannerDownload() {
    if (isRunning()) {
        dropReply();
        if (m_temp.isOpen()) m_temp.close();
        m_tempFile.remove();
    }
}

bool BannerDownload::start(const QUrl& listUrl) {
    if (m_stage != Stage::Idle || !IsWebAddress(listUrl.toString())) return false;
    m_stage = Stage::List;
    get(listUrl, kBannerListLimit);
    return true;
}

void BannerDownload::get(const QUrl& url, qint64 limit) {
    m_limit = limit;
    m_received = 0;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    m_reply = m_net.get(request);
    m_reply->setReadBufferSize(64 * 1024);
    // Stop as soon as the headers say the answer is no good.
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (!isSuccess(*m_reply) || (length.isValid() && length.toLongLong() > m_limit)) failSoon();
    });
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        if (!take()) failSoon();
    });
    connect(m_reply, &QNetworkReply::finished, this, &BannerDownload::replyFinished);
    m_deadline.start(timeoutMs);
}

bool BannerDownload::take() {
    const QByteArray data = m_reply->readAll();
    m_received += data.size();
    if (m_received > m_limit) return false;
    if (m_stage == Stage::List) m_list += data;
    else if (!data.isEmpty() && m_temp.write(data) != data.size()) return false;
    return true;
}

void BannerDownload::replyFinished() {
    if (!m_reply) return;
    m_deadline.stop();
    const bool ok = m_reply->error() == QNetworkReply::NoError && isSuccess(*m_reply) && take();
    dropReply();
    if (!ok) end(false);
    else if (m_stage == Stage::List) listArrived();
    else pictureArrived();
}

void BannerDownload::listArrived() {
    const QList<BannerEntry> entries = ParseBannerList(m_list);
    if (entries.isEmpty()) return end(false);
    qsizetype i = pick ? pick(entries.size()) : static_cast<qsizetype>(QRandomGenerator::global()->bounded(static_cast<qint64>(entries.size())));
    i = std::clamp<qsizetype>(i, 0, entries.size() - 1);
    m_link = entries[i].link;
    m_pictureAddress = entries[i].picture;
    if (!IsWebAddress(m_pictureAddress)) return end(false);
    // Never through a link planted in the folder, never over a file that
    // another user or another download has there.
    if (!m_tempFile.create(m_cacheDir, kBannerTempName) || !m_tempFile.open(m_temp, QIODevice::ReadWrite)) return end(false);
    m_stage = Stage::Picture;
    get(QUrl(m_pictureAddress), kBannerPictureLimit);
}

void BannerDownload::pictureArrived() {
    // Read back from the file written, whatever its name now leads to.
    if (m_temp.error() != QFileDevice::NoError || !m_temp.flush() || !m_temp.seek(0)) return end(false);
    const QByteArray picture = m_temp.read(kBannerPictureLimit + 1);
    m_temp.close();
    if (picture.size() != m_received) return end(false);
    // The whole new cache goes to a temporary file renamed over ad.dat, so it
    // is never left without its link block.
    const QByteArray trailer = BannerCacheTrailer(m_link, m_pictureAddress);
    QSaveFile out(m_cacheDir + kBannerCacheName);
    const bool written = out.open(QIODevice::WriteOnly) && out.write(picture) == picture.size() &&
                         out.write(trailer) == trailer.size() && CommitSaveFile(out);
    end(written);
}

// From inside the reply's own signals: nothing more is taken from it, and it
// is aborted once Qt has finished handling the signal.
void BannerDownload::failSoon() {
    if (m_reply) m_reply->disconnect(this);
    QMetaObject::invokeMethod(this, [this] { end(false); }, Qt::QueuedConnection);
}

void BannerDownload::end(bool cached) {
    if (m_stage == Stage::Done) return;
    m_deadline.stop();
    dropReply();
    if (m_temp.isOpen()) m_temp.close();
    m_tempFile.remove();
    m_stage = Stage::Done;
    emit finished(cached);
}

void BannerDownload::dropReply() {
    if (!m_reply) return;
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    if (reply->isRunning()) reply->abort();
    reply->deleteLater();
}

}  // namespace rimbal
