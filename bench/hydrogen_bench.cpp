// Hydrogen kit import, the parts that exist so far, on GMRockKit from
// hydrogen-data (about 11 MB of samples): unpacking its .h2drumkit, reading
// and laying out drumkit.xml, and decoding the chosen samples.
#include "hydrogen.h"
#include "kitarchive.h"

#include "rbcore.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const QString kGMRockKit = QStringLiteral("/usr/share/hydrogen/data/drumkits/GMRockKit");

void BM_UnpackGMRockKitArchive(benchmark::State& state) {
    QTemporaryDir dir;
    const QString archive = dir.path() + QStringLiteral("/GMRockKit.h2drumkit"), stage = dir.path() + QStringLiteral("/.stage");
    QProcess tar;
    tar.start(QStringLiteral("tar"), {QStringLiteral("-czf"), archive, QStringLiteral("-C"), QFileInfo(kGMRockKit).absolutePath(), QStringLiteral("GMRockKit")});
    if (!tar.waitForFinished(60000) || tar.exitCode() != 0) {
        state.SkipWithError("GMRockKit missing (scripts/deps.sh installs hydrogen-data)");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        QDir(stage).removeRecursively();
        QDir().mkpath(stage);
        state.ResumeTiming();
        if (!rimbal::ExtractKitArchive(archive, stage)) state.SkipWithError("unpacking failed");
    }
}
BENCHMARK(BM_UnpackGMRockKitArchive)->Unit(benchmark::kMillisecond);

void BM_ReadAndLayOutGMRockKit(benchmark::State& state) {
    for (auto _ : state) {
        rimbal::HydrogenKit kit;
        if (!rimbal::ReadHydrogenKit(kGMRockKit, kit)) state.SkipWithError("GMRockKit missing");
        const rimbal::KitPlan plan = rimbal::PlanHydrogenKit(kit);
        benchmark::DoNotOptimize(plan.keys.size());
    }
}
BENCHMARK(BM_ReadAndLayOutGMRockKit)->Unit(benchmark::kMillisecond);

// The check that every chosen sample decodes, as the import makes before it
// writes the package.
void BM_DecodeGMRockKitSamples(benchmark::State& state) {
    rimbal::HydrogenKit kit;
    if (!rimbal::ReadHydrogenKit(kGMRockKit, kit)) {
        state.SkipWithError("GMRockKit missing");
        return;
    }
    const rimbal::KitPlan plan = rimbal::PlanHydrogenKit(kit);
    rb::System sys{};
    rb::System_Create(&sys);
    rb::System_SetOutput(sys, rb::OUTPUTTYPE_NULL);
    rb::System_Init(sys, 64, rb::INIT_NORMAL, nullptr);
    for (auto _ : state) {
        for (const rimbal::KitSample& s : plan.samples) {
            rb::Sound snd{};
            if (rb::System_CreateSound(sys, QFile::encodeName(s.source).constData(), rb::MODE_SOFTWARE, nullptr, &snd) != rb::OK)
                state.SkipWithError("a sample does not decode");
            rb::Sound_Release(snd);
        }
    }
    state.counters["samples"] = static_cast<double>(plan.samples.size());
    rb::System_Release(sys);
}
BENCHMARK(BM_DecodeGMRockKitSamples)->Unit(benchmark::kMillisecond);

}  // namespace
