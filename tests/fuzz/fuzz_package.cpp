// Package archives (.rbp) imported as "Importar Pacote de Sons" does into a
// program that has the package Kit in use: the archive reading, the entry
// names, the staging folder, the name question and the new package taken
// into use. Nothing is ever written outside the packages folder, and a failed
// import changes no file and nothing in memory.
#include "fuzzsupport.h"

#include "packages/packages.h"

#include <QFileInfo>

namespace {

fuzz::Program* g_program = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    g_program = new fuzz::Program;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Program& program = *g_program;
    rimbal::Settings& s = program.settings();
    rimbal::SoundCore& core = program.core();
    program.ReleaseSounds();
    fuzz::EmptyFolder(s.PackPath);
    fuzz::MakeKitPackage(program);
    const QStringList before = fuzz::Tree(s.PackPath);
    const QStringList lines = core.KeyLines;
    // A clash with Kit is overwritten, renamed or given up, by the input's length.
    fuzz::AnswerNameQuestion(program.prompt, size);

    const QString archive = fuzz::Scratch() + QStringLiteral("in/pacote.rbp");
    fuzz::WriteFile(archive, fuzz::Bytes(data, size));
    rimbal::Packages packages(core, program.prompt, program.log);
    const bool imported = packages.ImportPackage(archive);

    fuzz::Trace(imported ? QStringLiteral("imported as %1, %2 keys").arg(s.PackName).arg(core.KeyCount)
                         : QStringLiteral("not imported"));
    fuzz::CheckContained(s, {QStringLiteral("in/")});
    if (imported) {
        fuzz::Check(QFileInfo(core.KeysFile()).isFile(), "the imported package in use has no key list", s.PackName);
        fuzz::Check(rimbal::Packages::IsValidPackageName(s.PackName), "a package was imported under an invalid name",
                    s.PackName);
        fuzz::CheckRestart(s);
    } else {
        fuzz::CheckSame(before, fuzz::Tree(s.PackPath), "a failed import changed the packages folder");
        fuzz::Check(s.PackName == QStringLiteral("Kit") && core.KeyLines == lines,
                    "a failed import changed the package in use", s.PackName);
    }
    program.PlayEveryKey(2);
    return 0;
}
