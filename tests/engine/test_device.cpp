// The real device path: play through RtAudio into the PulseAudio null sink,
// record its monitor, and find the sound in the recording.
#include "fixtures.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace rbtest;

namespace {

// The test script starts a server with a null sink and sets RB_PULSE_MONITOR;
// there the test must run. Elsewhere (a developer's desktop) it is skipped.
bool pulseRequired() { return std::getenv("RB_PULSE_MONITOR") != nullptr; }

int findDevice(rb::System sys, bool record, const std::string& wanted) {
    int n = 0;
    if (record) rb::System_GetRecordNumDrivers(sys, &n);
    else rb::System_GetNumDrivers(sys, &n);
    for (int i = 0; i < n; ++i) {
        char name[512] = {};
        if (record) rb::System_GetRecordDriverName(sys, i, name, sizeof name);
        else rb::System_GetDriverName(sys, i, name, sizeof name);
        if (wanted.empty() || std::string(name).find(wanted) != std::string::npos) return i;
    }
    return -1;
}

TEST(Device, PlayedSoundReachesTheNullSinkMonitor) {
    if (!pulseRequired()) GTEST_SKIP() << "no PulseAudio null sink set up by the test script";
    rb::System sys{};
    ASSERT_EQ(rb::System_Create(&sys), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(sys, rb::OUTPUTTYPE_PULSEAUDIO), rb::OK);
    const int play = findDevice(sys, false, "Null");
    const int rec = findDevice(sys, true, "Monitor");
    ASSERT_GE(play, 0) << "no playback device";
    ASSERT_GE(rec, 0) << "no monitor source";
    ASSERT_EQ(rb::System_SetDriver(sys, play), rb::OK);
    ASSERT_EQ(rb::System_SetRecordDriver(sys, rec), rb::OK);
    ASSERT_EQ(rb::System_SetSoftwareFormat(sys, 48000, rb::SOUND_FORMAT_PCM16, 0, 0, 1), rb::OK);
    ASSERT_EQ(rb::System_Init(sys, 64, 0, nullptr), rb::OK);
    unsigned buffer = 0;
    long latency = -1;
    ASSERT_EQ(rb::System_GetOutputLatency(sys, &buffer, &latency), rb::OK);
    EXPECT_GT(buffer, 0u);

    rb::CreateSoundExInfo info{};
    info.cbsize = sizeof info;
    info.numchannels = 2;
    info.defaultfrequency = 48000;
    info.format = rb::SOUND_FORMAT_PCM16;
    info.length = 48000 * 4 * 3;  // three seconds
    rb::Sound ring{};
    ASSERT_EQ(rb::System_CreateSound(sys, nullptr, 0x448, &info, &ring), rb::OK);
    ASSERT_EQ(rb::System_RecordStart(sys, ring, true), rb::OK);
    // A null sink that was idle may render up to two seconds ahead before it
    // takes our latency; wait until both streams flow.
    rb::Sound silence{};
    rb::CreateSoundExInfo quiet = info;
    quiet.length = 48000 * 4;
    ASSERT_EQ(rb::System_CreateSound(sys, nullptr, 0x448 | rb::LOOP_NORMAL, &quiet, &silence), rb::OK);
    rb::Channel keepAlive{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, silence, false, &keepAlive), rb::OK);
    const auto flowing = [&] {
        std::uint32_t played = 0, recorded = 0;
        rb::Channel_GetPosition(keepAlive, &played, rb::TIMEUNIT_PCM);
        rb::System_GetRecordPosition(sys, &recorded);
        return played > 4800 && recorded > 4800;
    };
    for (int i = 0; i < 100 && !flowing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(flowing()) << "the PulseAudio streams did not start";
    std::uint32_t startPos = 0;
    rb::System_GetRecordPosition(sys, &startPos);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    TempDir dir;
    const auto file = dir.path("tone.wav");
    writeSound(file, 0x010002, 44100, 1, sine(1000, 44100, 22050, 0.5f));
    rb::Sound tone{};
    ASSERT_EQ(rb::System_CreateSound(sys, file.c_str(), 0x49, nullptr, &tone), rb::OK);
    rb::Channel c{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, tone, false, &c), rb::OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    bool playing = true;
    rb::Channel_IsPlaying(c, &playing);
    EXPECT_FALSE(playing) << "the half-second tone has ended";
    std::uint32_t pos = 0;
    ASSERT_EQ(rb::System_GetRecordPosition(sys, &pos), rb::OK);
    ASSERT_EQ(rb::System_RecordStop(sys), rb::OK);
    ASSERT_NE(pos, startPos) << "the monitor delivered audio";

    // Copy the ring from where the streams flowed to where recording stopped.
    const std::uint32_t ringFrames = 48000 * 3;
    const std::uint32_t frames = (pos + ringFrames - startPos) % ringFrames;
    void *p1 = nullptr, *p2 = nullptr;
    std::uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(rb::Sound_Lock(ring, startPos * 4, frames * 4, &p1, &p2, &n1, &n2), rb::OK);
    std::vector<float> heard;
    for (auto [p, n] : {std::pair{p1, n1}, std::pair{p2, n2}}) {
        const auto* pcm = static_cast<const std::int16_t*>(p);
        for (std::uint32_t i = 0; p && i < n / 2; ++i) heard.push_back(pcm[i] / 32768.0f);
    }
    // The tone is in the recording, after a stretch of silence.
    double best = 0;
    std::size_t at = 0;
    for (std::size_t f = 0; f + 4800 <= frames; f += 2400) {
        const double level = toneLevel(heard, 0, 1000, 48000, f, 4800);
        if (level > best) { best = level; at = f; }
    }
    EXPECT_GT(best, 0.3) << "the 1 kHz tone at 0.5 was not heard";
    EXPECT_LT(toneLevel(heard, 0, 1000, 48000, 0, 4800), 0.01) << "silence before the play";
    EXPECT_GT(at, 4800u);
    ASSERT_EQ(rb::System_Release(sys), rb::OK);
}

TEST(Device, MissingApiOrDeviceFailsCleanly) {
    rb::System sys{};
    ASSERT_EQ(rb::System_Create(&sys), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(sys, rb::OUTPUTTYPE_JACK), rb::OK);
    int n = -1;
    ASSERT_EQ(rb::System_GetNumDrivers(sys, &n), rb::OK);
    if (n == 0) {
        // No JACK server here: init reports the output cannot be opened.
        EXPECT_EQ(rb::System_Init(sys, 64, 0, nullptr), rb::ERR_OUTPUT_INIT);
        EXPECT_EQ(rb::System_SetDriver(sys, 0), rb::ERR_INVALID_PARAM);
    }
    ASSERT_EQ(rb::System_Release(sys), rb::OK);
}

}  // namespace
