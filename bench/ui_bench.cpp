// The program's real-time paths in real windows: a key event's way to the
// engine's play call (with and without a sequence recording), and how late a
// played sequence's keys sound, with and without other windows busy; and
// the log window given millions of lines.
#include "benchprogram.h"
#include "frmlog.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace {

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

// The log window given the argument's number of messages, as a hostile
// package's import could give it. "lines_shown" is what the window holds.
void BM_LogWindowOfManyLines(benchmark::State& state) {
    QStringList lines;
    for (int64_t i = 0; i < state.range(0); ++i)
        lines << QStringLiteral("Linha %1 da lista de teclas ignorada: o limite é de 64 teclas.").arg(i + 65);
    int shown = 0;
    for (auto _ : state) {
        rimbal::TFrmLog log;
        log.appendLines(lines);
        shown = log.findChild<QPlainTextEdit*>(QStringLiteral("MemoLog"))->blockCount();
    }
    state.counters["lines_shown"] = shown;
}
BENCHMARK(BM_LogWindowOfManyLines)->Arg(20'000)->Arg(5'000'000)->Iterations(1)->Unit(benchmark::kMillisecond);

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
