// Key names, fields, number tests and patterns, the wait, and Windows-1252 files.
#include "base/textfiles.h"
#include "base/textroutines.h"

#include "filesizelimit.h"
#include "localeguard.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTimer>

#include <ctime>

using namespace rimbal;

namespace {

const QLocale kBrazil(QLocale::Portuguese, QLocale::Brazil);
const QLocale kUs(QLocale::English, QLocale::UnitedStates);

TEST(KeyNames, CoverEveryRuleAndItsEdges) {
    EXPECT_EQ(KeyName(0x41), "A");
    EXPECT_EQ(KeyName(0x5A), "Z");
    EXPECT_EQ(KeyName(0x30), "0");
    EXPECT_EQ(KeyName(0x61), "N1") << "keypad digits come before letters";
    EXPECT_EQ(KeyName(0x60), "N0");
    EXPECT_EQ(KeyName(0x70), "F1");
    EXPECT_EQ(KeyName(0x87), "F24");
    EXPECT_EQ(KeyName(0x20), "ESP");
    EXPECT_EQ(KeyName(0x25), "LE");
    EXPECT_EQ(KeyName(0x6E), "DEC");
    EXPECT_EQ(KeyName(0x91), "SLK");
    EXPECT_EQ(KeyName(0x09), "");
    EXPECT_EQ(KeyName(0xBA), "");
    EXPECT_EQ(KeyName(0x92), "");
    EXPECT_EQ(KeyName(0), "");
}

TEST(Fields, GetFieldAndCountFields) {
    const QString star = QStringLiteral("*");
    EXPECT_EQ(GetField("a*b*c", 2, star), "b");
    EXPECT_EQ(GetField("a*b*c", 3, star), "c");
    EXPECT_EQ(GetField("a*b*c", 4, star), "");
    EXPECT_EQ(GetField("a**c", 2, star), "");
    EXPECT_EQ(GetField("a**c", 3, star), "c");
    EXPECT_EQ(GetField("abc", 1, star), "abc");
    EXPECT_EQ(GetField("abc", 0, star), "");
    EXPECT_EQ(GetField("", 1, star), "");
    EXPECT_EQ(CountFields("1*2*", star), 2);
    EXPECT_EQ(CountFields("1**2", star), 2);
    EXPECT_EQ(CountFields("", star), 0);
    EXPECT_EQ(CountFields("***", star), 0);
}

TEST(Numbers, IntegersFollowTheStandardConversion) {
    int v = 0;
    EXPECT_TRUE(ToInteger("12", v)); EXPECT_EQ(v, 12);
    EXPECT_TRUE(ToInteger("  -7", v)); EXPECT_EQ(v, -7);
    EXPECT_TRUE(ToInteger("+3", v)); EXPECT_EQ(v, 3);
    EXPECT_TRUE(ToInteger("$1F", v)); EXPECT_EQ(v, 31);
    EXPECT_TRUE(ToInteger("0x10", v)); EXPECT_EQ(v, 16);
    EXPECT_TRUE(ToInteger("x10", v)); EXPECT_EQ(v, 16);
    EXPECT_TRUE(ToInteger("2147483647", v)); EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(ToInteger("-2147483648", v)); EXPECT_EQ(v, -2147483647 - 1);
    EXPECT_FALSE(IsInteger("2147483648"));
    EXPECT_FALSE(IsInteger("1,5"));
    EXPECT_FALSE(IsInteger(""));
    EXPECT_FALSE(IsInteger("12 "));
    EXPECT_FALSE(IsInteger("abc"));
    EXPECT_FALSE(IsInteger("0x"));
    EXPECT_FALSE(IsInteger("-"));
}

TEST(Numbers, FloatsUseTheUsersSeparatorAndVolumesAcceptBoth) {
    {
        LocaleGuard g(kBrazil);
        EXPECT_TRUE(IsFloat("1,5"));
        EXPECT_FALSE(IsFloat("1.5"));
        EXPECT_EQ(FormatFixed2(1.0), "1,00");
        EXPECT_EQ(FormatFixed2(0.755), "0,76");
    }
    {
        LocaleGuard g(kUs);
        EXPECT_TRUE(IsFloat("1.5"));
        EXPECT_FALSE(IsFloat("1,5"));
        EXPECT_TRUE(IsFloat(" 2e3 "));
        EXPECT_FALSE(IsFloat("e3"));
        EXPECT_EQ(FormatFixed2(0.5), "0.50");
        float v = 0;
        EXPECT_TRUE(ToVolume("1,00", v)) << "a comma volume loads on a point system";
        EXPECT_FLOAT_EQ(v, 1.0f);
        EXPECT_TRUE(ToVolume("0.25", v));
        EXPECT_FLOAT_EQ(v, 0.25f);
        EXPECT_FALSE(ToVolume("1,0,0", v));
        EXPECT_FALSE(ToVolume("", v));
        EXPECT_FALSE(ToVolume("1e39", v)) << "past a float's range";
        EXPECT_FALSE(ToVolume("-1e39", v));
    }
    EXPECT_EQ(FormatTwoDigits(3), "03");
    EXPECT_EQ(FormatTwoDigits(123), "123");
    EXPECT_EQ(IfThenStr(true, "a", "b"), "a");
    EXPECT_EQ(IfThenStr(false, "a", "b"), "b");
}

TEST(Paths, DriveAndRelativeNames) {
    EXPECT_TRUE(HasDrive("C:\\Sons\\a.wav"));
    EXPECT_TRUE(HasDrive("/home/x/a.wav"));
    EXPECT_TRUE(HasDrive("\\\\server\\share"));
    EXPECT_FALSE(HasDrive("a.wav"));
    EXPECT_FALSE(HasDrive("sub\\a.wav"));
    EXPECT_EQ(JoinRelative("/p/Kit/", "sub\\a.wav"), "/p/Kit/sub/a.wav");
}

TEST(Paths, WindowsDrivesNameNoPlaceHere) {
    for (const char* p : {"D:\\Sons", " c:/x", "\\\\server\\share"}) EXPECT_TRUE(IsWindowsPath(p)) << p;
    for (const char* p : {"/srv/Sons", "Pacotes\\", "\\Sons", "Sons:x", ""}) EXPECT_FALSE(IsWindowsPath(p)) << p;
}

TEST(Wait, KeepsEventsFlowingWithoutSpinning) {
    int fired = 0;
    QTimer t;
    QObject::connect(&t, &QTimer::timeout, [&] { ++fired; });
    t.start(20);
    const std::clock_t cpu0 = std::clock();
    QElapsedTimer wall;
    wall.start();
    WaitMs(300);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    EXPECT_GE(wall.elapsed(), 300);
    EXPECT_LT(wall.elapsed(), 600);
    EXPECT_GE(fired, 8) << "timers run during the wait";
    EXPECT_LT(cpuMs, 100.0) << "the wait sleeps instead of spinning a processor";
    wall.restart();
    WaitMs(0);
    EXPECT_LT(wall.elapsed(), 50);
}

TEST(TextFiles, Windows1252WithCrLfBothWays) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Info.txt");
    const QStringList lines{QStringLiteral("Name=Percussão"), QStringLiteral("Preço=€ 5 – “ótimo”"), QString()};
    ASSERT_TRUE(WriteTextLines(path, lines));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes, QByteArray("Name=Percuss\xe3o\r\nPre\xe7o=\x80 5 \x96 \x93\xf3timo\x94\r\n\r\n"));
    QStringList back;
    ASSERT_TRUE(ReadTextLines(path, back));
    EXPECT_EQ(back, lines);
    EXPECT_EQ(ToWindows1252(QStringLiteral("太")), QByteArray("?"));
}

TEST(TextFiles, EveryByteSurvivesAReadAndAWrite) {
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        if (b != '\r' && b != '\n') all += static_cast<char>(b);
    EXPECT_EQ(ToWindows1252(FromWindows1252(all)), all) << "the unassigned codes too";
    EXPECT_TRUE(TextLineProblem(FromWindows1252(all)).isEmpty());
}

TEST(TextFiles, TextALineCannotHoldIsNamedWithItsReason) {
    EXPECT_TRUE(TextLineProblem(QStringLiteral("Percussão € – “ótimo”")).isEmpty());
    EXPECT_TRUE(TextLineProblem("a\nb").contains("quebra de linha"));
    EXPECT_TRUE(TextLineProblem("a\rb").contains("quebra de linha"));
    const QString why = TextLineProblem(QStringLiteral("łódź бас 鼓 🥁 ł"));
    EXPECT_TRUE(why.contains("Windows-1252")) << why.toStdString();
    EXPECT_TRUE(why.endsWith(QStringLiteral("(ł ź б а с 鼓 🥁)"))) << "each once, a surrogate pair as one: " << why.toStdString();
}

TEST(TextFiles, ReadsAnyLineEndAndAFailedWriteKeepsTheOldFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Keys.txt");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("a\nb\r\nc\rd");
    }
    QStringList lines;
    ASSERT_TRUE(ReadTextLines(path, lines));
    EXPECT_EQ(lines, (QStringList{"a", "b", "c", "d"}));
    QString error;
    EXPECT_FALSE(WriteTextLines(dir.filePath("no/such/folder/Keys.txt"), {"x"}, &error));
    EXPECT_TRUE(error.startsWith("Unable to write to ")) << error.toStdString();
    EXPECT_FALSE(ReadTextLines(dir.filePath("missing.txt"), lines));
}

// A small file sits in the write buffer until the commit; a disk that fills up
// then must fail the write and leave the old file whole, never an empty one.
TEST(TextFiles, AFullDiskFailsTheWriteAndKeepsTheOldFile) {
    QTemporaryDir dir;
    const QString keys = dir.filePath("Keys.txt");
    const QByteArray old = "65*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*bumbo.wav\r\n";
    {
        QFile f(keys);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    QString error;
    bool written = true;
    {
        const FileSizeLimit full(40);
        written = WriteTextLines(keys, QStringList(25, QString::fromLatin1(old.trimmed())), &error);
    }
    EXPECT_FALSE(written);
    EXPECT_TRUE(error.startsWith("Unable to write to ")) << error.toStdString();
    QFile f(keys);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Keys.txt"}) << "temporary file left";
}

}  // namespace
