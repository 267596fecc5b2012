// MIDI input: notes from a port of the ALSA sequencer or of JACK play the key
// table. The port's thread only queues what arrives; the GUI thread maps the
// notes to keys and plays them, so the sound core stays single-threaded and
// the engine's real-time path never sees MIDI.
#pragma once

#include "kit/eventclock.h"
#include "midi/jackmidi.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class QSocketNotifier;
class RtMidiIn;

namespace rimbal {

class SoundCore;

class MidiInput : public QObject {
    Q_OBJECT
public:
    explicit MidiInput(SoundCore& core, QObject* parent = nullptr);
    ~MidiInput() override;

    // GUI thread. The input ports there are now, as "ALSA: name" and "JACK: name".
    static QStringList Ports();
    // GUI thread. Closes the open port, then opens the named one ("" opens
    // none). False, with a message in error, when it cannot: MIDI is then off.
    bool Open(const QString& name, QString* error = nullptr);
    void Close();
    // The port open now; empty when MIDI is off.
    QString PortName() const { return port_; }
    // GUI thread, at the start of the program: opens the configured port. A
    // port that is missing goes into ErrorLog once and MIDI stays off.
    void OpenConfigured();

    // Any thread, one at a time (the port's thread, or a test standing in for
    // it): one complete MIDI message, and when it happened on the steady
    // clock (0: not known). Never blocks, locks or allocates (JACK's process
    // thread calls it); when the queue is full the message is dropped and counted.
    void Receive(const unsigned char* bytes, std::size_t size, std::int64_t momentNs = 0);
    // RtMidi's message with its time since the port's previous message.
    void ReceiveDelta(double deltaSeconds, const unsigned char* bytes, std::size_t size);
    // GUI thread: plays what has arrived. The event loop runs it by itself.
    void Drain();

    // What a note-on does with its key, velocity factor, velocity (0 to 1,
    // which picks a layered key's layer) and moment. The main window routes it
    // like a key-down; without one the key is played directly.
    std::function<void(std::uint16_t key, float volumeFactor, float velocity, std::int64_t momentNs)> KeyDown;

    // From the arrival of the latest note-on that played a key to the return
    // of its play.
    std::chrono::nanoseconds LastPlayDelay{};
    std::uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    struct Event {
        std::int64_t arrivedNs;
        std::int64_t momentNs;
        std::uint8_t on;
        std::uint8_t note;
        std::uint8_t velocity;
    };
    static constexpr std::size_t kQueueSize = 512;  // a power of two

    // A note-off silences the newest play of a looping key bound to the note.
    void stopLoop(std::uint16_t key);

    SoundCore& core_;
    std::unique_ptr<RtMidiIn> in_;  // ALSA ports
    JackMidiIn jack_;               // JACK ports, with each event's own frame
    // RtMidi's thread: its messages' times, summed, on their clock.
    double deltaSum_ = 0;
    EventClock deltaClock_;
    QString port_;
    std::array<Event, kQueueSize> queue_{};
    std::atomic<std::size_t> head_{0};  // written by the producer
    std::atomic<std::size_t> tail_{0};  // written by the GUI thread
    std::atomic<bool> wakePending_{false};
    // The producer wakes the GUI thread through an eventfd: a write to it
    // neither locks nor allocates, where posting a Qt event does both.
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> wakeNotifier_;
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace rimbal
