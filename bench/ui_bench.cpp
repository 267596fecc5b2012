// The program's real-time paths in real windows: a key event's way to the
// engine's play call (with and without a sequence recording), and how late a
// played sequence's keys sound, with and without other windows busy.
#include "appcontext.h"
#include "scriptedprompt.h"
#include "frmcenter.h"
#include "frmsplash.h"
#include "textfiles.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// The program on the null output with 64 keys (0x300 + i, the last one A)
// and its main window shown.
struct Program {
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    RecordingLog log;
    std::unique_ptr<rimbal::AppContext> ctx;
    std::unique_ptr<rimbal::TFrmCenter> window;

    Program() {
        const QString app = dir.path() + u'/';
        const QString folder = app + "Pacotes/Kit/";
        QDir().mkpath(folder);
        QDir().mkpath(app + "plugins");
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(QFile::encodeName(folder + "hit.wav").constData(), SFM_WRITE, &info);
        std::vector<float> s(4800, 0.1f);
        sf_writef_float(f, s.data(), static_cast<sf_count_t>(s.size()));
        sf_close(f);
        QStringList lines;
        // The pressed key is the last, so the whole table is scanned.
        for (int i = 0; i < 63; ++i) lines << QStringLiteral("%1*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*hit.wav").arg(0x300 + i);
        lines << QStringLiteral("65*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*hit.wav");
        rimbal::WriteTextLines(folder + "Keys.txt", lines);
        rimbal::WriteTextLines(app + "rimbal2.ini", {"[Config]", "Driver_Playback_Count=1", "Driver_Record_Count=1",
                                                     "ID_Driver_Output=0", "ID_Driver_Playback=0", "ID_Driver_Record=0",
                                                     "PackName=Kit"});
        ctx = std::make_unique<rimbal::AppContext>(app, prompt, log);
        ctx->forcedOutputType = rb::OUTPUTTYPE_NULL;
        ctx->startDelayMs = 0;
        ctx->statusWaitMs = 0;
        {
            rimbal::TFrmSplash splash(*ctx);
            splash.exec();
        }
        window = std::make_unique<rimbal::TFrmCenter>(*ctx);
        window->show();
        QTest::qWait(50);
    }
    ~Program() {
        window->close();
        window.reset();
    }
};

// Arg 1: a sequence recording runs, so every press is also recorded.
void BM_KeyEventToPlay(benchmark::State& state) {
    Program p;
    if (state.range(0)) p.window->GravarSequencia1Click();
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : p.window.get();
    for (auto _ : state) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QApplication::sendEvent(target, &press);
    }
    state.counters["plays"] = static_cast<double>(p.ctx->core.PlayCount);
    state.counters["keys"] = p.ctx->core.KeyCount;
    state.counters["recorded_chars"] = static_cast<double>(p.ctx->sequence.SequenceText.size());
    if (state.range(0) && p.ctx->sequence.SequenceText.isEmpty()) state.SkipWithError("nothing recorded");
}
BENCHMARK(BM_KeyEventToPlay)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Another window that keeps the event loop busy: a heavy repaint of about
// 5 ms every 10 ms, on top of the main window's own status timer.
class BusyWindow : public QWidget {
public:
    BusyWindow() {
        resize(800, 600);
        connect(&tick, &QTimer::timeout, this, [this] { repaint(); });
        tick.start(10);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QElapsedTimer t;
        t.start();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        int i = 0;
        while (t.nsecsElapsed() < 5'000'000) {
            painter.drawEllipse(QPointF(400 + 300 * std::sin(i * 0.1), 300 + 200 * std::cos(i * 0.13)), 40.0, 30.0);
            ++i;
        }
    }

private:
    QTimer tick;
};

// Args: seconds of sequence (10 keys per second), and 1 with a busy window.
// Measured on the steady clock: each key's lateness against its time from
// the start, and how far the end of the playback lies from the sequence's length.
void BM_SequencePlaybackLateness(benchmark::State& state) {
    Program p;
    std::unique_ptr<BusyWindow> busy;
    if (state.range(1)) {
        busy = std::make_unique<BusyWindow>();
        busy->show();
    }
    const int keys = static_cast<int>(state.range(0)) * 10;
    QString text;
    for (int i = 0; i < keys; ++i) text += QStringLiteral("%1*100*").arg(0x300 + i % 63);
    double worst = 0, mean = 0, endError = 0;
    for (auto _ : state) {
        p.ctx->sequence.SequenceText = text;
        const auto start = std::chrono::steady_clock::now();
        p.window->TocarSequencia1Click();
        const double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const auto& t = p.ctx->sequence.LastTiming;
        if (t.keys != keys) state.SkipWithError("keys missing");
        worst = std::max(worst, t.worstLateness.count() / 1000.0);
        mean = t.totalLateness.count() / 1000.0 / t.keys;
        endError = std::max(endError, std::abs(took - 100.0 * keys));
    }
    state.counters["worst_late_ms"] = worst;
    state.counters["mean_late_ms"] = mean;
    state.counters["end_error_ms"] = endError;
}
BENCHMARK(BM_SequencePlaybackLateness)
    ->Args({60, 0})
    ->Args({60, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(pictures);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
