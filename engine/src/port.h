// The command port: how the control thread reaches the audio side.
//
// Ordinary commands (start, volume, pan, pause, group, attach, detach) go through a
// lock-free queue and may be refused when it is full. Stops and releases never
// are: the control thread sets atomic state the audio side reads on every
// render (see Shared in mixer.h) and then opens a release epoch. A released
// object is kept in the graveyard until the audio side has finished a render
// that began after its epoch, so the audio side never sees freed memory.
#pragma once

#include "spsc.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace rb::detail {

struct SoundObj;
class DspUnit;

struct Command {
    enum Kind : std::uint8_t { Start, SetVolume, SetPaused, SetGroup, Attach, Detach, SetPan, SetStart } kind = Start;
    std::uint8_t flag = 0;     // Start: 1 paused, 2 loop; SetPaused: paused
    std::int16_t slot = 0;     // channel slot
    std::int32_t target = -1;  // group slot; -1 the master chain (Attach) or no group
    std::uint64_t gen = 0;     // play generation of the channel slot
    float value = 0;           // volume; SetPan: the position, -1 to 1
    std::int64_t at = 0;       // SetStart: the moment of the play's event, steady clock ns (0: none)
    const SoundObj* sound = nullptr;
    DspUnit* unit = nullptr;
};

class CommandPort {
public:
    static constexpr std::size_t kCapacity = 4096;

    // ---- control thread ----
    // Queues a command; false when the queue is full. Never waits.
    bool post(const Command& c) noexcept {
        if (!queue_.push(c)) return false;
        ++ctl_.pushed;
        return true;
    }
    // Sequence number of the latest queued command, and whether the audio side applied it.
    std::uint64_t lastSeq() const noexcept { return ctl_.pushed; }
    bool applied(std::uint64_t seq) const noexcept { return applied_.load(std::memory_order_acquire) >= seq; }

    // Opens a release epoch. The caller has already set the atomic state
    // that tells the audio side to let go of the object.
    std::uint64_t openEpoch() noexcept {
        ++ctl_.epoch;
        epoch_.store(ctl_.epoch, std::memory_order_release);
        return ctl_.epoch;
    }
    std::uint64_t currentEpoch() const noexcept { return ctl_.epoch; }
    // The epoch the next openEpoch() opens: requests carry it.
    std::uint64_t nextEpoch() const noexcept { return ctl_.epoch + 1; }
    bool passed(std::uint64_t epoch) const noexcept { return doneEpoch_.load(std::memory_order_acquire) >= epoch; }

    // Keeps obj alive until the audio side is past `epoch`.
    void retire(std::shared_ptr<void> obj, std::uint64_t epoch) {
        ctl_.graveyard.emplace_back(epoch, std::move(obj));
        collect();
    }
    // Frees what the audio side no longer sees.
    void collect() {
        if (ctl_.graveyard.empty()) return;
        const std::uint64_t done = doneEpoch_.load(std::memory_order_acquire);
        std::erase_if(ctl_.graveyard, [&](const auto& e) { return e.first <= done; });
    }
    std::size_t pending() const noexcept { return ctl_.graveyard.size(); }

    // ---- audio side (the device thread, the null output's renderer, or
    // the control thread itself while no other thread drives the mixer) ----
    std::uint64_t beginRender() noexcept { return epoch_.load(std::memory_order_acquire); }
    template <typename F>
    void drain(F&& apply) noexcept {
        Command c;
        std::uint64_t n = 0;
        while (queue_.pop(c)) {
            apply(c);
            ++n;
        }
        if (n) {
            aud_.popped += n;
            applied_.store(aud_.popped, std::memory_order_release);
        }
    }
    // Everything released up to `epoch` is out of the audio side's hands.
    void endRender(std::uint64_t epoch) noexcept {
        if (epoch > aud_.lastDone) {
            aud_.lastDone = epoch;
            doneEpoch_.store(epoch, std::memory_order_release);
        }
    }
    std::uint64_t lastDone() const noexcept { return aud_.lastDone; }

private:
    SpscQueue<Command, kCapacity> queue_;
    struct Control {
        std::uint64_t pushed = 0;
        std::uint64_t epoch = 0;
        std::vector<std::pair<std::uint64_t, std::shared_ptr<void>>> graveyard;
    } ctl_;
    struct Audio {
        std::uint64_t popped = 0;
        std::uint64_t lastDone = 0;
    } aud_;
    std::atomic<std::uint64_t> epoch_{0};      // control -> audio
    std::atomic<std::uint64_t> doneEpoch_{0};  // audio -> control
    std::atomic<std::uint64_t> applied_{0};    // audio -> control
};

}  // namespace rb::detail
