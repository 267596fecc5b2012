// Playing, pausing, stopping and channel bookkeeping on the null output.
#include "fixtures.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>

using namespace rbtest;

namespace {

class Playback : public NullEngine {};

TEST_F(Playback, PlayAppearsInTheNextBufferAtItsVolume) {
    const rb::Sound s = loadSamples(std::vector<float>(4800, 0.5f));
    const rb::Channel c = play(s, 0.5f);
    const auto out = render(64);
    for (float v : out) ASSERT_FLOAT_EQ(v, 0.25f);  // mono reaches both sides
    EXPECT_TRUE(playing(c));
}

// Constant power: the squares of both sides add up to twice the centre's,
// and the centre is the play without a position, bit for bit.
TEST_F(Playback, PanIsConstantPowerAndTheCentreIsUntouched) {
    const rb::Sound mono = loadSamples(std::vector<float>(4800, 0.5f));
    std::vector<float> lr;
    for (int i = 0; i < 4800; ++i) lr.insert(lr.end(), {0.5f, 0.25f});
    writeSound(dir.path("lr.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 2, lr);
    const rb::Sound stereo = load(dir.path("lr.wav"));
    struct Case { float pan; float left, right; };
    for (const Case k : {Case{0.0f, 0.5f, 0.5f}, Case{-1.0f, 0.70710677f, 0.0f}, Case{1.0f, 0.0f, 0.70710677f},
                         Case{0.5f, 0.27059805f, 0.65328148f}, Case{7.0f, 0.0f, 0.70710677f}}) {
        const rb::Channel c = play(mono);
        ASSERT_EQ(rb::Channel_SetPan(c, k.pan), rb::OK);
        float got = 9;
        ASSERT_EQ(rb::Channel_GetPan(c, &got), rb::OK);
        EXPECT_EQ(got, std::clamp(k.pan, -1.0f, 1.0f));
        const auto out = render(64);
        EXPECT_NEAR(out[0], k.left, 1e-6) << k.pan;
        EXPECT_NEAR(out[1], k.right, 1e-6) << k.pan;
        EXPECT_NEAR(out[0] * out[0] + out[1] * out[1], 0.5, 1e-6) << k.pan;
        rb::Channel_Stop(c);
        render(100);
    }
    // A stereo sound keeps its sides, each weighed by its gain.
    const rb::Channel c = play(stereo);
    ASSERT_EQ(rb::Channel_SetPan(c, -1.0f), rb::OK);
    auto out = render(8);
    EXPECT_NEAR(out[0], 0.70710677f, 1e-6);
    EXPECT_NEAR(out[1], 0.0f, 1e-6);
    rb::Channel_Stop(c);
    render(100);
    // A new play starts in the centre; the centre is exactly what it was.
    const rb::Channel d = play(stereo);
    float pan = 9;
    ASSERT_EQ(rb::Channel_GetPan(d, &pan), rb::OK);
    EXPECT_EQ(pan, 0.0f);
    ASSERT_EQ(rb::Channel_SetPan(d, 0.0f), rb::OK);
    out = render(8);
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_EQ(out[1], 0.25f);
    EXPECT_EQ(rb::Channel_SetPan(d, std::nanf("")), rb::ERR_INVALID_PARAM);
    EXPECT_EQ(rb::Channel_SetVolume(d, std::nanf("")), rb::ERR_INVALID_PARAM);
    float volume = 0;
    ASSERT_EQ(rb::Channel_GetVolume(d, &volume), rb::OK);
    EXPECT_EQ(volume, 1.0f) << "a refused volume leaves the play as it was";
}

TEST_F(Playback, PausedChannelIsHeldBackAndResumesWhereItStopped) {
    std::vector<float> ramp(1000);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) / 1000.0f;
    const rb::Sound s = loadSamples(ramp);
    rb::Channel c{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, true, &c), rb::OK);
    EXPECT_EQ(peak(render(100)), 0.0f);
    ASSERT_EQ(rb::Channel_SetPaused(c, false), rb::OK);
    auto out = render(100);
    EXPECT_FLOAT_EQ(out[2 * 99], 0.099f);
    ASSERT_EQ(rb::Channel_SetPaused(c, true), rb::OK);
    EXPECT_EQ(peak(render(100)), 0.0f);
    EXPECT_TRUE(playing(c)) << "a paused channel still counts as playing";
    ASSERT_EQ(rb::Channel_SetPaused(c, false), rb::OK);
    out = render(1);
    EXPECT_FLOAT_EQ(out[0], 0.1f);
}

// A stop glides out over about a millisecond (48 frames here), so it does
// not click, and is silent after.
TEST_F(Playback, StopGlidesOutAndTheHandleThenAnswers35) {
    const rb::Sound s = loadSamples(std::vector<float>(48000, 0.5f));
    const rb::Channel c = play(s);
    render(10);
    ASSERT_EQ(rb::Channel_Stop(c), rb::OK);
    const auto out = render(100);
    EXPECT_GT(out[0], 0.45f);
    for (std::size_t i = 1; i < 48; ++i) ASSERT_LT(out[2 * i], out[2 * i - 2]) << i;
    EXPECT_EQ(peak(out, 48), 0.0f);
    bool p = true;
    EXPECT_EQ(rb::Channel_IsPlaying(c, &p), rb::ERR_INVALID_HANDLE);
    EXPECT_FALSE(p);
    EXPECT_EQ(rb::Channel_SetVolume(c, 1.0f), rb::ERR_INVALID_HANDLE);
}

TEST_F(Playback, FinishedPlayAnswers35AndFreesItsChannel) {
    const rb::Sound s = loadSamples(std::vector<float>(100, 0.5f));
    const rb::Channel c = play(s);
    auto out = render(256);
    EXPECT_FLOAT_EQ(out[2 * 99], 0.5f);
    EXPECT_FLOAT_EQ(out[2 * 100], 0.0f);
    bool p = true;
    EXPECT_EQ(rb::Channel_IsPlaying(c, &p), rb::ERR_INVALID_HANDLE);
    int n = -1;
    ASSERT_EQ(rb::System_GetChannelsPlaying(sys, &n), rb::OK);
    EXPECT_EQ(n, 0);
    // The channel is reused, and the old handle still answers 35, not 11.
    const rb::Channel again = play(s);
    EXPECT_TRUE(playing(again));
    EXPECT_EQ(rb::Channel_IsPlaying(c, &p), rb::ERR_INVALID_HANDLE);
}

TEST_F(Playback, LoopingSoundWrapsUntilStoppedAndLoopModeCanChange) {
    const rb::Sound s = loadSamples(std::vector<float>(100, 0.5f), kRate, rb::LOOP_NORMAL);
    const rb::Channel c = play(s);
    const auto out = render(1000);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_FLOAT_EQ(out[i], 0.5f) << i;
    EXPECT_TRUE(playing(c));
    ASSERT_EQ(rb::Channel_Stop(c), rb::OK);

    ASSERT_EQ(rb::Sound_SetMode(s, rb::LOOP_OFF), rb::OK);
    std::uint32_t mode = 0;
    ASSERT_EQ(rb::Sound_GetMode(s, &mode), rb::OK);
    EXPECT_TRUE(mode & rb::LOOP_OFF);
    EXPECT_FALSE(mode & rb::LOOP_NORMAL);
    const rb::Channel once = play(s);
    render(300);
    EXPECT_FALSE(playing(once));
}

TEST_F(Playback, SixtyFifthPlayTakesTheOldestChannelWhoseHandleAnswers11) {
    const rb::Sound s = loadSamples(std::vector<float>(100, 0.01f), kRate, rb::LOOP_NORMAL);
    std::vector<rb::Channel> ch;
    for (int i = 0; i < 64; ++i) {
        ch.push_back(play(s));
        render(1);  // distinct start times
    }
    int n = 0;
    ASSERT_EQ(rb::System_GetChannelsPlaying(sys, &n), rb::OK);
    EXPECT_EQ(n, 64);
    const rb::Channel newest = play(s);
    bool p = true;
    EXPECT_EQ(rb::Channel_IsPlaying(ch[0], &p), rb::ERR_CHANNEL_STOLEN);
    EXPECT_FALSE(p);
    for (int i = 1; i < 64; ++i) EXPECT_TRUE(playing(ch[static_cast<std::size_t>(i)])) << i;
    EXPECT_TRUE(playing(newest));
    // The next one takes the second oldest.
    play(s);
    EXPECT_EQ(rb::Channel_IsPlaying(ch[1], &p), rb::ERR_CHANNEL_STOLEN);
    // The two taken plays glide out under the new ones.
    const auto out = render(100);
    EXPECT_GT(out[0], 64 * 0.01f + 0.01f);
    EXPECT_NEAR(out[2 * 99], 64 * 0.01f, 1e-4);
}

// A key's fifteen channel slots: a new play takes the lowest slot whose
// channel no longer plays; the finished play's handle is left in the slot.
TEST_F(Playback, FifteenSlotPatternReusesTheLowestFinishedSlot) {
    const rb::Sound shortHit = loadSamples(std::vector<float>(480, 0.1f));
    const rb::Sound longHit = loadSamples(std::vector<float>(48000, 0.1f));
    std::array<rb::Channel, 15> slots{};
    auto pressKey = [&](rb::Sound s) {
        for (auto& slot : slots)
            if (!playing(slot)) {
                slot = play(s);
                return true;
            }
        return false;
    };
    ASSERT_TRUE(pressKey(shortHit));
    for (int i = 1; i < 15; ++i) ASSERT_TRUE(pressKey(longHit));
    EXPECT_FALSE(pressKey(longHit)) << "the sixteenth press finds no free slot";
    render(1000);  // slot 0's short hit has ended
    bool p = true;
    EXPECT_EQ(rb::Channel_IsPlaying(slots[0], &p), rb::ERR_INVALID_HANDLE);
    const rb::Channel old1 = slots[1];
    ASSERT_TRUE(pressKey(longHit));
    EXPECT_TRUE(playing(slots[0]));
    EXPECT_EQ(slots[1], old1);
    // Stopping the highest slot frees it for the next press.
    ASSERT_EQ(rb::Channel_Stop(slots[14]), rb::OK);
    ASSERT_TRUE(pressKey(longHit));
    EXPECT_TRUE(playing(slots[14]));
    int n = 0;
    rb::System_GetChannelsPlaying(sys, &n);
    EXPECT_EQ(n, 15);
}

TEST_F(Playback, PositionCountsSourceFramesAndMilliseconds) {
    const rb::Sound s = loadSamples(std::vector<float>(24000, 0.2f), 24000);
    const rb::Channel c = play(s);
    render(4800);  // 100 ms
    std::uint32_t pcm = 0, ms = 0;
    ASSERT_EQ(rb::Channel_GetPosition(c, &pcm, rb::TIMEUNIT_PCM), rb::OK);
    ASSERT_EQ(rb::Channel_GetPosition(c, &ms, rb::TIMEUNIT_MS), rb::OK);
    EXPECT_NEAR(pcm, 2400u, 2);
    EXPECT_NEAR(ms, 100u, 1);
}

TEST_F(Playback, ChannelsInAGroupPlayAndSurviveTheGroupsRelease) {
    rb::ChannelGroup g{};
    ASSERT_EQ(rb::System_CreateChannelGroup(sys, "Group0", &g), rb::OK);
    char name[16] = {};
    ASSERT_EQ(rb::ChannelGroup_GetName(g, name, sizeof name), rb::OK);
    EXPECT_STREQ(name, "Group0");
    const rb::Sound s = loadSamples(std::vector<float>(48000, 0.5f));
    const rb::Channel c = play(s, 1.0f, g);
    EXPECT_FLOAT_EQ(render(10)[0], 0.5f);
    ASSERT_EQ(rb::ChannelGroup_Release(g), rb::OK);
    EXPECT_EQ(rb::ChannelGroup_Release(g), rb::ERR_INVALID_HANDLE);
    EXPECT_FLOAT_EQ(render(10)[0], 0.5f);
    EXPECT_TRUE(playing(c));
    EXPECT_EQ(rb::Channel_SetChannelGroup(c, g), rb::ERR_INVALID_HANDLE);
}

TEST_F(Playback, ReleasingASoundStopsItsChannels) {
    const rb::Sound s = loadSamples(std::vector<float>(48000, 0.5f));
    const rb::Channel c = play(s);
    render(10);
    ASSERT_EQ(rb::Sound_Release(s), rb::OK);
    EXPECT_FALSE(playing(c));
    EXPECT_EQ(peak(render(100), 48), 0.0f);
    rb::Channel none{};
    EXPECT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, false, &none), rb::ERR_INVALID_HANDLE);
    EXPECT_EQ(none, rb::Channel{});
}

TEST_F(Playback, CloseStopsEverythingAndInitStartsAfresh) {
    const rb::Sound s = loadSamples(std::vector<float>(48000, 0.5f));
    const rb::Channel c = play(s);
    ASSERT_EQ(rb::System_Close(sys), rb::OK);
    EXPECT_FALSE(playing(c));
    ASSERT_EQ(rb::System_SetSoftwareFormat(sys, 44100, rb::SOUND_FORMAT_PCM24, 0, 0, 1), rb::OK);
    ASSERT_EQ(rb::System_Init(sys, 64, 0, nullptr), rb::OK);
    int rate = 0, format = 0;
    ASSERT_EQ(rb::System_GetSoftwareFormat(sys, &rate, &format), rb::OK);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(format, rb::SOUND_FORMAT_PCM24);
    // A sound made at 48 kHz still plays at its own pitch on the new mixer rate.
    const rb::Channel again = play(s);
    render(4410);
    std::uint32_t ms = 0;
    ASSERT_EQ(rb::Channel_GetPosition(again, &ms, rb::TIMEUNIT_MS), rb::OK);
    EXPECT_NEAR(ms, 100u, 2);
}

}  // namespace

// Timed plays on the null output, each render's first frame at a known
// moment: a play sounds the play delay after its event's moment, on that
// frame, in whatever render it falls; plays keep their order, and one whose
// moment is past the delay starts at once.
class TimedPlays : public NullEngine {
protected:
    static constexpr std::int64_t kT0 = 1'000'000'000'000;
    static std::int64_t momentOf(double frame) { return kT0 + static_cast<std::int64_t>(frame * 1e9 / kRate); }
    // Renders from frame `from` to `to` in buffers of `buffer` frames.
    void renderAt(std::vector<float>& out, unsigned from, unsigned to, unsigned buffer) {
        out.resize(2 * static_cast<std::size_t>(to));
        for (unsigned f = from; f < to; f += buffer) {
            ASSERT_EQ(rb::System_RenderNullAt(sys, out.data() + 2 * f, std::min(buffer, to - f), momentOf(f), true), rb::OK);
        }
    }
    rb::Channel timedPlay(rb::Sound s, double eventFrame, rb::ChannelGroup group = {}) {
        rb::Channel c{};
        EXPECT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, true, &c), rb::OK);
        EXPECT_EQ(rb::Channel_SetVolume(c, 0.25f), rb::OK);
        if (group != rb::ChannelGroup{}) {
            EXPECT_EQ(rb::Channel_SetChannelGroup(c, group), rb::OK);
        }
        EXPECT_EQ(rb::Channel_SetStartTime(c, momentOf(eventFrame)), rb::OK);
        EXPECT_EQ(rb::Channel_SetPaused(c, false), rb::OK);
        return c;
    }
};

TEST_F(TimedPlays, EachPlayLandsOnItsFrameInOrderAndALateOneStartsAtOnce) {
    unsigned delay = 0;
    ASSERT_EQ(rb::System_GetPlayDelay(sys, &delay), rb::OK);
    EXPECT_EQ(delay, 384u) << "a buffer and a half of the default 256";
    const rb::Sound s = loadSamples(std::vector<float>(48000, 1.0f));
    rb::ChannelGroup group{};
    rb::Dsp pass{};
    ASSERT_EQ(rb::System_CreateChannelGroup(sys, "g", &group), rb::OK);
    ASSERT_EQ(rb::System_CreateDSPByIndex(sys, 0, &pass), rb::OK);
    ASSERT_EQ(rb::ChannelGroup_AddDSP(group, pass), rb::OK);
    struct Case {
        unsigned buffer;           // frames per render
        std::vector<double> events;  // moments of the plays, as output frames, in calling order
        std::vector<unsigned> onsets;
        unsigned length = 2000;
    };
    // Events are taken in by the render after the one running at their
    // moment, as from a device; -50000 lies a second in the past.
    const Case cases[] = {
        {256, {100.0}, {484}},
        {256, {10.0, 10.2, 200.0}, {394, 394, 584}},  // a fraction of a frame rounds
        {64, {100.0, 130.0}, {484, 514}},             // due six renders later
        {1000, {900.0}, {1284}},                      // inside the second mixing block
        {256, {-50000.0, 100.0}, {256, 484}},         // the late one first, at the render's start
        {256, {1e7}, {256 + 384 + 48000}, 49000},     // a moment far ahead waits a second at most
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "buffer " << c.buffer << ", first event " << c.events[0]);
        rb::System_Close(sys);
        ASSERT_EQ(rb::System_Init(sys, 64, rb::INIT_NORMAL, nullptr), rb::OK);
        rb::OutputStats before{};
        ASSERT_EQ(rb::System_GetOutputStats(sys, &before, false), rb::OK);
        std::vector<float> out;
        renderAt(out, 0, c.buffer, c.buffer);
        for (std::size_t i = 0; i < c.events.size(); ++i) timedPlay(s, c.events[i], i % 2 ? group : rb::ChannelGroup{});
        renderAt(out, c.buffer, c.length, c.buffer);
        // Each onset raises the level by a quarter.
        std::vector<unsigned> onsets;
        float level = 0;
        for (unsigned f = 0; f < c.length; ++f)
            while (out[2 * f] > level + 0.125f) {
                onsets.push_back(f);
                level += 0.25f;
            }
        EXPECT_EQ(onsets, c.onsets);
        rb::OutputStats after{};
        ASSERT_EQ(rb::System_GetOutputStats(sys, &after, false), rb::OK);
        EXPECT_EQ(after.latePlays - before.latePlays, c.events[0] < 0 ? 1u : 0u);
    }
}

// Untimed plays and a timed one whose render has no moment (the control
// thread's own, or a clock just reset) start with the next buffer.
TEST_F(TimedPlays, WithoutAMomentAPlayStartsWithTheNextBuffer) {
    const rb::Sound s = loadSamples(std::vector<float>(4800, 1.0f));
    rb::Channel c{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, true, &c), rb::OK);
    ASSERT_EQ(rb::Channel_SetStartTime(c, momentOf(0)), rb::OK);
    ASSERT_EQ(rb::Channel_SetStartTime(c, 0), rb::OK);
    ASSERT_EQ(rb::Channel_SetPaused(c, false), rb::OK);
    std::vector<float> out;
    renderAt(out, 0, 64, 64);
    EXPECT_FLOAT_EQ(out[0], 1.0f);
    EXPECT_EQ(rb::Channel_SetStartTime(c, -1), rb::ERR_INVALID_PARAM);
    rb::Channel timed{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, true, &timed), rb::OK);
    ASSERT_EQ(rb::Channel_SetStartTime(timed, momentOf(64)), rb::OK);
    ASSERT_EQ(rb::Channel_SetPaused(timed, false), rb::OK);
    EXPECT_FLOAT_EQ(render(64)[0], 2.0f);
}
