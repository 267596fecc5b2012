// Shared helpers of the engine tests: a null-output engine, a scratch folder,
// sound files written with libsndfile, and small signal measurements.
#pragma once

#include "rbcore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace rbtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path path(const std::string& name) const { return dir_ / name; }

private:
    std::filesystem::path dir_;
};

// Writes interleaved samples with libsndfile; sfFormat is SF_FORMAT_* major|subtype.
void writeSound(const std::filesystem::path& file, int sfFormat, int rate, int channels,
                const std::vector<float>& samples);

std::vector<float> sine(double hz, int rate, int frames, float amplitude = 0.5f, int channels = 1);
std::vector<float> impulse(int frames);

// Goertzel magnitude of one channel of interleaved stereo at hz, normalised to amplitude.
double toneLevel(const std::vector<float>& stereo, int channel, double hz, int rate,
                 std::size_t first = 0, std::size_t count = 0);
double rms(const std::vector<float>& stereo, std::size_t firstFrame, std::size_t frames);
float peak(const std::vector<float>& stereo, std::size_t firstFrame = 0, std::size_t frames = 0);

std::string pluginName(rb::System sys, int dspIndex);

// A user sound (the recording ring's kind) of `frames` zeroed frames.
rb::Sound userSound(rb::System sys, int format, int channels, int rate, std::uint32_t frames,
                    std::uint32_t mode = 0x448);

// A null-output engine at 48 kHz, initialised.
class NullEngine : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::vector<float> render(unsigned frames);
    rb::Sound load(const std::filesystem::path& file, std::uint32_t mode = rb::LOOP_OFF);
    // Writes a float WAV of the given mono samples and loads it.
    rb::Sound loadSamples(const std::vector<float>& mono, int rate = 48000,
                          std::uint32_t mode = rb::LOOP_OFF);
    rb::Channel play(rb::Sound s, float volume = 1.0f, rb::ChannelGroup group = {});
    bool playing(rb::Channel c);

    static constexpr int kRate = 48000;
    rb::System sys{};
    TempDir dir;
    int fileCounter = 0;
};

}  // namespace rbtest
