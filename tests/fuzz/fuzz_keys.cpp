// Keys.txt of the package in use, loaded into the key table as a start-up
// does: the engine decodes the sound files the lines name (made once by the
// harness), every key is played and stopped, the first one is removed as the
// key list window does, and the table is torn down.
#include "fuzzsupport.h"

namespace {

fuzz::Program* g_program = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    g_program = new fuzz::Program;
    rimbal::Settings& s = g_program->settings();
    s.PackName = QStringLiteral("Kit");
    const QString folder = g_program->core().PackageFolder();
    // What a key list may name: files in and under the package folder, in
    // the mixer's rate and another, mono and stereo, and one beside the folder.
    fuzz::WriteTone(folder + QStringLiteral("a.wav"), 2400);
    fuzz::WriteTone(folder + QStringLiteral("b.wav"), 2205, 2, 44100);
    fuzz::WriteTone(folder + QStringLiteral("sub/c.wav"), 1200, 1, 22050);
    fuzz::WriteTone(folder + QString::fromUtf8("ação.wav"), 600);
    fuzz::WriteTone(s.PackPath + QStringLiteral("fora.wav"), 600);
    fuzz::WriteFile(folder + QStringLiteral("texto.wav"), "not a sound\r\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rimbal::SoundCore& core = g_program->core();
    fuzz::WriteFile(core.KeysFile(), fuzz::Bytes(data, size));
    core.LoadKeyLines();
    const QStringList lines = core.KeyLines;
    g_program->CreateSounds();
    fuzz::Trace(QStringLiteral("%1 lines, %2 sounds").arg(lines.size()).arg(core.KeyCount));
    fuzz::Check(core.KeyCount <= core.ScanCount(), "more sounds than key lines");
    g_program->PlayEveryKey(4);
    core.RemoveKey(0);
    fuzz::Check(core.KeyLines.size() == std::max<qsizetype>(0, lines.size() - 1), "a removal lost another line");
    g_program->PlayEveryKey(2);
    g_program->ReleaseSounds();
    return 0;
}
