// The demo kit as the build made it: every sound through the engine's
// decoder, the generator's determinism, the key layout and the choice of the
// kit on a first start.
#include "corefixture.h"
#include "filesizelimit.h"

#include "kit/demokit.h"
#include "kit/kitlayout.h"
#include "base/textfiles.h"
#include "settings/settings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <cmath>

using namespace rimbal;

namespace {

const QString kBuiltKit = QStringLiteral(RB_DEMO_KIT_DIR);

QStringList kitFiles(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    return names;
}

void copyKit(const QString& to) {
    QDir().mkpath(to);
    for (const QString& f : kitFiles(kBuiltKit)) ASSERT_TRUE(QFile::copy(kBuiltKit + u'/' + f, to + u'/' + f)) << f.toStdString();
}

TEST(DemoKit, EverySoundDecodesAtFullLevelWithoutDcAndFromSilenceToSilence) {
    rb::System sys{};
    ASSERT_EQ(rb::System_Create(&sys), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(sys, rb::OUTPUTTYPE_NULL), rb::OK);
    ASSERT_EQ(rb::System_SetSoftwareFormat(sys, 44100, rb::SOUND_FORMAT_PCM16, 0, 0, rb::DSP_RESAMPLER_LINEAR), rb::OK);
    ASSERT_EQ(rb::System_Init(sys, 64, rb::INIT_NORMAL, nullptr), rb::OK);
    QStringList wavs = QDir(kBuiltKit).entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name);
    EXPECT_GE(wavs.size(), 16);
    for (const QString& name : wavs) {
        SCOPED_TRACE(name.toStdString());
        rb::Sound s{};
        ASSERT_EQ(rb::System_CreateSound(sys, QFile::encodeName(kBuiltKit + u'/' + name).constData(), rb::MODE_SOFTWARE | rb::LOOP_OFF, nullptr, &s), rb::OK);
        int type = 0, format = 0, channels = 0, bits = 0;
        float rate = 0;
        rb::Sound_GetFormat(s, &type, &format, &channels, &bits);
        rb::Sound_GetDefaults(s, &rate, nullptr, nullptr, nullptr);
        EXPECT_EQ(type, rb::SOUND_TYPE_WAV);
        EXPECT_EQ(bits, 16);
        EXPECT_EQ(rate, 44100.0f);
        std::uint32_t frames = 0;
        rb::Sound_GetLength(s, &frames, rb::TIMEUNIT_PCM);
        ASSERT_GT(frames, 4410u);
        void *p1 = nullptr, *p2 = nullptr;
        std::uint32_t l1 = 0, l2 = 0;
        ASSERT_EQ(rb::Sound_Lock(s, 0, frames * static_cast<std::uint32_t>(channels) * 4, &p1, &p2, &l1, &l2), rb::OK);
        const auto* pcm = static_cast<const float*>(p1);
        const std::size_t n = l1 / sizeof(float);
        double peak = 0, sum = 0;
        for (std::size_t i = 0; i < n; ++i) {
            peak = std::max(peak, static_cast<double>(std::fabs(pcm[i])));
            sum += pcm[i];
        }
        const double peakDb = 20 * std::log10(peak);
        EXPECT_GE(peakDb, -6.0);
        EXPECT_LE(peakDb, -0.1);
        EXPECT_LT(std::fabs(sum / static_cast<double>(n)), 1e-3) << "DC";
        // No click: it starts at zero and ramps up, and its last 64 samples
        // are below -60 dB of its peak, ending at zero.
        EXPECT_EQ(pcm[0], 0.0f);
        EXPECT_EQ(pcm[n - 1], 0.0f);
        double start = 0, end = 0;
        for (std::size_t i = 0; i < 4; ++i) start = std::max(start, static_cast<double>(std::fabs(pcm[i])));
        for (std::size_t i = n - 64; i < n; ++i) end = std::max(end, static_cast<double>(std::fabs(pcm[i])));
        EXPECT_LT(start, 0.05 * peak);
        EXPECT_LT(end, 0.001 * peak);
        rb::Sound_Unlock(s, p1, p2, l1, l2);
        rb::Sound_Release(s);
    }
    rb::System_Release(sys);
}

TEST(DemoKit, TheGeneratorWritesTheSameBytesOnEveryRun) {
    QTemporaryDir a, b;
    for (const QTemporaryDir* d : {&a, &b}) {
        QProcess p;
        p.start(QStringLiteral(RB_MAKEKIT), {d->path() + QStringLiteral("/Rimbal Demo")});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
    const QString first = a.path() + QStringLiteral("/Rimbal Demo"), second = b.path() + QStringLiteral("/Rimbal Demo");
    const QStringList files = kitFiles(first);
    EXPECT_EQ(files, kitFiles(second));
    EXPECT_EQ(files, kitFiles(kBuiltKit)) << "the build's kit is the generator's";
    for (const QString& f : files) {
        QFile x(first + u'/' + f), y(second + u'/' + f), z(kBuiltKit + u'/' + f);
        ASSERT_TRUE(x.open(QIODevice::ReadOnly) && y.open(QIODevice::ReadOnly) && z.open(QIODevice::ReadOnly));
        const QByteArray bytes = x.readAll();
        EXPECT_EQ(bytes, y.readAll()) << f.toStdString();
        EXPECT_EQ(bytes, z.readAll()) << f.toStdString();
    }
}

class DemoKitLayout : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        copyKit(settings->PackPath + kDemoPackage);
    }
    int lineOf(std::uint16_t key) const {
        for (int i = 0; i < core->ScanCount(); ++i)
            if (core->KeySounds[static_cast<std::size_t>(i)].playKey == key) return i;
        return -1;
    }
    QString fileOf(std::uint16_t key) const {
        const int i = lineOf(key);
        return i < 0 ? QString() : QFileInfo(core->KeySounds[static_cast<std::size_t>(i)].fileName).fileName();
    }
    bool sounding(std::uint16_t key) {
        const auto& r = core->KeySounds[static_cast<std::size_t>(lineOf(key))];
        for (rb::Channel c : r.channels)
            if (core->IsChannelPlaying(c)) return true;
        return false;
    }
};

TEST_F(DemoKitLayout, LoadsWithoutComplaintAndPlaysEveryRoleFromItsKeys) {
    ASSERT_TRUE(ChooseDemoKit(*settings));
    ASSERT_TRUE(core->LoadKeyLines());
    startEngine();
    EXPECT_TRUE(log.shown.isEmpty());
    EXPECT_EQ(core->KeyCount, static_cast<int>(std::size(kKitLayout)));
    EXPECT_EQ(fileOf(kVkSpace), "bumbo.wav");
    EXPECT_EQ(fileOf('B'), "bumbo.wav");
    for (const char key : {'D', 'F', 'J', 'K'}) EXPECT_EQ(fileOf(static_cast<std::uint16_t>(key)), "caixa.wav") << key;
    QStringList info;
    ASSERT_TRUE(ReadTextLines(settings->PackPath + kDemoPackage + QStringLiteral("/Info.txt"), info));
    EXPECT_EQ(info.value(1), "Name=Rimbal Demo");

    // Every key plays; both hi-hat closings silence the open hi-hat and still play.
    for (const LayoutKey& k : kKitLayout) {
        core->PlayKey(k.key);
        EXPECT_TRUE(sounding(k.key)) << k.key;
    }
    for (const auto& [open, closing] : {std::pair<char, char>{'Q', 'A'}, {'W', 'Z'}}) {
        core->PlayKey(static_cast<std::uint16_t>(open));
        core->PlayKey(static_cast<std::uint16_t>(open));
        render(256);
        ASSERT_TRUE(sounding(static_cast<std::uint16_t>(open)));
        core->PlayKey(static_cast<std::uint16_t>(closing));
        EXPECT_FALSE(sounding(static_cast<std::uint16_t>(open))) << open;
        EXPECT_TRUE(sounding(static_cast<std::uint16_t>(closing))) << closing;
    }
}

TEST_F(DemoKitLayout, IsChosenOnlyByANewInstallation) {
    struct Case {
        const char* ini;  // nullptr: no configuration file
        bool kitThere;
        const char* packName;
    };
    const Case cases[] = {
        {nullptr, true, "Rimbal Demo"},
        {"[Config]\r\nFirstRun=0\r\n", true, ""},      // started before without a package
        {"[Config]\r\nPackName=Kit\r\n", true, "Kit"},  // names a package
        {nullptr, false, ""},                          // deleted before the first start
    };
    for (const Case& c : cases) {
        QFile::remove(appDir + QStringLiteral("rimbal2.ini"));
        if (c.ini) WriteTextLines(appDir + QStringLiteral("rimbal2.ini"), QString::fromLatin1(c.ini).split(QStringLiteral("\r\n")));
        if (!c.kitThere) QDir(settings->PackPath + kDemoPackage).removeRecursively();
        Settings s(appDir);
        s.LoadConfiguration();
        ChooseDemoKit(s);
        EXPECT_EQ(s.PackName, QString::fromLatin1(c.packName)) << (c.ini ? c.ini : "no ini");
        EXPECT_EQ(QFileInfo::exists(settings->PackPath + kDemoPackage), c.kitThere) << "nothing is recreated";
    }
}

// An installed program (the marker beside it) brings the kit in its own
// folder; each new user gets a whole copy of it in their data folder, once.
TEST_F(DemoKitLayout, AnInstalledProgramGivesANewUserTheirOwnCopy) {
    const QString program = appDir + QStringLiteral("usr/lib/rimbal2/"), data = appDir + QStringLiteral("home/.local/share");
    copyKit(program + QStringLiteral("Pacotes/") + kDemoPackage);
    ASSERT_TRUE(WriteTextLines(program + kInstalledMarker, {QStringLiteral("instalado")}));
    const ProgramPlaces places = LocateProgram(program + QStringLiteral("rimbal2"), data);
    EXPECT_TRUE(places.installed);
    EXPECT_EQ(places.programDir, program);
    EXPECT_EQ(places.iniPath, data + QStringLiteral("/rimbal2/rimbal2.ini"));
    const ProgramPlaces portable = LocateProgram(appDir + QStringLiteral("rimbal2"), data);
    EXPECT_FALSE(portable.installed);
    EXPECT_EQ(portable.appDir, appDir);
    EXPECT_EQ(portable.iniPath, appDir + QStringLiteral("rimbal2.ini"));

    Settings s(places.appDir, places.iniPath);
    s.ProgramDir = places.programDir;
    s.LoadConfiguration();
    {
        const FileSizeLimit full(4096);
        QString error;
        EXPECT_FALSE(CopyDemoKit(s, &error));
        EXPECT_TRUE(error.startsWith(QStringLiteral("O kit de demonstração não foi copiado"))) << error.toStdString();
        EXPECT_TRUE(QDir(s.PackPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
            << "no half kit is left";
    }
    ASSERT_TRUE(CopyDemoKit(s));
    ASSERT_TRUE(ChooseDemoKit(s));
    EXPECT_EQ(kitFiles(s.PackPath + kDemoPackage), kitFiles(kBuiltKit));

    // Deleted by its user after the first start: it stays deleted.
    QDir(s.PackPath + kDemoPackage).removeRecursively();
    s.FirstRun = false;
    EXPECT_TRUE(CopyDemoKit(s));
    EXPECT_FALSE(QFileInfo::exists(s.PackPath + kDemoPackage));
}

}  // namespace
