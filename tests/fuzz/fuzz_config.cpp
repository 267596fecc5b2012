// rimbal2.ini as a start-up reads it: the INI reader, LoadConfiguration, the
// packages folder made absolute and the engine values derived; then written
// back as the program does at exit, and read again.
#include "fuzzsupport.h"

#include "base/textfiles.h"

#include <QDir>

namespace {

bool sameSettings(const rimbal::Settings& a, const rimbal::Settings& b) {
    return a.Driver_Playback_Count == b.Driver_Playback_Count && a.Driver_Record_Count == b.Driver_Record_Count &&
           a.ID_Driver_Output == b.ID_Driver_Output && a.ID_Driver_Playback == b.ID_Driver_Playback &&
           a.ID_Driver_Record == b.ID_Driver_Record && a.ID_Output_Rate_Freq == b.ID_Output_Rate_Freq &&
           a.ID_Output_Mode == b.ID_Output_Mode && a.ID_Output_Snd_Format == b.ID_Output_Snd_Format &&
           a.ID_Output_Channel == b.ID_Output_Channel && a.FirstRun == b.FirstRun && a.ShowChannels == b.ShowChannels &&
           a.ShowStatus == b.ShowStatus && a.ShowAnimation == b.ShowAnimation && a.UseEffects == b.UseEffects &&
           a.Midi_Input == b.Midi_Input && a.PackPath == b.PackPath && a.PackName == b.PackName &&
           a.BannerSite == b.BannerSite;
}

void checkFolder(const QString& folder, const QString& from) {
    fuzz::Check(QDir::isAbsolutePath(folder) && folder.endsWith(u'/'), "a packages folder that is not an absolute folder",
                QStringLiteral("\"%1\" from \"%2\"").arg(folder, from));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);
    const QString ini = fuzz::App() + QStringLiteral("rimbal2.ini");
    fuzz::WriteFile(ini, bytes);

    rimbal::Settings s(fuzz::App());
    s.LoadConfiguration();
    checkFolder(s.PackPath, QStringLiteral("PackPath"));
    s.DeriveEngineValues();
    int outputType = 0;
    rimbal::Settings::OutputTypeFor(s.ID_Driver_Output, outputType);
    // Every line as a stored packages folder, the form the reader hands over
    // (lines end at CR or LF).
    QString text = rimbal::FromWindows1252(bytes);
    for (const QString& line : text.replace(u'\r', u'\n').split(u'\n')) {
        const QString value = line.mid(line.indexOf(u'=') + 1).trimmed();
        checkFolder(s.NormalizePackPath(value), value);
    }

    QString error;
    if (s.SaveConfiguration(&error)) {
        rimbal::Settings again(fuzz::App());
        again.LoadConfiguration();
        fuzz::Check(sameSettings(s, again), "a saved configuration reads back otherwise",
                    rimbal::FromWindows1252(bytes));
    } else {
        // A refused save leaves the file as it was.
        QFile f(ini);
        fuzz::Check(f.open(QIODevice::ReadOnly) && f.readAll() == bytes, "a refused save changed the file", error);
    }
    return 0;
}
