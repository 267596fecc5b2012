// Adding and replacing a key: the record gets its sound, group and effect
// units, the line goes into KeyLines, and Keys.txt is written at once.
#include "soundcore.h"

#include "textfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace rimbal {

bool SoundCore::IsKeyUsed(std::uint16_t key, std::uint8_t which) {
    for (int i = 0; i < ScanCount(); ++i) {
        const TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(i)];
        if (r.sound == rb::Sound{}) continue;
        if (((which & 1) && r.playKey == key) || ((which & 2) && r.stopKey == key)) return true;
    }
    return false;
}

bool SoundCore::writeDefaultInfo() {
    const QStringList lines{
        QStringLiteral("[Info]"),
        QStringLiteral("Name=RUDadiru"),
        QStringLiteral("Author=Rimbal Team"),
        QStringLiteral("Contact=") + kContact,
        QStringLiteral("Version=1.0"),
        QStringLiteral("Comment=Rimbal2 Default Package"),
    };
    QString error;
    if (WriteTextLines(PackageFolder() + QStringLiteral("Info.txt"), lines, &error)) return true;
    prompt_.message(QStringLiteral("Erro"), error, Prompt::Icon::Error, Prompt::Ok);
    return false;
}

bool SoundCore::AddKeySound(TAG_SOUND_DATA definition, bool editing, int index) {
    const QString fileName = definition.fileName;
    if (!editing) {
        if (IsKeyUsed(definition.playKey, 2)) {
            prompt_.message(QStringLiteral("Erro"),
                            QStringLiteral("A tecla para tocar não pode ser iguala uma tecla usada para parar."),
                            Prompt::Icon::Error, Prompt::Ok);
            return false;
        }
        if (IsKeyUsed(definition.stopKey, 1)) {
            prompt_.message(QStringLiteral("Erro"),
                            QStringLiteral("A tecla para silenciar não pode ser iguala uma tecla usada para tocar."),
                            Prompt::Icon::Error, Prompt::Ok);
            return false;
        }
    }

    const auto dropSoundIfOtherFile = [&](TAG_SOUND_DATA& r) {
        if (r.sound != rb::Sound{} && r.fileName.toLower() != fileName.toLower()) {
            CheckResult(rb::Sound_Release(r.sound));
            r.sound = rb::Sound{};
            --KeyCount;
        }
    };
    int slot = -1;
    bool replacing = false;
    if (editing) {
        if (index < 0 || index >= ScanCount()) return false;
        slot = index;
        replacing = true;
        dropSoundIfOtherFile(KeySounds[static_cast<std::size_t>(slot)]);
    } else {
        for (int i = 0; i < ScanCount(); ++i) {
            const TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(i)];
            if (r.sound == rb::Sound{} || r.playKey != definition.playKey) continue;
            const auto answer = prompt_.message(QStringLiteral("Confirmação"),
                                                QStringLiteral("Já existe um som com esta tecla, deseja substituir?"),
                                                Prompt::Icon::Question, Prompt::Yes | Prompt::No);
            if (answer != Prompt::Yes) return false;
            slot = i;
            replacing = true;
            dropSoundIfOtherFile(KeySounds[static_cast<std::size_t>(slot)]);
            break;
        }
        // A new key takes the record of the line it appends, so record i
        // always belongs to line i.
        if (slot < 0) {
            if (KeyLines.size() >= kMaxKeys) return false;
            slot = static_cast<int>(KeyLines.size());
        }
    }

    TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(slot)];
    if (r.sound == rb::Sound{}) {
        const std::uint32_t mode = settings_.SoundMode | (definition.loop ? rb::LOOP_NORMAL : rb::LOOP_OFF);
        CheckResult(rb::System_CreateSound(SoundSystem, QFile::encodeName(fileName).constData(), mode, nullptr, &r.sound));
        if (r.sound == rb::Sound{}) return false;
        ++KeyCount;
    }
    if (r.group == rb::ChannelGroup{})
        CheckResult(rb::System_CreateChannelGroup(SoundSystem, QStringLiteral("Group%1").arg(slot).toUtf8().constData(),
                                                  &r.group));
    for (int j = 0; j < kEffects; ++j) {
        rb::Dsp& unit = r.units[static_cast<std::size_t>(j)];
        if (definition.effects[static_cast<std::size_t>(j)]) {
            if (unit == rb::Dsp{}) CheckResult(rb::System_CreateDSPByIndex(SoundSystem, j + 1, &unit));
            if (unit == rb::Dsp{} || r.group == rb::ChannelGroup{}) continue;
            bool active = false;
            CheckResult(rb::DSP_GetActive(unit, &active));
            if (!active) CheckResult(rb::ChannelGroup_AddDSP(r.group, unit));
        } else if (unit != rb::Dsp{}) {
            CheckResult(rb::DSP_Remove(unit));
        }
    }

    CopyKeySettings(definition, r);
    r.fileName = fileName;
    r.effects = definition.effects;

    QDir().mkpath(settings_.PackPath);
    if (settings_.PackName.isEmpty()) settings_.PackName = kDefaultPackage;
    QDir().mkpath(PackageFolder());

    const QString line = FormatKeyLine(r);
    if (replacing) KeyLines[slot] = line;
    else KeyLines.append(line);

    if (!QFileInfo::exists(PackageFolder() + QStringLiteral("Info.txt")) && !writeDefaultInfo()) return false;
    return SaveKeyLines();
}

}  // namespace rimbal
