// The key table and Keys.txt: reading, writing, alignment of records and
// lines, bad lines, long lists, the default package and the preview record.
#include "corefixture.h"
#include "localeguard.h"
#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

using namespace rimbal;

namespace {

class KeyTable : public CoreTest {};

QString line(int play, int stop, const QString& volume, const QString& file, const QString& opts = "0*0*0") {
    QString l = QStringLiteral("%1*%2*%3*%4*").arg(play).arg(stop).arg(opts, volume);
    for (int i = 0; i < 16; ++i) l += (i == 3 ? "1*" : "0*");
    return l + file;
}

TEST_F(KeyTable, KeysWrittenByAddKeySoundReadBackIdentically) {
    LocaleGuard g(QLocale(QLocale::Portuguese, QLocale::Brazil));
    startEngine();
    const QString inside = packageFile("bumbo.wav", toneSamples(100, 4800));
    const QString outside = outsideFile("caixa.wav", toneSamples(300, 4800));
    auto a = definition(0x41, inside);
    a.volume = 0.75f;
    a.loop = 1;
    a.effects[3] = 1;
    auto b = definition(0x42, outside, 0x43);
    b.stopAll = 1;
    b.noInterrupt = 1;
    ASSERT_TRUE(core->AddKeySound(a, false, 0));
    ASSERT_TRUE(core->AddKeySound(b, false, 0));
    QStringList file;
    ASSERT_TRUE(ReadTextLines(core->KeysFile(), file));
    EXPECT_EQ(file, core->KeyLines);
    EXPECT_EQ(file[0], "65*0*0*0*1*0,75*0*0*0*1*0*0*0*0*0*0*0*0*0*0*0*0*bumbo.wav");
    EXPECT_EQ(file[1], "66*67*1*1*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*" + outside);

    // A fresh core on the same package builds the same records.
    SoundCore other(*settings, prompt, log);
    ASSERT_TRUE(other.LoadKeyLines());
    ASSERT_EQ(rb::System_Create(&other.SoundSystem), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(other.SoundSystem, rb::OUTPUTTYPE_NULL), rb::OK);
    other.CreateSounds(false);
    EXPECT_EQ(other.KeyCount, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(other.FormatKeyLine(other.KeySounds[static_cast<std::size_t>(i)]), file[i]);
        EXPECT_EQ(other.KeySounds[static_cast<std::size_t>(i)].fileName,
                  core->KeySounds[static_cast<std::size_t>(i)].fileName);
    }
    EXPECT_EQ(other.KeySounds[0].loop, 1);
    std::uint32_t mode = 0;
    rb::Sound_GetMode(other.KeySounds[0].sound, &mode);
    EXPECT_TRUE(mode & rb::LOOP_NORMAL) << "field 5 makes a looping sound";
    EXPECT_TRUE(log.shown.isEmpty());
    other.ReleaseSounds(true);
    rb::System_Release(other.SoundSystem);
}

TEST_F(KeyTable, VolumesLoadWithEitherSeparatorOnEitherSystem) {
    const QString f = packageFile("a.wav", toneSamples(100, 480));
    core->KeyLines = {line(65, 0, "0,50", "a.wav"), line(66, 0, "0.25", "a.wav"), line(67, 0, "1,00", "a.wav")};
    for (const QLocale& l : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::Portuguese, QLocale::Brazil)}) {
        LocaleGuard g(l);
        if (core->SoundSystem == rb::System{}) startEngine();
        else { core->ReleaseSounds(false); core->CreateSounds(false); }
        EXPECT_FLOAT_EQ(core->KeySounds[0].volume, 0.5f);
        EXPECT_FLOAT_EQ(core->KeySounds[1].volume, 0.25f);
        EXPECT_FLOAT_EQ(core->KeySounds[2].volume, 1.0f);
        EXPECT_TRUE(log.shown.isEmpty());
    }
    LocaleGuard g(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(core->FormatKeyLine(core->KeySounds[0]).contains("*0.50*")) << "written with the user's separator";
}

TEST_F(KeyTable, BadLinesKeepTheirRecordEmptyAndTheNextLineItsOwn) {
    packageFile("a.wav", toneSamples(100, 480));
    core->KeyLines = {
        line(65, 0, "1,00", "a.wav"),
        "66*abc*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*a.wav",
        line(67, 0, "1,00", "missing.wav"),
        "68*0*z*0*q*volume*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*a.wav",
        line(69, 0, "1,00", "a.wav"),
    };
    startEngine();
    EXPECT_EQ(core->KeyCount, 3);
    EXPECT_EQ(core->KeySounds[0].playKey, 65);
    EXPECT_EQ(core->KeySounds[1].sound, rb::Sound{});
    EXPECT_EQ(core->KeySounds[1].playKey, 0);
    EXPECT_EQ(core->KeySounds[2].sound, rb::Sound{});
    EXPECT_EQ(core->KeySounds[3].playKey, 68) << "bad options keep their defaults; the key is made";
    EXPECT_FLOAT_EQ(core->KeySounds[3].volume, 1.0f);
    EXPECT_EQ(core->KeySounds[4].playKey, 69) << "record i keeps line i";
    ASSERT_EQ(log.shown.size(), 1) << "one window for the whole run";
    EXPECT_EQ(log.shown[0].caption, "Erros ao criar sons");
    const QString folder = core->PackageFolder();
    EXPECT_EQ(log.shown[0].lines, (QStringList{"abc não é um valor de tecla válido.",
                                               "Arquivo não existe: " + folder + "missing.wav",
                                               "z não é um valor válido.", "q não é um valor válido.",
                                               "volume não é um valor válido."}));
    EXPECT_TRUE(core->ErrorLog.isEmpty());
    // Playing finds the key after the gaps.
    core->PlayKey(69);
    EXPECT_EQ(core->PlayCount, 1u);
}

TEST_F(KeyTable, RelativeNamesFollowAMovedPackageAndBackslashesAreFolders) {
    settings->PackName = "Kit";
    QDir().mkpath(core->PackageFolder() + "sub");
    writeWavFile(core->PackageFolder() + "sub/a.wav", toneSamples(100, 480));
    core->KeyLines = {line(65, 0, "1,00", "sub\\a.wav")};
    ASSERT_TRUE(WriteTextLines(core->KeysFile(), core->KeyLines));
    ASSERT_TRUE(QDir().rename(settings->PackPath, appDir + "Outro"));
    settings->PackPath = settings->NormalizePackPath("Outro");
    ASSERT_TRUE(core->LoadKeyLines());
    startEngine();
    EXPECT_EQ(core->KeyCount, 1);
    EXPECT_EQ(core->KeySounds[0].fileName, appDir + "Outro/Kit/sub/a.wav");
}

TEST_F(KeyTable, MissingKeyListIsReportedAndEmptyPackageIsNot) {
    EXPECT_TRUE(core->LoadKeyLines());
    EXPECT_TRUE(core->ErrorLog.isEmpty());
    settings->PackName = "Nada";
    EXPECT_FALSE(core->LoadKeyLines());
    EXPECT_EQ(core->ErrorLog, QStringList{"Arquivo de teclas não encontrado: " + core->KeysFile()});
    core->ErrorLog.clear();
    startEngine();
    EXPECT_TRUE(log.shown.isEmpty()) << "an empty list initialises the engine and shows nothing";
    EXPECT_EQ(core->KeyCount, 0);
}

TEST_F(KeyTable, ListsLongerThan64LinesKeepTheRestAndSayWhy) {
    packageFile("a.wav", toneSamples(100, 48));
    for (int i = 0; i < 66; ++i) core->KeyLines.append(line(0x100 + i, 0, "1,00", "a.wav"));
    startEngine();
    EXPECT_EQ(core->KeyCount, 64);
    EXPECT_EQ(core->KeyLines.size(), 66);
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].lines,
              QStringList{"Linhas 65 a 66 da lista de teclas ignoradas (2 linhas): o limite é de 64 teclas."});
    // The table is full; a new key is refused without touching the list.
    const QString f = packageFile("b.wav", toneSamples(100, 48));
    EXPECT_FALSE(core->AddKeySound(definition(0x41, f), false, 0));
    EXPECT_EQ(core->KeyLines.size(), 66);
    // Removing a key lets line 65 take the last record.
    core->RemoveKey(0);
    EXPECT_EQ(core->KeyLines.size(), 65);
    EXPECT_EQ(core->KeyCount, 64);
    EXPECT_EQ(core->KeySounds[63].playKey, 0x100 + 64);
    EXPECT_EQ(core->KeySounds[0].playKey, 0x101);
}

// A key list of a million empty lines (1 MiB, the bound) loads with one
// line about the rest; one byte more is not read at all.
TEST_F(KeyTable, KeyListsAreReadUnderTheirBound) {
    settings->PackName = "Kit";
    QDir().mkpath(core->PackageFolder());
    QFile f(core->KeysFile());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(1 << 20, '\n'));
    f.close();
    ASSERT_TRUE(core->LoadKeyLines());
    EXPECT_EQ(core->KeyLines.size(), 1 << 20);
    startEngine();
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].lines.size(), 64 * 3 + 1) << "two keys and a file for each line read, one line for the rest";
    EXPECT_EQ(log.shown[0].lines.last(),
              "Linhas 65 a 1048576 da lista de teclas ignoradas (1048512 linhas): o limite é de 64 teclas.");
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("\n");
    f.close();
    EXPECT_FALSE(core->LoadKeyLines());
    EXPECT_TRUE(core->KeyLines.isEmpty());
    EXPECT_EQ(core->ErrorLog, QStringList{"O arquivo " + core->KeysFile() + " passa de 1024 KB e não foi lido."});
}

TEST_F(KeyTable, RecordsAndLinesStayAlignedThroughAddReplaceAndRemove) {
    const QString a = packageFile("a.wav", toneSamples(100, 480));
    const QString b = packageFile("b.wav", toneSamples(200, 480));
    core->KeyLines = {line(65, 0, "1,00", "a.wav"), line(66, 0, "1,00", "gone.wav"), line(67, 0, "1,00", "a.wav")};
    startEngine();
    log.shown.clear();
    ASSERT_EQ(core->KeyCount, 2);
    // A new key takes the record of its appended line, not the free record 1.
    ASSERT_TRUE(core->AddKeySound(definition(68, b), false, 0));
    EXPECT_EQ(core->KeyLines.size(), 4);
    EXPECT_EQ(core->KeySounds[3].playKey, 68);
    EXPECT_EQ(core->KeySounds[1].sound, rb::Sound{});
    // Replacing key 67 writes line 2, its own.
    prompt.buttonAnswers = {rimbal::Prompt::Yes};
    auto d = definition(67, b);
    d.volume = 0.5f;
    ASSERT_TRUE(core->AddKeySound(d, false, 0));
    EXPECT_EQ(prompt.asked.last().text, "Já existe um som com esta tecla, deseja substituir?");
    EXPECT_EQ(prompt.asked.last().caption, "Confirmação");
    EXPECT_TRUE(core->KeyLines[2].startsWith("67*0*0*0*0*"));
    EXPECT_TRUE(core->KeyLines[2].endsWith("b.wav"));
    EXPECT_TRUE(core->KeyLines[1].endsWith("gone.wav")) << "the invalid line is untouched";
    EXPECT_TRUE(core->KeyLines[0].endsWith("a.wav"));
    for (int i = 0; i < core->ScanCount(); ++i) {
        const auto& r = core->KeySounds[static_cast<std::size_t>(i)];
        if (r.sound != rb::Sound{}) {
            EXPECT_EQ(core->KeyLines[i].section('*', 0, 0).toInt(), r.playKey) << i;
        }
    }
    // No to the question changes nothing.
    prompt.buttonAnswers = {rimbal::Prompt::No};
    const QStringList before = core->KeyLines;
    EXPECT_FALSE(core->AddKeySound(definition(65, b), false, 0));
    EXPECT_EQ(core->KeyLines, before);
    // Removing the invalid line moves the later keys down with their lines.
    core->RemoveKey(1);
    EXPECT_EQ(core->KeySounds[1].playKey, 67);
    EXPECT_EQ(core->KeySounds[2].playKey, 68);
    EXPECT_EQ(core->KeyCount, 3);
    EXPECT_EQ(core->KeySounds[3].sound, rb::Sound{});
}

TEST_F(KeyTable, FirstKeyWithoutAPackageMakesTheDefaultOne) {
    startEngine();
    const QString f = outsideFile("a.wav", toneSamples(100, 480));
    ASSERT_TRUE(core->AddKeySound(definition(65, f), false, 0));
    EXPECT_EQ(settings->PackName, "RUDadiru");
    const QString folder = settings->PackPath + "RUDadiru/";
    EXPECT_TRUE(QFileInfo(folder + "Keys.txt").isFile());
    QStringList info;
    ASSERT_TRUE(ReadTextLines(folder + "Info.txt", info));
    EXPECT_EQ(info, (QStringList{"[Info]", "Name=RUDadiru", "Author=Rimbal Team", "Contact=contato@rimbal.com.br",
                                 "Version=1.0", "Comment=Rimbal2 Default Package"}));
    // An existing Info.txt is left alone.
    ASSERT_TRUE(WriteTextLines(folder + "Info.txt", {"[Info]", "Name=Meu"}));
    ASSERT_TRUE(core->AddKeySound(definition(66, f), false, 0));
    ASSERT_TRUE(ReadTextLines(folder + "Info.txt", info));
    EXPECT_EQ(info, (QStringList{"[Info]", "Name=Meu"}));
    EXPECT_FALSE(QFileInfo::exists(folder + "Keys.txt.tmp"));
}

TEST_F(KeyTable, ReplacingWithTheSameFileKeepsTheSoundAndEffectsFollowTheDefinition) {
    const QString a = packageFile("a.wav", toneSamples(100, 480));
    startEngine();
    auto d = definition(65, a);
    d.effects[0] = 1;
    ASSERT_TRUE(core->AddKeySound(d, false, 0));
    const rb::Sound sound = core->KeySounds[0].sound;
    const rb::Dsp unit = core->KeySounds[0].units[0];
    bool active = false;
    rb::DSP_GetActive(unit, &active);
    EXPECT_TRUE(active);
    auto edit = d;
    edit.fileName = a;
    edit.effects[0] = 0;
    edit.volume = 0.3f;
    ASSERT_TRUE(core->AddKeySound(edit, true, 0));
    EXPECT_EQ(core->KeySounds[0].sound, sound);
    rb::DSP_GetActive(unit, &active);
    EXPECT_FALSE(active) << "switched off: removed from the group";
    edit.effects[0] = 1;
    ASSERT_TRUE(core->AddKeySound(edit, true, 0));
    EXPECT_EQ(core->KeySounds[0].units[0], unit) << "switched on again: the same unit";
    rb::DSP_GetActive(unit, &active);
    EXPECT_TRUE(active);
    EXPECT_EQ(core->KeyCount, 1);
}

TEST_F(KeyTable, ReloadingTheTableReleasesTheKeysEffectUnits) {
    packageFile("a.wav", toneSamples(100, 480));
    core->KeyLines = {"65*0*0*0*0*1,00*1*0*0*1*0*0*0*0*0*0*0*0*0*0*0*0*a.wav"};
    startEngine();
    const rb::Dsp unit = core->KeySounds[0].units[0];
    ASSERT_NE(unit, rb::Dsp{});
    bool active = false;
    ASSERT_EQ(rb::DSP_GetActive(unit, &active), rb::OK);
    EXPECT_TRUE(active);
    core->ReleaseSounds(false);
    EXPECT_EQ(rb::DSP_GetActive(unit, &active), rb::ERR_INVALID_HANDLE) << "released with its key";
    core->CreateSounds(false);
    EXPECT_NE(core->KeySounds[0].units[3], rb::Dsp{});
    const rb::Dsp other = core->KeySounds[0].units[3];
    core->RemoveKey(0);
    EXPECT_EQ(rb::DSP_GetActive(other, &active), rb::ERR_INVALID_HANDLE);
    EXPECT_TRUE(log.shown.isEmpty());
}

TEST_F(KeyTable, AFileTheEngineCannotOpenIsRefusedWithTheEngineError) {
    startEngine();
    QFile bad(appDir + "ruim.wav");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a sound at all, just text that pretends");
    bad.close();
    EXPECT_FALSE(core->AddKeySound(definition(65, appDir + "ruim.wav"), false, 0));
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(prompt.asked[0].caption, "Erro");
    EXPECT_TRUE(prompt.asked[0].text.startsWith("Erro da engine: (25) ")) << prompt.asked[0].text.toStdString();
    EXPECT_TRUE(core->KeyLines.isEmpty());
    EXPECT_EQ(core->KeyCount, 0);
}

TEST_F(KeyTable, PreviewRecordLoadsOnceAndKeepsItsSettings) {
    startEngine();
    const QString a = outsideFile("a.wav", toneSamples(100, 480));
    const QString b = outsideFile("b.wav", toneSamples(200, 480));
    core->PendingKey.playKey = 65;
    core->PendingKey.effects[2] = 1;
    core->LoadPendingSound(a);
    const rb::Sound first = core->PendingKey.sound;
    ASSERT_NE(first, rb::Sound{});
    char name[32] = {};
    rb::ChannelGroup_GetName(core->PendingKey.group, name, sizeof name);
    EXPECT_STREQ(name, "GroupTemp");
    EXPECT_NE(core->PendingKey.units[2], rb::Dsp{});
    core->LoadPendingSound(a);
    EXPECT_EQ(core->PendingKey.sound, first) << "the same file is not loaded again";
    core->LoadPendingSound(b);
    EXPECT_NE(core->PendingKey.sound, first);
    EXPECT_EQ(core->PendingKey.playKey, 65);
    EXPECT_EQ(core->PendingKey.effects[2], 1);
    core->LoadPendingSound(appDir + "missing.wav");
    EXPECT_EQ(core->PendingKey.fileName, b);
    core->ReleasePendingSound();
    EXPECT_EQ(core->PendingKey.sound, rb::Sound{});
    EXPECT_EQ(core->PendingKey.playKey, 0);
    EXPECT_FLOAT_EQ(core->PendingKey.volume, 1.0f);
    EXPECT_TRUE(prompt.asked.isEmpty());
}

TEST_F(KeyTable, ReleaseWithoutAnEngineDoesNothingAndTheRecordBufferIsTwoSeconds) {
    core->ReleaseSounds(true);
    EXPECT_TRUE(log.shown.isEmpty());
    settings->ID_Output_Rate_Freq = 1;
    startEngine(true);
    ASSERT_NE(core->RecordSound, rb::Sound{});
    std::uint32_t bytes = 0, frames = 0;
    rb::Sound_GetLength(core->RecordSound, &bytes, rb::TIMEUNIT_PCMBYTES);
    rb::Sound_GetLength(core->RecordSound, &frames, rb::TIMEUNIT_PCM);
    EXPECT_EQ(bytes, 44100u * 8);
    EXPECT_EQ(frames, 88200u);
    core->ReleaseSounds(true);
    EXPECT_EQ(core->RecordSound, rb::Sound{});
    EXPECT_TRUE(log.shown.isEmpty());
}

}  // namespace

namespace {

TEST_F(KeyTable, PluginListsStayInStepWithTheirIndices) {
    ASSERT_EQ(rb::System_Create(&core->SoundSystem), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(core->SoundSystem, rb::OUTPUTTYPE_NULL), rb::OK);
    QDir().mkpath(appDir + "plugins");
    core->ListPlugins(appDir + "plugins");
    EXPECT_TRUE(core->ErrorLog.isEmpty()) << core->ErrorLog.join('\n').toStdString();
    ASSERT_EQ(core->EffectNames.size(), 15);
    for (int i = 1; i <= 15; ++i) {
        char name[256] = {};
        rb::System_GetPluginInfo(core->SoundSystem, rb::PLUGINTYPE_DSP, i, name, sizeof name, nullptr);
        EXPECT_EQ(core->EffectNames[i - 1], QString::fromUtf8(name)) << i;
        EXPECT_NE(core->MasterEffects[static_cast<std::size_t>(i)], rb::Dsp{}) << i;
    }
    EXPECT_EQ(core->MasterEffects[0], rb::Dsp{});
    EXPECT_EQ(core->OutputNames, (QStringList{"PulseAudio", "ALSA", "JACK"}));
    EXPECT_GE(core->CodecNames.size(), 6);
    core->ListPlugins(appDir + "nowhere");
    EXPECT_EQ(core->ErrorLog.size(), 1) << "a missing plug-in folder is logged";

    EXPECT_EQ(SoundCore::PluginDisplayName("FMOD Echo", 3), "Echo");
    EXPECT_EQ(SoundCore::PluginDisplayName("fmod wav", 3), "wav");
    EXPECT_EQ(SoundCore::PluginDisplayName("FMODXGain", 3), "Gain") << "five characters go, whatever they are";
    EXPECT_EQ(SoundCore::PluginDisplayName("", 7), "Efeito 7") << "a nameless plug-in keeps its place";
}

}  // namespace

namespace {

// Mends of the key list's safety: names it cannot hold, names compared as
// the file system compares them, a store that fails, leaked engine objects.

TEST_F(KeyTable, NamesTheKeyListCannotHoldAreRefusedOrCopiedIntoThePackage) {
    startEngine();
    packageFile("base.wav", toneSamples(100, 480));  // the package folder exists
    QDir().mkpath(appDir + "sons/pasta*x");
    struct Case { QString file, why, copy; };
    const Case cases[] = {
        {outsideFile("a*b.wav", toneSamples(110, 480)), "\"*\"", "a_b.wav"},
        {outsideFile("pasta*x/caixa.wav", toneSamples(120, 480)), "\"*\"", "caixa.wav"},
        {outsideFile("linha\nnova.wav", toneSamples(130, 480)), "quebra de linha", "linha_nova.wav"},
        {outsideFile(QStringLiteral("łódź.wav"), toneSamples(140, 480)), QStringLiteral("(ł ź)"), QStringLiteral("_ódz.wav")},
        {outsideFile(QStringLiteral("бочка.wav"), toneSamples(150, 480)), QStringLiteral("(б о ч к а)"), "som.wav"},
        {packageFile("sub\\x.wav", toneSamples(160, 480)), "outro arquivo", "sub_x.wav"},
    };
    std::uint16_t key = 0x41;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const QStringList before = core->KeyLines;
        prompt.buttonAnswers = {Prompt::No};
        EXPECT_FALSE(core->AddKeySound(definition(key, c.file), false, 0));
        ASSERT_EQ(prompt.asked.size(), 1);
        EXPECT_TRUE(prompt.asked[0].text.contains(c.why)) << prompt.asked[0].text.toStdString();
        EXPECT_TRUE(prompt.asked[0].text.contains(c.copy)) << "the copy's name is offered";
        EXPECT_EQ(core->KeyLines, before);
        EXPECT_FALSE(QFileInfo::exists(core->PackageFolder() + c.copy));

        prompt.asked.clear();
        prompt.buttonAnswers = {Prompt::Yes};
        ASSERT_TRUE(core->AddKeySound(definition(key, c.file), false, 0));
        EXPECT_TRUE(core->KeyLines.last().endsWith("*0*" + c.copy)) << core->KeyLines.last().toStdString();
        EXPECT_EQ(core->KeySounds[static_cast<std::size_t>(core->KeyLines.size() - 1)].fileName,
                  core->PackageFolder() + c.copy);
        EXPECT_TRUE(QFileInfo(c.file).isFile()) << "the original stays";
        prompt.asked.clear();
        ++key;
    }
    // What was written is what comes back, in a fresh start.
    SoundCore other(*settings, prompt, log);
    ASSERT_TRUE(other.LoadKeyLines());
    ASSERT_EQ(rb::System_Create(&other.SoundSystem), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(other.SoundSystem, rb::OUTPUTTYPE_NULL), rb::OK);
    other.CreateSounds(false);
    EXPECT_TRUE(log.shown.isEmpty());
    for (int i = 0; i < core->KeyLines.size(); ++i)
        EXPECT_EQ(other.KeySounds[static_cast<std::size_t>(i)].fileName, core->KeySounds[static_cast<std::size_t>(i)].fileName);
    other.ReleaseSounds(true);
    rb::System_Release(other.SoundSystem);
}

TEST_F(KeyTable, FileNamesCompareAsTheFileSystemDoes) {
    startEngine();
    const QString kick = packageFile("kick.wav", toneSamples(100, 4800));
    const QString Kick = packageFile("Kick.wav", toneSamples(900, 4800));
    ASSERT_TRUE(core->AddKeySound(definition(65, kick), false, 0));
    const rb::Sound first = core->KeySounds[0].sound;
    ASSERT_TRUE(core->AddKeySound(definition(65, Kick), true, 0));
    EXPECT_NE(core->KeySounds[0].sound, first) << "Kick.wav is another file: its sound is loaded";
    EXPECT_EQ(core->KeySounds[0].fileName, Kick);
    EXPECT_TRUE(core->KeyLines[0].endsWith("*Kick.wav"));
    EXPECT_EQ(core->KeyCount, 1);
    // A folder that differs from the package folder only by case is not inside it.
    const QString upper = settings->PackPath + "KIT/";
    QDir().mkpath(upper);
    writeWavFile(upper + "a.wav", toneSamples(100, 480));
    ASSERT_TRUE(core->AddKeySound(definition(66, upper + "a.wav"), false, 0));
    EXPECT_TRUE(core->KeyLines[1].endsWith("*" + upper + "a.wav"));
}

TEST_F(KeyTable, AStoreThatCannotBeWrittenChangesNothing) {
    startEngine();
    const QString a = packageFile("a.wav", toneSamples(100, 480));
    ASSERT_TRUE(core->AddKeySound(definition(65, a), false, 0));
    const QString b = packageFile("b.wav", toneSamples(200, 480));
    ASSERT_TRUE(QFile::remove(core->KeysFile()));
    ASSERT_TRUE(QDir().mkpath(core->KeysFile()));  // no file can take its place, not even for root
    const QStringList lines = core->KeyLines;
    const rb::Sound sound = core->KeySounds[0].sound;
    for (const bool editing : {false, true}) {
        prompt.asked.clear();
        auto d = definition(editing ? 65 : 66, b);
        d.volume = 0.25f;
        EXPECT_FALSE(core->AddKeySound(d, editing, 0));
        ASSERT_EQ(prompt.asked.size(), 1);
        EXPECT_TRUE(prompt.asked[0].text.startsWith("Unable to write to ")) << prompt.asked[0].text.toStdString();
        EXPECT_EQ(core->KeyLines, lines);
        EXPECT_EQ(core->KeyCount, 1);
        EXPECT_EQ(core->KeySounds[0].sound, sound);
        EXPECT_FLOAT_EQ(core->KeySounds[0].volume, 1.0f);
        EXPECT_EQ(core->KeySounds[1].sound, rb::Sound{});
        EXPECT_FALSE(core->IsKeyUsed(66, 1));
    }
    // The next store asks nothing about a key that was never made.
    ASSERT_TRUE(QDir().rmdir(core->KeysFile()));
    prompt.asked.clear();
    EXPECT_TRUE(core->AddKeySound(definition(66, b), false, 0));
    EXPECT_TRUE(prompt.asked.isEmpty());

    // Without a package, a folder that cannot be made leaves no default package behind.
    settings->PackName.clear();
    QFile blocker(appDir + "arquivo");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    settings->PackPath = appDir + "arquivo/Pacotes/";
    prompt.asked.clear();
    EXPECT_FALSE(core->AddKeySound(definition(67, b), false, 0));
    EXPECT_EQ(settings->PackName, "");
    EXPECT_EQ(prompt.asked.size(), 1);
}

TEST_F(KeyTable, AFailedEditKeepsItsSoundAndEveryGroupIsReleased) {
    startEngine();
    const QString a = packageFile("a.wav", toneSamples(100, 480));
    auto d = definition(65, a);
    d.effects[2] = 1;
    ASSERT_TRUE(core->AddKeySound(d, false, 0));
    QFile bad(core->PackageFolder() + "ruim.wav");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("no sound here");
    bad.close();
    const rb::Sound sound = core->KeySounds[0].sound;
    auto edit = d;
    edit.fileName = bad.fileName();
    EXPECT_FALSE(core->AddKeySound(edit, true, 0));
    EXPECT_EQ(core->KeySounds[0].sound, sound) << "the key still plays its old sound";
    EXPECT_EQ(core->KeyCount, 1);
    // A record that lost its sound still gives back its group and units.
    const rb::ChannelGroup group = core->KeySounds[0].group;
    const rb::Dsp unit = core->KeySounds[0].units[2];
    rb::Sound_Release(core->KeySounds[0].sound);
    core->KeySounds[0].sound = rb::Sound{};
    core->ReleaseSounds(false);
    char name[16] = {};
    bool active = false;
    EXPECT_EQ(rb::ChannelGroup_GetName(group, name, sizeof name), rb::ERR_INVALID_HANDLE);
    EXPECT_EQ(rb::DSP_GetActive(unit, &active), rb::ERR_INVALID_HANDLE);
}

}  // namespace
