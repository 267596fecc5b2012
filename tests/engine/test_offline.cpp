// Rendering on demand: plays land on exact frames between renders, and the
// mix can be recorded sample for sample with no recording device.
#include "fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

using namespace rbtest;

namespace {

class Offline : public NullEngine {
protected:
    rb::Sound ring(int format, int channels, std::uint32_t frames) { return userSound(sys, format, channels, kRate, frames); }
    template <typename T>
    std::vector<T> ringData(rb::Sound s, std::uint32_t bytes) {
        void *p1 = nullptr, *p2 = nullptr;
        std::uint32_t n1 = 0, n2 = 0;
        EXPECT_EQ(rb::Sound_Lock(s, 0, bytes, &p1, &p2, &n1, &n2), rb::OK);
        std::vector<T> v(n1 / sizeof(T));
        if (p1) std::memcpy(v.data(), p1, n1);
        return v;
    }
    static std::vector<float> ramp(int frames) {
        std::vector<float> r(static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i) r[static_cast<std::size_t>(i)] = static_cast<float>(i + 1) / 4096.0f;
        return r;
    }
};

// Render N frames, play, render more: the play's first sample is the first
// frame of the next render, whatever N.
TEST_F(Offline, APlayBetweenRendersStartsOnTheNextRenderedFrame) {
    const rb::Sound s = loadSamples(ramp(2000));
    for (unsigned before : {1u, 37u, 256u, 1000u, 4097u}) {
        render(before);
        rb::Channel c{};
        ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, false, &c), rb::OK);
        const auto out = render(600);
        for (std::size_t i = 0; i < 600; ++i) ASSERT_FLOAT_EQ(out[2 * i], static_cast<float>(i + 1) / 4096.0f) << before;
        ASSERT_EQ(rb::Channel_Stop(c), rb::OK);
        render(100);
    }
}

// Recording the mix writes exactly what the output renders, after the
// master effects, from the first render after the start.
TEST_F(Offline, RecordingTheMixIsSampleExact) {
    rb::Dsp lowPass{};
    ASSERT_EQ(rb::System_CreateDSPByIndex(sys, 1, &lowPass), rb::OK);
    ASSERT_EQ(rb::System_AddDSP(sys, lowPass), rb::OK);
    const rb::Sound floatRing = ring(rb::SOUND_FORMAT_PCMFLOAT, 2, 4000);
    const rb::Sound tone = loadSamples(sine(700, kRate, 4000, 0.6f));
    ASSERT_EQ(rb::System_SetRecordSource(sys, rb::RECORD_SOURCE_MIX), rb::OK);
    play(tone);
    render(123);  // before the start: not recorded
    ASSERT_EQ(rb::System_RecordStart(sys, floatRing, true), rb::OK);
    auto heard = render(300);
    play(tone);
    const auto more = render(700);
    heard.insert(heard.end(), more.begin(), more.end());
    std::uint32_t pos = 0;
    std::uint64_t frames = 0;
    ASSERT_EQ(rb::System_GetRecordPosition(sys, &pos), rb::OK);
    ASSERT_EQ(rb::System_GetRecordFrames(sys, &frames), rb::OK);
    EXPECT_EQ(pos, 1000u);
    EXPECT_EQ(frames, 1000u);
    const auto recorded = ringData<float>(floatRing, 1000 * 8);
    ASSERT_EQ(recorded.size(), heard.size());
    for (std::size_t i = 0; i < heard.size(); ++i) ASSERT_EQ(recorded[i], heard[i]) << i;
    ASSERT_EQ(rb::System_RecordStop(sys), rb::OK);
    ASSERT_EQ(rb::System_GetRecordFrames(sys, &frames), rb::OK);
    EXPECT_EQ(frames, 1000u) << "the count stays after the stop";

    // In a 16-bit mono ring: the mean of both sides, clipped and rounded to 16 bits.
    const rb::Sound monoRing = ring(rb::SOUND_FORMAT_PCM16, 1, 4000);
    ASSERT_EQ(rb::System_RecordStart(sys, monoRing, true), rb::OK);
    play(tone);
    const auto out = render(500);
    const auto pcm = ringData<std::int16_t>(monoRing, 500 * 2);
    for (std::size_t i = 0; i < 500; ++i)
        ASSERT_EQ(pcm[i], std::lrint(std::clamp(0.5f * (out[2 * i] + out[2 * i + 1]), -1.0f, 1.0f) * 32767.0f)) << i;
}

// The master bus's limiter: no sample of the mix, nor of its recording,
// passes -0.3 dBFS; a mix below that leaves bit for bit, also once the
// limiter has worked and come back to rest; switched off, sums clip as before.
TEST_F(Offline, TheMasterLimiterHoldsTheCeilingAndIsTransparentBelowIt) {
    bool on = true;
    ASSERT_EQ(rb::System_GetMasterLimiter(sys, &on), rb::OK);
    EXPECT_FALSE(on) << "a new engine mixes as it always did";
    const rb::Sound quiet = loadSamples(sine(220, kRate, 48000, 0.48f));
    const rb::Sound loud = loadSamples(sine(90, kRate, 4800, 0.9f));
    const auto session = [&](bool limiter) {
        EXPECT_EQ(rb::System_SetMasterLimiter(sys, limiter), rb::OK);
        const rb::Sound floatRing = ring(rb::SOUND_FORMAT_PCMFLOAT, 2, 48000);
        EXPECT_EQ(rb::System_SetRecordSource(sys, rb::RECORD_SOURCE_MIX), rb::OK);
        EXPECT_EQ(rb::System_RecordStart(sys, floatRing, true), rb::OK);
        play(quiet);
        play(quiet);  // 0.96 at its peaks: just under the ceiling
        auto out = render(9600);
        for (int i = 0; i < 4; ++i) play(loud);  // 3.6 on top
        const auto rest = render(38400);
        out.insert(out.end(), rest.begin(), rest.end());
        rb::System_RecordStop(sys);
        const auto recorded = ringData<float>(floatRing, 48000 * 8);
        rb::Sound_Release(floatRing);
        return std::pair{out, recorded};
    };
    const auto [limited, recorded] = session(true);
    rb::System_Close(sys);
    rb::System_Init(sys, 64, 0, nullptr);
    const auto [clipped, unused] = session(false);
    ASSERT_EQ(rb::System_GetMasterLimiter(sys, &on), rb::OK);
    EXPECT_FALSE(on);
    EXPECT_LE(peak(limited), 0.96605f);
    EXPECT_LE(peak(recorded), 0.96605f);
    EXPECT_EQ(recorded, limited) << "the recording takes the limited mix";
    EXPECT_GT(peak(clipped, 9600, 4800), 3.0f) << "switched off, nothing holds the sum";
    EXPECT_TRUE(std::equal(limited.begin(), limited.begin() + 2 * 9600, clipped.begin())) << "below the ceiling";
    EXPECT_LT(peak(limited, 9600, 4800), 0.9661f);
    EXPECT_GT(peak(limited, 9600, 4800), 0.95f);
    // 150 ms after the loud hit has ended, back at rest and bit-exact again.
    const std::size_t rested = 2 * (9600 + 4800 + 7200);
    EXPECT_TRUE(std::equal(limited.begin() + static_cast<std::ptrdiff_t>(rested), limited.end(),
                           clipped.begin() + static_cast<std::ptrdiff_t>(rested)));
}

// The frame count runs on past the ring, so a reader that fell behind knows
// how much it lost; the position wraps as before.
TEST_F(Offline, RecordFramesNeverWrap) {
    const rb::Sound small = ring(rb::SOUND_FORMAT_PCM16, 2, 1000);
    ASSERT_EQ(rb::System_SetRecordSource(sys, rb::RECORD_SOURCE_MIX), rb::OK);
    ASSERT_EQ(rb::System_RecordStart(sys, small, true), rb::OK);
    render(3500);
    std::uint32_t pos = 0;
    std::uint64_t frames = 0;
    rb::System_GetRecordPosition(sys, &pos);
    rb::System_GetRecordFrames(sys, &frames);
    EXPECT_EQ(pos, 500u);
    EXPECT_EQ(frames, 3500u);
    // The same from the device source.
    ASSERT_EQ(rb::System_SetRecordSource(sys, rb::RECORD_SOURCE_DEVICE), rb::OK);
    ASSERT_EQ(rb::System_RecordStart(sys, small, true), rb::OK);
    const std::vector<std::int16_t> input(2 * 2500, 7);
    ASSERT_EQ(rb::System_FeedNullRecord(sys, input.data(), 2500), rb::OK);
    render(1000);  // the mix is not recorded now
    rb::System_GetRecordPosition(sys, &pos);
    rb::System_GetRecordFrames(sys, &frames);
    EXPECT_EQ(pos, 500u);
    EXPECT_EQ(frames, 2500u);
    int source = -1;
    ASSERT_EQ(rb::System_GetRecordSource(sys, &source), rb::OK);
    EXPECT_EQ(source, rb::RECORD_SOURCE_DEVICE);
    EXPECT_EQ(rb::System_SetRecordSource(sys, 2), rb::ERR_INVALID_PARAM);
}

// A mix recording at another rate than the ring was made for: the ring is
// retagged with the mixer rate, so a file written from it plays at pitch.
TEST_F(Offline, AMixRecordingTakesTheMixerRate) {
    const rb::Sound s = userSound(sys, rb::SOUND_FORMAT_PCM16, 2, 44100, 44100);
    ASSERT_EQ(rb::System_SetRecordSource(sys, rb::RECORD_SOURCE_MIX), rb::OK);
    ASSERT_EQ(rb::System_RecordStart(sys, s, true), rb::OK);
    float freq = 0;
    ASSERT_EQ(rb::Sound_GetDefaults(s, &freq, nullptr, nullptr, nullptr), rb::OK);
    EXPECT_EQ(freq, static_cast<float>(kRate));
}

}  // namespace

namespace {

// The metronome rendered in buffers of awkward sizes: each click's first frame
// (the frame before its first non-zero sample) and its peak.
struct Click {
    std::int64_t frame;
    float peak;
};
class Metronome : public NullEngine {
protected:
    void set(bool on, int bpm, int beats, float volume = 0.5f) {
        const rb::Metronome m{on, bpm, beats, volume};
        ASSERT_EQ(rb::System_SetMetronome(sys, &m), rb::OK);
    }
    std::vector<Click> clicks(std::int64_t frames, const std::function<void(std::int64_t)>& at = {}) {
        std::vector<Click> found;
        std::int64_t done = 0, lastSound = -100000;
        const unsigned sizes[] = {256, 1, 999, 4096, 441};
        for (int n = 0; done < frames; ++n) {
            if (at) at(done);
            const unsigned size = static_cast<unsigned>(std::min<std::int64_t>(sizes[n % 5], frames - done));
            const auto out = render(size);
            for (unsigned i = 0; i < size; ++i) {
                const float x = std::fabs(out[2 * i]);
                if (x == 0.0f) continue;
                if (done + i - lastSound > 2000) found.push_back({done + i - 1, 0.0f});
                found.back().peak = std::max(found.back().peak, x);
                lastSound = done + i;
            }
            done += size;
        }
        return found;
    }
};

TEST_F(Metronome, TenMinutesOfClicksLandOnTheirExactFramesWithAnAccentPerBar) {
    struct Case {
        int bpm, beats;
        std::int64_t seconds;
    };
    for (const Case c : {Case{120, 4, 600}, Case{97, 3, 120}}) {  // 24000 frames; 29690.72 frames
        set(false, c.bpm, c.beats);
        render(10);
        set(true, c.bpm, c.beats);
        const auto found = clicks(c.seconds * kRate);
        std::size_t expected = 0;
        while (static_cast<std::int64_t>(expected) * kRate * 60 / c.bpm < c.seconds * kRate) ++expected;
        ASSERT_EQ(found.size(), expected) << c.bpm;
        for (std::size_t k = 0; k < found.size(); ++k) {
            ASSERT_EQ(found[k].frame, static_cast<std::int64_t>(k) * kRate * 60 / c.bpm) << c.bpm << " beat " << k;
            ASSERT_EQ(found[k].peak > 0.45f, k % static_cast<std::size_t>(c.beats) == 0) << c.bpm << " beat " << k;
        }
    }
}

// A new tempo waits for the next beat, which keeps its place; turning the
// metronome off silences it at once, and on again starts a bar.
TEST_F(Metronome, ATempoChangeTakesEffectOnTheNextBeatAndOffIsSilent) {
    set(true, 120, 4);
    const auto found = clicks(5 * kRate, [&](std::int64_t done) {
        if (done >= 30000 && done < 30256) set(true, 60, 2);
    });
    const std::int64_t want[] = {0, 24000, 48000, 48000 + 48000, 48000 + 2 * 48000, 48000 + 3 * 48000};
    ASSERT_EQ(found.size(), std::size(want));
    for (std::size_t k = 0; k < found.size(); ++k) EXPECT_EQ(found[k].frame, want[k]) << k;
    set(false, 60, 2);
    EXPECT_EQ(peak(render(3 * kRate)), 0.0f);
    rb::Metronome back{};
    ASSERT_EQ(rb::System_GetMetronome(sys, &back), rb::OK);
    EXPECT_FALSE(back.on);
    EXPECT_EQ(back.bpm, 60);
    for (const rb::Metronome bad : {rb::Metronome{true, 29, 4, 0.5f}, rb::Metronome{true, 301, 4, 0.5f},
                                    rb::Metronome{true, 120, 0, 0.5f}, rb::Metronome{true, 120, 13, 0.5f},
                                    rb::Metronome{true, 120, 4, 1.5f}})
        EXPECT_EQ(rb::System_SetMetronome(sys, &bad), rb::ERR_INVALID_PARAM);
}

// Heard, but a recording of the mix holds only the kit; the limiter holds the
// kit with the clicks under full scale, and never ducks the take for them.
TEST_F(Metronome, IsNeverRecordedFromTheMix) {
    const rb::Sound ringSound = userSound(sys, rb::SOUND_FORMAT_PCMFLOAT, 2, kRate, 2 * kRate);
    ASSERT_EQ(rb::System_SetRecordSource(sys, rb::RECORD_SOURCE_MIX), rb::OK);
    ASSERT_EQ(rb::System_RecordStart(sys, ringSound, false), rb::OK);
    set(true, 120, 4);
    const auto alone = render(kRate / 2);
    EXPECT_GT(peak(alone), 0.45f);
    ASSERT_EQ(rb::System_SetMasterLimiter(sys, true), rb::OK);
    play(loadSamples(std::vector<float>(kRate, 0.9f)));  // a loud kit: 0.9 held
    const auto heard = render(kRate / 2);
    EXPECT_GT(peak(heard), 0.95f);
    EXPECT_LE(peak(heard), 0.96605f) << "never past the ceiling";
    void *p1 = nullptr, *p2 = nullptr;
    std::uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(rb::Sound_Lock(ringSound, 0, kRate * 8, &p1, &p2, &n1, &n2), rb::OK);
    const std::vector<float> recorded(static_cast<float*>(p1), static_cast<float*>(p1) + n1 / sizeof(float));
    ASSERT_EQ(recorded.size(), 2u * kRate);
    EXPECT_EQ(peak(recorded, 0, kRate / 2), 0.0f) << "no click in the take";
    for (std::size_t i = kRate; i < recorded.size(); ++i) ASSERT_EQ(recorded[i], 0.9f) << "the kit alone, untouched: " << i;
    ASSERT_EQ(rb::System_RecordStop(sys), rb::OK);
}

}  // namespace
