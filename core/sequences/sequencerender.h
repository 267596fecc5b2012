// Rendering a key sequence to a WAV file on the engine's null output: every
// key goes through PlayKey at the exact sample frame of its time. GUI thread.
#pragma once

#include <QString>

#include <cstdint>

namespace rimbal {

class SoundCore;

struct RenderResult {
    int rate = 0;
    std::uint64_t frames = 0;           // written to the file
    std::uint64_t sequenceFrames = 0;   // the length of the sequence itself
    int keys = 0;                       // keys passed to PlayKey
};

// core's engine must be initialised on the null output with its key table
// built. text is a checked sequence text. Renders at least the sequence's
// length and on until no channel plays and the output is silent, at most ten
// seconds longer; writes 16-bit stereo at the mixer rate.
bool RenderSequence(SoundCore& core, const QString& text, const QString& wavPath, RenderResult& result,
                    QString& error);

// The frame at which a key sounds: the milliseconds before it at the rate,
// rounded down.
inline std::uint64_t FrameAt(std::uint64_t milliseconds, int rate) {
    return milliseconds * static_cast<std::uint64_t>(rate) / 1000;
}

}  // namespace rimbal
