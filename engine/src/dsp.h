// Effect units. Each processes interleaved stereo float in place. Buffers are
// sized in prepare(), which runs on the control thread while the unit is not
// in use by the audio thread; process() never allocates.
#pragma once

#include <memory>

namespace rb::detail {

inline constexpr int kNumDspPlugins = 16;  // index 0 is the pass-through unit

class DspUnit {
public:
    virtual ~DspUnit() = default;
    virtual void prepare(int rate) = 0;
    virtual void reset() = 0;
    virtual void process(float* stereo, int frames) noexcept = 0;
};

const char* dspPluginName(int index);
std::unique_ptr<DspUnit> makeDspUnit(int index);

}  // namespace rb::detail
