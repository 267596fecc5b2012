// The program's settings: one value per key of the configuration file beside
// the executable, the application folder, and the engine values derived from
// them. GUI thread.
#pragma once

#include <QString>

#include <cstdint>

namespace rimbal {

// The product's site, where the banner list is published, unless the configuration names another.
inline const QString kBannerDefaultSite = QStringLiteral("https://www.rimbal.com.br");

// Where a program keeps its files. A portable folder keeps its settings and
// packages beside the executable. An installed program (kInstalledMarker lies
// beside the executable) cannot write beside itself: each user's settings,
// packages, recording and banner live in the user's data folder.
struct ProgramPlaces {
    QString programDir;  // the executable's folder, ending with a separator
    QString appDir;      // where the user's files go, ending with a separator
    QString iniPath;
    bool installed = false;
};
inline const QString kInstalledMarker = QStringLiteral("rimbal2.installed");
// executable: the program's absolute path; userDataDir: the user's data folder
// (e.g. ~/.local/share), used only by an installed program.
ProgramPlaces LocateProgram(const QString& executable, const QString& userDataDir);

class Settings {
public:
    // appDir ends with a separator; the configuration file is iniPath, by
    // default appDir + "rimbal2.ini".
    explicit Settings(QString appDir = {}, QString iniPath = {});

    void LoadConfiguration();
    // Writes every key; on failure error holds "Unable to write to <path>" (or
    // why a value cannot be written), the file is left as it was and nothing
    // in memory changes. Settings that were never loaded are not the user's:
    // they are never written, and the call changes nothing.
    bool SaveConfiguration(QString* error = nullptr) const;
    bool IsLoaded() const { return loaded_; }
    // Why a packages folder cannot be kept in the configuration file; empty when it can.
    QString PackPathProblem(const QString& folder) const;

    // The absolute in-memory form of a packages folder, ending with a separator.
    QString NormalizePackPath(const QString& path) const;
    // The folder with a leading AppDir removed (any letter case), when the
    // configuration file reads that back as the same folder.
    QString RelativeForm(const QString& folder) const;

    // Rebuilds OutputRate, OutputFormat and SoundMode from the keys; a value
    // out of range leaves the previous one in force.
    void DeriveEngineValues();
    // The engine output type for ID_Driver_Output; false for a value that sets none.
    static bool OutputTypeFor(int idDriverOutput, int& outputType);

    QString IniPath() const { return iniPath_; }
    void SetIniPath(const QString& path) { iniPath_ = path; }

    // Configuration keys.
    int Driver_Playback_Count = 0;
    int Driver_Record_Count = 0;
    int ID_Driver_Output = -1;
    int ID_Driver_Playback = -1;
    int ID_Driver_Record = -1;
    int ID_Output_Rate_Freq = 0;
    int ID_Output_Mode = 0;
    int ID_Output_Snd_Format = 0;
    int ID_Output_Channel = 0;
    bool FirstRun = true;
    bool ShowChannels = true;
    bool ShowStatus = true;
    bool ShowAnimation = false;
    bool UseEffects = true;
    QString Midi_Input;  // MIDI input port by name; empty = none
    bool Record_Mix = false;  // "Gravar o Que Eu Toco": recordings take the output mix
    // The metronome (always off at a start): beats per minute, beats per bar,
    // and the volume of its clicks in percent.
    int Metronome_BPM = 120;
    int Metronome_Beats = 4;
    int Metronome_Volume = 70;
    bool Master_Limiter = true;  // "Limitador na saída": the output never passes -0.3 dBFS
    QString PackPath;
    QString PackName;
    // Where the banner list is published (scheme and host); empty turns the
    // download off. Read only: a save keeps the line as it stands.
    QString BannerSite;

    QString AppDir;
    // The executable's folder (its plug-ins, and the demo kit an installed
    // program brings); AppDir for a portable folder.
    QString ProgramDir;
    bool StartingUp = false;
    // Set by LoadConfiguration when the stored packages folder could not be
    // used; the start-up reports it.
    QString PackPathWarning;

    // Derived engine values; 0 until a valid value was seen.
    int OutputRate = 0;
    int OutputFormat = 0;
    std::uint32_t SoundMode = 0;

private:
    QString iniPath_;
    bool loaded_ = false;
};

}  // namespace rimbal
