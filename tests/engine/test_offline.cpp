// Rendering on demand: plays land on exact frames between renders, and the
// mix can be recorded sample for sample with no recording device.
#include "fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
