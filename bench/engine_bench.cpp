// Engine speed: play latency through the command queue, mixing throughput,
// idle effect chains, loading, the audio side while a package loads, and the
// device: buffer, idle cost and dropouts under load.
#include "rbcore.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

std::string writeConstant(const std::string& name, double seconds, float value) {
    const auto path = scratch() / name;
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<float> buf(static_cast<std::size_t>(48000 * seconds), value);
    sf_writef_float(f, buf.data(), static_cast<sf_count_t>(buf.size()));
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

double cpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
}

// Frames from the play call to the first sample of the sound, through the
// command queue: a play between two renders starts on the next one's first frame.
void BM_PlayToFirstSample(benchmark::State& state) {
    rb::System sys = nullEngine();
    rb::Sound s{};
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
        rb::System_RenderNull(sys, out.data(), 256);
    }
    state.counters["frames_to_first_sample"] = firstFrames / static_cast<double>(state.iterations());
    rb::System_Release(sys);
}
BENCHMARK(BM_PlayToFirstSample);

// The same with a thread rendering 256-frame buffers in real time, as a
// device does, and plays at random moments: frames from the call to the
// sound's first frame on the output clock.
void BM_PlayToFirstSamplePaced(benchmark::State& state) {
    rb::System sys = nullEngine();
    rb::Sound s{};
    rb::System_CreateSound(sys, writeConstant("dc.wav", 0.05, 0.5f).c_str(), rb::LOOP_OFF, nullptr, &s);
    constexpr unsigned kBuffer = 256;
    const auto period = std::chrono::duration<double>(kBuffer / 48000.0);
    std::atomic<bool> done{false};
    std::atomic<double> heardAt{-1};  // output frame of the first sounding sample
    const Clock::time_point t0 = Clock::now();
    std::thread device([&] {
        std::vector<float> out(2 * kBuffer);
        for (std::uint64_t k = 0; !done.load(); ++k) {
            std::this_thread::sleep_until(t0 + std::chrono::duration_cast<Clock::duration>(period * static_cast<double>(k)));
            rb::System_RenderNull(sys, out.data(), kBuffer);
            for (unsigned i = 0; i < kBuffer; ++i)
                if (out[2 * i] != 0.0f) {
                    if (heardAt.load() < 0) heardAt.store(static_cast<double>(k * kBuffer + i));
                    break;
                }
        }
    });
    double total = 0, worst = 0;
    std::uint64_t n = 0;
    unsigned seed = 7;
    for (auto _ : state) {
        state.PauseTiming();
        seed = seed * 1103515245u + 12345u;
        std::this_thread::sleep_for(std::chrono::microseconds(3000 + seed % 7000));
        heardAt.store(-1);
        state.ResumeTiming();
        const double calledAt = std::chrono::duration<double>(Clock::now() - t0).count() * 48000.0;
        rb::Channel c{};
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, false, &c);
        while (heardAt.load() < 0) std::this_thread::yield();
        const double frames = heardAt.load() - calledAt;
        total += frames;
        worst = std::max(worst, frames);
        ++n;
        rb::Channel_Stop(c);
    }
    done = true;
    device.join();
    state.counters["mean_frames"] = total / static_cast<double>(std::max<std::uint64_t>(n, 1));
    state.counters["worst_frames"] = worst;
    rb::System_Release(sys);
}
BENCHMARK(BM_PlayToFirstSamplePaced)->Iterations(200)->UseRealTime();

// Plays at random moments against a thread rendering buffers at real-time
// pace, its wake-up moments given to the engine as a device's callbacks are:
// the spread of (onset − the play's moment), on the renders' ideal timeline.
// Arguments: the buffer, and 1 for timed plays (0: untimed, each starting
// with the next buffer, as before).
void BM_PlayJitterPaced(benchmark::State& state) {
    const auto buffer = static_cast<unsigned>(state.range(0));
    const bool timed = state.range(1) != 0;
    rb::System sys{};
    rb::System_Create(&sys);
    rb::System_SetOutput(sys, rb::OUTPUTTYPE_NULL);
    rb::System_SetDSPBufferSize(sys, buffer);
    rb::System_SetSoftwareFormat(sys, 48000, rb::SOUND_FORMAT_PCM16, 0, 0, rb::DSP_RESAMPLER_LINEAR);
    rb::System_Init(sys, 64, 0, nullptr);
    rb::Sound s{};
    rb::System_CreateSound(sys, writeConstant("dc.wav", 0.05, 0.5f).c_str(), rb::LOOP_OFF, nullptr, &s);
    const auto ns = [] { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); };
    const double nsPerFrame = 1e9 / 48000.0;
    std::atomic<bool> done{false};
    std::atomic<std::int64_t> heardAt{-1};  // output frame of the first sounding sample
    std::atomic<std::int64_t> renders{0};
    const std::int64_t t0 = ns() + 1'000'000;
    std::thread device([&] {
        std::vector<float> out(2 * buffer);
        for (std::int64_t k = 0; !done.load(); ++k) {
            const auto due = t0 + static_cast<std::int64_t>(static_cast<double>(k * buffer) * nsPerFrame);
            std::this_thread::sleep_until(Clock::time_point(std::chrono::nanoseconds(due)));
            rb::System_RenderNullAt(sys, out.data(), buffer, ns(), false);
            for (unsigned i = 0; i < buffer; ++i)
                if (out[2 * i] != 0.0f) {
                    if (heardAt.load() < 0) heardAt.store(k * buffer + i);
                    break;
                }
            renders.store(k + 1);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the clock settles
    std::vector<double> delays;  // ms
    unsigned seed = 7;
    for (auto _ : state) {
        seed = seed * 1103515245u + 12345u;
        std::this_thread::sleep_for(std::chrono::microseconds(3000 + seed % 7000));
        heardAt.store(-1);
        const std::int64_t moment = ns();
        rb::Channel c{};
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, timed, &c);
        if (timed) {
            rb::Channel_SetStartTime(c, moment);
            rb::Channel_SetPaused(c, false);
        }
        while (heardAt.load() < 0) std::this_thread::yield();
        const double onset = static_cast<double>(t0) + static_cast<double>(heardAt.load()) * nsPerFrame;
        delays.push_back((onset - static_cast<double>(moment)) / 1e6);
        rb::Channel_Stop(c);
        // Until the stop's glide has been rendered, so it is not taken for the next onset.
        const std::int64_t after = renders.load() + 2;
        while (renders.load() < after) std::this_thread::yield();
    }
    done = true;
    device.join();
    rb::OutputStats stats{};
    rb::System_GetOutputStats(sys, &stats, false);
    std::sort(delays.begin(), delays.end());
    const auto at = [&](double q) { return delays[static_cast<std::size_t>(q * static_cast<double>(delays.size() - 1))]; };
    double mean = 0;
    for (double d : delays) mean += d;
    state.counters["mean_ms"] = mean / static_cast<double>(delays.size());
    state.counters["spread_ms"] = delays.back() - delays.front();
    state.counters["p1_p99_ms"] = at(0.99) - at(0.01);
    state.counters["late_plays"] = static_cast<double>(stats.latePlays);
    rb::System_Release(sys);
}
BENCHMARK(BM_PlayJitterPaced)->Args({256, 0})->Args({256, 1})->Args({128, 0})->Args({128, 1})->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

// The control-thread cost of starting a play the way the program does.
void BM_PlayCalls(benchmark::State& state) {
    rb::System sys = nullEngine();
    rb::Sound s{};
    rb::System_CreateSound(sys, writeWav("hit.wav", 48000, 1, 0.5, 200).c_str(), rb::LOOP_OFF, nullptr, &s);
    rb::ChannelGroup g{};
    rb::System_CreateChannelGroup(sys, "Group0", &g);
    std::vector<float> out(2 * 64);
    std::uint64_t n = 0;
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
        // The audio side keeps up, as a device would.
        if (++n % 256 == 0) {
            state.PauseTiming();
            rb::System_RenderNull(sys, out.data(), 64);
            state.ResumeTiming();
        }
    }
    rb::System_Release(sys);
}
BENCHMARK(BM_PlayCalls);

// 16 groups with two effects each and two master effects.
std::vector<rb::ChannelGroup> effectGroups(rb::System sys) {
    std::vector<rb::ChannelGroup> groups(16);
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
    return groups;
}

// 64 looping channels at a volume, optionally through the effect groups.
void startMix(rb::System sys, bool effects, float volume) {
    std::vector<rb::Sound> sounds;
    for (int i = 0; i < 8; ++i) {
        rb::Sound s{};
        rb::System_CreateSound(sys, writeWav("loop" + std::to_string(i) + ".wav", 48000, 2, 1.0, 100 + 50 * i).c_str(),
                               rb::LOOP_NORMAL, nullptr, &s);
        sounds.push_back(s);
    }
    const auto groups = effects ? effectGroups(sys) : std::vector<rb::ChannelGroup>{};
    for (int i = 0; i < 64; ++i) {
        rb::Channel c{};
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, sounds[static_cast<std::size_t>(i % 8)], true, &c);
        rb::Channel_SetVolume(c, volume);
        if (effects) rb::Channel_SetChannelGroup(c, groups[static_cast<std::size_t>(i % 16)]);
        rb::Channel_SetPaused(c, false);
    }
}

// 64 channels, optionally through the effect groups, optionally with the
// metronome clicking at 300 beats per minute.
void mix(benchmark::State& state, bool effects, bool metronome = false) {
    rb::System sys = nullEngine();
    const rb::Metronome clicks{metronome, 300, 4, 0.7f};
    rb::System_SetMetronome(sys, &clicks);
    startMix(sys, effects, 0.1f);
    constexpr unsigned frames = 4800;  // 100 ms per iteration
    std::vector<float> out(2 * frames);
    rb::System_RenderNull(sys, out.data(), frames);
    int playing = 0;
    rb::System_GetChannelsPlaying(sys, &playing);
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
void BM_Mix64WithMetronome(benchmark::State& state) { mix(state, false, true); }
BENCHMARK(BM_Mix64Plain);
BENCHMARK(BM_Mix64WithEffects);
BENCHMARK(BM_Mix64WithMetronome);

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The master limiter's share of the plain 64-channel mix. One engine renders
// in turn with the limiter and without it (switched on, it starts at rest),
// so a busy machine slows both alike; limiter_pct is the extra thread CPU
// time with it. Argument loud: 0, the mix stays below the ceiling (the
// limiter only looks); 1, 64 loops at 0.1 sum to 1.6 times full scale and it
// works on every block.
void BM_Mix64Limiter(benchmark::State& state) {
    rb::System sys = nullEngine();
    startMix(sys, false, state.range(0) ? 0.1f : 0.01f);
    constexpr unsigned frames = 4800;
    std::vector<float> out(2 * frames);
    double without = 0, with = 0;
    float loudest = 0;
    const auto timed = [&](bool limiter) {
        rb::System_SetMasterLimiter(sys, limiter);
        const double t0 = threadCpuSeconds();
        rb::System_RenderNull(sys, out.data(), frames);
        benchmark::DoNotOptimize(out.data());
        const double spent = threadCpuSeconds() - t0;
        if (limiter)
            for (float v : out) loudest = std::max(loudest, std::fabs(v));
        return spent;
    };
    bool plainFirst = true;
    for (auto _ : state) {
        // Each goes first in turn.
        if (plainFirst) without += timed(false);
        with += timed(true);
        if (!plainFirst) without += timed(false);
        plainFirst = !plainFirst;
    }
    state.counters["mix_us"] = 1e6 * without / static_cast<double>(state.iterations());
    state.counters["limiter_pct"] = without > 0 ? 100.0 * (with - without) / without : 0;
    state.counters["limited_peak"] = loudest;
    rb::System_Release(sys);
}
BENCHMARK(BM_Mix64Limiter)->ArgName("loud")->Arg(0)->Arg(1)->MinTime(3);

// The effect groups after one short hit each, then silence: six seconds of
// output per iteration, the tails ringing out and the chains resting after.
void BM_IdleDecayingChains(benchmark::State& state) {
    rb::System sys = nullEngine();
    const auto groups = effectGroups(sys);
    rb::Sound hit{};
    rb::System_CreateSound(sys, writeWav("hit50ms.wav", 48000, 1, 0.05, 180).c_str(), rb::LOOP_OFF, nullptr, &hit);
    constexpr unsigned frames = 4800;
    std::vector<float> out(2 * frames);
    for (auto _ : state) {
        for (const auto& g : groups) {
            rb::Channel c{};
            rb::System_PlaySound(sys, rb::CHANNEL_FREE, hit, true, &c);
            rb::Channel_SetChannelGroup(c, g);
            rb::Channel_SetPaused(c, false);
        }
        for (int k = 0; k < 60; ++k) rb::System_RenderNull(sys, out.data(), frames);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(6.0, benchmark::Counter::kIsIterationInvariantRate);
    rb::System_Release(sys);
}
BENCHMARK(BM_IdleDecayingChains)->Unit(benchmark::kMillisecond);

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

// A 64-key package loads (sound, group and three effect units per key, as
// the program makes them) while 16 loops play through effects, with a thread
// rendering 256-frame buffers in real time: the worst buffer's mixing time.
void BM_WorstBufferDuringPackageLoad(benchmark::State& state) {
    rb::System sys = nullEngine();
    const auto groups = effectGroups(sys);
    rb::Sound loop{};
    rb::System_CreateSound(sys, writeWav("pkgloop.wav", 48000, 2, 1.0, 330).c_str(), rb::LOOP_NORMAL, nullptr, &loop);
    for (int i = 0; i < 16; ++i) {
        rb::Channel c{};
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, loop, true, &c);
        rb::Channel_SetVolume(c, 0.05f);
        rb::Channel_SetChannelGroup(c, groups[static_cast<std::size_t>(i)]);
        rb::Channel_SetPaused(c, false);
    }
    std::vector<std::string> files;
    for (int k = 0; k < 64; ++k)
        files.push_back(writeWav("key" + std::to_string(k) + ".wav", 44100, 2, 0.5, 100 + 10 * k));
    constexpr unsigned kBuffer = 256;
    const auto period = std::chrono::duration<double>(kBuffer / 48000.0);
    std::atomic<bool> done{false};
    std::atomic<double> worstUs{0}, worstCpuUs{0};
    std::thread device([&] {
        std::vector<float> out(2 * kBuffer);
        const Clock::time_point t0 = Clock::now();
        const auto threadCpuUs = [] {
            timespec ts{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
            return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
        };
        for (std::uint64_t k = 0; !done.load(); ++k) {
            std::this_thread::sleep_until(t0 + std::chrono::duration_cast<Clock::duration>(period * static_cast<double>(k)));
            const auto a = Clock::now();
            const double c = threadCpuUs();
            rb::System_RenderNull(sys, out.data(), kBuffer);
            const double cpu = threadCpuUs() - c;
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - a).count();
            if (us > worstUs.load()) worstUs.store(us);
            if (cpu > worstCpuUs.load()) worstCpuUs.store(cpu);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double idleWorst = worstUs.exchange(0);
    worstCpuUs.store(0);
    for (auto _ : state) {
        std::vector<rb::Sound> sounds;
        std::vector<rb::ChannelGroup> keyGroups;
        std::vector<rb::Dsp> units;
        for (int k = 0; k < 64; ++k) {
            rb::Sound s{};
            rb::System_CreateSound(sys, files[static_cast<std::size_t>(k)].c_str(), rb::MODE_SOFTWARE, nullptr, &s);
            sounds.push_back(s);
            rb::ChannelGroup g{};
            rb::System_CreateChannelGroup(sys, ("Key" + std::to_string(k)).c_str(), &g);
            keyGroups.push_back(g);
            for (int plugin : {4, 13, 6}) {  // echo, reverb, chorus: the largest buffers
                rb::Dsp d{};
                rb::System_CreateDSPByIndex(sys, plugin, &d);
                rb::ChannelGroup_AddDSP(g, d);
                units.push_back(d);
            }
        }
        state.PauseTiming();
        for (auto s : sounds) rb::Sound_Release(s);
        for (auto g : keyGroups) rb::ChannelGroup_Release(g);
        for (auto d : units) rb::DSP_Release(d);
        rb::System_Update(sys);
        state.ResumeTiming();
    }
    done = true;
    device.join();
    state.counters["worst_buffer_us"] = worstUs.load();        // wall clock, preemption included
    state.counters["worst_buffer_cpu_us"] = worstCpuUs.load();  // the render's own work
    state.counters["worst_idle_buffer_us"] = idleWorst;
    state.counters["buffer_budget_us"] = kBuffer * 1e6 / 48000.0;
    rb::System_Release(sys);
}
BENCHMARK(BM_WorstBufferDuringPackageLoad)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- the device (PulseAudio); skipped where there is no server ----

bool pulseEngine(rb::System& sys, unsigned buffer, int flags) {
    rb::System_Create(&sys);
    rb::System_SetOutput(sys, rb::OUTPUTTYPE_PULSEAUDIO);
    int n = 0;
    rb::System_GetNumDrivers(sys, &n);
    if (n == 0) return false;
    rb::System_SetDSPBufferSize(sys, buffer);
    rb::System_SetSoftwareFormat(sys, 48000, rb::SOUND_FORMAT_PCM16, 0, 0, 1);
    return rb::System_Init(sys, 64, flags, nullptr) == rb::OK;
}

// Opening the default device: the buffer the engine asks for and what the
// device grants and reports.
void BM_PulseOpen(benchmark::State& state) {
    rb::System sys{};
    if (!pulseEngine(sys, static_cast<unsigned>(state.range(0)), 0)) {
        state.SkipWithError("no PulseAudio device");
        rb::System_Release(sys);
        return;
    }
    rb::System_Close(sys);
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

// The engine running idle on the device for 20 s, the status timer's update
// every 100 ms: share of one core, without (0) and with (1) real-time
// scheduling; second argument the buffer asked for.
void BM_PulseIdleCpu(benchmark::State& state) {
    rb::System sys{};
    if (!pulseEngine(sys, static_cast<unsigned>(state.range(1)), state.range(0) ? rb::INIT_REALTIME : 0)) {
        state.SkipWithError("no PulseAudio device");
        rb::System_Release(sys);
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));  // past the stream's start
    double share = 0;
    for (auto _ : state) {
        const double c0 = cpuSeconds();
        const auto w0 = Clock::now();
        for (int i = 0; i < 200; ++i) {
            rb::System_Update(sys);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        share = (cpuSeconds() - c0) / std::chrono::duration<double>(Clock::now() - w0).count();
    }
    state.counters["cpu_percent_of_a_core"] = 100.0 * share;
    rb::System_Release(sys);
}
BENCHMARK(BM_PulseIdleCpu)->Args({0, 256})->Args({1, 256})->Args({0, 512})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A steady 1 kHz loop on the device while 64 channels with effects play and
// threads keep the cores busy (second argument: how many); the device's
// monitor is recorded and every 10 ms block whose tone falls short counts as
// a dropout. First argument: real-time scheduling; third: the buffer asked
// for (0 the engine's default); fourth: 1 lets the engine grow the buffer on
// underruns, as the program does (0 keeps it, to measure it).
void BM_PulseDropoutsUnderLoad(benchmark::State& state) {
    rb::System sys{};
    const int flags = (state.range(0) ? rb::INIT_REALTIME : 0) | (state.range(3) ? 0 : rb::INIT_FIXED_BUFFER);
    if (!pulseEngine(sys, static_cast<unsigned>(state.range(2)), flags)) {
        state.SkipWithError("no PulseAudio device");
        rb::System_Release(sys);
        return;
    }
    int rec = -1, n = 0;
    rb::System_GetRecordNumDrivers(sys, &n);
    for (int i = 0; i < n && rec < 0; ++i) {
        char name[256] = {};
        rb::System_GetRecordDriverName(sys, i, name, sizeof name);
        if (std::string(name).find("Monitor") != std::string::npos) rec = i;
    }
    if (rec < 0) {
        state.SkipWithError("no monitor source");
        rb::System_Release(sys);
        return;
    }
    rb::System_SetRecordDriver(sys, rec);
    const auto groups = effectGroups(sys);
    rb::Sound tone{}, bed{};
    rb::System_CreateSound(sys, writeWav("steady.wav", 48000, 1, 1.0, 1000).c_str(), rb::LOOP_NORMAL, nullptr, &tone);
    rb::System_CreateSound(sys, writeWav("bed.wav", 48000, 2, 1.0, 90).c_str(), rb::LOOP_NORMAL, nullptr, &bed);
    rb::Channel c{};
    rb::System_PlaySound(sys, rb::CHANNEL_FREE, tone, false, &c);
    for (int i = 0; i < 63; ++i) {
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, bed, true, &c);
        rb::Channel_SetVolume(c, 0.0f);  // mixed, not heard
        rb::Channel_SetChannelGroup(c, groups[static_cast<std::size_t>(i % 16)]);
        rb::Channel_SetPaused(c, false);
    }
    rb::CreateSoundExInfo info{};
    info.cbsize = sizeof info;
    info.numchannels = 1;
    info.defaultfrequency = 48000;
    info.format = rb::SOUND_FORMAT_PCM16;
    info.length = 48000 * 2 * 20;
    rb::Sound ring{};
    rb::System_CreateSound(sys, nullptr, 0x448, &info, &ring);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    double dropouts = 0, blocks = 0;
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        std::vector<std::thread> hogs;
        for (int h = 0; h < state.range(1); ++h)
            hogs.emplace_back([&] {
                volatile double x = 1;
                while (!stop.load(std::memory_order_relaxed)) x = std::sqrt(x + 1.0);
            });
        rb::System_RecordStart(sys, ring, false);
        for (int i = 0; i < 100; ++i) {
            rb::System_Update(sys);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::uint32_t pos = 0;
        rb::System_GetRecordPosition(sys, &pos);
        rb::System_RecordStop(sys);
        stop = true;
        for (auto& t : hogs) t.join();
        void *p1 = nullptr, *p2 = nullptr;
        std::uint32_t n1 = 0, n2 = 0;
        rb::Sound_Lock(ring, 0, pos * 2, &p1, &p2, &n1, &n2);
        const auto* pcm = static_cast<const std::int16_t*>(p1);
        // Skip the first second: the monitor starts behind.
        for (std::uint32_t b = 48000; p1 && b + 480 <= pos; b += 480) {
            double re = 0, im = 0;
            for (std::uint32_t i = 0; i < 480; ++i) {
                const double x = pcm[b + i] / 32768.0, w = 2 * std::numbers::pi * 1000.0 * i / 48000.0;
                re += x * std::cos(w);
                im -= x * std::sin(w);
            }
            blocks += 1;
            if (2.0 * std::sqrt(re * re + im * im) / 480.0 < 0.2) dropouts += 1;
        }
    }
    rb::OutputStats stats{};
    rb::System_GetOutputStats(sys, &stats, false);
    state.counters["blocks_10ms"] = blocks;
    state.counters["dropout_blocks"] = dropouts;
    state.counters["underruns_seen"] = static_cast<double>(stats.underflows);
    unsigned buffer = 0;
    rb::System_GetOutputLatency(sys, &buffer, nullptr);
    state.counters["buffer_at_end"] = buffer;
    rb::System_Release(sys);
}
BENCHMARK(BM_PulseDropoutsUnderLoad)
    ->ArgsProduct({{0}, {0, 1, 2}, {128, 256, 512}, {0}})
    ->Args({1, 1, 0, 0})
    ->Args({1, 2, 0, 0})
    ->Args({0, 1, 128, 1})
    ->Args({0, 2, 128, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The stream's whole latency as the server reports it for our stream: the
// buffer it holds for us and the sink's own, at the buffer asked for.
void BM_PulseStreamLatency(benchmark::State& state) {
    rb::System sys{};
    if (!pulseEngine(sys, static_cast<unsigned>(state.range(0)), 0)) {
        state.SkipWithError("no PulseAudio device");
        rb::System_Release(sys);
        return;
    }
    double buffer = 0, sink = 0;
    std::this_thread::sleep_for(std::chrono::seconds(3));  // past the stream's start
    std::vector<double> sinks;
    for (auto _ : state) {
      for (int sample = 0; sample < 9; ++sample) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        FILE* p = popen("pactl list sink-inputs 2>/dev/null", "r");
        char line[512];
        double b = -1, k = -1;
        bool ours = false;
        while (p && fgets(line, sizeof line, p)) {
            const std::string l(line);
            if (l.rfind("Sink Input #", 0) == 0) {
                if (ours && b >= 0) break;
                b = k = -1;
            }
            if (l.find("Buffer Latency:") != std::string::npos) b = std::stod(l.substr(l.find(':') + 1));
            if (l.find("Sink Latency:") != std::string::npos) k = std::stod(l.substr(l.find(':') + 1));
            if (l.find("application.name = \"Rimbal 2\"") != std::string::npos) ours = true;
        }
        if (p) pclose(p);
        if (!ours || b < 0) {
            state.SkipWithError("pactl does not show the stream");
            break;
        }
        buffer = b / 1000.0;
        sinks.push_back(k / 1000.0);
      }
    }
    std::sort(sinks.begin(), sinks.end());
    if (!sinks.empty()) sink = sinks[sinks.size() / 2];
    unsigned granted = 0;
    long reported = 0;
    rb::System_GetOutputLatency(sys, &granted, &reported);
    unsigned delay = 0;
    rb::System_GetPlayDelay(sys, &delay);
    state.counters["buffer_frames"] = granted;
    state.counters["stream_buffer_ms"] = buffer;
    state.counters["sink_ms"] = sink;
    state.counters["total_ms"] = buffer + sink;
    state.counters["play_delay_ms"] = delay / 48.0;
    rb::System_Release(sys);
}
BENCHMARK(BM_PulseStreamLatency)->Arg(128)->Arg(256)->Arg(512)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A play call to its sound on the sink's monitor, recorded by the engine's
// own input stream: the moment of the call against the moment the monitor's
// input callback brought the first sounding frame in, less the frames after
// it in that callback. The input path's own delay is in every figure alike.
// Arguments: buffer asked for; 1 timed plays (0 untimed, as before); 1 after
// six seconds of silence each (the first hit), 0 at random moments 0.1-0.3 s apart.
void BM_PulsePlayToMonitor(benchmark::State& state) {
    rb::System sys{};
    if (!pulseEngine(sys, static_cast<unsigned>(state.range(0)), 0)) {
        state.SkipWithError("no PulseAudio device");
        rb::System_Release(sys);
        return;
    }
    const bool timed = state.range(1) != 0, afterSilence = state.range(2) != 0;
    int rec = -1, n = 0;
    rb::System_GetRecordNumDrivers(sys, &n);
    for (int i = 0; i < n && rec < 0; ++i) {
        char name[256] = {};
        rb::System_GetRecordDriverName(sys, i, name, sizeof name);
        if (std::string(name).find("Monitor") != std::string::npos) rec = i;
    }
    if (rec < 0) {
        state.SkipWithError("no monitor source");
        rb::System_Release(sys);
        return;
    }
    rb::System_SetRecordDriver(sys, rec);
    rb::Sound s{};
    rb::System_CreateSound(sys, writeConstant("dc.wav", 0.03, 0.5f).c_str(), rb::LOOP_OFF, nullptr, &s);
    rb::CreateSoundExInfo info{};
    info.cbsize = sizeof info;
    info.numchannels = 1;
    info.defaultfrequency = 48000;
    info.format = rb::SOUND_FORMAT_PCM16;
    info.length = 48000 * 2 * 4;
    rb::Sound ring{};
    rb::System_CreateSound(sys, nullptr, 0x448, &info, &ring);
    rb::System_RecordStart(sys, ring, true);
    std::uint64_t recorded = 0;
    for (int i = 0; i < 100 && recorded < 48000; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        rb::System_GetRecordFrames(sys, &recorded);
    }
    const auto ns = [] { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); };
    std::vector<double> delays;
    unsigned seed = 11;
    for (auto _ : state) {
        seed = seed * 1103515245u + 12345u;
        if (afterSilence) {
            for (int i = 0; i < 60; ++i) {
                rb::System_Update(sys);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100000 + seed % 200000));
        std::uint64_t seen = 0;
        rb::System_GetRecordFrames(sys, &seen);
        const std::int64_t moment = ns();
        rb::Channel c{};
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, timed, &c);
        if (timed) {
            rb::Channel_SetStartTime(c, moment);
            rb::Channel_SetPaused(c, false);
        }
        double heard = -1;
        const std::int64_t giveUp = moment + 500'000'000;
        while (heard < 0 && ns() < giveUp) {
            std::uint64_t frames = 0;
            rb::System_GetRecordFrames(sys, &frames);
            if (frames == seen) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                continue;
            }
            const std::int64_t arrived = ns();
            void *p1 = nullptr, *p2 = nullptr;
            std::uint32_t n1 = 0, n2 = 0;
            const auto ringFrames = static_cast<std::uint64_t>(info.length / 2);
            for (std::uint64_t f = seen; f < frames && heard < 0; ++f) {
                rb::Sound_Lock(ring, static_cast<std::uint32_t>((f % ringFrames) * 2), 2, &p1, &p2, &n1, &n2);
                if (p1 && std::abs(*static_cast<const std::int16_t*>(p1)) > 8000)
                    heard = static_cast<double>(arrived) - static_cast<double>(frames - f) * 1e9 / 48000.0;
                rb::Sound_Unlock(ring, p1, p2, n1, n2);
            }
            seen = frames;
        }
        if (heard < 0) {
            state.SkipWithError("the play was not heard");
            break;
        }
        delays.push_back((heard - static_cast<double>(moment)) / 1e6);
        rb::System_Update(sys);
    }
    rb::System_RecordStop(sys);
    rb::OutputStats stats{};
    rb::System_GetOutputStats(sys, &stats, false);
    unsigned buffer = 0;
    rb::System_GetOutputLatency(sys, &buffer, nullptr);
    state.counters["underruns"] = static_cast<double>(stats.underflows);
    state.counters["late_plays"] = static_cast<double>(stats.latePlays);
    state.counters["buffer_at_end"] = buffer;
    if (!delays.empty()) {
        std::sort(delays.begin(), delays.end());
        double mean = 0;
        for (double d : delays) mean += d;
        state.counters["mean_ms"] = mean / static_cast<double>(delays.size());
        state.counters["median_ms"] = delays[delays.size() / 2];
        state.counters["worst_ms"] = delays.back();
        state.counters["spread_ms"] = delays.back() - delays.front();
    }
    rb::System_Release(sys);
}
BENCHMARK(BM_PulsePlayToMonitor)
    ->Args({256, 0, 0})
    ->Args({128, 1, 0})
    ->Args({256, 1, 0})
    ->Iterations(60)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_PulsePlayToMonitor)->Args({256, 0, 1})->Args({256, 1, 1})->Iterations(6)->Unit(benchmark::kSecond)->UseRealTime();

// What recording adds to the audio callback: one 256-frame buffer (5.33 ms at
// 48 kHz) rendered with no recording (0), recording the mix into a 16-bit
// ring (1), and the copy an input device's callback makes into the ring (2,
// fed through the null output's call). budget_pct is the time of one buffer
// as a share of its 5.33 ms; recording's cost is the difference from 0.
void BM_RecordCallbackCost(benchmark::State& state) {
    const int source = static_cast<int>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    rb::System sys = nullEngine();
    rb::CreateSoundExInfo info{};
    info.cbsize = sizeof info;
    info.numchannels = 2;
    info.defaultfrequency = 48000;
    info.format = rb::SOUND_FORMAT_PCM16;
    info.length = 48000 * 8;
    rb::Sound ring{};
    rb::System_CreateSound(sys, nullptr, 0x448, &info, &ring);
    rb::Sound tone{};
    rb::System_CreateSound(sys, writeWav("rec_tone.wav", 48000, 2, 1.0, 440).c_str(), rb::LOOP_NORMAL, nullptr, &tone);
    for (int i = 0; i < channels; ++i) {
        rb::Channel c{};
        rb::System_PlaySound(sys, rb::CHANNEL_FREE, tone, false, &c);
        rb::Channel_SetVolume(c, 0.01f);
    }
    if (source != 0) {
        rb::System_SetRecordSource(sys, source == 1 ? rb::RECORD_SOURCE_MIX : rb::RECORD_SOURCE_DEVICE);
        rb::System_RecordStart(sys, ring, true);
    }
    constexpr unsigned kFrames = 256;
    std::vector<float> out(2 * kFrames);
    std::vector<std::int16_t> in(2 * kFrames, 1000);
    const auto start = Clock::now();
    for (auto _ : state) {
        if (source == 2) rb::System_FeedNullRecord(sys, in.data(), kFrames);
        else rb::System_RenderNull(sys, out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
    }
    std::uint64_t recorded = 0;
    rb::System_GetRecordFrames(sys, &recorded);
    if (source != 0 && recorded == 0) state.SkipWithError("nothing was recorded");
    const double perBuffer = std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(state.iterations());
    state.counters["budget_pct"] = 100.0 * perBuffer / (kFrames / 48000.0);
    rb::System_Release(sys);
}
BENCHMARK(BM_RecordCallbackCost)->Args({0, 0})->Args({1, 0})->Args({2, 0})->Args({0, 64})->Args({1, 64});

}  // namespace

BENCHMARK_MAIN();
