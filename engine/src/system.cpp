// The control thread's side of an engine instance: commands and releases,
// init and close, the device watch and the rate in force.
#include "decode.h"
#include "fpu.h"
#include "registry.h"

#include <algorithm>

namespace rb::detail {

Result SystemImpl::post(const Command& c) {
    wake();
    if (!port.post(c)) {
        if (!ctl.mixerIsOurs) return ERR_BUSY;
        mixer.render(nullptr, 0);
        if (!port.post(c)) return ERR_BUSY;
    }
    if (ctl.mixerIsOurs) mixer.render(nullptr, 0);
    port.collect();
    return OK;
}

std::uint64_t SystemImpl::release() {
    wake();  // the audio side must come past the epoch
    const std::uint64_t epoch = port.openEpoch();
    if (ctl.mixerIsOurs) mixer.render(nullptr, 0);
    return epoch;
}

Result SystemImpl::refreshDevices(bool forInput) {
    DeviceList& list = forInput ? ctl.inputs : ctl.outputs;
    list.valid = false;
    list.entries.clear();
    if (ctl.outputType == OUTPUTTYPE_NULL) {
        list.entries.push_back({forInput ? "Entrada nula" : "Saída nula", 0});
        list.valid = true;
        return OK;
    }
    // A running stream's own RtAudio still lists the device it holds.
    RtAudio* live = output && !ctl.lost ? output->rtaudio() : nullptr;
    const Result r = listDevices(ctl.outputType, forInput, list.entries, live);
    list.valid = r == OK;
    return r;
}

Result SystemImpl::deviceList(bool forInput, const DeviceList*& list) {
    DeviceList& l = forInput ? ctl.inputs : ctl.outputs;
    list = &l;
    return l.valid ? OK : refreshDevices(forInput);
}

namespace {
const DeviceEntry* findByName(const DeviceList& list, const std::string& name) {
    for (const DeviceEntry& e : list.entries)
        if (e.name == name) return &e;
    return nullptr;
}
}  // namespace

Result SystemImpl::findDevice(bool forInput, DeviceEntry& entry) {
    const DeviceList* list = nullptr;
    if (const Result r = deviceList(forInput, list); r != OK) return r;
    const std::string& name = forInput ? ctl.recordDriverName : ctl.driverName;
    const int index = forInput ? ctl.recordDriver : ctl.driver;
    if (name.empty()) {
        if (index < 0 || index >= static_cast<int>(list->entries.size())) return ERR_INVALID_PARAM;
        entry = list->entries[static_cast<std::size_t>(index)];
        return OK;
    }
    const DeviceEntry* e = findByName(*list, name);
    if (!e) {
        // The device may have come back under another id.
        if (const Result r = refreshDevices(forInput); r != OK) return r;
        e = findByName(forInput ? ctl.inputs : ctl.outputs, name);
    }
    if (!e) return ERR_INVALID_PARAM;
    entry = *e;
    return OK;
}

Result SystemImpl::openOutput(Output& out, OutputGrant& grant) {
    OutputRequest request;
    request.rate = ctl.rate ? ctl.rate : kDefaultRate;
    request.format = ctl.format;
    request.bufferFrames = ctl.bufferFrames;
    request.realtime = (ctl.initFlags & INIT_REALTIME) != 0;
    if (ctl.outputType != OUTPUTTYPE_NULL) {
        DeviceEntry entry;
        if (findDevice(false, entry) != OK) return ERR_OUTPUT_INIT;
        ctl.driverName = entry.name;  // reopened by this name after a loss
        request.deviceId = entry.id;
    }
    const Result r = out.open(request, grant);
    if (r == OK) {
        ctl.grantedFrames = grant.bufferFrames;
        ctl.latencyFrames = grant.latencyFrames;
        // A play is taken in by the render after its moment, about one
        // buffer later; half a buffer more absorbs the device thread's and
        // the caller's wobble.
        const unsigned buffer = grant.bufferFrames ? grant.bufferFrames : ctl.bufferFrames;
        ctl.playDelayFrames = buffer + buffer / 2;
        mixer.setPlayDelay(ctl.playDelayFrames);
        // The stream holds about two buffers for a device (and a few ms of
        // its own): a render later than that found it empty.
        mixer.setUnderrunAfter(ctl.outputType == OUTPUTTYPE_NULL ? 0 : 2 * buffer + static_cast<unsigned>(ctl.mixRate / 250));
    }
    return r;
}

Result SystemImpl::startOutput() {
    ctl.mixerIsOurs = false;
    ctl.resting = false;
    // Frames go on from where they were, time does not: a new stream's
    // first render must not pass for a late one.
    shared.clockBroken.store(true, std::memory_order_release);
    const Result r = output->start();
    if (r != OK) ctl.mixerIsOurs = true;
    return r;
}

// The mixer runs at the device's rate: existing sounds are converted here,
// on the control thread, so a play never resamples.
void SystemImpl::adoptRate(int rate, bool prepareUnits) {
    ctl.mixRate = rate;
    if (prepareUnits)
        dsps().forEach([&](DspObj& d) {
            if (d.sys == this) d.unit->prepare(rate);
        });
    mixer.configure(rate);  // after the units: it sums their tails
    sounds().forEach([&](SoundObj& s) {
        if (s.sys != this || s.user || s.dataRate == rate || s.dataRate <= 0) return;
        const int from = s.dataRate;
        if (resampleSound(s, rate) == OK) mixer.rescale(&s, static_cast<double>(rate) / from);
    });
    if (ctl.rate && rate != ctl.rate) ctl.notices |= kNoticeRate;
}

Result SystemImpl::init(int flags) {
    ctl.initFlags = flags;
    auto out = ctl.outputType == OUTPUTTYPE_NULL ? makeNullOutput(mixer, shared)
                                                   : makeDeviceOutput(ctl.outputType, mixer, shared);
    OutputGrant grant;
    if (const Result r = openOutput(*out, grant); r != OK) return r;
    for (auto& s : ctl.slots) {
        s.stopped = true;
        s.prevStolen = false;
    }
    ctl.notices = 0;
    adoptRate(grant.rate, true);
    shared.callbacks.store(0, std::memory_order_relaxed);
    shared.frames.store(0, std::memory_order_relaxed);
    shared.underflows.store(0, std::memory_order_relaxed);
    shared.worstUs.store(0, std::memory_order_relaxed);
    output = std::move(out);
    ctl.initialized = true;
    ctl.lost = false;
    if (const Result r = startOutput(); r != OK) {
        output.reset();
        ctl.initialized = false;
        ctl.notices = 0;
        return r;
    }
    return OK;
}

void SystemImpl::close() {
    stopRecording();
    ctl.resting = false;
    if (output) {
        output->close();
        output.reset();
    }
    ctl.mixerIsOurs = true;
    mixer.render(nullptr, 0);  // what was still queued
    mixer.silence();
    for (auto& s : ctl.slots) s.stopped = true;
    ctl.initialized = false;
    ctl.lost = false;
    ctl.notices = 0;
    port.collect();
}

void SystemImpl::stopRecording() {
    if (!ctl.record) return;
    input.close();
    shared.mixRecord.store(nullptr, std::memory_order_release);
    ctl.recordFrames = ctl.record->written.load(std::memory_order_acquire);
    ctl.recordPosition = ctl.record->position();
    // The mixer may be in the middle of a block for it.
    retire(std::move(ctl.record), release());
    ctl.record.reset();
    ctl.recordSound = nullptr;
}

void SystemImpl::becomeLost(Clock::time_point now) {
    ctl.resting = false;
    output->close();
    ctl.mixerIsOurs = true;
    ctl.lost = true;
    ctl.keptUntil = now;
    ctl.keptRemainder = 0;
    ctl.nextRetry = now + std::chrono::seconds(1);
}

// While the device is away the mix goes on in silence on this thread, so
// plays end when they should, loops keep their place and every released
// object is reclaimed.
void SystemImpl::keepTime(Clock::time_point now) {
    double frames = std::chrono::duration<double>(now - ctl.keptUntil).count() * ctl.mixRate + ctl.keptRemainder;
    ctl.keptUntil = now;
    frames = std::min(frames, static_cast<double>(ctl.mixRate));  // a long gap costs no more than a second
    auto n = static_cast<unsigned>(frames);
    ctl.keptRemainder = frames - n;
    if (ctl.clockScratch.empty()) ctl.clockScratch.assign(2 * kBlockFrames, 0.0f);
    DenormalGuard denormals;
    do {
        const unsigned k = std::min<unsigned>(n, kBlockFrames);
        mixer.render(ctl.clockScratch.data(), k);
        n -= k;
    } while (n > 0);
}

void SystemImpl::retry(Clock::time_point now) {
    if (now < ctl.nextRetry) return;
    ctl.nextRetry = now + std::chrono::seconds(1);
    refreshDevices(false);
    OutputGrant grant;
    if (openOutput(*output, grant) != OK) return;
    if (grant.rate != ctl.mixRate) adoptRate(grant.rate, true);
    ctl.lost = false;
    if (startOutput() != OK) becomeLost(now);
}

// Five underruns within ten seconds: the device cannot keep up with this
// buffer, so the stream is opened again with twice the buffer (up to 2048
// frames) and System_Update says so once. A single one (a busy moment) is
// no reason to give up latency.
void SystemImpl::growOnUnderruns(Clock::time_point now) {
    const std::uint64_t count = shared.underflows.load(std::memory_order_relaxed);
    if (count < ctl.underflowsSeen) ctl.underflowsSeen = count;  // the statistics were reset
    if (count == ctl.underflowsSeen) return;
    if (ctl.underflowRun == 0 || now - ctl.underflowSince > std::chrono::seconds(10)) {
        ctl.underflowRun = 0;
        ctl.underflowSince = now;
    }
    ctl.underflowRun += count - ctl.underflowsSeen;
    ctl.underflowsSeen = count;
    if (ctl.underflowRun < 5 || ctl.grantedFrames >= 2048 || ctl.outputType == OUTPUTTYPE_NULL ||
        (ctl.initFlags & INIT_FIXED_BUFFER))
        return;
    ctl.underflowRun = 0;
    const unsigned previous = ctl.bufferFrames;
    ctl.bufferFrames = std::min(2048u, std::max(ctl.grantedFrames, ctl.bufferFrames) * 2);
    ctl.resting = false;
    output->close();
    ctl.mixerIsOurs = true;
    OutputGrant grant;
    if (openOutput(*output, grant) == OK) {
        if (grant.rate != ctl.mixRate) adoptRate(grant.rate, true);
        if (startOutput() == OK) {
            ctl.notices |= kNoticeBuffer;
            return;
        }
    }
    ctl.bufferFrames = previous;
    becomeLost(now);
}

// Five seconds of silence, with every request taken in: the device's thread
// stops (PulseAudio's cost of writing silence is most of an idle program's);
// the next request starts it again, its first frames written at once.
void SystemImpl::rest() {
    if (ctl.resting || ctl.mixerIsOurs || !output) return;
    const auto quiet = shared.quietFrames.load(std::memory_order_relaxed);
    if (quiet < 5 * static_cast<std::uint64_t>(ctl.mixRate)) return;
    if (!port.applied(port.lastSeq()) || !port.passed(port.currentEpoch())) return;
    if (shared.mixRecord.load(std::memory_order_acquire)) return;
    if (MetronomeSettings::unpack(shared.metronome.load(std::memory_order_relaxed)).on) return;
    ctl.resting = output->pause();
}

Result SystemImpl::changeDevice(int id) {
    const DeviceList* list = nullptr;
    if (const Result r = deviceList(false, list); r != OK) return r;
    if (id < 0 || id >= static_cast<int>(list->entries.size())) return ERR_INVALID_PARAM;
    const int prevDriver = ctl.driver;
    const std::string prevName = ctl.driverName;
    ctl.driver = id;
    ctl.driverName = list->entries[static_cast<std::size_t>(id)].name;
    if (!ctl.initialized || ctl.outputType == OUTPUTTYPE_NULL || ctl.lost) return OK;
    output->close();
    ctl.mixerIsOurs = true;
    const auto reopen = [&] {
        OutputGrant grant;
        if (openOutput(*output, grant) != OK) return false;
        if (grant.rate != ctl.mixRate) adoptRate(grant.rate, true);
        return startOutput() == OK;
    };
    if (reopen()) return OK;
    ctl.driver = prevDriver;
    ctl.driverName = prevName;
    if (!reopen()) becomeLost(Clock::now());
    return ERR_OUTPUT_INIT;
}

Result SystemImpl::update() {
    port.collect();
    if (!ctl.initialized) return OK;
    const Clock::time_point now = Clock::now();
    if (ctl.record && shared.inputError.load(std::memory_order_acquire)) {
        stopRecording();
        ctl.notices |= kNoticeRecordLost;
    }
    if (!ctl.lost && !output->healthy(now)) {
        becomeLost(now);
        ctl.notices |= kNoticeLost;
    }
    if (ctl.lost) {
        keepTime(now);
        retry(now);
    } else {
        growOnUnderruns(now);
        rest();
    }
    port.collect();
    for (const auto& [notice, code] : {std::pair{kNoticeLost, ERR_OUTPUT_LOST}, std::pair{kNoticeRecordLost, ERR_RECORD},
                                      std::pair{kNoticeRate, ERR_OUTPUT_RATE}, std::pair{kNoticeBuffer, ERR_OUTPUT_UNDERRUN}})
        if (ctl.notices & notice) {
            ctl.notices &= ~static_cast<unsigned>(notice);
            return code;
        }
    return OK;
}

}  // namespace rb::detail
