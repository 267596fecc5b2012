// The configuration file: defaults, number forms, packages folder forms,
// saving, and a save that cannot be written.
#include "settings/settings.h"
#include "base/textfiles.h"

#include "rbcore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

using namespace rimbal;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        appDir = dir.path() + u'/';
    }
    void writeIni(const QStringList& lines) { ASSERT_TRUE(WriteTextLines(appDir + "rimbal2.ini", lines)); }
    QStringList readIni() {
        QStringList lines;
        ReadTextLines(appDir + "rimbal2.ini", lines);
        return lines;
    }
    QTemporaryDir dir;
    QString appDir;
};

TEST_F(SettingsTest, NoFileGivesTheDefaults) {
    Settings s(appDir);
    s.LoadConfiguration();
    EXPECT_EQ(s.ID_Driver_Output, -1);
    EXPECT_EQ(s.ID_Driver_Playback, -1);
    EXPECT_EQ(s.ID_Driver_Record, -1);
    EXPECT_EQ(s.Driver_Playback_Count, 0);
    EXPECT_TRUE(s.FirstRun);
    EXPECT_TRUE(s.ShowChannels);
    EXPECT_TRUE(s.ShowStatus);
    EXPECT_FALSE(s.ShowAnimation);
    EXPECT_TRUE(s.UseEffects);
    EXPECT_EQ(s.PackPath, appDir + "Pacotes/");
    EXPECT_EQ(s.PackName, "");
}

TEST_F(SettingsTest, TheMasterLimiterIsOnUnlessTheFileSaysOtherwise) {
    Settings s(appDir);
    s.LoadConfiguration();
    EXPECT_TRUE(s.Master_Limiter);
    s.Master_Limiter = false;
    ASSERT_TRUE(s.SaveConfiguration());
    EXPECT_TRUE(readIni().contains("Master_Limiter=0"));
    Settings again(appDir);
    again.LoadConfiguration();
    EXPECT_FALSE(again.Master_Limiter);
}

TEST_F(SettingsTest, NumbersHexadecimalYesAndAnyCase) {
    writeIni({"; kept comment", "[CONFIG]", "id_output_mode=0x1", "UseEffects=yes", "ShowStatus=7", "ShowChannels=0",
              "ID_Driver_Output = 2 ", "ID_Driver_Playback=-1", "Driver_Record_Count=abc", "PackName=Meu Kit"});
    Settings s(appDir);
    s.LoadConfiguration();
    EXPECT_EQ(s.ID_Output_Mode, 1);
    EXPECT_TRUE(s.UseEffects) << "yes is not a number: the default";
    EXPECT_TRUE(s.ShowStatus) << "any number but 0 is true";
    EXPECT_FALSE(s.ShowChannels);
    EXPECT_EQ(s.ID_Driver_Output, 2);
    EXPECT_EQ(s.Driver_Record_Count, 0);
    EXPECT_EQ(s.PackName, "Meu Kit");
}

TEST_F(SettingsTest, PackagesFolderForms) {
    Settings s(appDir);
    EXPECT_EQ(s.NormalizePackPath("Pacotes\\"), appDir + "Pacotes/");
    EXPECT_EQ(s.NormalizePackPath("\\Pacotes"), appDir + "Pacotes/");
    EXPECT_EQ(s.NormalizePackPath("Pacotes"), appDir + "Pacotes/");
    EXPECT_EQ(s.NormalizePackPath(""), appDir + "Pacotes/");
    EXPECT_EQ(s.NormalizePackPath("   "), appDir + "Pacotes/");
    EXPECT_EQ(s.NormalizePackPath("\\Sons"), appDir + "Sons/");
    EXPECT_EQ(s.NormalizePackPath("/srv/kits"), "/srv/kits/");
    EXPECT_EQ(s.NormalizePackPath("\\  \\srv\\kits"), appDir + "  /srv/kits/") << "blanks after the backslash";
    EXPECT_EQ(s.NormalizePackPath("E:\\Kits"), appDir + "Pacotes/") << "no drive of another system";
    writeIni({"[Config]", "PackPath="});
    s.LoadConfiguration();
    EXPECT_EQ(s.PackPath, appDir + "Pacotes/") << "present but empty";
}

TEST_F(SettingsTest, SaveWritesEveryKeyKeepsOtherLinesAndReadsBack) {
    writeIni({"; kept comment", "[Other]", "x=1", "[config]", "showanimation=1", "Unknown=keep me"});
    Settings s(appDir);
    s.LoadConfiguration();
    EXPECT_TRUE(s.ShowAnimation);
    s.FirstRun = false;
    s.ID_Driver_Playback = 3;
    s.PackName = "Samba";
    s.PackPath = appDir + "Sons/";
    ASSERT_TRUE(s.SaveConfiguration());
    const QStringList lines = readIni();
    EXPECT_TRUE(lines.contains("; kept comment"));
    EXPECT_TRUE(lines.contains("Unknown=keep me"));
    EXPECT_TRUE(lines.contains("x=1"));
    EXPECT_TRUE(lines.contains("showanimation=1")) << "an existing key keeps its spelling";
    EXPECT_TRUE(lines.contains("FirstRun=0"));
    EXPECT_TRUE(lines.contains("PackPath=Sons/")) << "inside the application folder: relative";
    EXPECT_EQ(lines.filter("[config]", Qt::CaseInsensitive).size(), 1);

    Settings again(appDir);
    again.LoadConfiguration();
    EXPECT_FALSE(again.FirstRun);
    EXPECT_EQ(again.ID_Driver_Playback, 3);
    EXPECT_EQ(again.PackName, "Samba");
    EXPECT_EQ(again.PackPath, appDir + "Sons/");
    EXPECT_TRUE(again.ShowAnimation);

    again.PackPath = "/srv/kits/";
    ASSERT_TRUE(again.SaveConfiguration());
    EXPECT_TRUE(readIni().contains("PackPath=/srv/kits/")) << "outside: absolute";
}

TEST_F(SettingsTest, EveryPackagesFolderReadsBackAsTheSameFolder) {
    // The reader trims values: a folder inside the application folder whose
    // name starts with a blank is kept whole.
    for (const QString& folder : {appDir + "Sons/", appDir + " Sons/", appDir + QStringLiteral(" S C:/  Ñ/"),
                                  appDir, QStringLiteral("/srv/kits/")}) {
        Settings s(appDir);
        s.LoadConfiguration();
        s.PackPath = folder;
        ASSERT_TRUE(s.SaveConfiguration()) << folder.toStdString();
        Settings again(appDir);
        again.LoadConfiguration();
        EXPECT_EQ(again.PackPath, folder);
    }
    // A backslash would be read back as a separator: such a folder is refused, never changed.
    Settings s(appDir);
    s.LoadConfiguration();
    s.PackPath = appDir + "a\\b/";
    QString error;
    EXPECT_FALSE(s.SaveConfiguration(&error));
    EXPECT_TRUE(error.contains(appDir + "a/b/")) << error.toStdString();
    // A chosen folder comes without its separator.
    EXPECT_TRUE(s.PackPathProblem(appDir + "Sons").isEmpty());
    EXPECT_EQ(s.RelativeForm(appDir + "Sons"), "Sons");
}

TEST_F(SettingsTest, NamesWithBlanksOrQuotationMarksAtTheirEndsReadBackWhole) {
    // The package in use must be the same one at the next start.
    for (const QString& name : {QStringLiteral(" Kit novo "), QStringLiteral("\"Kit\""), QStringLiteral("'a'"),
                                QStringLiteral("Kit \"1\""), QStringLiteral("Samba")}) {
        Settings s(appDir);
        s.LoadConfiguration();
        s.PackName = name;
        s.Midi_Input = name;
        ASSERT_TRUE(s.SaveConfiguration());
        Settings again(appDir);
        again.LoadConfiguration();
        EXPECT_EQ(again.PackName, name);
        EXPECT_EQ(again.Midi_Input, name);
    }
    EXPECT_TRUE(readIni().contains("PackName=Samba")) << "quoted only when needed";
    // Quotation marks around a value are not part of it, as the Windows program read them.
    writeIni({"[Config]", "PackName=\"Samba\"", "PackPath= ' Sons ' ", "ID_Output_Mode=\"1\""});
    Settings s(appDir);
    s.LoadConfiguration();
    EXPECT_EQ(s.PackName, "Samba");
    EXPECT_EQ(s.PackPath, appDir + "Sons/");
    EXPECT_EQ(s.ID_Output_Mode, 1);
}

TEST_F(SettingsTest, AFolderDifferingOnlyInCaseIsAnotherFolder) {
    Settings s(appDir);
    EXPECT_EQ(s.RelativeForm(appDir.toUpper() + "Kits/"), appDir.toUpper() + "Kits/");
    EXPECT_EQ(s.RelativeForm(appDir + "Kits/"), "Kits/");
}

TEST_F(SettingsTest, AWindowsPackagesFolderIsReportedAndTheDefaultUsed) {
    // Also behind the leading backslash that means "in the application folder".
    for (const char* stored : {"D:\\Sons", "\\\\servidor\\kits", "\\C:\\Sons", "\\é:\\x"}) {
        writeIni({"[Config]", QStringLiteral("PackPath=") + stored, "PackName=Samba"});
        Settings s(appDir);
        s.LoadConfiguration();
        EXPECT_EQ(s.PackPath, appDir + "Pacotes/") << stored;
        EXPECT_TRUE(s.PackPathWarning.contains(stored)) << s.PackPathWarning.toStdString();
        EXPECT_TRUE(s.PackPathWarning.contains(appDir + "Pacotes/"));
        ASSERT_TRUE(s.SaveConfiguration());
        Settings again(appDir);
        again.LoadConfiguration();
        EXPECT_TRUE(again.PackPathWarning.isEmpty()) << "reported once";
        EXPECT_EQ(again.PackName, "Samba");
    }
}

TEST_F(SettingsTest, SettingsNeverLoadedAreNeverSaved) {
    writeIni({"[Config]", "ID_Driver_Playback=2", "PackName=Meu Kit"});
    const QStringList before = readIni();
    Settings s(appDir);
    EXPECT_FALSE(s.IsLoaded());
    EXPECT_TRUE(s.SaveConfiguration());
    EXPECT_EQ(readIni(), before);
}

TEST_F(SettingsTest, ValuesTheFileCannotHoldAreRefusedNeverTurnedIntoQuestionMarks) {
    writeIni({"[Config]", "PackName=Samba"});
    const QStringList before = readIni();
    struct Case { QString packPath, packName, why; bool badPath; };
    const Case cases[] = {{appDir + "Pacotes/", QStringLiteral("Бас"), QStringLiteral("(Б а с)"), false},
                          {appDir + QStringLiteral("Łódź/"), "Samba", QStringLiteral("(Ł ź)"), true},
                          {QStringLiteral("/srv/kits/鼓/"), "Samba", QStringLiteral("(鼓)"), true},
                          {appDir + "Pacotes/", "linha\nquebrada", "quebra de linha", false}};
    for (const Case& c : cases) {
        Settings s(appDir);
        s.LoadConfiguration();
        s.PackPath = c.packPath;
        s.PackName = c.packName;
        QString error;
        EXPECT_FALSE(s.SaveConfiguration(&error)) << c.packName.toStdString();
        EXPECT_TRUE(error.contains(c.why)) << error.toStdString();
        EXPECT_EQ(readIni(), before);
        EXPECT_EQ(s.PackPathProblem(c.packPath).isEmpty(), !c.badPath);
    }
    EXPECT_TRUE(Settings(appDir).PackPathProblem(appDir + QStringLiteral("Percussão/")).isEmpty());
}

TEST_F(SettingsTest, AFailedSaveReportsThePathAndChangesNothing) {
    if (::geteuid() == 0) {
        // Root writes anywhere: make the target a folder instead, which no one can replace with a file.
        QDir().mkpath(appDir + "rimbal2.ini");
    } else {
        QFile::setPermissions(appDir, QFile::ReadOwner | QFile::ExeOwner);
    }
    Settings s(appDir);
    s.LoadConfiguration();
    s.PackName = "Novo";
    QString error;
    EXPECT_FALSE(s.SaveConfiguration(&error));
    EXPECT_EQ(error, "Unable to write to " + appDir + "rimbal2.ini");
    EXPECT_EQ(s.PackName, "Novo");
    QFile::setPermissions(appDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(SettingsTest, DerivedEngineValuesKeepThePreviousOnesWhenOutOfRange) {
    Settings s(appDir);
    s.ID_Output_Rate_Freq = 1;
    s.ID_Output_Snd_Format = 2;
    s.DeriveEngineValues();
    EXPECT_EQ(s.OutputRate, 44100);
    EXPECT_EQ(s.OutputFormat, rb::SOUND_FORMAT_PCM16);
    EXPECT_EQ(s.SoundMode, rb::MODE_SOFTWARE | rb::MODE_2D);
    s.ID_Output_Rate_Freq = 9;
    s.ID_Output_Snd_Format = -3;
    s.ID_Output_Mode = 1;
    s.ID_Output_Channel = 1;
    s.DeriveEngineValues();
    EXPECT_EQ(s.OutputRate, 44100);
    EXPECT_EQ(s.OutputFormat, rb::SOUND_FORMAT_PCM16);
    EXPECT_EQ(s.SoundMode, rb::MODE_HARDWARE | rb::MODE_3D);
    s.ID_Output_Mode = 5;
    s.ID_Output_Channel = 5;
    s.DeriveEngineValues();
    EXPECT_EQ(s.SoundMode, 0u);
    int type = -9;
    EXPECT_TRUE(Settings::OutputTypeFor(-1, type));
    EXPECT_EQ(type, rb::OUTPUTTYPE_PULSEAUDIO);
    EXPECT_TRUE(Settings::OutputTypeFor(2, type));
    EXPECT_EQ(type, rb::OUTPUTTYPE_JACK);
    EXPECT_FALSE(Settings::OutputTypeFor(5, type));
}

}  // namespace
