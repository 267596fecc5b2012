// The audio recorder: the engine records into RecordSound as a ring, and a
// timer copies what it gained into Temp.$$$ in the application folder, a WAV
// file from the first moment on; playing, saving and clearing that take.
// Qt Core only. GUI thread.
#pragma once

#include "base/ownfile.h"
#include "rbcore.h"
#include "recording/wav.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace rimbal {

class Prompt;
class SoundCore;

class Recorder {
public:
    static const QString kTempName;  // "Temp.$$$"

    Recorder(SoundCore& core, Prompt& prompt);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // ---- state ----
    bool SoundRecording = false;
    bool RecordingCleared = true;  // no take is held; the next start begins a new file
    bool LoopPlayback = false;
    QFile RecordFile;                 // open on Temp.$$$ from the start to the stop of a recording
    std::uint32_t RecordLength = 0;   // of RecordSound, in frames
    std::uint32_t RecordPos = 0;      // the record position the engine last reported
    std::uint32_t LastRecordPos = 0;  // the ring position up to which the file holds the audio
    rb::Sound& PlaybackSound;         // the sound core's, released with its sounds
    rb::Channel PlaybackChannel{};
    std::uint32_t PlaybackPos = 0;
    // A playback started by Play has not yet been seen to end.
    bool PlaybackEndPending = false;

    // The largest data size of a take; the WAV header cannot describe more.
    std::uint32_t MaxDataSize = kWavMaxDataSize / 4 * 4;

    // Where the take lies: Temp.$$$ in the application folder, or a name
    // of its own beside it when something else stood there (another user's
    // file, a link, a take another copy of the program holds).
    QString TempPath() const;
    // Removes the take's file if this recorder made it and it is still
    // there, and a Temp.$$$ that an earlier run left; nothing else.
    void RemoveTempFile();

    // ---- commands ----
    // Starts the engine recording (from the device, or from the output mix
    // when the setting asks for it) and opens the take: a new file, or the
    // held one to continue it. False, with the message shown and nothing
    // changed, when it cannot start.
    bool Start();
    // Ends a running recording: stops the engine, copies what it recorded up
    // to that moment, completes the header and closes the file. False when
    // no recording ran.
    bool Stop();
    // What the copy timer does while recording. Returns false when the take
    // had to stop by itself (the format's size limit, a write error, the
    // recording device lost); the message is shown and the take is held.
    bool Tick();
    // Reads the playback position; false once the playback is over.
    bool UpdatePlayback();
    bool IsPlaying();
    // Plays the held take; false when it cannot (no take, the engine's error shown).
    bool Play();
    // Stops a running playback; false when none played.
    bool StopPlayback();
    // Moves the held take to path (replacing a file there); on failure error
    // holds the path and the cause, and the take stays held and intact.
    bool Save(const QString& path, QString& error);
    void Clear() { RecordingCleared = true; }

    // "State: Idle Record pos = 88200 Play pos = 0 Loop Off"
    QString StatusText() const;

    // How much of the take the engine lost while this thread was held, in
    // frames, and where; shown when the take stops.
    std::uint64_t LostFrames() const { return m_lostFrames; }
    std::uint64_t DataBytes() const { return m_dataBytes; }

    // Called when the take stops other than by Stop (the engine is being
    // released, a tick had to end it), so the window can set its menus.
    std::function<void()> onStoppedByItself;

private:
    struct Format {
        int channels = 0;
        int rate = 0;
        int bits = 0;
        bool operator==(const Format&) const = default;
    };
    Format ringFormat() const;
    // Copies the frames the engine wrote since the last copy, up to total.
    bool copyUpTo(std::uint64_t total, bool engineRunning);
    bool writeSilence(std::uint64_t frames);
    bool writeBytes(const void* data, std::uint32_t bytes);
    void noteGap(std::uint64_t atFrame, std::uint64_t frames);
    // Completes the header and closes the file; false when the header could not be written.
    bool finishFile();
    // Ends the take once the engine has stopped: completes the file, shows
    // the gaps and the problem, if any.
    void endTake(const QString& problem, bool isError);
    QString writeProblem() const;
    void error(const QString& text);

    SoundCore& m_core;
    Prompt& m_prompt;
    OwnFile m_temp;  // the take's file, once made
    Format m_take;                  // of the held take
    std::uint32_t m_frameBytes = 4;
    std::uint64_t m_copied = 0;     // frames taken from the engine since the start
    std::uint64_t m_dataBytes = 0;  // sample bytes in the file
    std::uint64_t m_lostFrames = 0;
    QStringList m_gaps;
    QString m_writeError;
};

}  // namespace rimbal
