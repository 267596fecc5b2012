// Handle tables of the exported calls, and the guard that keeps exceptions
// inside the engine. Control thread only.
#pragma once

#include "handles.h"
#include "objects.h"
#include "system.h"

#include <new>

namespace rb::detail {

HandleTable<SystemImpl>& systems();
HandleTable<SoundObj>& sounds();
HandleTable<GroupObj>& groups();
HandleTable<DspObj>& dsps();

inline SystemImpl* sysOf(System s) { return systems().get(static_cast<std::uint32_t>(s)); }
inline SoundObj* soundOf(Sound s) { return sounds().get(static_cast<std::uint32_t>(s)); }
inline GroupObj* groupOf(ChannelGroup g) { return groups().get(static_cast<std::uint32_t>(g)); }
inline DspObj* dspOf(Dsp d) { return dsps().get(static_cast<std::uint32_t>(d)); }

// Runs an exported call's body: no exception leaves the engine.
template <typename F>
Result guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY;
    } catch (...) {
        return ERR_INTERNAL;
    }
}

void copyName(const std::string& src, char* dst, int len);

}  // namespace rb::detail
