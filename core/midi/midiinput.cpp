// MIDI ports through RtMidi: the port's thread queues notes, the GUI thread
// plays them.
#include "midi/midiinput.h"

#include "kit/soundcore.h"

#include <RtMidi.h>

#include <QRegularExpression>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace rimbal {
namespace {

struct ApiName {
    RtMidi::Api api;
    const char* prefix;
};
constexpr ApiName kApis[] = {{RtMidi::LINUX_ALSA, "ALSA: "}, {RtMidi::UNIX_JACK, "JACK: "}};
const std::string kClientName = "Rimbal 2";
const std::string kPortName = "Entrada MIDI";

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool compiled(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// With an error callback RtMidi reports instead of throwing; warnings (a
// MIDI system that is not running) are no errors here.
void keepError(RtMidiError::Type type, const std::string& text, void* user) {
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING || !user) return;
    *static_cast<std::string*>(user) = text;
}

// An input of a MIDI system, or null when that system cannot be reached.
std::unique_ptr<RtMidiIn> makeInput(RtMidi::Api api, std::string* error) {
    if (!compiled(api)) return nullptr;
    try {
        auto in = std::make_unique<RtMidiIn>(api, kClientName, 1024);
        in->setErrorCallback(keepError, error);
        return in;
    } catch (const RtMidiError& e) {
        if (error) *error = e.getMessage();
        return nullptr;
    }
}

// ALSA names end with the client and port numbers, which change when devices
// are plugged in another order; the names before them identify the port.
QString withoutAddress(const QString& name) {
    static const QRegularExpression address(QStringLiteral(" \\d+:\\d+$"));
    QString s = name;
    return s.remove(address);
}

void onMessage(double delta, std::vector<unsigned char>* message, void* user) {
    if (message && user) static_cast<MidiInput*>(user)->ReceiveDelta(delta, message->data(), message->size());
}

void onJackEvent(void* user, const unsigned char* bytes, std::size_t size, std::int64_t momentNs) {
    static_cast<MidiInput*>(user)->Receive(bytes, size, momentNs);
}

}  // namespace

MidiInput::MidiInput(SoundCore& core, QObject* parent) : QObject(parent), core_(core) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) return;  // out of descriptors: queued calls wake the GUI thread instead
    wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    connect(wakeNotifier_.get(), &QSocketNotifier::activated, this, [this] {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
        Drain();
    });
}

MidiInput::~MidiInput() {
    Close();  // no producer is left to write to the descriptor
    wakeNotifier_.reset();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

QStringList MidiInput::Ports() {
    QStringList ports;
    for (const ApiName& a : kApis) {
        std::string error;
        const auto in = makeInput(a.api, &error);
        if (!in) continue;
        const unsigned n = in->getPortCount();
        for (unsigned i = 0; i < n; ++i) {
            const std::string name = in->getPortName(i);
            if (!name.empty()) ports << QString::fromLatin1(a.prefix) + QString::fromStdString(name);
        }
    }
    return ports;
}

bool MidiInput::Open(const QString& name, QString* error) {
    Close();
    if (name.isEmpty()) return true;
    const auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    const ApiName* api = nullptr;
    for (const ApiName& a : kApis)
        if (name.startsWith(QLatin1String(a.prefix))) api = &a;
    const QString missing = QStringLiteral("Entrada MIDI não encontrada: %1. A entrada MIDI fica desligada.").arg(name);
    if (!api) return fail(missing);
    std::string message;
    auto in = makeInput(api->api, &message);
    if (!in) return fail(missing);
    const unsigned n = in->getPortCount();
    const QString wanted = name.mid(static_cast<qsizetype>(std::char_traits<char>::length(api->prefix)));
    int index = -1;
    int loose = -1;
    for (unsigned i = 0; i < n && index < 0; ++i) {
        const QString port = QString::fromStdString(in->getPortName(i));
        if (port == wanted) index = static_cast<int>(i);
        else if (loose < 0 && withoutAddress(port) == withoutAddress(wanted)) loose = static_cast<int>(i);
    }
    if (index < 0) index = loose;
    if (index < 0) return fail(missing);
    if (api->api == RtMidi::UNIX_JACK) {
        // RtMidi lists JACK's ports; our own client reads them, frame by frame.
        const std::string source = in->getPortName(static_cast<unsigned>(index));
        in.reset();
        if (!jack_.Open(kClientName, kPortName, source, &onJackEvent, this, message)) {
            return fail(QStringLiteral("Não foi possível abrir a entrada MIDI %1: %2").arg(name, QString::fromStdString(message)));
        }
        port_ = name;
        return true;
    }
    deltaSum_ = 0;
    deltaClock_.Reset();
    // Sysex, clock and active sensing are of no use to a drum kit.
    in->ignoreTypes(true, true, true);
    in->setCallback(onMessage, this);
    message.clear();
    in->openPort(static_cast<unsigned>(index), kPortName);
    if (!message.empty() || !in->isPortOpen())
        return fail(QStringLiteral("Não foi possível abrir a entrada MIDI %1: %2").arg(name, QString::fromStdString(message)));
    // From here on errors arrive on the port's thread, where nothing may wait for them.
    in->setErrorCallback(keepError, nullptr);
    in_ = std::move(in);
    port_ = name;
    return true;
}

void MidiInput::Close() {
    // Ends the port's thread: no message arrives after this.
    in_.reset();
    jack_.Close();
    port_.clear();
}

void MidiInput::OpenConfigured() {
    const QString name = core_.settings().Midi_Input;
    if (name.isEmpty() || name == port_) return;
    QString error;
    if (!Open(name, &error)) core_.ErrorLog.append(error);
}

void MidiInput::ReceiveDelta(double deltaSeconds, const unsigned char* bytes, std::size_t size) {
    // The first message has no time of its own; a negative or absurd one
    // (more than a day) is no time either.
    if (deltaSeconds > 0 && deltaSeconds < 86400) deltaSum_ += deltaSeconds;
    const auto stamp = static_cast<std::int64_t>(deltaSum_ * 1e9);
    Receive(bytes, size, deltaClock_.Moment(stamp, nowNs()));
}

void MidiInput::Receive(const unsigned char* bytes, std::size_t size, std::int64_t momentNs) {
    if (!bytes || size < 3) return;
    const unsigned status = bytes[0] & 0xF0u;
    std::uint8_t on = 0;
    if (status == 0x90 && bytes[2] != 0) on = 1;
    else if (status != 0x80 && status != 0x90) return;  // note-on with velocity 0 is a note-off
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) >= kQueueSize) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    queue_[head & (kQueueSize - 1)] = Event{nowNs(), momentNs, on, static_cast<std::uint8_t>(bytes[1] & 0x7F),
                                            static_cast<std::uint8_t>(bytes[2] & 0x7F)};
    head_.store(head + 1, std::memory_order_release);
    // One wake-up for a burst: the drain takes everything queued by then.
    if (!wakePending_.exchange(true, std::memory_order_acq_rel)) {
        if (wakeFd_ < 0) {
            QMetaObject::invokeMethod(this, &MidiInput::Drain, Qt::QueuedConnection);
            return;
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

void MidiInput::Drain() {
    wakePending_.store(false, std::memory_order_seq_cst);
    for (;;) {
        // Re-read each time: a play may open a message box whose event loop drains too.
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) return;
        const Event e = queue_[tail & (kQueueSize - 1)];
        tail_.store(tail + 1, std::memory_order_release);
        const std::uint16_t key = core_.NoteMap.KeyFor(e.note);
        if (key == 0) continue;
        if (!e.on) {
            stopLoop(key);
            continue;
        }
        const float factor = VelocityFactor(e.velocity);
        const float velocity = static_cast<float>(e.velocity) / 127.0f;
        if (KeyDown) KeyDown(key, factor, velocity, e.momentNs);
        else core_.PlayKey(key, factor, velocity, e.momentNs);
        LastPlayDelay = std::chrono::nanoseconds(nowNs() - e.arrivedNs);
    }
}

void MidiInput::stopLoop(std::uint16_t key) {
    const int count = core_.ScanCount();
    for (int i = 0; i < count; ++i) {
        TAG_SOUND_DATA& r = core_.KeySounds[static_cast<std::size_t>(i)];
        if (r.sound == rb::Sound{} || !r.loop || r.playKey != key) continue;
        for (int s = kSlots - 1; s >= 0; --s) {
            const rb::Channel ch = r.channels[static_cast<std::size_t>(s)];
            if (!core_.IsChannelPlaying(ch)) continue;
            core_.CheckResult(rb::Channel_Stop(ch));
            return;
        }
    }
}

}  // namespace rimbal
