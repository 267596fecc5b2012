// The metronome's two clicks and their placing on exact frames.
#include "metronome.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rb::detail {
namespace {

// A short wooden click: two decaying partials, 0.5 ms of attack, 40 ms long.
std::vector<float> makeClick(int rate, double hz, double level) {
    const auto frames = static_cast<std::size_t>(rate * 0.04);
    std::vector<float> c(frames);
    constexpr double kTwoPi = 6.283185307179586;
    const double attack = rate * 0.0005;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double body = std::sin(kTwoPi * hz * t) * std::exp(-t / 0.008) +
                            0.5 * std::sin(kTwoPi * hz * 2.71 * t) * std::exp(-t / 0.003);
        const double edge = std::min(1.0, static_cast<double>(i) / attack) *
                            std::min(1.0, static_cast<double>(frames - i) / (rate * 0.005));
        c[i] = static_cast<float>(body * edge);
    }
    float peak = 0.0f;
    for (float x : c) peak = std::max(peak, std::fabs(x));
    for (float& x : c) x = static_cast<float>(x / peak * level);
    return c;
}

}  // namespace

std::uint64_t MetronomeSettings::pack() const noexcept {
    std::uint32_t volumeBits = 0;
    const float v = std::clamp(volume, 0.0f, 1.0f);
    std::memcpy(&volumeBits, &v, sizeof v);
    return (static_cast<std::uint64_t>(on) << 63) | (static_cast<std::uint64_t>(bpm & 0xFFFF) << 40) |
           (static_cast<std::uint64_t>(beatsPerBar & 0xFF) << 32) | volumeBits;
}

MetronomeSettings MetronomeSettings::unpack(std::uint64_t word) noexcept {
    MetronomeSettings s;
    s.on = (word >> 63) != 0;
    s.bpm = static_cast<int>((word >> 40) & 0xFFFF);
    s.beatsPerBar = static_cast<int>((word >> 32) & 0xFF);
    const auto volumeBits = static_cast<std::uint32_t>(word);
    std::memcpy(&s.volume, &volumeBits, sizeof s.volume);
    return s;
}

void ClickTrack::configure(int rate) {
    rate_ = rate;
    accent_ = makeClick(rate, 1500.0, 1.0);
    plain_ = makeClick(rate, 1000.0, 0.75);
    running_ = false;
    click_ = nullptr;
}

// The beat on frame `at` sounds; the next one is placed by the tempo in force
// now, counted from the last change so that rounding never adds up.
void ClickTrack::beat(std::int64_t at, const MetronomeSettings& s) noexcept {
    if (beatInBar_ >= s.beatsPerBar) beatInBar_ = 0;
    click_ = beatInBar_ == 0 ? &accent_ : &plain_;
    clickPos_ = 0;
    beatInBar_ = (beatInBar_ + 1) % s.beatsPerBar;
    if (s.bpm != bpm_) {
        bpm_ = s.bpm;
        anchor_ = at;
        count_ = 0;
    }
    ++count_;
    next_ = anchor_ + count_ * static_cast<std::int64_t>(rate_) * 60 / bpm_;
}

void ClickTrack::mix(float* out, int frames, std::uint64_t settingsWord) noexcept {
    const MetronomeSettings s = MetronomeSettings::unpack(settingsWord);
    if (!s.on || s.bpm < 30 || s.bpm > 300 || s.beatsPerBar < 1 || s.beatsPerBar > 12) {
        running_ = false;
        click_ = nullptr;
        return;
    }
    if (!running_) {
        running_ = true;
        frame_ = anchor_ = next_ = count_ = 0;
        bpm_ = s.bpm;
        beatInBar_ = 0;
    }
    clickGain_ = s.volume;
    int i = 0;
    while (i < frames) {
        // Up to the next beat, or the end of the block.
        const std::int64_t untilBeat = next_ - (frame_ + i);
        const int end = untilBeat < frames - i ? i + static_cast<int>(untilBeat) : frames;
        if (click_) {
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(end - i), click_->size() - clickPos_);
            const float* c = click_->data() + clickPos_;
            for (std::size_t k = 0; k < n; ++k) {
                out[2 * (i + static_cast<int>(k))] += c[k] * clickGain_;
                out[2 * (i + static_cast<int>(k)) + 1] += c[k] * clickGain_;
            }
            clickPos_ += n;
            if (clickPos_ >= click_->size()) click_ = nullptr;
        }
        i = end;
        if (i < frames) beat(frame_ + i, s);
    }
    frame_ += frames;
}

}  // namespace rb::detail
