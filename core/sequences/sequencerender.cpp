// A key sequence rendered to a WAV file on the null output, sample-exact.
#include "sequences/sequencerender.h"

#include "kit/soundcore.h"
#include "base/textroutines.h"
#include "recording/wav.h"

#include <QStringView>

#include <algorithm>
#include <cmath>
#include <vector>

namespace rimbal {
namespace {

constexpr std::uint64_t kChunk = 4096;
// Plays on one frame drain the engine's command queue every so often, so a
// long run of zero intervals never fills it.
constexpr int kPlaysPerDrain = 256;
// Below half a step of 16 bits: silent in the file.
constexpr float kSilence = 0.5f / 32768.0f;

}  // namespace

bool RenderSequence(SoundCore& core, const QString& text, const QString& wavPath, RenderResult& result,
                    QString& error) {
    result = {};
    const rb::System system = core.SoundSystem;
    int rate = 0;
    if (system == rb::System{} || rb::System_GetSoftwareFormat(system, &rate, nullptr) != rb::OK || rate <= 0) {
        error = QStringLiteral("A engine de som não foi iniciada.");
        return false;
    }
    result.rate = rate;
    core.SeedLayers(1);  // the same layers on every render of a sequence
    WavWriter wav(wavPath, rate);
    if (!wav.open()) {
        error = wav.errorText();
        return false;
    }

    std::vector<float> buffer(2 * kChunk);
    std::uint64_t frame = 0;
    bool lastChunkSilent = true;
    rb::Result failed = rb::OK;
    const auto renderTo = [&](std::uint64_t target) {
        while (frame < target && failed == rb::OK) {
            const auto n = static_cast<unsigned>(std::min(kChunk, target - frame));
            failed = rb::System_RenderNull(system, buffer.data(), n);
            if (failed != rb::OK) break;
            if (!wav.writeFloat(buffer.data(), n)) return false;
            lastChunkSilent = std::all_of(buffer.begin(), buffer.begin() + 2 * n,
                                          [](float v) { return std::fabs(v) < kSilence; });
            frame += n;
        }
        return failed == rb::OK;
    };
    const auto stop = [&] {
        error = failed != rb::OK ? SoundCore::ErrorText(failed) : wav.errorText();
        return false;
    };

    // The same reading as the player's: key, interval, key, ... up to the
    // first empty key field.
    std::uint64_t ms = 0;
    std::uint64_t lastFrame = ~std::uint64_t{0};
    int playsOnFrame = 0;
    const auto fields = QStringView(text).split(u'*');
    for (qsizetype i = 0; i < fields.size(); i += 2) {
        const QStringView keyField = fields[i];
        if (keyField.isEmpty()) break;
        const std::uint64_t at = FrameAt(ms, rate);
        if (!renderTo(at)) return stop();
        int v = 0;
        if (ToInteger(keyField.toString(), v) && v >= 0 && v <= 0xFFFF) {
            playsOnFrame = at == lastFrame ? playsOnFrame + 1 : 1;
            lastFrame = at;
            if (playsOnFrame % kPlaysPerDrain == 0) rb::System_RenderNull(system, buffer.data(), 0);
            core.PlayKey(static_cast<std::uint16_t>(v));
            lastChunkSilent = false;  // not heard yet
            ++result.keys;
        }
        if (i + 1 < fields.size() && ToInteger(fields[i + 1].toString(), v) && v > 0)
            ms += static_cast<std::uint64_t>(v);
    }
    result.sequenceFrames = FrameAt(ms, rate);
    if (!renderTo(result.sequenceFrames)) return stop();

    // The tail: until the last sound and its effects have died away.
    const std::uint64_t limit = result.sequenceFrames + 10 * static_cast<std::uint64_t>(rate);
    while (frame < limit) {
        int playing = 0;
        rb::System_GetChannelsPlaying(system, &playing);
        if (playing == 0 && lastChunkSilent) break;
        if (!renderTo(std::min(limit, frame + kChunk))) return stop();
    }
    if (!wav.commit()) return stop();
    result.frames = frame;
    return true;
}

}  // namespace rimbal
