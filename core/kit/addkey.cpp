// Adding and replacing a key: the record gets its sound, group and effect
// units, the line goes into KeyLines, and Keys.txt is written at once.
#include "kit/soundcore.h"

#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <functional>
#include <vector>

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

namespace {

// Undoes the steps of a store that did not finish, newest first.
class Undo {
public:
    ~Undo() {
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) (*it)();
    }
    void add(std::function<void()> step) { steps_.push_back(std::move(step)); }
    void commit() { steps_.clear(); }

private:
    std::vector<std::function<void()>> steps_;
};

// Creates folder if it is missing; the undo removes it again while empty.
void makeFolder(const QString& folder, Undo& undo) {
    if (QFileInfo(folder).isDir() || !QDir().mkpath(folder)) return;
    undo.add([folder] { QDir().rmdir(folder); });
}

}  // namespace

bool SoundCore::acceptKeyFile(QString& fileName, QString& copied) {
    const QString problem = KeyFileProblem(fileName);
    if (problem.isEmpty()) return true;
    const QString copy = SafeCopyName(fileName);
    const auto answer = prompt_.message(
        QStringLiteral("Confirmação"),
        QStringLiteral("O nome do arquivo\n%1\nnão pode ser gravado na lista de teclas: %2.\n\n"
                       "Deseja copiar o arquivo para a pasta do pacote como \"%3\" e usar a cópia?")
            .arg(fileName, problem, QFileInfo(copy).fileName()),
        Prompt::Icon::Question, Prompt::Yes | Prompt::No);
    if (answer != Prompt::Yes) return false;
    if (!QFile::copy(fileName, copy)) {
        prompt_.message(QStringLiteral("Erro"), QStringLiteral("Não foi possível copiar o arquivo para %1").arg(copy),
                        Prompt::Icon::Error, Prompt::Ok);
        return false;
    }
    copied = copy;
    fileName = copy;
    return true;
}

// Nothing changes until Keys.txt is written: a store that fails on the way
// leaves the table, the key list, the package name and the files as they were.
bool SoundCore::AddKeySound(TAG_SOUND_DATA definition, bool editing, int index) {
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

    int slot = -1;
    bool replacing = false;
    if (editing) {
        if (index < 0 || index >= ScanCount()) return false;
        slot = index;
        replacing = true;
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
            break;
        }
        // A new key takes the record of the line it appends, so record i
        // always belongs to line i.
        if (slot < 0) {
            if (KeyLines.size() >= kMaxKeys) return false;
            slot = static_cast<int>(KeyLines.size());
        }
    }

    Undo undo;
    if (settings_.PackName.isEmpty()) {
        settings_.PackName = kDefaultPackage;
        undo.add([this] { settings_.PackName.clear(); });
    }
    makeFolder(settings_.PackPath, undo);
    makeFolder(PackageFolder(), undo);

    // The name must come back from Keys.txt as the same file.
    QString fileName = definition.fileName;
    if (QFileInfo(fileName).isRelative()) fileName = QFileInfo(fileName).absoluteFilePath();
    QString copied;
    if (!acceptKeyFile(fileName, copied)) return false;
    if (!copied.isEmpty()) undo.add([copied] { QFile::remove(copied); });

    TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(slot)];
    // Another name, as the file system tells names apart, is another sound.
    const bool keepSound = r.sound != rb::Sound{} && r.fileName.compare(fileName, kFileNameCase) == 0;
    rb::Sound sound = r.sound;
    if (!keepSound) {
        sound = rb::Sound{};
        const std::uint32_t mode = settings_.SoundMode | (definition.loop ? rb::LOOP_NORMAL : rb::LOOP_OFF);
        CheckResult(rb::System_CreateSound(SoundSystem, QFile::encodeName(fileName).constData(), mode, nullptr, &sound));
        if (sound == rb::Sound{}) return false;
        undo.add([sound] { rb::Sound_Release(sound); });
    }
    rb::ChannelGroup group = r.group;
    if (group == rb::ChannelGroup{}) {
        CheckResult(rb::System_CreateChannelGroup(SoundSystem, QStringLiteral("Group%1").arg(slot).toUtf8().constData(),
                                                  &group));
        if (group != rb::ChannelGroup{}) undo.add([group] { rb::ChannelGroup_Release(group); });
    }

    // The layers follow the key: another play key takes them along, another
    // sound leaves them behind; lines of the new key that are not its own go.
    const std::uint16_t oldKey = replacing ? r.playKey : 0;
    const bool hadLayers = replacing && r.layers.count > 0;
    QStringList layerLines = Layers.Raw;
    bool layersChanged = false;
    if (Layers.Present) {
        if (keepSound && hadLayers && definition.playKey != oldKey) {
            layersChanged = LayerFile::Retarget(layerLines, oldKey, definition.playKey, layersWanted(oldKey, slot));
        } else if (!keepSound) {
            if (hadLayers && !layersWanted(oldKey, slot)) layersChanged |= LayerFile::Retarget(layerLines, oldKey, 0, false);
            if (!layersWanted(definition.playKey, slot))
                layersChanged |= LayerFile::Retarget(layerLines, definition.playKey, 0, false);
        }
    }
    if (layersChanged) {
        const QStringList before = Layers.Raw;
        if (!writeLayers(layerLines)) return false;
        undo.add([this, before] {
            if (WriteTextLines(LayersFile(), before)) takeLayerLines(before);
        });
    }

    TAG_SOUND_DATA stored = definition;
    stored.fileName = fileName;
    QStringList lines = KeyLines;
    if (replacing) lines[slot] = FormatKeyLine(stored);
    else lines.append(FormatKeyLine(stored));
    const QString info = PackageFolder() + QStringLiteral("Info.txt");
    if (!QFileInfo::exists(info)) {
        if (!writeDefaultInfo()) return false;
        undo.add([info] { QFile::remove(info); });
    }
    if (!WriteKeyLines(lines)) return false;
    undo.commit();

    if (!keepSound) {
        if (r.sound != rb::Sound{}) CheckResult(rb::Sound_Release(r.sound));
        else ++KeyCount;
        r.sound = sound;
        r.layers = KeyLayers{};
    }
    r.group = group;
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
    KeyLines = lines;
    return true;
}

}  // namespace rimbal
