// The metronome a drummer practises to: tempo, beats per bar and volume, kept
// in the settings, and the engine's clicks turned on and off. It is off at
// every start. GUI thread.
#pragma once

namespace rimbal {

class SoundCore;

class MetronomeControl {
public:
    static constexpr int kMinBpm = 30, kMaxBpm = 300;
    static constexpr int kMinBeats = 1, kMaxBeats = 12;
    static constexpr int kMaxVolume = 100;

    explicit MetronomeControl(SoundCore& core) : core_(core) {}

    bool IsOn() const { return on_; }
    int Tempo() const;
    int Beats() const;
    int Volume() const;
    // False, and nothing changes, when the engine refuses.
    bool SetOn(bool on);
    // False, and nothing changes, for a value out of its range.
    bool SetTempo(int bpm);
    bool SetBeats(int beats);
    bool SetVolume(int percent);

private:
    bool apply(bool on, int bpm, int beats, int volume);

    SoundCore& core_;
    bool on_ = false;
};

}  // namespace rimbal
