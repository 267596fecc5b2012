// Exported calls: sounds.
#include "convert.h"
#include "decode.h"
#include "registry.h"

#include <algorithm>

namespace rb {
using namespace detail;

namespace {

template <typename F>
Result withSound(Sound sound, F&& body) noexcept {
    return withObject(sounds(), sound, std::forward<F>(body));
}

Result makeUserSound(SoundObj& s, const CreateSoundExInfo* exinfo) {
    if (!exinfo || exinfo->cbsize != static_cast<int>(sizeof(CreateSoundExInfo))) return ERR_INVALID_PARAM;
    const int bps = bytesPerSample(exinfo->format);
    if (bps == 0) return ERR_FORMAT;
    if (exinfo->numchannels < 1 || exinfo->numchannels > 8 || exinfo->defaultfrequency < 1000 ||
        exinfo->defaultfrequency > 192000)
        return ERR_INVALID_PARAM;
    const auto frameBytes = static_cast<std::uint32_t>(bps * exinfo->numchannels);
    const std::uint32_t frames = exinfo->length / frameBytes;
    if (frames == 0) return ERR_INVALID_PARAM;
    if (static_cast<std::uint64_t>(frames) * frameBytes > kMaxSoundBytes) return ERR_TOO_LARGE;
    s.raw.assign(static_cast<std::size_t>(frames) * frameBytes, 0);
    s.user = true;
    s.type = SOUND_TYPE_USER;
    s.format = exinfo->format;
    s.bits = bps * 8;
    s.channels = exinfo->numchannels;
    s.defaultFrequency = static_cast<float>(exinfo->defaultfrequency);
    s.sourceFrames = frames;
    s.dataFrames = frames;
    s.dataRate = exinfo->defaultfrequency;
    return OK;
}

}  // namespace

Result System_CreateSound(System system, const char* nameOrData, std::uint32_t mode, const CreateSoundExInfo* exinfo,
                          Sound* sound) {
    return guarded([&]() -> Result {
        if (!sound) return ERR_INVALID_PARAM;
        *sound = Sound{};
        SystemImpl* sys = sysOf(system);
        if (!sys) return ERR_INVALID_HANDLE;
        if (!sys->ctl.initialized) return ERR_UNINITIALIZED;
        auto s = std::make_unique<SoundObj>();
        s->sys = sys;
        s->mode = mode;
        if (mode & MODE_OPENUSER) {
            if (const Result r = makeUserSound(*s, exinfo); r != OK) return r;
        } else {
            if (!nameOrData || !*nameOrData) return ERR_INVALID_PARAM;
            if (const Result r = decodeFile(nameOrData, sys->ctl.mixRate, *s); r != OK) return r;
            readTags(nameOrData, *s);
        }
        const std::uint32_t h = sounds().add(std::move(s));
        if (h == 0) return ERR_MEMORY;
        *sound = static_cast<Sound>(h);
        return OK;
    });
}

// Its plays stop (through the stop requests, which never wait in a queue)
// and the data stays until the audio side is done with it.
Result Sound_Release(Sound sound) {
    return withSound(sound, [&](SoundObj& s) -> Result {
        SystemImpl& sys = *s.sys;
        if (sys.ctl.recordSound == &s) sys.stopRecording();
        for (std::size_t i = 0; i < sys.ctl.slots.size(); ++i) {
            ChannelSlot& slot = sys.ctl.slots[i];
            if (slot.sound != &s) continue;
            sys.shared.channels[i].stopGen.store(slot.gen, std::memory_order_release);
            slot.stopped = true;
            slot.sound = nullptr;
        }
        std::shared_ptr<void> obj(sounds().take(static_cast<std::uint32_t>(sound)));
        sys.retire(std::move(obj), sys.release());
        return OK;
    });
}

Result Sound_GetMode(Sound sound, std::uint32_t* mode) {
    return withSound(sound, [&](SoundObj& s) -> Result {
        if (!mode) return ERR_INVALID_PARAM;
        *mode = s.mode;
        return OK;
    });
}

Result Sound_SetMode(Sound sound, std::uint32_t mode) {
    return withSound(sound, [&](SoundObj& s) -> Result {
        // Only the loop mode can change after creation; plays keep the mode they started with.
        if (mode & LOOP_NORMAL) s.mode = (s.mode & ~LOOP_OFF) | LOOP_NORMAL;
        else if (mode & LOOP_OFF) s.mode = (s.mode & ~LOOP_NORMAL) | LOOP_OFF;
        return OK;
    });
}

Result Sound_GetFormat(Sound sound, int* type, int* format, int* channels, int* bits) {
    return withSound(sound, [&](SoundObj& s) -> Result {
        if (type) *type = s.type;
        if (format) *format = s.format;
        if (channels) *channels = s.sourceChannels ? s.sourceChannels : s.channels;
        if (bits) *bits = s.bits;
        return OK;
    });
}

Result Sound_GetDefaults(Sound sound, float* frequency, float* volume, float* pan, int* priority) {
    return withSound(sound, [&](SoundObj& s) -> Result {
        if (frequency) *frequency = s.defaultFrequency;
        if (volume) *volume = 1.0f;
        if (pan) *pan = 0.0f;
        if (priority) *priority = 128;
        return OK;
    });
}

Result Sound_GetLength(Sound sound, std::uint32_t* length, int timeUnit) {
    return withSound(sound, [&](SoundObj& s) -> Result {
        if (!length) return ERR_INVALID_PARAM;
        switch (timeUnit) {
        case TIMEUNIT_PCM: *length = s.sourceFrames; return OK;
        case TIMEUNIT_MS:
            *length = s.defaultFrequency > 0
                          ? static_cast<std::uint32_t>(static_cast<double>(s.sourceFrames) * 1000.0 / s.defaultFrequency)
                          : 0;
            return OK;
        case TIMEUNIT_PCMBYTES:
            *length = s.sourceFrames * static_cast<std::uint32_t>(s.sourceChannels ? s.sourceChannels : s.channels) *
                      static_cast<std::uint32_t>(s.bits / 8);
            return OK;
        default: *length = 0; return ERR_FORMAT;
        }
    });
}

Result Sound_GetNumTags(Sound sound, int* numTags, int* numUpdated) {
    return withSound(sound, [&](SoundObj& s) -> Result {
        if (numTags) *numTags = static_cast<int>(s.tags.size());
        if (numUpdated) *numUpdated = 0;
        return OK;
    });
}

Result Sound_GetTag(Sound sound, const char* name, int index, Tag* tag) {
    return withSound(sound, [&](SoundObj& s) -> Result {
        if (!tag || index < 0) return ERR_INVALID_PARAM;
        int seen = 0;
        for (const TagEntry& e : s.tags) {
            if (name && e.name != name) continue;
            if (seen++ != index) continue;
            tag->type = e.type;
            tag->datatype = e.datatype;
            tag->name = e.name.c_str();
            tag->data = e.data.c_str();
            tag->datalen = static_cast<std::uint32_t>(e.data.size());
            tag->updated = false;
            return OK;
        }
        return ERR_TAGNOTFOUND;
    });
}

Result Sound_Lock(Sound sound, std::uint32_t offset, std::uint32_t length, void** ptr1, void** ptr2,
                  std::uint32_t* len1, std::uint32_t* len2) {
    if (ptr1) *ptr1 = nullptr;
    if (ptr2) *ptr2 = nullptr;
    if (len1) *len1 = 0;
    if (len2) *len2 = 0;
    return withSound(sound, [&](SoundObj& s) -> Result {
        if (!ptr1 || !ptr2 || !len1 || !len2) return ERR_INVALID_PARAM;
        auto* data = s.user ? s.raw.data() : reinterpret_cast<std::uint8_t*>(s.pcm.data());
        const std::size_t size = s.user ? s.raw.size() : s.pcm.size() * sizeof(float);
        if (offset >= size || length > size || length == 0) return ERR_INVALID_PARAM;
        const auto first = static_cast<std::uint32_t>(std::min<std::size_t>(length, size - offset));
        *ptr1 = data + offset;
        *len1 = first;
        if (first < length) {
            *ptr2 = data;
            *len2 = length - first;
        }
        return OK;
    });
}

Result Sound_Unlock(Sound sound, void*, void*, std::uint32_t, std::uint32_t) {
    return withSound(sound, [](SoundObj&) { return OK; });
}

}  // namespace rb
