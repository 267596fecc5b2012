// Synthesizes the demo kit "Rimbal Demo": sixteen drum-machine sounds as
// 44.1 kHz 16-bit mono WAV files, with the package's Info.txt and Keys.txt.
// Run by the build:  makekit <package folder>
// Deterministic: fixed noise seeds, no clock, no dither, so two runs write
// the same bytes.
#include "kit/kitlayout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using rimbal::DrumRole;
using Signal = std::vector<double>;

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

int frames(double seconds) { return static_cast<int>(std::lround(seconds * kRate)); }
double timeOf(int i) { return i / kRate; }

// xorshift32: the same noise on every machine.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : s_(seed ? seed : 1u) {}
    double next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return static_cast<double>(s_) / 2147483648.0 - 1.0;
    }

private:
    std::uint32_t s_;
};

// RBJ cookbook biquads.
class Biquad {
public:
    static Biquad bandPass(double f, double q) {
        const auto [w, alpha] = prewarp(f, q);
        return {alpha, 0, -alpha, 1 + alpha, -2 * std::cos(w), 1 - alpha};
    }
    static Biquad highPass(double f, double q = 0.7071) {
        const auto [w, alpha] = prewarp(f, q);
        const double c = std::cos(w);
        return {(1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha};
    }
    static Biquad lowPass(double f, double q = 0.7071) {
        const auto [w, alpha] = prewarp(f, q);
        const double c = std::cos(w);
        return {(1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha};
    }
    double operator()(double x) {
        const double y = b0_ * x + z1_;
        z1_ = b1_ * x - a1_ * y + z2_;
        z2_ = b2_ * x - a2_ * y;
        return y;
    }
    Signal run(const Signal& in) {
        Signal out(in.size());
        for (std::size_t i = 0; i < in.size(); ++i) out[i] = (*this)(in[i]);
        return out;
    }

private:
    Biquad(double b0, double b1, double b2, double a0, double a1, double a2)
        : b0_(b0 / a0), b1_(b1 / a0), b2_(b2 / a0), a1_(a1 / a0), a2_(a2 / a0) {}
    static std::pair<double, double> prewarp(double f, double q) {
        const double w = 2 * kPi * f / kRate;
        return {w, std::sin(w) / (2 * q)};
    }
    double b0_, b1_, b2_, a1_, a2_, z1_ = 0, z2_ = 0;
};

// Band-limited square wave (PolyBLEP), so the metal sounds do not alias.
class Square {
public:
    explicit Square(double hz, double phase = 0) : inc_(hz / kRate), phase_(phase) {}
    double next() {
        double v = phase_ < 0.5 ? 1.0 : -1.0;
        v += blep(phase_);
        v -= blep(std::fmod(phase_ + 0.5, 1.0));
        phase_ += inc_;
        if (phase_ >= 1.0) phase_ -= 1.0;
        return v;
    }

private:
    double blep(double t) const {
        if (t < inc_) {
            t /= inc_;
            return t + t - t * t - 1.0;
        }
        if (t > 1.0 - inc_) {
            t = (t - 1.0) / inc_;
            return t * t + t + t + 1.0;
        }
        return 0.0;
    }
    double inc_, phase_;
};

// The six square oscillators of the classic analog hi-hat and cymbal, scaled.
Signal metal(int n, double scale, bool ringModulated) {
    static constexpr double kHz[] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    std::vector<Square> osc;
    for (std::size_t k = 0; k < 6; ++k) osc.emplace_back(kHz[k] * scale, 0.13 * static_cast<double>(k));
    Signal out(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        double v[6];
        for (std::size_t k = 0; k < 6; ++k) v[k] = osc[k].next();
        out[static_cast<std::size_t>(i)] =
            ringModulated ? (v[0] * v[1] + v[2] * v[3] + v[4] * v[5]) / 3.0 : (v[0] + v[1] + v[2] + v[3] + v[4] + v[5]) / 6.0;
    }
    return out;
}

Signal noise(int n, std::uint32_t seed) {
    Noise g(seed);
    Signal out(static_cast<std::size_t>(n));
    for (double& v : out) v = g.next();
    return out;
}

// A sine whose frequency follows hz(t); the phase starts at zero.
Signal sweep(int n, const std::function<double(double)>& hz) {
    Signal out(static_cast<std::size_t>(n));
    double phase = 0;
    for (int i = 0; i < n; ++i) {
        out[static_cast<std::size_t>(i)] = std::sin(2 * kPi * phase);
        phase += hz(timeOf(i)) / kRate;
        phase -= std::floor(phase);
    }
    return out;
}

// Multiplies by an envelope of time.
Signal shaped(Signal s, const std::function<double(double)>& env) {
    for (std::size_t i = 0; i < s.size(); ++i) s[i] *= env(timeOf(static_cast<int>(i)));
    return s;
}

double decay(double t, double tau) { return std::exp(-t / tau); }

void mixInto(Signal& into, const Signal& s, double gain) {
    if (into.size() < s.size()) into.resize(s.size(), 0.0);
    for (std::size_t i = 0; i < s.size(); ++i) into[i] += gain * s[i];
}

Signal saturate(Signal s, double drive) {
    const double norm = std::tanh(drive);
    for (double& v : s) v = std::tanh(drive * v) / norm;
    return s;
}

// ---- the sounds ----

Signal kick() {
    const int n = frames(0.45);
    // Body: a sine swept from 240 Hz down to 52 Hz, held briefly, then decaying.
    Signal body = shaped(sweep(n, [](double t) { return 52.0 + 190.0 * decay(t, 0.028); }),
                         [](double t) { return t < 0.015 ? 1.0 : decay(t - 0.015, 0.11); });
    // Beater click: a short burst of band-passed noise.
    Signal click = shaped(Biquad::bandPass(3200, 0.9).run(noise(frames(0.02), 0x4B1Cu)), [](double t) { return decay(t, 0.003); });
    mixInto(body, click, 0.5);
    return saturate(body, 1.8);
}

Signal snare() {
    const int n = frames(0.38);
    // Two drum-head modes falling slightly in pitch.
    Signal s = shaped(sweep(n, [](double t) { return 185.0 * (1 + 0.25 * decay(t, 0.012)); }), [](double t) { return decay(t, 0.055); });
    mixInto(s, shaped(sweep(n, [](double t) { return 330.0 * (1 + 0.2 * decay(t, 0.01)); }), [](double t) { return decay(t, 0.035); }), 0.55);
    // Snares: bright noise with a longer tail.
    Biquad hp = Biquad::highPass(1400), lp = Biquad::lowPass(9500);
    Signal wires = shaped(lp.run(hp.run(noise(n, 0x5A4Eu))), [](double t) { return 0.85 * decay(t, 0.075) + 0.15 * decay(t, 0.01); });
    mixInto(s, wires, 1.4);
    return saturate(s, 1.3);
}

Signal rimShot() {
    const int n = frames(0.11);
    // Two ringing modes, high-passed and clipped hard, as the analog rim shot.
    Signal s = shaped(sweep(n, [](double) { return 1720.0; }), [](double t) { return decay(t, 0.008); });
    mixInto(s, shaped(sweep(n, [](double) { return 470.0; }), [](double t) { return decay(t, 0.012); }), 0.5);
    mixInto(s, shaped(Biquad::bandPass(4000, 1.0).run(noise(frames(0.01), 0x2173u)), [](double t) { return decay(t, 0.0015); }), 0.6);
    return Biquad::highPass(350).run(saturate(s, 2.5));
}

Signal clap() {
    const int n = frames(0.42);
    // Three quick claps, then the diffuse tail of the room.
    static constexpr double kOnsets[] = {0.0, 0.010, 0.021, 0.032};
    Signal src = Biquad::bandPass(1150, 1.3).run(noise(n, 0xC1A9u));
    Signal hi = Biquad::bandPass(2400, 1.5).run(noise(n, 0x7E11u));
    mixInto(src, hi, 0.5);
    return shaped(src, [](double t) {
        for (int k = 2; k >= 0; --k)
            if (t >= kOnsets[k] && t < kOnsets[k + 1]) return decay(t - kOnsets[k], 0.004);
        return t < kOnsets[3] ? 0.0 : decay(t - kOnsets[3], 0.08);
    });
}

// The hi-hats share one metallic source: six squares through two band-passes
// and a high-pass, with a little noise for sizzle.
Signal hatSource(int n, std::uint32_t seed, double lowBand) {
    Signal m = metal(n, 1.0, false);
    Signal nz = noise(n, seed);
    Signal s(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) s[static_cast<std::size_t>(i)] = m[static_cast<std::size_t>(i)] + 0.35 * nz[static_cast<std::size_t>(i)];
    Signal a = Biquad::bandPass(7400, 1.2).run(s);
    mixInto(a, Biquad::bandPass(lowBand, 1.6).run(s), 0.45);
    Biquad hp1 = Biquad::highPass(5600), hp2 = Biquad::highPass(5600);
    return hp2.run(hp1.run(a));
}

Signal closedHat() {
    return shaped(hatSource(frames(0.16), 0x4C05u, 10500), [](double t) { return decay(t, 0.022); });
}

Signal pedalHat() {
    // The foot closing the cymbals: a softer attack and a duller "chick".
    const int n = frames(0.13);
    Signal s = shaped(hatSource(n, 0x9EDAu, 4200), [](double t) { return (1 - decay(t, 0.0025)) * decay(t, 0.02); });
    mixInto(s, shaped(Biquad::bandPass(1900, 2.0).run(noise(n, 0x3C3Cu)), [](double t) { return decay(t, 0.006); }), 0.25);
    return s;
}

Signal openHat() {
    return shaped(hatSource(frames(0.85), 0x0BE7u, 10500), [](double t) { return 0.8 * decay(t, 0.2) + 0.2 * decay(t, 0.02); });
}

Signal tom(double hz, double tau, double seconds, std::uint32_t seed) {
    const int n = frames(seconds);
    // Sine with the pitch bend of a struck head, a faint overtone and a stick click.
    Signal s = shaped(sweep(n, [hz](double t) { return hz * (1 + 0.55 * decay(t, 0.045)); }),
                      [tau](double t) { return decay(t, tau); });
    mixInto(s, shaped(sweep(n, [hz](double t) { return 1.6 * hz * (1 + 0.4 * decay(t, 0.03)); }), [tau](double t) { return decay(t, tau * 0.35); }), 0.18);
    mixInto(s, shaped(Biquad::bandPass(2500, 0.8).run(noise(frames(0.03), seed)), [](double t) { return decay(t, 0.004); }), 0.3);
    return saturate(s, 1.4);
}

Signal crash() {
    const int n = frames(2.2);
    // Ring-modulated squares and noise: a bright wash in three bands that
    // fade at different speeds.
    Signal m = metal(n, 1.45, true);
    Signal nz = noise(n, 0xC4A5u);
    Signal s(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = m[i] + 1.3 * nz[i];
    Signal low = shaped(Biquad::bandPass(4000, 1.2).run(s), [](double t) { return decay(t, 0.18); });
    Signal mid = shaped(Biquad::bandPass(7000, 0.9).run(s), [](double t) { return decay(t, 0.5); });
    Signal high = shaped(Biquad::highPass(9500).run(s), [](double t) { return decay(t, 0.75); });
    mixInto(low, mid, 1.0);
    mixInto(low, high, 0.8);
    return shaped(Biquad::highPass(1800).run(low), [](double t) { return 1 - 0.9 * decay(t, 0.004); });
}

Signal ride() {
    const int n = frames(2.0);
    // Less noise than the crash and a clear ping on top of a long shimmer.
    Signal m = metal(n, 2.05, true);
    Signal nz = noise(n, 0x41DEu);
    Signal s(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = m[i] + 0.15 * nz[i];
    Signal shimmer = shaped(Biquad::bandPass(5200, 1.4).run(s), [](double t) { return 0.55 * decay(t, 0.6) + 0.45 * decay(t, 0.05); });
    mixInto(shimmer, shaped(Biquad::highPass(8500).run(s), [](double t) { return decay(t, 0.35); }), 0.5);
    mixInto(shimmer, shaped(sweep(n, [](double) { return 3150.0; }), [](double t) { return decay(t, 0.09); }), 0.12);
    return Biquad::highPass(900).run(shimmer);
}

Signal rideBell() {
    const int n = frames(1.2);
    // Inharmonic partials of a bell over a little metal.
    static constexpr double kPartials[][3] = {{760, 0.55, 1.0}, {1130, 0.45, 0.55}, {1605, 0.35, 0.5},
                                              {2470, 0.25, 0.35}, {3320, 0.18, 0.25}, {4630, 0.12, 0.2}};
    Signal s(static_cast<std::size_t>(n), 0.0);
    for (const auto& p : kPartials) {
        const double hz = p[0], tau = p[1];
        mixInto(s, shaped(sweep(n, [hz](double) { return hz; }), [tau](double t) { return decay(t, tau); }), p[2]);
    }
    mixInto(s, shaped(Biquad::highPass(6000).run(metal(n, 2.05, true)), [](double t) { return decay(t, 0.12); }), 0.35);
    return s;
}

Signal cowbell() {
    const int n = frames(0.4);
    // Two squares a fifth and a bit apart through a band-pass, with the
    // two-stage decay of the analog cowbell.
    Square a(540.0), b(800.0, 0.25);
    Signal s(static_cast<std::size_t>(n));
    for (double& v : s) v = a.next() + b.next();
    Biquad bp = Biquad::bandPass(850, 1.1), lp = Biquad::lowPass(5200);
    return shaped(lp.run(bp.run(s)), [](double t) { return 0.6 * decay(t, 0.012) + 0.4 * decay(t, 0.11); });
}

Signal tambourine() {
    const int n = frames(0.4);
    // Jingles: high metal and noise, struck in quick succession.
    static constexpr double kHits[] = {0.0, 0.006, 0.015, 0.027};
    Signal m = metal(n, 3.1, true);
    Signal nz = noise(n, 0x7A4Bu);
    Signal s(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = 0.6 * m[i] + nz[i];
    Signal j = Biquad::bandPass(7800, 1.8).run(s);
    mixInto(j, Biquad::bandPass(10800, 2.2).run(s), 0.6);
    return shaped(j, [](double t) {
        double e = 0;
        for (double h : kHits)
            if (t >= h) e += (h == 0.0 ? 1.0 : 0.55) * decay(t - h, 0.03);
        return e * 0.7 + 0.3 * decay(t, 0.12);
    });
}

Signal shaker() {
    const int n = frames(0.16);
    // Seeds in a shell: band-passed noise that swells and falls.
    Biquad bp = Biquad::bandPass(6300, 1.4), hp = Biquad::highPass(3000);
    return shaped(hp.run(bp.run(noise(n, 0x54A4u))), [](double t) {
        const double rise = std::min(1.0, t / 0.025);
        return rise * rise * decay(std::max(0.0, t - 0.025), 0.035);
    });
}

// ---- finishing and writing ----

// Removes DC, fades both ends and scales the peak to peakDb.
Signal finish(Signal s, double peakDb, double fadeOutSeconds) {
    // One-pole DC blocker at about 15 Hz.
    const double r = 1.0 - 2 * kPi * 15.0 / kRate;
    double x1 = 0, y1 = 0;
    for (double& v : s) {
        const double y = v - x1 + r * y1;
        x1 = v;
        y1 = y;
        v = y;
    }
    const int in = frames(0.0006), out = std::min(frames(fadeOutSeconds), static_cast<int>(s.size()));
    for (int i = 0; i < in; ++i) s[static_cast<std::size_t>(i)] *= 0.5 - 0.5 * std::cos(kPi * i / in);
    for (int i = 0; i < out; ++i) s[s.size() - 1 - static_cast<std::size_t>(i)] *= 0.5 - 0.5 * std::cos(kPi * i / out);
    double peak = 0;
    for (double v : s) peak = std::max(peak, std::fabs(v));
    const double gain = std::pow(10.0, peakDb / 20.0) / peak;
    for (double& v : s) v *= gain;
    return s;
}

void put16(std::string& b, std::uint16_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
}
void put32(std::string& b, std::uint32_t v) {
    put16(b, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(b, static_cast<std::uint16_t>(v >> 16));
}

bool writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f.flush());
}

bool writeWav(const std::filesystem::path& path, const Signal& s) {
    const auto dataBytes = static_cast<std::uint32_t>(s.size() * 2);
    std::string b = "RIFF";
    put32(b, 36 + dataBytes);
    b += "WAVEfmt ";
    put32(b, 16);
    put16(b, 1);  // PCM
    put16(b, 1);  // mono
    put32(b, 44100);
    put32(b, 44100 * 2);
    put16(b, 2);
    put16(b, 16);
    b += "data";
    put32(b, dataBytes);
    for (double v : s) {
        const long q = std::lround(std::clamp(v, -1.0, 1.0) * 32767.0);
        put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(q)));
    }
    return writeFile(path, b);
}

struct DemoSound {
    DrumRole role;
    const char* file;
    double peakDb;
    double fadeOut;
    const char* volume;  // key list volume, "0.00" with a comma
    std::function<Signal()> make;
};

std::vector<DemoSound> demoSounds() {
    return {
        {DrumRole::Kick, "bumbo.wav", -0.3, 0.06, "0,55", kick},
        {DrumRole::Snare, "caixa.wav", -0.8, 0.05, "0,45", snare},
        {DrumRole::Rim, "aro.wav", -3.0, 0.02, "0,55", rimShot},
        {DrumRole::Clap, "palmas.wav", -1.5, 0.06, "0,50", clap},
        {DrumRole::HatClosed, "chimbal_fechado.wav", -4.0, 0.03, "0,55", closedHat},
        {DrumRole::HatPedal, "chimbal_pedal.wav", -5.0, 0.03, "0,55", pedalHat},
        {DrumRole::HatOpen, "chimbal_aberto.wav", -4.0, 0.15, "0,55", openHat},
        {DrumRole::TomHigh, "tom_agudo.wav", -1.5, 0.08, "0,38", [] { return tom(196, 0.11, 0.45, 0x7011u); }},
        {DrumRole::TomMid, "tom_medio.wav", -1.2, 0.08, "0,38", [] { return tom(147, 0.14, 0.55, 0x7022u); }},
        {DrumRole::TomLow, "tom_grave.wav", -1.0, 0.1, "0,38", [] { return tom(98, 0.17, 0.65, 0x7033u); }},
        {DrumRole::Crash, "prato_ataque.wav", -3.0, 0.3, "0,40", crash},
        {DrumRole::Ride, "prato_conducao.wav", -4.5, 0.3, "0,45", ride},
        {DrumRole::RideBell, "cupula.wav", -4.0, 0.25, "0,35", rideBell},
        {DrumRole::Cowbell, "cowbell.wav", -5.0, 0.06, "0,45", cowbell},
        {DrumRole::Tambourine, "pandeirola.wav", -5.0, 0.06, "0,45", tambourine},
        {DrumRole::Shaker, "ganza.wav", -5.5, 0.03, "0,45", shaker},
    };
}

std::string crlfLines(const std::vector<std::string>& lines, bool lastEnd) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        if (lastEnd || i + 1 < lines.size()) out += "\r\n";
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: makekit <pasta do pacote>\n");
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const auto sounds = demoSounds();
    for (const DemoSound& d : sounds) {
        if (!writeWav(dir / d.file, finish(d.make(), d.peakDb, d.fadeOut))) {
            std::fprintf(stderr, "makekit: não foi possível gravar %s\n", d.file);
            return 1;
        }
    }

    std::vector<std::string> keys;
    for (const rimbal::LayoutKey& k : rimbal::kKitLayout) {
        const auto stopKey = [&]() -> std::uint16_t {
            for (const rimbal::LayoutKey& s : rimbal::kKitLayout)
                if (k.stopRole != DrumRole::None && s.role == k.stopRole) return s.key;
            return 0;
        }();
        for (const DemoSound& d : sounds) {
            if (d.role != k.role) continue;
            // A hi-hat closing silences every open ring at once ("stop all").
            std::string line = std::to_string(k.key) + '*' + std::to_string(stopKey) + "*0*" + (stopKey ? "1" : "0") + "*0*" + d.volume + '*';
            for (int e = 0; e < 16; ++e) line += "0*";
            keys.push_back(line + d.file);
        }
    }
    // Windows-1252: "ô" and "ç" are single bytes.
    const std::vector<std::string> info{"[Info]", "Name=Rimbal Demo", "Author=Rimbal Team", "Contact=contato@rimbal.com.br",
                                        "Version=1.0",
                                        "Comment=Bateria eletr\xF4nica sintetizada pelo pr\xF3prio Rimbal: 16 sons anal\xF3gicos cl\xE1ssicos."};
    if (!writeFile(dir / "Keys.txt", crlfLines(keys, true)) || !writeFile(dir / "Info.txt", crlfLines(info, false))) {
        std::fprintf(stderr, "makekit: não foi possível gravar a lista de teclas\n");
        return 1;
    }
    return 0;
}
