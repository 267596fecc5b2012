// The public calls. Control-thread side: handle tables, channel bookkeeping,
// and commands to the audio thread.
#include "handles.h"
#include "internal.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace rb {
using namespace detail;

namespace {

HandleTable<SystemImpl>& systems() { static HandleTable<SystemImpl> t; return t; }
HandleTable<SoundObj>& sounds() { static HandleTable<SoundObj> t; return t; }
HandleTable<GroupObj>& groups() { static HandleTable<GroupObj> t; return t; }
HandleTable<DspObj>& dsps() { static HandleTable<DspObj> t; return t; }

constexpr std::uint32_t kGenMask = 0x1FFFF;

SystemImpl* sysOf(System s) { return systems().get(static_cast<std::uint32_t>(s)); }
SoundObj* soundOf(Sound s) { return sounds().get(static_cast<std::uint32_t>(s)); }
GroupObj* groupOf(ChannelGroup g) { return groups().get(static_cast<std::uint32_t>(g)); }
DspObj* dspOf(Dsp d) { return dsps().get(static_cast<std::uint32_t>(d)); }

// Channel handle: system index (8 bits), play generation (17 bits), slot (7 bits).
Channel makeChannel(const SystemImpl& sys, int slot, std::uint32_t gen) {
    const std::uint32_t sysIndex = HandleTable<SystemImpl>::indexOf(static_cast<std::uint32_t>(sys.handle)) + 1;
    return static_cast<Channel>((sysIndex << 24) | ((gen & kGenMask) << 7) | static_cast<std::uint32_t>(slot));
}

bool slotPlaying(const SystemImpl& sys, int slot) {
    const ChannelSlot& s = sys.slots[static_cast<std::size_t>(slot)];
    if (s.gen == 0 || s.stopped) return false;
    return sys.publish[static_cast<std::size_t>(slot)].endedGen.load(std::memory_order_acquire) != s.gen;
}

struct ChannelRef {
    SystemImpl* sys = nullptr;
    int slot = 0;
};

// Resolves a handle to its current play: OK, or 11 when the play was taken
// for another, or 35 when it ended or never existed.
Result resolve(Channel ch, ChannelRef& ref) {
    const auto v = static_cast<std::uint32_t>(ch);
    const std::uint32_t sysIndex = v >> 24;
    const std::uint32_t gen = (v >> 7) & kGenMask;
    const int slot = static_cast<int>(v & 0x7F);
    if (v == 0 || sysIndex == 0 || gen == 0 || slot >= kMaxChannels) return ERR_INVALID_HANDLE;
    SystemImpl* found = nullptr;
    systems().forEach([&](SystemImpl& s) {
        if (HandleTable<SystemImpl>::indexOf(static_cast<std::uint32_t>(s.handle)) + 1 == sysIndex) found = &s;
    });
    if (!found || !found->initialized) return ERR_INVALID_HANDLE;
    const ChannelSlot& s = found->slots[static_cast<std::size_t>(slot)];
    if (s.gen != gen) {
        const std::uint32_t prev = s.gen == 1 ? kGenMask : s.gen - 1;
        return gen == prev && s.prevStolen ? ERR_CHANNEL_STOLEN : ERR_INVALID_HANDLE;
    }
    if (!slotPlaying(*found, slot)) return ERR_INVALID_HANDLE;
    ref.sys = found;
    ref.slot = slot;
    return OK;
}

void copyName(const std::string& src, char* dst, int len) {
    if (!dst || len <= 0) return;
    const std::size_t n = std::min(src.size(), static_cast<std::size_t>(len - 1));
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

const char* const kOutputNames[] = {"PulseAudio", "ALSA", "JACK"};
const char* const kCodecNames[] = {"WAV", "AIFF", "FLAC", "Ogg Vorbis", "Opus", "MPEG (MP1, MP2, MP3)"};

void stopRecording(SystemImpl& sys) {
    sys.recorder.active.store(false, std::memory_order_release);
    closeInput(sys);
    sys.recorder.sound = nullptr;
}

}  // namespace

namespace detail {

Result SystemImpl::post(const Command& c) {
    if (!streamRunning.load(std::memory_order_acquire)) {
        apply(c);
        return OK;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (!queue.push(c)) {
        if (std::chrono::steady_clock::now() > deadline) return ERR_BUSY;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ++pushed;
    return OK;
}

void SystemImpl::retire(std::shared_ptr<void> obj) {
    if (!streamRunning.load(std::memory_order_acquire)) return;  // nobody else holds it
    graveyard.emplace_back(pushed, std::move(obj));
}

void SystemImpl::collect() {
    const bool running = streamRunning.load(std::memory_order_acquire);
    const std::uint64_t done = processed.load(std::memory_order_acquire);
    std::erase_if(graveyard, [&](const auto& e) { return !running || e.first <= done; });
}

void SystemImpl::drainDirect() {
    Command c;
    while (queue.pop(c)) apply(c);
    processed.store(pushed, std::memory_order_release);
}

int bytesPerSample(int format) {
    switch (format) {
    case SOUND_FORMAT_PCM8: return 1;
    case SOUND_FORMAT_PCM16: return 2;
    case SOUND_FORMAT_PCM24: return 3;
    case SOUND_FORMAT_PCM32:
    case SOUND_FORMAT_PCMFLOAT: return 4;
    default: return 0;
    }
}

}  // namespace detail

// ---- system ----

Result System_Create(System* system) {
    if (!system) return ERR_INVALID_PARAM;
    *system = System{};
    auto impl = std::make_unique<SystemImpl>();
    SystemImpl* raw = impl.get();
    const std::uint32_t h = systems().add(std::move(impl));
    if (h == 0 || HandleTable<SystemImpl>::indexOf(h) >= 255) {
        if (h) systems().take(h);
        return ERR_MEMORY;
    }
    raw->handle = static_cast<System>(h);
    *system = raw->handle;
    return OK;
}

Result System_Release(System system) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    System_Close(system);
    for (auto h : sounds().handlesWhere([&](const SoundObj& s) { return s.sys == sys; })) sounds().take(h);
    for (auto h : groups().handlesWhere([&](const GroupObj& g) { return g.sys == sys; })) groups().take(h);
    for (auto h : dsps().handlesWhere([&](const DspObj& d) { return d.sys == sys; })) dsps().take(h);
    systems().take(static_cast<std::uint32_t>(system));
    return OK;
}

Result System_GetVersion(System system, std::uint32_t* version) {
    if (!version) return ERR_INVALID_PARAM;
    if (!sysOf(system)) return ERR_INVALID_HANDLE;
    *version = kVersion;
    return OK;
}

Result System_SetOutput(System system, int outputType) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (sys->initialized) return ERR_INITIALIZED;
    if (outputType != OUTPUTTYPE_NULL && (outputType < 0 || outputType > 2)) return ERR_INVALID_PARAM;
    sys->outputType = outputType;
    sys->driver = 0;
    sys->recordDriver = 0;
    return OK;
}

Result System_GetOutput(System system, int* outputType) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!outputType) return ERR_INVALID_PARAM;
    *outputType = sys->outputType;
    return OK;
}

namespace {
Result deviceList(SystemImpl* sys, bool input, std::vector<std::string>& names) {
    if (sys->outputType == OUTPUTTYPE_NULL) {
        names = {input ? "Entrada nula" : "Saída nula"};
        return OK;
    }
    std::vector<unsigned> ids;
    return listDevices(sys->outputType, input, names, ids);
}

Result countDevices(System system, bool input, int* count) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!count) return ERR_INVALID_PARAM;
    *count = 0;
    std::vector<std::string> names;
    const Result r = deviceList(sys, input, names);
    if (r == OK) *count = static_cast<int>(names.size());
    return r;
}

Result deviceName(System system, bool input, int id, char* name, int nameLen) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!name || nameLen <= 0) return ERR_INVALID_PARAM;
    name[0] = '\0';
    std::vector<std::string> names;
    const Result r = deviceList(sys, input, names);
    if (r != OK) return r;
    if (id < 0 || id >= static_cast<int>(names.size())) return ERR_INVALID_PARAM;
    copyName(names[static_cast<std::size_t>(id)], name, nameLen);
    return OK;
}
}  // namespace

Result System_GetNumDrivers(System system, int* count) { return countDevices(system, false, count); }
Result System_GetRecordNumDrivers(System system, int* count) { return countDevices(system, true, count); }
Result System_GetDriverName(System system, int id, char* name, int nameLen) {
    return deviceName(system, false, id, name, nameLen);
}
Result System_GetRecordDriverName(System system, int id, char* name, int nameLen) {
    return deviceName(system, true, id, name, nameLen);
}

Result System_SetDriver(System system, int id) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    int count = 0;
    if (const Result r = System_GetNumDrivers(system, &count); r != OK) return r;
    if (id < 0 || id >= count) return ERR_INVALID_PARAM;
    if (sys->driver == id) return OK;
    sys->driver = id;
    if (sys->initialized && sys->outputType != OUTPUTTYPE_NULL) {
        // Move the running output to the new device.
        closeOutput(*sys);
        sys->drainDirect();
        sys->collect();
        if (openOutput(*sys) != OK) return ERR_OUTPUT_INIT;
    }
    return OK;
}

Result System_GetDriver(System system, int* id) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!id) return ERR_INVALID_PARAM;
    *id = sys->driver;
    return OK;
}

Result System_SetRecordDriver(System system, int id) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    int count = 0;
    if (const Result r = System_GetRecordNumDrivers(system, &count); r != OK) return r;
    if (id < 0 || id >= count) return ERR_INVALID_PARAM;
    sys->recordDriver = id;  // used by the next recording
    return OK;
}

Result System_GetRecordDriver(System system, int* id) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!id) return ERR_INVALID_PARAM;
    *id = sys->recordDriver;
    return OK;
}

Result System_SetSoftwareFormat(System system, int rate, int format, int, int, int) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (sys->initialized) return ERR_INITIALIZED;
    if (rate < 8000 || rate > 192000) return ERR_INVALID_PARAM;
    if (format < SOUND_FORMAT_PCM8 || format > SOUND_FORMAT_PCMFLOAT) return ERR_FORMAT;
    sys->rate = rate;
    sys->format = format;
    return OK;
}

Result System_GetSoftwareFormat(System system, int* rate, int* format) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (rate) *rate = sys->initialized ? sys->mixRate : (sys->rate ? sys->rate : kDefaultRate);
    if (format) *format = sys->format;
    return OK;
}

Result System_SetDSPBufferSize(System system, unsigned frames) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (sys->initialized) return ERR_INITIALIZED;
    if (frames > 16384) return ERR_INVALID_PARAM;
    sys->bufferFrames = frames == 0 ? 256 : frames;
    return OK;
}

Result System_GetOutputLatency(System system, unsigned* bufferFrames, long* latencyFrames) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!sys->initialized) return ERR_UNINITIALIZED;
    if (bufferFrames) *bufferFrames = sys->grantedFrames;
    if (latencyFrames) *latencyFrames = sys->latencyFrames;
    return OK;
}

Result System_SetPluginPath(System system, const char* path) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!path) return ERR_INVALID_PARAM;
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) return ERR_FILE_NOTFOUND;
    sys->pluginPath = path;
    return OK;
}

Result System_GetNumPlugins(System system, int pluginType, int* count) {
    if (!sysOf(system)) return ERR_INVALID_HANDLE;
    if (!count) return ERR_INVALID_PARAM;
    switch (pluginType) {
    case PLUGINTYPE_OUTPUT: *count = static_cast<int>(std::size(kOutputNames)); return OK;
    case PLUGINTYPE_CODEC: *count = static_cast<int>(std::size(kCodecNames)); return OK;
    case PLUGINTYPE_DSP: *count = kNumDspPlugins; return OK;
    default: *count = 0; return ERR_INVALID_PARAM;
    }
}

Result System_GetPluginInfo(System system, int pluginType, int index, char* name, int nameLen,
                            std::uint32_t* version) {
    int count = 0;
    if (const Result r = System_GetNumPlugins(system, pluginType, &count); r != OK) return r;
    if (index < 0 || index >= count) return ERR_PLUGIN_MISSING;
    const char* n = pluginType == PLUGINTYPE_OUTPUT ? kOutputNames[index]
                    : pluginType == PLUGINTYPE_CODEC ? kCodecNames[index]
                                                      : dspPluginName(index);
    copyName(n, name, nameLen);
    if (version) *version = kVersion;
    return OK;
}

Result System_Init(System system, int maxChannels, int, void*) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (sys->initialized) return ERR_INITIALIZED;
    if (maxChannels <= 0) return ERR_INVALID_PARAM;
    sys->mixRate = sys->rate ? sys->rate : kDefaultRate;
    sys->mixBuf.assign(2 * kBlockFrames, 0.0f);
    sys->groupBuf.assign(2 * kBlockFrames, 0.0f);
    for (auto& v : sys->voices) v = Voice{};
    for (auto& s : sys->slots) { s.stopped = true; s.prevStolen = false; }
    dsps().forEach([&](DspObj& d) { if (d.sys == sys) d.unit->prepare(sys->mixRate); });
    if (sys->outputType != OUTPUTTYPE_NULL) {
        if (const Result r = openOutput(*sys); r != OK) return r;
    } else {
        sys->grantedFrames = 0;
        sys->latencyFrames = 0;
    }
    sys->initialized = true;
    return OK;
}

Result System_Close(System system) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!sys->initialized) return OK;
    stopRecording(*sys);
    closeOutput(*sys);
    sys->drainDirect();
    Command stop{};
    stop.kind = Command::StopAll;
    sys->apply(stop);
    for (auto& s : sys->slots) s.stopped = true;
    sys->collect();
    sys->initialized = false;
    return OK;
}

Result System_Update(System system) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    sys->collect();
    return OK;
}

Result System_GetChannelsPlaying(System system, int* channels) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!channels) return ERR_INVALID_PARAM;
    int n = 0;
    if (sys->initialized)
        for (int i = 0; i < kMaxChannels; ++i) n += slotPlaying(*sys, i) ? 1 : 0;
    *channels = n;
    return OK;
}

// ---- sounds ----

Result System_CreateSound(System system, const char* nameOrData, std::uint32_t mode,
                          const CreateSoundExInfo* exinfo, Sound* sound) {
    if (!sound) return ERR_INVALID_PARAM;
    *sound = Sound{};
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!sys->initialized) return ERR_UNINITIALIZED;
    auto s = std::make_unique<SoundObj>();
    s->sys = sys;
    s->mode = mode;
    if (mode & MODE_OPENUSER) {
        if (!exinfo || exinfo->cbsize != static_cast<int>(sizeof(CreateSoundExInfo))) return ERR_INVALID_PARAM;
        const int bps = bytesPerSample(exinfo->format);
        if (bps == 0) return ERR_FORMAT;
        if (exinfo->numchannels < 1 || exinfo->numchannels > 8 || exinfo->defaultfrequency < 1000 ||
            exinfo->defaultfrequency > 192000)
            return ERR_INVALID_PARAM;
        const std::uint32_t frameBytes = static_cast<std::uint32_t>(bps * exinfo->numchannels);
        const std::uint32_t frames = exinfo->length / frameBytes;
        if (frames == 0) return ERR_INVALID_PARAM;
        try {
            s->raw.assign(static_cast<std::size_t>(frames) * frameBytes, 0);
        } catch (const std::bad_alloc&) {
            return ERR_MEMORY;
        }
        s->user = true;
        s->type = SOUND_TYPE_USER;
        s->format = exinfo->format;
        s->bits = bps * 8;
        s->channels = exinfo->numchannels;
        s->defaultFrequency = static_cast<float>(exinfo->defaultfrequency);
        s->sourceFrames = frames;
        s->dataFrames = frames;
        s->dataRate = exinfo->defaultfrequency;
    } else {
        if (!nameOrData || !*nameOrData) return ERR_INVALID_PARAM;
        if (const Result r = decodeFile(nameOrData, sys->mixRate, *s); r != OK) return r;
        readTags(nameOrData, *s);
    }
    const std::uint32_t h = sounds().add(std::move(s));
    if (h == 0) return ERR_MEMORY;
    *sound = static_cast<Sound>(h);
    return OK;
}

Result Sound_Release(Sound sound) {
    SoundObj* s = soundOf(sound);
    if (!s) return ERR_INVALID_HANDLE;
    SystemImpl* sys = s->sys;
    if (sys->recorder.sound == s) stopRecording(*sys);
    Command c{};
    c.kind = Command::StopSound;
    c.sound = s;
    sys->post(c);
    for (auto& slot : sys->slots)
        if (slot.sound == s) slot.stopped = true;
    sys->retire(std::shared_ptr<void>(sounds().take(static_cast<std::uint32_t>(sound))));
    return OK;
}

Result Sound_GetMode(Sound sound, std::uint32_t* mode) {
    SoundObj* s = soundOf(sound);
    if (!s) return ERR_INVALID_HANDLE;
    if (!mode) return ERR_INVALID_PARAM;
    *mode = s->mode;
    return OK;
}

Result Sound_SetMode(Sound sound, std::uint32_t mode) {
    SoundObj* s = soundOf(sound);
    if (!s) return ERR_INVALID_HANDLE;
    // Only the loop mode can change after creation.
    if (mode & LOOP_NORMAL) s->mode = (s->mode & ~LOOP_OFF) | LOOP_NORMAL;
    else if (mode & LOOP_OFF) s->mode = (s->mode & ~LOOP_NORMAL) | LOOP_OFF;
    return OK;
}

Result Sound_GetFormat(Sound sound, int* type, int* format, int* channels, int* bits) {
    SoundObj* s = soundOf(sound);
    if (!s) return ERR_INVALID_HANDLE;
    if (type) *type = s->type;
    if (format) *format = s->format;
    if (channels) *channels = s->sourceChannels ? s->sourceChannels : s->channels;
    if (bits) *bits = s->bits;
    return OK;
}

Result Sound_GetDefaults(Sound sound, float* frequency, float* volume, float* pan, int* priority) {
    SoundObj* s = soundOf(sound);
    if (!s) return ERR_INVALID_HANDLE;
    if (frequency) *frequency = s->defaultFrequency;
    if (volume) *volume = 1.0f;
    if (pan) *pan = 0.0f;
    if (priority) *priority = 128;
    return OK;
}

Result Sound_GetLength(Sound sound, std::uint32_t* length, int timeUnit) {
    SoundObj* s = soundOf(sound);
    if (!s) return ERR_INVALID_HANDLE;
    if (!length) return ERR_INVALID_PARAM;
    switch (timeUnit) {
    case TIMEUNIT_PCM: *length = s->sourceFrames; return OK;
    case TIMEUNIT_MS:
        *length = s->defaultFrequency > 0
                      ? static_cast<std::uint32_t>(static_cast<double>(s->sourceFrames) * 1000.0 / s->defaultFrequency)
                      : 0;
        return OK;
    case TIMEUNIT_PCMBYTES:
        *length = s->sourceFrames * static_cast<std::uint32_t>(s->sourceChannels ? s->sourceChannels : s->channels) * static_cast<std::uint32_t>(s->bits / 8);
        return OK;
    default: *length = 0; return ERR_FORMAT;
    }
}

Result Sound_GetNumTags(Sound sound, int* numTags, int* numUpdated) {
    SoundObj* s = soundOf(sound);
    if (!s) return ERR_INVALID_HANDLE;
    if (numTags) *numTags = static_cast<int>(s->tags.size());
    if (numUpdated) *numUpdated = 0;
    return OK;
}

Result Sound_GetTag(Sound sound, const char* name, int index, Tag* tag) {
    SoundObj* s = soundOf(sound);
    if (!s) return ERR_INVALID_HANDLE;
    if (!tag || index < 0) return ERR_INVALID_PARAM;
    int seen = 0;
    for (const TagEntry& e : s->tags) {
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
}

Result Sound_Lock(Sound sound, std::uint32_t offset, std::uint32_t length, void** ptr1, void** ptr2,
                  std::uint32_t* len1, std::uint32_t* len2) {
    if (ptr1) *ptr1 = nullptr;
    if (ptr2) *ptr2 = nullptr;
    if (len1) *len1 = 0;
    if (len2) *len2 = 0;
    SoundObj* s = soundOf(sound);
    if (!s) return ERR_INVALID_HANDLE;
    if (!ptr1 || !ptr2 || !len1 || !len2) return ERR_INVALID_PARAM;
    auto* data = s->user ? s->raw.data() : reinterpret_cast<std::uint8_t*>(s->pcm.data());
    const std::size_t size = s->user ? s->raw.size() : s->pcm.size() * sizeof(float);
    if (offset >= size || length > size || length == 0) return ERR_INVALID_PARAM;
    const auto first = static_cast<std::uint32_t>(std::min<std::size_t>(length, size - offset));
    *ptr1 = data + offset;
    *len1 = first;
    if (first < length) {
        *ptr2 = data;
        *len2 = length - first;
    }
    return OK;
}

Result Sound_Unlock(Sound sound, void*, void*, std::uint32_t, std::uint32_t) {
    return soundOf(sound) ? OK : ERR_INVALID_HANDLE;
}

// ---- playing ----

Result System_PlaySound(System system, int channelId, Sound sound, bool paused, Channel* channel) {
    if (!channel) return ERR_INVALID_PARAM;
    *channel = Channel{};
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!sys->initialized) return ERR_UNINITIALIZED;
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
    bool stolen = false;
    if (slot < 0) {
        // Every channel plays: take the oldest.
        std::uint64_t oldest = UINT64_MAX;
        for (int i = 0; i < kMaxChannels; ++i)
            if (sys->slots[static_cast<std::size_t>(i)].startOrder < oldest) {
                oldest = sys->slots[static_cast<std::size_t>(i)].startOrder;
                slot = i;
            }
        stolen = true;
    } else {
        stolen = slotPlaying(*sys, slot);
    }
    ChannelSlot& cs = sys->slots[static_cast<std::size_t>(slot)];
    cs.prevStolen = stolen;
    cs.gen = (cs.gen + 1) & kGenMask;
    if (cs.gen == 0) cs.gen = 1;
    cs.stopped = false;
    cs.startOrder = ++sys->playCounter;
    cs.volume = 1.0f;
    cs.paused = paused;
    cs.sound = s;
    cs.group = -1;
    Command c{};
    c.kind = Command::Start;
    c.slot = static_cast<std::int16_t>(slot);
    c.gen = cs.gen;
    c.flag = static_cast<std::uint8_t>((paused ? 1 : 0) | ((s->mode & LOOP_NORMAL) ? 2 : 0));
    c.value = 1.0f;
    c.target = -1;
    c.sound = s;
    if (const Result r = sys->post(c); r != OK) {
        cs.stopped = true;
        return r;
    }
    *channel = makeChannel(*sys, slot, cs.gen);
    return OK;
}

namespace {
Result channelCommand(Channel channel, Command c) {
    ChannelRef ref;
    if (const Result r = resolve(channel, ref); r != OK) return r;
    c.slot = static_cast<std::int16_t>(ref.slot);
    c.gen = ref.sys->slots[static_cast<std::size_t>(ref.slot)].gen;
    return ref.sys->post(c);
}
}  // namespace

Result Channel_SetVolume(Channel channel, float volume) {
    ChannelRef ref;
    if (const Result r = resolve(channel, ref); r != OK) return r;
    volume = std::clamp(volume, 0.0f, 1.0f);
    ref.sys->slots[static_cast<std::size_t>(ref.slot)].volume = volume;
    Command c{};
    c.kind = Command::SetVolume;
    c.value = volume;
    return channelCommand(channel, c);
}

Result Channel_GetVolume(Channel channel, float* volume) {
    ChannelRef ref;
    if (const Result r = resolve(channel, ref); r != OK) return r;
    if (volume) *volume = ref.sys->slots[static_cast<std::size_t>(ref.slot)].volume;
    return OK;
}

Result Channel_SetPaused(Channel channel, bool paused) {
    ChannelRef ref;
    if (const Result r = resolve(channel, ref); r != OK) return r;
    ref.sys->slots[static_cast<std::size_t>(ref.slot)].paused = paused;
    Command c{};
    c.kind = Command::SetPaused;
    c.flag = paused ? 1 : 0;
    return channelCommand(channel, c);
}

Result Channel_GetPaused(Channel channel, bool* paused) {
    ChannelRef ref;
    if (const Result r = resolve(channel, ref); r != OK) return r;
    if (paused) *paused = ref.sys->slots[static_cast<std::size_t>(ref.slot)].paused;
    return OK;
}

Result Channel_SetChannelGroup(Channel channel, ChannelGroup group) {
    ChannelRef ref;
    if (const Result r = resolve(channel, ref); r != OK) return r;
    int target = -1;
    if (group != ChannelGroup{}) {
        GroupObj* g = groupOf(group);
        if (!g || g->sys != ref.sys) return ERR_INVALID_HANDLE;
        target = g->slot;
    }
    ref.sys->slots[static_cast<std::size_t>(ref.slot)].group = target;
    Command c{};
    c.kind = Command::SetGroup;
    c.target = target;
    return channelCommand(channel, c);
}

Result Channel_Stop(Channel channel) {
    ChannelRef ref;
    if (const Result r = resolve(channel, ref); r != OK) return r;
    Command c{};
    c.kind = Command::Stop;
    const Result r = channelCommand(channel, c);
    ref.sys->slots[static_cast<std::size_t>(ref.slot)].stopped = true;
    return r;
}

Result Channel_IsPlaying(Channel channel, bool* playing) {
    if (!playing) return ERR_INVALID_PARAM;
    ChannelRef ref;
    const Result r = resolve(channel, ref);
    *playing = r == OK;
    return r;
}

Result Channel_GetPosition(Channel channel, std::uint32_t* position, int timeUnit) {
    if (!position) return ERR_INVALID_PARAM;
    *position = 0;
    ChannelRef ref;
    if (const Result r = resolve(channel, ref); r != OK) return r;
    const SoundObj* s = ref.sys->slots[static_cast<std::size_t>(ref.slot)].sound;
    const double dataPos = ref.sys->publish[static_cast<std::size_t>(ref.slot)].pos.load(std::memory_order_relaxed);
    const double rate = s->dataRate > 0 ? s->dataRate : ref.sys->mixRate;
    const double frames = dataPos * s->defaultFrequency / rate;
    switch (timeUnit) {
    case TIMEUNIT_PCM: *position = static_cast<std::uint32_t>(frames); return OK;
    case TIMEUNIT_MS: *position = static_cast<std::uint32_t>(dataPos * 1000.0 / rate); return OK;
    case TIMEUNIT_PCMBYTES:
        *position = static_cast<std::uint32_t>(frames) * static_cast<std::uint32_t>(s->channels * (s->bits / 8));
        return OK;
    default: return ERR_FORMAT;
    }
}

// ---- groups and effects ----

Result System_CreateChannelGroup(System system, const char* name, ChannelGroup* group) {
    if (!group) return ERR_INVALID_PARAM;
    *group = ChannelGroup{};
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    int slot = -1;
    for (int i = 0; i < kMaxGroups && slot < 0; ++i)
        if (!sys->groups[static_cast<std::size_t>(i)]) slot = i;
    if (slot < 0) return ERR_MEMORY;
    auto g = std::make_unique<GroupObj>();
    g->sys = sys;
    g->name = name ? name : "";
    g->slot = slot;
    GroupObj* raw = g.get();
    const std::uint32_t h = groups().add(std::move(g));
    if (h == 0) return ERR_MEMORY;
    sys->groups[static_cast<std::size_t>(slot)] = raw;
    *group = static_cast<ChannelGroup>(h);
    return OK;
}

Result ChannelGroup_GetName(ChannelGroup group, char* name, int nameLen) {
    GroupObj* g = groupOf(group);
    if (!g) return ERR_INVALID_HANDLE;
    copyName(g->name, name, nameLen);
    return OK;
}

Result ChannelGroup_Release(ChannelGroup group) {
    GroupObj* g = groupOf(group);
    if (!g) return ERR_INVALID_HANDLE;
    SystemImpl* sys = g->sys;
    Command c{};
    c.kind = Command::ClearGroup;
    c.slot = static_cast<std::int16_t>(g->slot);
    sys->post(c);
    dsps().forEach([&](DspObj& d) { if (d.sys == sys && d.attachedTo == g->slot) d.attachedTo = -2; });
    for (auto& s : sys->slots)
        if (s.group == g->slot) s.group = -1;
    sys->groups[static_cast<std::size_t>(g->slot)] = nullptr;
    groups().take(static_cast<std::uint32_t>(group));
    return OK;
}

Result System_CreateDSPByIndex(System system, int pluginIndex, Dsp* dsp) {
    if (!dsp) return ERR_INVALID_PARAM;
    *dsp = Dsp{};
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (pluginIndex < 0 || pluginIndex >= kNumDspPlugins) return ERR_PLUGIN_MISSING;
    auto d = std::make_unique<DspObj>();
    d->sys = sys;
    d->plugin = pluginIndex;
    d->unit = makeDspUnit(pluginIndex);
    d->unit->prepare(sys->initialized ? sys->mixRate : (sys->rate ? sys->rate : kDefaultRate));
    const std::uint32_t h = dsps().add(std::move(d));
    if (h == 0) return ERR_MEMORY;
    *dsp = static_cast<Dsp>(h);
    return OK;
}

namespace {
Result attach(SystemImpl* sys, DspObj* d, int target) {
    Command c{};
    c.kind = Command::Attach;
    c.unit = d->unit.get();
    c.target = target;
    if (const Result r = sys->post(c); r != OK) return r;
    d->attachedTo = target;
    return OK;
}
}  // namespace

Result ChannelGroup_AddDSP(ChannelGroup group, Dsp dsp) {
    GroupObj* g = groupOf(group);
    DspObj* d = dspOf(dsp);
    if (!g || !d) return ERR_INVALID_HANDLE;
    if (g->sys != d->sys) return ERR_DSP_CONNECTION;
    return attach(g->sys, d, g->slot);
}

Result System_AddDSP(System system, Dsp dsp) {
    SystemImpl* sys = sysOf(system);
    DspObj* d = dspOf(dsp);
    if (!sys || !d) return ERR_INVALID_HANDLE;
    if (d->sys != sys) return ERR_DSP_CONNECTION;
    return attach(sys, d, -1);
}

Result DSP_GetActive(Dsp dsp, bool* active) {
    DspObj* d = dspOf(dsp);
    if (!d) return ERR_INVALID_HANDLE;
    if (!active) return ERR_INVALID_PARAM;
    *active = d->attachedTo != -2;
    return OK;
}

Result DSP_Remove(Dsp dsp) {
    DspObj* d = dspOf(dsp);
    if (!d) return ERR_INVALID_HANDLE;
    if (d->attachedTo == -2) return OK;
    Command c{};
    c.kind = Command::Detach;
    c.unit = d->unit.get();
    if (const Result r = d->sys->post(c); r != OK) return r;
    d->attachedTo = -2;
    return OK;
}

Result DSP_Release(Dsp dsp) {
    DspObj* d = dspOf(dsp);
    if (!d) return ERR_INVALID_HANDLE;
    DSP_Remove(dsp);
    SystemImpl* sys = d->sys;
    sys->retire(std::shared_ptr<void>(dsps().take(static_cast<std::uint32_t>(dsp))));
    return OK;
}

// ---- recording ----

Result System_RecordStart(System system, Sound sound, bool loop) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!sys->initialized) return ERR_UNINITIALIZED;
    SoundObj* s = soundOf(sound);
    if (!s || s->sys != sys) return ERR_INVALID_HANDLE;
    if (!s->user) return ERR_FORMAT;
    stopRecording(*sys);
    Recorder& rec = sys->recorder;
    rec.sound = s;
    rec.loop = loop;
    rec.frameBytes = static_cast<std::uint32_t>(bytesPerSample(s->format) * s->channels);
    rec.ringFrames = s->dataFrames;
    rec.writeFrame.store(0, std::memory_order_relaxed);
    rec.active.store(true, std::memory_order_release);
    if (sys->outputType != OUTPUTTYPE_NULL) {
        if (const Result r = openInput(*sys, *s); r != OK) {
            rec.active.store(false, std::memory_order_release);
            rec.sound = nullptr;
            return r;
        }
    }
    return OK;
}

Result System_RecordStop(System system) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    stopRecording(*sys);
    return OK;
}

Result System_GetRecordPosition(System system, std::uint32_t* position) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!position) return ERR_INVALID_PARAM;
    *position = sys->recorder.writeFrame.load(std::memory_order_acquire);
    return OK;
}

Result System_IsRecording(System system, bool* recording) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!recording) return ERR_INVALID_PARAM;
    *recording = sys->recorder.active.load(std::memory_order_acquire);
    return OK;
}

Result System_RenderNull(System system, float* out, unsigned frames) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!out) return ERR_INVALID_PARAM;
    if (sys->outputType != OUTPUTTYPE_NULL) return ERR_UNSUPPORTED;
    if (!sys->initialized) return ERR_UNINITIALIZED;
    sys->render(out, frames);
    return OK;
}

Result System_FeedNullRecord(System system, const void* data, unsigned frames) {
    SystemImpl* sys = sysOf(system);
    if (!sys) return ERR_INVALID_HANDLE;
    if (!data) return ERR_INVALID_PARAM;
    if (sys->outputType != OUTPUTTYPE_NULL) return ERR_UNSUPPORTED;
    if (!sys->recorder.active.load(std::memory_order_acquire)) return ERR_RECORD;
    sys->recorder.write(data, frames);
    return OK;
}

}  // namespace rb
