#include "dsp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace rb::detail {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// Delay line with fractional read, one per channel.
class DelayLine {
public:
    void resize(int frames) {
        buf_.assign(static_cast<std::size_t>(std::max(frames, 4)), 0.0f);
        pos_ = 0;
    }
    void clear() { std::fill(buf_.begin(), buf_.end(), 0.0f); pos_ = 0; }
    void write(float v) noexcept {
        buf_[pos_] = v;
        if (++pos_ == buf_.size()) pos_ = 0;
    }
    // Sample written `delay` writes ago (delay >= 1).
    float read(float delay) const noexcept {
        const std::size_t n = buf_.size();
        float p = static_cast<float>(pos_) - delay;
        while (p < 0.0f) p += static_cast<float>(n);
        const auto i0 = static_cast<std::size_t>(p) % n;
        const std::size_t i1 = (i0 + 1) % n;
        const float f = p - std::floor(p);
        return buf_[i0] + (buf_[i1] - buf_[i0]) * f;
    }
    float readInt(std::size_t delay) const noexcept {
        const std::size_t n = buf_.size();
        return buf_[(pos_ + n - delay % n) % n];
    }

private:
    std::vector<float> buf_;
    std::size_t pos_ = 0;
};

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
        for (int c = 0; c < 2; ++c) {
            float z1 = z_[c][0], z2 = z_[c][1];
            for (int i = 0; i < frames; ++i) {
                float& x = s[2 * i + c];
                const float y = b0_ * x + z1;
                z1 = b1_ * x - a1_ * y + z2;
                z2 = b2_ * x - a2_ * y;
                x = y;
            }
            z_[c][0] = z1; z_[c][1] = z2;
        }
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
    void prepare(int rate) override { bq_.design(kind_, static_cast<float>(rate), freq_, q_, gain_); bq_.reset(); }
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
    }
    void reset() override { for (auto& d : line_) d.clear(); }
    void process(float* s, int n) noexcept override {
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < 2; ++c) {
                float& x = s[2 * i + c];
                const float echo = line_[c].readInt(delay_);
                line_[c].write(x + echo * 0.45f);
                x += echo;
            }
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
    }
    void reset() override { for (auto& d : line_) d.clear(); }
    void process(float* s, int n) noexcept override {
        for (int i = 0; i < n; ++i) {
            const float l = s[2 * i], r = s[2 * i + 1];
            const float dl = line_[0].readInt(delay_), dr = line_[1].readInt(delay_);
            line_[0].write((l + r) * 0.5f + dr * 0.4f);
            line_[1].write(dl * 0.4f);
            s[2 * i] = l + dl * 0.6f;
            s[2 * i + 1] = r + dr * 0.6f;
        }
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
    }
    void reset() override { for (auto& d : line_) d.clear(); phase_ = 0; }
    void process(float* s, int n) noexcept override {
        const float inc = 2.0f * kPi * hz_ / rate_;
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < 2; ++c) {
                // Right side a quarter period later, for width.
                const float lfo = std::sin(phase_ + (c ? kPi / 2 : 0.0f));
                const float d = (baseMs_ + depthMs_ * 0.5f * (1.0f + lfo)) * rate_ / 1000.0f;
                float& x = s[2 * i + c];
                const float y = line_[c].read(std::max(d, 1.0f));
                line_[c].write(x + y * fb_);
                x = x * (1.0f - wet_ * 0.5f) + y * wet_;
            }
            phase_ += inc;
            if (phase_ > 2 * kPi) phase_ -= 2 * kPi;
        }
    }
    float baseMs_, depthMs_, hz_, fb_, wet_;
    float rate_ = 48000, phase_ = 0;
    std::array<DelayLine, 2> line_;
};

// Tremolo: 5 Hz, 60 % depth.
class Tremolo final : public DspUnit {
public:
    void prepare(int rate) override { inc_ = 2.0f * kPi * 5.0f / static_cast<float>(rate); phase_ = 0; }
    void reset() override { phase_ = 0; }
    void process(float* s, int n) noexcept override {
        for (int i = 0; i < n; ++i) {
            const float g = 1.0f - 0.6f * 0.5f * (1.0f + std::sin(phase_));
            s[2 * i] *= g; s[2 * i + 1] *= g;
            phase_ += inc_;
            if (phase_ > 2 * kPi) phase_ -= 2 * kPi;
        }
    }
    float inc_ = 0, phase_ = 0;
};

// Soft-clipping overdrive.
class Distortion final : public DspUnit {
public:
    void prepare(int) override {}
    void reset() override {}
    void process(float* s, int n) noexcept override {
        for (int i = 0; i < 2 * n; ++i) s[i] = std::tanh(s[i] * 8.0f) * 0.5f;
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
        env_ = 0;
    }
    void reset() override { env_ = 0; }
    void process(float* s, int n) noexcept override {
        for (int i = 0; i < n; ++i) {
            const float peak = std::max(std::fabs(s[2 * i]), std::fabs(s[2 * i + 1]));
            const float k = peak > env_ ? att_ : rel_;
            env_ = k * env_ + (1.0f - k) * peak;
            float gain = makeup_;
            if (env_ > 1e-6f) {
                const float db = 20.0f * std::log10(env_);
                if (db > thr_) gain *= std::pow(10.0f, ((thr_ - db) * (1.0f - 1.0f / ratio_)) / 20.0f);
            }
            s[2 * i] *= gain; s[2 * i + 1] *= gain;
        }
    }
    float thr_, ratio_, makeup_, attackMs_, releaseMs_;
    float att_ = 0, rel_ = 0, env_ = 0;
};

// Brings quiet material up towards full scale: peak follower with a slow fall.
class Normalizer final : public DspUnit {
public:
    void prepare(int rate) override { fall_ = std::exp(-1.0f / (2.0f * static_cast<float>(rate))); peak_ = 0; }
    void reset() override { peak_ = 0; }
    void process(float* s, int n) noexcept override {
        for (int i = 0; i < n; ++i) {
            const float p = std::max(std::fabs(s[2 * i]), std::fabs(s[2 * i + 1]));
            peak_ = std::max(p, peak_ * fall_);
            const float gain = peak_ > 0.05f ? std::min(0.9f / peak_, 10.0f) : 1.0f;
            s[2 * i] *= gain; s[2 * i + 1] *= gain;
        }
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
    }
    void reset() override { for (auto& d : line_) d.clear(); phase_ = 0; }
    void process(float* s, int n) noexcept override {
        constexpr float ratio = 1.5f;
        for (int i = 0; i < n; ++i) {
            phase_ += (1.0f - ratio) / window_;
            phase_ -= std::floor(phase_);
            const float p2 = phase_ + 0.5f - std::floor(phase_ + 0.5f);
            const float g1 = std::sin(kPi * phase_), g2 = std::sin(kPi * p2);
            for (int c = 0; c < 2; ++c) {
                line_[c].write(s[2 * i + c]);
                s[2 * i + c] = line_[c].read(1.0f + phase_ * window_) * g1 +
                               line_[c].read(1.0f + p2 * window_) * g2;
            }
        }
    }
    float window_ = 2400, phase_ = 0;
    std::array<DelayLine, 2> line_;
};

// Schroeder-Moorer reverb: eight damped combs and four all-passes per side.
class Reverb final : public DspUnit {
public:
    void prepare(int rate) override {
        static constexpr std::array<int, 8> combs{1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
        static constexpr std::array<int, 4> aps{556, 441, 341, 225};
        const float scale = static_cast<float>(rate) / 44100.0f;
        for (int c = 0; c < 2; ++c) {
            const int spread = c ? 23 : 0;
            for (std::size_t k = 0; k < combs.size(); ++k) {
                combLen_[c][k] = static_cast<std::size_t>(static_cast<float>(combs[k] + spread) * scale);
                comb_[c][k].resize(static_cast<int>(combLen_[c][k]) + 1);
            }
            for (std::size_t k = 0; k < aps.size(); ++k) {
                apLen_[c][k] = static_cast<std::size_t>(static_cast<float>(aps[k] + spread) * scale);
                ap_[c][k].resize(static_cast<int>(apLen_[c][k]) + 1);
            }
        }
        reset();
    }
    void reset() override {
        for (auto& side : comb_) for (auto& d : side) d.clear();
        for (auto& side : ap_) for (auto& d : side) d.clear();
        damp_ = {};
    }
    void process(float* s, int n) noexcept override {
        constexpr float feedback = 0.84f, damp = 0.3f, wet = 1.0f, gainIn = 0.015f;
        for (int i = 0; i < n; ++i) {
            const float in = (s[2 * i] + s[2 * i + 1]) * gainIn;
            for (int c = 0; c < 2; ++c) {
                float out = 0;
                for (std::size_t k = 0; k < 8; ++k) {
                    const float y = comb_[c][k].readInt(combLen_[c][k]);
                    damp_[c][k] = y * (1 - damp) + damp_[c][k] * damp;
                    comb_[c][k].write(in + damp_[c][k] * feedback);
                    out += y;
                }
                for (std::size_t k = 0; k < 4; ++k) {
                    const float b = ap_[c][k].readInt(apLen_[c][k]);
                    ap_[c][k].write(out + b * 0.5f);
                    out = b - out;
                }
                s[2 * i + c] += out * wet;
            }
        }
    }
    std::array<std::array<DelayLine, 8>, 2> comb_;
    std::array<std::array<std::size_t, 8>, 2> combLen_{};
    std::array<std::array<float, 8>, 2> damp_{};
    std::array<std::array<DelayLine, 4>, 2> ap_;
    std::array<std::array<std::size_t, 4>, 2> apLen_{};
};

// Lo-fi: 6-bit quantisation and a quarter of the sample rate.
class LoFi final : public DspUnit {
public:
    void prepare(int) override { reset(); }
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
    case 14: return std::make_unique<Compressor>(-1.0f, 100.0f, 0.0f, 0.05f, 50.0f);
    case 15: return std::make_unique<LoFi>();
    default: return nullptr;
    }
}

}  // namespace rb::detail
