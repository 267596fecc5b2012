// Real devices through RtAudio. RtAudio 5 reports failures as exceptions:
// every call is wrapped here so none leaves the engine.
#include "internal.h"

#include <RtAudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rb::detail {
namespace {

RtAudio::Api apiFor(int outputType) {
    switch (outputType) {
    case OUTPUTTYPE_PULSEAUDIO: return RtAudio::LINUX_PULSE;
    case OUTPUTTYPE_ALSA: return RtAudio::LINUX_ALSA;
    case OUTPUTTYPE_JACK: return RtAudio::UNIX_JACK;
    default: return RtAudio::UNSPECIFIED;
    }
}

// Never throws: RtAudio reports through this instead of an exception where it can.
void quietErrors(RtAudioError::Type, const std::string&) {}

RtPtr makeRt(int outputType) {
    const RtAudio::Api api = apiFor(outputType);
    if (api == RtAudio::UNSPECIFIED) return nullptr;
    try {
        RtPtr rt(new RtAudio(api));
        rt->showWarnings(false);
        if (rt->getCurrentApi() != api) return nullptr;  // API not compiled in
        return rt;
    } catch (...) {
        return nullptr;
    }
}

RtAudioFormat rtFormat(int format) {
    switch (format) {
    case SOUND_FORMAT_PCM8: return RTAUDIO_SINT8;
    case SOUND_FORMAT_PCM24: return RTAUDIO_SINT24;
    case SOUND_FORMAT_PCM32: return RTAUDIO_SINT32;
    case SOUND_FORMAT_PCMFLOAT: return RTAUDIO_FLOAT32;
    default: return RTAUDIO_SINT16;
    }
}

Result deviceId(int outputType, bool input, int index, unsigned& id) {
    std::vector<std::string> names;
    std::vector<unsigned> ids;
    if (const Result r = listDevices(outputType, input, names, ids); r != OK) return r;
    if (index < 0 || index >= static_cast<int>(ids.size())) return ERR_INVALID_PARAM;
    id = ids[static_cast<std::size_t>(index)];
    return OK;
}

void toDevice(const float* src, void* dst, std::size_t samples, int format) noexcept {
    auto clip = [](float v) { return std::clamp(v, -1.0f, 1.0f); };
    switch (format) {
    case SOUND_FORMAT_PCM8: {
        auto* d = static_cast<std::int8_t*>(dst);
        for (std::size_t i = 0; i < samples; ++i) d[i] = static_cast<std::int8_t>(std::lrint(clip(src[i]) * 127.0f));
        break;
    }
    case SOUND_FORMAT_PCM24: {
        auto* d = static_cast<std::uint8_t*>(dst);
        for (std::size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<std::int32_t>(std::lrint(clip(src[i]) * 8388607.0f));
            d[3 * i] = static_cast<std::uint8_t>(v);
            d[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            d[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
        }
        break;
    }
    case SOUND_FORMAT_PCM32: {
        auto* d = static_cast<std::int32_t*>(dst);
        for (std::size_t i = 0; i < samples; ++i)
            d[i] = static_cast<std::int32_t>(std::llrint(static_cast<double>(clip(src[i])) * 2147483647.0));
        break;
    }
    case SOUND_FORMAT_PCMFLOAT: std::memcpy(dst, src, samples * sizeof(float)); break;
    default: {
        auto* d = static_cast<std::int16_t*>(dst);
        for (std::size_t i = 0; i < samples; ++i) d[i] = static_cast<std::int16_t>(std::lrint(clip(src[i]) * 32767.0f));
        break;
    }
    }
}

// Audio thread.
int outputCallback(void* out, void*, unsigned frames, double, RtAudioStreamStatus, void* user) {
    auto* sys = static_cast<SystemImpl*>(user);
    const int bps = bytesPerSample(sys->format);
    auto* dst = static_cast<std::uint8_t*>(out);
    const unsigned cap = static_cast<unsigned>(sys->deviceScratch.size() / 2);
    unsigned done = 0;
    while (done < frames) {
        const unsigned n = std::min(frames - done, cap);
        sys->render(sys->deviceScratch.data(), n);
        toDevice(sys->deviceScratch.data(), dst + static_cast<std::size_t>(done) * 2 * static_cast<std::size_t>(bps),
                 static_cast<std::size_t>(n) * 2, sys->format);
        done += n;
    }
    return 0;
}

// Recording thread.
int inputCallback(void*, void* in, unsigned frames, double, RtAudioStreamStatus, void* user) {
    auto* rec = static_cast<Recorder*>(user);
    if (in) rec->write(in, frames);
    return 0;
}

}  // namespace

void RtDeleter::operator()(RtAudio* rt) const { delete rt; }

Result listDevices(int outputType, bool input, std::vector<std::string>& names, std::vector<unsigned>& ids) {
    names.clear();
    ids.clear();
    auto rt = makeRt(outputType);
    if (!rt) return OK;  // no such API here: no devices
    try {
        const unsigned n = rt->getDeviceCount();
        for (unsigned i = 0; i < n; ++i) {
            try {
                const RtAudio::DeviceInfo info = rt->getDeviceInfo(i);
                if (!info.probed) continue;
                if ((input ? info.inputChannels : info.outputChannels) == 0) continue;
                names.push_back(info.name);
                ids.push_back(i);
            } catch (...) {
            }
        }
    } catch (...) {
        return ERR_OUTPUT_DRIVERCALL;
    }
    return OK;
}

Result openOutput(SystemImpl& sys) {
    unsigned id = 0;
    if (const Result r = deviceId(sys.outputType, false, sys.driver, id); r != OK) return ERR_OUTPUT_INIT;
    auto rt = makeRt(sys.outputType);
    if (!rt) return ERR_OUTPUT_INIT;
    RtAudio::StreamParameters params;
    params.deviceId = id;
    params.nChannels = 2;
    RtAudio::StreamOptions options;
    // Two buffers of the asked size: about 9 ms on PulseAudio. Real-time
    // scheduling and RtAudio's own latency minimising cost more wake-ups than
    // they gain here.
    options.flags = 0;
    options.numberOfBuffers = 2;
    options.streamName = "Rimbal 2";
    unsigned frames = sys.bufferFrames;
    try {
        rt->openStream(&params, nullptr, rtFormat(sys.format), static_cast<unsigned>(sys.mixRate), &frames,
                       &outputCallback, &sys, &options, &quietErrors);
        if (!rt->isStreamOpen()) return ERR_OUTPUT_INIT;
        sys.deviceScratch.assign(static_cast<std::size_t>(std::max(frames, 64u)) * 2, 0.0f);
        sys.grantedFrames = frames;
        sys.streamRunning.store(true, std::memory_order_release);
        rt->startStream();
        if (!rt->isStreamRunning()) {
            sys.streamRunning.store(false, std::memory_order_release);
            rt->closeStream();
            return ERR_OUTPUT_INIT;
        }
        sys.latencyFrames = rt->getStreamLatency();
    } catch (...) {
        sys.streamRunning.store(false, std::memory_order_release);
        return ERR_OUTPUT_INIT;
    }
    sys.output = std::move(rt);
    return OK;
}

void closeOutput(SystemImpl& sys) {
    if (sys.output) {
        try {
            if (sys.output->isStreamRunning()) sys.output->stopStream();
            if (sys.output->isStreamOpen()) sys.output->closeStream();
        } catch (...) {
        }
        sys.output.reset();
    }
    sys.streamRunning.store(false, std::memory_order_release);
}

Result openInput(SystemImpl& sys, SoundObj& sound) {
    closeInput(sys);
    unsigned id = 0;
    if (deviceId(sys.outputType, true, sys.recordDriver, id) != OK) return ERR_RECORD;
    auto rt = makeRt(sys.outputType);
    if (!rt) return ERR_RECORD;
    RtAudio::StreamParameters params;
    params.deviceId = id;
    params.nChannels = static_cast<unsigned>(sound.channels);
    RtAudio::StreamOptions options;
    options.streamName = "Rimbal 2 (gravação)";
    unsigned frames = 512;
    try {
        rt->openStream(nullptr, &params, rtFormat(sound.format), static_cast<unsigned>(sound.dataRate), &frames,
                       &inputCallback, &sys.recorder, &options, &quietErrors);
        if (!rt->isStreamOpen()) return ERR_RECORD;
        rt->startStream();
        if (!rt->isStreamRunning()) return ERR_RECORD;
    } catch (...) {
        return ERR_RECORD;
    }
    sys.input = std::move(rt);
    return OK;
}

void closeInput(SystemImpl& sys) {
    if (!sys.input) return;
    try {
        if (sys.input->isStreamRunning()) sys.input->stopStream();
        if (sys.input->isStreamOpen()) sys.input->closeStream();
    } catch (...) {
    }
    sys.input.reset();
}

}  // namespace rb::detail
