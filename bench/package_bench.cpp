// Package speed: exporting a 64-key package of one-second WAV files (about
// 11 MB), importing that archive, and taking the package into use. The
// "max_gap_ms" counter is the longest stretch without a progress report, in
// which the windows could not repaint. Last, a hostile package: a few KB
// whose Keys.txt unpacks to millions of empty lines.
#include "packages/packages.h"
#include "scriptedprompt.h"
#include "settings/settings.h"
#include "kit/soundcore.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

// A drum-like hit: a decaying tone under decaying noise, so deflate has real
// work to do (a pure tone would pack far better than real sounds).
void writeHit(const QString& path, int index) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    std::mt19937 gen(static_cast<unsigned>(index));
    std::normal_distribution<float> noise(0.0f, 0.25f);
    std::vector<float> buf(2 * 44100);
    for (int i = 0; i < 44100; ++i) {
        const float t = static_cast<float>(i) / 44100.0f;
        const float s = 0.5f * std::exp(-6 * t) * std::sin(2 * std::numbers::pi_v<float> * (60.0f + 7.0f * index) * t) +
                        std::exp(-3 * t) * noise(gen);
        buf[2 * static_cast<std::size_t>(i)] = buf[2 * static_cast<std::size_t>(i) + 1] = std::clamp(s, -1.0f, 1.0f);
    }
    sf_writef_float(f, buf.data(), 44100);
    sf_close(f);
}

struct Bench {
    QTemporaryDir dir;
    rimbal::Settings settings;
    ScriptedPrompt prompt;
    RecordingLog log;
    rimbal::SoundCore core{settings, prompt, log};
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 maxGap = 0;

    Bench() : settings(dir.path() + u'/') {
        settings.LoadConfiguration();
        settings.PackName = QStringLiteral("Bench");
        QDir().mkpath(core.PackageFolder());
        for (int i = 0; i < 64; ++i) {
            const QString name = QStringLiteral("hit%1.wav").arg(i);
            writeHit(core.PackageFolder() + name, i);
            core.KeyLines.append(
                QStringLiteral("%1*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*%2").arg(0x200 + i).arg(name));
        }
        core.SaveKeyLines();
        rb::System_Create(&core.SoundSystem);
        rb::System_SetOutput(core.SoundSystem, rb::OUTPUTTYPE_NULL);
        core.CreateSounds(false);
    }
    ~Bench() {
        core.ReleaseSounds(true);
        rb::System_Release(core.SoundSystem);
    }
    rimbal::Packages packages() {
        return rimbal::Packages(core, prompt, log, [this](const QString&, double) {
            QCoreApplication::processEvents();
            const qint64 now = clock.nsecsElapsed();
            maxGap = std::max(maxGap, now - last);
            last = now;
        });
    }
    void startClock() {
        clock.start();
        last = 0;
    }
    void stopClock() { maxGap = std::max(maxGap, clock.nsecsElapsed() - last); }
    qint64 bytes() const {
        qint64 n = 0;
        for (const QFileInfo& fi : QDir(core.PackageFolder()).entryInfoList({QStringLiteral("*.wav")})) n += fi.size();
        return n;
    }
};

void BM_ExportPackage64(benchmark::State& state) {
    Bench b;
    const QString target = b.dir.path() + QStringLiteral("/bench.rbp");
    for (auto _ : state) {
        b.startClock();
        if (!b.packages().ExportPackage(target, {QStringLiteral("Bench"), {}, {}, {}, {}})) state.SkipWithError("export failed");
        b.stopClock();
    }
    state.counters["MB_in"] = static_cast<double>(b.bytes()) / 1e6;
    state.counters["MB_archive"] = static_cast<double>(QFileInfo(target).size()) / 1e6;
    state.counters["max_gap_ms"] = static_cast<double>(b.maxGap) / 1e6;
}
BENCHMARK(BM_ExportPackage64)->Unit(benchmark::kMillisecond)->UseRealTime();

// Import of that archive as a new package, sounds created: the package is
// deleted again between runs.
void BM_ImportPackage64(benchmark::State& state) {
    Bench b;
    const QString archive = b.dir.path() + QStringLiteral("/bench.rbp");
    b.packages().ExportPackage(archive, {QStringLiteral("Importado"), {}, {}, {}, {}});
    for (auto _ : state) {
        b.startClock();
        if (!b.packages().ImportPackage(archive) || b.core.KeyCount != 64) state.SkipWithError("import failed");
        b.stopClock();
        state.PauseTiming();
        b.settings.PackName = QStringLiteral("Bench");
        QDir(b.settings.PackPath + QStringLiteral("Importado")).removeRecursively();
        state.ResumeTiming();
    }
    state.counters["max_gap_ms"] = static_cast<double>(b.maxGap) / 1e6;
}
BENCHMARK(BM_ImportPackage64)->Unit(benchmark::kMillisecond)->UseRealTime();

// "Usar Pacote" on a 64-key package: sounds released, key list read, sounds created.
void BM_UsePackage64(benchmark::State& state) {
    Bench b;
    for (auto _ : state) {
        b.startClock();
        b.packages().UsePackage(QStringLiteral("Bench"));
        b.stopClock();
        if (b.core.KeyCount != 64) state.SkipWithError("keys missing");
    }
    state.counters["max_gap_ms"] = static_cast<double>(b.maxGap) / 1e6;
}
BENCHMARK(BM_UsePackage64)->Unit(benchmark::kMillisecond)->UseRealTime();

// Import of a package whose Keys.txt is the argument's number of empty
// lines: 5 million pack into about 5 KB; 1 MiB of them is as large as a key
// list may be. "log_lines" counts what reached the log window; "imported" is
// 1 when the package was taken into use.
void BM_ImportKeysBomb(benchmark::State& state) {
    Bench b;
    const QString archive = b.dir.path() + QStringLiteral("/bomba.rbp");
    rimbal::ArchiveWriter w(archive);
    w.setPassword(rimbal::kArchivePassword);
    w.addData(QStringLiteral("Info.txt"), "[Info]\r\nName=Bomba");
    w.addData(QStringLiteral("Keys.txt"), QByteArray(state.range(0), '\n'));
    if (!w.write()) state.SkipWithError("archive not written");
    bool imported = false;
    qsizetype logLines = 0;
    for (auto _ : state) {
        b.log.shown.clear();
        imported = b.packages().ImportPackage(archive);
        logLines = 0;
        for (const auto& shown : b.log.shown) logLines += shown.lines.size();
        state.PauseTiming();
        b.settings.PackName = QStringLiteral("Bench");
        QDir(b.settings.PackPath + QStringLiteral("Bomba")).removeRecursively();
        state.ResumeTiming();
    }
    state.counters["archive_bytes"] = static_cast<double>(QFileInfo(archive).size());
    state.counters["imported"] = imported ? 1 : 0;
    state.counters["log_lines"] = static_cast<double>(logLines);
}
BENCHMARK(BM_ImportKeysBomb)->Arg(5'000'000)->Arg(1 << 20)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
