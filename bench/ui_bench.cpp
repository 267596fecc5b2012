// A key event's way from its dispatch to the main window to the engine's play call.
#include "appcontext.h"
#include "scriptedprompt.h"
#include "frmcenter.h"
#include "frmsplash.h"
#include "textfiles.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <vector>

namespace {


void BM_KeyEventToPlay(benchmark::State& state) {
    QTemporaryDir dir;
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
    // 64 keys; the pressed one is the last, so the whole table is scanned.
    for (int i = 0; i < 63; ++i) lines << QStringLiteral("%1*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*hit.wav").arg(0x300 + i);
    lines << QStringLiteral("65*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*hit.wav");
    rimbal::WriteTextLines(folder + "Keys.txt", lines);
    rimbal::WriteTextLines(app + "rimbal2.ini", {"[Config]", "Driver_Playback_Count=1", "Driver_Record_Count=1",
                                                 "ID_Driver_Output=0", "ID_Driver_Playback=0", "ID_Driver_Record=0",
                                                 "PackName=Kit"});
    ScriptedPrompt prompt;
    RecordingLog log;
    rimbal::AppContext ctx(app, prompt, log);
    ctx.forcedOutputType = rb::OUTPUTTYPE_NULL;
    ctx.startDelayMs = 0;
    ctx.statusWaitMs = 0;
    {
        rimbal::TFrmSplash splash(ctx);
        splash.exec();
    }
    rimbal::TFrmCenter w(ctx);
    w.show();
    QTest::qWait(50);
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &w;
    for (auto _ : state) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QApplication::sendEvent(target, &press);
    }
    state.counters["plays"] = static_cast<double>(ctx.core.PlayCount);
    state.counters["keys"] = ctx.core.KeyCount;
    w.close();
}
BENCHMARK(BM_KeyEventToPlay)->Unit(benchmark::kMicrosecond);

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
