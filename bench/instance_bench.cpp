// A later start handing its files to the running program: the socket round
// trip alone, and the whole second start of the real program (process start,
// Qt, hand-over, exit), which a user waits for after a double click.
#include "desktop/singleinstance.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

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
#endif

}  // namespace
