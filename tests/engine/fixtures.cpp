// The engine tests' helpers: scratch folders, sound files written with
// libsndfile, signal measurements.
#include "fixtures.h"

#include <sndfile.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <unistd.h>

namespace rbtest {

TempDir::TempDir() {
    static std::atomic<int> n{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("rbtest-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
    std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void writeSound(const std::filesystem::path& file, int sfFormat, int rate, int channels,
                const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = sfFormat;
    SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr) << " " << file;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    EXPECT_EQ(sf_writef_float(f, samples.data(), frames), frames);
    sf_close(f);
}

std::vector<float> sine(double hz, int rate, int frames, float amplitude, int channels) {
    std::vector<float> out(static_cast<std::size_t>(frames * channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            out[static_cast<std::size_t>(i * channels + c)] =
                amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * hz * i / rate));
    return out;
}

std::vector<float> impulse(int frames) {
    std::vector<float> out(static_cast<std::size_t>(frames), 0.0f);
    out[0] = 1.0f;
    return out;
}

double toneLevel(const std::vector<float>& stereo, int channel, double hz, int rate, std::size_t first,
                 std::size_t count) {
    const std::size_t total = stereo.size() / 2;
    if (count == 0 || first + count > total) count = total - first;
    const double w = 2 * std::numbers::pi * hz / rate;
    double re = 0, im = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = stereo[2 * (first + i) + static_cast<std::size_t>(channel)];
        re += x * std::cos(w * static_cast<double>(i));
        im -= x * std::sin(w * static_cast<double>(i));
    }
    return 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(count);
}

double rms(const std::vector<float>& stereo, std::size_t firstFrame, std::size_t frames) {
    double sum = 0;
    for (std::size_t i = 2 * firstFrame; i < 2 * (firstFrame + frames) && i < stereo.size(); ++i)
        sum += static_cast<double>(stereo[i]) * stereo[i];
    return frames ? std::sqrt(sum / static_cast<double>(2 * frames)) : 0.0;
}

float peak(const std::vector<float>& stereo, std::size_t firstFrame, std::size_t frames) {
    if (frames == 0) frames = stereo.size() / 2 - firstFrame;
    float p = 0;
    for (std::size_t i = 2 * firstFrame; i < 2 * (firstFrame + frames) && i < stereo.size(); ++i)
        p = std::max(p, std::fabs(stereo[i]));
    return p;
}

std::string pluginName(rb::System sys, int dspIndex) {
    char name[256] = {};
    rb::System_GetPluginInfo(sys, rb::PLUGINTYPE_DSP, dspIndex, name, sizeof name, nullptr);
    return name;
}

rb::Sound userSound(rb::System sys, int format, int channels, int rate, std::uint32_t frames, std::uint32_t mode) {
    const std::uint32_t bytes = format == rb::SOUND_FORMAT_PCM8 ? 1 : format == rb::SOUND_FORMAT_PCM16 ? 2
                                : format == rb::SOUND_FORMAT_PCM24                                   ? 3
                                                                                                     : 4;
    rb::CreateSoundExInfo info{};
    info.cbsize = sizeof info;
    info.numchannels = channels;
    info.defaultfrequency = rate;
    info.format = format;
    info.length = frames * static_cast<std::uint32_t>(channels) * bytes;
    rb::Sound s{};
    EXPECT_EQ(rb::System_CreateSound(sys, nullptr, mode, &info, &s), rb::OK);
    return s;
}

void NullEngine::SetUp() {
    ASSERT_EQ(rb::System_Create(&sys), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(sys, rb::OUTPUTTYPE_NULL), rb::OK);
    ASSERT_EQ(rb::System_SetSoftwareFormat(sys, kRate, rb::SOUND_FORMAT_PCM16, 0, 0, rb::DSP_RESAMPLER_LINEAR), rb::OK);
    ASSERT_EQ(rb::System_Init(sys, 64, rb::INIT_NORMAL, nullptr), rb::OK);
}

void NullEngine::TearDown() {
    if (sys != rb::System{}) {
        EXPECT_EQ(rb::System_Release(sys), rb::OK);
    }
}

std::vector<float> NullEngine::render(unsigned frames) {
    std::vector<float> out(2 * static_cast<std::size_t>(frames), -99.0f);
    EXPECT_EQ(rb::System_RenderNull(sys, out.data(), frames), rb::OK);
    return out;
}

rb::Sound NullEngine::load(const std::filesystem::path& file, std::uint32_t mode) {
    rb::Sound s{};
    EXPECT_EQ(rb::System_CreateSound(sys, file.c_str(), rb::MODE_SOFTWARE | rb::MODE_2D | mode, nullptr, &s), rb::OK)
        << file;
    return s;
}

rb::Sound NullEngine::loadSamples(const std::vector<float>& mono, int rate, std::uint32_t mode) {
    const auto file = dir.path("s" + std::to_string(fileCounter++) + ".wav");
    writeSound(file, SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, 1, mono);
    return load(file, mode);
}

rb::Channel NullEngine::play(rb::Sound s, float volume, rb::ChannelGroup group) {
    rb::Channel c{};
    EXPECT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, true, &c), rb::OK);
    EXPECT_EQ(rb::Channel_SetVolume(c, volume), rb::OK);
    if (group != rb::ChannelGroup{}) {
        EXPECT_EQ(rb::Channel_SetChannelGroup(c, group), rb::OK);
    }
    EXPECT_EQ(rb::Channel_SetPaused(c, false), rb::OK);
    return c;
}

bool NullEngine::playing(rb::Channel c) {
    bool p = false;
    rb::Channel_IsPlaying(c, &p);
    return p;
}

}  // namespace rbtest
