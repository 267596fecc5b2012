// Layers.txt of the package in use (it travels inside imported packages and
// kits), loaded with a fixed key list as a start-up does: the engine decodes
// the samples the lines name, every key is played at soft, middle and hard
// velocities, a key is edited onto another play key and one removed, which
// rewrite the file, and the table is torn down.
#include "fuzzsupport.h"

#include "base/textfiles.h"

namespace {

fuzz::Program* g_program = nullptr;
const QString kFx = QStringLiteral("0*").repeated(16);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    g_program = new fuzz::Program;
    rimbal::Settings& s = g_program->settings();
    s.PackName = QStringLiteral("Kit");
    const QString folder = g_program->core().PackageFolder();
    fuzz::WriteTone(folder + QStringLiteral("a.wav"), 2400);
    fuzz::WriteTone(folder + QStringLiteral("b.wav"), 2205, 2, 44100);
    fuzz::WriteTone(folder + QStringLiteral("sub/c.wav"), 1200, 1, 22050);
    fuzz::WriteTone(s.PackPath + QStringLiteral("fora.wav"), 600);
    fuzz::WriteFile(folder + QStringLiteral("texto.wav"), "not a sound\r\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rimbal::SoundCore& core = g_program->core();
    const QStringList keys{QStringLiteral("65*0*0*0*0*1,00*") + kFx + QStringLiteral("a.wav"),
                           QStringLiteral("66*0*0*0*1*0,50*") + kFx + QStringLiteral("b.wav"),
                           QStringLiteral("67*0*0*0*0*1,00*") + kFx + QStringLiteral("sub/c.wav")};
    if (!rimbal::WriteTextLines(core.KeysFile(), keys)) fuzz::Fail("cannot write the key list");
    fuzz::WriteFile(core.LayersFile(), fuzz::Bytes(data, size));
    core.LoadKeyLines();
    g_program->CreateSounds();
    int layered = 0;
    for (int i = 0; i < core.ScanCount(); ++i) {
        const rimbal::KeyLayers& k = core.KeySounds[static_cast<std::size_t>(i)].layers;
        fuzz::Check(k.count >= 0 && k.count <= rimbal::kMaxLayers, "a key holds more layers than it may");
        layered += k.count > 0;
    }
    fuzz::Trace(QStringLiteral("%1 good lines, %2 keys with layers").arg(core.Layers.Lines.size()).arg(layered));
    for (const float velocity : {0.0f, 0.5f, 0.8f, 1.0f, -1.0f})
        for (const std::uint16_t key : {65, 66, 67}) core.PlayKey(key, 1.0f, velocity);
    g_program->Render(2);
    // An edit that moves key 65 onto key 68, then a removal: both rewrite the file.
    rimbal::TAG_SOUND_DATA edited = core.KeySounds[0];
    if (edited.sound != rb::Sound{}) {
        edited.playKey = 68;
        core.AddKeySound(edited, true, 0);
    }
    core.RemoveKey(1);
    g_program->PlayEveryKey(2);
    g_program->ReleaseSounds();
    return 0;
}
