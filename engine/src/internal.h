// Engine internals shared by the engine's own sources only.
#pragma once

#include "dsp.h"
#include "rbcore.h"
#include "spsc.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RtAudio;

namespace rb::detail {

inline constexpr int kMaxGroups = 256;
inline constexpr int kMaxUnitsPerChain = 32;
inline constexpr int kBlockFrames = 256;
inline constexpr int kDefaultRate = 48000;

struct SystemImpl;

// RtAudio stays out of this header; its deleter lives with the device code.
struct RtDeleter {
    void operator()(RtAudio* rt) const;
};
using RtPtr = std::unique_ptr<RtAudio, RtDeleter>;

struct TagEntry {
    int type;
    int datatype;
    std::string name;
    std::string data;  // bytes, with a terminating zero kept after them
};

struct SoundObj {
    SystemImpl* sys = nullptr;
    std::uint32_t mode = 0;
    int type = SOUND_TYPE_UNKNOWN;
    int format = SOUND_FORMAT_NONE;  // format of the source
    int bits = 0;
    int channels = 0;                // channels of the data as played (1 or 2 for files)
    int sourceChannels = 0;          // channels of the source
    float defaultFrequency = 0;      // rate of the source
    std::uint32_t sourceFrames = 0;  // length in frames at the source rate
    bool user = false;

    // File sounds: float frames at `dataRate` (the mixer rate at creation).
    std::vector<float> pcm;
    // User sounds: raw bytes in `format`, at `defaultFrequency`.
    std::vector<std::uint8_t> raw;
    std::uint32_t dataFrames = 0;
    int dataRate = 0;

    std::vector<TagEntry> tags;
};

struct DspObj {
    SystemImpl* sys = nullptr;
    int plugin = 0;
    std::unique_ptr<DspUnit> unit;
    // Where the unit is attached: -2 nowhere, -1 the whole output, else a group slot.
    int attachedTo = -2;
};

struct GroupObj {
    SystemImpl* sys = nullptr;
    std::string name;
    int slot = -1;  // index into the audio side's group array
};

// Commands from the control thread to the audio thread.
struct Command {
    enum Kind : std::uint8_t {
        Start, SetVolume, SetPaused, SetGroup, Stop, StopSound, StopAll,
        Attach, Detach, ClearGroup,
    } kind;
    std::uint8_t flag = 0;  // paused / loop bits
    std::int16_t slot = 0;  // channel slot or group slot
    std::uint32_t gen = 0;
    float value = 0;
    std::int32_t target = 0;
    const SoundObj* sound = nullptr;
    DspUnit* unit = nullptr;
};

// One playing voice, owned by the audio thread.
struct Voice {
    bool active = false;
    bool paused = false;
    bool loop = false;
    std::uint32_t gen = 0;
    const SoundObj* sound = nullptr;
    double pos = 0;       // in data frames
    double step = 1.0;    // data frames per output frame
    float volume = 1.0f;
    int group = -1;       // group slot, -1 master
};

struct Chain {
    std::array<DspUnit*, kMaxUnitsPerChain> units{};
    int count = 0;
};

// Control-thread view of one of the 64 channels.
struct ChannelSlot {
    std::uint32_t gen = 0;         // generation of the latest play
    bool stopped = true;           // latest play stopped from the control thread
    bool prevStolen = false;       // the play before the latest was taken for it
    std::uint64_t startOrder = 0;  // for choosing the oldest play to take
    float volume = 1.0f;
    bool paused = false;
    const SoundObj* sound = nullptr;
    int group = -1;
};

// What the audio thread publishes per channel.
struct ChannelPublish {
    std::atomic<std::uint32_t> endedGen{0};
    std::atomic<std::uint32_t> pos{0};
};

struct Recorder {
    SoundObj* sound = nullptr;
    bool loop = true;
    std::atomic<bool> active{false};
    std::atomic<std::uint32_t> writeFrame{0};
    std::uint32_t frameBytes = 0;
    std::uint32_t ringFrames = 0;
    // Audio (input) thread: copy frames into the ring.
    void write(const void* data, std::uint32_t frames) noexcept;
};

struct SystemImpl {
    System handle{};
    int outputType = OUTPUTTYPE_PULSEAUDIO;
    int driver = 0;
    int recordDriver = 0;
    int rate = 0;              // software format rate, 0 = not set
    int format = SOUND_FORMAT_PCM16;
    unsigned bufferFrames = 256;  // 5.3 ms at 48 kHz
    unsigned grantedFrames = 0;
    long latencyFrames = 0;
    std::string pluginPath;
    bool initialized = false;
    int mixRate = kDefaultRate;  // rate in force since init

    // Control-thread state.
    std::array<ChannelSlot, kMaxChannels> slots{};
    std::uint64_t playCounter = 0;
    std::array<GroupObj*, kMaxGroups> groups{};
    std::vector<std::pair<std::uint64_t, std::shared_ptr<void>>> graveyard;

    // Audio-thread state.
    std::array<Voice, kMaxChannels> voices{};
    std::array<Chain, kMaxGroups> groupChains{};
    Chain masterChain;
    std::vector<float> mixBuf, groupBuf;  // sized at init, never grown by the audio thread

    // Shared.
    std::array<ChannelPublish, kMaxChannels> publish{};
    SpscQueue<Command, 8192> queue;
    std::uint64_t pushed = 0;
    std::atomic<std::uint64_t> processed{0};
    std::atomic<bool> streamRunning{false};
    Recorder recorder;

    // Devices.
    RtPtr output;
    RtPtr input;
    std::vector<float> deviceScratch;

    // Control thread.
    Result post(const Command& c);
    void retire(std::shared_ptr<void> obj);
    void collect();
    void drainDirect();

    // Audio thread.
    void applyCommands() noexcept;
    void apply(const Command& c) noexcept;
    void render(float* out, unsigned frames) noexcept;
    void renderBlock(float* out, int frames) noexcept;
};

// Decoding and tags (decode.cpp).
Result decodeFile(const char* path, int mixRate, SoundObj& s);
void readTags(const char* path, SoundObj& s);

// Devices (device.cpp).
Result listDevices(int outputType, bool input, std::vector<std::string>& names,
                   std::vector<unsigned>& ids);
Result openOutput(SystemImpl& sys);
void closeOutput(SystemImpl& sys);
Result openInput(SystemImpl& sys, SoundObj& sound);
void closeInput(SystemImpl& sys);

int bytesPerSample(int format);

}  // namespace rb::detail
