// rimbal2 --render-sequence FILE.rbs --output OUT.wav [--package NAME] [--rate 44100|48000]
//
// Loads the configuration and the package, reads the sequence with the
// program's own loader and checks, plays it through PlayKey on the engine's
// null output and writes the result. Messages go to standard error.
#include "render.h"

#include "base/prompt.h"
#include "sequences/sequence.h"
#include "sequences/sequencerender.h"
#include "settings/settings.h"
#include "kit/demokit.h"
#include "kit/soundcore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>

namespace rimbal {
namespace {

void say(FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
    std::fputc('\n', to);
}

// Whatever the core would ask or show goes to standard error; questions are
// declined.
class StderrPrompt : public Prompt {
public:
    Button message(const QString& caption, const QString& text, Icon, int buttons) override {
        say(stderr, caption + QStringLiteral(": ") + text);
        return (buttons & No) ? No : (buttons & Cancel) ? Cancel : Ok;
    }
    bool input(const QString&, const QString&, QString&) override { return false; }
    QString openFile(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&, const QString&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
};

class StderrLog : public LogView {
public:
    void showLog(const QString& caption, const QStringList& lines) override {
        say(stderr, caption + u':');
        for (const QString& line : ShownLogLines(lines)) say(stderr, QStringLiteral("  ") + line);
    }
};

const char* const kUsage =
    "Uso: rimbal2 --render-sequence ARQUIVO.rbs --output SAIDA.wav [--package NOME] [--rate 44100|48000]";

int failWith(const QString& text) {
    say(stderr, QStringLiteral("rimbal2: ") + text);
    return 1;
}

struct Options {
    QString sequence, output, package;
    int rate = 0;  // 0: the configured one
};

// False with the message in error for anything but the four options.
bool parse(const QStringList& args, Options& o, QString& error) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        QString name = args[i], value;
        bool inlineValue = false;
        if (const qsizetype eq = name.indexOf(u'='); name.startsWith(QStringLiteral("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            inlineValue = true;
        }
        QString* target = name == QStringLiteral("--render-sequence") ? &o.sequence
                          : name == QStringLiteral("--output")        ? &o.output
                          : name == QStringLiteral("--package")       ? &o.package
                          : name == QStringLiteral("--rate")          ? &value
                                                                      : nullptr;
        if (!target) {
            error = QStringLiteral("opção desconhecida: %1").arg(args[i]);
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("falta o valor de %1").arg(name);
                return false;
            }
            value = args[++i];
        }
        if (target != &value) *target = value;
        if (name == QStringLiteral("--rate")) {
            o.rate = value.toInt();
            if (o.rate != 44100 && o.rate != 48000) {
                error = QStringLiteral("taxa não suportada: %1 (use 44100 ou 48000)").arg(value);
                return false;
            }
        }
    }
    if (o.sequence.isEmpty() || o.output.isEmpty()) {
        error = QStringLiteral("indique a sequência e o arquivo de saída");
        return false;
    }
    return true;
}

// The engine, released whatever way the render ends.
struct EngineGuard {
    SoundCore& core;
    ~EngineGuard() {
        if (core.SoundSystem == rb::System{}) return;
        core.ReleaseSounds(true);
        rb::System_Release(core.SoundSystem);
        core.SoundSystem = rb::System{};
    }
};

}  // namespace

int RenderCommand(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    QString error;
    if (!parse(QCoreApplication::arguments(), o, error)) {
        say(stderr, QString::fromLatin1(kUsage));
        return failWith(error);
    }
    if (!QFileInfo(o.sequence).isFile()) return failWith(QStringLiteral("Arquivo não encontrado: %1").arg(o.sequence));

    const ProgramPlaces places = LocateProgram(QCoreApplication::applicationFilePath(),
                                               QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    Settings settings(places.appDir, places.iniPath);
    settings.ProgramDir = places.programDir;
    settings.LoadConfiguration();
    if (QString demoError; !CopyDemoKit(settings, &demoError)) say(stderr, demoError);
    if (!o.package.isEmpty()) settings.PackName = o.package;
    StderrPrompt prompt;
    StderrLog log;
    SoundCore core(settings, prompt, log);
    if (settings.PackName.isEmpty())
        return failWith(QStringLiteral("Nenhum pacote em uso; indique um com --package."));
    if (!QFileInfo(core.KeysFile()).isFile())
        return failWith(QStringLiteral("Pacote não encontrado: %1 (%2)").arg(settings.PackName, core.PackageFolder()));
    core.LoadKeyLines();

    // The configured quality and effects, on the null output.
    settings.DeriveEngineValues();
    if (o.rate != 0) {
        settings.ID_Output_Rate_Freq = o.rate == 48000 ? 0 : 1;
        settings.DeriveEngineValues();
    }
    EngineGuard guard{core};
    rb::System_Create(&core.SoundSystem);
    if (core.SoundSystem == rb::System{} || rb::System_SetOutput(core.SoundSystem, rb::OUTPUTTYPE_NULL) != rb::OK)
        return failWith(QStringLiteral("Não foi possível iniciar a engine de som."));
    if (settings.OutputRate != 0)
        rb::System_SetSoftwareFormat(core.SoundSystem, settings.OutputRate, settings.OutputFormat, 0, 0,
                                     rb::DSP_RESAMPLER_LINEAR);
    core.CreateSounds(false);

    Sequence sequence(core, prompt);
    QString text, message, reason;
    if (!sequence.ReadFile(o.sequence, text, message, &reason))
        return failWith(reason.isEmpty() ? QStringLiteral("%1: %2").arg(o.sequence, message)
                                         : QStringLiteral("%1: %2 (%3)").arg(o.sequence, message, reason));
    sequence.AppendLoaded(text);

    RenderResult result;
    if (!RenderSequence(core, sequence.SequenceText, o.output, result, error)) return failWith(error);
    say(stdout, QStringLiteral("%1: %2 s renderizados (%3 quadros a %4 Hz, %5 teclas)")
                    .arg(o.output)
                    .arg(static_cast<double>(result.frames) / result.rate, 0, 'f', 3)
                    .arg(result.frames)
                    .arg(result.rate)
                    .arg(result.keys));
    return 0;
}

}  // namespace rimbal
