// MIDI from a JACK port through a JACK client of the program's own: each
// event keeps the moment of its own frame, where RtMidi gives every event of
// a process cycle the cycle's time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace rimbal {

class JackMidiIn {
public:
    // Called on JACK's process thread for every event: never blocks.
    using Sink = void (*)(void* user, const unsigned char* bytes, std::size_t size, std::int64_t momentNs);

    JackMidiIn() = default;
    JackMidiIn(const JackMidiIn&) = delete;
    JackMidiIn& operator=(const JackMidiIn&) = delete;
    ~JackMidiIn() { Close(); }

    // Opens client `client` with an input port `port` and connects the
    // source port (its full name, "client:port") to it. False, with JACK's
    // reason in error, when it cannot.
    bool Open(const std::string& client, const std::string& port, const std::string& source, Sink sink, void* user,
              std::string& error);
    // When it returns, the sink is called no more.
    void Close();

private:
    static int process(unsigned frames, void* arg);

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    Sink sink_ = nullptr;
    void* user_ = nullptr;
    std::int64_t offsetNs_ = 0;  // steady clock minus JACK's clock; process thread
    bool offsetKnown_ = false;
};

}  // namespace rimbal
