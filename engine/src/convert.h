// Sample format conversion between the mixer's float and the PCM formats of
// devices and user sounds. Real-time safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rb::detail {

int bytesPerSample(int format) noexcept;

// Float samples to `format`, clipped to full scale.
void fromFloat(const float* src, void* dst, std::size_t samples, int format) noexcept;

// Sample `index` of raw data in `format`, as float.
float toFloat(const std::uint8_t* data, std::size_t index, int format) noexcept;

}  // namespace rb::detail
