// The banner's costs on the window thread: reading the cache when the window
// is shown, reading a full list, and one event-loop turn while a 2 MiB picture
// streams in from a local server.
#include "banner/banner.h"
#include "localhttp.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace {

void BM_ReadBannerCache(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/ad.dat";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray(rimbal::kBannerPictureLimit, 'p') + rimbal::BannerCacheTrailer("https://x.example/", "a.jpg"));
    f.close();
    for (auto _ : state) benchmark::DoNotOptimize(rimbal::ReadBannerCache(path));
}
BENCHMARK(BM_ReadBannerCache)->Unit(benchmark::kMicrosecond);

void BM_ParseBannerList(benchmark::State& state) {
    QByteArray list;
    while (list.size() < rimbal::kBannerListLimit - 100)
        list += "http://banners.example/pic" + QByteArray::number(list.size()) + ".jpg\xfdhttps://loja.example/p\r\n";
    for (auto _ : state) benchmark::DoNotOptimize(rimbal::ParseBannerList(list));
    state.counters["lines"] = static_cast<double>(rimbal::ParseBannerList(list).size());
}
BENCHMARK(BM_ParseBannerList)->Unit(benchmark::kMicrosecond);

void BM_EventTurnDuringPictureDownload(benchmark::State& state) {
    QTemporaryDir dir;
    const QString cacheDir = dir.path() + u'/';
    LocalHttp http;
    http.answer(rimbal::kBannerListPath, http.url("/big.jpg").toLatin1() + "\xfdhttps://x.example/\r\n");
    http.route("/big.jpg", {200, QByteArray(rimbal::kBannerPictureLimit, 'b'), LocalHttp::Mode::NoLength});
    std::unique_ptr<rimbal::BannerDownload> d;
    int downloads = 0;
    qint64 longest = 0;
    for (auto _ : state) {
        if (!d || !d->isRunning()) {
            state.PauseTiming();
            d = std::make_unique<rimbal::BannerDownload>(cacheDir);
            d->start(rimbal::BannerListUrl(http.site()));
            ++downloads;
            state.ResumeTiming();
        }
        QElapsedTimer turn;
        turn.start();
        QCoreApplication::processEvents();
        longest = std::max(longest, turn.nsecsElapsed());
    }
    state.counters["downloads"] = downloads;
    state.counters["longest_turn_us"] = static_cast<double>(longest) / 1000.0;
}
BENCHMARK(BM_EventTurnDuringPictureDownload)->Unit(benchmark::kMicrosecond);

}  // namespace
