// Exported calls: plays and their channels.
#include "registry.h"

#include <algorithm>
#include <cmath>

namespace rb {
using namespace detail;

namespace {

// Channel handle: system index (8 bits), play generation (50 bits: a new play
// every microsecond would take 35 years to repeat one), slot (6 bits).
constexpr std::uint64_t kGenMask = (std::uint64_t{1} << 50) - 1;
static_assert(kMaxChannels == 64, "six bits of slot");

Channel makeChannel(const SystemImpl& sys, int slot, std::uint64_t gen) {
    const std::uint64_t sysIndex =
        HandleTable<SystemImpl>::indexOf(static_cast<std::uint32_t>(sys.handle)) + 1;
    return static_cast<Channel>(sysIndex << 56 | (gen & kGenMask) << 6 | static_cast<std::uint64_t>(slot));
}

bool slotPlaying(const SystemImpl& sys, int slot) {
    const ChannelSlot& s = sys.ctl.slots[static_cast<std::size_t>(slot)];
    if (s.gen == 0 || s.stopped) return false;
    return sys.shared.channels[static_cast<std::size_t>(slot)].endedGen.load(std::memory_order_acquire) != s.gen;
}

struct ChannelRef {
    SystemImpl* sys = nullptr;
    int slot = 0;
    ChannelSlot& state() const { return sys->ctl.slots[static_cast<std::size_t>(slot)]; }
};

// Resolves a handle to its current play: OK, or 11 when the play was taken
// for another, or 35 when it ended or never existed.
Result resolve(Channel ch, ChannelRef& ref) {
    const auto v = static_cast<std::uint64_t>(ch);
    const auto sysIndex = static_cast<std::uint32_t>(v >> 56);
    const std::uint64_t gen = (v >> 6) & kGenMask;
    const int slot = static_cast<int>(v & 0x3F);
    if (v == 0 || sysIndex == 0 || gen == 0) return ERR_INVALID_HANDLE;
    SystemImpl* found = nullptr;
    systems().forEach([&](SystemImpl& s) {
        if (HandleTable<SystemImpl>::indexOf(static_cast<std::uint32_t>(s.handle)) + 1 == sysIndex) found = &s;
    });
    if (!found || !found->ctl.initialized) return ERR_INVALID_HANDLE;
    const ChannelSlot& s = found->ctl.slots[static_cast<std::size_t>(slot)];
    if (s.gen != gen) return gen + 1 == s.gen && s.prevStolen ? ERR_CHANNEL_STOLEN : ERR_INVALID_HANDLE;
    if (!slotPlaying(*found, slot)) return ERR_INVALID_HANDLE;
    ref.sys = found;
    ref.slot = slot;
    return OK;
}

template <typename F>
Result withChannel(Channel channel, F&& body) noexcept {
    return guarded([&]() -> Result {
        ChannelRef ref;
        if (const Result r = resolve(channel, ref); r != OK) return r;
        return body(ref);
    });
}

Result post(const ChannelRef& ref, Command c) {
    c.slot = static_cast<std::int16_t>(ref.slot);
    c.gen = ref.state().gen;
    return ref.sys->post(c);
}

}  // namespace

Result System_PlaySound(System system, int channelId, Sound sound, bool paused, Channel* channel) {
    return guarded([&]() -> Result {
        if (!channel) return ERR_INVALID_PARAM;
        *channel = Channel{};
        SystemImpl* sys = sysOf(system);
        if (!sys) return ERR_INVALID_HANDLE;
        if (!sys->ctl.initialized) return ERR_UNINITIALIZED;
        SoundObj* s = soundOf(sound);
        if (!s || s->sys != sys) return ERR_INVALID_HANDLE;
        int slot = -1;
        if (channelId == CHANNEL_FREE) {
            for (int i = 0; i < kMaxChannels && slot < 0; ++i)
                if (!slotPlaying(*sys, i)) slot = i;
        } else if (channelId >= 0 && channelId < kMaxChannels) {
            slot = channelId;
        } else {
            return ERR_INVALID_PARAM;
        }
        bool stolen = true;
        if (slot < 0) {
            // Every channel plays: take the oldest.
            std::uint64_t oldest = UINT64_MAX;
            for (int i = 0; i < kMaxChannels; ++i)
                if (sys->ctl.slots[static_cast<std::size_t>(i)].startOrder < oldest) {
                    oldest = sys->ctl.slots[static_cast<std::size_t>(i)].startOrder;
                    slot = i;
                }
        } else {
            stolen = slotPlaying(*sys, slot);
        }
        ChannelSlot& cs = sys->ctl.slots[static_cast<std::size_t>(slot)];
        Command c{};
        c.kind = Command::Start;
        c.slot = static_cast<std::int16_t>(slot);
        c.gen = cs.gen + 1;
        c.flag = static_cast<std::uint8_t>((paused ? 1 : 0) | ((s->mode & LOOP_NORMAL) ? 2 : 0));
        c.value = 1.0f;
        c.target = -1;
        c.sound = s;
        // The slot changes hands only once the start is on its way: a full
        // queue leaves the current play as it was.
        if (const Result r = sys->post(c); r != OK) return r;
        cs.prevStolen = stolen;
        cs.gen = c.gen;
        cs.stopped = false;
        cs.startOrder = ++sys->ctl.playCounter;
        cs.volume = 1.0f;
        cs.pan = 0.0f;
        cs.paused = paused;
        cs.sound = s;
        cs.group = -1;
        *channel = makeChannel(*sys, slot, cs.gen);
        return OK;
    });
}

Result Channel_SetVolume(Channel channel, float volume) {
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        if (std::isnan(volume)) return ERR_INVALID_PARAM;  // a clamp lets it through into the whole mix
        volume = std::clamp(volume, 0.0f, 1.0f);
        Command c{};
        c.kind = Command::SetVolume;
        c.value = volume;
        if (const Result r = post(ref, c); r != OK) return r;
        ref.state().volume = volume;
        return OK;
    });
}

Result Channel_GetVolume(Channel channel, float* volume) {
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        if (volume) *volume = ref.state().volume;
        return OK;
    });
}

Result Channel_SetPan(Channel channel, float pan) {
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        if (std::isnan(pan)) return ERR_INVALID_PARAM;
        pan = std::clamp(pan, -1.0f, 1.0f);
        Command c{};
        c.kind = Command::SetPan;
        c.value = pan;
        if (const Result r = post(ref, c); r != OK) return r;
        ref.state().pan = pan;
        return OK;
    });
}

Result Channel_GetPan(Channel channel, float* pan) {
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        if (pan) *pan = ref.state().pan;
        return OK;
    });
}

Result Channel_SetPaused(Channel channel, bool paused) {
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        Command c{};
        c.kind = Command::SetPaused;
        c.flag = paused ? 1 : 0;
        if (const Result r = post(ref, c); r != OK) return r;
        ref.state().paused = paused;
        return OK;
    });
}

Result Channel_GetPaused(Channel channel, bool* paused) {
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        if (paused) *paused = ref.state().paused;
        return OK;
    });
}

Result Channel_SetChannelGroup(Channel channel, ChannelGroup group) {
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        int target = -1;
        if (group != ChannelGroup{}) {
            GroupObj* g = groupOf(group);
            if (!g || g->sys != ref.sys) return ERR_INVALID_HANDLE;
            target = g->slot;
        }
        Command c{};
        c.kind = Command::SetGroup;
        c.target = target;
        if (const Result r = post(ref, c); r != OK) return r;
        ref.state().group = target;
        return OK;
    });
}

Result Channel_SetStartTime(Channel channel, std::int64_t eventNs) {
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        if (eventNs < 0) return ERR_INVALID_PARAM;
        Command c{};
        c.kind = Command::SetStart;
        c.at = eventNs;
        return post(ref, c);
    });
}

// A stop never waits in the queue: the audio side reads the slot's stop
// request on its next render, so a full queue cannot lose it.
Result Channel_Stop(Channel channel) {
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        ChannelSlot& s = ref.state();
        ref.sys->shared.channels[static_cast<std::size_t>(ref.slot)].stopGen.store(s.gen, std::memory_order_release);
        s.stopped = true;
        if (ref.sys->ctl.mixerIsOurs) ref.sys->mixer.render(nullptr, 0);
        return OK;
    });
}

Result Channel_IsPlaying(Channel channel, bool* playing) {
    if (!playing) return ERR_INVALID_PARAM;
    *playing = false;
    return withChannel(channel, [&](ChannelRef&) -> Result {
        *playing = true;
        return OK;
    });
}

// A play whose start the audio side has not applied yet is at 0.
Result Channel_GetPosition(Channel channel, std::uint32_t* position, int timeUnit) {
    if (!position) return ERR_INVALID_PARAM;
    *position = 0;
    return withChannel(channel, [&](ChannelRef& ref) -> Result {
        const ChannelSlot& slot = ref.state();
        const SoundObj* s = slot.sound;
        const ChannelShared& pub = ref.sys->shared.channels[static_cast<std::size_t>(ref.slot)];
        double dataPos = 0;
        if (pub.posGen.load(std::memory_order_acquire) == slot.gen) dataPos = pub.pos.load(std::memory_order_relaxed);
        const double rate = s && s->dataRate > 0 ? s->dataRate : ref.sys->ctl.mixRate;
        const double frames = s ? dataPos * s->defaultFrequency / rate : 0;
        switch (timeUnit) {
        case TIMEUNIT_PCM: *position = static_cast<std::uint32_t>(frames); return OK;
        case TIMEUNIT_MS: *position = static_cast<std::uint32_t>(dataPos * 1000.0 / rate); return OK;
        case TIMEUNIT_PCMBYTES:
            *position = s ? static_cast<std::uint32_t>(frames) * static_cast<std::uint32_t>(s->channels * (s->bits / 8)) : 0;
            return OK;
        default: return ERR_FORMAT;
        }
    });
}

}  // namespace rb
