// Effect units. Each processes interleaved stereo float in place. prepare()
// and reset() run on the control thread while the audio side does not use the
// unit (prepare sizes the buffers); process() never allocates.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace rb::detail {

inline constexpr int kNumDspPlugins = 16;  // index 0 is the pass-through unit

class DspUnit {
public:
    virtual ~DspUnit() = default;
    virtual void prepare(int rate) = 0;
    virtual void reset() = 0;
    virtual void process(float* stereo, int frames) noexcept = 0;

    // Frames the unit goes on sounding after its input falls silent, until
    // its output is below -120 dB. Set by prepare().
    int tailFrames() const noexcept { return tail_; }

    // Release epoch, set by the control thread when the unit is released:
    // the audio side drops it from its chain and never touches it again.
    std::atomic<std::uint64_t> releasedAt{0};

protected:
    int tail_ = 0;
};

const char* dspPluginName(int index);
std::unique_ptr<DspUnit> makeDspUnit(int index);

}  // namespace rb::detail
