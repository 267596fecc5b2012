// A MIDI note-on's way from its arrival on the input port's thread to the
// return of the engine's play call, through the main window's key-down road;
// and the onsets of notes from a JACK sequencer against its spacing.
// The GUI thread waits in its event loop between notes, as in use; the second
// case runs inside the key definition dialog while it previews a sound.
#include "benchprogram.h"
#include "frmsettecla.h"
#include "jackserver.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <random>
#include <semaphore>
#include <thread>
#include <vector>

namespace {

// Plays one note-on each time it is released, after a pause of 1 to 3 ms so
// the GUI thread is asleep in its event loop when the note arrives.
class Pads {
public:
    explicit Pads(rimbal::MidiInput& midi) : midi_(midi), thread_([this] { run(); }) {}
    ~Pads() {
        stop_ = true;
        go_.release();
        thread_.join();
    }
    void hit() { go_.release(); }

private:
    void run() {
        std::mt19937 random(15);
        std::uniform_int_distribution<int> pause(1000, 3000);
        const unsigned char note[] = {0x99, 36, 100};
        for (;;) {
            go_.acquire();
            if (stop_) return;
            std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
            midi_.Receive(note, sizeof note);
        }
    }
    rimbal::MidiInput& midi_;
    std::binary_semaphore go_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_MidiNoteToPlay(benchmark::State& state) {
    const bool previewing = state.range(0) != 0;
    Program p({QStringLiteral("36*65")});  // the note's key is the last, so the whole table is scanned
    rimbal::AppContext& ctx = *p.ctx;
    rimbal::TFrmCenter& w = *p.window;
    const QString folder = p.folder;

    // Every note must really start a play: the null output plays the sounds
    // out between notes, outside the measured span.
    std::vector<float> out(2 * 9600);
    const auto playOut = [&] { rb::System_RenderNull(ctx.core.SoundSystem, out.data(), 9600); };
    QEventLoop loop;
    const auto route = ctx.midi.KeyDown;
    int played = 0;
    ctx.midi.KeyDown = [&](std::uint16_t key, float factor, float velocity, std::int64_t moment) {
        const std::uint32_t count = ctx.core.PlayCount;
        route(key, factor, velocity, moment);
        played += ctx.core.PlayCount != count;
        loop.quit();
    };
    std::vector<double> delays;
    const auto measure = [&] {
        Pads pads(ctx.midi);
        for (auto _ : state) {
            pads.hit();
            loop.exec();
            const double seconds = std::chrono::duration<double>(ctx.midi.LastPlayDelay).count();
            state.SetIterationTime(seconds);
            delays.push_back(seconds * 1e6);
            playOut();
        }
    };

    int previews = 0;
    if (previewing) {
        rimbal::TFrmSetTecla* dialog = w.SetTecla();
        QTimer preview;
        preview.setInterval(30);
        QObject::connect(&preview, &QTimer::timeout, dialog, [&] {
            dialog->BtnOuvirClick();
            previews += ctx.core.IsChannelPlaying(ctx.core.PendingKey.channels[0]);
            playOut();
        });
        QTimer::singleShot(0, dialog, [&] {
            dialog->findChild<QLineEdit*>(QStringLiteral("Edit_Arquivo"))->setText(folder + "hit.wav");
            dialog->Panel_StartClick();  // the capture panel blinks too
            preview.start();
            measure();
            preview.stop();
            dialog->close();
        });
        dialog->exec();
    } else {
        measure();
    }
    ctx.midi.KeyDown = route;

    std::sort(delays.begin(), delays.end());
    const auto at = [&](double q) { return delays.empty() ? 0.0 : delays[static_cast<std::size_t>(q * static_cast<double>(delays.size() - 1))]; };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = delays.empty() ? 0.0 : delays.back();
    state.counters["plays"] = played;
    if (previewing) state.counters["previews"] = previews;
}
// 0: the window idle; 1: the key definition dialog open and previewing.
BENCHMARK(BM_MidiNoteToPlay)->Arg(0)->Arg(1)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

// ---- notes from a JACK sequencer, their onsets in the output ----

namespace {

// A JACK client that plays note 36 every `spacing` frames of JACK's clock,
// each at its exact frame, and keeps JACK's moment of every note it sent.
class Sequencer {
public:
    static constexpr int kMaxNotes = 256;
    bool open(jack_nframes_t spacing) {
        spacing_ = spacing;
        client_ = jack_client_open("rbbench-seq", JackNoStartServer, nullptr);
        if (!client_) return false;
        port_ = jack_port_register(client_, "notes", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &Sequencer::process, this);
        return port_ && jack_activate(client_) == 0;
    }
    ~Sequencer() {
        if (client_) jack_client_close(client_);
    }
    void start() { running_ = true; }
    int notes() const { return sent_.load(); }
    std::int64_t noteNs(int i) const { return moments_[static_cast<std::size_t>(i)]; }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Sequencer*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, frames);
        jack_midi_clear_buffer(buffer);
        if (!self->running_) return 0;
        const jack_nframes_t first = jack_last_frame_time(self->client_);
        if (!self->started_) {
            self->next_ = first + frames;  // from the next cycle on
            self->started_ = true;
        }
        while (self->next_ - first < frames && self->sent_ < kMaxNotes) {
            const unsigned char note[] = {0x99, 36, 100};
            jack_midi_event_write(buffer, self->next_ - first, note, sizeof note);
            self->moments_[static_cast<std::size_t>(self->sent_.load())] =
                static_cast<std::int64_t>(jack_frames_to_time(self->client_, self->next_)) * 1000;
            ++self->sent_;
            self->next_ += self->spacing_;
        }
        return 0;
    }
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_nframes_t spacing_ = 0, next_ = 0;
    bool started_ = false;
    std::atomic<bool> running_{false};
    std::atomic<int> sent_{0};
    std::array<std::int64_t, kMaxNotes> moments_{};
};

// Arg 1: timed plays (each note's own moment); 0: untimed, as before. The
// output is the null output driven by a thread at real-time pace; the
// sequencer's notes lie 11111 frames apart (not a multiple of JACK's 512).
void BM_JackNoteOnsetSpacing(benchmark::State& state) {
    JackServer jack;
    QString why;
    if (!jack.start(&why)) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    constexpr jack_nframes_t kSpacing = 11111;
    Sequencer seq;
    if (!seq.open(kSpacing)) {
        state.SkipWithError("the sequencer did not start");
        return;
    }
    Program p({QStringLiteral("36*65")});
    rimbal::AppContext& ctx = *p.ctx;
    const bool timed = state.range(0) != 0;
    const auto route = ctx.midi.KeyDown;
    const auto ns = [] { return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count(); };
    double worstWay = 0;  // from a note's moment to its play call, ms
    ctx.midi.KeyDown = [&](std::uint16_t key, float factor, float velocity, std::int64_t moment) {
        worstWay = std::max(worstWay, static_cast<double>(ns() - moment) / 1e6);
        route(key, factor, velocity, timed ? moment : 0);
    };
    QString error;
    if (!ctx.midi.Open(QStringLiteral("JACK: rbbench-seq:notes"), &error)) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    constexpr unsigned kBuffer = 256;
    std::atomic<bool> done{false};
    std::vector<std::int64_t> onsets;  // output frames; the device thread's until it ends
    const std::int64_t t0 = ns() + 1'000'000;
    std::thread device([&] {
        std::vector<float> out(2 * kBuffer);
        std::int64_t silent = 1000;
        for (std::int64_t k = 0; !done.load(); ++k) {
            std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(t0 + k * kBuffer * 1'000'000'000LL / 48000)));
            rb::System_RenderNullAt(ctx.core.SoundSystem, out.data(), kBuffer, ns(), false);
            for (unsigned i = 0; i < kBuffer; ++i) {
                if (out[2 * i] == 0.0f) {
                    ++silent;
                    continue;
                }
                if (silent > 1000) onsets.push_back(k * kBuffer + i);
                silent = 0;
            }
        }
    });
    for (auto _ : state) {
        seq.start();
        QTest::qWait(12000);
    }
    done = true;
    device.join();
    ctx.midi.Close();
    ctx.midi.KeyDown = route;
    const int notes = std::min<int>(seq.notes(), static_cast<int>(onsets.size()));
    // Notes and onsets in order; the first two let the clocks settle.
    double worst = 0, mean = 0;
    std::vector<double> offsets;
    for (int i = 2; i + 1 < notes; ++i) {
        const double output = static_cast<double>(onsets[static_cast<std::size_t>(i + 1)] - onsets[static_cast<std::size_t>(i)]) / 48.0;
        const double sequencer = static_cast<double>(seq.noteNs(i + 1) - seq.noteNs(i)) / 1e6;
        worst = std::max(worst, std::abs(output - sequencer));
        mean += output - sequencer;
    }
    const int intervals = std::max(1, notes - 3);
    state.counters["notes"] = notes;
    state.counters["spacing_ms"] = kSpacing / 48.0;
    state.counters["worst_interval_error_ms"] = worst;
    state.counters["mean_interval_error_ms"] = mean / intervals;
    rb::OutputStats stats{};
    rb::System_GetOutputStats(ctx.core.SoundSystem, &stats, false);
    state.counters["late_plays"] = static_cast<double>(stats.latePlays);
    state.counters["worst_moment_to_play_call_ms"] = worstWay;
}
BENCHMARK(BM_JackNoteOnsetSpacing)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
