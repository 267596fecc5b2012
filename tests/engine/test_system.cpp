// The system object: version, plug-in lists, devices, life cycle, errors.
#include "fixtures.h"

#include <cstring>
#include <set>

using namespace rbtest;

namespace {

TEST(System, VersionAndPluginLists) {
    rb::System sys{};
    ASSERT_EQ(rb::System_Create(&sys), rb::OK);
    std::uint32_t version = 0;
    ASSERT_EQ(rb::System_GetVersion(sys, &version), rb::OK);
    EXPECT_EQ(version, rb::kVersion);

    const auto names = [&](int type) {
        int n = 0;
        EXPECT_EQ(rb::System_GetNumPlugins(sys, type, &n), rb::OK);
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i) {
            char name[256];
            std::memset(name, 'x', sizeof name);
            EXPECT_EQ(rb::System_GetPluginInfo(sys, type, i, name, sizeof name, nullptr), rb::OK);
            out.emplace_back(name);
        }
        char name[8];
        EXPECT_EQ(rb::System_GetPluginInfo(sys, type, n, name, sizeof name, nullptr), rb::ERR_PLUGIN_MISSING);
        return out;
    };
    EXPECT_EQ(names(rb::PLUGINTYPE_OUTPUT), (std::vector<std::string>{"PulseAudio", "ALSA", "JACK"}));
    const auto codecs = names(rb::PLUGINTYPE_CODEC);
    EXPECT_GE(codecs.size(), 6u);
    const auto dsp = names(rb::PLUGINTYPE_DSP);
    ASSERT_EQ(dsp.size(), 16u);
    const std::set<std::string> distinct(dsp.begin(), dsp.end());
    EXPECT_EQ(distinct.size(), 16u);
    for (const auto& n : dsp) EXPECT_FALSE(n.empty());
    int n = 0;
    EXPECT_EQ(rb::System_GetNumPlugins(sys, 7, &n), rb::ERR_INVALID_PARAM);

    // A small buffer gets a cut, terminated name.
    char tiny[4];
    ASSERT_EQ(rb::System_GetPluginInfo(sys, rb::PLUGINTYPE_OUTPUT, 0, tiny, sizeof tiny, nullptr), rb::OK);
    EXPECT_STREQ(tiny, "Pul");
    ASSERT_EQ(rb::System_Release(sys), rb::OK);
    EXPECT_EQ(rb::System_GetVersion(sys, &version), rb::ERR_INVALID_HANDLE);
}

TEST(System, LifeCycleRules) {
    rb::System sys{};
    ASSERT_EQ(rb::System_Create(&sys), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(sys, rb::OUTPUTTYPE_NULL), rb::OK);
    EXPECT_EQ(rb::System_SetOutput(sys, 8), rb::ERR_INVALID_PARAM);
    TempDir dir;
    const auto file = dir.path("a.wav");
    writeSound(file, 0x010002 /* WAV PCM16 */, 48000, 1, sine(100, 48000, 480));
    rb::Sound s{};
    EXPECT_EQ(rb::System_CreateSound(sys, file.c_str(), 0x48, nullptr, &s), rb::ERR_UNINITIALIZED);
    EXPECT_EQ(rb::System_Update(sys), rb::OK) << "the status timer runs while the engine is closed";
    EXPECT_EQ(rb::System_SetSoftwareFormat(sys, 48000, rb::SOUND_FORMAT_PCM16, 0, 0, 1), rb::OK);
    EXPECT_EQ(rb::System_SetSoftwareFormat(sys, 100, rb::SOUND_FORMAT_PCM16, 0, 0, 1), rb::ERR_INVALID_PARAM);
    ASSERT_EQ(rb::System_Init(sys, 64, 0, nullptr), rb::OK);
    EXPECT_EQ(rb::System_Init(sys, 64, 0, nullptr), rb::ERR_INITIALIZED);
    EXPECT_EQ(rb::System_SetSoftwareFormat(sys, 44100, rb::SOUND_FORMAT_PCM16, 0, 0, 1), rb::ERR_INITIALIZED);
    EXPECT_EQ(rb::System_SetOutput(sys, rb::OUTPUTTYPE_PULSEAUDIO), rb::ERR_INITIALIZED);
    ASSERT_EQ(rb::System_CreateSound(sys, file.c_str(), 0x48, nullptr, &s), rb::OK);
    ASSERT_EQ(rb::System_Close(sys), rb::OK);
    ASSERT_EQ(rb::System_Close(sys), rb::OK);
    ASSERT_EQ(rb::System_Init(sys, 64, 0, nullptr), rb::OK);
    rb::Channel c{};
    EXPECT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, false, &c), rb::OK) << "sounds outlive a close";
    ASSERT_EQ(rb::System_Release(sys), rb::OK);
    EXPECT_EQ(rb::Sound_Release(s), rb::ERR_INVALID_HANDLE) << "released with the system";
}

TEST(System, NullOutputDevicesAndPluginPath) {
    rb::System sys{};
    ASSERT_EQ(rb::System_Create(&sys), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(sys, rb::OUTPUTTYPE_NULL), rb::OK);
    int n = 0;
    ASSERT_EQ(rb::System_GetNumDrivers(sys, &n), rb::OK);
    EXPECT_EQ(n, 1);
    ASSERT_EQ(rb::System_GetRecordNumDrivers(sys, &n), rb::OK);
    EXPECT_EQ(n, 1);
    char name[256] = {};
    ASSERT_EQ(rb::System_GetDriverName(sys, 0, name, sizeof name), rb::OK);
    EXPECT_STRNE(name, "");
    EXPECT_EQ(rb::System_GetDriverName(sys, 1, name, sizeof name), rb::ERR_INVALID_PARAM);
    EXPECT_EQ(rb::System_SetDriver(sys, 1), rb::ERR_INVALID_PARAM);
    EXPECT_EQ(rb::System_SetDriver(sys, 0), rb::OK);
    EXPECT_EQ(rb::System_SetRecordDriver(sys, 0), rb::OK);
    TempDir dir;
    EXPECT_EQ(rb::System_SetPluginPath(sys, dir.path("").c_str()), rb::OK);
    EXPECT_EQ(rb::System_SetPluginPath(sys, dir.path("nope").c_str()), rb::ERR_FILE_NOTFOUND);
    ASSERT_EQ(rb::System_Release(sys), rb::OK);
}

TEST(System, InvalidHandlesAnswer35) {
    bool b = true;
    EXPECT_EQ(rb::Channel_IsPlaying(rb::Channel{}, &b), rb::ERR_INVALID_HANDLE);
    EXPECT_FALSE(b);
    EXPECT_EQ(rb::Channel_IsPlaying(static_cast<rb::Channel>(0xDEADBEEF), &b), rb::ERR_INVALID_HANDLE);
    EXPECT_EQ(rb::Sound_Release(static_cast<rb::Sound>(0x12345678)), rb::ERR_INVALID_HANDLE);
    EXPECT_EQ(rb::ChannelGroup_Release(rb::ChannelGroup{}), rb::ERR_INVALID_HANDLE);
    EXPECT_EQ(rb::DSP_Remove(static_cast<rb::Dsp>(7)), rb::ERR_INVALID_HANDLE);
    EXPECT_EQ(rb::System_Close(rb::System{}), rb::ERR_INVALID_HANDLE);
}

TEST(System, EveryErrorHasAPortugueseSentence) {
    EXPECT_STREQ(rb::ErrorString(rb::ERR_INVALID_HANDLE), "Referência inválida: o objeto não existe mais.");
    EXPECT_STREQ(rb::ErrorString(rb::ERR_CHANNEL_STOLEN), "O canal foi tomado por outro som.");
    EXPECT_STREQ(rb::ErrorString(-5), "Erro desconhecido da engine.");
    EXPECT_STREQ(rb::ErrorString(9999), "Erro desconhecido da engine.");
    for (int code = 1; code < 100; ++code) EXPECT_GT(std::strlen(rb::ErrorString(code)), 5u) << code;
}

}  // namespace
