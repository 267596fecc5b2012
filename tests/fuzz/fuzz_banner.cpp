// What the banner reads: the list a server sends (ParseBannerList, the web
// address rule, the cache written for an entry and read back) and the
// ad.dat cache of an earlier run (ReadBannerCache), both from the same bytes.
#include "fuzzsupport.h"

#include "banner/banner.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);
    const QString cache = fuzz::App() + rimbal::kBannerCacheName;

    const QList<rimbal::BannerEntry> entries = rimbal::ParseBannerList(bytes);
    for (const rimbal::BannerEntry& e : entries) {
        if (rimbal::IsWebAddress(e.picture)) rimbal::BannerListUrl(e.picture);
        rimbal::IsWebAddress(e.link);
        // The cache as a download writes it reads back with the entry's link.
        const QByteArray trailer = rimbal::BannerCacheTrailer(e.link, e.picture);
        fuzz::Check(trailer.size() == rimbal::kBannerTrailer, "a cache trailer of another size", e.link);
        fuzz::WriteFile(cache, QByteArrayLiteral("GIF89a") + trailer);
        const auto read = rimbal::ReadBannerCache(cache);
        QString link = e.link.left(rimbal::kBannerLinkMax);
        link.truncate(link.indexOf(QChar(0)) < 0 ? link.size() : link.indexOf(QChar(0)));
        fuzz::Check(read && read->link == link && read->type == rimbal::BannerTypeOf(e.picture) &&
                        read->picture == "GIF89a",
                    "a cache written for an entry reads back otherwise", e.link);
    }

    fuzz::WriteFile(cache, bytes);
    const auto read = rimbal::ReadBannerCache(cache);
    fuzz::Check(read.has_value() == (bytes.size() >= rimbal::kBannerTrailer), "a cache of this size read otherwise");
    if (read) {
        fuzz::Check(read->link.size() <= rimbal::kBannerLinkBlock && !read->link.contains(QChar(0)),
                    "a cached link beyond its block");
        fuzz::Check(read->type.size() == rimbal::kBannerTypeSize, "a cached type of another size");
        fuzz::Check(read->picture == bytes.left(bytes.size() - rimbal::kBannerTrailer), "the cached picture read otherwise");
        rimbal::IsWebAddress(read->link);
    }
    return 0;
}
