// Engine speed: play latency, mixing throughput, loading, device buffer.
#include "rbcore.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace {

std::filesystem::path scratch() {
    static const auto dir = [] {
        auto d = std::filesystem::temp_directory_path() / "rb-bench";
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

std::string writeWav(const std::string& name, int rate, int channels, double seconds, double hz) {
    const auto path = scratch() / name;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    const auto frames = static_cast<sf_count_t>(rate * seconds);
    std::vector<float> buf(static_cast<std::size_t>(frames * channels));
    for (sf_count_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            buf[static_cast<std::size_t>(i * channels + c)] =
                0.3f * static_cast<float>(std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    sf_writef_float(f, buf.data(), frames);
    sf_close(f);
    return path.string();
}

rb::System nullEngine() {
    rb::System sys{};
    rb::System_Create(&sys);
    rb::System_SetOutput(sys, rb::OUTPUTTYPE_NULL);
    rb::System_SetSoftwareFormat(sys, 48000, rb::SOUND_FORMAT_PCM16, 0, 0, rb::DSP_RESAMPLER_LINEAR);
    rb::System_Init(sys, 64, 0, nullptr);
    return sys;
}

// Frames from the play call to the first sample of the sound on the output.
void BM_PlayToFirstSample(benchmark::State& state) {
    rb::System sys = nullEngine();
    rb::Sound s{};
    rb::System_CreateSound(sys, writeWav("dc.wav", 48000, 1, 0.5, 0).c_str(), rb::LOOP_OFF, nullptr, &s);
    // A 0 Hz sine is all zeros; use a square-ish click instead.
    rb::System_Release(sys);
    sys = nullEngine();
    rb::System_CreateSound(sys, writeWav("click.wav", 48000, 1, 0.5, 1000).c_str(), rb::LOOP_OFF, nullptr, &s);
    std::vector<float> out(2 * 256);
    double firstFrames = 0;
    for (auto _ : state) {
        rb::Channel c{};
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, true, &c);
        rb::Channel_SetVolume(c, 1.0f);
        rb::Channel_SetPaused(c, false);
        rb::System_RenderNull(sys, out.data(), 256);
        // The sine starts at 0; its second sample is the first non-zero one.
        std::size_t first = 0;
        while (first < 256 && out[2 * first] == 0.0f) ++first;
        firstFrames += static_cast<double>(first) - 1.0;
        rb::Channel_Stop(c);
    }
    state.counters["frames_to_first_sample"] = firstFrames / static_cast<double>(state.iterations());
    rb::System_Release(sys);
}
BENCHMARK(BM_PlayToFirstSample);

// The control-thread cost of starting a play the way the program does.
void BM_PlayCalls(benchmark::State& state) {
    rb::System sys = nullEngine();
    rb::Sound s{};
    rb::System_CreateSound(sys, writeWav("hit.wav", 48000, 1, 0.5, 200).c_str(), rb::LOOP_OFF, nullptr, &s);
    rb::ChannelGroup g{};
    rb::System_CreateChannelGroup(sys, "Group0", &g);
    for (auto _ : state) {
        rb::Channel c{};
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, true, &c);
        rb::Channel_SetVolume(c, 0.8f);
        rb::Channel_SetChannelGroup(c, g);
        rb::Channel_SetPaused(c, false);
        bool playing = false;
        rb::Channel_IsPlaying(c, &playing);
        benchmark::DoNotOptimize(playing);
        rb::Channel_Stop(c);
    }
    rb::System_Release(sys);
}
BENCHMARK(BM_PlayCalls);

// 64 channels, optionally 16 groups with two effects each and two master effects.
void mix(benchmark::State& state, bool effects) {
    rb::System sys = nullEngine();
    std::vector<rb::Sound> sounds;
    for (int i = 0; i < 8; ++i) {
        rb::Sound s{};
        rb::System_CreateSound(sys, writeWav("loop" + std::to_string(i) + ".wav", 48000, 2, 1.0, 100 + 50 * i).c_str(),
                               rb::LOOP_NORMAL, nullptr, &s);
        sounds.push_back(s);
    }
    std::vector<rb::ChannelGroup> groups(16);
    if (effects) {
        for (int g = 0; g < 16; ++g) {
            rb::System_CreateChannelGroup(sys, ("Group" + std::to_string(g)).c_str(), &groups[static_cast<std::size_t>(g)]);
            for (int k = 0; k < 2; ++k) {
                rb::Dsp d{};
                rb::System_CreateDSPByIndex(sys, 1 + (2 * g + k) % 15, &d);
                rb::ChannelGroup_AddDSP(groups[static_cast<std::size_t>(g)], d);
            }
        }
        for (int plugin : {13, 10}) {
            rb::Dsp d{};
            rb::System_CreateDSPByIndex(sys, plugin, &d);
            rb::System_AddDSP(sys, d);
        }
    }
    for (int i = 0; i < 64; ++i) {
        rb::Channel c{};
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, sounds[static_cast<std::size_t>(i % 8)], true, &c);
        rb::Channel_SetVolume(c, 0.1f);
        if (effects) rb::Channel_SetChannelGroup(c, groups[static_cast<std::size_t>(i % 16)]);
        rb::Channel_SetPaused(c, false);
    }
    int playing = 0;
    rb::System_GetChannelsPlaying(sys, &playing);
    constexpr unsigned frames = 4800;  // 100 ms per iteration
    std::vector<float> out(2 * frames);
    for (auto _ : state) {
        rb::System_RenderNull(sys, out.data(), frames);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["channels"] = playing;
    state.counters["audio_s_per_cpu_s"] =
        benchmark::Counter(static_cast<double>(frames) / 48000.0, benchmark::Counter::kIsIterationInvariantRate);
    rb::System_Release(sys);
}
void BM_Mix64Plain(benchmark::State& state) { mix(state, false); }
void BM_Mix64WithEffects(benchmark::State& state) { mix(state, true); }
BENCHMARK(BM_Mix64Plain);
BENCHMARK(BM_Mix64WithEffects);

// One effect unit on a group with one playing channel: cost per unit.
void BM_Effect(benchmark::State& state) {
    rb::System sys = nullEngine();
    rb::Sound s{};
    rb::System_CreateSound(sys, writeWav("fx.wav", 48000, 2, 1.0, 220).c_str(), rb::LOOP_NORMAL, nullptr, &s);
    rb::ChannelGroup g{};
    rb::System_CreateChannelGroup(sys, "fx", &g);
    rb::Dsp d{};
    rb::System_CreateDSPByIndex(sys, static_cast<int>(state.range(0)), &d);
    rb::ChannelGroup_AddDSP(g, d);
    rb::Channel c{};
    rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, false, &c);
    rb::Channel_SetChannelGroup(c, g);
    constexpr unsigned frames = 4800;
    std::vector<float> out(2 * frames);
    for (auto _ : state) rb::System_RenderNull(sys, out.data(), frames);
    state.counters["audio_s_per_cpu_s"] =
        benchmark::Counter(static_cast<double>(frames) / 48000.0, benchmark::Counter::kIsIterationInvariantRate);
    rb::System_Release(sys);
}
BENCHMARK(BM_Effect)->DenseRange(0, 15);

// A 10-second 44.1 kHz stereo WAV decoded and converted to 48 kHz.
void BM_Load10sWav(benchmark::State& state) {
    rb::System sys = nullEngine();
    const std::string file = writeWav("ten.wav", 44100, 2, 10.0, 440);
    for (auto _ : state) {
        rb::Sound s{};
        rb::System_CreateSound(sys, file.c_str(), rb::MODE_SOFTWARE, nullptr, &s);
        rb::Sound_Release(s);
    }
    state.counters["x_realtime"] = benchmark::Counter(10.0, benchmark::Counter::kIsIterationInvariantRate);
    rb::System_Release(sys);
}
BENCHMARK(BM_Load10sWav)->Unit(benchmark::kMillisecond);

// Opening the default PulseAudio device: the buffer the engine asks for and
// what the device grants and reports. Skipped where there is no server.
void BM_PulseOpen(benchmark::State& state) {
    rb::System sys{};
    rb::System_Create(&sys);
    rb::System_SetOutput(sys, rb::OUTPUTTYPE_PULSEAUDIO);
    int n = 0;
    rb::System_GetNumDrivers(sys, &n);
    if (n == 0) {
        state.SkipWithError("no PulseAudio device");
        rb::System_Release(sys);
        return;
    }
    rb::System_SetDSPBufferSize(sys, static_cast<unsigned>(state.range(0)));  // 0: the default
    rb::System_SetSoftwareFormat(sys, 48000, rb::SOUND_FORMAT_PCM16, 0, 0, 1);
    unsigned buffer = 0;
    long latency = 0;
    for (auto _ : state) {
        if (rb::System_Init(sys, 64, 0, nullptr) != rb::OK) {
            state.SkipWithError("init failed");
            break;
        }
        rb::System_GetOutputLatency(sys, &buffer, &latency);
        rb::System_Close(sys);
    }
    state.counters["buffer_frames"] = buffer;
    state.counters["buffer_ms"] = buffer * 1000.0 / 48000.0;
    state.counters["reported_latency_frames"] = static_cast<double>(latency);
    rb::System_Release(sys);
}
BENCHMARK(BM_PulseOpen)->Arg(0)->Arg(256)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
