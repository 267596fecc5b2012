// Playing and silencing keys: the path from a key press to the engine. No
// allocation and no file access here; errors are the exception.
#include "kit/soundcore.h"

#include <cmath>

namespace rimbal {

bool SoundCore::IsChannelPlaying(rb::Channel channel) {
    if (channel == rb::Channel{}) return false;
    bool playing = false;
    const rb::Result r = rb::Channel_IsPlaying(channel, &playing);
    LastResult = r;
    if (r != rb::OK && r != rb::ERR_INVALID_HANDLE && r != rb::ERR_CHANNEL_STOLEN) CheckResult(r);
    return r == rb::OK && playing;
}

void SoundCore::SeedLayers(std::uint64_t seed) {
    LayerChoice.Seed(seed);
    for (TAG_SOUND_DATA& r : KeySounds) r.layers.last = -1;
}

void SoundCore::PlayKey(std::uint16_t key, float volumeFactor, float velocity, std::int64_t momentNs) {
    const bool routeEffects = (settings_.SoundMode & rb::MODE_SOFTWARE) && settings_.UseEffects;
    const int count = ScanCount();
    for (int i = 0; i < count; ++i) {
        TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(i)];
        if (r.sound == rb::Sound{}) continue;
        if (key == r.playKey) {
            if (r.noInterrupt && IsChannelPlaying(r.channels[0])) return;
            int slot = -1;
            for (int s = 0; s < kSlots && slot < 0; ++s)
                if (!IsChannelPlaying(r.channels[static_cast<std::size_t>(s)])) slot = s;
            if (slot < 0) continue;  // all fifteen sound: a later key may take it
            rb::Channel& ch = r.channels[static_cast<std::size_t>(slot)];
            rb::Sound sound = r.sound;
            float gain = 1.0f, pan = 0.0f;
            if (r.layers.count > 0) {
                const int layer = ChooseLayer(r.layers, velocity < 0.0f ? Layers.Velocity : velocity, LayerChoice);
                const KeyLayer& l = r.layers.layer[static_cast<std::size_t>(layer)];
                sound = l.sound;
                gain = l.gain;
                pan = l.pan;
                r.layers.last = layer;
            }
            // Started paused, so it never sounds with the wrong settings.
            CheckResult(rb::System_PlaySound(SoundSystem, rb::CHANNEL_FREE, sound, true, &ch));
            // A huge volume times a silent layer is NaN, which the engine refuses.
            const float volume = r.volume * gain * volumeFactor;
            CheckResult(rb::Channel_SetVolume(ch, std::isnan(volume) ? 0.0f : volume));
            if (pan != 0.0f) CheckResult(rb::Channel_SetPan(ch, pan));
            if (routeEffects) CheckResult(rb::Channel_SetChannelGroup(ch, r.group));
            if (momentNs != 0) CheckResult(rb::Channel_SetStartTime(ch, momentNs));
            CheckResult(rb::Channel_SetPaused(ch, false));
            ++PlayCount;
            return;
        }
        if (r.stopKey != 0 && key == r.stopKey) {
            for (int s = kSlots - 1; s >= 0; --s) {
                rb::Channel ch = r.channels[static_cast<std::size_t>(s)];
                if (!IsChannelPlaying(ch)) continue;
                CheckResult(rb::Channel_Stop(ch));
                if (!r.stopAll) return;
            }
        }
    }
}

}  // namespace rimbal
