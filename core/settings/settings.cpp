// Loading and saving rimbal2.ini, the packages folder's forms, and the engine
// values they give.
#include "settings/settings.h"

#include "settings/inifile.h"
#include "base/textfiles.h"
#include "base/textroutines.h"

#include "rbcore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace rimbal {
namespace {

const QString kSection = QStringLiteral("Config");

// Decimal, or hexadecimal after 0x; anything else is the default.
int readInt(const IniFile& ini, const char* key, int fallback) {
    const auto v = ini.value(kSection, QString::fromLatin1(key));
    if (!v) return fallback;
    const QString t = v->trimmed();
    bool ok = false;
    int value = 0;
    if (t.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)) {
        const qlonglong h = t.mid(2).toLongLong(&ok, 16);
        value = static_cast<int>(h);
        ok = ok && h <= 0xFFFFFFFFLL;
    } else {
        value = t.toInt(&ok, 10);
    }
    return ok ? value : fallback;
}

// A stored folder on a drive or share of Windows, also behind the leading
// backslash that means "inside the application folder" (\C:\Sons).
bool namesWindowsDrive(const QString& stored) {
    const QString t = stored.trimmed();
    return IsWindowsPath(t) || (t.startsWith(u'\\') && IsWindowsPath(t.mid(1)));
}

bool readBool(const IniFile& ini, const char* key, bool fallback) {
    const int sentinel = 0x7FFF1234;
    const int v = readInt(ini, key, sentinel);
    return v == sentinel ? fallback : v != 0;
}

}  // namespace

Settings::Settings(QString appDir, QString iniPath)
    : AppDir(std::move(appDir)), ProgramDir(AppDir), iniPath_(std::move(iniPath)) {
    if (iniPath_.isEmpty()) iniPath_ = AppDir + QStringLiteral("rimbal2.ini");
}

ProgramPlaces LocateProgram(const QString& executable, const QString& userDataDir) {
    const QFileInfo exe(executable);
    ProgramPlaces p;
    p.programDir = exe.absolutePath() + u'/';
    p.installed = QFileInfo(p.programDir + kInstalledMarker).isFile() && !userDataDir.isEmpty();
    p.appDir = p.installed ? QDir::cleanPath(userDataDir) + QStringLiteral("/rimbal2/") : p.programDir;
    // The executable's name with ".ini", as the Windows program named it.
    p.iniPath = p.appDir + exe.fileName() + QStringLiteral(".ini");
    return p;
}

void Settings::LoadConfiguration() {
    IniFile ini;
    ini.load(iniPath_);
    Driver_Playback_Count = readInt(ini, "Driver_Playback_Count", 0);
    Driver_Record_Count = readInt(ini, "Driver_Record_Count", 0);
    ID_Driver_Output = readInt(ini, "ID_Driver_Output", -1);
    ID_Driver_Playback = readInt(ini, "ID_Driver_Playback", -1);
    ID_Driver_Record = readInt(ini, "ID_Driver_Record", -1);
    ID_Output_Rate_Freq = readInt(ini, "ID_Output_Rate_Freq", 0);
    ID_Output_Mode = readInt(ini, "ID_Output_Mode", 0);
    ID_Output_Snd_Format = readInt(ini, "ID_Output_Snd_Format", 0);
    ID_Output_Channel = readInt(ini, "ID_Output_Channel", 0);
    FirstRun = readBool(ini, "FirstRun", true);
    Midi_Input = ini.value(kSection, QStringLiteral("Midi_Input")).value_or(QString()).left(2047);
    ShowChannels = readBool(ini, "ShowChannels", true);
    ShowStatus = readBool(ini, "ShowStatus", true);
    ShowAnimation = readBool(ini, "ShowAnimation", false);
    UseEffects = readBool(ini, "UseEffects", true);
    Record_Mix = readBool(ini, "Record_Mix", false);
    const auto ranged = [&](const char* key, int fallback, int low, int high) {
        const int v = readInt(ini, key, fallback);
        return v < low || v > high ? fallback : v;
    };
    Metronome_BPM = ranged("Metronome_BPM", 120, 30, 300);
    Metronome_Beats = ranged("Metronome_Beats", 4, 1, 12);
    Metronome_Volume = ranged("Metronome_Volume", 70, 0, 100);
    Master_Limiter = readBool(ini, "Master_Limiter", true);
    // Blanks around a folder are never part of it, quoted or not.
    const QString packPath =
        ini.value(kSection, QStringLiteral("PackPath")).value_or(QStringLiteral("Pacotes\\")).trimmed().left(2047);
    PackPath = NormalizePackPath(packPath);
    PackPathWarning.clear();
    if (namesWindowsDrive(packPath))
        PackPathWarning = QStringLiteral("A pasta de pacotes %1 é um caminho do Windows e não existe neste sistema; "
                                         "será usada a pasta %2")
                              .arg(packPath.trimmed(), PackPath);
    PackName = ini.value(kSection, QStringLiteral("PackName")).value_or(QString()).left(2047);
    BannerSite = ini.value(kSection, QStringLiteral("BannerSite")).value_or(kBannerDefaultSite).trimmed();
    loaded_ = true;
}

QString Settings::PackPathProblem(const QString& folder) const {
    const QString stored = RelativeForm(folder);
    if (const QString problem = TextLineProblem(stored); !problem.isEmpty())
        return QStringLiteral("O nome da pasta de pacotes ") + problem + u'.';
    // A backslash is read back as a separator.
    const QString read = NormalizePackPath(stored.trimmed());
    if (read.compare(folder.endsWith(u'/') ? folder : folder + u'/', kFileNameCase) != 0)
        return QStringLiteral("A pasta de pacotes seria lida da configuração como outra pasta (%1).").arg(read);
    return {};
}

bool Settings::SaveConfiguration(QString* error) const {
    if (!loaded_) return true;
    // A value turned into "?" would name another folder or package at the next start.
    QString problem = PackPathProblem(PackPath);
    if (problem.isEmpty() && !TextLineProblem(PackName).isEmpty())
        problem = QStringLiteral("O nome do pacote \"%1\" ").arg(PackName) + TextLineProblem(PackName) + u'.';
    if (!problem.isEmpty()) {
        if (error) *error = QStringLiteral("A configuração não foi gravada em %1. %2").arg(iniPath_, problem);
        return false;
    }
    IniFile ini;
    ini.load(iniPath_);
    const auto num = [](int v) { return QString::number(v); };
    const auto flag = [](bool v) { return v ? QStringLiteral("1") : QStringLiteral("0"); };
    ini.setValue(kSection, QStringLiteral("Driver_Playback_Count"), num(Driver_Playback_Count));
    ini.setValue(kSection, QStringLiteral("Driver_Record_Count"), num(Driver_Record_Count));
    ini.setValue(kSection, QStringLiteral("ID_Driver_Output"), num(ID_Driver_Output));
    ini.setValue(kSection, QStringLiteral("ID_Driver_Playback"), num(ID_Driver_Playback));
    ini.setValue(kSection, QStringLiteral("ID_Driver_Record"), num(ID_Driver_Record));
    ini.setValue(kSection, QStringLiteral("ID_Output_Rate_Freq"), num(ID_Output_Rate_Freq));
    ini.setValue(kSection, QStringLiteral("ID_Output_Mode"), num(ID_Output_Mode));
    ini.setValue(kSection, QStringLiteral("ID_Output_Snd_Format"), num(ID_Output_Snd_Format));
    ini.setValue(kSection, QStringLiteral("ID_Output_Channel"), num(ID_Output_Channel));
    ini.setValue(kSection, QStringLiteral("FirstRun"), flag(FirstRun));
    ini.setValue(kSection, QStringLiteral("ShowChannels"), flag(ShowChannels));
    ini.setValue(kSection, QStringLiteral("ShowStatus"), flag(ShowStatus));
    ini.setValue(kSection, QStringLiteral("ShowAnimation"), flag(ShowAnimation));
    ini.setValue(kSection, QStringLiteral("UseEffects"), flag(UseEffects));
    ini.setValue(kSection, QStringLiteral("PackPath"), RelativeForm(PackPath));
    ini.setValue(kSection, QStringLiteral("PackName"), IniFile::Quoted(PackName));
    ini.setValue(kSection, QStringLiteral("Midi_Input"), IniFile::Quoted(Midi_Input));
    ini.setValue(kSection, QStringLiteral("Record_Mix"), flag(Record_Mix));
    ini.setValue(kSection, QStringLiteral("Metronome_BPM"), num(Metronome_BPM));
    ini.setValue(kSection, QStringLiteral("Metronome_Beats"), num(Metronome_Beats));
    ini.setValue(kSection, QStringLiteral("Metronome_Volume"), num(Metronome_Volume));
    ini.setValue(kSection, QStringLiteral("Master_Limiter"), flag(Master_Limiter));
    return WriteTextLines(iniPath_, ini.lines(), error);
}

QString Settings::NormalizePackPath(const QString& path) const {
    QString p = path;
    // A leading backslash means "inside the application folder", as the
    // Windows program wrote it.
    if (!p.trimmed().isEmpty() && p.startsWith(u'\\')) p.remove(0, 1);
    p.replace(u'\\', u'/');
    if (!p.trimmed().isEmpty() && !p.endsWith(u'/')) p += u'/';
    // HasDrive looks past leading blanks; a path that starts with one is relative all the same.
    if (!p.trimmed().isEmpty() && (!HasDrive(p) || p.front().isSpace())) p = AppDir + p;
    // A drive of another system is no folder here; never resolve it against the current folder.
    if (p.trimmed().isEmpty() || namesWindowsDrive(path)) p = AppDir + QStringLiteral("Pacotes/");
    return p;
}

QString Settings::RelativeForm(const QString& folder) const {
    if (AppDir.isEmpty() || !folder.startsWith(AppDir, kFileNameCase)) return folder;
    // Only a form the reader takes back as this same folder: it trims the
    // value, and an empty one names the default folder.
    const QString rest = folder.mid(AppDir.size());
    const QString whole = folder.endsWith(u'/') ? folder : folder + u'/';
    return NormalizePackPath(rest.trimmed()).compare(whole, kFileNameCase) == 0 ? rest : folder;
}

void Settings::DeriveEngineValues() {
    static constexpr int kRates[] = {48000, 44100, 32000, 24000, 22050};
    if (ID_Output_Rate_Freq >= 0 && ID_Output_Rate_Freq <= 4) OutputRate = kRates[ID_Output_Rate_Freq];
    static constexpr int kFormats[] = {rb::SOUND_FORMAT_PCM32, rb::SOUND_FORMAT_PCM24, rb::SOUND_FORMAT_PCM16};
    if (ID_Output_Snd_Format >= 0 && ID_Output_Snd_Format <= 2) OutputFormat = kFormats[ID_Output_Snd_Format];
    SoundMode = 0;
    if (ID_Output_Mode == 0) SoundMode |= rb::MODE_SOFTWARE;
    else if (ID_Output_Mode == 1) SoundMode |= rb::MODE_HARDWARE;
    if (ID_Output_Channel == 0) SoundMode |= rb::MODE_2D;
    else if (ID_Output_Channel == 1) SoundMode |= rb::MODE_3D;
}

bool Settings::OutputTypeFor(int idDriverOutput, int& outputType) {
    switch (idDriverOutput) {
    case -1:
    case 0: outputType = rb::OUTPUTTYPE_PULSEAUDIO; return true;
    case 1: outputType = rb::OUTPUTTYPE_ALSA; return true;
    case 2: outputType = rb::OUTPUTTYPE_JACK; return true;
    default: return false;
    }
}

}  // namespace rimbal
