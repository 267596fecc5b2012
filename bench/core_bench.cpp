// Sound core speed: a key press on a full table, building a package's sounds,
// recording a key into a sequence, rendering a sequence to WAV, and the audio
// recorder's copy of one second from the ring into its file.
#include "recording/recorder.h"
#include "scriptedprompt.h"
#include "sequences/sequence.h"
#include "sequences/sequencerender.h"
#include "settings/settings.h"
#include "kit/soundcore.h"
#include "base/textfiles.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numbers>
#include <vector>

// Allocations made while counting is on, to show that a key press makes none.
static std::atomic<bool> gCounting{false};
static std::atomic<std::uint64_t> gAllocations{0};
void* operator new(std::size_t size) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {


void writeWav(const QString& path, int rate, int channels, double seconds) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    const auto frames = static_cast<sf_count_t>(rate * seconds);
    std::vector<float> buf(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < buf.size(); ++i)
        buf[i] = 0.3f * static_cast<float>(std::sin(2 * std::numbers::pi * 200.0 * static_cast<double>(i / channels) / rate));
    sf_writef_float(f, buf.data(), frames);
    sf_close(f);
}

// A package of 64 one-second 44.1 kHz WAV files; with layers, every key has
// the 32 layers a key may hold: two velocity tiers of 16 alternatives, each
// one of the package's files, placed off centre.
struct Package {
    QTemporaryDir dir;
    rimbal::Settings settings;
    ScriptedPrompt prompt;
    RecordingLog log;
    rimbal::SoundCore core{settings, prompt, log};
    explicit Package(bool layers = false) : settings(dir.path() + u'/') {
        settings.LoadConfiguration();
        settings.PackName = QStringLiteral("Bench");
        QDir().mkpath(core.PackageFolder());
        QStringList layerLines;
        for (int i = 0; i < 64; ++i) {
            const QString name = QStringLiteral("s%1.wav").arg(i);
            writeWav(core.PackageFolder() + name, 44100, 1, 1.0);
            core.KeyLines.append(QStringLiteral("%1*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*%2").arg(0x200 + i).arg(name));
            for (int j = 0; j < rimbal::kMaxLayers && layers; ++j)
                layerLines << QStringLiteral("%1*%2*%3*1*0.3*s%4.wav").arg(0x200 + i).arg(j < 16 ? "0" : "0.5", j < 16 ? "0.5" : "1").arg((i + j) % 64);
        }
        if (layers) rimbal::WriteTextLines(core.LayersFile(), layerLines);
        rb::System_Create(&core.SoundSystem);
        rb::System_SetOutput(core.SoundSystem, rb::OUTPUTTYPE_NULL);
    }
    ~Package() { rb::System_Release(core.SoundSystem); }
};

void BM_CreateSounds64(benchmark::State& state) {
    Package p;
    for (auto _ : state) {
        p.core.CreateSounds(false);
        state.PauseTiming();
        if (p.core.KeyCount != 64) state.SkipWithError("keys missing");
        p.core.ReleaseSounds(false);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CreateSounds64)->Unit(benchmark::kMillisecond);

// Full table, every key with fifteen plays of which half still sound; each
// press looks at the whole table before finding its key. Argument 1 plays
// with a velocity factor, as a MIDI note does; 2 plays a key with 32 layers
// at a MIDI velocity (the layer chosen by velocity and round robin, and
// placed); 3 with the moment of its key event as well (a timed play).
// allocations counts what the presses allocate.
void BM_PlayKeyFullTable(benchmark::State& state) {
    Package p(state.range(0) == 2);
    p.core.CreateSounds(false);
    if (state.range(0) == 2 && p.core.KeySounds[63].layers.count != rimbal::kMaxLayers) state.SkipWithError("layers missing");
    for (int k = 0; k < 64; ++k)
        for (int s = 0; s < 15; ++s) p.core.PlayKey(static_cast<std::uint16_t>(0x200 + k));
    // Stop every other slot so half are free and half play.
    for (auto& r : p.core.KeySounds)
        for (int s = 0; s < 15; s += 2) rb::Channel_Stop(r.channels[static_cast<std::size_t>(s)]);
    const auto last = static_cast<std::uint16_t>(0x200 + 63);
    int n = 0;
    std::vector<float> none(2);
    const std::uint64_t allocated = gAllocations.load();
    gCounting = true;
    for (auto _ : state) {
        if (state.range(0) == 2) {
            p.core.PlayKey(last, 0.5f, 0.7f);
        } else if (state.range(0) == 3) {
            const auto moment = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch()).count();
            p.core.PlayKey(last, 1.0f, -1.0f, moment);
        } else if (state.range(0)) {
            p.core.PlayKey(last, 0.5f);
        } else {
            p.core.PlayKey(last);
        }
        // Free the slot again so every press does the same work, and let
        // the audio side take the requests in as a device would.
        state.PauseTiming();
        gCounting = false;
        for (int s = 0; s < 15; s += 2) rb::Channel_Stop(p.core.KeySounds[63].channels[static_cast<std::size_t>(s)]);
        rb::System_RenderNull(p.core.SoundSystem, none.data(), 0);
        ++n;
        gCounting = true;
        state.ResumeTiming();
    }
    gCounting = false;
    state.counters["plays"] = n;
    state.counters["allocations"] = static_cast<double>(gAllocations.load() - allocated);
    state.counters["error_boxes"] = static_cast<double>(p.prompt.asked.size());
    p.core.ReleaseSounds(false);
}
BENCHMARK(BM_PlayKeyFullTable)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);

// The choice of the layer alone, on a key with 32 layers: 16 alternatives
// at each velocity, a velocity that moves on with every hit.
void BM_ChooseLayer(benchmark::State& state) {
    rimbal::KeyLayers key;
    for (int i = 0; i < rimbal::kMaxLayers; ++i)
        key.layer[static_cast<std::size_t>(i)] = {static_cast<rb::Sound>(i + 1), i < 16 ? 0.0f : 0.5f, i < 16 ? 0.5f : 1.0f, 1.0f, 0.0f};
    key.count = rimbal::kMaxLayers;
    rimbal::LayerRandom random(1);
    float velocity = 0;
    for (auto _ : state) {
        velocity = velocity >= 1.0f ? 0.0f : velocity + 0.0137f;
        key.last = rimbal::ChooseLayer(key, velocity, random);
        benchmark::DoNotOptimize(key.last);
    }
}
BENCHMARK(BM_ChooseLayer);

// "Salvar" on the last key of a full package: the name check, the line and
// the rewrite of Keys.txt through a temporary file, the sound kept.
void BM_SaveEditedKeyFullTable(benchmark::State& state) {
    Package p;
    p.core.CreateSounds(false);
    rimbal::TAG_SOUND_DATA edit = p.core.KeySounds[63];
    int n = 0;
    for (auto _ : state) {
        edit.volume = (n++ % 2) ? 0.5f : 0.75f;
        if (!p.core.AddKeySound(edit, true, 63)) state.SkipWithError("not stored");
    }
    p.core.ReleaseSounds(false);
}
BENCHMARK(BM_SaveEditedKeyFullTable)->Unit(benchmark::kMicrosecond);

// The recording step of a key press (the last key of a full table, so the
// whole table is scanned): interval, check, append. No file access.
void BM_RecordKey(benchmark::State& state) {
    Package p;
    p.core.CreateSounds(false);
    rimbal::Sequence seq(p.core, p.prompt);
    seq.StartRecording();
    const auto last = static_cast<std::uint16_t>(0x200 + 63);
    for (auto _ : state) {
        seq.RecordKey(last);
        if (seq.SequenceText.size() > 64 * 1024 * 1024) {
            state.PauseTiming();
            seq.Clear();
            seq.StartRecording();
            state.ResumeTiming();
        }
    }
    if (!p.prompt.asked.isEmpty()) state.SkipWithError("a prompt was raised");
    p.core.ReleaseSounds(false);
}
BENCHMARK(BM_RecordKey);

// A 60-second sequence of a 64-key package at 10 keys per second, rendered
// to a WAV file on the null output.
void BM_RenderSequence60s(benchmark::State& state) {
    Package p;
    p.settings.ID_Output_Rate_Freq = 0;  // 48 kHz
    p.core.CreateSounds(false);
    QString text;
    for (int i = 0; i < 600; ++i) text += QStringLiteral("%1*100*").arg(0x200 + i % 64);
    const QString out = p.dir.filePath(QStringLiteral("out.wav"));
    double audioSeconds = 0;
    for (auto _ : state) {
        rimbal::RenderResult r;
        QString error;
        if (!rimbal::RenderSequence(p.core, text, out, r, error)) state.SkipWithError(error.toUtf8().constData());
        audioSeconds += static_cast<double>(r.frames) / r.rate;
    }
    state.counters["audio_s"] = audioSeconds / static_cast<double>(state.iterations());
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    p.core.ReleaseSounds(false);
}
BENCHMARK(BM_RenderSequence60s)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// One tick of the recording timer after a second of 48 kHz stereo was
// recorded: two blocks straight from the ring to Temp.$$$ (wall time, the
// write to the page cache included). A new take every 100 ticks keeps the file small.
void BM_RecordTickOneSecond(benchmark::State& state) {
    QTemporaryDir dir;
    rimbal::Settings settings(dir.path() + u'/');
    settings.LoadConfiguration();
    ScriptedPrompt prompt;
    RecordingLog log;
    rimbal::SoundCore core(settings, prompt, log);
    rb::System_Create(&core.SoundSystem);
    rb::System_SetOutput(core.SoundSystem, rb::OUTPUTTYPE_NULL);
    core.CreateSounds(true);
    {
        rimbal::Recorder recorder(core, prompt);
        // A first 0.3 s puts every other copy across the end of the two-second ring.
        constexpr std::uint32_t kSecond = 48000;
        std::vector<std::int16_t> second(2 * kSecond);
        for (std::size_t i = 0; i < second.size(); ++i) second[i] = static_cast<std::int16_t>(i * 7);
        std::uint64_t ticks = 0, bytes = 0;
        recorder.Start();
        rb::System_FeedNullRecord(core.SoundSystem, second.data(), kSecond * 3 / 10);
        recorder.Tick();
        for (auto _ : state) {
            state.PauseTiming();
            if (++ticks % 100 == 0) {
                recorder.Stop();
                recorder.Clear();
                recorder.Start();
            }
            rb::System_FeedNullRecord(core.SoundSystem, second.data(), kSecond);
            const std::uint64_t before = recorder.DataBytes();
            state.ResumeTiming();
            recorder.Tick();
            bytes += recorder.DataBytes() - before;
        }
        recorder.Stop();
        state.counters["bytes_per_tick"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
        if (!prompt.asked.isEmpty()) state.SkipWithError(prompt.asked.last().text.toUtf8().constData());
    }
    core.ReleaseSounds(true);
    rb::System_Release(core.SoundSystem);
}
BENCHMARK(BM_RecordTickOneSecond)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
