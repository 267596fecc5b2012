// The real device path: play through RtAudio into the PulseAudio null sink,
// record its monitor, and find the sound in the recording.
#include "fixtures.h"
#include "privatepulse.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
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
    const std::uint32_t ringFrames = 48000 * 20;
    info.length = ringFrames * 4;  // twenty seconds: longer than the test records
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
    // The ring from where the streams flowed, read as the monitor delivers it until
    // the tone has ended and a tenth of a second holds it whole: how long the sink
    // takes to pass it on depends on how busy the machine is.
    std::vector<float> heard;
    double best = 0;
    std::size_t at = 0, next = 0;
    bool playing = true;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while ((playing || best <= 0.3) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        rb::Channel_IsPlaying(c, &playing);
        std::uint32_t pos = 0;
        ASSERT_EQ(rb::System_GetRecordPosition(sys, &pos), rb::OK);
        const std::uint32_t frames = (pos + ringFrames - startPos) % ringFrames;
        void *p1 = nullptr, *p2 = nullptr;
        std::uint32_t n1 = 0, n2 = 0;
        ASSERT_EQ(rb::Sound_Lock(ring, startPos * 4, frames * 4, &p1, &p2, &n1, &n2), rb::OK);
        heard.clear();
        for (auto [p, n] : {std::pair{p1, n1}, std::pair{p2, n2}}) {
            const auto* pcm = static_cast<const std::int16_t*>(p);
            for (std::uint32_t i = 0; p && i < n / 2; ++i) heard.push_back(pcm[i] / 32768.0f);
        }
        for (; next + 4800 <= frames; next += 2400) {
            const double level = toneLevel(heard, 0, 1000, 48000, next, 4800);
            if (level > best) { best = level; at = next; }
        }
    }
    ASSERT_EQ(rb::System_RecordStop(sys), rb::OK);
    EXPECT_FALSE(playing) << "the half-second tone has ended";
    // The tone is in the recording, after a stretch of silence.
    EXPECT_GT(best, 0.3) << "the 1 kHz tone at 0.5 was not heard";
    EXPECT_LT(toneLevel(heard, 0, 1000, 48000, 0, 4800), 0.01) << "silence before the play";
    EXPECT_GT(at, 4800u);
    ASSERT_EQ(rb::System_Release(sys), rb::OK);
}

// After five seconds of silence the stream stops writing (an idle program's
// cost); the next play starts it again and is heard.
TEST(Device, ASilentStreamRestsAndTheNextPlayIsHeard) {
    if (!pulseRequired()) GTEST_SKIP() << "no PulseAudio null sink set up by the test script";
    rb::System sys{};
    ASSERT_EQ(rb::System_Create(&sys), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(sys, rb::OUTPUTTYPE_PULSEAUDIO), rb::OK);
    ASSERT_EQ(rb::System_SetDriver(sys, findDevice(sys, false, "Null")), rb::OK);
    ASSERT_EQ(rb::System_SetRecordDriver(sys, findDevice(sys, true, "Monitor")), rb::OK);
    ASSERT_EQ(rb::System_Init(sys, 64, 0, nullptr), rb::OK);
    const auto callbacks = [&] {
        rb::OutputStats st{};
        rb::System_GetOutputStats(sys, &st, false);
        return st.callbacks;
    };
    // Resting: the callbacks stand still between two looks 300 ms apart.
    bool rested = false;
    for (int i = 0; i < 40 && !rested; ++i) {
        rb::System_Update(sys);
        const auto before = callbacks();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        rested = callbacks() == before;
    }
    ASSERT_TRUE(rested) << "the stream kept writing silence";
    const rb::Sound ring = userSound(sys, rb::SOUND_FORMAT_PCM16, 2, 48000, 48000 * 3);
    ASSERT_EQ(rb::System_RecordStart(sys, ring, true), rb::OK);
    TempDir dir;
    writeSound(dir.path("tone.wav"), 0x010002, 48000, 1, sine(1000, 48000, 48000, 0.5f));
    rb::Sound tone{};
    ASSERT_EQ(rb::System_CreateSound(sys, dir.path("tone.wav").c_str(), 0x49, nullptr, &tone), rb::OK);
    rb::Channel c{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, tone, false, &c), rb::OK);
    std::uint64_t recorded = 0;
    for (int i = 0; i < 100 && recorded < 48000 * 3 / 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        rb::System_GetRecordFrames(sys, &recorded);
    }
    ASSERT_EQ(rb::System_RecordStop(sys), rb::OK);
    void *p1 = nullptr, *p2 = nullptr;
    std::uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(rb::Sound_Lock(ring, 0, static_cast<std::uint32_t>(std::min<std::uint64_t>(recorded, 48000 * 3)) * 4, &p1, &p2, &n1, &n2), rb::OK);
    std::vector<float> heard;
    for (std::uint32_t i = 0; p1 && i < n1 / 2; ++i) heard.push_back(static_cast<const std::int16_t*>(p1)[i] / 32768.0f);
    double best = 0;
    for (std::size_t f = 0; f + 4800 <= heard.size() / 2; f += 2400) best = std::max(best, toneLevel(heard, 0, 1000, 48000, f, 4800));
    EXPECT_GT(best, 0.3) << "the play after the rest was not heard";

    // The metronome wakes a resting stream, and keeps it going past five seconds.
    rested = false;
    for (int i = 0; i < 40 && !rested; ++i) {
        rb::System_Update(sys);
        const auto before = callbacks();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        rested = callbacks() == before;
    }
    ASSERT_TRUE(rested);
    const rb::Metronome clicks{true, 120, 4, 0.5f};
    ASSERT_EQ(rb::System_SetMetronome(sys, &clicks), rb::OK);
    const auto woken = callbacks();
    for (int i = 0; i < 100 && callbacks() == woken; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GT(callbacks(), woken) << "the clicks did not wake the stream";
    for (int i = 0; i < 14; ++i) {
        rb::System_Update(sys);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    const auto later = callbacks();
    for (int i = 0; i < 100 && callbacks() == later; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GT(callbacks(), later) << "the stream rested while the metronome clicked";
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

// ---- a PulseAudio server of the test's own, killed and restarted ----

using Clock = std::chrono::steady_clock;

double cpuSeconds() {
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
}

class DeviceLoss : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivatePulse::installed()) GTEST_SKIP() << "pulseaudio is not installed";
        ASSERT_TRUE(pulse.start()) << "the private PulseAudio server did not start";
        ASSERT_EQ(rb::System_Create(&sys), rb::OK);
        ASSERT_EQ(rb::System_SetOutput(sys, rb::OUTPUTTYPE_PULSEAUDIO), rb::OK);
    }
    void TearDown() override {
        if (sys != rb::System{}) {
            EXPECT_EQ(rb::System_Release(sys), rb::OK);
        }
    }
    void initOn(const std::string& device, int rate = 48000) {
        const int id = findDevice(sys, false, device);
        ASSERT_GE(id, 0) << device;
        ASSERT_EQ(rb::System_SetDriver(sys, id), rb::OK);
        ASSERT_EQ(rb::System_SetSoftwareFormat(sys, rate, rb::SOUND_FORMAT_PCM16, 0, 0, 1), rb::OK);
        ASSERT_EQ(rb::System_Init(sys, 64, 0, nullptr), rb::OK);
    }
    rb::Sound tone(double hz, double seconds, std::uint32_t mode) {
        const auto file = dir.path("tone" + std::to_string(files++) + ".wav");
        writeSound(file, 0x010002, 48000, 1, sine(hz, 48000, static_cast<int>(48000 * seconds), 0.5f));
        rb::Sound s{};
        EXPECT_EQ(rb::System_CreateSound(sys, file.c_str(), rb::MODE_SOFTWARE | mode, nullptr, &s), rb::OK);
        return s;
    }
    rb::OutputStats stats() {
        rb::OutputStats st{};
        EXPECT_EQ(rb::System_GetOutputStats(sys, &st, false), rb::OK);
        return st;
    }
    // Calls Update as the status timer does until pred holds; the results seen.
    template <typename P>
    std::vector<rb::Result> updateUntil(P pred, double seconds) {
        std::vector<rb::Result> seen;
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (!pred() && Clock::now() < end) {
            seen.push_back(rb::System_Update(sys));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return seen;
    }
    // A fresh null sink may hold the first writes for a couple of seconds.
    bool started() {
        updateUntil([&] { return stats().callbacks > 50; }, 30.0);
        return stats().callbacks > 50;
    }
    bool flowing() {
        const std::uint64_t before = stats().callbacks;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return stats().callbacks > before + 5;
    }
    // Records the monitor of `sink` until a quarter second holds hz at more than
    // 0.3 (a busy machine drops a little audio now and then), for at most 15 s;
    // the best level of hz in the quarter seconds heard.
    double hear(const std::string& sink, double hz) {
        const int rec = findDevice(sys, true, "Monitor of " + sink);
        EXPECT_GE(rec, 0);
        EXPECT_EQ(rb::System_SetRecordDriver(sys, rec), rb::OK);
        constexpr std::uint32_t kRing = 4 * 48000, kWindow = 12000;
        const rb::Sound ring = userSound(sys, rb::SOUND_FORMAT_PCM16, 2, 48000, kRing);
        EXPECT_EQ(rb::System_SetRecordSource(sys, rb::RECORD_SOURCE_DEVICE), rb::OK);
        EXPECT_EQ(rb::System_RecordStart(sys, ring, true), rb::OK);
        double best = 0;
        std::uint64_t frames = 0, looked = 0;
        updateUntil([&] {
            rb::System_GetRecordFrames(sys, &frames);
            if (frames < looked + kWindow) return false;
            looked = frames;
            std::uint32_t pos = 0;
            rb::System_GetRecordPosition(sys, &pos);
            void *p1 = nullptr, *p2 = nullptr;
            std::uint32_t n1 = 0, n2 = 0;
            EXPECT_EQ(rb::Sound_Lock(ring, (pos + kRing - kWindow) % kRing * 4, kWindow * 4, &p1, &p2, &n1, &n2), rb::OK);
            std::vector<float> heard;
            for (auto [p, n] : {std::pair{p1, n1}, std::pair{p2, n2}})
                for (std::uint32_t i = 0; p && i < n / 2; ++i) heard.push_back(static_cast<const std::int16_t*>(p)[i] / 32768.0f);
            best = std::max(best, toneLevel(heard, 0, hz, 48000));
            return best > 0.3;
        }, 15.0);
        rb::System_RecordStop(sys);
        rb::Sound_Release(ring);
        return best;
    }

    PrivatePulse pulse{{"Saida A", "Saida B"}};
    rb::System sys{};
    TempDir dir;
    int files = 0;
};

// The server dies under a playing loop: one report, no spinning, the loop
// keeps its time, and it is heard again once the server is back.
TEST_F(DeviceLoss, AKilledServerIsReportedOnceAndTheLoopComesBack) {
    initOn("Saida A");
    const rb::Sound loop = tone(1000, 1.0, rb::LOOP_NORMAL);
    rb::Channel c{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, loop, false, &c), rb::OK);
    ASSERT_TRUE(started()) << "the stream did not start";

    pulse.kill();
    std::vector<rb::Result> seen = updateUntil([&] { return stats().lost != 0; }, 30.0);
    ASSERT_EQ(stats().lost, 1u) << "the loss was not noticed";
    const double cpu0 = cpuSeconds();
    const auto wall0 = Clock::now();
    const auto more = updateUntil([] { return false; }, 1.5);
    seen.insert(seen.end(), more.begin(), more.end());
    const double cpuShare = (cpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - wall0).count();
    EXPECT_LT(cpuShare, 0.2) << "nothing spins while the device is away";
    EXPECT_EQ(std::count(seen.begin(), seen.end(), rb::ERR_OUTPUT_LOST), 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), rb::OK), static_cast<long>(seen.size()) - 1);
    bool playing = false;
    EXPECT_EQ(rb::Channel_IsPlaying(c, &playing), rb::OK);
    EXPECT_TRUE(playing) << "the loop and its handle survive";
    std::uint32_t before = 0, after = 0;
    rb::Channel_GetPosition(c, &before, rb::TIMEUNIT_MS);
    updateUntil([] { return false; }, 0.5);
    rb::Channel_GetPosition(c, &after, rb::TIMEUNIT_MS);
    EXPECT_NE(before, after) << "the engine keeps time while the device is away";

    ASSERT_TRUE(pulse.start());
    const auto back = updateUntil([&] { return stats().lost == 0 && flowing(); }, 30.0);
    ASSERT_EQ(stats().lost, 0u) << "the device was not reopened";
    EXPECT_EQ(std::count(back.begin(), back.end(), rb::ERR_OUTPUT_LOST), 0);
    EXPECT_GT(hear("Saida A", 1000), 0.3) << "the loop is heard again on the sink's monitor";
}

// A device change while the server is gone fails, and the engine neither
// claims a stream it does not have nor lets one-shots play forever; it gets
// its previous device back with the server.
TEST_F(DeviceLoss, AFailedDeviceChangeLeavesAConsistentEngine) {
    initOn("Saida A");
    const int a = findDevice(sys, false, "Saida A"), b = findDevice(sys, false, "Saida B");
    ASSERT_TRUE(started());
    pulse.kill();
    EXPECT_EQ(rb::System_SetDriver(sys, b), rb::ERR_OUTPUT_INIT);
    int driver = -1;
    ASSERT_EQ(rb::System_GetDriver(sys, &driver), rb::OK);
    EXPECT_EQ(driver, a) << "back to the previous device";
    const rb::Sound shortHit = tone(500, 0.3, rb::LOOP_OFF);
    rb::Channel c{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, shortHit, false, &c), rb::OK);
    bool playing = true;
    updateUntil([&] { return rb::Channel_IsPlaying(c, &playing) != rb::OK || !playing; }, 10.0);
    EXPECT_FALSE(playing) << "a one-shot ends on time without a device";
    ASSERT_TRUE(pulse.start());
    const rb::Sound loop = tone(700, 1.0, rb::LOOP_NORMAL);
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, loop, false, &c), rb::OK);
    updateUntil([&] { return stats().lost == 0 && flowing(); }, 30.0);
    ASSERT_EQ(stats().lost, 0u);
    EXPECT_GT(hear("Saida A", 700), 0.3);
}

// A rate PulseAudio does not take: the engine runs at the device's rate,
// says so once, and sounds keep their pitch.
TEST_F(DeviceLoss, TheDevicesRateWinsAndIsReportedOnce) {
    initOn("Saida A", 11025);
    int rate = 0;
    ASSERT_EQ(rb::System_GetSoftwareFormat(sys, &rate, nullptr), rb::OK);
    EXPECT_NE(rate, 11025);
    EXPECT_GE(rate, 44100);
    EXPECT_EQ(rb::System_Update(sys), rb::ERR_OUTPUT_RATE);
    EXPECT_EQ(rb::System_Update(sys), rb::OK);
    const rb::Sound loop = tone(1000, 1.0, rb::LOOP_NORMAL);
    rb::Channel c{};
    ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, loop, false, &c), rb::OK);
    EXPECT_GT(hear("Saida A", 1000), 0.3);
}

// Recording the mix opens no input stream: the server sees no recording client.
TEST_F(DeviceLoss, RecordingTheMixNeedsNoRecordingDevice) {
    initOn("Saida B");
    const rb::Sound ring = userSound(sys, rb::SOUND_FORMAT_PCM16, 2, 48000, 48000);
    ASSERT_EQ(rb::System_SetRecordSource(sys, rb::RECORD_SOURCE_MIX), rb::OK);
    ASSERT_EQ(rb::System_RecordStart(sys, ring, true), rb::OK);
    std::uint64_t frames = 0;
    updateUntil([&] { rb::System_GetRecordFrames(sys, &frames); return frames > 4800; }, 8.0);
    EXPECT_GT(frames, 4800u);
    EXPECT_EQ(pulse.pactl("list short source-outputs"), "");
    EXPECT_NE(pulse.pactl("list short sink-inputs"), "");
}

}  // namespace
