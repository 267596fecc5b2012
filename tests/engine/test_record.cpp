// User-created sounds, the record ring and its lock regions.
#include "fixtures.h"

#include <cstring>

using namespace rbtest;

namespace {

class Record : public NullEngine {
protected:
    // The recording buffer the program makes: two seconds of 16-bit stereo.
    rb::Sound makeRing(int rate = kRate) {
        rb::CreateSoundExInfo info{};
        info.cbsize = sizeof info;
        info.numchannels = 2;
        info.defaultfrequency = rate;
        info.format = rb::SOUND_FORMAT_PCM16;
        info.length = static_cast<std::uint32_t>(rate * 8);
        rb::Sound s{};
        EXPECT_EQ(rb::System_CreateSound(sys, nullptr, 0x448, &info, &s), rb::OK);
        return s;
    }
    static std::vector<std::int16_t> pattern(std::uint32_t firstFrame, std::uint32_t frames) {
        std::vector<std::int16_t> v(2 * frames);
        for (std::uint32_t i = 0; i < frames; ++i) {
            v[2 * i] = static_cast<std::int16_t>((firstFrame + i) % 30000);
            v[2 * i + 1] = static_cast<std::int16_t>(-static_cast<int>((firstFrame + i) % 30000));
        }
        return v;
    }
};

TEST_F(Record, UserSoundReportsTheRecordItWasMadeFrom) {
    const rb::Sound ring = makeRing();
    int type = 0, format = 0, channels = 0, bits = 0;
    ASSERT_EQ(rb::Sound_GetFormat(ring, &type, &format, &channels, &bits), rb::OK);
    EXPECT_EQ(type, rb::SOUND_TYPE_USER);
    EXPECT_EQ(format, rb::SOUND_FORMAT_PCM16);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(bits, 16);
    std::uint32_t frames = 0, bytes = 0, ms = 0;
    rb::Sound_GetLength(ring, &frames, rb::TIMEUNIT_PCM);
    rb::Sound_GetLength(ring, &bytes, rb::TIMEUNIT_PCMBYTES);
    rb::Sound_GetLength(ring, &ms, rb::TIMEUNIT_MS);
    EXPECT_EQ(frames, 96000u);
    EXPECT_EQ(bytes, 384000u);
    EXPECT_EQ(ms, 2000u);
    float freq = 0;
    rb::Sound_GetDefaults(ring, &freq, nullptr, nullptr, nullptr);
    EXPECT_EQ(freq, 48000.0f);
}

TEST_F(Record, BadExtraInfoIsRefused) {
    rb::CreateSoundExInfo info{};
    info.cbsize = 80;
    info.numchannels = 2;
    info.defaultfrequency = kRate;
    info.format = rb::SOUND_FORMAT_PCM16;
    info.length = 1000;
    rb::Sound s{};
    EXPECT_EQ(rb::System_CreateSound(sys, nullptr, 0x448, &info, &s), rb::ERR_INVALID_PARAM);
    info.cbsize = sizeof info;
    info.format = 9;
    EXPECT_EQ(rb::System_CreateSound(sys, nullptr, 0x448, &info, &s), rb::ERR_FORMAT);
    info.format = rb::SOUND_FORMAT_PCM16;
    info.length = 3;
    EXPECT_EQ(rb::System_CreateSound(sys, nullptr, 0x448, &info, &s), rb::ERR_INVALID_PARAM);
    EXPECT_EQ(rb::System_CreateSound(sys, nullptr, 0x448, nullptr, &s), rb::ERR_INVALID_PARAM);
    EXPECT_EQ(s, rb::Sound{});
}

TEST_F(Record, LockHandsOutOneOrTwoRegions) {
    const rb::Sound ring = makeRing();
    void *p1 = nullptr, *p2 = nullptr;
    std::uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(rb::Sound_Lock(ring, 400, 1000, &p1, &p2, &n1, &n2), rb::OK);
    EXPECT_EQ(n1, 1000u);
    EXPECT_EQ(p2, nullptr);
    EXPECT_EQ(n2, 0u);
    void* start = p1;
    ASSERT_EQ(rb::Sound_Lock(ring, 0, 4, &p1, &p2, &n1, &n2), rb::OK);
    EXPECT_EQ(static_cast<char*>(start) - static_cast<char*>(p1), 400);
    void* base = p1;
    // A span across the end continues at the start.
    ASSERT_EQ(rb::Sound_Lock(ring, 384000 - 100, 300, &p1, &p2, &n1, &n2), rb::OK);
    EXPECT_EQ(static_cast<char*>(p1) - static_cast<char*>(base), 384000 - 100);
    EXPECT_EQ(n1, 100u);
    EXPECT_EQ(p2, base);
    EXPECT_EQ(n2, 200u);
    ASSERT_EQ(rb::Sound_Unlock(ring, p1, p2, n1, n2), rb::OK);
    EXPECT_EQ(rb::Sound_Lock(ring, 384000, 4, &p1, &p2, &n1, &n2), rb::ERR_INVALID_PARAM);
}

// The recorder copies what the ring gained since its last look, in one or
// two pieces, as the program's recording timer does.
TEST_F(Record, RingPositionWrapsAndTheCopiedAudioIsExactlyWhatWasRecorded) {
    const rb::Sound ring = makeRing();
    ASSERT_EQ(rb::System_RecordStart(sys, ring, true), rb::OK);
    bool recording = false;
    ASSERT_EQ(rb::System_IsRecording(sys, &recording), rb::OK);
    EXPECT_TRUE(recording);
    std::vector<std::int16_t> copied;
    std::uint32_t last = 0, fed = 0;
    int twoPieceCopies = 0;
    const std::uint32_t length = 96000;
    for (std::uint32_t chunk : {30000u, 50000u, 40000u, 95000u, 1u, 20000u}) {
        const auto data = pattern(fed, chunk);
        ASSERT_EQ(rb::System_FeedNullRecord(sys, data.data(), chunk), rb::OK);
        fed += chunk;
        std::uint32_t pos = 0;
        ASSERT_EQ(rb::System_GetRecordPosition(sys, &pos), rb::OK);
        EXPECT_EQ(pos, fed % length);
        std::int64_t frames = static_cast<std::int64_t>(pos) - last;
        if (frames < 0) frames += length;
        void *p1 = nullptr, *p2 = nullptr;
        std::uint32_t n1 = 0, n2 = 0;
        ASSERT_EQ(rb::Sound_Lock(ring, last * 4, static_cast<std::uint32_t>(frames) * 4, &p1, &p2, &n1, &n2), rb::OK);
        const auto append = [&](void* p, std::uint32_t n) {
            const auto* s = static_cast<const std::int16_t*>(p);
            copied.insert(copied.end(), s, s + n / 2);
        };
        if (p1 && n1) append(p1, n1);
        if (p2 && n2) { append(p2, n2); ++twoPieceCopies; }
        rb::Sound_Unlock(ring, p1, p2, n1, n2);
        last = pos;
    }
    EXPECT_GE(twoPieceCopies, 2);
    EXPECT_EQ(copied, pattern(0, fed));
    ASSERT_EQ(rb::System_RecordStop(sys), rb::OK);
    ASSERT_EQ(rb::System_IsRecording(sys, &recording), rb::OK);
    EXPECT_FALSE(recording);
    const auto more = pattern(0, 10);
    EXPECT_EQ(rb::System_FeedNullRecord(sys, more.data(), 10), rb::ERR_RECORD);
}

TEST_F(Record, WithoutLoopRecordingStopsAtTheEnd) {
    const rb::Sound ring = makeRing();
    ASSERT_EQ(rb::System_RecordStart(sys, ring, false), rb::OK);
    const auto data = pattern(0, 100000);
    ASSERT_EQ(rb::System_FeedNullRecord(sys, data.data(), 100000), rb::OK);
    bool recording = true;
    rb::System_IsRecording(sys, &recording);
    EXPECT_FALSE(recording);
    std::uint32_t pos = 0;
    rb::System_GetRecordPosition(sys, &pos);
    EXPECT_EQ(pos, 96000u);
}

TEST_F(Record, ReleasingTheRingStopsTheRecording) {
    const rb::Sound ring = makeRing();
    ASSERT_EQ(rb::System_RecordStart(sys, ring, true), rb::OK);
    ASSERT_EQ(rb::Sound_Release(ring), rb::OK);
    bool recording = true;
    rb::System_IsRecording(sys, &recording);
    EXPECT_FALSE(recording);
    EXPECT_EQ(rb::System_RecordStart(sys, ring, true), rb::ERR_INVALID_HANDLE);
}

TEST_F(Record, AUserSoundPlaysItsSamples) {
    const rb::Sound ring = makeRing();
    void *p1 = nullptr, *p2 = nullptr;
    std::uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(rb::Sound_Lock(ring, 0, 384000, &p1, &p2, &n1, &n2), rb::OK);
    auto* pcm = static_cast<std::int16_t*>(p1);
    for (std::uint32_t i = 0; i < n1 / 4; ++i) { pcm[2 * i] = 16384; pcm[2 * i + 1] = -8192; }
    rb::Sound_Unlock(ring, p1, p2, n1, n2);
    play(ring);
    const auto out = render(16);
    EXPECT_FLOAT_EQ(out[0], 0.5f);
    EXPECT_FLOAT_EQ(out[1], -0.25f);
}

}  // namespace
