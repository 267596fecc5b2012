// Moments of input events on the engine's clock: a key event's or a MIDI
// message's own timestamp, kept by another clock, brought onto the steady one.
#pragma once

#include <array>
#include <cstdint>

namespace rimbal {

// The steady clock in ns, the engine's time base for timed plays.
std::int64_t SteadyNowNs();

// The offset between the two clocks is taken as the smallest (arrival −
// stamp) of the latest events: the event that reached us fastest shows it,
// so a moment is never later than its arrival and a slow delivery does not
// move the others. One thread at a time.
class EventClock {
public:
    // stampNs: the event's time on its own clock; arrivedNs: when it reached
    // the program, on the steady clock. Returns its moment on the steady clock.
    std::int64_t Moment(std::int64_t stampNs, std::int64_t arrivedNs);
    void Reset() { count_ = 0; }

private:
    static constexpr int kWindow = 32;
    std::array<std::int64_t, kWindow> offsets_{};
    int count_ = 0;
    int next_ = 0;
};

}  // namespace rimbal
