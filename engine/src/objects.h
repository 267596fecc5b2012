// The objects behind the handles of sounds, effect units and channel groups.
// Control thread, except where a field says the audio side reads it.
#pragma once

#include "dsp.h"
#include "rbcore.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rb::detail {

struct SystemImpl;

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
    int sourceChannels = 0;          // channels of the source
    float defaultFrequency = 0;      // rate of the source
    std::uint32_t sourceFrames = 0;  // length in frames at the source rate
    std::vector<TagEntry> tags;

    // Read by the audio side while a voice plays the sound; changed by the
    // control thread only while no audio thread runs (a rate change), or by
    // whoever writes a user sound's bytes (lock, recording).
    bool user = false;
    int channels = 0;                // channels of the data as played (1 or 2 for files)
    std::vector<float> pcm;          // file sounds: float frames at dataRate, the mixer rate
    std::vector<std::uint8_t> raw;   // user sounds: bytes in `format` at defaultFrequency
    std::uint32_t dataFrames = 0;
    int dataRate = 0;
};

struct DspObj {
    SystemImpl* sys = nullptr;
    int plugin = 0;
    std::unique_ptr<DspUnit> unit;
    // Where the unit is attached: kNowhere, kMaster, else a group slot.
    static constexpr int kNowhere = -2, kMaster = -1;
    int attachedTo = kNowhere;
    // The unit left its last chain with this command (port sequence) or this
    // release epoch; once the audio side is past both, the control thread may
    // clear the unit before it is attached again.
    std::uint64_t leftBySeq = 0;
    std::uint64_t leftByEpoch = 0;
};

struct GroupObj {
    SystemImpl* sys = nullptr;
    std::string name;
    int slot = -1;  // index of the group's chain on the audio side
};

}  // namespace rb::detail
