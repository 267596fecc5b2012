// A private PulseAudio server that a test may kill and restart.
#include "privatepulse.h"

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <sys/prctl.h>
#include <unistd.h>
#include <sys/wait.h>

namespace {

std::string shellQuoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

PrivatePulse::PrivatePulse(std::vector<std::string> sinks) : sinks_(std::move(sinks)) {
    char tmpl[] = "/tmp/rb-pulse.XXXXXX";
    if (const char* d = ::mkdtemp(tmpl)) dir_ = d;
    if (const char* s = std::getenv("PULSE_SERVER")) {
        hadServer_ = true;
        savedServer_ = s;
    }
}

PrivatePulse::~PrivatePulse() {
    kill();
    if (hadServer_) ::setenv("PULSE_SERVER", savedServer_.c_str(), 1);
    else ::unsetenv("PULSE_SERVER");
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool PrivatePulse::installed() { return std::system("command -v pulseaudio >/dev/null 2>&1") == 0; }

bool PrivatePulse::start() {
    if (dir_.empty()) return false;
    std::string cmd = "XDG_RUNTIME_DIR=" + shellQuoted(dir_) + " HOME=" + shellQuoted(dir_) + " PULSE_STATE_PATH=" +
                      shellQuoted(dir_ + "/state") + " PULSE_RUNTIME_PATH=" + shellQuoted(dir_ + "/run") +
                      " exec pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes --use-pid-file=no"
                      " --log-target=file:" + shellQuoted(dir_ + "/log") +
                      " -L " + shellQuoted("module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/native");
    for (std::size_t i = 0; i < sinks_.size(); ++i)
        cmd += " -L " + shellQuoted("module-null-sink sink_name=rb_private" + std::to_string(i) +
                                    " sink_properties='device.description=\"" + sinks_[i] + "\"'");
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::setpgid(0, 0);
        // The server goes with the test, even when the test dies.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(1);
        // Nothing of the test's output stays open in the server.
        if (FILE* null = std::fopen("/dev/null", "r+")) {
            ::dup2(::fileno(null), 0);
            ::dup2(::fileno(null), 1);
            ::dup2(::fileno(null), 2);
        }
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_ = pid;
    ::setenv("PULSE_SERVER", server().c_str(), 1);
    // A busy machine may take a while to start it; a server that dies says so at once.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        if (std::system(("pactl -s " + shellQuoted(server()) + " info >/dev/null 2>&1").c_str()) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill();
    return false;
}

void PrivatePulse::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    std::error_code ec;
    std::filesystem::remove(dir_ + "/native", ec);
}

std::string PrivatePulse::pactl(const std::string& args) const {
    std::string out;
    FILE* p = ::popen(("pactl -s " + shellQuoted(server()) + " " + args + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    std::array<char, 512> buf{};
    while (std::fgets(buf.data(), static_cast<int>(buf.size()), p)) out += buf.data();
    ::pclose(p);
    return out;
}
