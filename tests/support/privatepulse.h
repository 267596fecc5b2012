// A PulseAudio server of a test's own: its own runtime folder and socket,
// with null sinks, so a test may kill and restart it without disturbing any
// other server on the machine. The client side finds it through
// PULSE_SERVER, which the server sets while it lives and restores after.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class PrivatePulse {
public:
    // Null sinks by description; the first is the default.
    explicit PrivatePulse(std::vector<std::string> sinks = {"Rimbal Teste"});
    ~PrivatePulse();
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    static bool installed();
    bool start();    // true once the server answers
    void kill();     // as a crash would: no goodbye to the clients
    std::string server() const { return "unix:" + dir_ + "/native"; }
    // Runs pactl against this server; its output.
    std::string pactl(const std::string& args) const;

private:
    std::string dir_;
    std::vector<std::string> sinks_;
    pid_t pid_ = -1;
    std::string savedServer_;
    bool hadServer_ = false;
};
