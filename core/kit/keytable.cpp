// The key table: building it from the key list with the engine, tearing it
// down, the preview record, and the Keys.txt format in both directions.
#include "kit/soundcore.h"

#include "kit/packagefiles.h"
#include "kit/soundinfo.h"
#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace rimbal {
namespace {

QByteArray nativePath(const QString& path) { return QFile::encodeName(path); }

// A key's effect units belong to it alone; without this they would pile up
// in the engine with every reload of the table.
void releaseUnits(TAG_SOUND_DATA& r) {
    for (rb::Dsp& unit : r.units) {
        if (unit != rb::Dsp{}) rb::DSP_Release(unit);
        unit = rb::Dsp{};
    }
}

}  // namespace

QString SoundCore::PackageFolder() const { return settings_.PackPath + settings_.PackName + u'/'; }

QString SoundCore::KeysFile() const { return PackageFolder() + QStringLiteral("Keys.txt"); }

bool SoundCore::LoadKeyLines() {
    KeyLines.clear();
    if (settings_.PackName.isEmpty()) return true;
    const QString file = KeysFile();
    if (!QFileInfo(file).isFile()) {
        ErrorLog.append(QStringLiteral("Arquivo de teclas não encontrado: ") + file);
        return false;
    }
    // Under the package bound, so a key list of millions of lines costs
    // neither the memory nor the minutes at every start.
    QString error;
    if (!ReadPackageText(file, KeyLines, &error)) {
        ErrorLog.append(error);
        return false;
    }
    return true;
}

bool SoundCore::WriteKeyLines(const QStringList& lines) {
    QDir().mkpath(PackageFolder());
    QString error;
    if (WriteTextLines(KeysFile(), lines, &error)) return true;
    prompt_.message(QStringLiteral("Erro"), error, Prompt::Icon::Error, Prompt::Ok);
    return false;
}

QString SoundCore::FormatKeyLine(const TAG_SOUND_DATA& key) const {
    QString line = QStringLiteral("%1*%2*%3*%4*%5*")
                       .arg(key.playKey)
                       .arg(key.stopKey)
                       .arg(key.noInterrupt)
                       .arg(key.stopAll)
                       .arg(key.loop);
    line += FormatFixed2(key.volume) + u'*';
    for (std::uint8_t e : key.effects) line += QString::number(e) + u'*';
    return line + StoredFileName(key.fileName);
}

QString SoundCore::StoredFileName(const QString& fileName) const {
    // Files inside the package folder are stored relative to it, so the
    // package can move; only a leading match, as the file system compares.
    const QString folder = PackageFolder();
    return fileName.startsWith(folder, kFileNameCase) ? fileName.mid(folder.size()) : fileName;
}

QString SoundCore::ResolveStoredName(const QString& stored) const {
    return HasDrive(stored) ? stored : JoinRelative(PackageFolder(), stored);
}

QString SoundCore::KeyFileProblem(const QString& fileName) const {
    const QString stored = StoredFileName(fileName);
    if (stored.contains(u'*')) return QStringLiteral("contém \"*\", que separa os campos da lista de teclas");
    if (const QString p = TextLineProblem(stored); !p.isEmpty()) return p;
    if (ResolveStoredName(stored) != fileName)
        return QStringLiteral("seria lido da lista de teclas como outro arquivo (%1)").arg(ResolveStoredName(stored));
    return {};
}

QString SoundCore::SafeCopyName(const QString& fileName) const {
    const QFileInfo info(fileName);
    const auto clean = [](const QString& part) {
        QString out;
        for (const QChar c : part) {
            const QString one(c);
            if (c != u'*' && c != u'\\' && c.unicode() >= 32 && TextLineProblem(one).isEmpty()) {
                out += c;
                continue;
            }
            // Accented letters outside the code page keep their base letter.
            QString base;
            for (const QChar d : one.normalized(QString::NormalizationForm_KD))
                if (!d.isMark() && d.unicode() >= 32 && TextLineProblem(QString(d)).isEmpty() && d != u'*' && d != u'\\') base += d;
            out += base.isEmpty() ? QStringLiteral("_") : base;
        }
        return out;
    };
    QString stem = clean(info.completeBaseName());
    const QString suffix = clean(info.suffix());
    if (std::none_of(stem.cbegin(), stem.cend(), [](QChar c) { return c.isLetterOrNumber(); })) stem = QStringLiteral("som");
    const QString ext = suffix.isEmpty() ? QString() : u'.' + suffix;
    QString name = stem + ext;
    for (int n = 2; QFileInfo::exists(PackageFolder() + name); ++n) name = QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(ext);
    return PackageFolder() + name;
}

void SoundCore::parseLine(int i, const QString& line) {
    TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(i)];
    EmptyRecord(r);
    const QString sep = QStringLiteral("*");
    bool valid = true;
    int v = 0;
    const QString f1 = GetField(line, 1, sep), f2 = GetField(line, 2, sep);
    if (ToInteger(f1, v)) r.playKey = static_cast<std::uint16_t>(v);
    else { ErrorLog.append(f1 + QStringLiteral(" não é um valor de tecla válido.")); valid = false; }
    if (ToInteger(f2, v)) r.stopKey = static_cast<std::uint16_t>(v);
    else { ErrorLog.append(f2 + QStringLiteral(" não é um valor de tecla válido.")); valid = false; }

    const qsizetype star = line.lastIndexOf(u'*');
    const QString name = ResolveStoredName(star < 0 ? line : line.mid(star + 1));
    if (QFileInfo(name).isFile()) {
        r.fileName = name;
    } else {
        ErrorLog.append(QStringLiteral("Arquivo não existe: ") + name);
        valid = false;
    }
    if (!valid) {
        EmptyRecord(r);
        return;
    }

    std::uint32_t mode = settings_.SoundMode;
    const auto option = [&](int field, std::uint8_t& out) {
        const QString f = GetField(line, field, sep);
        int x = 0;
        if (ToInteger(f, x)) {
            out = static_cast<std::uint8_t>(x);
            return true;
        }
        ErrorLog.append(f + QStringLiteral(" não é um valor válido."));
        return false;
    };
    option(3, r.noInterrupt);
    option(4, r.stopAll);
    if (option(5, r.loop)) mode |= r.loop ? rb::LOOP_NORMAL : rb::LOOP_OFF;
    const QString f6 = GetField(line, 6, sep);
    float volume = 1.0f;
    if (ToVolume(f6, volume)) r.volume = volume;
    else ErrorLog.append(f6 + QStringLiteral(" não é um valor válido."));
    for (int j = 0; j < kEffects; ++j)
        if (ToInteger(GetField(line, 7 + j, sep), v)) r.effects[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(v);

    LogResult(rb::System_CreateSound(SoundSystem, nativePath(r.fileName).constData(), mode, nullptr, &r.sound));
    if (r.sound == rb::Sound{}) return;
    ++KeyCount;
    LogResult(rb::System_CreateChannelGroup(SoundSystem, QStringLiteral("Group%1").arg(i).toUtf8().constData(), &r.group));
    for (int j = 0; j < kEffects; ++j) {
        if (!r.effects[static_cast<std::size_t>(j)]) continue;
        rb::Dsp& unit = r.units[static_cast<std::size_t>(j)];
        LogResult(rb::System_CreateDSPByIndex(SoundSystem, j + 1, &unit));
        if (unit != rb::Dsp{} && r.group != rb::ChannelGroup{}) LogResult(rb::ChannelGroup_AddDSP(r.group, unit));
    }
}

void SoundCore::CreateSounds(bool withRecordBuffer) {
    KeyCount = 0;
    settings_.DeriveEngineValues();
    if ((settings_.SoundMode & rb::MODE_SOFTWARE) && settings_.OutputRate != 0)
        LogResult(rb::System_SetSoftwareFormat(SoundSystem, settings_.OutputRate, settings_.OutputFormat, 0, 0,
                                               rb::DSP_RESAMPLER_LINEAR));
    LogResult(rb::System_Init(SoundSystem, rb::kMaxChannels, rb::INIT_NORMAL, nullptr));
    ApplyLimiter();
    Layers.Load(settings_.PackName.isEmpty() ? QString() : PackageFolder(), ErrorLog);

    const int lines = static_cast<int>(std::min<qsizetype>(KeyLines.size(), kMaxKeys));
    for (int i = 0; i < lines; ++i) {
        parseLine(i, KeyLines[i]);
        if (OnSoundCreated) OnSoundCreated(i + 1, lines + static_cast<int>(Layers.Lines.size()));
    }
    // The rest stays in the list, so a rewrite of Keys.txt loses nothing;
    // one line says so, however many there are.
    if (KeyLines.size() == kMaxKeys + 1)
        ErrorLog.append(QStringLiteral("Linha %1 da lista de teclas ignorada: o limite é de %2 teclas.")
                            .arg(kMaxKeys + 1)
                            .arg(kMaxKeys));
    else if (KeyLines.size() > kMaxKeys + 1)
        ErrorLog.append(QStringLiteral("Linhas %1 a %2 da lista de teclas ignoradas (%3 linhas): o limite é de %4 teclas.")
                            .arg(kMaxKeys + 1)
                            .arg(KeyLines.size())
                            .arg(KeyLines.size() - kMaxKeys)
                            .arg(kMaxKeys));
    loadLayers();

    if (withRecordBuffer) {
        int rate = settings_.OutputRate;
        if (rate == 0) rb::System_GetSoftwareFormat(SoundSystem, &rate, nullptr);
        rb::CreateSoundExInfo info{};
        info.cbsize = sizeof info;
        info.numchannels = 2;
        info.defaultfrequency = rate;
        info.format = rb::SOUND_FORMAT_PCM16;
        info.length = static_cast<std::uint32_t>(rate) * 8;  // two seconds of 16-bit stereo
        LogResult(rb::System_CreateSound(SoundSystem, nullptr, rb::MODE_OPENUSER | rb::MODE_SOFTWARE | rb::MODE_2D,
                                         &info, &RecordSound));
    }
    NoteMap.LoadForPackage(settings_.PackName.isEmpty() ? QString() : PackageFolder(), ErrorLog);
    ShowErrorLog(QStringLiteral("Erros ao criar sons"));
}

void SoundCore::ReleaseSounds(bool withRecordSounds) {
    if (SoundSystem == rb::System{}) return;
    if (OnReleasing) OnReleasing();
    // Every record, whatever KeyLines holds by now; a record that lost its
    // sound may still hold its group and units.
    for (int i = 0; i < kMaxKeys; ++i) {
        TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(i)];
        if (r.sound != rb::Sound{}) LogResult(rb::Sound_Release(r.sound));
        if (r.group != rb::ChannelGroup{}) LogResult(rb::ChannelGroup_Release(r.group));
        releaseUnits(r);
        EmptyRecord(r);
    }
    KeyCount = 0;
    for (const PooledSound& p : layerPool_) LogResult(rb::Sound_Release(p.sound));
    layerPool_.clear();
    layerBytes_ = 0;
    if (withRecordSounds) {
        if (RecordSound != rb::Sound{}) LogResult(rb::Sound_Release(RecordSound));
        if (PlaybackSound != rb::Sound{}) LogResult(rb::Sound_Release(PlaybackSound));
        RecordSound = rb::Sound{};
        PlaybackSound = rb::Sound{};
    }
    LogResult(rb::System_Close(SoundSystem));
    ShowErrorLog(QStringLiteral("Erros ao liberar sons"));
}

void SoundCore::LoadPendingSound(const QString& fileName) {
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile() || fileName == PendingKey.fileName) return;
    if (PendingKey.sound != rb::Sound{}) {
        CheckResult(rb::Sound_Release(PendingKey.sound));
        if (PendingKey.group != rb::ChannelGroup{}) CheckResult(rb::ChannelGroup_Release(PendingKey.group));
        PendingKey.sound = rb::Sound{};
        PendingKey.group = rb::ChannelGroup{};
    }
    PendingKey.fileName = fileName;
    CheckResult(rb::System_CreateSound(SoundSystem, nativePath(fileName).constData(), settings_.SoundMode, nullptr,
                                       &PendingKey.sound));
    if (PendingKey.sound != rb::Sound{}) {
        LogResult(rb::System_CreateChannelGroup(SoundSystem, "GroupTemp", &PendingKey.group));
        for (int j = 0; j < kEffects; ++j) {
            if (!PendingKey.effects[static_cast<std::size_t>(j)]) continue;
            rb::Dsp& unit = PendingKey.units[static_cast<std::size_t>(j)];
            if (unit == rb::Dsp{}) LogResult(rb::System_CreateDSPByIndex(SoundSystem, j + 1, &unit));
            if (unit != rb::Dsp{} && PendingKey.group != rb::ChannelGroup{})
                LogResult(rb::ChannelGroup_AddDSP(PendingKey.group, unit));
        }
    }
    QCoreApplication::processEvents();
}

void SoundCore::ReleasePendingSound() {
    if (PendingKey.sound != rb::Sound{}) CheckResult(rb::Sound_Release(PendingKey.sound));
    PendingKey.sound = rb::Sound{};
    if (PendingKey.group != rb::ChannelGroup{}) CheckResult(rb::ChannelGroup_Release(PendingKey.group));
    // The preview's units are ours alone; the next key starts without them.
    for (rb::Dsp unit : PendingKey.units)
        if (unit != rb::Dsp{}) rb::DSP_Release(unit);
    EmptyRecord(PendingKey);
}

void SoundCore::RemoveKey(int index) {
    if (index < 0 || index >= KeyLines.size()) return;
    if (index < kMaxKeys) {
        TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(index)];
        // The key's layer lines go with it, unless another key plays them too.
        if (r.layers.count > 0 && !layersWanted(r.playKey, index)) moveLayers(r.playKey, 0);
        if (r.sound != rb::Sound{}) {
            CheckResult(rb::Sound_Release(r.sound));
            --KeyCount;
        }
        if (r.group != rb::ChannelGroup{}) CheckResult(rb::ChannelGroup_Release(r.group));
        releaseUnits(r);
        for (int i = index; i + 1 < kMaxKeys; ++i)
            KeySounds[static_cast<std::size_t>(i)] = std::move(KeySounds[static_cast<std::size_t>(i + 1)]);
        EmptyRecord(KeySounds[kMaxKeys - 1]);
    }
    KeyLines.removeAt(index);
    // A line that had no place in the table may have one now.
    if (index < kMaxKeys && KeyLines.size() >= kMaxKeys) {
        parseLine(kMaxKeys - 1, KeyLines[kMaxKeys - 1]);
        loadLayers();  // its layers, if it has any; the others keep theirs
        ShowErrorLog(QStringLiteral("Erros ao criar sons"));
    }
}

// ---- layers ----

rb::Sound SoundCore::layerSound(const QString& path, std::uint32_t mode) {
    for (const PooledSound& p : layerPool_)
        if (p.mode == mode && p.path.compare(path, kFileNameCase) == 0) return p.sound;
    if (layerBytes_ >= LayerBudget) return rb::Sound{};
    rb::Sound sound{};
    LogResult(rb::System_CreateSound(SoundSystem, nativePath(path).constData(), mode, nullptr, &sound));
    if (sound == rb::Sound{}) return sound;
    layerBytes_ += DecodedBytes(SoundSystem, sound);
    layerPool_.push_back({path, mode, sound});
    if (OnSoundCreated)
        OnSoundCreated(ScanCount() + static_cast<int>(layerPool_.size()), ScanCount() + static_cast<int>(Layers.Lines.size()));
    return sound;
}

bool SoundCore::buildLayers(int index, const QList<LayerLine>& lines, const QStringList& paths, int& reported) {
    TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(index)];
    const auto report = [&](const QString& text) {
        if (reported++ < LayerFile::kMaxReported) ErrorLog.append(text);
    };
    // An edit that moves a key onto another's may bring their lines past the
    // bound the file's reader keeps.
    if (lines.size() > kMaxLayers) {
        report(QStringLiteral("%1: a tecla %2 tem mais de %3 camadas; ela toca só a amostra de Keys.txt.")
                   .arg(LayerFile::kFileName)
                   .arg(r.playKey)
                   .arg(kMaxLayers));
        return false;
    }
    // Keys.txt names the layer a plain reader plays: a key whose sample is
    // none of its layers was given another sound since.
    if (!paths.contains(r.fileName, kFileNameCase)) {
        report(QStringLiteral("%1: a tecla %2 toca %3, que não é uma das suas camadas; ela toca só essa amostra.")
                   .arg(LayerFile::kFileName)
                   .arg(r.playKey)
                   .arg(r.fileName));
        return false;
    }
    const std::uint32_t mode = settings_.SoundMode | (r.loop ? rb::LOOP_NORMAL : rb::LOOP_OFF);
    KeyLayers built;
    built.top = 0.0f;
    for (int i = 0; i < lines.size(); ++i) {
        const LayerLine& l = lines[i];
        const bool own = paths[i].compare(r.fileName, kFileNameCase) == 0;
        const rb::Sound sound = own ? r.sound : layerSound(paths[i], mode);
        if (sound == rb::Sound{}) {
            report(layerBytes_ >= LayerBudget
                       ? QStringLiteral("%1: as camadas passam de %2 de memória; a tecla %3 toca só a amostra de Keys.txt.")
                             .arg(LayerFile::kFileName, LayerBudgetText())
                             .arg(l.key)
                       : QStringLiteral("%1, linha %2 recusada: a amostra %3 não pôde ser lida. A tecla %4 toca a amostra de Keys.txt.")
                             .arg(LayerFile::kFileName)
                             .arg(l.lineNumber)
                             .arg(paths[i])
                             .arg(l.key));
            return false;
        }
        built.layer[static_cast<std::size_t>(built.count++)] = KeyLayer{sound, l.min, l.max, l.gain, l.pan};
        built.top = std::max(built.top, l.max);
    }
    r.layers = built;
    return true;
}

void SoundCore::loadLayers() {
    // The lines of each key, keys in the order the file first names them.
    QList<std::uint16_t> keys;
    QHash<std::uint16_t, QList<LayerLine>> linesOf;
    for (const LayerLine& l : Layers.Lines) {
        if (!linesOf.contains(l.key)) keys.append(l.key);
        linesOf[l.key].append(l);
    }
    int reported = 0;
    for (const std::uint16_t key : keys) {
        const QList<LayerLine>& lines = linesOf[key];
        QList<int> records;
        for (int i = 0; i < ScanCount(); ++i) {
            const TAG_SOUND_DATA& r = KeySounds[static_cast<std::size_t>(i)];
            if (r.sound != rb::Sound{} && r.playKey == key && r.layers.count == 0) records.append(i);
        }
        if (records.isEmpty()) continue;  // a key the list does not hold, or one that has its layers already
        QStringList paths;
        bool missing = false;
        for (const LayerLine& l : lines) {
            paths.append(ResolveStoredName(l.file));
            if (QFileInfo(paths.last()).isFile()) continue;
            if (reported++ < LayerFile::kMaxReported)
                ErrorLog.append(QStringLiteral("%1, linha %2 recusada: a amostra não existe: %3. A tecla %4 toca a amostra de Keys.txt.")
                                    .arg(LayerFile::kFileName)
                                    .arg(l.lineNumber)
                                    .arg(paths.last())
                                    .arg(key));
            missing = true;
        }
        if (missing) continue;
        for (const int i : records) buildLayers(i, lines, paths, reported);
    }
    if (reported > LayerFile::kMaxReported)
        ErrorLog.append(QStringLiteral("%1: mais %2 avisos.").arg(LayerFile::kFileName).arg(reported - LayerFile::kMaxReported));
}

bool SoundCore::layersWanted(std::uint16_t key, int except) const {
    for (int i = 0; i < ScanCount(); ++i)
        if (i != except && KeySounds[static_cast<std::size_t>(i)].sound != rb::Sound{} &&
            KeySounds[static_cast<std::size_t>(i)].playKey == key)
            return true;
    return false;
}

bool SoundCore::moveLayers(std::uint16_t from, std::uint16_t to) {
    QStringList lines = Layers.Raw;
    if (!Layers.Present || !LayerFile::Retarget(lines, from, to, false)) return true;
    return writeLayers(lines);
}

bool SoundCore::writeLayers(const QStringList& lines) {
    QString error;
    if (!WriteTextLines(LayersFile(), lines, &error)) {
        prompt_.message(QStringLiteral("Erro"), error, Prompt::Icon::Error, Prompt::Ok);
        return false;
    }
    takeLayerLines(lines);
    return true;
}

void SoundCore::takeLayerLines(const QStringList& lines) {
    // The good lines as they now stand, keys refused at load still refused.
    QList<LayerLine> good;
    for (int i = 0; i < lines.size(); ++i) {
        LayerLine l;
        QString why;
        if (!LayerFile::Parse(lines[i], l, why) || Layers.Refused.contains(l.key)) continue;
        l.lineNumber = i + 1;
        good.append(l);
    }
    Layers.Raw = lines;
    Layers.Lines = good;
}

}  // namespace rimbal
