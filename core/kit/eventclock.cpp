// Moments of input events on the steady clock.
#include "kit/eventclock.h"

#include <algorithm>
#include <chrono>

namespace rimbal {

std::int64_t SteadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t EventClock::Moment(std::int64_t stampNs, std::int64_t arrivedNs) {
    const std::int64_t offset = arrivedNs - stampNs;
    // A stamp clock that jumped (restarted, wrapped) starts the window anew:
    // no delivery takes a second.
    constexpr std::int64_t kJump = 1'000'000'000;
    if (count_ > 0) {
        const std::int64_t least = *std::min_element(offsets_.begin(), offsets_.begin() + count_);
        if (offset > least + kJump || offset < least - kJump) count_ = 0;
    }
    if (count_ < kWindow) {
        offsets_[static_cast<std::size_t>(count_++)] = offset;
        next_ = count_ % kWindow;
    } else {
        offsets_[static_cast<std::size_t>(next_)] = offset;
        next_ = (next_ + 1) % kWindow;
    }
    return stampNs + *std::min_element(offsets_.begin(), offsets_.begin() + count_);
}

}  // namespace rimbal
