// The metronome's clicks, made and placed on the audio side: each beat starts
// on its exact frame, counted from the frame the metronome was turned on, so
// it never drifts against the output's clock. Settings reach it through one
// atomic word; a new tempo or bar length takes effect on the next beat.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace rb::detail {

struct MetronomeSettings {
    bool on = false;
    int bpm = 120;         // 30 to 300
    int beatsPerBar = 4;   // 1 to 12
    float volume = 0.7f;   // 0 to 1

    // One word, so the audio side never reads half a change.
    std::uint64_t pack() const noexcept;
    static MetronomeSettings unpack(std::uint64_t word) noexcept;
};

class ClickTrack {
public:
    // Control thread, while no other thread drives the mixer: the two clicks
    // for this rate.
    void configure(int rate);
    // Audio side: adds the clicks of the next `frames` frames to out (stereo).
    void mix(float* out, int frames, std::uint64_t settingsWord) noexcept;

private:
    void beat(std::int64_t at, const MetronomeSettings& s) noexcept;

    int rate_ = 48000;
    std::vector<float> accent_, plain_;  // mono, peak 1 and about 0.75
    bool running_ = false;
    std::int64_t frame_ = 0;       // frames mixed since it was turned on
    std::int64_t anchor_ = 0;      // the beat the present tempo counts from
    std::int64_t count_ = 0;       // beats since the anchor
    std::int64_t next_ = 0;        // frame of the next beat
    int bpm_ = 120;
    int beatInBar_ = 0;            // of the next beat; 0 is accented
    const std::vector<float>* click_ = nullptr;
    std::size_t clickPos_ = 0;
    float clickGain_ = 0.0f;
};

}  // namespace rb::detail
