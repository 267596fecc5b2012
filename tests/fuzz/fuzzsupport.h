// What the fuzz targets share: one Qt application per process, a scratch
// folder that each run empties as it needs, the program's owner objects with
// a scripted prompt and a log window that discards, the engine on its null
// output, and the checks that end a run as a finding.
#pragma once

#include "scriptedprompt.h"
#include "settings/settings.h"
#include "kit/soundcore.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fuzz {

// What a run came to, on standard error when RB_FUZZ_TRACE is set (to see
// what one input does: RB_FUZZ_TRACE=1 fuzz_package FILE).
void Trace(const QString& text);

// The log window of a program nobody watches.
class NullLog final : public rimbal::LogView {
public:
    void showLog(const QString& caption, const QStringList& lines) override {
        Trace(caption + QStringLiteral(": ") + lines.join(QStringLiteral(" | ")));
    }
};

// Once per process, from LLVMFuzzerInitialize.
void Init(int* argc, char*** argv);

// The process's scratch folder, ending with "/". Each target lays out its
// own folders under it; the program's application folder lies a few folders
// down (App()), so that a write that climbs out of it is still caught here.
QString Scratch();
QString App();

QByteArray Bytes(const std::uint8_t* data, std::size_t size);
void WriteFile(const QString& path, const QByteArray& bytes);
// Removes everything inside path and leaves it empty (made when missing).
void EmptyFolder(const QString& path);
// A short tone as a 16-bit WAV file, made with the program's own header.
void WriteTone(const QString& path, int frames, int channels = 1, int rate = 48000);

// Every entry under root, relative, sorted; links end with " -> target",
// files with their size.
QStringList Tree(const QString& root);

// Fails unless everything under Scratch() lies where the program may write:
// the harness's own folders (relative to Scratch(), ending with "/"), the
// folders down to the packages folder, and package folders in it that hold
// plain files only. No links, and nothing hidden left behind.
void CheckContained(const rimbal::Settings& settings, const QStringList& own);

// Fails when the two listings differ, naming the entries that do.
void CheckSame(const QStringList& before, const QStringList& after, const char* what);

// Answers the question an import asks when its package's name is taken:
// overwrite, rename to "Renomeado" or give up, by variant.
void AnswerNameQuestion(ScriptedPrompt& prompt, std::size_t variant);

// The package in use survives a restart: the configuration is saved as the
// program does when it closes and read again as the next start does.
void CheckRestart(const rimbal::Settings& settings);

// Ends the run as a finding: libFuzzer keeps the input as a crash.
[[noreturn]] void Fail(const char* what, const QString& detail = {});
inline void Check(bool ok, const char* what, const QString& detail = {}) {
    if (!ok) Fail(what, detail);
}

// The program without windows: its settings in App(), the sound core on the
// engine's null output, answers from a script and a log that discards.
class Program {
public:
    Program();
    ~Program();

    // The engine is made once; each call builds the key table from KeyLines
    // as a start-up or a package change does.
    void CreateSounds();
    void ReleaseSounds();
    // Mixes blocks of the null output as the audio thread would, then lets
    // the engine reclaim what was released.
    void Render(int blocks, unsigned frames = 256);
    // Plays every defined key and its stop key, then renders.
    void PlayEveryKey(int blocks);

    rimbal::Settings& settings() { return *settings_; }
    rimbal::SoundCore& core() { return *core_; }

    ScriptedPrompt prompt;
    NullLog log;

private:
    std::unique_ptr<rimbal::Settings> settings_;
    std::unique_ptr<rimbal::SoundCore> core_;
};

// Lays out a small package "Kit" (one key on k.wav) in the packages folder
// and takes it into use, as a program that already has a kit.
void MakeKitPackage(Program& program);

}  // namespace fuzz
