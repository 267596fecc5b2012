// Exported calls: the system, its devices, plug-ins and life cycle.
#include "registry.h"

#include <filesystem>

namespace rb {
using namespace detail;

namespace {

const char* const kOutputNames[] = {"PulseAudio", "ALSA", "JACK"};
const char* const kCodecNames[] = {"WAV", "AIFF", "FLAC", "Ogg Vorbis", "Opus", "MPEG (MP1, MP2, MP3)"};

Result countDevices(System system, bool input, int* count) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!count) return ERR_INVALID_PARAM;
        *count = 0;
        // Asking for the count is asking for a fresh list.
        const Result r = sys.refreshDevices(input);
        if (r == OK) *count = static_cast<int>((input ? sys.ctl.inputs : sys.ctl.outputs).entries.size());
        return r;
    });
}

Result deviceName(System system, bool input, int id, char* name, int nameLen) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!name || nameLen <= 0) return ERR_INVALID_PARAM;
        name[0] = '\0';
        const DeviceList* list = nullptr;
        if (const Result r = sys.deviceList(input, list); r != OK) return r;
        if (id < 0 || id >= static_cast<int>(list->entries.size())) return ERR_INVALID_PARAM;
        copyName(list->entries[static_cast<std::size_t>(id)].name, name, nameLen);
        return OK;
    });
}

}  // namespace

Result System_Create(System* system) {
    return guarded([&]() -> Result {
        if (!system) return ERR_INVALID_PARAM;
        *system = System{};
        auto impl = std::make_unique<SystemImpl>();
        SystemImpl* raw = impl.get();
        const std::uint32_t h = systems().add(std::move(impl));
        // Channel handles keep eight bits for the system.
        if (h == 0 || HandleTable<SystemImpl>::indexOf(h) >= 255) {
            if (h) systems().take(h);
            return ERR_MEMORY;
        }
        raw->handle = static_cast<System>(h);
        *system = raw->handle;
        return OK;
    });
}

Result System_Release(System system) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        sys.close();
        for (auto h : sounds().handlesWhere([&](const SoundObj& s) { return s.sys == &sys; })) sounds().take(h);
        for (auto h : groups().handlesWhere([&](const GroupObj& g) { return g.sys == &sys; })) groups().take(h);
        for (auto h : dsps().handlesWhere([&](const DspObj& d) { return d.sys == &sys; })) dsps().take(h);
        systems().take(static_cast<std::uint32_t>(system));
        return OK;
    });
}

Result System_GetVersion(System system, std::uint32_t* version) {
    return withSystem(system, [&](SystemImpl&) -> Result {
        if (!version) return ERR_INVALID_PARAM;
        *version = kVersion;
        return OK;
    });
}

Result System_SetOutput(System system, int outputType) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (sys.ctl.initialized) return ERR_INITIALIZED;
        if (outputType != OUTPUTTYPE_NULL && (outputType < 0 || outputType > 2)) return ERR_INVALID_PARAM;
        sys.ctl.outputType = outputType;
        sys.ctl.driver = sys.ctl.recordDriver = 0;
        sys.ctl.driverName.clear();
        sys.ctl.recordDriverName.clear();
        sys.ctl.outputs = {};
        sys.ctl.inputs = {};
        return OK;
    });
}

Result System_GetOutput(System system, int* outputType) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!outputType) return ERR_INVALID_PARAM;
        *outputType = sys.ctl.outputType;
        return OK;
    });
}

Result System_GetNumDrivers(System system, int* count) { return countDevices(system, false, count); }
Result System_GetRecordNumDrivers(System system, int* count) { return countDevices(system, true, count); }
Result System_GetDriverName(System system, int id, char* name, int nameLen) {
    return deviceName(system, false, id, name, nameLen);
}
Result System_GetRecordDriverName(System system, int id, char* name, int nameLen) {
    return deviceName(system, true, id, name, nameLen);
}

Result System_SetDriver(System system, int id) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (sys.ctl.initialized && sys.ctl.driver == id && !sys.ctl.driverName.empty()) return OK;
        return sys.changeDevice(id);
    });
}

Result System_GetDriver(System system, int* id) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!id) return ERR_INVALID_PARAM;
        *id = sys.ctl.driver;
        return OK;
    });
}

Result System_SetRecordDriver(System system, int id) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        const DeviceList* list = nullptr;
        if (const Result r = sys.deviceList(true, list); r != OK) return r;
        if (id < 0 || id >= static_cast<int>(list->entries.size())) return ERR_INVALID_PARAM;
        sys.ctl.recordDriver = id;  // used by the next recording
        sys.ctl.recordDriverName = list->entries[static_cast<std::size_t>(id)].name;
        return OK;
    });
}

Result System_GetRecordDriver(System system, int* id) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!id) return ERR_INVALID_PARAM;
        *id = sys.ctl.recordDriver;
        return OK;
    });
}

Result System_SetSoftwareFormat(System system, int rate, int format, int, int, int) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (sys.ctl.initialized) return ERR_INITIALIZED;
        if (rate < 8000 || rate > 192000) return ERR_INVALID_PARAM;
        if (format < SOUND_FORMAT_PCM8 || format > SOUND_FORMAT_PCMFLOAT) return ERR_FORMAT;
        sys.ctl.rate = rate;
        sys.ctl.format = format;
        return OK;
    });
}

Result System_GetSoftwareFormat(System system, int* rate, int* format) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        // Once running, the rate is the device's.
        if (rate) *rate = sys.ctl.initialized ? sys.ctl.mixRate : (sys.ctl.rate ? sys.ctl.rate : kDefaultRate);
        if (format) *format = sys.ctl.format;
        return OK;
    });
}

Result System_SetDSPBufferSize(System system, unsigned frames) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (sys.ctl.initialized) return ERR_INITIALIZED;
        if (frames > 16384) return ERR_INVALID_PARAM;
        sys.ctl.bufferFrames = frames == 0 ? 256 : frames;
        return OK;
    });
}

Result System_GetOutputLatency(System system, unsigned* bufferFrames, long* latencyFrames) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!sys.ctl.initialized) return ERR_UNINITIALIZED;
        if (bufferFrames) *bufferFrames = sys.ctl.grantedFrames;
        if (latencyFrames) *latencyFrames = sys.ctl.latencyFrames;
        return OK;
    });
}

Result System_SetPluginPath(System system, const char* path) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!path) return ERR_INVALID_PARAM;
        std::error_code ec;
        if (!std::filesystem::is_directory(path, ec)) return ERR_FILE_NOTFOUND;
        sys.ctl.pluginPath = path;
        return OK;
    });
}

Result System_GetNumPlugins(System system, int pluginType, int* count) {
    return withSystem(system, [&](SystemImpl&) -> Result {
        if (!count) return ERR_INVALID_PARAM;
        switch (pluginType) {
        case PLUGINTYPE_OUTPUT: *count = static_cast<int>(std::size(kOutputNames)); return OK;
        case PLUGINTYPE_CODEC: *count = static_cast<int>(std::size(kCodecNames)); return OK;
        case PLUGINTYPE_DSP: *count = kNumDspPlugins; return OK;
        default: *count = 0; return ERR_INVALID_PARAM;
        }
    });
}

Result System_GetPluginInfo(System system, int pluginType, int index, char* name, int nameLen,
                            std::uint32_t* version) {
    return guarded([&]() -> Result {
        int count = 0;
        if (const Result r = System_GetNumPlugins(system, pluginType, &count); r != OK) return r;
        if (index < 0 || index >= count) return ERR_PLUGIN_MISSING;
        const char* n = pluginType == PLUGINTYPE_OUTPUT  ? kOutputNames[index]
                        : pluginType == PLUGINTYPE_CODEC ? kCodecNames[index]
                                                         : dspPluginName(index);
        copyName(n, name, nameLen);
        if (version) *version = kVersion;
        return OK;
    });
}

Result System_Init(System system, int maxChannels, int flags, void*) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (sys.ctl.initialized) return ERR_INITIALIZED;
        if (maxChannels <= 0) return ERR_INVALID_PARAM;
        return sys.init(flags);
    });
}

Result System_Close(System system) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (sys.ctl.initialized) sys.close();
        return OK;
    });
}

Result System_Update(System system) {
    return withSystem(system, [&](SystemImpl& sys) { return sys.update(); });
}

Result System_GetOutputStats(System system, OutputStats* stats, bool reset) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!stats) return ERR_INVALID_PARAM;
        Shared& sh = sys.shared;
        stats->callbacks = sh.callbacks.load(std::memory_order_acquire);
        stats->frames = sh.frames.load(std::memory_order_acquire);
        stats->underflows = sh.underflows.load(std::memory_order_acquire);
        stats->worstCallbackUs = sh.worstUs.load(std::memory_order_acquire);
        stats->lost = sys.ctl.lost ? 1 : 0;
        stats->latePlays = sh.latePlays.load(std::memory_order_relaxed);
        if (reset) {
            sh.underflows.store(0, std::memory_order_relaxed);
            sh.worstUs.store(0, std::memory_order_relaxed);
        }
        return OK;
    });
}

// Any time: the audio side picks the switch up at its next render.
Result System_SetMasterLimiter(System system, bool on) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        sys.shared.limiter.store(on, std::memory_order_relaxed);
        return OK;
    });
}

Result System_GetMasterLimiter(System system, bool* on) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!on) return ERR_INVALID_PARAM;
        *on = sys.shared.limiter.load(std::memory_order_relaxed);
        return OK;
    });
}

Result System_GetChannelsPlaying(System system, int* channels) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!channels) return ERR_INVALID_PARAM;
        int n = 0;
        if (sys.ctl.initialized)
            for (int i = 0; i < kMaxChannels; ++i) {
                const ChannelSlot& s = sys.ctl.slots[static_cast<std::size_t>(i)];
                n += s.gen != 0 && !s.stopped &&
                     sys.shared.channels[static_cast<std::size_t>(i)].endedGen.load(std::memory_order_acquire) != s.gen;
            }
        *channels = n;
        return OK;
    });
}

Result System_SetMetronome(System system, const rb::Metronome* metronome) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!metronome || metronome->bpm < 30 || metronome->bpm > 300 || metronome->beatsPerBar < 1 ||
            metronome->beatsPerBar > 12 || !(metronome->volume >= 0.0f && metronome->volume <= 1.0f))
            return ERR_INVALID_PARAM;
        const MetronomeSettings m{metronome->on, metronome->bpm, metronome->beatsPerBar, metronome->volume};
        sys.shared.metronome.store(m.pack(), std::memory_order_relaxed);
        if (m.on && sys.ctl.initialized) sys.wake();  // a resting stream clicks at once
        return OK;
    });
}

Result System_GetMetronome(System system, rb::Metronome* metronome) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!metronome) return ERR_INVALID_PARAM;
        const std::uint64_t word = sys.shared.metronome.load(std::memory_order_relaxed);
        const MetronomeSettings m = word ? MetronomeSettings::unpack(word) : MetronomeSettings{};
        *metronome = rb::Metronome{m.on, m.bpm, m.beatsPerBar, m.volume};
        return OK;
    });
}

// The null output's renderer may be another thread than the control
// thread: it touches only the output and the mixer.
namespace {
Result renderNull(System system, float* out, unsigned frames, std::int64_t timeNs, bool exact) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!out) return ERR_INVALID_PARAM;
        if (sys.ctl.outputType != OUTPUTTYPE_NULL) return ERR_UNSUPPORTED;
        if (!sys.ctl.initialized || !sys.output) return ERR_UNINITIALIZED;
        return sys.output->render(out, frames, timeNs, exact);
    });
}
}  // namespace

Result System_RenderNull(System system, float* out, unsigned frames) {
    return renderNull(system, out, frames, 0, false);
}

Result System_RenderNullAt(System system, float* out, unsigned frames, std::int64_t timeNs, bool exact) {
    if (timeNs <= 0) return ERR_INVALID_PARAM;
    return renderNull(system, out, frames, timeNs, exact);
}

Result System_GetPlayDelay(System system, unsigned* frames) {
    return withSystem(system, [&](SystemImpl& sys) -> Result {
        if (!frames) return ERR_INVALID_PARAM;
        if (!sys.ctl.initialized) return ERR_UNINITIALIZED;
        *frames = sys.ctl.playDelayFrames;
        return OK;
    });
}

}  // namespace rb
