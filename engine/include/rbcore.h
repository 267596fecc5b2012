// rbcore: the real-time audio engine of Rimbal 2.
//
// Qt-free. Every call returns a Result (0 = success); no exception ever leaves
// a call. Handles are opaque values of distinct types; a zero handle means
// "none". Unless a comment says otherwise, calls are made from one control
// thread (the GUI thread); the engine mixes and records on its own threads and
// never blocks them.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#  if defined(RBCORE_BUILD)
#    define RBCORE_API __declspec(dllexport)
#  else
#    define RBCORE_API __declspec(dllimport)
#  endif
#else
#  define RBCORE_API __attribute__((visibility("default")))
#endif

namespace rb {

// Version of this engine; the program refuses any other.
inline constexpr std::uint32_t kVersion = 0x00020004;

enum class System : std::uint32_t {};
enum class Sound : std::uint32_t {};
// 64 bits: a play generation that never repeats in a program's life.
enum class Channel : std::uint64_t {};
enum class ChannelGroup : std::uint32_t {};
enum class Dsp : std::uint32_t {};

using Result = std::int32_t;

// Result codes. 11 and 35 are the two "this channel no longer plays" answers.
enum : Result {
    OK = 0,
    ERR_BADCOMMAND = 1,
    ERR_CHANNEL_ALLOC = 2,
    ERR_FILE_BAD = 19,
    ERR_FILE_EOF = 20,
    ERR_FILE_NOTFOUND = 23,
    ERR_FORMAT = 25,
    ERR_CHANNEL_STOLEN = 11,
    ERR_INITIALIZED = 33,
    ERR_INVALID_HANDLE = 35,
    ERR_INVALID_PARAM = 37,
    ERR_MEMORY = 43,
    ERR_OUTPUT_CREATEBUFFER = 53,
    ERR_OUTPUT_DRIVERCALL = 54,
    ERR_OUTPUT_INIT = 57,
    ERR_PLUGIN_MISSING = 62,
    ERR_RECORD = 64,
    ERR_UNINITIALIZED = 74,
    ERR_UNSUPPORTED = 75,
    ERR_DSP_CONNECTION = 12,
    ERR_TAGNOTFOUND = 69,
    ERR_BUSY = 90,
    // The output device stopped answering (server gone, device unplugged).
    // System_Update reports it once; the engine then keeps time on its own and
    // reopens the same device by name about once a second.
    ERR_OUTPUT_LOST = 91,
    // The device runs at another rate than the one asked; the engine mixes at
    // the device's rate (System_GetSoftwareFormat). Reported once by System_Update.
    ERR_OUTPUT_RATE = 92,
    // A sound would take more than kMaxSoundBytes once decoded.
    ERR_TOO_LARGE = 93,
    ERR_INTERNAL = 94,
    // The output kept running dry (five underruns within ten seconds): the
    // engine reopened it with twice the buffer (System_GetOutputLatency tells
    // the new one). Reported once by System_Update.
    ERR_OUTPUT_UNDERRUN = 95,
};

// Largest sound the engine keeps in memory, as decoded samples at the mixer rate.
inline constexpr std::uint64_t kMaxSoundBytes = std::uint64_t{1} << 30;

// Output types. The null output renders only when asked to and is not one of
// the listed output plug-ins.
enum : int {
    OUTPUTTYPE_PULSEAUDIO = 0,
    OUTPUTTYPE_ALSA = 1,
    OUTPUTTYPE_JACK = 2,
    OUTPUTTYPE_NULL = 100,
};

enum PluginType : int { PLUGINTYPE_OUTPUT = 0, PLUGINTYPE_CODEC = 1, PLUGINTYPE_DSP = 2 };

enum SoundFormat : int {
    SOUND_FORMAT_NONE = 0,
    SOUND_FORMAT_PCM8 = 1,
    SOUND_FORMAT_PCM16 = 2,
    SOUND_FORMAT_PCM24 = 3,
    SOUND_FORMAT_PCM32 = 4,
    SOUND_FORMAT_PCMFLOAT = 5,
};

enum SoundType : int {
    SOUND_TYPE_UNKNOWN = 0,
    SOUND_TYPE_AIFF = 1,
    SOUND_TYPE_FLAC = 2,
    SOUND_TYPE_MPEG = 3,
    SOUND_TYPE_OGGVORBIS = 4,
    SOUND_TYPE_OPUS = 5,
    SOUND_TYPE_RAW = 6,
    SOUND_TYPE_USER = 7,
    SOUND_TYPE_WAV = 8,
};

// Mode flags of sounds.
enum : std::uint32_t {
    MODE_DEFAULT = 0x0,
    LOOP_OFF = 0x1,
    LOOP_NORMAL = 0x2,
    MODE_HARDWARE = 0x20,
    MODE_SOFTWARE = 0x40,
    MODE_2D = 0x08,
    MODE_3D = 0x10,
    MODE_OPENUSER = 0x400,
};

enum TimeUnit : int { TIMEUNIT_MS = 1, TIMEUNIT_PCM = 2, TIMEUNIT_PCMBYTES = 4 };

inline constexpr int CHANNEL_FREE = -1;
inline constexpr int kMaxChannels = 64;
inline constexpr int INIT_NORMAL = 0;
// Init flag: ask for real-time scheduling of the device thread; without it
// where the system refuses. Off by default: on PulseAudio it tripled the idle
// cost and brought no steady gain under load.
inline constexpr int INIT_REALTIME = 0x100;
// Init flag: keep the buffer asked for even when the device keeps running
// dry (measurements); by default the engine doubles it (ERR_OUTPUT_UNDERRUN).
inline constexpr int INIT_FIXED_BUFFER = 0x200;
inline constexpr int DSP_RESAMPLER_LINEAR = 1;

// The 92-byte extra information record of a user-created sound. Only the
// fields below are read; the rest is reserved and zero.
struct CreateSoundExInfo {
    std::int32_t cbsize;            // 92
    std::uint32_t length;           // bytes
    std::uint32_t fileoffset;
    std::int32_t numchannels;
    std::int32_t defaultfrequency;
    std::int32_t format;            // SoundFormat
    std::uint8_t reserved[68];
};
static_assert(sizeof(CreateSoundExInfo) == 92, "extra info is 92 bytes");

enum TagType : int {
    TAGTYPE_UNKNOWN = 0, TAGTYPE_ID3V1 = 1, TAGTYPE_ID3V2 = 2, TAGTYPE_VORBISCOMMENT = 3,
    TAGTYPE_SHOUTCAST = 4, TAGTYPE_ICECAST = 5, TAGTYPE_ASF = 6, TAGTYPE_MIDI = 7,
    TAGTYPE_PLAYLIST = 8, TAGTYPE_FMOD = 9, TAGTYPE_USER = 10,
};
enum TagDataType : int {
    TAGDATATYPE_BINARY = 0, TAGDATATYPE_INT = 1, TAGDATATYPE_FLOAT = 2,
    TAGDATATYPE_STRING = 3, TAGDATATYPE_STRING_UTF16 = 4, TAGDATATYPE_STRING_UTF8 = 8,
};

// A tag as handed out by Sound_GetTag. name and data point into the sound and
// stay valid until the sound is released.
struct Tag {
    int type;          // TagType
    int datatype;      // TagDataType
    const char* name;
    const void* data;
    std::uint32_t datalen;
    bool updated;
};

// Sources of a recording.
enum RecordSource : int {
    RECORD_SOURCE_DEVICE = 0,  // the recording device's input
    RECORD_SOURCE_MIX = 1,     // the engine's own output mix, after the master effects
};

// What the output has done since init (or the last reset).
struct OutputStats {
    std::uint64_t callbacks;     // device callbacks or null renders
    std::uint64_t frames;        // frames mixed
    std::uint64_t underflows;    // buffers the device reported as late
    std::uint32_t worstCallbackUs;
    std::uint32_t lost;          // 1 while the device is lost
    std::uint64_t latePlays;     // timed plays whose moment was already past the play delay
};

// The metronome: clicks made and placed by the engine, each beat on its exact
// frame, an accented click on the first beat of each bar. They are mixed after
// the master effects and never reach a recording of the mix. A new tempo or
// bar takes effect on the next beat; turning it on starts a bar at once.
struct Metronome {
    bool on;
    int bpm;          // 30 to 300
    int beatsPerBar;  // 1 to 12
    float volume;     // 0 to 1: the accented click's peak
};

// ---- system (control thread) ----
RBCORE_API Result System_Create(System* system);
RBCORE_API Result System_Release(System system);
RBCORE_API Result System_GetVersion(System system, std::uint32_t* version);
RBCORE_API Result System_SetOutput(System system, int outputType);
RBCORE_API Result System_GetOutput(System system, int* outputType);
RBCORE_API Result System_GetNumDrivers(System system, int* count);
RBCORE_API Result System_GetDriverName(System system, int id, char* name, int nameLen);
RBCORE_API Result System_SetDriver(System system, int id);
RBCORE_API Result System_GetDriver(System system, int* id);
RBCORE_API Result System_GetRecordNumDrivers(System system, int* count);
RBCORE_API Result System_GetRecordDriverName(System system, int id, char* name, int nameLen);
RBCORE_API Result System_SetRecordDriver(System system, int id);
RBCORE_API Result System_GetRecordDriver(System system, int* id);
RBCORE_API Result System_SetSoftwareFormat(System system, int rate, int format, int outChannels,
                                           int inChannels, int resampler);
RBCORE_API Result System_GetSoftwareFormat(System system, int* rate, int* format);
// Frames per buffer asked of the device; 0 keeps the default. Before init.
RBCORE_API Result System_SetDSPBufferSize(System system, unsigned frames);
// Buffer the device granted and the latency it reports, in frames.
RBCORE_API Result System_GetOutputLatency(System system, unsigned* bufferFrames, long* latencyFrames);
// The constant delay, in frames, after which a timed play sounds (see
// Channel_SetStartTime): about a buffer and a half of the output. After init.
RBCORE_API Result System_GetPlayDelay(System system, unsigned* frames);
RBCORE_API Result System_SetPluginPath(System system, const char* path);
RBCORE_API Result System_GetNumPlugins(System system, int pluginType, int* count);
RBCORE_API Result System_GetPluginInfo(System system, int pluginType, int index, char* name,
                                       int nameLen, std::uint32_t* version);
RBCORE_API Result System_Init(System system, int maxChannels, int flags, void* extraDriverData);
RBCORE_API Result System_Close(System system);
// Reclaims released objects and watches the device: returns ERR_OUTPUT_LOST
// once when the device is lost (and keeps time and retries while it is),
// ERR_OUTPUT_RATE once when the device's rate differs from the one asked,
// ERR_RECORD once when the recording device is lost, and ERR_OUTPUT_UNDERRUN
// once each time the buffer grew. After five seconds of silence a PulseAudio
// stream rests (its thread stops writing silence) until the next request.
RBCORE_API Result System_Update(System system);
// reset clears the underflow count and the worst callback time.
RBCORE_API Result System_GetOutputStats(System system, OutputStats* stats, bool reset);
RBCORE_API Result System_GetChannelsPlaying(System system, int* channels);
// Any time, initialized or not; kept across Close and Init.
RBCORE_API Result System_SetMetronome(System system, const Metronome* metronome);
RBCORE_API Result System_GetMetronome(System system, Metronome* metronome);
// The safety limiter, the master bus's last stage after the master effects,
// on every output, in renders and in recordings of the mix: a sample never
// leaves above -0.3 dBFS, and a mix that stays below that leaves bit for bit
// as it came. Off in a new engine, so a caller that never asks mixes as
// before (the program switches it on from its settings); the switch holds
// across close and init.
RBCORE_API Result System_SetMasterLimiter(System system, bool on);
RBCORE_API Result System_GetMasterLimiter(System system, bool* on);

RBCORE_API Result System_CreateSound(System system, const char* nameOrData, std::uint32_t mode,
                                     const CreateSoundExInfo* exinfo, Sound* sound);
RBCORE_API Result System_CreateChannelGroup(System system, const char* name, ChannelGroup* group);
RBCORE_API Result System_CreateDSPByIndex(System system, int pluginIndex, Dsp* dsp);
RBCORE_API Result System_PlaySound(System system, int channelId, Sound sound, bool paused,
                                   Channel* channel);
RBCORE_API Result System_AddDSP(System system, Dsp dsp);

// Recording writes into a user sound as a ring. From the device (the
// default) it opens an input stream on the recording device; from the mix it
// writes every mixed frame, sample-exact, converted to the sound's format,
// with no input stream, on any output (the sound's default frequency is set to
// the mixer rate when the recording starts).
RBCORE_API Result System_SetRecordSource(System system, int source);  // RecordSource, for the next start
RBCORE_API Result System_GetRecordSource(System system, int* source);
RBCORE_API Result System_RecordStart(System system, Sound sound, bool loop);
RBCORE_API Result System_RecordStop(System system);
// Frame in the ring where the next recorded frame goes.
RBCORE_API Result System_GetRecordPosition(System system, std::uint32_t* position);
// Frames written since the recording started; never wraps, so a reader that
// fell more than a ring behind can tell how many frames it lost.
RBCORE_API Result System_GetRecordFrames(System system, std::uint64_t* frames);
RBCORE_API Result System_IsRecording(System system, bool* recording);

// Null output only: mixes `frames` stereo frames into `out` (interleaved
// float) as the audio thread would; the caller acts as the audio thread and
// may be one thread other than the control thread (not while Init or Close
// run). A play started between two renders starts on the first frame of the
// next render; so does a timed one, the render having no moment.
RBCORE_API Result System_RenderNull(System system, float* out, unsigned frames);
// As System_RenderNull at a moment (steady clock ns), which places timed
// plays: exact, timeNs is the first frame's own moment (a test's clock);
// otherwise it is when a thread pacing the renders in real time woke up, and
// the engine smooths it as it does a device's.
RBCORE_API Result System_RenderNullAt(System system, float* out, unsigned frames, std::int64_t timeNs, bool exact);
// Null output only, control thread: feeds recorded input (in the record
// sound's own format) as a recording device would.
RBCORE_API Result System_FeedNullRecord(System system, const void* data, unsigned frames);

// ---- channels (control thread) ----
RBCORE_API Result Channel_SetVolume(Channel channel, float volume);
RBCORE_API Result Channel_GetVolume(Channel channel, float* volume);
// Stereo position of the play, -1 (left) to 1 (right), constant power; a play
// starts in the centre, where it sounds exactly as without a position.
RBCORE_API Result Channel_SetPan(Channel channel, float pan);
RBCORE_API Result Channel_GetPan(Channel channel, float* pan);
RBCORE_API Result Channel_SetPaused(Channel channel, bool paused);
RBCORE_API Result Channel_GetPaused(Channel channel, bool* paused);
RBCORE_API Result Channel_SetChannelGroup(Channel channel, ChannelGroup group);
RBCORE_API Result Channel_Stop(Channel channel);
// Times a play by the moment of the event that asked for it (a key press, a
// MIDI note), on the steady clock (std::chrono::steady_clock) in ns: once
// unpaused it sounds the play delay after that moment, on its exact frame of
// the output, so every event keeps the same delay. A moment already past the
// delay starts at once; plays are never dropped. 0 makes the play untimed
// again (it starts with the next buffer). Set before unpausing; no effect
// once the play is heard.
RBCORE_API Result Channel_SetStartTime(Channel channel, std::int64_t eventNs);
RBCORE_API Result Channel_IsPlaying(Channel channel, bool* playing);
RBCORE_API Result Channel_GetPosition(Channel channel, std::uint32_t* position, int timeUnit);

// ---- channel groups ----
RBCORE_API Result ChannelGroup_AddDSP(ChannelGroup group, Dsp dsp);
RBCORE_API Result ChannelGroup_GetName(ChannelGroup group, char* name, int nameLen);
RBCORE_API Result ChannelGroup_Release(ChannelGroup group);

// ---- effect units ----
RBCORE_API Result DSP_GetActive(Dsp dsp, bool* active);
RBCORE_API Result DSP_Remove(Dsp dsp);
RBCORE_API Result DSP_Release(Dsp dsp);

// ---- sounds ----
RBCORE_API Result Sound_GetMode(Sound sound, std::uint32_t* mode);
RBCORE_API Result Sound_SetMode(Sound sound, std::uint32_t mode);
RBCORE_API Result Sound_GetFormat(Sound sound, int* type, int* format, int* channels, int* bits);
RBCORE_API Result Sound_GetDefaults(Sound sound, float* frequency, float* volume, float* pan,
                                    int* priority);
RBCORE_API Result Sound_GetLength(Sound sound, std::uint32_t* length, int timeUnit);
RBCORE_API Result Sound_GetNumTags(Sound sound, int* numTags, int* numUpdated);
RBCORE_API Result Sound_GetTag(Sound sound, const char* name, int index, Tag* tag);
// Hands out the one or two regions of [offset, offset+length) bytes of the
// sound's data; the second region continues at the start when the span wraps.
RBCORE_API Result Sound_Lock(Sound sound, std::uint32_t offset, std::uint32_t length, void** ptr1,
                             void** ptr2, std::uint32_t* len1, std::uint32_t* len2);
RBCORE_API Result Sound_Unlock(Sound sound, void* ptr1, void* ptr2, std::uint32_t len1,
                               std::uint32_t len2);
RBCORE_API Result Sound_Release(Sound sound);

// ---- errors (any thread) ----
// A short sentence in Brazilian Portuguese; unknown codes get one too.
RBCORE_API const char* ErrorString(Result result);

}  // namespace rb
