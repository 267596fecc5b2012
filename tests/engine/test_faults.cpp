// Faults that reach the audio side through its edges: a full command queue,
// loops shorter than a step, stale positions and handles, denormals, idle
// effects, clicks, oversized sounds and failed allocations.
#include "fixtures.h"

#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RB_SANITIZED 1
#endif
#endif

using namespace rbtest;

namespace {

class Faults : public NullEngine {
protected:
    void reinit(int rate) {
        ASSERT_EQ(rb::System_Close(sys), rb::OK);
        ASSERT_EQ(rb::System_SetSoftwareFormat(sys, rate, rb::SOUND_FORMAT_PCM16, 0, 0, 1), rb::OK);
        ASSERT_EQ(rb::System_Init(sys, 64, 0, nullptr), rb::OK);
    }
    rb::Sound floatSound(const std::vector<float>& mono, int rate, std::uint32_t mode) {
        const rb::Sound s = userSound(sys, rb::SOUND_FORMAT_PCMFLOAT, 1, rate, static_cast<std::uint32_t>(mono.size()),
                                      rb::MODE_OPENUSER | mode);
        void *p1 = nullptr, *p2 = nullptr;
        std::uint32_t n1 = 0, n2 = 0;
        EXPECT_EQ(rb::Sound_Lock(s, 0, static_cast<std::uint32_t>(mono.size() * 4), &p1, &p2, &n1, &n2), rb::OK);
        std::memcpy(p1, mono.data(), n1);
        return s;
    }
    // A 16-bit mono WAV whose header promises dataBytes, written sparse.
    static void sparseWav(const std::filesystem::path& file, std::uint32_t dataBytes) {
        {
            std::ofstream f(file, std::ios::binary);
            auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
            auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
            f.write("RIFF", 4); u32(dataBytes + 36); f.write("WAVE", 4);
            f.write("fmt ", 4); u32(16); u16(1); u16(1); u32(48000); u32(96000); u16(2); u16(16);
            f.write("data", 4); u32(dataBytes);
        }
        ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(44) + dataBytes), 0);
    }
    // Fills the command queue with volume changes until it refuses one.
    int fillQueue(rb::Channel c) {
        int sent = 0;
        rb::Result r = rb::OK;
        while ((r = rb::Channel_SetVolume(c, 0.5f)) == rb::OK && sent < 100000) ++sent;
        EXPECT_EQ(r, rb::ERR_BUSY);
        return sent;
    }
};

// Nothing renders, so the queue fills: a play is then refused without
// touching the channel it would take, and stops and releases still land.
TEST_F(Faults, AFullQueueLosesNoStopAndFreesNothingInUse) {
    const rb::Sound loop = loadSamples(std::vector<float>(100, 0.25f), kRate, rb::LOOP_NORMAL);
    rb::ChannelGroup g{};
    ASSERT_EQ(rb::System_CreateChannelGroup(sys, "fx", &g), rb::OK);
    rb::Dsp echo{};
    ASSERT_EQ(rb::System_CreateDSPByIndex(sys, 4, &echo), rb::OK);
    ASSERT_EQ(rb::ChannelGroup_AddDSP(g, echo), rb::OK);
    const rb::Sound hit = loadSamples(std::vector<float>(48000, 0.25f), kRate, rb::LOOP_NORMAL);
    rb::Channel inGroup{};
    ASSERT_EQ(rb::System_PlaySound(sys, 5, hit, false, &inGroup), rb::OK);
    ASSERT_EQ(rb::Channel_SetChannelGroup(inGroup, g), rb::OK);
    const rb::Channel a = play(loop);
    render(64);

    EXPECT_GE(fillQueue(a), 1000);
    rb::Channel none{};
    EXPECT_EQ(rb::System_PlaySound(sys, 5, loop, false, &none), rb::ERR_BUSY);
    EXPECT_EQ(none, rb::Channel{});
    EXPECT_TRUE(playing(inGroup)) << "a refused play takes nothing";

    ASSERT_EQ(rb::Channel_Stop(a), rb::OK);
    ASSERT_EQ(rb::DSP_Release(echo), rb::OK);
    ASSERT_EQ(rb::ChannelGroup_Release(g), rb::OK);
    ASSERT_EQ(rb::Sound_Release(hit), rb::OK);
    EXPECT_FALSE(playing(a));
    EXPECT_FALSE(playing(inGroup));
    // The audio side applies the queue, then every stop and release: after
    // the glide out, silence, and no freed unit or sound is touched.
    render(64);
    EXPECT_EQ(peak(render(4800)), 0.0f);
    EXPECT_EQ(rb::Channel_SetVolume(a, 1.0f), rb::ERR_INVALID_HANDLE);
}

// A step larger than a whole loop (a tiny user sound at a high rate on a slow
// mixer) wraps by modulo and stays inside the sound.
TEST_F(Faults, AStepLongerThanTheLoopStaysInsideTheSound) {
    reinit(8000);
    for (const auto& samples : {std::vector<float>{0.25f}, std::vector<float>{0.1f, 0.2f, 0.3f}}) {
        const rb::Sound s = floatSound(samples, 192000, rb::LOOP_NORMAL);  // 24 frames per output frame
        rb::Channel c{};
        ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, false, &c), rb::OK);
        const auto out = render(300);
        for (std::size_t i = 0; i < 300; ++i) ASSERT_FLOAT_EQ(out[2 * i], samples[0]) << i;
        EXPECT_TRUE(playing(c));
        ASSERT_EQ(rb::Channel_Stop(c), rb::OK);
        render(64);
    }
}

TEST_F(Faults, ANewPlaysPositionIsZeroUntilItStarts) {
    const rb::Sound s = loadSamples(std::vector<float>(48000, 0.1f));
    rb::Channel first{};
    ASSERT_EQ(rb::System_PlaySound(sys, 7, s, false, &first), rb::OK);
    render(1000);
    std::uint32_t pos = 0;
    ASSERT_EQ(rb::Channel_GetPosition(first, &pos, rb::TIMEUNIT_PCM), rb::OK);
    EXPECT_EQ(pos, 1000u);
    rb::Channel second{};
    ASSERT_EQ(rb::System_PlaySound(sys, 7, s, false, &second), rb::OK);
    ASSERT_EQ(rb::Channel_GetPosition(second, &pos, rb::TIMEUNIT_PCM), rb::OK);
    EXPECT_EQ(pos, 0u) << "not the position of the play it took";
    render(100);
    ASSERT_EQ(rb::Channel_GetPosition(second, &pos, rb::TIMEUNIT_PCM), rb::OK);
    EXPECT_EQ(pos, 100u);
}

// 2^17 plays on one channel used to bring its first handle back to life.
TEST_F(Faults, ChannelHandlesDoNotComeBackAfterManyPlays) {
    const rb::Sound s = loadSamples(std::vector<float>(10, 0.1f), kRate, rb::LOOP_NORMAL);
    rb::Channel first{};
    ASSERT_EQ(rb::System_PlaySound(sys, 0, s, false, &first), rb::OK);
    rb::Channel c = first;
    for (int i = 0; i < (1 << 17); ++i) {
        ASSERT_EQ(rb::System_PlaySound(sys, 0, s, false, &c), rb::OK);
        if (i % 2048 == 0) render(1);
    }
    EXPECT_NE(c, first);
    EXPECT_TRUE(playing(c));
    bool p = true;
    EXPECT_EQ(rb::Channel_IsPlaying(first, &p), rb::ERR_INVALID_HANDLE);
    EXPECT_FALSE(p);
}

// A released sound is freed by the next call that reaches the engine once
// the audio side has let go of it, without waiting for System_Update.
TEST_F(Faults, ReleasedSoundsAreFreedWithoutAnUpdate) {
#ifdef RB_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocators hold freed memory back";
#else
    const auto residentMb = [] {
        std::ifstream statm("/proc/self/statm");
        unsigned long size = 0, resident = 0;
        statm >> size >> resident;
        return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1 << 20);
    };
    const rb::Sound small = loadSamples(std::vector<float>(100, 0.1f));
    const rb::Sound big = userSound(sys, rb::SOUND_FORMAT_PCMFLOAT, 2, kRate, 32u << 20);  // 256 MB
    const double withBig = residentMb();
    play(big);
    render(64);
    ASSERT_EQ(rb::Sound_Release(big), rb::OK);
    render(64);
    EXPECT_GT(residentMb(), withBig - 100) << "kept while the audio side could still read it";
    rb::Channel c{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, small, false, &c), rb::OK);
    EXPECT_LT(residentMb(), withBig - 200);
#endif
}

struct FoldCase {
    int channel;  // which of the six (WAVE order: FL FR FC LFE BL BR) sounds
    bool left, right;
};

TEST_F(Faults, SixChannelsFoldToStereoWithStandardWeights) {
    for (const FoldCase fc : {FoldCase{0, true, false}, FoldCase{1, false, true}, FoldCase{2, true, true},
                              FoldCase{3, false, false}, FoldCase{4, true, false}, FoldCase{5, false, true}}) {
        std::vector<float> six(6 * 4800, 0.0f);
        for (std::size_t i = 0; i < 4800; ++i) six[6 * i + static_cast<std::size_t>(fc.channel)] = 0.5f;
        const auto file = dir.path("six" + std::to_string(fc.channel) + ".wav");
        writeSound(file, SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 6, six);
        const rb::Channel c = play(load(file));
        const auto out = render(100);
        EXPECT_EQ(out[100] > 0.01f, fc.left) << "channel " << fc.channel;
        EXPECT_EQ(out[101] > 0.01f, fc.right) << "channel " << fc.channel;
        if (fc.left && fc.right) {
            EXPECT_FLOAT_EQ(out[100], out[101]) << "the centre sits in the middle";
        }
        EXPECT_LE(std::max(out[100], out[101]), 0.5f);
        rb::Channel_Stop(c);
        render(100);
    }
}

TEST_F(Faults, DenormalsAreFlushedAndTheCallersModeComesBack) {
    const auto file = dir.path("tiny.wav");
    writeSound(file, SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, std::vector<float>(480, 1e-39f));
    play(load(file));
#if defined(__x86_64__)
    const unsigned before = _mm_getcsr();
#endif
    const auto out = render(100);
    for (float v : out) ASSERT_EQ(v, 0.0f) << "a denormal input reads as zero";
#if defined(__x86_64__)
    EXPECT_EQ(_mm_getcsr(), before);
#endif
}

// An echo rings for its tail after the last hit, then its chain rests (its
// output is exact silence, not an endless decay) until the next hit.
TEST_F(Faults, AnEffectChainRestsAfterItsTailAndWakesForTheNextHit) {
    rb::ChannelGroup g{};
    ASSERT_EQ(rb::System_CreateChannelGroup(sys, "fx", &g), rb::OK);
    rb::Dsp echo{};
    ASSERT_EQ(rb::System_CreateDSPByIndex(sys, 4, &echo), rb::OK);
    ASSERT_EQ(rb::ChannelGroup_AddDSP(g, echo), rb::OK);
    const rb::Sound hit = loadSamples(impulse(10));
    play(hit, 1.0f, g);
    const auto tail = render(6 * kRate);
    EXPECT_NEAR(tail[2 * 12000], 1.0f, 1e-6);
    EXPECT_GT(peak(tail, 4 * kRate, 100), 0.0f) << "still ringing four seconds on";
    EXPECT_EQ(peak(tail, 5 * kRate + kRate / 2), 0.0f);
    play(hit, 1.0f, g);
    const auto again = render(13000);
    EXPECT_NEAR(again[0], 1.0f, 1e-5);
    EXPECT_NEAR(again[2 * 12000], 1.0f, 1e-5);
}

TEST_F(Faults, TheLimiterHoldsEverySampleUnderItsCeiling) {
    std::vector<float> burst(4800, 0.0f);
    const auto loud = sine(300, kRate, 9600, 2.0f);
    burst.insert(burst.end(), loud.begin(), loud.end());
    rb::ChannelGroup g{};
    ASSERT_EQ(rb::System_CreateChannelGroup(sys, "fx", &g), rb::OK);
    rb::Dsp limiter{};
    ASSERT_EQ(rb::System_CreateDSPByIndex(sys, 14, &limiter), rb::OK);
    ASSERT_EQ(rb::ChannelGroup_AddDSP(g, limiter), rb::OK);
    play(loadSamples(burst), 1.0f, g);
    const auto out = render(14400);
    EXPECT_LE(peak(out), 0.8913f) << "-1 dB from the first loud sample on";
    EXPECT_GT(peak(out, 4800), 0.85f);
}

// A volume change of a sounding play glides over about a millisecond.
TEST_F(Faults, VolumeJumpsGlide) {
    const rb::Channel c = play(loadSamples(std::vector<float>(48000, 0.5f)));
    render(100);
    ASSERT_EQ(rb::Channel_SetVolume(c, 0.0f), rb::OK);
    const auto out = render(100);
    EXPECT_GT(out[0], 0.4f);
    EXPECT_GT(out[2 * 24], 0.1f);
    EXPECT_EQ(peak(out, 48), 0.0f);
}

// A rate change converts the sounds once; their plays then run at step 1.
TEST_F(Faults, ARateChangeConvertsExistingSounds) {
    const rb::Sound s = loadSamples(std::vector<float>(48000, 0.5f));
    auto dataBytes = [&] {
        void *p1 = nullptr, *p2 = nullptr;
        std::uint32_t n1 = 0, n2 = 0;
        std::uint32_t size = 1;
        while (rb::Sound_Lock(s, 0, size * 2, &p1, &p2, &n1, &n2) == rb::OK) size *= 2;
        std::uint32_t lo = size, hi = size * 2;  // the largest span Lock accepts is the data size
        while (hi - lo > 1) {
            const std::uint32_t mid = (lo + hi) / 2;
            (rb::Sound_Lock(s, 0, mid, &p1, &p2, &n1, &n2) == rb::OK ? lo : hi) = mid;
        }
        return lo;
    };
    EXPECT_NEAR(dataBytes(), 48000u * 4, 8);
    reinit(24000);
    EXPECT_NEAR(dataBytes(), 24000u * 4, 8);
    std::uint32_t frames = 0;
    ASSERT_EQ(rb::Sound_GetLength(s, &frames, rb::TIMEUNIT_PCM), rb::OK);
    EXPECT_EQ(frames, 48000u) << "the source is unchanged";
    const rb::Channel c = play(s);
    render(2400);
    std::uint32_t ms = 0;
    ASSERT_EQ(rb::Channel_GetPosition(c, &ms, rb::TIMEUNIT_MS), rb::OK);
    EXPECT_EQ(ms, 100u);
}

// A WAV header may promise more than memory should hold: the size is
// refused before anything is read. The file is sparse, so it costs no disk.
TEST_F(Faults, SoundsOverTheSizeCapAreRefusedWithTheirOwnCode) {
    const auto file = dir.path("huge.wav");
    sparseWav(file, 0xF0000000u);  // 2 G frames, 8 GiB as float
    rb::Sound s{};
    EXPECT_EQ(rb::System_CreateSound(sys, file.c_str(), rb::MODE_SOFTWARE, nullptr, &s), rb::ERR_TOO_LARGE);
    EXPECT_EQ(s, rb::Sound{});
    rb::CreateSoundExInfo info{};
    info.cbsize = sizeof info;
    info.numchannels = 2;
    info.defaultfrequency = 48000;
    info.format = rb::SOUND_FORMAT_PCMFLOAT;
    info.length = 0xFFFFFFF0u;
    EXPECT_EQ(rb::System_CreateSound(sys, nullptr, rb::MODE_OPENUSER, &info, &s), rb::ERR_TOO_LARGE);
    EXPECT_STRNE(rb::ErrorString(rb::ERR_TOO_LARGE), rb::ErrorString(-1));
}

// An allocation that fails inside a call is an out-of-memory code, never an
// exception through the caller. The child process gets little address space.
TEST_F(Faults, AFailedAllocationIsACodeNotAnException) {
#ifdef RB_SANITIZED
    GTEST_SKIP() << "sanitizers reserve far more address space than the limit allows";
#else
    const auto file = dir.path("big.wav");
    sparseWav(file, 400u << 20);  // 200 M frames: 800 MB as float, under the cap
    const auto child = [&] {
        std::ifstream statm("/proc/self/statm");
        unsigned long pages = 0;
        statm >> pages;
        const rlim_t limit = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (256u << 20);
        const rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_AS, &rl);
        rb::Sound s{};
        const rb::Result r = rb::System_CreateSound(sys, file.c_str(), rb::MODE_SOFTWARE, nullptr, &s);
        std::_Exit(r == rb::ERR_MEMORY ? 0 : 10 + r);
    };
    EXPECT_EXIT(child(),
        ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
