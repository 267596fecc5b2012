// Sound files through the engine's decoder as the key definition dialog takes
// one: the bytes in a file, the preview sound created in the program's mode,
// its information read for the "Info" tab, played once and looping for a few
// blocks of the null output, and released.
#include "fuzzsupport.h"

#include "kit/soundinfo.h"

#include <QFile>

namespace {

fuzz::Program* g_program = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    g_program = new fuzz::Program;
    g_program->CreateSounds();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Program& program = *g_program;
    rimbal::SoundCore& core = program.core();
    // The decoder goes by the contents; a few names of files that say little
    // about themselves.
    static const char* const kNames[] = {"som", "som.wav", "som.mp3", "som.ogg", "som.vox", "som.au"};
    const QString path = fuzz::Scratch() + QStringLiteral("in/") + QLatin1String(kNames[size % std::size(kNames)]);
    fuzz::WriteFile(path, fuzz::Bytes(data, size));

    core.LoadPendingSound(path);
    const rb::Sound sound = core.PendingKey.sound;
    if (sound != rb::Sound{}) {
        QStringList memo1, memo2;
        rimbal::SoundInfo(core, path, sound, memo1, memo2);
        fuzz::Trace((memo1 + memo2).join(QStringLiteral(" | ")));
        rb::Channel channel{};
        rb::System_PlaySound(core.SoundSystem, rb::CHANNEL_FREE, sound, false, &channel);
        program.Render(4, 512);
        rb::Sound_SetMode(sound, rb::LOOP_NORMAL);
        rb::System_PlaySound(core.SoundSystem, rb::CHANNEL_FREE, sound, false, &channel);
        program.Render(4, 512);
    }
    else fuzz::Trace(program.prompt.texts().join(QStringLiteral(" | ")));
    core.ReleasePendingSound();
    program.Render(1);
    program.prompt.asked.clear();
    QFile::remove(path);
    return 0;
}
