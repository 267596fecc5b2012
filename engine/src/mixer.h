// The audio side: voices, effect chains and the mix. Mixer's members belong to
// whichever thread drives it (the device thread, the null output's renderer,
// or the control thread while neither runs); Shared holds the only state both
// sides touch, all of it atomic.
#pragma once

#include "metronome.h"
#include "objects.h"
#include "port.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace rb::detail {

inline constexpr int kMaxGroups = 256;
inline constexpr int kMaxUnitsPerChain = 32;
inline constexpr int kBlockFrames = 256;
inline constexpr int kDefaultRate = 48000;

// A recording in progress: the ring is the user sound's bytes.
struct RecordTarget {
    std::uint8_t* ring = nullptr;
    std::uint32_t ringFrames = 0;
    std::uint32_t frameBytes = 0;
    int format = 0;
    int channels = 0;
    bool loop = true;
    std::atomic<std::uint64_t> written{0};  // frames since the start; never wraps
    std::atomic<bool> finished{false};      // a ring without loop is full

    // The one writing thread: the input device's, or the mixer's.
    void write(const void* frames, std::uint32_t count) noexcept;     // frames in the ring's format
    void writeMix(const float* stereo, std::uint32_t count) noexcept;  // mixed frames, converted
    std::uint32_t position() const noexcept;

private:
    // Where the next `count` frames go: calls put(ringFrame, n) per piece.
    template <typename Put>
    void advance(std::uint32_t count, Put&& put) noexcept;
};

struct ChannelShared {
    std::atomic<std::uint64_t> stopGen{0};   // control -> audio: stop the play of this generation
    std::atomic<std::uint64_t> endedGen{0};  // audio -> control: the play of this generation has ended
    std::atomic<std::uint64_t> posGen{0};    // audio -> control: generation whose position `pos` holds
    std::atomic<std::uint32_t> pos{0};       // in data frames
};

struct Shared {
    std::array<ChannelShared, kMaxChannels> channels{};
    // Group releases: the epoch of the release per group slot, and a count
    // that tells the audio side to look.
    std::array<std::atomic<std::uint64_t>, kMaxGroups> groupClearAt{};
    std::atomic<std::uint64_t> groupClears{0};
    std::atomic<std::uint64_t> unitReleases{0};  // bumped per released unit
    std::atomic<RecordTarget*> mixRecord{nullptr};                         // recording from the mix
    std::atomic<std::uint64_t> metronome{0};  // MetronomeSettings::pack(); 0 is off

    // Output statistics and health; the device's error callback only sets deviceError.
    std::atomic<std::uint64_t> callbacks{0};
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint64_t> underflows{0};
    std::atomic<std::uint32_t> worstUs{0};
    std::atomic<std::uint64_t> latePlays{0};  // timed plays that could not keep their delay
    // Frames mixed since anything last sounded or rang (0 while something does).
    std::atomic<std::uint64_t> quietFrames{0};
    // Control -> audio: the output stood still; its frames no longer follow the clock.
    std::atomic<bool> clockBroken{false};
    std::atomic<bool> deviceError{false};
    std::atomic<bool> inputError{false};
    std::atomic<bool> limiter{false};  // control -> audio: the master bus's safety limiter is on
};

struct Voice {
    bool active = false;
    bool paused = false;
    bool loop = false;
    bool heard = false;    // has reached the output: later volume jumps glide
    bool fading = false;   // gliding to silence, then gone (stop, steal)
    int group = -1;        // group slot, -1 the master mix
    std::uint64_t gen = 0;
    std::uint64_t fadeBase = 0;  // release epoch done when the fade began
    const SoundObj* sound = nullptr;
    double pos = 0;        // in data frames
    double step = 1.0;     // data frames per output frame
    float gain = 1.0f;
    float target = 1.0f;
    int rampLeft = 0;
    // Constant-power pan gains of each side; exactly 1 and 1 in the centre,
    // where the play mixes as if it had none.
    float panL = 1.0f, panR = 1.0f;
    bool centred() const noexcept { return panL == 1.0f && panR == 1.0f; }
    std::int64_t startAt = 0;      // moment of a timed play's event (steady clock ns); 0 untimed
    std::uint64_t startFrame = 0;  // output frame where the play begins; earlier ones begin at once
};

// The master bus's safety limiter. It sees each block of the mix whole
// before it leaves, so its attack can start up to kStep frames before a peak
// (a look-ahead inside the block, at no latency) and spreads every change of
// gain over kStep frames; a peak the block's start could not foresee is met
// at once. After a 10 ms hold the gain returns to 1 in 50 to 100 ms. No
// sample ever leaves above the ceiling, and at rest (gain exactly 1) a block
// below the ceiling leaves untouched, bit for bit.
class Limiter {
public:
    static constexpr float kCeiling = 0.96605f;  // -0.3 dBFS
    static constexpr float kReleaseTarget = 1.02f;
    static constexpr int kStep = 32;             // frames: the attack
    void configure(int rate) noexcept;
    void reset() noexcept {
        gain_ = 1.0f;
        hold_ = 0;
    }
    void process(float* stereo, int frames) noexcept;

private:
    void processBlock(float* stereo, int frames) noexcept;

    float gain_ = 1.0f;
    int hold_ = 0;
    int holdFrames_ = 480;
    std::array<float, kStep + 1> decay_{};  // (1 - release)^k: what is left of the way back after k frames
};

// Where the output's frames lie in time. A device asks for a buffer once it
// has room for it, never before, but often after (the thread woke late, the
// server hands out room in bursts): the earliest moments of the latest second
// of renders, on a line at the nominal rate, tell where each frame lies, so a
// timed play lands on the same frame however late its render runs.
struct FrameClock {
    bool valid = false;
    std::uint64_t frame = 0;   // first frame of the latest render
    double at = 0;             // its moment on the line, ns
    double nsPerFrame = 0;     // nominal, at the mixer rate
    std::uint64_t nextFrame = 0;
    std::uint64_t settledAt = 0;  // from this frame on the clock has seen a whole window

    // A render of `frames` starting at output frame `first` began at timeNs;
    // exact: timeNs is the frame's moment itself (the null output told).
    void observe(std::uint64_t first, unsigned frames, std::int64_t timeNs, bool exact) noexcept;
    // The output frame due at moment ns (may lie before `frame`).
    double frameAt(double ns) const noexcept { return static_cast<double>(frame) + (ns - at) / nsPerFrame; }

private:
    // Moments of renders less their frames' place on the line, the smallest
    // first: a minimum over a sliding window, in a fixed ring.
    struct Entry {
        std::uint64_t frame;
        double offset;
    };
    static constexpr std::size_t kRing = 1024;
    std::array<Entry, kRing> ring_{};
    std::size_t head_ = 0, size_ = 0;
    double lastTime_ = 0;
};

struct Chain {
    std::array<DspUnit*, kMaxUnitsPerChain> units{};
    int count = 0;
    static constexpr int kResting = 1 << 30;
    int tail = 0;            // frames the chain rings on after silence
    int silent = kResting;   // frames of silent input so far; a new chain rests until fed
};

class Mixer {
public:
    Mixer(Shared& shared, CommandPort& port) : shared_(shared), port_(port) {}

    // ---- control thread, while no other thread drives the mixer ----
    void configure(int rate);
    // The constant delay of timed plays after their moment, in frames.
    void setPlayDelay(unsigned frames) noexcept { delayFrames_ = frames; }
    // How long after the previous render a device's render may come before
    // the device must have run dry (its whole buffer), in frames.
    void setUnderrunAfter(unsigned frames) noexcept { underrunFrames_ = frames; }
    // Ends every voice and fade at once.
    void silence() noexcept;
    // Positions of the voices of a sound whose data was converted to the
    // mixer rate: ratio is new frames per old frame.
    void rescale(const SoundObj* sound, double ratio) noexcept;
    int rate() const noexcept { return rate_; }

    // ---- audio side ----
    // Applies what the control thread asked, then mixes `frames` stereo
    // frames into out (none: only the requests are applied). timeNs is the
    // render's moment on the steady clock (0: unknown, timed plays start at
    // once); exact when it is the first frame's moment itself rather than a
    // thread's wake-up.
    void render(float* out, unsigned frames, std::int64_t timeNs = 0, bool exact = false) noexcept;

private:
    void apply(const Command& c) noexcept;
    // Requests are taken only once the render's epoch covers them: by then
    // every command queued before them has been applied.
    void takeRequests(std::uint64_t epoch) noexcept;
    void stopVoice(int slot) noexcept;
    void endVoice(int slot) noexcept;
    // Places a timed play that has just been let go on its frame.
    void schedule(Voice& v) noexcept;
    void renderBlock(float* out, int frames) noexcept;
    bool mixVoice(Voice& v, float* dst, int frames) noexcept;
    void removeUnit(DspUnit* unit) noexcept;
    void retail(Chain& chain) noexcept;
    std::uint64_t doneEpoch(std::uint64_t epoch) const noexcept;

    Shared& shared_;
    CommandPort& port_;
    int rate_ = kDefaultRate;
    int rampFrames_ = 48;  // about 1 ms
    std::uint64_t frame_ = 0;  // output frames mixed so far: the next one's number
    bool busy_ = false;        // the latest block had something sounding or ringing
    FrameClock clock_;
    unsigned delayFrames_ = 384;
    unsigned underrunFrames_ = 0;  // 0: not watched
    std::int64_t lastRenderNs_ = 0;
    std::array<Voice, kMaxChannels> voices_{};
    std::array<Voice, kMaxChannels> fades_{};  // stopped or stolen plays gliding out
    std::array<Chain, kMaxGroups> groups_{};
    Chain master_;
    Limiter limiter_;  // the master bus's last stage
    bool limiterOn_ = false;
    // While the metronome clicks, a recording of the mix takes the mix
    // without them, through a limiter of its own that follows the output's.
    Limiter takeLimiter_;
    std::vector<float> takeBuf_;
    std::uint64_t unitReleasesSeen_ = 0;
    std::uint64_t groupClearsSeen_ = 0;
    std::array<std::uint64_t, kMaxGroups> groupCleared_{};  // epoch of the last clear applied per slot
    std::vector<float> mixBuf_, groupBuf_;  // sized by configure, never grown here
    ClickTrack metronome_;
};

}  // namespace rb::detail
