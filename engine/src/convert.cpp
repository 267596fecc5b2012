// Conversion between the mixer's float samples and PCM 8/16/24/32-bit. Real-
// time safe.
#include "convert.h"

#include "rbcore.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rb::detail {

int bytesPerSample(int format) noexcept {
    switch (format) {
    case SOUND_FORMAT_PCM8: return 1;
    case SOUND_FORMAT_PCM16: return 2;
    case SOUND_FORMAT_PCM24: return 3;
    case SOUND_FORMAT_PCM32:
    case SOUND_FORMAT_PCMFLOAT: return 4;
    default: return 0;
    }
}

void fromFloat(const float* src, void* dst, std::size_t samples, int format) noexcept {
    auto clip = [](float v) { return std::clamp(v, -1.0f, 1.0f); };
    switch (format) {
    case SOUND_FORMAT_PCM8: {
        // Unsigned, as user sounds and WAV files hold 8-bit samples.
        auto* d = static_cast<std::uint8_t*>(dst);
        for (std::size_t i = 0; i < samples; ++i)
            d[i] = static_cast<std::uint8_t>(std::lrint(clip(src[i]) * 127.0f) + 128);
        break;
    }
    case SOUND_FORMAT_PCM24: {
        auto* d = static_cast<std::uint8_t*>(dst);
        for (std::size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<std::int32_t>(std::lrint(clip(src[i]) * 8388607.0f));
            d[3 * i] = static_cast<std::uint8_t>(v);
            d[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            d[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
        }
        break;
    }
    case SOUND_FORMAT_PCM32: {
        auto* d = static_cast<std::int32_t*>(dst);
        for (std::size_t i = 0; i < samples; ++i)
            d[i] = static_cast<std::int32_t>(std::llrint(static_cast<double>(clip(src[i])) * 2147483647.0));
        break;
    }
    case SOUND_FORMAT_PCMFLOAT: std::memcpy(dst, src, samples * sizeof(float)); break;
    default: {
        auto* d = static_cast<std::int16_t*>(dst);
        for (std::size_t i = 0; i < samples; ++i) d[i] = static_cast<std::int16_t>(std::lrint(clip(src[i]) * 32767.0f));
        break;
    }
    }
}

float toFloat(const std::uint8_t* p, std::size_t index, int format) noexcept {
    switch (format) {
    case SOUND_FORMAT_PCM8: return (static_cast<float>(p[index]) - 128.0f) / 128.0f;
    case SOUND_FORMAT_PCM16: {
        std::int16_t v;
        std::memcpy(&v, p + index * 2, 2);
        return static_cast<float>(v) / 32768.0f;
    }
    case SOUND_FORMAT_PCM24: {
        const std::uint8_t* q = p + index * 3;
        const auto u = static_cast<std::uint32_t>(q[0] << 8 | q[1] << 16 | q[2] << 24);
        return static_cast<float>(static_cast<std::int32_t>(u) >> 8) / 8388608.0f;
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

}  // namespace rb::detail
