// Hydrogen kits: drumkit.xml in both layouts, the layout by roles with stop
// keys that work in the real key table, hostile and damaged input, archives,
// the real GMRockKit of hydrogen-data, and importing kits as packages.
#include "corefixture.h"
#include "filesizelimit.h"

#include "packages/hydrogen.h"
#include "archives/kitarchive.h"
#include "packages/packages.h"
#include "base/textfiles.h"

#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace rimbal;

namespace {

const QString kGMRockKit = QStringLiteral("/usr/share/hydrogen/data/drumkits/GMRockKit");

void writeText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// A kit folder: drumkit.xml and a short sound for every sample named.
QString writeKit(const QString& folder, const QByteArray& xml, const QStringList& samples) {
    writeText(folder + QStringLiteral("/drumkit.xml"), xml);
    for (const QString& s : samples) {
        QDir().mkpath(QFileInfo(folder + u'/' + s).absolutePath());
        writeWavFile(folder + u'/' + s, toneSamples(220, 2400));
    }
    return folder;
}

QByteArray instrument(const char* name, const char* file, int muteGroup = -1, const char* extra = "") {
    return QByteArray("<instrument><name>") + name + "</name><volume>1</volume><muteGroup>" + QByteArray::number(muteGroup) +
           "</muteGroup>" + extra + "<instrumentComponent><component_id>0</component_id><layer><filename>" + file +
           "</filename><min>0</min><max>1</max><gain>1</gain></layer></instrumentComponent></instrument>";
}

QByteArray kitXml(const QByteArray& instruments) {
    return "<?xml version=\"1.0\"?><drumkit_info xmlns=\"http://www.hydrogen-music.org/drumkit\"><name>Teste</name>"
           "<instrumentList>" + instruments + "</instrumentList></drumkit_info>";
}

const KitKey* keyOf(const KitPlan& plan, std::uint16_t key) {
    for (const KitKey& k : plan.keys)
        if (k.playKey == key) return &k;
    return nullptr;
}

QStringList keysOf(const KitPlan& plan, const QString& instrument) {
    QStringList out;
    for (const KitKey& k : plan.keys)
        if (k.instrument == instrument) out.append(QString::number(k.playKey));
    return out;
}

TEST(Hydrogen, RolesAreFoundByName) {
    const std::pair<const char*, DrumRole> cases[] = {
        {"Kick", DrumRole::Kick},           {"Bass Drum 2", DrumRole::Kick},   {"BD", DrumRole::Kick},
        {"Snare", DrumRole::Snare},         {"Snare Rimshot", DrumRole::Rim},  {"Stick", DrumRole::Rim},
        {"Hand Clap", DrumRole::Clap},      {"Hat Closed", DrumRole::HatClosed}, {"HiHat-Open", DrumRole::HatOpen},
        {"Hat Semi-Open", DrumRole::HatOpen}, {"HH Pedal", DrumRole::HatPedal}, {"Floor Tom", DrumRole::TomMid},
        {"Tom1", DrumRole::TomMid},         {"Crash Left", DrumRole::Crash},   {"Splash", DrumRole::Crash},
        {"Ride 2", DrumRole::Ride},         {"Bell", DrumRole::RideBell},      {"Ride Bell", DrumRole::RideBell},
        {"Cowbell", DrumRole::Cowbell},     {"Tambourine", DrumRole::Tambourine}, {"Shaker", DrumRole::Shaker},
        {"Bottom Snare", DrumRole::Snare},  {"Custom FX", DrumRole::None},     {"Guiro", DrumRole::None},
        {"OpenHH", DrumRole::HatOpen},      {"ClosedHat", DrumRole::HatClosed}, {"HHP", DrumRole::HatPedal},
        {"What", DrumRole::None},
    };
    for (const auto& [name, role] : cases) EXPECT_EQ(RoleOfInstrument(QString::fromLatin1(name)), role) << name;
}

TEST(Hydrogen, ReadsBothLayoutsAndTakesTheHardestLayer) {
    QTemporaryDir dir;
    // The older layout: layers straight under the instrument, no namespace.
    const QByteArray older =
        "<drumkit_info><name>Velho</name><author>Ana &amp; Bia</author><license>CC-BY</license>"
        "<info>&lt;html>&lt;head>&lt;style>p { x: y; }&lt;/style>&lt;/head>&lt;body>&lt;p>Um kit&amp;amp;som &amp;#233;timo&lt;/p>&lt;/body>&lt;/html></info>"
        "<instrumentList><instrument><id>3</id><name>Kick</name><volume>0.8</volume><isMuted>false</isMuted><muteGroup>-1</muteGroup>"
        "<midiOutNote>36</midiOutNote>"
        "<layer><filename>k_soft.wav</filename><min>0</min><max>0.5</max><gain>1</gain></layer>"
        "<layer><filename>k_hard.wav</filename><min>0.5</min><max>1</max><gain>0.5</gain></layer>"
        "<layer><filename>k_mid.wav</filename><min>0.3</min><max>0.7</max><gain>1</gain></layer>"
        "</instrument></instrumentList></drumkit_info>";
    writeKit(dir.path() + "/old", older, {"k_soft.wav", "k_hard.wav", "k_mid.wav"});
    HydrogenKit kit;
    QString error;
    ASSERT_TRUE(ReadHydrogenKit(dir.path() + "/old", kit, &error)) << error.toStdString();
    EXPECT_EQ(kit.name, "Velho");
    EXPECT_EQ(kit.author, "Ana & Bia");
    ASSERT_EQ(kit.instruments.size(), 1);
    const HydrogenInstrument& kick = kit.instruments[0];
    EXPECT_EQ(kick.id, 3);
    EXPECT_EQ(kick.midiNote, 36);
    EXPECT_EQ(kick.layers.size(), 3);
    EXPECT_EQ(kick.LoudestLayer()->fileName, "k_hard.wav");
    const KitPlan oldPlan = PlanHydrogenKit(kit);
    EXPECT_EQ(oldPlan.info, QStringLiteral("Um kit&som \u00e9timo")) << "rich text without its style sheet";
    ASSERT_NE(keyOf(oldPlan, kVkSpace), nullptr);
    EXPECT_FLOAT_EQ(keyOf(oldPlan, kVkSpace)->volume, 0.4f) << "volume x layer gain";
    EXPECT_EQ(oldPlan.InfoLines("Velho"),
              QStringList({"[Info]", "Name=Velho", "Author=Ana & Bia", "Contact=", "Version=", "Comment=Um kit&som \u00e9timo (Licença: CC-BY)"}));

    // The newer layout: layers in components, the first component with layers counts.
    const QByteArray newer = kitXml(
        "<instrument><name>Snare</name><volume>1.5</volume><gain>0.7</gain><isMuted>false</isMuted><muteGroup>-1</muteGroup>"
        "<instrumentComponent><component_id>0</component_id></instrumentComponent>"
        "<instrumentComponent><component_id>1</component_id><layer><filename>s.wav</filename><min>0</min><max>1</max><gain>0.9</gain></layer></instrumentComponent>"
        "<instrumentComponent><component_id>2</component_id><layer><filename>room.wav</filename><min>0</min><max>1</max><gain>1</gain></layer></instrumentComponent>"
        "</instrument>" +
        instrument("Mudo", "s.wav", -1, "<isMuted>true</isMuted>"));
    writeKit(dir.path() + "/new", newer, {"s.wav", "room.wav"});
    ASSERT_TRUE(ReadHydrogenKit(dir.path() + "/new/drumkit.xml", kit, &error)) << error.toStdString();
    ASSERT_EQ(kit.instruments.size(), 2);
    EXPECT_DOUBLE_EQ(kit.instruments[0].gain, 0.7);
    ASSERT_EQ(kit.instruments[0].layers.size(), 1);
    EXPECT_EQ(kit.instruments[0].layers[0].fileName, "s.wav");
    EXPECT_TRUE(kit.instruments[1].muted);
    const KitPlan plan = PlanHydrogenKit(kit);
    ASSERT_NE(keyOf(plan, 'F'), nullptr);
    EXPECT_FLOAT_EQ(keyOf(plan, 'F')->volume, 1.0f) << "limited to 1";
    EXPECT_EQ(plan.notPlaced, QStringList{"Mudo: silenciado no kit"});
    EXPECT_EQ(plan.samples.size(), 1);
}

// Every layer goes with its key, and each key sounds where the kit places
// it: <pan>, or the older gains per side. Keys.txt keeps the hardest layer.
TEST(Hydrogen, EveryLayerAndThePlaceOfEachInstrumentGoIntoLayersTxt) {
    QTemporaryDir dir;
    const QByteArray xml =
        "<drumkit_info><name>P</name><instrumentList>"
        "<instrument><name>Kick</name><volume>0.8</volume><pan_L>0.5</pan_L><pan_R>1</pan_R>"
        "<layer><filename>k_soft.wav</filename><min>0</min><max>0.5</max><gain>1</gain></layer>"
        "<layer><filename>k_hard.wav</filename><min>0.5</min><max>1</max><gain>0.5</gain></layer></instrument>"
        "<instrument><name>Snare</name><volume>1</volume><pan>-0.3</pan>"
        "<layer><filename>s.wav</filename><min>0</min><max>1</max><gain>1</gain></layer></instrument>"
        "<instrument><name>Clap</name><volume>1</volume><pan_L>1</pan_L><pan_R>1</pan_R>"
        "<layer><filename>c.wav</filename><min>0</min><max>1</max><gain>1</gain></layer></instrument>"
        "<instrument><name>Tom</name><volume>1</volume><pan_L>1</pan_L><pan_R>0.25</pan_R>"
        "<layer><filename>t.wav</filename><min>0</min><max>1</max><gain>1</gain></layer>"
        "<layer><filename>fora.wav</filename><min>0</min><max>0.2</max><gain>1</gain></layer>" +
        QByteArray("<layer><filename>t.wav</filename><min>0</min><max>1</max><gain>1</gain></layer>").repeated(kMaxLayers + 1) +
        "</instrument></instrumentList></drumkit_info>";
    writeKit(dir.path(), xml, {"k_soft.wav", "k_hard.wav", "s.wav", "c.wav", "t.wav"});
    HydrogenKit kit;
    ASSERT_TRUE(ReadHydrogenKit(dir.path(), kit));
    ASSERT_EQ(kit.instruments.size(), 4);
    EXPECT_DOUBLE_EQ(kit.instruments[0].pan, 0.5);
    EXPECT_DOUBLE_EQ(kit.instruments[1].pan, -0.3);
    EXPECT_DOUBLE_EQ(kit.instruments[2].pan, 0.0);
    EXPECT_DOUBLE_EQ(kit.instruments[3].pan, -0.75);
    KitPlan plan = PlanHydrogenKit(kit);
    EXPECT_EQ(keyOf(plan, kVkSpace)->file, "k_hard.wav");
    EXPECT_EQ(plan.layerNotes, QStringList({"Tom: camada ignorada (amostra não encontrada: fora.wav)",
                                            "Tom: 2 camadas ignoradas (uma tecla guarda até 32)"}));
    plan.scale = 0.5;
    EXPECT_TRUE(plan.KeyLines().first().contains("0,20") || plan.KeyLines().first().contains("0.20"));
    const QStringList lines = plan.LayerLines();
    EXPECT_EQ(lines.first(), "Velocidade*0.8");
    for (const char* line : {"32*0*0.5*2*0.5*k_soft.wav", "32*0.5*1*1*0.5*k_hard.wav", "66*0*0.5*2*0.5*k_soft.wav",
                             "70*0*1*1*-0.3*s.wav", "85*0*1*1*-0.75*t.wav"})
        EXPECT_TRUE(lines.contains(line)) << line << "\n" << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter("c.wav").size(), 0) << "one sample in the centre needs no line";
    EXPECT_EQ(lines.filter(QRegularExpression("^85\\*")).size(), kMaxLayers) << "as many layers as a key loads";
    QStringList names;
    for (const KitSample& s : plan.samples) names << s.name;
    EXPECT_TRUE(names.contains("k_soft.wav") && names.contains("k_hard.wav"));
}

// A hi-hat in a mute group and one of congas; the plan's lines go into the
// real key table, where a press ends at the first line it plays.
class HydrogenKeys : public CoreTest {};

TEST_F(HydrogenKeys, MuteGroupsGiveStopKeysThatWorkInTheKeyTable) {
    const QByteArray xml = kitXml(instrument("Hat Closed", "hc.wav", 0) + instrument("Hat Pedal", "hp.wav", 0) +
                                  instrument("Hat Open", "ho.wav", 0) + instrument("Conga Mute", "cm.wav", 1) +
                                  instrument("Conga Open", "co.wav", 1) + instrument("Kick", "k.wav"));
    writeKit(appDir + "h2", xml, {"hc.wav", "hp.wav", "ho.wav", "cm.wav", "co.wav", "k.wav"});
    HydrogenKit kit;
    ASSERT_TRUE(ReadHydrogenKit(appDir + "h2", kit));
    const KitPlan plan = PlanHydrogenKit(kit);
    EXPECT_TRUE(plan.notPlaced.isEmpty());
    ASSERT_NE(keyOf(plan, 'Q'), nullptr);
    EXPECT_EQ(keyOf(plan, 'Q')->instrument, "Hat Open");
    EXPECT_EQ(keyOf(plan, 'Q')->stopKey, 'A');
    EXPECT_EQ(keyOf(plan, 'W')->stopKey, 'Z') << "the open hat's second key closes with the pedal";
    EXPECT_EQ(keyOf(plan, 'A')->stopKey, 0) << "the closed hat closes the group";
    EXPECT_EQ(keysOf(plan, "Conga Mute"), QStringList{"89"}) << "first spare key Y";
    EXPECT_EQ(keyOf(plan, 'Y')->stopKey, 'T') << "outside hi-hats the group's last instrument closes it";
    EXPECT_EQ(keyOf(plan, 'T')->stopKey, 0);
    EXPECT_EQ(keysOf(plan, "Kick"), QStringList({"32", "66"}));

    // Into a package and through PlayKey.
    settings->PackName = QStringLiteral("H2");
    QDir().mkpath(core->PackageFolder());
    for (const KitSample& s : plan.samples) ASSERT_TRUE(QFile::copy(s.source, core->PackageFolder() + s.name));
    core->KeyLines = plan.KeyLines();
    startEngine();
    ASSERT_EQ(core->KeyCount, plan.keys.size());
    const auto playing = [&](std::uint16_t key) {
        for (int i = 0; i < core->ScanCount(); ++i) {
            const auto& r = core->KeySounds[static_cast<std::size_t>(i)];
            if (r.playKey != key) continue;
            for (rb::Channel c : r.channels)
                if (core->IsChannelPlaying(c)) return true;
        }
        return false;
    };
    for (const auto& [open, closing] : {std::pair<int, int>{'Q', 'A'}, {'W', 'Z'}, {'Z', 'A'}, {'Y', 'T'}}) {
        core->PlayKey(static_cast<std::uint16_t>(open));
        core->PlayKey(static_cast<std::uint16_t>(open));
        core->PlayKey(static_cast<std::uint16_t>(closing));
        EXPECT_FALSE(playing(static_cast<std::uint16_t>(open))) << open;
        EXPECT_TRUE(playing(static_cast<std::uint16_t>(closing))) << closing;
    }
}

TEST(Hydrogen, SamplesThatAreMissingOrOutsideTheKitGetNoKeyAndSafeNames) {
    QTemporaryDir dir;
    writeText(dir.path() + "/secret.wav", "not for packages");
    writeText(dir.path() + "/kit-b/s.wav", "a sibling folder sharing the kit folder's prefix");
    const QByteArray xml = kitXml(instrument("Kick", "a/kick.wav") + instrument("Kick 2", "b/Kick.wav") +
                                  instrument("Perc*1", "Keys.txt") + instrument("Perc 2", "x*y.wav") +
                                  instrument("Fora", "../secret.wav") + instrument("Vizinho", "../kit-b/s.wav") +
                                  instrument("Absoluto", "/etc/hostname") +
                                  instrument("Falta", "none.wav") + "<instrument><name></name><volume>1</volume></instrument>");
    writeKit(dir.path() + "/kit", xml, {"a/kick.wav", "b/Kick.wav", "Keys.txt", "x*y.wav"});
    HydrogenKit kit;
    ASSERT_TRUE(ReadHydrogenKit(dir.path() + "/kit", kit));
    kit.name = ".Kit";  // a hidden folder would never be listed
    const KitPlan plan = PlanHydrogenKit(kit);
    EXPECT_EQ(plan.folderName, "Kit");
    EXPECT_EQ(plan.notPlaced, QStringList({"Fora: amostra fora da pasta do kit: ../secret.wav",
                                           "Vizinho: amostra fora da pasta do kit: ../kit-b/s.wav",
                                           "Absoluto: amostra fora da pasta do kit: /etc/hostname",
                                           "Falta: amostra não encontrada: none.wav", "Instrumento 9: nenhuma amostra"}));
    QStringList names;
    for (const KitSample& s : plan.samples) names.append(s.name);
    EXPECT_EQ(names, QStringList({"kick.wav", "Kick2.wav", "Keys2.txt", "x_y.wav"}));
    for (const QString& line : plan.KeyLines()) EXPECT_EQ(line.count(u'*'), 22) << line.toStdString();
}

TEST(Hydrogen, AtMostSixtyFourKeysAndEveryOtherInstrumentIsReported) {
    QTemporaryDir dir;
    QByteArray xml;
    for (int i = 0; i < 70; ++i) xml += instrument(QByteArray("Perc " + QByteArray::number(i)).constData(), "p.wav");
    writeKit(dir.path(), kitXml(xml), {"p.wav"});
    HydrogenKit kit;
    ASSERT_TRUE(ReadHydrogenKit(dir.path(), kit));
    const KitPlan plan = PlanHydrogenKit(kit);
    EXPECT_LE(plan.keys.size(), 64);
    EXPECT_EQ(plan.keys.size() + plan.notPlaced.size(), 70);
    QSet<std::uint16_t> keys;
    for (const KitKey& k : plan.keys) keys.insert(k.playKey);
    EXPECT_EQ(keys.size(), plan.keys.size()) << "no key twice";
    EXPECT_EQ(plan.notPlaced.back(), "Perc 69: não há mais teclas livres");
    EXPECT_EQ(plan.samples.size(), 1) << "one file for all";
}

TEST(Hydrogen, BrokenOrForeignXmlIsRefusedWithAMessage) {
    QTemporaryDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"<drumkit_info><name>X</name><instrumentList><instrument><name>K", "danificado (linha 1)"},
        {"<drumkit_info><name>X</name></drumkit_info><extra/>", "danificado"},
        {"<song><name>X</name></song>", "não é um kit do Hydrogen"},
        {"", "danificado"},
    };
    for (const auto& [xml, message] : cases) {
        writeText(dir.path() + "/drumkit.xml", xml);
        HydrogenKit kit;
        kit.name = "antes";
        QString error;
        EXPECT_FALSE(ReadHydrogenKit(dir.path(), kit, &error)) << xml;
        EXPECT_EQ(kit.name, "antes") << "nothing changes";
        EXPECT_TRUE(error.contains(QString::fromUtf8(message))) << error.toStdString();
    }
    QString error;
    HydrogenKit kit;
    EXPECT_FALSE(ReadHydrogenKit(dir.path() + "/nada", kit, &error));
    EXPECT_TRUE(error.startsWith("Não foi possível ler")) << error.toStdString();
}

// Files that are valid XML but made to cost: an entity used a hundred
// thousand times (300 KB that expand to 400 million characters), any DTD,
// a text past 64 KiB, more than 1024 instruments. Each is refused before it
// is expanded or kept; at the bounds the kit reads.
TEST(Hydrogen, CostlyXmlIsRefusedAtItsBounds) {
    QTemporaryDir dir;
    const QByteArray bomb = "<?xml version=\"1.0\"?><!DOCTYPE drumkit_info [<!ENTITY e \"" + QByteArray(4000, 'x') +
                            "\">]><drumkit_info><name>" + QByteArray("&e;").repeated(100000) + "</name></drumkit_info>";
    const auto instruments = [](int n) { return kitXml(QByteArray("<instrument/>").repeated(n)); };
    const auto named = [](qsizetype n) { return "<drumkit_info><name>" + QByteArray(n, 'n') + "</name></drumkit_info>"; };
    const std::pair<QByteArray, const char*> refused[] = {
        {bomb, "declara entidades (DTD)"},
        {"<!DOCTYPE drumkit_info><drumkit_info><name>X</name></drumkit_info>", "declara entidades (DTD)"},
        {named(64 * 1024 + 1), "tem um texto longo demais para um kit (linha 1)"},
        {instruments(1025), "tem mais de 1024 instrumentos"},
    };
    for (const auto& [xml, message] : refused) {
        writeText(dir.path() + "/drumkit.xml", xml);
        HydrogenKit kit;
        kit.name = "antes";
        QString error;
        EXPECT_FALSE(ReadHydrogenKit(dir.path(), kit, &error)) << message;
        EXPECT_EQ(kit.name, "antes");
        EXPECT_TRUE(error.contains(QString::fromUtf8(message))) << error.toStdString();
    }
    HydrogenKit kit;
    writeText(dir.path() + "/drumkit.xml", named(64 * 1024));
    ASSERT_TRUE(ReadHydrogenKit(dir.path(), kit));
    EXPECT_EQ(kit.name.size(), 64 * 1024);
    writeText(dir.path() + "/drumkit.xml", instruments(1024));
    ASSERT_TRUE(ReadHydrogenKit(dir.path(), kit));
    EXPECT_EQ(kit.instruments.size(), 1024);
}

// The kit's rich text as one line, as a browser would show it; a megabyte
// of tags that never close costs one pass, not one per tag.
TEST(Hydrogen, RichTextBecomesOneLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"<html><head><title>x</title></head><body><p>Kit &amp; <b>mais</b></p></body></html>", "Kit & mais"},
        {"a<style type=\"t\">p{}</style >b", "ab"},
        {"<HEAD>x</head>y", "y"},
        {"<header>z</header>", "z"},
        {"<head>a", "a"},
        {"a < b", "a < b"},
        {"&lt;head&gt;", "<head>"},
        {"&#65;&#x42;", "AB"},
        {"<script>x<script>y</script>z", "z"},
        {"<head>a</head b>c</head>d", "d"},
        {"x <y <head>w</head> z", "x <y z"},
        {"<headx>q</head>r", "q r"},
        {"1<style\n>2</STYLE\t\n>3", "13"},
    };
    for (const auto& [rich, plain] : cases) EXPECT_EQ(PlainTextLine(QString::fromUtf8(rich)), QString::fromUtf8(plain)) << rich;
    for (const char* unclosed : {"<head", "<style ", "<"}) {
        const QString text = QString::fromLatin1(unclosed).repeated((1 << 20) / int(std::strlen(unclosed)));
        EXPECT_EQ(PlainTextLine(text), text.simplified()) << unclosed;
    }
}

// Writes a gzip tar with libarchive's writer, which stores any name and type.
struct TarEntry {
    const char* name;
    mode_t type = AE_IFREG;
    QByteArray data = "dados";
    const char* link = nullptr;
};
void writeTar(const QString& path, const std::vector<TarEntry>& entries) {
    archive* a = archive_write_new();
    archive_write_add_filter_gzip(a);
    archive_write_set_format_pax_restricted(a);
    ASSERT_EQ(archive_write_open_filename(a, QFile::encodeName(path).constData()), ARCHIVE_OK);
    for (const TarEntry& e : entries) {
        archive_entry* en = archive_entry_new();
        archive_entry_set_pathname(en, e.name);
        archive_entry_set_filetype(en, e.type);
        archive_entry_set_perm(en, 0644);
        if (e.type == AE_IFLNK) archive_entry_set_symlink(en, e.link);
        else if (e.link) archive_entry_set_hardlink(en, e.link);
        archive_entry_set_size(en, e.type == AE_IFREG && !e.link ? e.data.size() : 0);
        archive_write_header(a, en);
        if (e.type == AE_IFREG && !e.link) archive_write_data(a, e.data.constData(), static_cast<size_t>(e.data.size()));
        archive_entry_free(en);
    }
    archive_write_close(a);
    archive_write_free(a);
}

TEST(KitArchive, HostileEntriesAreRefusedAndNothingLandsOutside) {
    QTemporaryDir dir;
    const TarEntry hostile[] = {
        {"../fora.wav"}, {"kit/../../fora.wav"}, {"/tmp/absoluto.wav"}, {"C:\\fora.wav"}, {"kit\\..\\..\\fora.wav"},
        {"kit/link", AE_IFLNK, {}, "/etc/passwd"}, {"kit/hard", AE_IFREG, {}, "/etc/passwd"},
        {"kit/dev", AE_IFCHR}, {"kit/fifo", AE_IFIFO},
    };
    for (const TarEntry& bad : hostile) {
        SCOPED_TRACE(bad.name);
        const QString stage = dir.path() + "/stage";
        QDir(stage).removeRecursively();
        QDir().mkpath(stage);
        writeTar(dir.path() + "/kit.h2drumkit", {{"kit/drumkit.xml"}, bad, {"kit/depois.wav"}});
        QString error;
        EXPECT_FALSE(ExtractKitArchive(dir.path() + "/kit.h2drumkit", stage, &error));
        EXPECT_TRUE(error.contains("contém uma entrada insegura")) << error.toStdString();
        EXPECT_FALSE(QFileInfo::exists(dir.path() + "/fora.wav"));
        EXPECT_FALSE(QFileInfo::exists(stage + "/kit/depois.wav")) << "extraction stops at the bad entry";
        EXPECT_FALSE(QFileInfo(stage + "/kit/link").isSymLink());
    }
}

TEST(KitArchive, SizeAndCountBombsAndDamageAreRefused) {
    QTemporaryDir dir;
    const QString archive = dir.path() + "/kit.h2drumkit", stage = dir.path() + "/stage";
    QDir().mkpath(stage);
    writeTar(archive, {{"kit/drumkit.xml", AE_IFREG, QByteArray(3000, 'x')}, {"kit/a.wav", AE_IFREG, QByteArray(3000, 'y')}});
    QString error;
    EXPECT_FALSE(ExtractKitArchive(archive, stage, &error, ArchiveLimits{4000, 100}));
    EXPECT_TRUE(error.contains("descompactado passa de")) << error.toStdString();
    EXPECT_FALSE(ExtractKitArchive(archive, stage, &error, ArchiveLimits{1 << 20, 1}));
    EXPECT_TRUE(error.contains("entradas demais")) << error.toStdString();
    ASSERT_TRUE(ExtractKitArchive(archive, stage, &error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(stage + "/kit/a.wav").size(), 3000);
    // Whole 64 KiB pieces bypass QFile's buffer, so only each write's result tells of a full disk.
    writeTar(dir.path() + "/big.h2drumkit", {{"kit/a.wav", AE_IFREG, QByteArray(256 * 1024, 'y')}});
    bool extracted = true;
    {
        const FileSizeLimit full(1000);  // a full disk; the test's output waits until after it
        extracted = ExtractKitArchive(dir.path() + "/big.h2drumkit", stage, &error);
    }
    EXPECT_FALSE(extracted);
    EXPECT_TRUE(error.startsWith("Não foi possível gravar o arquivo")) << error.toStdString();
    EXPECT_EQ(FindDrumkitXml(stage), stage + "/kit/drumkit.xml");

    QFile f(archive);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QByteArray whole = f.readAll();
    f.resize(whole.size() / 2);
    f.close();
    EXPECT_FALSE(ExtractKitArchive(archive, stage, &error));
    EXPECT_TRUE(error.contains("danificado")) << error.toStdString();
    writeText(archive, "isto não é um tar");
    EXPECT_FALSE(ExtractKitArchive(archive, stage, &error));
    EXPECT_TRUE(error.contains("danificado")) << error.toStdString();

    // An entry declaring more than the disk has free (its data never comes)
    // is refused on its header, as a package is, before a byte is written.
    const qint64 free = QStorageInfo(stage).bytesAvailable();
    ASSERT_GT(free, 0);
    QByteArray header(512, '\0');
    std::memcpy(header.data(), "kit/enorme.wav", 14);
    for (const auto& [at, field] : {std::pair{100, "0000644"}, {108, "0000000"}, {116, "0000000"}})
        std::memcpy(header.data() + at, field, 7);
    const qint64 declared = free + (qint64(1) << 30);
    header[124] = char(0x80);  // a size in base 256, big-endian
    for (int i = 0; i < 8; ++i) header[135 - i] = char((declared >> (8 * i)) & 0xFF);
    std::memcpy(header.data() + 136, "00000000000", 11);
    header[156] = '0';
    std::memcpy(header.data() + 257, "ustar\00000", 8);
    std::memset(header.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (const char c : header) sum += static_cast<unsigned char>(c);
    std::snprintf(header.data() + 148, 8, "%06o", sum);
    writeText(archive, header + QByteArray(512, 'd'));
    EXPECT_FALSE(ExtractKitArchive(archive, stage, &error, ArchiveLimits{qint64(1) << 62, 100}));
    EXPECT_TRUE(error.contains("MB livres")) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(stage + "/kit/enorme.wav"));
}

// GMRockKit from hydrogen-data: its folder and a .h2drumkit made of it.
TEST(Hydrogen, GMRockKitFromItsFolderAndFromAnArchiveGetsEveryInstrumentAKey) {
    ASSERT_TRUE(QFileInfo(kGMRockKit + "/drumkit.xml").isFile()) << "scripts/deps.sh installs hydrogen-data";
    QTemporaryDir dir;
    QProcess tar;
    tar.start("tar", {"-czf", dir.path() + "/GMRockKit.h2drumkit", "-C", QFileInfo(kGMRockKit).absolutePath(), "GMRockKit"});
    ASSERT_TRUE(tar.waitForFinished(60000) && tar.exitCode() == 0);
    QDir().mkpath(dir.path() + "/.stage");
    QString error;
    ASSERT_TRUE(ExtractKitArchive(dir.path() + "/GMRockKit.h2drumkit", dir.path() + "/.stage", &error)) << error.toStdString();

    rb::System sys{};
    ASSERT_EQ(rb::System_Create(&sys), rb::OK);
    rb::System_SetOutput(sys, rb::OUTPUTTYPE_NULL);
    ASSERT_EQ(rb::System_Init(sys, 64, rb::INIT_NORMAL, nullptr), rb::OK);
    for (const QString& source : {kGMRockKit, FindDrumkitXml(dir.path() + "/.stage")}) {
        SCOPED_TRACE(source.toStdString());
        HydrogenKit kit;
        ASSERT_TRUE(ReadHydrogenKit(source, kit, &error)) << error.toStdString();
        EXPECT_EQ(kit.name, "GMRockKit");
        const KitPlan plan = PlanHydrogenKit(kit);
        EXPECT_EQ(plan.folderName, "GMRockKit");
        EXPECT_EQ(plan.info, "A Sampled 5pc Pearl DX Series Drumkit.");
        EXPECT_TRUE(plan.notPlaced.isEmpty()) << plan.notPlaced.join(", ").toStdString();
        for (const HydrogenInstrument& ins : kit.instruments) EXPECT_FALSE(keysOf(plan, ins.name).isEmpty()) << ins.name.toStdString();
        EXPECT_EQ(keysOf(plan, "Kick"), QStringList({"32", "66"}));
        EXPECT_EQ(keyOf(plan, 'F')->instrument, "Snare");
        EXPECT_EQ(keyOf(plan, 'U')->instrument, "Tom 1");
        EXPECT_EQ(keyOf(plan, 'O')->instrument, "Floor Tom");
        EXPECT_EQ(keyOf(plan, 'Q')->instrument, "Hat Open");
        EXPECT_EQ(keyOf(plan, 'Q')->stopKey, 'A');
        EXPECT_EQ(keyOf(plan, 'W')->instrument, "Hat Semi-Open");
        EXPECT_EQ(keyOf(plan, 'W')->stopKey, 'Z');
        EXPECT_EQ(keyOf(plan, 'A')->file, "HatClosed-Hardest.wav") << "the hardest layer";
        EXPECT_FLOAT_EQ(keyOf(plan, 'A')->volume, 0.685345f);
        EXPECT_EQ(plan.keys.size(), 23);
        for (const KitSample& s : plan.samples) {
            rb::Sound snd{};
            EXPECT_EQ(rb::System_CreateSound(sys, QFile::encodeName(s.source).constData(), rb::MODE_SOFTWARE, nullptr, &snd), rb::OK) << s.name.toStdString();
            rb::Sound_Release(snd);
        }
    }
    rb::System_Release(sys);
}

// ---- importing a kit as a package ----

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

// Every entry under a folder, hidden ones too, with its contents.
QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        out.insert(p.mid(folder.size()), QFileInfo(p).isDir() ? QByteArray("<dir>") : readAll(p));
    }
    return out;
}

QString makeTarGz(const QString& archive, const QString& folder) {
    QProcess tar;
    tar.start("tar", {"-czf", archive, "-C", QFileInfo(folder).absolutePath(), QFileInfo(folder).fileName()});
    return tar.waitForFinished(60000) && tar.exitCode() == 0 ? archive : QString();
}

// A program with the package "Kit" (one key) in use on the null output.
class KitImportTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        settings->PackName = "Kit";
        const QString wav = packageFile("a.wav", toneSamples(440, 4800));
        core->KeyLines = {"65*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*a.wav"};
        ASSERT_TRUE(core->SaveKeyLines());
        startEngine();
        ASSERT_EQ(core->KeyCount, 1);
    }
    KitImport import(const QString& path) { return Packages(*core, prompt, log).ImportHydrogenKit(path); }
    QStringList packageFiles() const {
        return QDir(settings->PackPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    // Peak of a block rendered while only key i's sound plays.
    float peakOfKey(int i) {
        const auto& r = core->KeySounds[static_cast<std::size_t>(i)];
        core->PlayKey(r.playKey);
        const bool playing = std::any_of(r.channels.begin(), r.channels.end(), [&](rb::Channel c) { return core->IsChannelPlaying(c); });
        EXPECT_TRUE(playing) << "key " << r.playKey;
        float peak = 0;
        for (const float v : render(4096)) peak = std::max(peak, std::abs(v));
        for (rb::Channel c : r.channels) rb::Channel_Stop(c);
        render(512);
        return playing ? peak : 0.0f;
    }
};

TEST_F(KitImportTest, GMRockKitFromItsFolderAndFromATarGzBecomesThePackageInUseAndEveryKeyPlaysItsSample) {
    ASSERT_TRUE(QFileInfo(kGMRockKit + "/drumkit.xml").isFile()) << "scripts/deps.sh installs hydrogen-data";
    HydrogenKit kit;
    ASSERT_TRUE(ReadHydrogenKit(kGMRockKit, kit));
    const QString archive = makeTarGz(dir.path() + "/GMRockKit.h2drumkit", kGMRockKit);
    ASSERT_FALSE(archive.isEmpty());
    const auto kitBefore = snapshot(settings->PackPath + "Kit/");

    // From the folder, then from the archive over it ("Sim" at the question).
    for (const QString& source : {kGMRockKit, archive}) {
        SCOPED_TRACE(source.toStdString());
        prompt.asked.clear();
        prompt.buttonAnswers = {Prompt::Yes};
        const KitImport done = import(source);
        ASSERT_EQ(done.result, KitImport::Imported) << done.errors.join(", ").toStdString();
        EXPECT_EQ(prompt.asked.size(), source == archive ? 1 : 0) << "the question only when the name is taken";
        EXPECT_EQ(done.package, "GMRockKit");
        EXPECT_TRUE(done.notImported.isEmpty()) << done.notImported.join(", ").toStdString();
        EXPECT_EQ(settings->PackName, "GMRockKit");
        EXPECT_EQ(packageFiles(), QStringList({"GMRockKit", "Kit"})) << "no staging folder left";
        EXPECT_TRUE(log.shown.isEmpty());
        ASSERT_EQ(core->KeyCount, 23);

        // Every instrument has a key whose Keys.txt sample is the layer a key
        // press plays (velocity 0.8; a boundary belongs to the layer above), byte for byte.
        const QString folder = core->PackageFolder();
        for (const HydrogenInstrument& ins : kit.instruments) {
            double top = 0;
            for (const HydrogenLayer& l : ins.layers) top = std::max(top, l.max);
            const auto plain = std::find_if(ins.layers.begin(), ins.layers.end(), [&](const HydrogenLayer& l) {
                return 0.8 >= l.min && (0.8 < l.max || (0.8 == l.max && l.max >= top));
            });
            ASSERT_NE(plain, ins.layers.end()) << ins.name.toStdString();
            const QString file = plain->fileName;
            EXPECT_TRUE(std::any_of(core->KeyLines.begin(), core->KeyLines.end(), [&](const QString& l) { return l.endsWith(u'*' + file); }))
                << ins.name.toStdString();
            EXPECT_EQ(readAll(folder + file), readAll(kGMRockKit + u'/' + file)) << file.toStdString();
        }
        for (int i = 0; i < core->KeyCount; ++i) {
            const auto& r = core->KeySounds[static_cast<std::size_t>(i)];
            ASSERT_NE(r.sound, rb::Sound{}) << r.fileName.toStdString();
            EXPECT_TRUE(r.fileName.startsWith(folder));
            EXPECT_GT(peakOfKey(i), 0.01f) << r.fileName.toStdString();
        }
        EXPECT_EQ(FromWindows1252(readAll(folder + "Info.txt")),
                  "[Info]\r\nName=GMRockKit\r\nAuthor=Glen MacArthur / Sebastian Moors\r\nContact=\r\nVersion=\r\n"
                  "Comment=A Sampled 5pc Pearl DX Series Drumkit. (Licença: GPL)\r\n");
        // Each instrument's MIDI note on its main key: kick on the space bar,
        // snare F, closed hat A, open hat Q, semi-open hat W.
        const QByteArray midi = readAll(folder + "Midi.txt");
        EXPECT_EQ(midi.count("\r\n"), 18);
        for (const char* line : {"36*32\r\n", "38*70\r\n", "42*65\r\n", "46*81\r\n", "82*87\r\n"})
            EXPECT_TRUE(midi.contains(line)) << line;
    }
    EXPECT_EQ(snapshot(settings->PackPath + "Kit/"), kitBefore) << "the other package is untouched";

    // Cancel at the question: nothing changes; "Não" and a new name: a second package.
    const auto before = snapshot(settings->PackPath);
    prompt.buttonAnswers = {Prompt::Cancel};
    EXPECT_EQ(import(kGMRockKit).result, KitImport::Cancelled);
    EXPECT_EQ(snapshot(settings->PackPath), before);
    prompt.buttonAnswers = {Prompt::No};
    prompt.textAnswers = {"Rock"};
    const KitImport renamed = import(archive);
    ASSERT_EQ(renamed.result, KitImport::Imported);
    EXPECT_EQ(prompt.inputOffers.last(), "GMRockKitNovo");
    EXPECT_EQ(settings->PackName, "Rock");
    EXPECT_TRUE(readAll(core->PackageFolder() + "Info.txt").startsWith("[Info]\r\nName=Rock\r\n"));
    EXPECT_EQ(packageFiles(), QStringList({"GMRockKit", "Kit", "Rock"}));

    // Deleting an imported package leaves no folder behind.
    QStringList remaining;
    EXPECT_TRUE(Packages(*core, prompt, log).DeletePackage("Rock", &remaining)) << remaining.join(", ").toStdString();
}

// GMRockKit keeps its 86 layers and its places; its loudest hit peaks at
// -6 dBFS before the limiter; a soft pad and a hard one play different samples.
TEST_F(KitImportTest, GMRockKitKeepsEveryLayerAndLeavesHeadroom) {
    ASSERT_TRUE(QFileInfo(kGMRockKit + "/drumkit.xml").isFile()) << "scripts/deps.sh installs hydrogen-data";
    settings->Master_Limiter = false;  // what the kit itself gives
    const KitImport done = import(kGMRockKit);
    ASSERT_EQ(done.result, KitImport::Imported) << done.errors.join(", ").toStdString();
    EXPECT_TRUE(done.notes.isEmpty()) << done.notes.join(", ").toStdString();
    EXPECT_TRUE(log.shown.isEmpty());
    HydrogenKit kit;
    ASSERT_TRUE(ReadHydrogenKit(kGMRockKit, kit));
    QSet<QString> layerFiles;
    for (const HydrogenInstrument& ins : kit.instruments)
        for (const HydrogenLayer& l : ins.layers) layerFiles.insert(l.fileName);
    EXPECT_EQ(layerFiles.size(), 86);
    for (const QString& f : layerFiles) EXPECT_TRUE(QFileInfo::exists(core->PackageFolder() + f)) << f.toStdString();

    float loudest = 0;
    for (int i = 0; i < core->KeyCount; ++i) {
        auto& r = core->KeySounds[static_cast<std::size_t>(i)];
        EXPECT_TRUE(r.layers.count == 5 || (r.layers.count == 1 && r.fileName.endsWith("HandClap.wav"))) << r.fileName.toStdString();
        float key = 0;
        for (const float velocity : {1.0f, 0.1f}) {
            core->PlayKey(r.playKey, 1.0f, velocity);
            const auto out = render(4800);
            float peak = 0, left = 0, right = 0;
            for (std::size_t k = 0; k < out.size(); k += 2) {
                left = std::max(left, std::abs(out[k]));
                right = std::max(right, std::abs(out[k + 1]));
            }
            peak = std::max(left, right);
            if (velocity == 1.0f) {
                key = peak;
            } else if (r.layers.count > 1) {
                EXPECT_LT(peak, 0.8f * key) << "a soft hit is another, softer sample: " << r.fileName.toStdString();
            }
            if (r.fileName.endsWith("Kick-Hardest.wav")) {
                EXPECT_NEAR(left, right, 1e-6) << "the kick in the centre";
            }
            if (r.fileName.endsWith("Ride-Hardest.wav")) {
                EXPECT_GT(right, 1.5f * left) << "the ride on the right";
            }
            for (rb::Channel c : r.channels) rb::Channel_Stop(c);
            render(512);
        }
        loudest = std::max(loudest, key);
    }
    EXPECT_NEAR(loudest, 0.5012f, 0.002f) << "-6 dBFS";
}

// A soft layer whose gain boosts a quiet sample past full volume does not
// hold the whole kit down: the loudest hit any layer can give is -6 dBFS.
TEST_F(KitImportTest, AQuietLayerBoostedByItsGainStillLeavesTheLoudestHitAtMinusSix) {
    const QString kit = dir.path() + "/kit";
    writeKit(kit, kitXml("<instrument><name>Kick</name><volume>1</volume>"
                         "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max><gain>4</gain></layer>"
                         "<layer><filename>hard.wav</filename><min>0.5</min><max>1</max><gain>1</gain></layer></instrument>"),
             {});
    writeWavFile(kit + "/soft.wav", toneSamples(220, 4800, 0.1f));
    writeWavFile(kit + "/hard.wav", toneSamples(220, 4800, 0.9f));
    settings->Master_Limiter = false;
    ASSERT_EQ(import(kit).result, KitImport::Imported);
    const auto peakAt = [&](float velocity) {
        core->PlayKey(kVkSpace, 1.0f, velocity);
        float peak = 0;
        for (const float v : render(4800)) peak = std::max(peak, std::abs(v));
        for (rb::Channel c : core->KeySounds[0].channels) rb::Channel_Stop(c);
        render(512);
        return peak;
    };
    EXPECT_NEAR(peakAt(1.0f), 0.5012f, 0.003f);
    EXPECT_NEAR(peakAt(0.2f), 0.1f, 0.002f) << "the soft layer at full volume, no louder";
}

// A kit whose layers pass the memory budget: the last instruments keep
// only their hardest layer, and the import says so.
TEST_F(KitImportTest, LayersPastTheMemoryBudgetAreLeftOutAndReported) {
    const QString kit = dir.path() + "/kit";
    const QByteArray layers = "<layer><filename>%1_soft.wav</filename><min>0</min><max>0.5</max><gain>1</gain></layer>"
                              "<layer><filename>%1_hard.wav</filename><min>0.5</min><max>1</max><gain>1</gain></layer>";
    QByteArray xml;
    for (const char* name : {"Kick", "Snare"})
        xml += QByteArray("<instrument><name>") + name + "</name><volume>1</volume>" + QByteArray(layers).replace("%1", name) +
               "</instrument>";
    writeKit(kit, kitXml(xml), {"Kick_soft.wav", "Kick_hard.wav", "Snare_soft.wav", "Snare_hard.wav"});
    core->LayerBudget = 30000;  // three of the four 2400-frame samples
    const KitImport done = import(kit);
    ASSERT_EQ(done.result, KitImport::Imported) << done.errors.join(", ").toStdString();
    EXPECT_EQ(done.notes, QStringList{"As camadas passam de 1 MB de memória; ficaram com uma só camada: Snare."});
    EXPECT_FALSE(QFileInfo::exists(core->PackageFolder() + "Snare_soft.wav"));
    QStringList lines;
    ASSERT_TRUE(ReadTextLines(core->LayersFile(), lines));
    EXPECT_EQ(lines.filter("Snare").size(), 0);
    EXPECT_EQ(lines.filter("Kick_soft.wav").size(), 2) << "space and B";
    EXPECT_TRUE(log.shown.isEmpty());
}

TEST_F(KitImportTest, SamplesTheDecoderRefusesAreLeftOutAndLogged) {
    const QString kit = dir.path() + "/kit";
    writeKit(kit, kitXml(instrument("Kick", "kick.wav", -1, "<midiOutNote>36</midiOutNote>") +
                         instrument("Snare", "snare.wav", -1, "<midiOutNote>38</midiOutNote>") + instrument("Clap", "clap.wav")),
             {"kick.wav", "clap.wav"});
    writeText(kit + "/snare.wav", "RIFF, mas não um som");
    const KitImport done = import(kit + "/drumkit.xml");
    ASSERT_EQ(done.result, KitImport::Imported) << done.errors.join(", ").toStdString();
    ASSERT_EQ(done.notImported.size(), 1);
    EXPECT_TRUE(done.notImported[0].startsWith("Snare: a amostra snare.wav não pode ser lida (Erro da engine: (")) << done.notImported[0].toStdString();
    EXPECT_EQ(settings->PackName, "Teste");
    EXPECT_EQ(QDir(core->PackageFolder()).entryList(QDir::Files, QDir::Name), QStringList({"Info.txt", "Keys.txt", "Midi.txt", "clap.wav", "kick.wav"}));
    EXPECT_EQ(readAll(core->PackageFolder() + "Midi.txt"), "36*32\r\n") << "no note for the snare left out, none given for the clap";
    ASSERT_EQ(core->KeyCount, 4) << "kick on space and B, clap on G and H";
    for (int i = 0; i < core->KeyCount; ++i) EXPECT_GT(peakOfKey(i), 0.05f);
}

TEST_F(KitImportTest, HostileOrBrokenKitsChangeNothing) {
    const QString d = dir.path() + "/in/";
    const QByteArray kick = kitXml(instrument("Kick", "kick.wav"));
    writeKit(d + "good", kick, {"kick.wav"});
    writeTar(d + "hostile.h2drumkit", {{"kit/drumkit.xml", AE_IFREG, kick}, {"kit/../../fora.wav"}, {"kit/kick.wav"}});
    writeTar(d + "link.h2drumkit", {{"kit/drumkit.xml", AE_IFREG, kick}, {"kit/kick.wav", AE_IFLNK, {}, "/etc/passwd"}});
    writeTar(d + "noxml.h2drumkit", {{"kit/kick.wav"}});
    const QByteArray whole = readAll(makeTarGz(d + "whole.h2drumkit", d + "good"));
    writeText(d + "cut.h2drumkit", whole.left(whole.size() / 2));
    writeText(d + "text.h2drumkit", "isto não é um kit");
    writeKit(d + "broken", "<drumkit_info><name>X</name><instrumentList><instrument>", {});
    writeKit(d + "silent", kitXml(instrument("Kick", "kick.wav") + instrument("Snare", "none.wav")), {});
    writeText(d + "silent/kick.wav", QByteArray(4000, '\0'));
    QDir().mkpath(d + "empty");

    const std::pair<const char*, const char*> cases[] = {
        {"hostile.h2drumkit", "contém uma entrada insegura: kit/../../fora.wav"},
        {"link.h2drumkit", "contém uma entrada insegura: kit/kick.wav"},
        {"noxml.h2drumkit", "não contém um kit do Hydrogen (drumkit.xml)"},
        {"cut.h2drumkit", "está danificado"},
        {"text.h2drumkit", "está danificado"},
        {"broken", "está danificado (linha 1)"},
        {"silent", "Nenhum instrumento do kit \"Teste\" pôde ser importado."},
        {"empty", "não contém um kit do Hydrogen (drumkit.xml)"},
        {"nada.h2drumkit", "não existe"},
    };
    const auto before = snapshot(settings->PackPath);
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        const KitImport done = import(d + name);
        EXPECT_EQ(done.result, KitImport::Failed);
        EXPECT_TRUE(done.errors.join(' ').contains(QString::fromUtf8(message))) << done.errors.join(", ").toStdString();
        EXPECT_EQ(snapshot(settings->PackPath), before) << "no package, no staging folder";
        EXPECT_EQ(settings->PackName, "Kit");
        EXPECT_EQ(core->KeyCount, 1);
        EXPECT_TRUE(prompt.asked.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(dir.path() + "/fora.wav"));
        EXPECT_FALSE(QFileInfo::exists(d + "fora.wav"));
    }
    const KitImport silent = import(d + "silent");
    EXPECT_EQ(silent.notImported.size(), 2) << "the reasons go with the failure";
    writeKit(d + "many", kitXml(QByteArray("<instrument><name>P</name></instrument>").repeated(1024)), {});
    const KitImport many = import(d + "many");
    ASSERT_EQ(many.notImported.size(), 298) << "the first ones and how many more, with room for two headings";
    EXPECT_EQ(many.notImported.last(), "... e mais 727 instrumentos não importados.");
    core->PlayKey('A');
    EXPECT_TRUE(core->IsChannelPlaying(core->KeySounds[0].channels[0])) << "the kit in use still plays";
}

}  // namespace
