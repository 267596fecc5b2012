// Outputs drive the mixer: a device output from its own thread through
// RtAudio, the null output when its caller asks for frames. Every output
// feeds the same command port and the same mixer.
#pragma once

#include "mixer.h"

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class RtAudio;

namespace rb::detail {

using Clock = std::chrono::steady_clock;

// The engine's moments: steady clock nanoseconds.
inline std::int64_t nowNs() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct DeviceEntry {
    std::string name;
    unsigned id = 0;  // RtAudio's device id
};

// Devices of an output type with output (or input) channels, in the API's
// order. `live` is an RtAudio that holds an open stream of the same API: it
// still describes the device it holds, which a fresh probe may find busy.
Result listDevices(int outputType, bool input, std::vector<DeviceEntry>& out, RtAudio* live = nullptr);

struct OutputRequest {
    unsigned deviceId = 0;
    int rate = kDefaultRate;
    int format = SOUND_FORMAT_PCM16;
    unsigned bufferFrames = 256;
    bool realtime = false;
};

struct OutputGrant {
    int rate = 0;  // the rate the device runs at
    unsigned bufferFrames = 0;
    long latencyFrames = 0;
};

class Output {
public:
    virtual ~Output() = default;
    // Opens without starting; grant tells what is in force.
    virtual Result open(const OutputRequest& request, OutputGrant& grant) = 0;
    // From here on the output's thread (or the null output's caller) drives the mixer.
    virtual Result start() = 0;
    // When close returns no thread but the caller touches the mixer.
    virtual void close() noexcept = 0;
    // Control thread: false once the output has stopped working.
    virtual bool healthy(Clock::time_point) noexcept { return true; }
    // Control thread: stops asking for frames while nothing sounds (false:
    // this output does not), and asks again. The thread that drives the mixer
    // stays the output's.
    virtual bool pause() noexcept { return false; }
    virtual void resume() noexcept {}
    // Null output: mixes on the caller's thread; timeNs as Mixer::render.
    virtual Result render(float*, unsigned, std::int64_t, bool) noexcept { return ERR_UNSUPPORTED; }
    // The RtAudio holding the stream, if any.
    virtual RtAudio* rtaudio() noexcept { return nullptr; }
};

std::unique_ptr<Output> makeNullOutput(Mixer& mixer, Shared& shared);
std::unique_ptr<Output> makeDeviceOutput(int outputType, Mixer& mixer, Shared& shared);

// A recording device's input stream writing into a record target.
class DeviceInput {
public:
    DeviceInput();
    ~DeviceInput();
    Result open(int outputType, unsigned deviceId, RecordTarget& target, int rate, Shared& shared);
    void close() noexcept;

private:
    std::unique_ptr<RtAudio> rt_;
    std::pair<RecordTarget*, Shared*> link_{};  // the input thread's view
};

// Time of a render, for the output statistics.
class RenderTimer {
public:
    explicit RenderTimer(Shared& shared, unsigned frames) noexcept;
    ~RenderTimer();

private:
    Shared& shared_;
    unsigned frames_;
    Clock::time_point start_;
};

}  // namespace rb::detail
