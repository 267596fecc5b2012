// Hydrogen kit import on GMRockKit from hydrogen-data (about 11 MB of
// samples): unpacking its .h2drumkit, reading and laying out drumkit.xml,
// decoding the chosen samples, and the whole import from the folder and from
// the archive, sounds created; then every kit installed on the machine.
// "max_gap_ms" is the longest stretch without a progress report, in which the
// windows could not repaint. Last, hostile kits: an internal entity used many
// times, rich text of many unclosed "<head" tags, and a million empty
// instruments.
#include "packages/hydrogen.h"
#include "archives/kitarchive.h"
#include "packages/packages.h"
#include "scriptedprompt.h"
#include "settings/settings.h"
#include "kit/soundcore.h"
#include "sequences/sequencerender.h"

#include "rbcore.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

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
QStringList installedKits() {
    const QString root = QStringLiteral("/usr/share/hydrogen/data/drumkits/");
    QStringList kits;
    for (const QString& name : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase))
        if (QFileInfo(root + name + QStringLiteral("/drumkit.xml")).isFile()) kits << root + name;
    return kits;
}

double residentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// Every kit installed here (Debian's hydrogen-drumkits brings fifteen more
// than GMRockKit; ForzeeStereo, 156 MB of samples, is the largest): the whole
// import with its sounds taken into use, timed, then what the kit gives.
// keys and layers: loaded. loudest_dbfs: the loudest single hit of any key,
// each alone at the hardest velocity, before the limiter. full_scale: samples
// at full scale in a 16-bit render that hits every key once, 100 ms apart,
// the limiter on as configured by default. rss_mb: this process with the kit
// in use (run one kit alone for its own figure).
void BM_ImportInstalledKit(benchmark::State& state) {
    const QStringList kits = installedKits();
    if (state.range(0) >= kits.size()) {
        state.SkipWithError("no such kit here (apt-get install hydrogen-drumkits)");
        return;
    }
    const QString source = kits[static_cast<int>(state.range(0))];
    state.SetLabel(QFileInfo(source).fileName().toStdString());
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        rimbal::Settings settings(dir.path() + u'/');
        settings.LoadConfiguration();
        ScriptedPrompt prompt;
        RecordingLog log;
        rimbal::SoundCore core(settings, prompt, log);
        rb::System_Create(&core.SoundSystem);
        rb::System_SetOutput(core.SoundSystem, rb::OUTPUTTYPE_NULL);
        core.CreateSounds(false);
        rimbal::Packages packages(core, prompt, log, [](const QString&, double) { QCoreApplication::processEvents(); });
        state.ResumeTiming();
        const rimbal::KitImport done = packages.ImportHydrogenKit(source);
        state.PauseTiming();
        if (done.result != rimbal::KitImport::Imported) state.SkipWithError("import failed");
        state.counters["rss_mb"] = residentMb();
        int layers = 0;
        for (int i = 0; i < core.ScanCount(); ++i) layers += std::max(1, core.KeySounds[static_cast<std::size_t>(i)].layers.count);
        state.counters["keys"] = core.KeyCount;
        state.counters["layers"] = layers;
        state.counters["not_placed"] = static_cast<double>(done.notImported.size());

        rb::System_SetMasterLimiter(core.SoundSystem, false);
        std::vector<float> out(2 * 4800);
        float loudest = 0;
        QString sequence;
        for (int i = 0; i < core.ScanCount(); ++i) {
            const auto& r = core.KeySounds[static_cast<std::size_t>(i)];
            if (r.sound == rb::Sound{}) continue;
            sequence += QStringLiteral("%1*100*").arg(r.playKey);
            core.PlayKey(r.playKey, 1.0f, 1.0f);
            for (int block = 0; block < 200; ++block) {
                rb::System_RenderNull(core.SoundSystem, out.data(), 4800);
                for (const float v : out) loudest = std::max(loudest, std::abs(v));
                int playing = 0;
                rb::System_GetChannelsPlaying(core.SoundSystem, &playing);
                if (playing == 0) break;
            }
            for (rb::Channel c : r.channels)
                if (c != rb::Channel{}) rb::Channel_Stop(c);
            rb::System_RenderNull(core.SoundSystem, out.data(), 480);
        }
        state.counters["loudest_dbfs"] = loudest > 0 ? 20 * std::log10(loudest) : -999;
        core.ApplyLimiter();
        rimbal::RenderResult rendered;
        QString error;
        const QString wav = dir.path() + QStringLiteral("/all-keys.wav");
        sequence.chop(5);
        int fullScale = -1;
        if (rimbal::RenderSequence(core, sequence, wav, rendered, error)) {
            QFile f(wav);
            f.open(QIODevice::ReadOnly);
            const QByteArray bytes = f.readAll().mid(44);
            const auto* pcm = reinterpret_cast<const std::int16_t*>(bytes.constData());
            fullScale = 0;
            for (qsizetype k = 0; k < bytes.size() / 2; ++k) fullScale += pcm[k] >= 32767 || pcm[k] <= -32767;
        }
        state.counters["full_scale"] = fullScale;
        core.ReleaseSounds(true);
        rb::System_Release(core.SoundSystem);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ImportInstalledKit)->DenseRange(0, 15)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
