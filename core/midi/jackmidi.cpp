// A JACK client reading one MIDI port, events stamped by their frames.
#include "midi/jackmidi.h"

#include "kit/eventclock.h"

#include <jack/jack.h>
#include <jack/midiport.h>

namespace rimbal {

bool JackMidiIn::Open(const std::string& client, const std::string& port, const std::string& source, Sink sink,
                      void* user, std::string& error) {
    Close();
    jack_status_t status{};
    client_ = jack_client_open(client.c_str(), JackNoStartServer, &status);
    if (!client_) {
        error = "JACK server not reachable";
        return false;
    }
    sink_ = sink;
    user_ = user;
    offsetKnown_ = false;
    port_ = jack_port_register(client_, port.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!port_ || jack_set_process_callback(client_, &JackMidiIn::process, this) != 0 || jack_activate(client_) != 0) {
        error = "JACK refused the port";
        Close();
        return false;
    }
    if (jack_connect(client_, source.c_str(), jack_port_name(port_)) != 0) {
        error = "JACK could not connect " + source;
        Close();
        return false;
    }
    return true;
}

void JackMidiIn::Close() {
    if (!client_) return;
    // Deactivating waits for a running process cycle to end.
    jack_deactivate(client_);
    jack_client_close(client_);
    client_ = nullptr;
    port_ = nullptr;
}

int JackMidiIn::process(unsigned frames, void* arg) {
    auto* self = static_cast<JackMidiIn*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    if (count == 0) return 0;
    // JACK's clock against the steady one, read side by side; a read that
    // was interrupted keeps the earlier offset.
    const std::int64_t before = SteadyNowNs();
    const auto jackNs = static_cast<std::int64_t>(jack_get_time()) * 1000;
    const std::int64_t after = SteadyNowNs();
    if (!self->offsetKnown_ || after - before < 50'000) {
        self->offsetNs_ = before + (after - before) / 2 - jackNs;
        self->offsetKnown_ = true;
    }
    // A cycle carries the events of the frames it will play, one cycle on:
    // that is each event's moment on JACK's own timeline, the same for all.
    const jack_nframes_t first = jack_last_frame_time(self->client_) + frames;
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event{};
        if (jack_midi_event_get(&event, buffer, i) != 0) continue;
        const auto at = static_cast<std::int64_t>(jack_frames_to_time(self->client_, first + event.time)) * 1000;
        self->sink_(self->user_, event.buffer, event.size, at + self->offsetNs_);
    }
    return 0;
}

}  // namespace rimbal
