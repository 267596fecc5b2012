// The Hydrogen targets' program: a kit folder of the user's with samples
// (good, broken, in a sub-folder, a link leading out), and the import of
// "Importar Kit do Hydrogen..." into a program that has the package Kit in
// use, with its checks.
#pragma once

#include "fuzzsupport.h"

#include "packages/packages.h"

#include <QFile>
#include <QFileInfo>

namespace fuzz {

class KitProgram {
public:
    KitProgram() {
        const QString kit = Folder();
        WriteTone(kit + QStringLiteral("kick.wav"), 960);
        WriteTone(kit + QStringLiteral("snare.wav"), 882, 2, 44100);
        WriteTone(kit + QStringLiteral("hat.wav"), 480);
        WriteTone(kit + QStringLiteral("sub/tom.wav"), 480, 1, 22050);
        WriteTone(kit + QString::fromUtf8("Ácento.wav"), 240);
        WriteFile(kit + QStringLiteral("bad.wav"), "RIFF, but not a sound");
        WriteTone(Scratch() + QStringLiteral("outside.wav"), 240);
        QFile::link(Scratch() + QStringLiteral("outside.wav"), kit + QStringLiteral("fora.wav"));
    }

    // The folder of the user's kit.
    static QString Folder() { return Scratch() + QStringLiteral("kits/Kit/"); }

    void Import(const QString& path, std::size_t variant) {
        rimbal::Settings& s = program.settings();
        rimbal::SoundCore& core = program.core();
        program.ReleaseSounds();
        EmptyFolder(s.PackPath);
        MakeKitPackage(program);
        const QStringList before = Tree(s.PackPath);
        const QStringList kitBefore = Tree(Scratch() + QStringLiteral("kits/"));
        const QStringList lines = core.KeyLines;
        AnswerNameQuestion(program.prompt, variant);

        const rimbal::KitImport done = rimbal::Packages(core, program.prompt, program.log).ImportHydrogenKit(path);

        Trace(QStringLiteral("result %1, package \"%2\", %3 keys; %4; left out: %5")
                  .arg(done.result)
                  .arg(done.package)
                  .arg(core.KeyCount)
                  .arg(done.errors.join(QStringLiteral(" | ")), done.notImported.join(QStringLiteral(" | "))));
        CheckContained(s, {QStringLiteral("in/"), QStringLiteral("kits/"), QStringLiteral("outside.wav")});
        CheckSame(kitBefore, Tree(Scratch() + QStringLiteral("kits/")), "the import changed the user's kit folder");
        if (done.result == rimbal::KitImport::Imported) {
            Check(s.PackName == done.package && QFileInfo(core.KeysFile()).isFile(),
                  "the imported kit is not the package in use", done.package);
            Check(rimbal::Packages::IsValidPackageName(done.package), "a kit was imported under an invalid name",
                  done.package);
            Check(!core.KeyLines.isEmpty() && core.KeyLines.size() <= rimbal::kMaxKeys,
                  "an imported kit with no keys or too many");
            CheckRestart(s);
        } else {
            CheckSame(before, Tree(s.PackPath), "a failed kit import changed the packages folder");
            Check(s.PackName == QStringLiteral("Kit") && core.KeyLines == lines,
                  "a failed kit import changed the package in use", s.PackName);
            Check(done.result == rimbal::KitImport::Cancelled || !done.errors.isEmpty(),
                  "a failed kit import without a reason");
        }
        program.PlayEveryKey(2);
    }

    Program program;
};

}  // namespace fuzz
