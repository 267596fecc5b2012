// Exported calls: recording into a user sound's ring.
#include "convert.h"
#include "registry.h"

namespace rb {
using namespace detail;

Result System_SetRecordSource(System system, int source) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (source != RECORD_SOURCE_DEVICE && source != RECORD_SOURCE_MIX) return ERR_INVALID_PARAM;
        sys.ctl.recordSource = source;
        return OK;
    });
}

Result System_GetRecordSource(System system, int* source) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!source) return ERR_INVALID_PARAM;
        *source = sys.ctl.recordSource;
        return OK;
    });
}

Result System_RecordStart(System system, Sound sound, bool loop) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!sys.ctl.initialized) return ERR_UNINITIALIZED;
        SoundObj* s = soundOf(sound);
        if (!s || s->sys != &sys) return ERR_INVALID_HANDLE;
        if (!s->user) return ERR_FORMAT;
        sys.stopRecording();
        auto target = std::make_shared<RecordTarget>();
        target->ring = s->raw.data();
        target->ringFrames = s->dataFrames;
        target->format = s->format;
        target->channels = s->channels;
        target->frameBytes = static_cast<std::uint32_t>(bytesPerSample(s->format) * s->channels);
        target->loop = loop;
        sys.ctl.recordFrames = 0;
        sys.ctl.recordPosition = 0;
        if (sys.ctl.recordSource == RECORD_SOURCE_MIX) {
            // Mixed frames are at the mixer rate, and the sound says so.
            if (s->dataRate != sys.ctl.mixRate) {
                s->dataRate = sys.ctl.mixRate;
                s->defaultFrequency = static_cast<float>(sys.ctl.mixRate);
            }
            sys.shared.mixRecord.store(target.get(), std::memory_order_release);
            sys.wake();  // a take of the mix runs on the output's clock
        } else if (sys.ctl.outputType != OUTPUTTYPE_NULL) {
            DeviceEntry entry;
            if (sys.findDevice(true, entry) != OK) return ERR_RECORD;
            if (const Result r = sys.input.open(sys.ctl.outputType, entry.id, *target, s->dataRate, sys.shared); r != OK)
                return r;
        }
        sys.ctl.record = std::move(target);
        sys.ctl.recordSound = s;
        return OK;
    });
}

Result System_RecordStop(System system) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        sys.stopRecording();
        return OK;
    });
}

Result System_GetRecordPosition(System system, std::uint32_t* position) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!position) return ERR_INVALID_PARAM;
        *position = sys.ctl.record ? sys.ctl.record->position() : sys.ctl.recordPosition;
        return OK;
    });
}

Result System_GetRecordFrames(System system, std::uint64_t* frames) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!frames) return ERR_INVALID_PARAM;
        *frames = sys.ctl.record ? sys.ctl.record->written.load(std::memory_order_acquire) : sys.ctl.recordFrames;
        return OK;
    });
}

Result System_IsRecording(System system, bool* recording) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!recording) return ERR_INVALID_PARAM;
        *recording = sys.ctl.record && !sys.ctl.record->finished.load(std::memory_order_acquire);
        return OK;
    });
}

Result System_FeedNullRecord(System system, const void* data, unsigned frames) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!data) return ERR_INVALID_PARAM;
        if (sys.ctl.outputType != OUTPUTTYPE_NULL) return ERR_UNSUPPORTED;
        if (!sys.ctl.record || sys.ctl.record->finished.load(std::memory_order_acquire)) return ERR_RECORD;
        if (sys.shared.mixRecord.load(std::memory_order_acquire)) return ERR_UNSUPPORTED;  // recording the mix
        sys.ctl.record->write(data, frames);
        return OK;
    });
}

}  // namespace rb
