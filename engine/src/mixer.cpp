// The audio thread's side: commands in, mixed blocks out. Nothing here locks,
// allocates, touches files or logs.
#include "internal.h"

#include <algorithm>
#include <cstring>

namespace rb::detail {
namespace {

// The innermost loops of mixing; cloned for AVX2 where the processor has it.
__attribute__((target_clones("avx2", "default")))
void addScaled(float* __restrict d, const float* __restrict src, int samples, float vol) noexcept {
    for (int k = 0; k < samples; ++k) d[k] += src[k] * vol;
}

__attribute__((target_clones("avx2", "default")))
void addMonoScaled(float* __restrict d, const float* __restrict src, int frames, float vol) noexcept {
    for (int k = 0; k < frames; ++k) {
        const float x = src[k] * vol;
        d[2 * k] += x;
        d[2 * k + 1] += x;
    }
}

__attribute__((target_clones("avx2", "default")))
void addBuffer(float* __restrict d, const float* __restrict src, int samples) noexcept {
    for (int k = 0; k < samples; ++k) d[k] += src[k];
}

float rawSample(const SoundObj& s, std::size_t index) noexcept {
    const std::uint8_t* p = s.raw.data();
    switch (s.format) {
    case SOUND_FORMAT_PCM8: return (static_cast<float>(p[index]) - 128.0f) / 128.0f;
    case SOUND_FORMAT_PCM16: {
        std::int16_t v;
        std::memcpy(&v, p + index * 2, 2);
        return static_cast<float>(v) / 32768.0f;
    }
    case SOUND_FORMAT_PCM24: {
        const std::uint8_t* q = p + index * 3;
        std::int32_t v = (q[0] << 8) | (q[1] << 16) | (q[2] << 24);
        return static_cast<float>(v >> 8) / 8388608.0f;
    }
    case SOUND_FORMAT_PCM32: {
        std::int32_t v;
        std::memcpy(&v, p + index * 4, 4);
        return static_cast<float>(v) / 2147483648.0f;
    }
    case SOUND_FORMAT_PCMFLOAT: {
        float v;
        std::memcpy(&v, p + index * 4, 4);
        return v;
    }
    default: return 0.0f;
    }
}

inline float sampleAt(const SoundObj& s, std::size_t frame, int ch) noexcept {
    const std::size_t i = frame * static_cast<std::size_t>(s.channels) +
                          static_cast<std::size_t>(std::min(ch, s.channels - 1));
    return s.user ? rawSample(s, i) : s.pcm[i];
}

// Mixes one voice into dst; returns false when the voice has ended.
bool mixVoice(Voice& v, float* dst, int frames) noexcept {
    const SoundObj& s = *v.sound;
    const std::uint32_t len = s.dataFrames;
    if (len == 0 || s.channels <= 0) return false;
    const float vol = v.volume;
    int i = 0;
    if (v.step == 1.0 && !s.user) {
        // Fast path: same rate, float data.
        auto pos = static_cast<std::size_t>(v.pos);
        const float* pcm = s.pcm.data();
        while (i < frames) {
            if (pos >= len) {
                if (!v.loop) { v.pos = static_cast<double>(pos); return false; }
                pos = 0;
            }
            const int n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(frames - i), len - pos));
            if (s.channels == 1) addMonoScaled(dst + 2 * i, pcm + pos, n, vol);
            else addScaled(dst + 2 * i, pcm + pos * 2, 2 * n, vol);
            i += n;
            pos += static_cast<std::size_t>(n);
        }
        v.pos = static_cast<double>(pos);
        return true;
    }
    double pos = v.pos;
    for (; i < frames; ++i) {
        if (pos >= len) {
            if (!v.loop) { v.pos = pos; return false; }
            pos -= len;
        }
        const auto i0 = static_cast<std::size_t>(pos);
        const std::size_t i1 = i0 + 1 < len ? i0 + 1 : (v.loop ? 0 : i0);
        const auto f = static_cast<float>(pos - static_cast<double>(i0));
        for (int c = 0; c < 2; ++c) {
            const float a = sampleAt(s, i0, c), b = sampleAt(s, i1, c);
            dst[2 * i + c] += (a + (b - a) * f) * vol;
        }
        pos += v.step;
    }
    v.pos = pos;
    return true;
}

void removeUnit(Chain& chain, DspUnit* unit) noexcept {
    for (int i = 0; i < chain.count; ++i)
        if (chain.units[static_cast<std::size_t>(i)] == unit) {
            for (int k = i; k + 1 < chain.count; ++k)
                chain.units[static_cast<std::size_t>(k)] = chain.units[static_cast<std::size_t>(k + 1)];
            --chain.count;
            return;
        }
}

void runChain(Chain& chain, float* buf, int frames) noexcept {
    for (int i = 0; i < chain.count; ++i) chain.units[static_cast<std::size_t>(i)]->process(buf, frames);
}

}  // namespace

void SystemImpl::apply(const Command& c) noexcept {
    auto endVoice = [this](int slot) {
        Voice& v = voices[static_cast<std::size_t>(slot)];
        v.active = false;
        publish[static_cast<std::size_t>(slot)].endedGen.store(v.gen, std::memory_order_release);
    };
    auto current = [this, &c]() -> Voice* {
        Voice& v = voices[static_cast<std::size_t>(c.slot)];
        return v.active && v.gen == c.gen ? &v : nullptr;
    };
    switch (c.kind) {
    case Command::Start: {
        Voice& v = voices[static_cast<std::size_t>(c.slot)];
        v.active = true;
        v.paused = (c.flag & 1) != 0;
        v.loop = (c.flag & 2) != 0;
        v.gen = c.gen;
        v.sound = c.sound;
        v.pos = 0;
        v.step = c.sound->dataRate > 0 ? static_cast<double>(c.sound->dataRate) / mixRate : 1.0;
        v.volume = c.value;
        v.group = c.target;
        publish[static_cast<std::size_t>(c.slot)].pos.store(0, std::memory_order_relaxed);
        break;
    }
    case Command::SetVolume: if (Voice* v = current()) v->volume = c.value; break;
    case Command::SetPaused: if (Voice* v = current()) v->paused = c.flag != 0; break;
    case Command::SetGroup: if (Voice* v = current()) v->group = c.target; break;
    case Command::Stop: if (current()) endVoice(c.slot); break;
    case Command::StopSound:
        for (int i = 0; i < kMaxChannels; ++i)
            if (voices[static_cast<std::size_t>(i)].active && voices[static_cast<std::size_t>(i)].sound == c.sound) endVoice(i);
        break;
    case Command::StopAll:
        for (int i = 0; i < kMaxChannels; ++i)
            if (voices[static_cast<std::size_t>(i)].active) endVoice(i);
        break;
    case Command::Attach: {
        removeUnit(masterChain, c.unit);
        for (auto& ch : groupChains) removeUnit(ch, c.unit);
        Chain& target = c.target < 0 ? masterChain : groupChains[static_cast<std::size_t>(c.target)];
        if (target.count < kMaxUnitsPerChain) {
            c.unit->reset();
            target.units[static_cast<std::size_t>(target.count++)] = c.unit;
        }
        break;
    }
    case Command::Detach:
        removeUnit(masterChain, c.unit);
        for (auto& ch : groupChains) removeUnit(ch, c.unit);
        break;
    case Command::ClearGroup:
        groupChains[static_cast<std::size_t>(c.slot)].count = 0;
        for (auto& v : voices)
            if (v.group == c.slot) v.group = -1;
        break;
    }
}

void SystemImpl::applyCommands() noexcept {
    Command c;
    std::uint64_t n = 0;
    while (queue.pop(c)) {
        apply(c);
        ++n;
    }
    if (n) processed.fetch_add(n, std::memory_order_release);
}

void SystemImpl::renderBlock(float* out, int frames) noexcept {
    float* mix = mixBuf.data();
    std::fill(mix, mix + 2 * frames, 0.0f);
    std::array<bool, kMaxGroups> pendingGroup{};
    for (std::size_t i = 0; i < voices.size(); ++i) {
        Voice& v = voices[i];
        if (!v.active || v.paused) continue;
        if (v.group >= 0 && groupChains[static_cast<std::size_t>(v.group)].count > 0) {
            pendingGroup[static_cast<std::size_t>(v.group)] = true;
            continue;
        }
        if (!mixVoice(v, mix, frames)) {
            v.active = false;
            publish[i].endedGen.store(v.gen, std::memory_order_release);
        }
        publish[i].pos.store(static_cast<std::uint32_t>(v.pos), std::memory_order_relaxed);
    }
    // Groups with effects run every block, so echoes and reverb tails ring on
    // after their voices end.
    float* gbuf = groupBuf.data();
    for (std::size_t g = 0; g < groupChains.size(); ++g) {
        Chain& chain = groupChains[g];
        if (chain.count == 0) continue;
        std::fill(gbuf, gbuf + 2 * frames, 0.0f);
        if (pendingGroup[g]) {
            for (std::size_t i = 0; i < voices.size(); ++i) {
                Voice& v = voices[i];
                if (!v.active || v.paused || v.group != static_cast<int>(g)) continue;
                if (!mixVoice(v, gbuf, frames)) {
                    v.active = false;
                    publish[i].endedGen.store(v.gen, std::memory_order_release);
                }
                publish[i].pos.store(static_cast<std::uint32_t>(v.pos), std::memory_order_relaxed);
            }
        }
        runChain(chain, gbuf, frames);
        addBuffer(mix, gbuf, 2 * frames);
    }
    runChain(masterChain, mix, frames);
    std::memcpy(out, mix, sizeof(float) * 2 * static_cast<std::size_t>(frames));
}

void SystemImpl::render(float* out, unsigned frames) noexcept {
    applyCommands();
    unsigned done = 0;
    while (done < frames) {
        const int n = static_cast<int>(std::min<unsigned>(frames - done, kBlockFrames));
        renderBlock(out + 2 * done, n);
        done += static_cast<unsigned>(n);
    }
}

void Recorder::write(const void* data, std::uint32_t frames) noexcept {
    if (!active.load(std::memory_order_acquire) || !sound || ringFrames == 0) return;
    auto* ring = sound->raw.data();
    const auto* src = static_cast<const std::uint8_t*>(data);
    std::uint32_t pos = writeFrame.load(std::memory_order_relaxed);
    while (frames > 0) {
        const std::uint32_t n = std::min(frames, ringFrames - pos);
        std::memcpy(ring + static_cast<std::size_t>(pos) * frameBytes, src, static_cast<std::size_t>(n) * frameBytes);
        src += static_cast<std::size_t>(n) * frameBytes;
        frames -= n;
        pos += n;
        if (pos == ringFrames) {
            if (!loop) {
                writeFrame.store(pos, std::memory_order_release);
                active.store(false, std::memory_order_release);
                return;
            }
            pos = 0;
        }
    }
    writeFrame.store(pos, std::memory_order_release);
}

}  // namespace rb::detail
