// Exported calls: channel groups and effect units.
#include "registry.h"

namespace rb {
using namespace detail;

namespace {

template <typename F>
Result withDsp(Dsp dsp, F&& body) noexcept {
    return withObject(dsps(), dsp, std::forward<F>(body));
}

// A unit that left its last chain long enough ago is cleared here, on the
// control thread, so attaching it costs the callback nothing.
Result attach(SystemImpl& sys, DspObj& d, int target) {
    if (d.attachedTo == DspObj::kNowhere && sys.port.applied(d.leftBySeq) && sys.port.passed(d.leftByEpoch))
        d.unit->reset();
    Command c{};
    c.kind = Command::Attach;
    c.unit = d.unit.get();
    c.target = target;
    if (const Result r = sys.post(c); r != OK) return r;
    d.attachedTo = target;
    return OK;
}

}  // namespace

Result System_CreateChannelGroup(System system, const char* name, ChannelGroup* group) {
    return guarded([&]() -> Result {
        if (!group) return ERR_INVALID_PARAM;
        *group = ChannelGroup{};
        SystemImpl* sys = sysOf(system);
        if (!sys) return ERR_INVALID_HANDLE;
        // A released group's slot waits until the audio side has let it go.
        int slot = -1;
        for (int i = 0; i < kMaxGroups && slot < 0; ++i)
            if (!sys->ctl.groups[static_cast<std::size_t>(i)] && sys->port.passed(sys->ctl.groupFreeAt[static_cast<std::size_t>(i)]))
                slot = i;
        if (slot < 0) return ERR_MEMORY;
        auto g = std::make_unique<GroupObj>();
        g->sys = sys;
        g->name = name ? name : "";
        g->slot = slot;
        GroupObj* raw = g.get();
        const std::uint32_t h = groups().add(std::move(g));
        if (h == 0) return ERR_MEMORY;
        sys->ctl.groups[static_cast<std::size_t>(slot)] = raw;
        *group = static_cast<ChannelGroup>(h);
        return OK;
    });
}

Result ChannelGroup_GetName(ChannelGroup group, char* name, int nameLen) {
    return guarded([&]() -> Result {
        GroupObj* g = groupOf(group);
        if (!g) return ERR_INVALID_HANDLE;
        copyName(g->name, name, nameLen);
        return OK;
    });
}

// The group's chain is cleared and its plays go on in the master mix; like a
// stop, the request never waits in the queue.
Result ChannelGroup_Release(ChannelGroup group) {
    return guarded([&]() -> Result {
        GroupObj* g = groupOf(group);
        if (!g) return ERR_INVALID_HANDLE;
        SystemImpl& sys = *g->sys;
        const int slot = g->slot;
        sys.shared.groupClearAt[static_cast<std::size_t>(slot)].store(sys.port.nextEpoch(), std::memory_order_release);
        sys.shared.groupClears.fetch_add(1, std::memory_order_release);
        const std::uint64_t epoch = sys.release();
        dsps().forEach([&](DspObj& d) {
            if (d.sys == &sys && d.attachedTo == slot) {
                d.attachedTo = DspObj::kNowhere;
                d.leftByEpoch = epoch;
            }
        });
        for (auto& s : sys.ctl.slots)
            if (s.group == slot) s.group = -1;
        sys.ctl.groups[static_cast<std::size_t>(slot)] = nullptr;
        sys.ctl.groupFreeAt[static_cast<std::size_t>(slot)] = epoch;
        groups().take(static_cast<std::uint32_t>(group));
        return OK;
    });
}

Result System_CreateDSPByIndex(System system, int pluginIndex, Dsp* dsp) {
    return guarded([&]() -> Result {
        if (!dsp) return ERR_INVALID_PARAM;
        *dsp = Dsp{};
        SystemImpl* sys = sysOf(system);
        if (!sys) return ERR_INVALID_HANDLE;
        if (pluginIndex < 0 || pluginIndex >= kNumDspPlugins) return ERR_PLUGIN_MISSING;
        auto d = std::make_unique<DspObj>();
        d->sys = sys;
        d->plugin = pluginIndex;
        d->unit = makeDspUnit(pluginIndex);
        d->unit->prepare(sys->ctl.initialized ? sys->ctl.mixRate : (sys->ctl.rate ? sys->ctl.rate : kDefaultRate));
        const std::uint32_t h = dsps().add(std::move(d));
        if (h == 0) return ERR_MEMORY;
        *dsp = static_cast<Dsp>(h);
        return OK;
    });
}

Result ChannelGroup_AddDSP(ChannelGroup group, Dsp dsp) {
    return guarded([&]() -> Result {
        GroupObj* g = groupOf(group);
        DspObj* d = dspOf(dsp);
        if (!g || !d) return ERR_INVALID_HANDLE;
        if (g->sys != d->sys) return ERR_DSP_CONNECTION;
        return attach(*g->sys, *d, g->slot);
    });
}

Result System_AddDSP(System system, Dsp dsp) {
    return guarded([&]() -> Result {
        SystemImpl* sys = sysOf(system);
        DspObj* d = dspOf(dsp);
        if (!sys || !d) return ERR_INVALID_HANDLE;
        if (d->sys != sys) return ERR_DSP_CONNECTION;
        return attach(*sys, *d, DspObj::kMaster);
    });
}

Result DSP_GetActive(Dsp dsp, bool* active) {
    return withDsp(dsp, [&](DspObj& d) -> Result {
        if (!active) return ERR_INVALID_PARAM;
        *active = d.attachedTo != DspObj::kNowhere;
        return OK;
    });
}

Result DSP_Remove(Dsp dsp) {
    return withDsp(dsp, [&](DspObj& d) -> Result {
        if (d.attachedTo == DspObj::kNowhere) return OK;
        Command c{};
        c.kind = Command::Detach;
        c.unit = d.unit.get();
        if (const Result r = d.sys->post(c); r != OK) return r;
        d.attachedTo = DspObj::kNowhere;
        d.leftBySeq = d.sys->port.lastSeq();
        return OK;
    });
}

// The unit is marked released for the audio side, which drops it from its
// chain; it is freed once the audio side is past its epoch.
Result DSP_Release(Dsp dsp) {
    return withDsp(dsp, [&](DspObj& d) -> Result {
        SystemImpl& sys = *d.sys;
        d.unit->releasedAt.store(sys.port.nextEpoch(), std::memory_order_release);
        sys.shared.unitReleases.fetch_add(1, std::memory_order_release);
        std::shared_ptr<void> obj(dsps().take(static_cast<std::uint32_t>(dsp)));
        sys.retire(std::move(obj), sys.release());
        return OK;
    });
}

}  // namespace rb
