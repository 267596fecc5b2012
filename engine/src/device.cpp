// Real devices through RtAudio, and the null output. RtAudio 5 reports
// failures as exceptions: every call is wrapped here so none leaves the
// engine, and its error callback only raises a flag.
#include "convert.h"
#include "fpu.h"
#include "output.h"

#include <RtAudio.h>

#include <algorithm>
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

std::unique_ptr<RtAudio> makeRt(int outputType) {
    const RtAudio::Api api = apiFor(outputType);
    if (api == RtAudio::UNSPECIFIED) return nullptr;
    try {
        auto rt = std::make_unique<RtAudio>(api);
        rt->showWarnings(false);
        if (rt->getCurrentApi() != api) return nullptr;  // API not compiled in
        return rt;
    } catch (...) {
        return nullptr;
    }
}

// RtAudio's error callback carries no user data. A stream's failures are
// reported on the thread that runs its callback, so that thread keeps the
// flag of its own stream here.
thread_local std::atomic<bool>* tlsErrorFlag = nullptr;

void onRtError(RtAudioError::Type, const std::string&) {
    if (std::atomic<bool>* flag = tlsErrorFlag) flag->store(true, std::memory_order_release);
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

void closeStream(RtAudio& rt) noexcept {
    try {
        // Abort rather than stop: stopping drains what the server holds.
        if (rt.isStreamRunning()) rt.abortStream();
    } catch (...) {
    }
    try {
        if (rt.isStreamOpen()) rt.closeStream();
    } catch (...) {
    }
}

class DeviceOutput final : public Output {
public:
    DeviceOutput(int outputType, Mixer& mixer, Shared& shared) : type_(outputType), mixer_(mixer), shared_(shared) {}
    ~DeviceOutput() override { close(); }

    Result open(const OutputRequest& request, OutputGrant& grant) override {
        close();
        rt_ = makeRt(type_);
        if (!rt_) return ERR_OUTPUT_INIT;
        // 8-bit devices are no use to anyone: such a request plays as 16-bit.
        format_ = request.format == SOUND_FORMAT_PCM8 ? SOUND_FORMAT_PCM16 : request.format;
        // A device that lists its rates gets one of them: JACK runs only at
        // the server's rate, PulseAudio takes a fixed set.
        unsigned rate = static_cast<unsigned>(request.rate);
        unsigned preferred = 0;
        try {
            const RtAudio::DeviceInfo info = rt_->getDeviceInfo(request.deviceId);
            preferred = info.preferredSampleRate;
            if (!info.sampleRates.empty() &&
                std::find(info.sampleRates.begin(), info.sampleRates.end(), rate) == info.sampleRates.end() && preferred)
                rate = preferred;
        } catch (...) {
        }
        RtAudio::StreamParameters params;
        params.deviceId = request.deviceId;
        params.nChannels = 2;
        RtAudio::StreamOptions options;
        options.flags = request.realtime ? RTAUDIO_SCHEDULE_REALTIME : 0;
        options.priority = 70;
        options.numberOfBuffers = 2;
        options.streamName = "Rimbal 2";
        unsigned frames = request.bufferFrames;
        const auto tryOpen = [&](unsigned r) {
            try {
                frames = request.bufferFrames;
                rt_->openStream(&params, nullptr, rtFormat(format_), r, &frames, &callback, this, &options, &onRtError);
                return rt_->isStreamOpen();
            } catch (...) {
                return false;
            }
        };
        bool opened = tryOpen(rate) || (preferred && preferred != rate && tryOpen(preferred));
        if (!opened && options.flags) {
            // Real-time scheduling refused: quietly without it.
            options.flags = 0;
            opened = tryOpen(rate) || (preferred && preferred != rate && tryOpen(preferred));
        }
        if (!opened) {
            rt_.reset();
            return ERR_OUTPUT_INIT;
        }
        try {
            grant.rate = static_cast<int>(rt_->getStreamSampleRate());
            grant.latencyFrames = rt_->getStreamLatency();
        } catch (...) {
            grant.rate = static_cast<int>(rate);
            grant.latencyFrames = 0;
        }
        if (grant.rate <= 0) grant.rate = static_cast<int>(rate);
        rate_ = grant.rate;
        grant.bufferFrames = frames;
        scratch_.assign(static_cast<std::size_t>(std::max(frames, 64u)) * 2, 0.0f);
        return OK;
    }

    Result start() override {
        if (!rt_) return ERR_OUTPUT_INIT;
        shared_.deviceError.store(false, std::memory_order_release);
        lastCallbacks_ = shared_.callbacks.load(std::memory_order_acquire);
        windowFrames_ = shared_.frames.load(std::memory_order_acquire);
        lastProgress_ = windowStart_ = Clock::now();
        try {
            rt_->startStream();
            if (rt_->isStreamRunning()) return OK;
        } catch (...) {
        }
        close();
        return ERR_OUTPUT_INIT;
    }

    void close() noexcept override {
        if (!rt_) return;
        std::atomic<bool>* saved = tlsErrorFlag;
        tlsErrorFlag = nullptr;  // what a dead stream says while closing is no news
        closeStream(*rt_);
        tlsErrorFlag = saved;
        rt_.reset();
        paused_ = false;
    }

    // A stream is lost when its error callback fired, when no callback came
    // for seconds (a JACK server that shut us out), or when callbacks come
    // far faster than real time (a backend calling us in a loop).
    bool healthy(Clock::time_point now) noexcept override {
        if (!rt_ || shared_.deviceError.load(std::memory_order_acquire)) return false;
        if (paused_) return true;
        const std::uint64_t calls = shared_.callbacks.load(std::memory_order_acquire);
        if (calls != lastCallbacks_) {
            lastCallbacks_ = calls;
            lastProgress_ = now;
        } else if (now - lastProgress_ > std::chrono::seconds(4)) {
            return fail();
        }
        const double elapsed = std::chrono::duration<double>(now - windowStart_).count();
        if (elapsed >= 1.0) {
            const std::uint64_t frames = shared_.frames.load(std::memory_order_acquire);
            const double expected = elapsed * rate_;
            if (static_cast<double>(frames - windowFrames_) > 8.0 * expected + rate_) return fail();
            windowStart_ = now;
            windowFrames_ = frames;
        }
        return true;
    }

    RtAudio* rtaudio() noexcept override { return rt_.get(); }

    // PulseAudio only: writing silence is most of an idle program's cost
    // there, and a stopped stream starts again within a buffer or two.
    bool pause() noexcept override {
        if (type_ != OUTPUTTYPE_PULSEAUDIO || !rt_ || paused_) return false;
        try {
            rt_->abortStream();
        } catch (...) {
        }
        paused_ = true;
        return true;
    }
    void resume() noexcept override {
        if (!paused_ || !rt_) return;
        paused_ = false;
        shared_.clockBroken.store(true, std::memory_order_release);
        lastCallbacks_ = shared_.callbacks.load(std::memory_order_acquire);
        windowFrames_ = shared_.frames.load(std::memory_order_acquire);
        lastProgress_ = windowStart_ = Clock::now();
        try {
            rt_->startStream();
        } catch (...) {
        }
        // One that does not start again shows as lost at the next watch.
    }

private:
    bool fail() noexcept {
        shared_.deviceError.store(true, std::memory_order_release);  // the callback stops the stream
        return false;
    }

    // Device thread.
    static int callback(void* out, void*, unsigned frames, double, RtAudioStreamStatus status, void* user) {
        auto* self = static_cast<DeviceOutput*>(user);
        tlsErrorFlag = &self->shared_.deviceError;
        const auto bps = static_cast<std::size_t>(bytesPerSample(self->format_));
        auto* dst = static_cast<std::uint8_t*>(out);
        if (self->shared_.deviceError.load(std::memory_order_acquire)) {
            // Lost: silence, and ask RtAudio to stop calling.
            std::memset(dst, 0, static_cast<std::size_t>(frames) * 2 * bps);
            return 2;
        }
        DenormalGuard denormals;
        RenderTimer timer(self->shared_, frames);
        const std::int64_t now = nowNs();
        if (status & RTAUDIO_OUTPUT_UNDERFLOW) self->shared_.underflows.fetch_add(1, std::memory_order_relaxed);
        const auto cap = static_cast<unsigned>(self->scratch_.size() / 2);
        unsigned done = 0;
        while (done < frames) {
            const unsigned n = std::min(frames - done, cap);
            self->mixer_.render(self->scratch_.data(), n, now + static_cast<std::int64_t>(done * 1e9 / self->rate_));
            fromFloat(self->scratch_.data(), dst + static_cast<std::size_t>(done) * 2 * bps,
                      static_cast<std::size_t>(n) * 2, self->format_);
            done += n;
        }
        return 0;
    }

    const int type_;
    Mixer& mixer_;
    Shared& shared_;
    std::unique_ptr<RtAudio> rt_;
    int format_ = SOUND_FORMAT_PCM16;
    int rate_ = kDefaultRate;
    std::vector<float> scratch_;
    bool paused_ = false;  // control thread
    // Control thread: the health watch.
    std::uint64_t lastCallbacks_ = 0, windowFrames_ = 0;
    Clock::time_point lastProgress_{}, windowStart_{};
};

class NullOutput final : public Output {
public:
    NullOutput(Mixer& mixer, Shared& shared) : mixer_(mixer), shared_(shared) {}
    Result open(const OutputRequest& request, OutputGrant& grant) override {
        grant.rate = request.rate;
        grant.bufferFrames = 0;
        grant.latencyFrames = 0;
        return OK;
    }
    Result start() override { return OK; }
    void close() noexcept override {}
    Result render(float* out, unsigned frames, std::int64_t timeNs, bool exact) noexcept override {
        DenormalGuard denormals;
        RenderTimer timer(shared_, frames);
        mixer_.render(out, frames, timeNs, exact);
        return OK;
    }

private:
    Mixer& mixer_;
    Shared& shared_;
};

// Recording thread.
int inputCallback(void*, void* in, unsigned frames, double, RtAudioStreamStatus, void* user) {
    auto* target = static_cast<RecordTarget*>(user);
    if (in) target->write(in, frames);
    return 0;
}

}  // namespace

RenderTimer::RenderTimer(Shared& shared, unsigned frames) noexcept
    : shared_(shared), frames_(frames), start_(Clock::now()) {}

RenderTimer::~RenderTimer() {
    const auto us = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count());
    shared_.callbacks.fetch_add(1, std::memory_order_release);
    shared_.frames.fetch_add(frames_, std::memory_order_release);
    std::uint32_t worst = shared_.worstUs.load(std::memory_order_relaxed);
    while (us > worst && !shared_.worstUs.compare_exchange_weak(worst, us, std::memory_order_relaxed)) {
    }
}

Result listDevices(int outputType, bool input, std::vector<DeviceEntry>& out, RtAudio* live) {
    out.clear();
    std::unique_ptr<RtAudio> own;
    RtAudio* rt = live;
    if (!rt || rt->getCurrentApi() != apiFor(outputType)) {
        own = makeRt(outputType);
        rt = own.get();
    }
    if (!rt) return OK;  // no such API here: no devices
    try {
        const unsigned n = rt->getDeviceCount();
        for (unsigned i = 0; i < n; ++i) {
            try {
                const RtAudio::DeviceInfo info = rt->getDeviceInfo(i);
                if (!info.probed) continue;
                if ((input ? info.inputChannels : info.outputChannels) == 0) continue;
                out.push_back({info.name, i});
            } catch (...) {
            }
        }
    } catch (...) {
        out.clear();
        return ERR_OUTPUT_DRIVERCALL;
    }
    return OK;
}

std::unique_ptr<Output> makeNullOutput(Mixer& mixer, Shared& shared) {
    return std::make_unique<NullOutput>(mixer, shared);
}

std::unique_ptr<Output> makeDeviceOutput(int outputType, Mixer& mixer, Shared& shared) {
    return std::make_unique<DeviceOutput>(outputType, mixer, shared);
}

DeviceInput::DeviceInput() = default;
DeviceInput::~DeviceInput() { close(); }

Result DeviceInput::open(int outputType, unsigned deviceId, RecordTarget& target, int rate, Shared& shared) {
    close();
    rt_ = makeRt(outputType);
    if (!rt_) return ERR_RECORD;
    RtAudio::StreamParameters params;
    params.deviceId = deviceId;
    params.nChannels = static_cast<unsigned>(target.channels);
    RtAudio::StreamOptions options;
    options.streamName = "Rimbal 2 (gravação)";
    unsigned frames = 512;
    shared.inputError.store(false, std::memory_order_release);
    // The input thread reports its failures through the recording's flag.
    struct Input {
        static int call(void* o, void* in, unsigned n, double t, RtAudioStreamStatus st, void* user) {
            auto* pair = static_cast<std::pair<RecordTarget*, Shared*>*>(user);
            tlsErrorFlag = &pair->second->inputError;
            return inputCallback(o, in, n, t, st, pair->first);
        }
    };
    link_ = {&target, &shared};
    try {
        rt_->openStream(nullptr, &params, rtFormat(target.format), static_cast<unsigned>(rate), &frames, &Input::call,
                        &link_, &options, &onRtError);
        if (rt_->isStreamOpen()) {
            rt_->startStream();
            if (rt_->isStreamRunning()) return OK;
        }
    } catch (...) {
    }
    close();
    return ERR_RECORD;
}

void DeviceInput::close() noexcept {
    if (!rt_) return;
    std::atomic<bool>* saved = tlsErrorFlag;
    tlsErrorFlag = nullptr;
    closeStream(*rt_);
    tlsErrorFlag = saved;
    rt_.reset();
}

}  // namespace rb::detail
