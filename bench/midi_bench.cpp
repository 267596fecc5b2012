// A MIDI note-on's way from its arrival on the input port's thread to the
// return of the engine's play call, through the main window's key-down road.
// The GUI thread waits in its event loop between notes, as in use; the second
// case runs inside the key definition dialog while it previews a sound.
#include "benchprogram.h"
#include "frmsettecla.h"

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
    ctx.midi.KeyDown = [&](std::uint16_t key, float factor, std::int64_t moment) {
        const std::uint32_t count = ctx.core.PlayCount;
        route(key, factor, moment);
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
