// Handle tables of the exported calls, and the guard that keeps exceptions
// inside the engine. Control thread only.
#pragma once

#include "handles.h"
#include "objects.h"
#include "system.h"

#include <new>
#include <utility>

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

// The body of a call on a handle: 35 when the handle is not valid.
template <typename T, typename H, typename F>
Result withObject(HandleTable<T>& table, H handle, F&& body) noexcept {
    return guarded([&]() -> Result {
        T* obj = table.get(static_cast<std::uint32_t>(handle));
        if (!obj) return ERR_INVALID_HANDLE;
        return body(*obj);
    });
}

template <typename F>
Result withSystem(System system, F&& body) noexcept {
    return withObject(systems(), system, std::forward<F>(body));
}

void copyName(const std::string& src, char* dst, int len);

}  // namespace rb::detail
