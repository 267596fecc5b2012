// The audio side: requests in, mixed blocks out. Nothing here locks,
// allocates, touches files or logs.
#include "mixer.h"

#include "convert.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

// AVX2 clones of the innermost loops, where the toolchain can pick them at
// load time (ELF); elsewhere, such as a Windows build, plain functions. The
// thread sanitizer cannot run the load-time resolvers.
#if defined(__x86_64__) && defined(__ELF__) && defined(__has_attribute) && !defined(__SANITIZE_THREAD__)
#if __has_attribute(target_clones)
#define RB_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef RB_CLONES
#define RB_CLONES
#endif

namespace rb::detail {
namespace {

RB_CLONES
void addScaled(float* __restrict d, const float* __restrict src, int samples, float vol) noexcept {
    for (int k = 0; k < samples; ++k) d[k] += src[k] * vol;
}

RB_CLONES
void addMonoScaled(float* __restrict d, const float* __restrict src, int frames, float vol) noexcept {
    for (int k = 0; k < frames; ++k) {
        const float x = src[k] * vol;
        d[2 * k] += x;
        d[2 * k + 1] += x;
    }
}

RB_CLONES
void addBuffer(float* __restrict d, const float* __restrict src, int samples) noexcept {
    for (int k = 0; k < samples; ++k) d[k] += src[k];
}

RB_CLONES
void addPanned(float* __restrict d, const float* __restrict src, int frames, float left, float right) noexcept {
    for (int k = 0; k < frames; ++k) {
        d[2 * k] += src[2 * k] * left;
        d[2 * k + 1] += src[2 * k + 1] * right;
    }
}

RB_CLONES
void addMonoPanned(float* __restrict d, const float* __restrict src, int frames, float left, float right) noexcept {
    for (int k = 0; k < frames; ++k) {
        d[2 * k] += src[k] * left;
        d[2 * k + 1] += src[k] * right;
    }
}

// The largest magnitude of a block, compared as bit patterns: a NaN counts
// as large, and the loop vectorises where a float maximum would not.
RB_CLONES
std::uint32_t largestBits(const float* __restrict s, int samples) noexcept {
    std::uint32_t most = 0;
    for (int k = 0; k < samples; ++k) {
        std::uint32_t bits;
        std::memcpy(&bits, s + k, sizeof bits);
        most = std::max(most, bits & 0x7FFFFFFFu);
    }
    return most;
}

inline float sampleAt(const SoundObj& s, std::size_t frame, int ch) noexcept {
    const std::size_t i = frame * static_cast<std::size_t>(s.channels) +
                          static_cast<std::size_t>(std::min(ch, s.channels - 1));
    return s.user ? toFloat(s.raw.data(), i, s.format) : s.pcm[i];
}

// Brings a position past the end back into the sound; false when the sound
// does not loop. A step may be longer than the whole loop, hence the modulo.
inline bool wrap(double& pos, std::uint32_t len, bool loop) noexcept {
    if (pos < static_cast<double>(len)) return true;
    if (!loop) return false;
    pos = std::fmod(pos, static_cast<double>(len));
    return true;
}

// Adds one frame of the sound at `pos`, linearly interpolated, times the
// gain of each side.
inline void addFrame(const SoundObj& s, double pos, bool loop, float left, float right, float* d) noexcept {
    const std::uint32_t len = s.dataFrames;
    const auto i0 = static_cast<std::size_t>(pos);
    const std::size_t i1 = i0 + 1 < len ? i0 + 1 : (loop ? 0 : i0);
    const auto f = static_cast<float>(pos - static_cast<double>(i0));
    for (int c = 0; c < 2; ++c) {
        const float a = sampleAt(s, i0, c), b = sampleAt(s, i1, c);
        d[c] += (a + (b - a) * f) * (c == 0 ? left : right);
    }
}

// Constant power: the two gains' squares add up to 2 at every position, and
// the centre is exactly 1 on both sides.
void panGains(float pan, float& left, float& right) noexcept {
    pan = std::isnan(pan) ? 0.0f : std::clamp(pan, -1.0f, 1.0f);
    if (pan == 0.0f) {
        left = right = 1.0f;
        return;
    }
    const double theta = (static_cast<double>(pan) + 1.0) * 0.25 * 3.14159265358979323846;
    left = static_cast<float>(std::sqrt(2.0) * std::cos(theta));
    right = static_cast<float>(std::sqrt(2.0) * std::sin(theta));
}

void runChain(Chain& chain, float* buf, int frames) noexcept {
    for (int i = 0; i < chain.count; ++i) chain.units[static_cast<std::size_t>(i)]->process(buf, frames);
}

bool dropUnit(Chain& chain, DspUnit* unit) noexcept {
    for (int i = 0; i < chain.count; ++i)
        if (chain.units[static_cast<std::size_t>(i)] == unit) {
            for (int k = i; k + 1 < chain.count; ++k)
                chain.units[static_cast<std::size_t>(k)] = chain.units[static_cast<std::size_t>(k + 1)];
            --chain.count;
            return true;
        }
    return false;
}

}  // namespace

// ---- recording ----

template <typename Put>
void RecordTarget::advance(std::uint32_t count, Put&& put) noexcept {
    if (finished.load(std::memory_order_relaxed) || ringFrames == 0) return;
    std::uint64_t w = written.load(std::memory_order_relaxed);
    std::uint32_t from = 0;
    while (count > 0) {
        if (!loop && w >= ringFrames) break;
        const auto pos = static_cast<std::uint32_t>(w % ringFrames);
        const std::uint32_t n = std::min(count, ringFrames - pos);
        put(pos, from, n);
        w += n;
        from += n;
        count -= n;
    }
    written.store(w, std::memory_order_release);
    if (!loop && w >= ringFrames) finished.store(true, std::memory_order_release);
}

void RecordTarget::write(const void* frames, std::uint32_t count) noexcept {
    const auto* src = static_cast<const std::uint8_t*>(frames);
    advance(count, [&](std::uint32_t pos, std::uint32_t from, std::uint32_t n) {
        std::memcpy(ring + static_cast<std::size_t>(pos) * frameBytes, src + static_cast<std::size_t>(from) * frameBytes,
                    static_cast<std::size_t>(n) * frameBytes);
    });
}

void RecordTarget::writeMix(const float* stereo, std::uint32_t count) noexcept {
    const std::size_t bps = static_cast<std::size_t>(bytesPerSample(format));
    advance(count, [&](std::uint32_t pos, std::uint32_t from, std::uint32_t n) {
        std::uint8_t* dst = ring + static_cast<std::size_t>(pos) * frameBytes;
        const float* src = stereo + 2 * static_cast<std::size_t>(from);
        if (channels == 2) {
            fromFloat(src, dst, 2 * static_cast<std::size_t>(n), format);
            return;
        }
        // Other layouts frame by frame: mono takes the mean, more channels
        // get left and right and silence.
        for (std::uint32_t k = 0; k < n; ++k) {
            float frame[8] = {};
            if (channels == 1) {
                frame[0] = 0.5f * (src[2 * k] + src[2 * k + 1]);
            } else {
                frame[0] = src[2 * k];
                frame[1] = src[2 * k + 1];
            }
            fromFloat(frame, dst + k * frameBytes, static_cast<std::size_t>(std::min(channels, 8)), format);
            if (channels > 8) std::memset(dst + k * frameBytes + 8 * bps, 0, (static_cast<std::size_t>(channels) - 8) * bps);
        }
    });
}

std::uint32_t RecordTarget::position() const noexcept {
    const std::uint64_t w = written.load(std::memory_order_acquire);
    if (ringFrames == 0) return 0;
    return loop ? static_cast<std::uint32_t>(w % ringFrames) : static_cast<std::uint32_t>(std::min<std::uint64_t>(w, ringFrames));
}

// ---- the master bus's limiter ----

namespace {

// Step k's gain glides from from[k] by slope[k] per frame, the same on both
// sides; steps left at rest (from 1, slope 0) are passed over.
RB_CLONES
void glide(float* __restrict s, const float* __restrict ramp, int frames, int step, const float* __restrict from,
           const float* __restrict slope) noexcept {
    for (int k = 0, first = 0; first < frames; ++k, first += step) {
        if (from[k] == 1.0f && slope[k] == 0.0f) continue;
        const int samples = 2 * std::min(step, frames - first);
        float* d = s + 2 * first;
        const float f = from[k], sl = slope[k];
        for (int i = 0; i < samples; ++i) d[i] *= f + sl * ramp[i];
    }
}

// The largest magnitude of each run of `step` frames, a NaN left out.
RB_CLONES
void stepPeaks(const float* __restrict s, int frames, int step, float* __restrict peaks) noexcept {
    for (int k = 0, first = 0; first < frames; ++k, first += step) {
        const int samples = 2 * std::min(step, frames - first);
        std::uint32_t most = 0;
        for (int i = 0; i < samples; ++i) {
            std::uint32_t bits;
            std::memcpy(&bits, s + 2 * first + i, sizeof bits);
            most = std::max(most, bits & 0x7FFFFFFFu);
        }
        if (most > 0x7F800000u) {
            most = 0;
            for (int i = 0; i < samples; ++i)
                if (!std::isnan(s[2 * first + i])) most = std::max(most, std::bit_cast<std::uint32_t>(std::fabs(s[2 * first + i])));
        }
        peaks[k] = std::bit_cast<float>(most);
    }
}

// 1, 1, 2, 2, 3, 3 ...: how far into its step each sample of a frame is.
constexpr auto kRamp = [] {
    std::array<float, 2 * Limiter::kStep> r{};
    for (int i = 0; i < 2 * Limiter::kStep; ++i) r[static_cast<std::size_t>(i)] = static_cast<float>(i / 2 + 1);
    return r;
}();

}  // namespace

void Limiter::configure(int rate) noexcept {
    holdFrames_ = std::max(1, rate / 100);  // 10 ms: a 50 Hz half-wave
    // A time constant of 25 ms towards 1.02: after the hold, back at unity
    // within about 45 ms from 1 dB of reduction and 95 ms from 14 dB.
    const double keep = std::exp(-1.0 / (0.025 * std::max(rate, 1)));
    for (int k = 0; k <= kStep; ++k) decay_[static_cast<std::size_t>(k)] = static_cast<float>(std::pow(keep, k));
    reset();
}

void Limiter::process(float* s, int frames) noexcept {
    static constexpr std::uint32_t kCeilingBits = std::bit_cast<std::uint32_t>(kCeiling);
    // At rest, a block below the ceiling leaves as it came.
    if (gain_ == 1.0f && largestBits(s, 2 * frames) <= kCeilingBits) return;
    for (int done = 0; done < frames; done += kBlockFrames)
        processBlock(s + 2 * done, std::min(kBlockFrames, frames - done));
}

void Limiter::processBlock(float* s, int frames) noexcept {
    constexpr int kMaxSteps = kBlockFrames / kStep;
    const int steps = (frames + kStep - 1) / kStep;
    std::array<float, kMaxSteps> need{};  // the largest gain each step's samples allow
    std::array<float, kMaxSteps> starts{}, slopes{};
    stepPeaks(s, frames, kStep, need.data());
    for (float& n : need)
        // Aimed a hair under the ceiling, so the rounding of the gains and
        // products can never take a sample over it.
        n = n > kCeiling ? kCeiling * (1.0f - 0x1p-20f) / n : 1.0f;
    for (int k = 0; k < steps; ++k) {
        const int len = std::min(kStep, frames - k * kStep);
        const float here = need[static_cast<std::size_t>(k)];
        const float ahead = k + 1 < steps ? need[static_cast<std::size_t>(k + 1)] : 1.0f;
        // A peak the step before could not see coming is met at once.
        const float from = std::min(gain_, here);
        if (here < gain_) hold_ = holdFrames_;
        float to = from;
        if (hold_ >= len) {
            hold_ -= len;
        } else if (from < 1.0f) {
            // Aimed a little past unity, so the gain arrives at exactly 1
            // (and the limiter at rest) in bounded time, without a step.
            to = std::min(1.0f, kReleaseTarget - (kReleaseTarget - from) * decay_[static_cast<std::size_t>(len - hold_)]);
            hold_ = 0;
        }
        if (std::min(here, ahead) < to) {
            to = std::min(here, ahead);  // down before the next step's peak arrives
            hold_ = holdFrames_;
        }
        starts[static_cast<std::size_t>(k)] = from;
        slopes[static_cast<std::size_t>(k)] = (to - from) / static_cast<float>(len);
        gain_ = to;
    }
    glide(s, kRamp.data(), frames, kStep, starts.data(), slopes.data());
}

// ---- the frame clock ----

void FrameClock::observe(std::uint64_t first, unsigned frames, std::int64_t timeNs, bool exact) noexcept {
    const auto t = static_cast<double>(timeNs);
    const double offset = t - static_cast<double>(first) * nsPerFrame;
    // A second of frames: long enough to see the earliest a device asks,
    // short enough to follow a device that slipped after a dropout.
    const auto window = static_cast<std::uint64_t>(1e9 / nsPerFrame);
    // A new start: the null output's given moment, the first render, or one
    // that does not follow the last (a restart, renders without a moment).
    const bool restart = exact || !valid || first != nextFrame;
    if (restart) {
        // A stream that starts (or starts again after resting) is filled
        // in bursts while the server settles: three seconds before its
        // lateness says anything about underruns.
        size_ = 0;
        settledAt = first + 3 * window;
    }
    // Renders that follow the previous one at once fill a buffer that has
    // room (a stream starting, or catching up after a stall): they show no
    // more than how fast the mixer is, not where the device is.
    const bool rushed = !restart && t - lastTime_ < 0.5 * frames * nsPerFrame;
    lastTime_ = t;
    if (!rushed) {
        const auto back = [&] { return (head_ + size_ - 1) % kRing; };
        while (size_ > 0 && ring_[back()].offset >= offset) --size_;
        if (size_ == kRing) {
            head_ = (head_ + 1) % kRing;
            --size_;
        }
        ring_[(head_ + size_) % kRing] = Entry{first, offset};
        ++size_;
    }
    while (size_ > 1 && ring_[head_].frame + window < first) {
        head_ = (head_ + 1) % kRing;
        --size_;
    }
    valid = true;
    frame = first;
    at = static_cast<double>(first) * nsPerFrame + ring_[head_].offset;
    nextFrame = first + frames;
}

// ---- control thread ----

void Mixer::configure(int rate) {
    rate_ = rate;
    clock_.nsPerFrame = 1e9 / rate;
    clock_.valid = false;
    rampFrames_ = std::max(8, rate / 1000);
    limiter_.configure(rate);
    takeLimiter_ = limiter_;
    takeBuf_.assign(2 * kBlockFrames, 0.0f);
    mixBuf_.assign(2 * kBlockFrames, 0.0f);
    groupBuf_.assign(2 * kBlockFrames, 0.0f);
    metronome_.configure(rate);
    for (auto& chain : groups_) retail(chain);
    retail(master_);
    for (auto* set : {&voices_, &fades_})
        for (Voice& v : *set)
            if (v.active && v.sound) v.step = v.sound->dataRate > 0 ? static_cast<double>(v.sound->dataRate) / rate_ : 1.0;
}

void Mixer::silence() noexcept {
    for (int i = 0; i < kMaxChannels; ++i) {
        if (voices_[static_cast<std::size_t>(i)].active) endVoice(i);
        fades_[static_cast<std::size_t>(i)].active = false;
    }
    limiter_.reset();
    takeLimiter_ = limiter_;
    port_.endRender(port_.beginRender());
}

void Mixer::rescale(const SoundObj* sound, double ratio) noexcept {
    for (auto* set : {&voices_, &fades_})
        for (Voice& v : *set)
            if (v.active && v.sound == sound) {
                v.pos *= ratio;
                v.step = static_cast<double>(sound->dataRate) / rate_;
            }
}

// ---- audio side ----

void Mixer::endVoice(int slot) noexcept {
    Voice& v = voices_[static_cast<std::size_t>(slot)];
    v.active = false;
    shared_.channels[static_cast<std::size_t>(slot)].endedGen.store(v.gen, std::memory_order_release);
}

// A voice that was heard glides out over about a millisecond instead of
// stopping dead, which would click.
void Mixer::stopVoice(int slot) noexcept {
    Voice& v = voices_[static_cast<std::size_t>(slot)];
    if (v.heard && !v.paused) {
        Voice& f = fades_[static_cast<std::size_t>(slot)];
        f = v;
        f.fading = true;
        f.target = 0.0f;
        f.rampLeft = rampFrames_;
        f.fadeBase = port_.lastDone();
    }
    endVoice(slot);
}

void Mixer::apply(const Command& c) noexcept {
    const auto slot = static_cast<std::size_t>(c.slot);
    auto current = [&]() -> Voice* {
        Voice& v = voices_[slot];
        return v.active && v.gen == c.gen ? &v : nullptr;
    };
    switch (c.kind) {
    case Command::Start: {
        if (voices_[slot].active) stopVoice(c.slot);  // the play is taken for the new one
        Voice& v = voices_[slot];
        v = Voice{};
        v.active = true;
        v.paused = (c.flag & 1) != 0;
        v.loop = (c.flag & 2) != 0;
        v.gen = c.gen;
        v.sound = c.sound;
        v.step = c.sound->dataRate > 0 ? static_cast<double>(c.sound->dataRate) / rate_ : 1.0;
        v.gain = v.target = c.value;
        v.group = c.target;
        ChannelShared& ch = shared_.channels[slot];
        ch.pos.store(0, std::memory_order_relaxed);
        ch.posGen.store(c.gen, std::memory_order_release);
        break;
    }
    case Command::SetVolume:
        if (Voice* v = current()) {
            if (v->heard && !v->paused) {
                v->target = c.value;
                v->rampLeft = rampFrames_;
            } else {
                v->gain = v->target = c.value;
                v->rampLeft = 0;
            }
        }
        break;
    case Command::SetPaused:
        if (Voice* v = current()) {
            const bool was = v->paused;
            v->paused = c.flag != 0;
            if (was && !v->paused && v->startAt != 0 && !v->heard) schedule(*v);
        }
        break;
    case Command::SetStart:
        if (Voice* v = current(); v && !v->heard) {
            v->startAt = c.at;
            v->startFrame = 0;
            if (!v->paused && v->startAt != 0) schedule(*v);
        }
        break;
    case Command::SetPan:
        if (Voice* v = current()) panGains(c.value, v->panL, v->panR);
        break;
    case Command::SetGroup:
        if (Voice* v = current()) v->group = c.target;
        break;
    case Command::Attach: {
        removeUnit(c.unit);
        if (c.unit->releasedAt.load(std::memory_order_acquire) != 0) break;  // released since
        Chain& chain = c.target < 0 ? master_ : groups_[static_cast<std::size_t>(c.target)];
        if (chain.count < kMaxUnitsPerChain) {
            // A unit arrives cleared (or keeps its state when moved): the
            // chain goes on resting, if it was, until something feeds it.
            chain.units[static_cast<std::size_t>(chain.count++)] = c.unit;
            retail(chain);
        }
        break;
    }
    case Command::Detach: removeUnit(c.unit); break;
    }
}

void Mixer::removeUnit(DspUnit* unit) noexcept {
    if (dropUnit(master_, unit)) retail(master_);
    for (Chain& chain : groups_)
        if (chain.count && dropUnit(chain, unit)) retail(chain);
}

void Mixer::retail(Chain& chain) noexcept {
    int tail = 0;
    for (int i = 0; i < chain.count; ++i) tail += chain.units[static_cast<std::size_t>(i)]->tailFrames();
    chain.tail = tail;
}

// A timed play sounds the play delay after its moment, on the frame the
// clock puts there; one whose frame has passed (or with no clock to tell)
// begins at once, and none waits more than a second past the delay.
void Mixer::schedule(Voice& v) noexcept {
    v.startFrame = frame_;
    if (!clock_.valid) return;
    const double due = std::floor(clock_.frameAt(static_cast<double>(v.startAt)) + delayFrames_ + 0.5);
    if (due < static_cast<double>(frame_)) {
        shared_.latePlays.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const double latest = static_cast<double>(frame_) + delayFrames_ + rate_;
    v.startFrame = static_cast<std::uint64_t>(std::min(due, latest));
}

// Stops, group releases and unit releases: the requests that never wait in
// the queue.
void Mixer::takeRequests(std::uint64_t epoch) noexcept {
    for (int i = 0; i < kMaxChannels; ++i) {
        const Voice& v = voices_[static_cast<std::size_t>(i)];
        if (v.active && shared_.channels[static_cast<std::size_t>(i)].stopGen.load(std::memory_order_acquire) == v.gen)
            stopVoice(i);
    }
    const std::uint64_t clears = shared_.groupClears.load(std::memory_order_acquire);
    if (clears != groupClearsSeen_) {
        bool waiting = false;
        for (int g = 0; g < kMaxGroups; ++g) {
            const std::uint64_t at = shared_.groupClearAt[static_cast<std::size_t>(g)].load(std::memory_order_acquire);
            if (at <= groupCleared_[static_cast<std::size_t>(g)]) continue;
            if (at > epoch) {
                waiting = true;
                continue;
            }
            groupCleared_[static_cast<std::size_t>(g)] = at;
            Chain& chain = groups_[static_cast<std::size_t>(g)];
            chain.count = 0;
            chain.tail = 0;
            chain.silent = Chain::kResting;
            for (auto* set : {&voices_, &fades_})
                for (Voice& v : *set)
                    if (v.group == g) v.group = -1;
        }
        if (!waiting) groupClearsSeen_ = clears;
    }
    const std::uint64_t released = shared_.unitReleases.load(std::memory_order_acquire);
    if (released != unitReleasesSeen_) {
        bool waiting = false;
        auto sweep = [&](Chain& chain) {
            bool changed = false;
            for (int i = chain.count - 1; i >= 0; --i) {
                DspUnit* u = chain.units[static_cast<std::size_t>(i)];
                const std::uint64_t at = u->releasedAt.load(std::memory_order_acquire);
                if (at == 0) continue;
                if (at > epoch) waiting = true;
                else changed |= dropUnit(chain, u);
            }
            if (changed) retail(chain);
        };
        sweep(master_);
        for (Chain& chain : groups_)
            if (chain.count) sweep(chain);
        if (!waiting) unitReleasesSeen_ = released;
    }
}

// Mixes `frames` of v into dst; false when the voice is over (its sound
// ended without looping, or its fade is complete).
bool Mixer::mixVoice(Voice& v, float* dst, int frames) noexcept {
    const SoundObj& s = *v.sound;
    const std::uint32_t len = s.dataFrames;
    if (len == 0 || s.channels <= 0) return false;
    v.heard = true;
    int i = 0;
    // A volume glide, frame by frame.
    while (v.rampLeft > 0 && i < frames) {
        if (!wrap(v.pos, len, v.loop)) return false;
        v.gain += (v.target - v.gain) / static_cast<float>(v.rampLeft);
        --v.rampLeft;
        addFrame(s, v.pos, v.loop, v.gain * v.panL, v.gain * v.panR, dst + 2 * i);
        v.pos += v.step;
        ++i;
    }
    if (v.fading && v.rampLeft == 0) return false;
    const float vol = v.gain;
    const bool centred = v.centred();
    const float left = vol * v.panL, right = vol * v.panR;
    if (v.step == 1.0 && !s.user) {
        // Fast path: float data at the mixer rate, whole frames.
        auto pos = static_cast<std::size_t>(v.pos);
        const float* pcm = s.pcm.data();
        while (i < frames) {
            if (pos >= len) {
                if (!v.loop) {
                    v.pos = static_cast<double>(pos);
                    return false;
                }
                pos %= len;
            }
            const int n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(frames - i), len - pos));
            if (centred) {
                if (s.channels == 1) addMonoScaled(dst + 2 * i, pcm + pos, n, vol);
                else addScaled(dst + 2 * i, pcm + pos * 2, 2 * n, vol);
            } else {
                if (s.channels == 1) addMonoPanned(dst + 2 * i, pcm + pos, n, left, right);
                else addPanned(dst + 2 * i, pcm + pos * 2, n, left, right);
            }
            i += n;
            pos += static_cast<std::size_t>(n);
        }
        v.pos = static_cast<double>(pos);
        return true;
    }
    double pos = v.pos;
    for (; i < frames; ++i) {
        if (!wrap(pos, len, v.loop)) {
            v.pos = pos;
            return false;
        }
        addFrame(s, pos, v.loop, left, right, dst + 2 * i);
        pos += v.step;
    }
    v.pos = pos;
    return true;
}

void Mixer::renderBlock(float* out, int frames) noexcept {
    float* mix = mixBuf_.data();
    const int samples = 2 * frames;
    std::fill(mix, mix + samples, 0.0f);
    std::array<bool, kMaxGroups> fed{};
    bool masterFed = false;
    busy_ = false;
    auto finish = [this](Voice& v, bool fade, int slot) {
        if (fade) v.active = false;
        else endVoice(slot);
    };
    // Frames of this block before a timed play begins; -1 when it begins
    // in a later block.
    const auto waiting = [&](const Voice& v) -> int {
        if (v.startFrame <= frame_) return 0;
        const std::uint64_t wait = v.startFrame - frame_;
        return wait < static_cast<std::uint64_t>(frames) ? static_cast<int>(wait) : -1;
    };
    for (int slot = 0; slot < kMaxChannels; ++slot) {
        for (bool fade : {false, true}) {
            Voice& v = (fade ? fades_ : voices_)[static_cast<std::size_t>(slot)];
            if (!v.active || v.paused) continue;
            const int skip = waiting(v);
            if (skip < 0) continue;
            if (v.group >= 0 && groups_[static_cast<std::size_t>(v.group)].count > 0) {
                fed[static_cast<std::size_t>(v.group)] = true;
                continue;
            }
            if (!mixVoice(v, mix + 2 * skip, frames - skip)) finish(v, fade, slot);
            masterFed = true;
        }
    }
    // A group's effects run while voices feed it and for their tail after,
    // so echoes and reverb ring out; then the chain rests until fed again.
    float* gbuf = groupBuf_.data();
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        Chain& chain = groups_[g];
        if (chain.count == 0) continue;
        if (fed[g]) {
            chain.silent = 0;
        } else if (chain.silent >= chain.tail) {
            continue;
        } else {
            chain.silent += frames;
        }
        std::fill(gbuf, gbuf + samples, 0.0f);
        if (fed[g]) {
            for (int slot = 0; slot < kMaxChannels; ++slot)
                for (bool fade : {false, true}) {
                    Voice& v = (fade ? fades_ : voices_)[static_cast<std::size_t>(slot)];
                    if (!v.active || v.paused || v.group != static_cast<int>(g)) continue;
                    const int skip = waiting(v);
                    if (skip < 0) continue;
                    if (!mixVoice(v, gbuf + 2 * skip, frames - skip)) finish(v, fade, slot);
                }
        }
        runChain(chain, gbuf, frames);
        addBuffer(mix, gbuf, samples);
        masterFed = true;
        busy_ = true;
    }
    if (master_.count > 0) {
        bool run = true;
        if (masterFed) master_.silent = 0;
        else if (master_.silent < master_.tail) master_.silent += frames;
        else run = false;
        if (run) runChain(master_, mix, frames);
        busy_ |= run;
    }
    busy_ = busy_ || masterFed;
    if (out) std::memcpy(out, mix, sizeof(float) * static_cast<std::size_t>(samples));
}

std::uint64_t Mixer::doneEpoch(std::uint64_t epoch) const noexcept {
    // A fading voice still reads its sound: hold back what was released
    // after the fade began.
    for (const Voice& f : fades_)
        if (f.active) epoch = std::min(epoch, f.fadeBase);
    return epoch;
}

void Mixer::render(float* out, unsigned frames, std::int64_t timeNs, bool exact) noexcept {
    if (shared_.clockBroken.exchange(false, std::memory_order_acq_rel)) clock_.valid = false;
    if (timeNs == 0) clock_.valid = false;
    else if (frames > 0) clock_.observe(frame_, frames, timeNs, exact);
    // A device that reports no underruns of its own (RtAudio's PulseAudio
    // never does): a render that comes longer after the previous one than
    // the stream holds found it empty.
    if (underrunFrames_ > 0 && timeNs != 0 && !exact && clock_.valid && frame_ >= clock_.settledAt && lastRenderNs_ != 0 &&
        static_cast<double>(timeNs - lastRenderNs_) > underrunFrames_ * clock_.nsPerFrame)
        shared_.underflows.fetch_add(1, std::memory_order_relaxed);
    lastRenderNs_ = exact ? 0 : timeNs;
    const std::uint64_t epoch = port_.beginRender();
    port_.drain([this](const Command& c) { apply(c); });
    takeRequests(epoch);
    const bool limiterOn = shared_.limiter.load(std::memory_order_relaxed);
    if (limiterOn != limiterOn_) {
        limiterOn_ = limiterOn;
        limiter_.reset();  // switched on again, it starts at rest
        takeLimiter_.reset();
    }
    RecordTarget* record = shared_.mixRecord.load(std::memory_order_acquire);
    const std::uint64_t metronome = shared_.metronome.load(std::memory_order_relaxed);
    const bool clicking = MetronomeSettings::unpack(metronome).on;
    unsigned done = 0;
    while (done < frames) {
        const int n = static_cast<int>(std::min<unsigned>(frames - done, kBlockFrames));
        float* block = out + 2 * static_cast<std::size_t>(done);
        renderBlock(block, n);
        if (!clicking) {
            // Last on the master bus: nothing after it may take the mix past full scale.
            if (limiterOn_) limiter_.process(block, n);
            if (record) record->writeMix(block, static_cast<std::uint32_t>(n));
            takeLimiter_ = limiter_;  // a take started with the clicks goes on from here
        } else {
            // The clicks are heard but never recorded: the take is the mix
            // alone, limited as the output would be without them.
            if (record) {
                float* take = takeBuf_.data();
                std::memcpy(take, block, sizeof(float) * 2 * static_cast<std::size_t>(n));
                if (limiterOn_) takeLimiter_.process(take, n);
                record->writeMix(take, static_cast<std::uint32_t>(n));
            }
            // Past the system effects, before the limiter.
            metronome_.mix(block, n, metronome);
            if (limiterOn_) limiter_.process(block, n);
        }
        done += static_cast<unsigned>(n);
        frame_ += static_cast<std::uint64_t>(n);
    }
    // A recording of the mix and the metronome keep the stream going.
    bool busy = busy_ || record != nullptr || clicking;
    for (std::size_t i = 0; i < voices_.size(); ++i)
        if (voices_[i].active) {
            shared_.channels[i].pos.store(static_cast<std::uint32_t>(voices_[i].pos), std::memory_order_relaxed);
            busy |= !voices_[i].paused;
        }
    if (frames > 0) {
        const std::uint64_t quiet = shared_.quietFrames.load(std::memory_order_relaxed);
        shared_.quietFrames.store(busy ? 0 : quiet + frames, std::memory_order_relaxed);
    }
    port_.endRender(doneEpoch(epoch));
}

}  // namespace rb::detail
