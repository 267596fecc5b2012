// The sound core: the engine handle, the key table and its key list, the
// preview record, result checks, playing and adding keys. GUI thread only.
#pragma once

#include "kit/layers.h"
#include "kit/midimap.h"
#include "base/prompt.h"
#include "settings/settings.h"

#include "rbcore.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace rimbal {

inline constexpr int kMaxKeys = 64;
inline constexpr int kSlots = 15;
inline constexpr int kEffects = 16;

// One defined key: the engine objects made for it and its settings.
struct TAG_SOUND_DATA {
    rb::Sound sound{};
    rb::ChannelGroup group{};
    std::array<rb::Dsp, kEffects> units{};        // unit i serves effect i (plug-in i+1)
    std::array<rb::Channel, kSlots> channels{};   // one per overlapping play
    std::uint16_t playKey = 0;
    std::uint16_t stopKey = 0;
    QString fileName;
    float volume = 1.0f;
    std::uint8_t noInterrupt = 0;
    std::uint8_t loop = 0;
    std::uint8_t stopAll = 0;
    std::array<std::uint8_t, kEffects> effects{};
    std::array<std::uint8_t, kSlots> ledStates{};  // the channel display's own
    // From the package's Layers.txt: the samples a hit chooses among. Without
    // any, the key plays its sound as it always did.
    KeyLayers layers;
};

class SoundCore {
public:
    SoundCore(Settings& settings, Prompt& prompt, LogView& log);
    SoundCore(const SoundCore&) = delete;
    SoundCore& operator=(const SoundCore&) = delete;

    // ---- result checks ----
    static QString ErrorText(rb::Result r);
    // Stores r in LastResult; a failure opens the error box.
    void CheckResult(rb::Result r);
    // Stores r in LastResult; a failure is appended to ErrorLog.
    void LogResult(rb::Result r);
    // Shows ErrorLog under caption when it holds anything, then empties it.
    void ShowErrorLog(const QString& caption);

    // ---- plug-ins ----
    // Sets the plug-in folder, fills CodecNames, EffectNames and OutputNames,
    // and makes one master unit per effect plug-in (slots 1 to 15).
    void ListPlugins(const QString& pluginFolder);
    // A plug-in name as shown: an "FMOD" prefix and the character after it
    // dropped; an empty name becomes a generated one so that item i of
    // EffectNames always stands for plug-in i+1.
    static QString PluginDisplayName(const QString& raw, int index);

    // ---- the key table ----
    void CreateSounds(bool withRecordBuffer);
    void ReleaseSounds(bool withRecordSounds);
    void LoadPendingSound(const QString& fileName);
    void ReleasePendingSound();
    // Loads KeyLines from the package in use; false (and an ErrorLog line)
    // when its Keys.txt is missing.
    bool LoadKeyLines();
    // Writes KeyLines (or lines) to the package's Keys.txt; on failure shows
    // the error and leaves the file as it was.
    bool SaveKeyLines() { return WriteKeyLines(KeyLines); }
    bool WriteKeyLines(const QStringList& lines);
    QString PackageFolder() const;  // PackPath + PackName + separator
    QString KeysFile() const;
    // The key list line of a definition, file name relative to the package
    // folder where it lies inside it.
    QString FormatKeyLine(const TAG_SOUND_DATA& key) const;
    // The file name part of a key line, and the full path it is read back as.
    QString StoredFileName(const QString& fileName) const;
    QString ResolveStoredName(const QString& stored) const;
    // Why a sound file's name cannot go into Keys.txt and be read back as the
    // same file; empty when it can.
    QString KeyFileProblem(const QString& fileName) const;
    // A free name in the package folder for a copy of fileName that the key
    // list can hold.
    QString SafeCopyName(const QString& fileName) const;
    // Takes key i out of the table and its line out of KeyLines; later keys
    // move down one place so records and lines stay aligned.
    void RemoveKey(int index);
    // The number of records the scans visit: one per line, at most 64.
    int ScanCount() const { return KeyLines.size() < kMaxKeys ? static_cast<int>(KeyLines.size()) : kMaxKeys; }

    // Switches the engine's master limiter as Master_Limiter says.
    void ApplyLimiter() { LogResult(rb::System_SetMasterLimiter(SoundSystem, settings_.Master_Limiter)); }

    // ---- playing ----
    bool IsChannelPlaying(rb::Channel channel);
    // volumeFactor scales the key's volume for this play only (a MIDI velocity).
    // velocity (0 to 1) picks a layered key's layer; below 0, the package's
    // key velocity, as a computer key plays.
    // momentNs: when the key event happened, on the steady clock (SteadyNowNs);
    // the play then sounds the engine's constant delay after it. 0 (no
    // moment: previews, sequences, renders) starts it with the next buffer.
    void PlayKey(std::uint16_t key, float volumeFactor = 1.0f, float velocity = -1.0f, std::int64_t momentNs = 0);
    // Round robin starts afresh from seed, every key as if never played:
    // a render plays the same layers every time.
    void SeedLayers(std::uint64_t seed);

    // ---- adding ----
    bool AddKeySound(TAG_SOUND_DATA definition, bool editing, int index);
    bool IsKeyUsed(std::uint16_t key, std::uint8_t which);

    static void EmptyRecord(TAG_SOUND_DATA& r) { r = TAG_SOUND_DATA{}; }
    // The key's own settings: both keys, the three options and the volume.
    static void CopyKeySettings(const TAG_SOUND_DATA& from, TAG_SOUND_DATA& to) {
        to.playKey = from.playKey;
        to.stopKey = from.stopKey;
        to.noInterrupt = from.noInterrupt;
        to.stopAll = from.stopAll;
        to.loop = from.loop;
        to.volume = from.volume;
    }

    // ---- state ----
    rb::System SoundSystem{};
    rb::Result LastResult = rb::OK;
    QStringList ErrorLog;
    QStringList EffectNames;
    QStringList CodecNames;
    QStringList OutputNames;
    std::array<rb::Dsp, kEffects> MasterEffects{};
    rb::Sound RecordSound{};
    rb::Sound PlaybackSound{};
    std::array<TAG_SOUND_DATA, kMaxKeys> KeySounds{};
    QStringList KeyLines;
    int KeyCount = 0;
    MidiMap NoteMap;  // the package's MIDI notes, loaded with its sounds
    LayerFile Layers;  // the package's Layers.txt, loaded with its sounds
    LayerRandom LayerChoice;
    // The decoded samples all layers together may take; what comes after
    // plays the Keys.txt sample alone. Kit imports keep within it too.
    static constexpr std::uint64_t kMaxLayerBytes = std::uint64_t{1} << 30;
    std::uint64_t LayerBudget = kMaxLayerBytes;
    QString LayerBudgetText() const { return QStringLiteral("%1 MB").arg((LayerBudget + (1u << 20) - 1) >> 20); }
    QString LayersFile() const { return PackageFolder() + LayerFile::kFileName; }
    TAG_SOUND_DATA PendingKey;
    std::uint32_t PlayCount = 0;
    // What the engine mended by itself and the status panel tells once (a
    // larger buffer after underruns); the panel empties it.
    QString StatusNotice;
    // Called by CreateSounds after each line (lines done, all lines), so a
    // long load can report progress and keep the windows painted.
    std::function<void(int, int)> OnSoundCreated;
    // Called first by ReleaseSounds, while every engine object still exists
    // (a running audio recording completes its take there).
    std::function<void()> OnReleasing;

    static const QString kDefaultPackage;
    static const QString kContact;

    Settings& settings() { return settings_; }

private:
    void parseLine(int index, const QString& line);
    // Gives the keys their layers from Layers; errors go to ErrorLog.
    void loadLayers();
    bool buildLayers(int index, const QList<LayerLine>& lines, const QStringList& paths, int& reported);
    rb::Sound layerSound(const QString& path, std::uint32_t mode);
    // Layers.txt with the lines of key `from` given to key `to` (0: dropped);
    // false, after showing why, when the file cannot be written.
    bool moveLayers(std::uint16_t from, std::uint16_t to);
    bool writeLayers(const QStringList& lines);
    void takeLayerLines(const QStringList& lines);
    bool layersWanted(std::uint16_t key, int except) const;
    bool writeDefaultInfo();
    // Offers to copy a file whose name the key list cannot hold into the
    // package folder; fileName becomes the copy. False when the user refuses
    // or the copy fails; copied names the copy made.
    bool acceptKeyFile(QString& fileName, QString& copied);

    Settings& settings_;
    Prompt& prompt_;
    LogView& log_;
    struct PooledSound {
        QString path;
        std::uint32_t mode = 0;
        rb::Sound sound{};
    };
    std::vector<PooledSound> layerPool_;  // layer samples other than the keys' own, each loaded once
    std::uint64_t layerBytes_ = 0;
};

}  // namespace rimbal
