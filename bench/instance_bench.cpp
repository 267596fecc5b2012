// A later start handing its files to the running program: the socket round
// trip alone, and the whole second start of the real program (process start,
// Qt, hand-over, exit), which a user waits for after a double click; and the
// whole program's idle cost on PulseAudio.
#include "desktop/singleinstance.h"
#include "rbcore.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QDir>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QThread>

#include <unistd.h>

namespace {

// The running program's listener, on a thread of its own.
struct Running {
    explicit Running(const QString& appDir) : instance(new rimbal::SingleInstance(appDir)) {
        instance->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, instance, &QObject::deleteLater);
        thread.start();
        QMetaObject::invokeMethod(instance, [this] { instance->start({}); }, Qt::BlockingQueuedConnection);
    }
    ~Running() {
        thread.quit();
        thread.wait();
    }
    QThread thread;
    rimbal::SingleInstance* instance;
};

void BM_HandOverTwoFiles(benchmark::State& state) {
    QTemporaryDir dir;
    Running running(dir.path());
    const QStringList files{dir.path() + "/Meu Kit.rbp", dir.path() + "/groove.rbs"};
    for (auto _ : state) {
        if (rimbal::SingleInstance(dir.path()).start(files) != rimbal::SingleInstance::Role::Handed) {
            state.SkipWithError("not handed over");
            break;
        }
    }
}
BENCHMARK(BM_HandOverTwoFiles)->Unit(benchmark::kMicrosecond);

#if defined(RIMBAL2_BIN)
void BM_SecondStartOfTheProgram(benchmark::State& state) {
    QTemporaryDir dir;
    const QString app = dir.path() + '/';
    QFile::copy(RIMBAL2_BIN, app + "rimbal2");
    QFile::copy(RBCORE_LIB, app + QFileInfo(RBCORE_LIB).fileName());
    QFile(app + "rimbal2").setPermissions(QFile::ExeOwner | QFile::ReadOwner);
    Running running(app);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (auto _ : state) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(app + "rimbal2", {app + "groove.rbs"});
        if (!p.waitForFinished(10000) || p.exitCode() != 0) {
            state.SkipWithError("the second start failed");
            break;
        }
    }
}
BENCHMARK(BM_SecondStartOfTheProgram)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// The whole program idle on PulseAudio (offscreen windows, one key, nothing
// played): its share of a core over 20 s, from 5 s after its start. The
// engine library copied beside it is RB_BENCH_RBCORE when set (an older one,
// for a figure before a change), else the one built with it.
void BM_ProgramIdleCpuOnPulse(benchmark::State& state) {
    rb::System probe{};
    rb::System_Create(&probe);
    rb::System_SetOutput(probe, rb::OUTPUTTYPE_PULSEAUDIO);
    int plays = 0, records = 0;
    rb::System_GetNumDrivers(probe, &plays);
    rb::System_GetRecordNumDrivers(probe, &records);
    rb::System_Release(probe);
    if (plays == 0) {
        state.SkipWithError("no PulseAudio device");
        return;
    }
    QTemporaryDir dir;
    const QString app = dir.path() + '/';
    const QString lib = qEnvironmentVariableIsSet("RB_BENCH_RBCORE") ? qEnvironmentVariable("RB_BENCH_RBCORE") : RBCORE_LIB;
    QFile::copy(RIMBAL2_BIN, app + "rimbal2");
    QFile::copy(lib, app + QFileInfo(RBCORE_LIB).fileName());
    QFile(app + "rimbal2").setPermissions(QFile::ExeOwner | QFile::ReadOwner);
    QDir().mkpath(app + "plugins");
    QDir().mkpath(app + "Pacotes/Teste");
    {
        QFile wav(app + "Pacotes/Teste/hit.wav");
        wav.open(QIODevice::WriteOnly);
        // 16-bit mono 48 kHz, 4800 frames of a quiet constant.
        QByteArray data(4800 * 2, '\0');
        for (int i = 0; i < 4800; ++i) data[2 * i + 1] = 0x10;
        QByteArray h("RIFF");
        const auto u32 = [&](quint32 v) { for (int b = 0; b < 4; ++b) h.append(char((v >> (8 * b)) & 0xFF)); };
        const auto u16 = [&](quint16 v) { h.append(char(v & 0xFF)); h.append(char(v >> 8)); };
        u32(36 + data.size());
        h.append("WAVEfmt ");
        u32(16); u16(1); u16(1); u32(48000); u32(96000); u16(2); u16(16);
        h.append("data");
        u32(static_cast<quint32>(data.size()));
        wav.write(h + data);
    }
    QFile keys(app + "Pacotes/Teste/Keys.txt");
    keys.open(QIODevice::WriteOnly);
    keys.write("65*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*hit.wav\r\n");
    keys.close();
    QFile ini(app + "rimbal2.ini");
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[Config]\r\nDriver_Playback_Count=%1\r\nDriver_Record_Count=%2\r\nID_Driver_Output=0\r\n"
                             "ID_Driver_Playback=0\r\nID_Driver_Record=0\r\nPackName=Teste\r\nBannerSite=\r\n")
                  .arg(plays).arg(records).toLatin1());
    ini.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const auto ticks = [](qint64 pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) return -1.0;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return f.size() > 12 ? f[11].toDouble() + f[12].toDouble() : -1.0;  // utime, stime
    };
    double share = 0;
    for (auto _ : state) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(app);
        p.start(app + "rimbal2");
        if (!p.waitForStarted(10000)) {
            state.SkipWithError("the program did not start");
            break;
        }
        QThread::sleep(5);
        const double c0 = ticks(p.processId());
        QElapsedTimer wall;
        wall.start();
        QThread::sleep(20);
        const double c1 = ticks(p.processId());
        const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
        p.kill();
        p.waitForFinished(5000);
        if (c0 < 0 || c1 < 0) {
            state.SkipWithError("the program ended");
            break;
        }
        share = (c1 - c0) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
    }
    state.counters["cpu_percent_of_a_core"] = 100.0 * share;
}
BENCHMARK(BM_ProgramIdleCpuOnPulse)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
#endif

}  // namespace
