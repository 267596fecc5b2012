// Turning the engine's metronome on and off and keeping its values.
#include "metronome/metronome.h"

#include "kit/soundcore.h"

namespace rimbal {

bool MetronomeControl::apply(bool on, int bpm, int beats, int volume) {
    if (bpm < kMinBpm || bpm > kMaxBpm || beats < kMinBeats || beats > kMaxBeats || volume < 0 || volume > kMaxVolume)
        return false;
    const rb::Metronome m{on, bpm, beats, static_cast<float>(volume) / kMaxVolume};
    // Without an engine there is nothing to hear yet; the values are still kept.
    if (core_.SoundSystem != rb::System{} && rb::System_SetMetronome(core_.SoundSystem, &m) != rb::OK) return false;
    Settings& s = core_.settings();
    s.Metronome_BPM = bpm;
    s.Metronome_Beats = beats;
    s.Metronome_Volume = volume;
    on_ = on;
    return true;
}

int MetronomeControl::Tempo() const { return core_.settings().Metronome_BPM; }
int MetronomeControl::Beats() const { return core_.settings().Metronome_Beats; }
int MetronomeControl::Volume() const { return core_.settings().Metronome_Volume; }

bool MetronomeControl::SetOn(bool on) {
    const Settings& s = core_.settings();
    return apply(on, s.Metronome_BPM, s.Metronome_Beats, s.Metronome_Volume);
}

bool MetronomeControl::SetTempo(int bpm) {
    const Settings& s = core_.settings();
    return apply(on_, bpm, s.Metronome_Beats, s.Metronome_Volume);
}

bool MetronomeControl::SetBeats(int beats) {
    const Settings& s = core_.settings();
    return apply(on_, s.Metronome_BPM, beats, s.Metronome_Volume);
}

bool MetronomeControl::SetVolume(int percent) {
    const Settings& s = core_.settings();
    return apply(on_, s.Metronome_BPM, s.Metronome_Beats, percent);
}

}  // namespace rimbal
