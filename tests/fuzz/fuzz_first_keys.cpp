// Key lists of the first version ("code;path" lines) turned into a new
// package as "Importar Teclas do Rimbal 1.0..." does, and taken into use.
// Paths are looked up in the current folder, which holds two sounds.
#include "fuzzsupport.h"

#include "packages/packages.h"
#include "base/textfiles.h"

#include <QDir>

namespace {

fuzz::Program* g_program = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    g_program = new fuzz::Program;
    const QString cwd = fuzz::App() + QStringLiteral("cwd/");
    fuzz::WriteTone(cwd + QStringLiteral("a.wav"), 960);
    fuzz::WriteTone(cwd + QStringLiteral("sons/b.wav"), 441, 2, 44100);
    QDir::setCurrent(cwd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Program& program = *g_program;
    rimbal::Settings& s = program.settings();
    rimbal::SoundCore& core = program.core();
    program.ReleaseSounds();
    fuzz::EmptyFolder(s.PackPath);
    // An earlier import, in another letter case: the next one is RUDadiru2.
    QDir().mkpath(s.PackPath + QStringLiteral("rudadiru1"));
    if (!rimbal::WriteTextLines(s.PackPath + QStringLiteral("rudadiru1/Keys.txt"), {}))
        fuzz::Fail("cannot lay out the earlier import");
    s.PackName.clear();
    core.KeyLines.clear();
    program.CreateSounds();
    const QStringList before = fuzz::Tree(s.PackPath);

    const QString file = fuzz::Scratch() + QStringLiteral("in/teclas.txt");
    fuzz::WriteFile(file, fuzz::Bytes(data, size));
    QStringList errors;
    const bool imported = rimbal::Packages(core, program.prompt, program.log).ImportFirstVersionKeys(file, errors);

    fuzz::Trace(QStringLiteral("%1, %2 keys; %3").arg(imported ? "imported" : "not imported").arg(core.KeyCount).arg(errors.join(QStringLiteral(" | "))));
    fuzz::CheckContained(s, {QStringLiteral("in/"), QStringLiteral("a/b/c/app/cwd/")});
    if (imported) {
        fuzz::Check(s.PackName == QStringLiteral("RUDadiru2"), "the import took another name", s.PackName);
        fuzz::CheckRestart(s);
        QStringList stored;
        fuzz::Check(rimbal::ReadTextLines(core.KeysFile(), stored) && stored == core.KeyLines,
                    "the key list in use is not the one written");
        fuzz::Check(QDir(core.PackageFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) ==
                        QStringList({QStringLiteral("Info.txt"), QStringLiteral("Keys.txt")}),
                    "the new package holds more than its two lists");
    } else {
        fuzz::CheckSame(before, fuzz::Tree(s.PackPath), "a failed import changed the packages folder");
    }
    program.PlayEveryKey(2);
    return 0;
}
