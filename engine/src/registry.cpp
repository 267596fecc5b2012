// The handle tables behind the exported calls, and copying names out to
// callers.
#include "registry.h"

#include <algorithm>
#include <cstring>

namespace rb::detail {

HandleTable<SystemImpl>& systems() {
    static HandleTable<SystemImpl> t;
    return t;
}
HandleTable<SoundObj>& sounds() {
    static HandleTable<SoundObj> t;
    return t;
}
HandleTable<GroupObj>& groups() {
    static HandleTable<GroupObj> t;
    return t;
}
HandleTable<DspObj>& dsps() {
    static HandleTable<DspObj> t;
    return t;
}

void copyName(const std::string& src, char* dst, int len) {
    if (!dst || len <= 0) return;
    const std::size_t n = std::min(src.size(), static_cast<std::size_t>(len - 1));
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

}  // namespace rb::detail
