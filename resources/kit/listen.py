#!/usr/bin/env python3
"""Looks at the demo kit the way an ear would: per sound the peak, DC, edges,
decay, pitch over time, octave-band spectrum and envelope; then plays a two-bar
groove through the package's own key list (volumes and stop keys included) into
a WAV and checks it for clipping.

    python3 resources/kit/listen.py "build/bin/Pacotes/Rimbal Demo" [groove.wav]
"""
import cmath
import math
import os
import struct
import sys
import wave

RATE = 44100


def read_wav(path):
    with wave.open(path, "rb") as w:
        assert w.getframerate() == RATE and w.getsampwidth() == 2 and w.getnchannels() == 1, path
        raw = w.readframes(w.getnframes())
    return [v / 32768.0 for v in struct.unpack("<%dh" % (len(raw) // 2), raw)]


def fft(x):
    n = len(x)
    a = [complex(v) for v in x]
    j = 0
    for i in range(1, n):
        bit = n >> 1
        while j & bit:
            j ^= bit
            bit >>= 1
        j |= bit
        if i < j:
            a[i], a[j] = a[j], a[i]
    size = 2
    while size <= n:
        w = cmath.exp(-2j * math.pi / size)
        for start in range(0, n, size):
            wk = 1
            for k in range(size // 2):
                u, v = a[start + k], a[start + k + size // 2] * wk
                a[start + k], a[start + k + size // 2] = u + v, u - v
                wk *= w
        size *= 2
    return a


def spectrum(x, start, n=4096, hann=True):
    seg = x[start:start + n] + [0.0] * max(0, start + n - len(x))
    if hann:
        seg = [seg[i] * (0.5 - 0.5 * math.cos(2 * math.pi * i / n)) for i in range(n)]
    return [abs(c) for c in fft(seg)[: n // 2]], RATE / n


def dominant(x, start, n=4096, lo=30.0):
    mags, df = spectrum(x, start, n)
    k = max(range(int(lo / df), len(mags)), key=lambda i: mags[i])
    return k * df


# The sounds start and end at silence, so the whole first 0.74 s is taken
# without a window: the attack counts as much as the tail.
def bands(x, n=32768):
    mags, df = spectrum(x, 0, n, hann=False)
    edges = [31.5 * 2 ** i for i in range(10)]
    out = []
    for f in edges:
        lo, hi = f / math.sqrt(2), f * math.sqrt(2)
        e = sum(m * m for i, m in enumerate(mags) if lo <= i * df < hi)
        out.append(e)
    total = sum(out) or 1.0
    return [10 * math.log10(e / total + 1e-12) for e in out]


def centroid(x, n=32768):
    mags, df = spectrum(x, 0, n, hann=False)
    p = [m * m for m in mags]
    return sum(i * df * v for i, v in enumerate(p)) / (sum(p) or 1.0)


def db(v):
    return 20 * math.log10(max(v, 1e-9))


def envelope(x, ms=10):
    step = RATE * ms // 1000
    return [db(math.sqrt(sum(v * v for v in x[i:i + step]) / step)) for i in range(0, len(x) - step + 1, step)]


def decay_time(x, drop_db):
    env = envelope(x, 5)
    top = max(env)
    peak_at = env.index(top)
    for i in range(peak_at, len(env)):
        if env[i] < top - drop_db:
            return i * 5
    return None


def bar(v, lo=-60.0, width=12):
    n = int(round((max(v, lo) - lo) / -lo * width))
    return "#" * n + "." * (width - n)


def analyse(name, x):
    peak = max(abs(v) for v in x)
    dc = sum(x) / len(x)
    print("%-22s %5d ms  peak %6.2f dBFS  DC %+.5f  first %+d  last %+d LSB  -20 dB at %s ms  -60 dB at %s ms" % (
        name, len(x) * 1000 // RATE, db(peak), dc, round(x[0] * 32768), round(x[-1] * 32768),
        decay_time(x, 20), decay_time(x, 60)))
    pitch = [dominant(x, int(t * RATE), 2048) for t in (0.0, 0.03, 0.1) if int(t * RATE) + 512 < len(x)]
    print("    dominant Hz over time: %s   centroid %.0f Hz" % (" -> ".join("%.0f" % f for f in pitch), centroid(x)))
    print("    octave bands 31 Hz..16 kHz (dB of total): " + " ".join("%4.0f" % b for b in bands(x)))
    env = envelope(x, 10)[:24]
    print("    envelope per 10 ms: " + " ".join(bar(e, width=4) for e in env))
    return peak, dc


def read_keys(folder):
    keys = []
    with open(os.path.join(folder, "Keys.txt"), "rb") as f:
        for line in f.read().decode("cp1252").split("\r\n"):
            if not line:
                continue
            fields = line.split("*")
            keys.append({"play": int(fields[0]), "stop": int(fields[1]), "stopall": fields[3] == "1",
                         "volume": float(fields[5].replace(",", ".")), "file": fields[-1]})
    return keys


def groove(folder, sounds, keys, out_path):
    """Two bars at 112 BPM, as a player would press the keys; returns the mix."""
    bpm, bars = 112, 2
    step = 60.0 / bpm / 4
    # Per sixteenth: the keys pressed (characters as on the keyboard, " " = space).
    pattern = [
        "QP ", "A", "A", "A", "FA", "A", "A", "Q", "Z ", "A", "AB", "A", "FA", "A", "AG", "QH",
        "Z ", "A", "A", "A", "FAM", "A", "A", "ME", "ZB", "AN", "U", "U", "FI", "I", "OK", "O.",
    ]
    code = {" ": 0x20, ".": 0xBE, ",": 0xBC, "/": 0xBF}
    total = int((bars * 16 * step + 2.5) * RATE)
    mix = [0.0] * total
    voices = []  # [line index, sample position in mix, sound, cut at]
    for i, keys_down in enumerate(pattern):
        t = int(i * step * RATE)
        for ch in keys_down:
            vk = code.get(ch, ord(ch))
            # The program's scan: stop keys silence earlier lines, the first play line plays.
            for li, k in enumerate(keys):
                if k["play"] == vk:
                    voices.append([li, t, sounds[k["file"]], None])
                    break
                if k["stop"] == vk:
                    for v in voices:
                        if v[0] == li and v[3] is None and v[1] + len(v[2]) > t:
                            v[3] = t
                    if not k["stopall"]:
                        break
    for li, start, s, cut in voices:
        vol = keys[li]["volume"]
        end = len(s) if cut is None else min(len(s), cut - start + int(0.002 * RATE))
        for n in range(end):
            g = vol
            if cut is not None and start + n >= cut:
                g *= 1.0 - (start + n - cut) / (0.002 * RATE)
            mix[start + n] += g * s[n]
    peak = max(abs(v) for v in mix)
    clipped = sum(1 for v in mix if abs(v) >= 1.0)
    with wave.open(out_path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(struct.pack("<%dh" % len(mix), *(max(-32768, min(32767, round(v * 32767))) for v in mix)))
    print("\ngroove: %d presses, %.1f s, peak %.2f dBFS, %d clipped samples -> %s" % (
        len(voices), total / RATE, db(peak), clipped, out_path))
    per16 = [db(math.sqrt(sum(v * v for v in mix[int(i * step * RATE):int((i + 1) * step * RATE)]) / (step * RATE)))
             for i in range(bars * 16)]
    print("    RMS per sixteenth: " + " ".join("%3.0f" % v for v in per16))
    # The open hat of step 0 must stop at the closed hat of step 1.
    chokes = [v for v in voices if v[3] is not None]
    print("    open hi-hats silenced by a hat key: %d of %d" % (len(chokes), sum(1 for v in voices if keys[v[0]]["stop"])))
    return peak, clipped


def main():
    folder = sys.argv[1]
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(folder, "..", "..", "..", "groove.wav")
    names = sorted(f for f in os.listdir(folder) if f.endswith(".wav"))
    sounds = {}
    for name in names:
        sounds[name] = read_wav(os.path.join(folder, name))
        analyse(name, sounds[name])
    groove(folder, sounds, read_keys(folder), out)


if __name__ == "__main__":
    main()
