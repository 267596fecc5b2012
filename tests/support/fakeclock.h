// A sequence clock that tests drive: time moves only when a wait passes or
// the test advances it, and a hook runs "during" each wait, as a user would.
#pragma once

#include "sequences/sequence.h"

#include <chrono>
#include <functional>
#include <vector>

class FakeClock : public rimbal::SequenceClock {
public:
    using ms = std::chrono::milliseconds;

    TimePoint now() override { return t; }
    void waitUntil(TimePoint deadline, const std::function<bool()>& wake) override {
        deadlines.push_back(deadline);
        if (duringWait) duringWait(deadline);
        if (wake && wake()) return;
        if (t < deadline) t = deadline + lateBy;
    }
    void processEvents() override {
        if (betweenPasses) betweenPasses();
    }
    void advance(ms d) { t += d; }
    // Milliseconds since the clock's start.
    long long elapsed(TimePoint p) const { return std::chrono::duration_cast<ms>(p - start).count(); }

    const TimePoint start = TimePoint{} + std::chrono::hours(1);
    TimePoint t = start;
    ms lateBy{0};                                  // how late each wait returns
    std::function<void(TimePoint)> duringWait;     // user actions while the player waits
    std::function<void()> betweenPasses;
    std::vector<TimePoint> deadlines;
};
