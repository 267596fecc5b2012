// Hydrogen kit import on GMRockKit from hydrogen-data (about 11 MB of
// samples): unpacking its .h2drumkit, reading and laying out drumkit.xml,
// decoding the chosen samples, and the whole import from the folder and from
// the archive, sounds created. "max_gap_ms" is the longest stretch without a
// progress report, in which the windows could not repaint. Last, hostile
// kits: an internal entity used many times, rich text of many unclosed
// "<head" tags, and a million empty instruments.
#include "packages/hydrogen.h"
#include "archives/kitarchive.h"
#include "packages/packages.h"
#include "scriptedprompt.h"
#include "settings/settings.h"
#include "kit/soundcore.h"

#include "rbcore.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

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

// The whole import as the menu item runs it, on a program whose engine runs
// on the null output: the package is deleted again between runs. Argument 0
// imports the folder, 1 a .h2drumkit made of it.
void BM_ImportGMRockKit(benchmark::State& state) {
    QTemporaryDir dir;
    const QString archive = dir.path() + QStringLiteral("/GMRockKit.h2drumkit");
    QProcess tar;
    tar.start(QStringLiteral("tar"), {QStringLiteral("-czf"), archive, QStringLiteral("-C"), QFileInfo(kGMRockKit).absolutePath(), QStringLiteral("GMRockKit")});
    if (!tar.waitForFinished(60000) || tar.exitCode() != 0) {
        state.SkipWithError("GMRockKit missing (scripts/deps.sh installs hydrogen-data)");
        return;
    }
    rimbal::Settings settings(dir.path() + u'/');
    settings.LoadConfiguration();
    ScriptedPrompt prompt;
    RecordingLog log;
    rimbal::SoundCore core(settings, prompt, log);
    rb::System_Create(&core.SoundSystem);
    rb::System_SetOutput(core.SoundSystem, rb::OUTPUTTYPE_NULL);
    core.CreateSounds(false);
    QElapsedTimer clock;
    qint64 last = 0, maxGap = 0;
    rimbal::Packages packages(core, prompt, log, [&](const QString&, double) {
        QCoreApplication::processEvents();
        maxGap = std::max(maxGap, clock.nsecsElapsed() - last);
        last = clock.nsecsElapsed();
    });
    const QString source = state.range(0) == 0 ? kGMRockKit : archive;
    for (auto _ : state) {
        clock.start();
        last = 0;
        const rimbal::KitImport done = packages.ImportHydrogenKit(source);
        maxGap = std::max(maxGap, clock.nsecsElapsed() - last);
        if (done.result != rimbal::KitImport::Imported || core.KeyCount != 23) state.SkipWithError("import failed");
        state.PauseTiming();
        packages.DeletePackage(QStringLiteral("GMRockKit"));
        state.ResumeTiming();
    }
    state.counters["max_gap_ms"] = static_cast<double>(maxGap) / 1e6;
    core.ReleaseSounds(true);
    rb::System_Release(core.SoundSystem);
}
BENCHMARK(BM_ImportGMRockKit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

bool writeXml(const QString& path, const QByteArray& xml) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(xml) == xml.size();
}

// A 4000-character entity used the argument's number of times in <name>
// (100 000 uses: a file of about 300 KB). "name_chars" is what was read.
void BM_ReadEntityBomb(benchmark::State& state) {
    QTemporaryDir dir;
    QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE drumkit_info [<!ENTITY e \"" + QByteArray(4000, 'x') +
                     "\">]><drumkit_info><name>";
    for (int64_t i = 0; i < state.range(0); ++i) xml += "&e;";
    xml += "</name><instrumentList/></drumkit_info>";
    if (!writeXml(dir.path() + QStringLiteral("/drumkit.xml"), xml)) state.SkipWithError("not written");
    qsizetype chars = 0;
    bool read = false;
    for (auto _ : state) {
        rimbal::HydrogenKit kit;
        read = rimbal::ReadHydrogenKit(dir.path(), kit);
        chars = kit.name.size();
    }
    state.counters["file_bytes"] = static_cast<double>(xml.size());
    state.counters["read"] = read ? 1 : 0;
    state.counters["name_chars"] = static_cast<double>(chars);
}
BENCHMARK(BM_ReadEntityBomb)->Arg(100'000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The kit's <info> as plain text when it is the argument's number of bytes
// of "<head" (in the file: "&lt;head"), a tag that is never closed.
void BM_PlainTextOfUnclosedHeads(benchmark::State& state) {
    const QString info = QStringLiteral("<head").repeated(state.range(0) / 5);
    for (auto _ : state) benchmark::DoNotOptimize(rimbal::PlainTextLine(info).size());
}
BENCHMARK(BM_PlainTextOfUnclosedHeads)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20)->Iterations(1)->Unit(benchmark::kMillisecond);

// A drumkit.xml of the argument's number of empty <instrument/> elements
// (1.2 million fit in the 16 MB a kit file may have), read and laid out.
// "not_imported" is the length of the list the log window would get.
void BM_ReadManyEmptyInstruments(benchmark::State& state) {
    QTemporaryDir dir;
    QByteArray xml = "<drumkit_info><name>Muitos</name><instrumentList>";
    for (int64_t i = 0; i < state.range(0); ++i) xml += "<instrument/>";
    xml += "</instrumentList></drumkit_info>";
    if (!writeXml(dir.path() + QStringLiteral("/drumkit.xml"), xml)) state.SkipWithError("not written");
    qsizetype notImported = 0;
    bool read = false;
    for (auto _ : state) {
        rimbal::HydrogenKit kit;
        read = rimbal::ReadHydrogenKit(dir.path(), kit);
        notImported = read ? rimbal::PlanHydrogenKit(kit).notPlaced.size() : 0;
    }
    state.counters["file_bytes"] = static_cast<double>(xml.size());
    state.counters["read"] = read ? 1 : 0;
    state.counters["not_imported"] = static_cast<double>(notImported);
}
BENCHMARK(BM_ReadManyEmptyInstruments)->Arg(1'200'000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
