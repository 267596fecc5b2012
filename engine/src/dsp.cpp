// The fifteen effect units and their plug-in names.
#include "dsp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace rb::detail {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// Repeats of a feedback loop of gain g until it falls below -120 dB.
int repeatsToSilence(float g) {
    return g <= 0.0f ? 1 : static_cast<int>(std::ceil(std::log(1e-6f) / std::log(g))) + 1;
}

int msToFrames(float ms, int rate) { return static_cast<int>(ms * static_cast<float>(rate) / 1000.0f) + 1; }

// Delay line with fractional read. process() loops copy one into a DelayTap
// so that the hot loop works on locals: writes through a float pointer would
// otherwise force every float member to be reloaded.
class DelayLine {
public:
    void resize(int frames) {
        buf_.assign(static_cast<std::size_t>(std::max(frames, 4)), 0.0f);
        pos_ = 0;
    }
    void clear() { std::fill(buf_.begin(), buf_.end(), 0.0f); pos_ = 0; }
    std::vector<float> buf_;
    std::size_t pos_ = 0;
};

struct DelayTap {
    float* __restrict d;
    std::size_t n;
    std::size_t pos;
    explicit DelayTap(DelayLine& l) : d(l.buf_.data()), n(l.buf_.size()), pos(l.pos_) {}
    void save(DelayLine& l) const { l.pos_ = pos; }
    void write(float v) noexcept {
        d[pos] = v;
        if (++pos == n) pos = 0;
    }
    // Sample written `delay` writes ago, 1 <= delay < n.
    float read(float delay) const noexcept {
        float p = static_cast<float>(pos) - delay;
        if (p < 0.0f) p += static_cast<float>(n);
        auto i0 = static_cast<std::size_t>(p);
        if (i0 >= n) i0 = 0;
        const std::size_t i1 = i0 + 1 == n ? 0 : i0 + 1;
        const float f = p - static_cast<float>(i0);
        return d[i0] + (d[i1] - d[i0]) * f;
    }
    float readInt(std::size_t delay) const noexcept { return d[pos >= delay ? pos - delay : pos + n - delay]; }
};

// Control-rate helpers: slow parameters are computed every kControl frames.
constexpr int kControl = 16;

// RBJ biquad, one state per channel.
class Biquad {
public:
    enum Kind { LowPass, HighPass, Peak };
    void design(Kind kind, float rate, float freq, float q, float gainDb = 0.0f) {
        const float w = 2.0f * kPi * freq / rate;
        const float cw = std::cos(w), sw = std::sin(w);
        const float alpha = sw / (2.0f * q);
        float b0, b1, b2, a0, a1, a2;
        if (kind == LowPass) {
            b0 = (1 - cw) / 2; b1 = 1 - cw; b2 = (1 - cw) / 2;
            a0 = 1 + alpha; a1 = -2 * cw; a2 = 1 - alpha;
        } else if (kind == HighPass) {
            b0 = (1 + cw) / 2; b1 = -(1 + cw); b2 = (1 + cw) / 2;
            a0 = 1 + alpha; a1 = -2 * cw; a2 = 1 - alpha;
        } else {
            const float a = std::pow(10.0f, gainDb / 40.0f);
            b0 = 1 + alpha * a; b1 = -2 * cw; b2 = 1 - alpha * a;
            a0 = 1 + alpha / a; a1 = -2 * cw; a2 = 1 - alpha / a;
        }
        b0_ = b0 / a0; b1_ = b1 / a0; b2_ = b2 / a0; a1_ = a1 / a0; a2_ = a2 / a0;
    }
    void reset() { z_ = {}; }
    void process(float* s, int frames) noexcept {
        // Both sides in one pass: two independent chains keep the pipeline busy.
        float l1 = z_[0][0], l2 = z_[0][1], r1 = z_[1][0], r2 = z_[1][1];
        for (int i = 0; i < frames; ++i) {
            const float xl = s[2 * i], xr = s[2 * i + 1];
            const float yl = b0_ * xl + l1, yr = b0_ * xr + r1;
            l1 = b1_ * xl - a1_ * yl + l2;
            r1 = b1_ * xr - a1_ * yr + r2;
            l2 = b2_ * xl - a2_ * yl;
            r2 = b2_ * xr - a2_ * yr;
            s[2 * i] = yl;
            s[2 * i + 1] = yr;
        }
        z_[0][0] = l1; z_[0][1] = l2; z_[1][0] = r1; z_[1][1] = r2;
    }

private:
    float b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    std::array<std::array<float, 2>, 2> z_{};
};

class PassThrough final : public DspUnit {
public:
    void prepare(int) override {}
    void reset() override {}
    void process(float*, int) noexcept override {}
};

class FilterUnit final : public DspUnit {
public:
    FilterUnit(Biquad::Kind k, float f, float q, float g) : kind_(k), freq_(f), q_(q), gain_(g) {}
    void prepare(int rate) override {
        bq_.design(kind_, static_cast<float>(rate), freq_, q_, gain_);
        bq_.reset();
        tail_ = msToFrames(100.0f, rate);  // ringing of a low-Q filter
    }
    void reset() override { bq_.reset(); }
    void process(float* s, int n) noexcept override { bq_.process(s, n); }

private:
    Biquad bq_;
    Biquad::Kind kind_;
    float freq_, q_, gain_;
};

// Repeating echo: 250 ms, each repeat at 45 %.
class Echo final : public DspUnit {
public:
    void prepare(int rate) override {
        delay_ = static_cast<std::size_t>(rate / 4);
        for (auto& d : line_) d.resize(static_cast<int>(delay_) + 1);
        tail_ = repeatsToSilence(0.45f) * static_cast<int>(delay_);
    }
    void reset() override { for (auto& d : line_) d.clear(); }
    void process(float* s, int n) noexcept override {
        DelayTap l(line_[0]), r(line_[1]);
        const std::size_t delay = delay_;
        for (int i = 0; i < n; ++i) {
            const float el = l.readInt(delay), er = r.readInt(delay);
            l.write(s[2 * i] + el * 0.45f);
            r.write(s[2 * i + 1] + er * 0.45f);
            s[2 * i] += el;
            s[2 * i + 1] += er;
        }
        l.save(line_[0]);
        r.save(line_[1]);
    }
    std::size_t delay_ = 0;
    std::array<DelayLine, 2> line_;
};

// Ping-pong delay: 375 ms, alternating sides.
class PingPong final : public DspUnit {
public:
    void prepare(int rate) override {
        delay_ = static_cast<std::size_t>(rate * 3 / 8);
        for (auto& d : line_) d.resize(static_cast<int>(delay_) + 1);
        tail_ = repeatsToSilence(0.4f) * static_cast<int>(delay_);
    }
    void reset() override { for (auto& d : line_) d.clear(); }
    void process(float* s, int n) noexcept override {
        DelayTap a(line_[0]), b(line_[1]);
        const std::size_t delay = delay_;
        for (int i = 0; i < n; ++i) {
            const float l = s[2 * i], r = s[2 * i + 1];
            const float dl = a.readInt(delay), dr = b.readInt(delay);
            a.write((l + r) * 0.5f + dr * 0.4f);
            b.write(dl * 0.4f);
            s[2 * i] = l + dl * 0.6f;
            s[2 * i + 1] = r + dr * 0.6f;
        }
        a.save(line_[0]);
        b.save(line_[1]);
    }
    std::size_t delay_ = 0;
    std::array<DelayLine, 2> line_;
};

// Modulated delay: chorus and flanger.
class ModDelay final : public DspUnit {
public:
    ModDelay(float baseMs, float depthMs, float hz, float feedback, float wet)
        : baseMs_(baseMs), depthMs_(depthMs), hz_(hz), fb_(feedback), wet_(wet) {}
    void prepare(int rate) override {
        rate_ = static_cast<float>(rate);
        for (auto& d : line_) d.resize(static_cast<int>((baseMs_ + depthMs_) * rate_ / 1000.0f) + 8);
        phase_ = 0;
        tail_ = repeatsToSilence(fb_) * msToFrames(baseMs_ + depthMs_, rate);
    }
    void reset() override { for (auto& d : line_) d.clear(); phase_ = 0; count_ = 0; }
    void process(float* s, int n) noexcept override {
        const float inc = 2.0f * kPi * hz_ / rate_;
        const float fb = fb_, wet = wet_, dry = 1.0f - wet_ * 0.5f;
        DelayTap l(line_[0]), r(line_[1]);
        float phase = phase_, dl = delay_[0], dr = delay_[1];
        unsigned count = count_;
        for (int i = 0; i < n; ++i) {
            if (count++ % kControl == 0) {
                // Right side a quarter period later, for width.
                const float scale = depthMs_ * 0.5f * rate_ / 1000.0f, base = baseMs_ * rate_ / 1000.0f;
                dl = std::max(base + scale * (1.0f + std::sin(phase)), 1.0f);
                dr = std::max(base + scale * (1.0f + std::sin(phase + kPi / 2)), 1.0f);
                phase += inc * kControl;
                if (phase > 2 * kPi) phase -= 2 * kPi;
            }
            const float xl = s[2 * i], xr = s[2 * i + 1];
            const float yl = l.read(dl), yr = r.read(dr);
            l.write(xl + yl * fb);
            r.write(xr + yr * fb);
            s[2 * i] = xl * dry + yl * wet;
            s[2 * i + 1] = xr * dry + yr * wet;
        }
        l.save(line_[0]);
        r.save(line_[1]);
        phase_ = phase;
        delay_ = {dl, dr};
        count_ = count;
    }
    float baseMs_, depthMs_, hz_, fb_, wet_;
    float rate_ = 48000, phase_ = 0;
    std::array<float, 2> delay_{1.0f, 1.0f};
    unsigned count_ = 0;
    std::array<DelayLine, 2> line_;
};

// Tremolo: 5 Hz, 60 % depth.
class Tremolo final : public DspUnit {
public:
    void prepare(int rate) override { inc_ = 2.0f * kPi * 5.0f / static_cast<float>(rate); reset(); }
    void reset() override { phase_ = 0; gain_ = gainAt(0); count_ = 0; }
    void process(float* s, int n) noexcept override {
        float gain = gain_, step = step_, phase = phase_;
        unsigned count = count_;
        for (int i = 0; i < n; ++i) {
            if (count++ % kControl == 0) {
                const float next = gainAt(phase + inc_ * kControl);
                step = (next - gain) / kControl;
                phase += inc_ * kControl;
                if (phase > 2 * kPi) phase -= 2 * kPi;
            }
            s[2 * i] *= gain;
            s[2 * i + 1] *= gain;
            gain += step;
        }
        gain_ = gain; step_ = step; phase_ = phase; count_ = count;
    }
    static float gainAt(float phase) { return 1.0f - 0.6f * 0.5f * (1.0f + std::sin(phase)); }
    float inc_ = 0, phase_ = 0, gain_ = 1, step_ = 0;
    unsigned count_ = 0;
};

// Soft-clipping overdrive.
class Distortion final : public DspUnit {
public:
    void prepare(int) override {}
    void reset() override {}
    void process(float* s, int n) noexcept override {
        for (int i = 0; i < 2 * n; ++i) {
            // Rational tanh, exact enough for a drive stage and far cheaper.
            const float x = std::clamp(s[i] * 8.0f, -3.0f, 3.0f);
            s[i] = x * (27.0f + x * x) / (27.0f + 9.0f * x * x) * 0.5f;
        }
    }
};

// Feed-forward compressor on the stereo peak: -18 dB, 4:1, 10/120 ms, +6 dB.
class Compressor final : public DspUnit {
public:
    Compressor(float thresholdDb, float ratio, float makeupDb, float attackMs, float releaseMs)
        : thr_(thresholdDb), ratio_(ratio), makeup_(std::pow(10.0f, makeupDb / 20.0f)),
          attackMs_(attackMs), releaseMs_(releaseMs) {}
    void prepare(int rate) override {
        att_ = std::exp(-1.0f / (attackMs_ * 0.001f * static_cast<float>(rate)));
        rel_ = std::exp(-1.0f / (releaseMs_ * 0.001f * static_cast<float>(rate)));
        reset();
    }
    void reset() override { env_ = 0; gain_ = makeup_; step_ = 0; count_ = 0; }
    void process(float* s, int n) noexcept override {
        float env = env_, gain = gain_, step = step_;
        const float att = att_, rel = rel_;
        unsigned count = count_;
        for (int i = 0; i < n; ++i) {
            const float peak = std::max(std::fabs(s[2 * i]), std::fabs(s[2 * i + 1]));
            const float k = peak > env ? att : rel;
            env = k * env + (1.0f - k) * peak;
            if (count++ % kControl == 0) {
                float target = makeup_;
                if (env > 1e-6f) {
                    const float db = 20.0f * std::log10(env);
                    if (db > thr_) target *= std::pow(10.0f, ((thr_ - db) * (1.0f - 1.0f / ratio_)) / 20.0f);
                }
                // Attacks take the new gain at once; releases glide to it.
                if (target < gain) { gain = target; step = 0; }
                else step = (target - gain) / kControl;
            }
            s[2 * i] *= gain;
            s[2 * i + 1] *= gain;
            gain += step;
        }
        env_ = env; gain_ = gain; step_ = step; count_ = count;
    }
    float thr_, ratio_, makeup_, attackMs_, releaseMs_;
    float att_ = 0, rel_ = 0, env_ = 0, gain_ = 1, step_ = 0;
    unsigned count_ = 0;
};

// Peak limiter at -1 dB: the gain follows every sample, so no sample passes
// the ceiling; it recovers over 50 ms.
class Limiter final : public DspUnit {
public:
    void prepare(int rate) override {
        release_ = std::exp(-1.0f / (0.05f * static_cast<float>(rate)));
        reset();
    }
    void reset() override { env_ = 0; }
    void process(float* s, int n) noexcept override {
        constexpr float ceiling = 0.8912509f;  // -1 dB
        float env = env_;
        const float release = release_;
        for (int i = 0; i < n; ++i) {
            const float peak = std::max(std::fabs(s[2 * i]), std::fabs(s[2 * i + 1]));
            env = std::max(peak, env * release);
            if (env > ceiling) {
                const float gain = ceiling / env;
                s[2 * i] *= gain;
                s[2 * i + 1] *= gain;
            }
        }
        env_ = env;
    }

private:
    float release_ = 1, env_ = 0;
};

// Brings quiet material up towards full scale: peak follower with a slow fall.
class Normalizer final : public DspUnit {
public:
    void prepare(int rate) override { fall_ = std::exp(-1.0f / (2.0f * static_cast<float>(rate))); peak_ = 0; }
    void reset() override { peak_ = 0; }
    void process(float* s, int n) noexcept override {
        float peak = peak_;
        const float fall = fall_;
        for (int i = 0; i < n; ++i) {
            const float p = std::max(std::fabs(s[2 * i]), std::fabs(s[2 * i + 1]));
            peak = std::max(p, peak * fall);
            const float gain = peak > 0.05f ? std::min(0.9f / peak, 10.0f) : 1.0f;
            s[2 * i] *= gain;
            s[2 * i + 1] *= gain;
        }
        peak_ = peak;
    }
    float fall_ = 1, peak_ = 0;
};

// Two crossfaded read heads sweeping a short buffer: a fifth up.
class PitchShift final : public DspUnit {
public:
    void prepare(int rate) override {
        window_ = static_cast<float>(rate) * 0.05f;
        for (auto& d : line_) d.resize(static_cast<int>(window_) * 2 + 8);
        phase_ = 0;
        tail_ = static_cast<int>(window_) * 2 + 8;
    }
    void reset() override { for (auto& d : line_) d.clear(); phase_ = 0; }
    void process(float* s, int n) noexcept override {
        constexpr float ratio = 1.5f;
        const float window = window_, inc = (1.0f - ratio) / window_;
        DelayTap l(line_[0]), r(line_[1]);
        float phase = phase_;
        for (int i = 0; i < n; ++i) {
            phase += inc;
            if (phase < 0.0f) phase += 1.0f;
            const float p2 = phase < 0.5f ? phase + 0.5f : phase - 0.5f;
            const float g1 = 1.0f - std::fabs(2.0f * phase - 1.0f), g2 = 1.0f - g1;
            l.write(s[2 * i]);
            r.write(s[2 * i + 1]);
            const float d1 = 1.0f + phase * window, d2 = 1.0f + p2 * window;
            s[2 * i] = l.read(d1) * g1 + l.read(d2) * g2;
            s[2 * i + 1] = r.read(d1) * g1 + r.read(d2) * g2;
        }
        l.save(line_[0]);
        r.save(line_[1]);
        phase_ = phase;
    }
    float window_ = 2400, phase_ = 0;
    std::array<DelayLine, 2> line_;
};

// Room reverb: an eight-line feedback delay network with a Householder
// mixing matrix and damped lines, about 1.2 s long. The lines share one write
// position over power-of-two rings, so a frame costs a single index update.
class Reverb final : public DspUnit {
    static constexpr std::size_t kLines = 8;

public:
    void prepare(int rate) override {
        static constexpr std::array<int, kLines> lengths{1051, 1123, 1231, 1327, 1439, 1553, 1627, 1747};
        constexpr float rt60 = 1.2f;
        const float scale = static_cast<float>(rate) / 44100.0f;
        std::size_t longest = 0;
        for (std::size_t k = 0; k < kLines; ++k) {
            len_[k] = static_cast<std::size_t>(static_cast<float>(lengths[k]) * scale);
            gain_[k] = std::pow(10.0f, -3.0f * static_cast<float>(len_[k]) / (rt60 * static_cast<float>(rate)));
            longest = std::max(longest, len_[k]);
        }
        ring_ = 1;
        while (ring_ <= longest) ring_ <<= 1;
        // Lines a cache line apart from a power of two, or they all fall
        // into the same cache sets.
        stride_ = ring_ + 16;
        lines_.assign(kLines * stride_, 0.0f);
        reset();
        tail_ = static_cast<int>(2.0f * rt60 * static_cast<float>(rate)) + static_cast<int>(longest);
    }
    void reset() override {
        std::fill(lines_.begin(), lines_.end(), 0.0f);
        damp_ = {};
        pos_ = 0;
    }
    void process(float* s, int n) noexcept override {
        constexpr float gainIn = 0.25f, wet = 0.35f, damping = 0.45f;
        float* __restrict lines = lines_.data();
        const std::size_t stride = stride_, mask = ring_ - 1;
        std::size_t pos = pos_;
        std::array<float, kLines> damp = damp_;
        for (int i = 0; i < n; ++i) {
            const float in = (s[2 * i] + s[2 * i + 1]) * gainIn;
            std::array<float, kLines> o;
            for (std::size_t k = 0; k < kLines; ++k) {
                const float x = lines[k * stride + ((pos - len_[k]) & mask)] * gain_[k];
                damp[k] += (x - damp[k]) * (1.0f - damping);  // high frequencies die first
                o[k] = damp[k];
            }
            const float sum = ((o[0] + o[1]) + (o[2] + o[3])) + ((o[4] + o[5]) + (o[6] + o[7]));
            const float h = sum * (2.0f / kLines);
            for (std::size_t k = 0; k < kLines; ++k)
                lines[k * stride + pos] = o[k] - h + ((k & 1) ? -in : in);
            s[2 * i] += ((o[0] + o[2]) + (o[4] + o[6])) * wet;
            s[2 * i + 1] += ((o[1] + o[3]) + (o[5] + o[7])) * wet;
            pos = (pos + 1) & mask;
        }
        pos_ = pos;
        damp_ = damp;
    }

private:
    std::vector<float> lines_;
    std::array<std::size_t, kLines> len_{};
    std::array<float, kLines> gain_{};
    std::array<float, kLines> damp_{};
    std::size_t ring_ = 1, stride_ = 1, pos_ = 0;
};

// Lo-fi: 6-bit quantisation and a quarter of the sample rate.
class LoFi final : public DspUnit {
public:
    void prepare(int) override { reset(); tail_ = 4; }
    void reset() override { held_ = {}; count_ = 0; }
    void process(float* s, int n) noexcept override {
        constexpr float steps = 32.0f;
        for (int i = 0; i < n; ++i) {
            if (count_++ % 4 == 0)
                for (int c = 0; c < 2; ++c) held_[c] = std::round(s[2 * i + c] * steps) / steps;
            s[2 * i] = held_[0]; s[2 * i + 1] = held_[1];
        }
    }
    std::array<float, 2> held_{};
    unsigned count_ = 0;
};

constexpr std::array<const char*, kNumDspPlugins> kNames{
    "Passagem",        "Passa-baixa",  "Passa-alta",   "Realce de graves", "Eco",
    "Delay pingue-pongue", "Chorus",   "Flanger",      "Tremolo",          "Distorção",
    "Compressor",      "Normalizador", "Tom acima",    "Reverberação",     "Limitador",
    "Lo-fi",
};

}  // namespace

const char* dspPluginName(int index) {
    return index >= 0 && index < kNumDspPlugins ? kNames[static_cast<std::size_t>(index)] : "";
}

std::unique_ptr<DspUnit> makeDspUnit(int index) {
    switch (index) {
    case 0: return std::make_unique<PassThrough>();
    case 1: return std::make_unique<FilterUnit>(Biquad::LowPass, 1200.0f, 0.707f, 0.0f);
    case 2: return std::make_unique<FilterUnit>(Biquad::HighPass, 500.0f, 0.707f, 0.0f);
    case 3: return std::make_unique<FilterUnit>(Biquad::Peak, 100.0f, 1.0f, 9.0f);
    case 4: return std::make_unique<Echo>();
    case 5: return std::make_unique<PingPong>();
    case 6: return std::make_unique<ModDelay>(20.0f, 6.0f, 0.8f, 0.0f, 0.7f);
    case 7: return std::make_unique<ModDelay>(1.0f, 4.0f, 0.25f, 0.6f, 0.7f);
    case 8: return std::make_unique<Tremolo>();
    case 9: return std::make_unique<Distortion>();
    case 10: return std::make_unique<Compressor>(-18.0f, 4.0f, 6.0f, 10.0f, 120.0f);
    case 11: return std::make_unique<Normalizer>();
    case 12: return std::make_unique<PitchShift>();
    case 13: return std::make_unique<Reverb>();
    case 14: return std::make_unique<Limiter>();
    case 15: return std::make_unique<LoFi>();
    default: return nullptr;
    }
}

}  // namespace rb::detail
