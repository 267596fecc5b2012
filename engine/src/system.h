// One engine instance. Its state is split by owner: ControlSide belongs to
// the control thread, the Mixer to whichever thread drives it, Shared holds
// the atomics both touch, and the CommandPort has one end for each.
#pragma once

#include "mixer.h"
#include "output.h"
#include "port.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace rb::detail {

struct DeviceList {
    bool valid = false;
    std::vector<DeviceEntry> entries;
};

// The control thread's view of one of the 64 channels.
struct ChannelSlot {
    std::uint64_t gen = 0;         // generation of the latest play
    bool stopped = true;           // the latest play was stopped from here
    bool prevStolen = false;       // the play before the latest was taken for it
    std::uint64_t startOrder = 0;  // for choosing the oldest play to take
    float volume = 1.0f;
    float pan = 0.0f;
    bool paused = false;
    const SoundObj* sound = nullptr;
    int group = -1;
};

// Once-only reports of System_Update.
enum Notice : unsigned { kNoticeLost = 1, kNoticeRecordLost = 2, kNoticeRate = 4, kNoticeBuffer = 8 };

struct ControlSide {
    // Chosen before init.
    int outputType = OUTPUTTYPE_PULSEAUDIO;
    int driver = 0;
    int recordDriver = 0;
    std::string driverName;  // the device reopened after a loss
    std::string recordDriverName;
    DeviceList outputs, inputs;
    int rate = 0;  // asked; 0 = not set
    int format = SOUND_FORMAT_PCM16;
    unsigned bufferFrames = 256;
    int initFlags = 0;
    std::string pluginPath;

    // In force since init.
    bool initialized = false;
    int mixRate = kDefaultRate;
    unsigned grantedFrames = 0;
    long latencyFrames = 0;
    unsigned playDelayFrames = 0;  // of timed plays after their moment
    // No other thread drives the mixer (closed, or the device lost): the
    // control thread applies what it asks for itself.
    bool mixerIsOurs = true;
    // The output stopped asking for frames after a while of silence.
    bool resting = false;
    // Underruns: the count seen by the last watch and when a run of them began.
    std::uint64_t underflowsSeen = 0;
    std::uint64_t underflowRun = 0;
    Clock::time_point underflowSince{};

    std::array<ChannelSlot, kMaxChannels> slots{};
    std::uint64_t playCounter = 0;
    std::array<GroupObj*, kMaxGroups> groups{};
    std::array<std::uint64_t, kMaxGroups> groupFreeAt{};  // a released slot is reused once the audio side is past this

    // Device watch: while lost the engine keeps time itself and retries.
    bool lost = false;
    Clock::time_point keptUntil{}, nextRetry{};
    double keptRemainder = 0;
    unsigned notices = 0;
    std::vector<float> clockScratch;

    // Recording.
    int recordSource = RECORD_SOURCE_DEVICE;
    std::shared_ptr<RecordTarget> record;
    SoundObj* recordSound = nullptr;
    std::uint64_t recordFrames = 0;  // of the last recording, after it stopped
    std::uint32_t recordPosition = 0;
};

struct SystemImpl {
    System handle{};
    ControlSide ctl;
    Shared shared;
    CommandPort port;
    Mixer mixer{shared, port};
    std::unique_ptr<Output> output;  // control thread
    DeviceInput input;               // control thread

    // ---- control thread ----
    // Queues an ordinary command: ERR_BUSY when the queue is full.
    Result post(const Command& c);
    // Opens a release epoch once the atomic requests are set.
    std::uint64_t release();
    // Has a resting output ask for frames again, before anything is asked of the mixer.
    void wake() {
        if (ctl.resting) {
            ctl.resting = false;
            output->resume();
        }
    }
    void retire(std::shared_ptr<void> obj, std::uint64_t epoch) { port.retire(std::move(obj), epoch); }

    Result init(int flags);
    void close();
    Result update();
    // Device lists, enumerated once per output type until refreshed.
    Result refreshDevices(bool forInput);
    Result deviceList(bool forInput, const DeviceList*& list);
    // The chosen device: by name once chosen, so a list that changed still finds it.
    Result findDevice(bool forInput, DeviceEntry& entry);
    // Moves the running output to another device; on failure back to the
    // previous one, or lost (keeping time, retrying) when neither opens.
    Result changeDevice(int id);

    void stopRecording();

private:
    Result openOutput(Output& out, OutputGrant& grant);
    Result startOutput();
    void adoptRate(int rate, bool prepareUnits);
    void becomeLost(Clock::time_point now);
    // Lets the output rest after some seconds of silence.
    void rest();
    // A device that keeps running dry gets a larger buffer.
    void growOnUnderruns(Clock::time_point now);
    void keepTime(Clock::time_point now);
    void retry(Clock::time_point now);
};

}  // namespace rb::detail
