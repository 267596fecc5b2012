// Key sequences: the text of recorded keys and the milliseconds between
// them, its recorder and player, its checks and its file (.rbs, a ZIP
// archive holding RBS.txt). Qt Core only. GUI thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace rimbal {

class Prompt;
class SoundCore;

// The result of CheckSequenceText.
struct TRBSFormatErrorInfo {
    // 0 valid; 1 empty text; 2 a field is not an integer; 3 a key field is not
    // a key of the key table; 4 an interval outside 0 to 60000.
    std::uint8_t Code = 0;
    // The field that failed; for code 3 followed by " {", its key name and "}".
    QString Detail;
};

// Where the recorder and the player take their time from, and how the player
// waits. Intervals come from a monotonic clock, so a change of the time of
// day or midnight never distorts them.
class SequenceClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;
    virtual ~SequenceClock() = default;
    virtual TimePoint now() = 0;
    // Returns at the deadline, or earlier once wake() holds, with the event
    // loop running meanwhile (any handler may run inside).
    virtual void waitUntil(TimePoint deadline, const std::function<bool()>& wake) = 0;
    // Runs the pending events once.
    virtual void processEvents() = 0;
};

// std::chrono::steady_clock and waits that keep the windows alive.
class SteadySequenceClock final : public SequenceClock {
public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    void waitUntil(TimePoint deadline, const std::function<bool()>& wake) override;
    void processEvents() override;
};

class Sequence {
public:
    static constexpr qint64 kLongInterval = 30000;  // a longer one raises the question
    static constexpr qint64 kMaxInterval = 60000;   // the longest the loader accepts
    // A lateness beyond this (a modal dialog, a stalled machine) moves the
    // rest of the pass instead of playing the missed keys in a burst.
    static constexpr std::chrono::milliseconds kResync{200};
    static const QByteArray kPassword;
    static const QString kEntryName;

    Sequence(SoundCore& core, Prompt& prompt);
    ~Sequence();
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;

    // nullptr restores the steady clock. The clock must outlive its use.
    void SetClock(SequenceClock* clock);
    SequenceClock& Clock() { return *clock_; }

    // ---- state ----
    QString SequenceText;
    bool RecordingSequence = false;
    bool FirstKeyPending = true;
    bool StopSequenceRequest = false;
    bool RepeatSequence = false;
    qint64 KeyInterval = 0;
    SequenceClock::TimePoint LastKeyTime;  // when the last key was recorded

    // ---- recording ----
    // The recording step of a key-down: while recording, a key that plays or
    // stops some key table entry goes into the text with the interval since
    // the previous one. Memory only, no file access.
    void RecordKey(std::uint16_t key);
    void StartRecording();
    // Ends a recording (true), or else asks the running playback to stop (false).
    bool Stop();
    void Clear();
    // Offers to replace a long KeyInterval; what stays is at most kMaxInterval.
    void CheckLongInterval();
    // Validates a loaded text against the key table.
    void CheckSequenceText(const QString& text, TRBSFormatErrorInfo& info);

    // ---- playback ----
    // Plays the text through PlayKey, each key at the sum of the intervals
    // before it from the start of the pass; loops while RepeatSequence holds.
    // The event loop runs while it waits. A second call while it plays does nothing.
    void Play();
    bool IsPlaying() const { return playing_; }
    // Ends a running playback at its current wait without another engine call
    // (the window is closing).
    void Abort();
    // Set by the window: the menu rows of "playback starts" and "playback ends".
    std::function<void()> onPlaybackStarts;
    std::function<void()> onPlaybackEnds;
    // How late the keys of the last playback sounded.
    struct Timing {
        int keys = 0;
        std::chrono::microseconds worstLateness{0};
        std::chrono::microseconds totalLateness{0};
    };
    Timing LastTiming;

    // ---- files ----
    // Writes the sequence file (atomically); false with the reason in error.
    bool SaveToFile(const QString& path, QString& error) const;
    // Reads and checks a sequence file. On success text holds the part of
    // the file that was checked; otherwise message holds the user's message
    // and reason (when given) what went wrong underneath.
    bool ReadFile(const QString& path, QString& text, QString& message, QString* reason = nullptr);
    // Appends a loaded text: ends a recording, completes the last pair.
    void AppendLoaded(const QString& text);

private:
    enum class PassEnd { EndOfText, Stopped, Aborted };
    PassEnd playPass(SequenceClock::TimePoint& anchor);
    qint64 millisecondsSinceLastKey();

    SoundCore& core_;
    Prompt& prompt_;
    std::unique_ptr<SteadySequenceClock> steady_;
    SequenceClock* clock_;
    bool playing_ = false;
    bool aborting_ = false;
    quint64 revision_ = 0;  // changes when the text changes other than by appending
};

}  // namespace rimbal
