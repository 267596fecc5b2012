// Sound packages on real folders and real archives: export checked by
// Python's zipfile, import of Info-ZIP archives, hostile archives, the name
// collision, deletion, listing and first-version key lists.
#include "corefixture.h"
#include "localeguard.h"
#include "ziptools.h"

#include "archives/ziparchive.h"
#include "packages/packages.h"
#include "base/textfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

using namespace rimbal;

namespace {

QString keyLine(int vk, const QString& file, const QString& options = QStringLiteral("0*0*0*0*1,00"), int effect = -1) {
    QString l = QStringLiteral("%1*%2*").arg(vk).arg(options);
    for (int i = 0; i < kEffects; ++i) l += i == effect ? QStringLiteral("1*") : QStringLiteral("0*");
    return l + file;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString md5(const QByteArray& b) { return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Md5).toHex()); }

bool writeBytes(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

float peak(const std::vector<float>& v) {
    float p = 0;
    for (float s : v) p = std::max(p, std::abs(s));
    return p;
}

class PackagesTest : public CoreTest {
protected:
    Packages packages() { return Packages(*core, prompt, log); }
    QString packPath() const { return settings->PackPath; }

    // A package folder with sound files and key lines; made the one in use when asked.
    void makePackage(const QString& name, const QStringList& sounds, const QStringList& lines, bool use = false,
                     const QString& info = {}) {
        const QString folder = packPath() + name + u'/';
        QDir().mkpath(folder);
        int tone = 100;
        for (const QString& s : sounds) {
            QDir().mkpath(QFileInfo(folder + s).absolutePath());
            writeWavFile(folder + s, toneSamples(tone += 50, 4800));
        }
        ASSERT_TRUE(WriteTextLines(folder + "Keys.txt", lines));
        if (!info.isEmpty()) {
            ASSERT_TRUE(writeBytes(folder + "Info.txt", info.toLatin1()));
        }
        if (use) {
            settings->PackName = name;
            ASSERT_TRUE(core->LoadKeyLines());
        }
    }

    // Every file and folder under a folder, with the contents' digest.
    static std::string snapshot(const QString& root, const QString& except = {}) {
        QStringList out;
        QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            const QFileInfo fi(p);
            if (p.mid(root.size()) == except) continue;
            out << p.mid(root.size()) + ": " + (fi.isSymLink() ? "link" : fi.isDir() ? "dir" : md5(fileBytes(p)));
        }
        out.sort();
        return out.join('\n').toStdString();
    }

    // An archive as the program writes it, from entries in memory.
    QString archive(const QString& name, const QList<std::pair<QString, QByteArray>>& entries) {
        const QString path = appDir + "in/" + name;
        QDir().mkpath(appDir + "in");
        ArchiveWriter w(path);
        w.setPassword(kArchivePassword);
        for (const auto& [n, data] : entries) w.addData(n, data);
        EXPECT_TRUE(w.write()) << w.errorText().toStdString();
        return path;
    }

    QString lastLogCaption() const { return log.shown.isEmpty() ? QString() : log.shown.last().caption; }
    QStringList lastLog() const { return log.shown.isEmpty() ? QStringList() : log.shown.last().lines; }
};

TEST(PackageNames, ClashingBareNamesGetCountersAndTheFilesKeepTheirs) {
    QTemporaryDir dir;
    const QString d = dir.path();
    QDir().mkpath(d + "/b");
    ASSERT_TRUE(writeBytes(d + "/b/kick2.wav", "taken"));  // not packed, but already in b's folder
    struct Case {
        QStringList paths;
        QStringList names;
    };
    const std::vector<Case> cases{
        {{"/x/A/kick.wav", "/y/B/Kick.WAV"}, {"kick.wav", "Kick2.WAV"}},
        {{"/a/kick.wav", "/c/kick.wav", "/e/kick.wav"}, {"kick.wav", "kick2.wav", "kick3.wav"}},
        {{"/a/kick.wav", "/c/kick.wav", "/e/kick2.wav"}, {"kick.wav", "kick3.wav", "kick2.wav"}},
        {{"/a/snare", "/c/SNARE"}, {"snare", "SNARE2"}},
        {{"/a/kick.wav", d + "/b/kick.wav"}, {"kick.wav", "kick3.wav"}},
        {{"/a/tom.wav", "/a/surdo.wav"}, {"tom.wav", "surdo.wav"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Packages::EntryNames(c.paths), c.names) << c.paths.join(' ').toStdString();
}

TEST_F(PackagesTest, ExportReadsInPythonAndARoundTripPlaysEveryKeyWithItsSettings) {
    LocaleGuard g(QLocale(QLocale::Portuguese, QLocale::Brazil));
    const QString kick = packageFile("kick.wav", toneSamples(100, 4800));
    const QString other = outsideFile("Kick.WAV", toneSamples(400, 4800));
    core->KeyLines = {keyLine(65, "kick.wav", "0*0*0*1*0,75", 3), keyLine(83, other, "0*1*1*0*1,00"),
                      keyLine(68, "kick.wav")};
    ASSERT_TRUE(core->SaveKeyLines());
    const QByteArray midi = "36*68\r\n";  // the package's own pad map travels with it
    ASSERT_TRUE(writeBytes(core->PackageFolder() + "Midi.txt", midi));
    startEngine();
    ASSERT_EQ(core->KeyCount, 3);
    const auto before = snapshot(appDir);

    const QString target = appDir + "kit.rbp";
    QString error;
    ASSERT_TRUE(packages().ExportPackage(target, {"Kit", "Eu", "eu@exemplo.com", "2.0", "linha 1\nlinha 2"}, &error))
        << error.toStdString();
    EXPECT_EQ(snapshot(appDir, "kit.rbp"), before) << "the user's files keep their names and contents";

    const QByteArray keys = "65*0*0*0*1*0,75*0*0*0*1*0*0*0*0*0*0*0*0*0*0*0*0*kick.wav\r\n"
                            "83*0*1*1*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*Kick2.WAV\r\n"
                            "68*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*kick.wav\r\n";
    const QByteArray info = "[Info]\r\nName=Kit\r\nAuthor=Eu\r\nContact=eu@exemplo.com\r\nVersion=2.0\r\n"
                            "Comment=linha 1\r\nlinha 2";
    const QJsonObject py = pythonZipView(target, kArchivePassword);
    EXPECT_EQ(py["comment"].toString().toLatin1(), kPackageComment);
    const QList<std::pair<QString, QByteArray>> expected{
        {"Info.txt", info}, {"Keys.txt", keys}, {"Midi.txt", midi}, {"kick.wav", fileBytes(kick)}, {"Kick2.WAV", fileBytes(other)}};
    const QJsonArray entries = py["entries"].toArray();
    ASSERT_EQ(entries.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QJsonObject e = entries[i].toObject();
        EXPECT_EQ(e["name"].toString(), expected[i].first);
        EXPECT_TRUE(e["encrypted"].toBool()) << i;
        EXPECT_EQ(e["method"].toInt(), 8) << i;
        EXPECT_EQ(e["md5"].toString(), md5(expected[i].second)) << expected[i].first.toStdString();
    }

    // Deleted, imported again: every key plays its own file with its settings.
    EXPECT_TRUE(packages().DeletePackage("Kit"));
    EXPECT_TRUE(settings->PackName.isEmpty());
    EXPECT_TRUE(QFile::exists(other)) << "a sound outside the package is never deleted";
    ASSERT_TRUE(packages().ImportPackage(target));
    EXPECT_TRUE(log.shown.isEmpty()) << lastLog().join('\n').toStdString();
    EXPECT_EQ(settings->PackName, "Kit");
    ASSERT_EQ(core->KeyCount, 3);
    const QString folder = packPath() + "Kit/";
    const QString names[] = {"kick.wav", "Kick2.WAV", "kick.wav"};
    const QByteArray sources[] = {expected[3].second, expected[4].second, expected[3].second};
    EXPECT_EQ(fileBytes(folder + "Midi.txt"), midi);
    EXPECT_EQ(core->NoteMap.KeyFor(36), 68);
    for (int i = 0; i < 3; ++i) {
        const TAG_SOUND_DATA& r = core->KeySounds[static_cast<std::size_t>(i)];
        EXPECT_EQ(r.fileName, folder + names[i]);
        EXPECT_EQ(fileBytes(r.fileName), sources[i]) << i;
    }
    EXPECT_FLOAT_EQ(core->KeySounds[0].volume, 0.75f);
    EXPECT_EQ(core->KeySounds[0].loop, 1);
    EXPECT_EQ(core->KeySounds[0].effects[3], 1);
    EXPECT_EQ(core->KeySounds[1].noInterrupt, 1);
    EXPECT_EQ(core->KeySounds[1].stopAll, 1);
    for (std::uint16_t key : {65, 83, 68}) {
        core->PlayKey(key);
        EXPECT_GT(peak(render(2400)), 0.05f) << key;
        for (auto& r : core->KeySounds)
            for (rb::Channel c : r.channels)
                if (c != rb::Channel{}) rb::Channel_Stop(c);
    }
}

// Layers.txt travels with every layer's sample (a name two samples share
// gets its counter), comes back with the import and goes with the package.
TEST_F(PackagesTest, ExportImportAndDeleteCarryTheLayers) {
    const QString soft = packageFile("soft.wav", std::vector<float>(4800, 0.1f));
    packageFile("hard.wav", std::vector<float>(4800, 0.2f));
    const QString outside = outsideFile("hard.wav", std::vector<float>(4800, 0.3f));
    core->KeyLines = {keyLine(70, "hard.wav")};
    ASSERT_TRUE(core->SaveKeyLines());
    ASSERT_TRUE(WriteTextLines(core->LayersFile(), {"Velocidade*0.6", "70*0*0.5*1*0.5*soft.wav", "70*0.5*0.9*1*0.5*hard.wav",
                                                    "70*0.9*1*1*0.5*" + outside, "99*0*1*1*0*falta.wav"}));
    startEngine();
    ASSERT_EQ(core->KeySounds[0].layers.count, 3);

    const QString target = appDir + "kit.rbp";
    QString error;
    ASSERT_TRUE(packages().ExportPackage(target, {"Kit", "", "", "", ""}, &error)) << error.toStdString();
    const QByteArray layers = "Velocidade*0.6\r\n70*0*0.5*1*0.5*soft.wav\r\n70*0.5*0.9*1*0.5*hard.wav\r\n70*0.9*1*1*0.5*hard2.wav\r\n";
    const QJsonArray entries = pythonZipView(target, kArchivePassword)["entries"].toArray();
    QStringList names;
    for (const auto& e : entries) names << e.toObject()["name"].toString();
    EXPECT_EQ(names, QStringList({"Info.txt", "Keys.txt", "Layers.txt", "hard.wav", "soft.wav", "hard2.wav"}));
    EXPECT_EQ(entries[2].toObject()["md5"].toString(), md5(layers)) << "the sample that cannot be packed stays behind";
    EXPECT_EQ(entries[5].toObject()["md5"].toString(), md5(fileBytes(outside)));

    EXPECT_TRUE(packages().DeletePackage("Kit"));
    EXPECT_FALSE(QFileInfo::exists(soft)) << "a layer's sample goes with the package";
    EXPECT_TRUE(QFileInfo::exists(outside));
    ASSERT_TRUE(packages().ImportPackage(target));
    EXPECT_TRUE(log.shown.isEmpty()) << lastLog().join('\n').toStdString();
    EXPECT_EQ(fileBytes(core->LayersFile()), layers);
    EXPECT_EQ(core->Layers.Velocity, 0.6f);
    ASSERT_EQ(core->KeySounds[0].layers.count, 3);
    EXPECT_EQ(packages().CountKeyLines("Kit"), 1) << "one key, however many layers";
    for (const auto& [velocity, level] : {std::pair{0.2f, 0.1f}, {-1.0f, 0.2f}, {0.95f, 0.3f}}) {
        core->PlayKey(70, 1.0f, velocity);
        const auto out = render(16);
        EXPECT_NEAR(out[0] * out[0] + out[1] * out[1], 2 * level * level, 1e-6) << velocity;
        EXPECT_GT(out[1], out[0]) << "to the right";
        for (rb::Channel c : core->KeySounds[0].channels) rb::Channel_Stop(c);
        render(200);
    }
}

TEST_F(PackagesTest, ImportsWhatInfoZipWrites) {
    const QString src = appDir + "src/";
    QDir().mkpath(src);
    writeWavFile(src + "a.wav", toneSamples(220, 4800));
    ASSERT_TRUE(writeBytes(src + "Info.txt", "[Info]\r\nName=Zipado\r\nAuthor=Outro"));
    ASSERT_TRUE(writeBytes(src + "Keys.txt", keyLine(70, "a.wav").toLatin1() + "\r\n"));
    ASSERT_EQ(runTool("zip", {"-qj", "-P", QString::fromLatin1(kArchivePassword), "z.rbp", "Info.txt", "Keys.txt", "a.wav"}, src).code, 0);
    startEngine();
    ASSERT_TRUE(packages().ImportPackage(src + "z.rbp"));
    EXPECT_EQ(settings->PackName, "Zipado");
    EXPECT_EQ(core->KeyCount, 1);
    EXPECT_EQ(packages().ListPackages(), QStringList{"Zipado"});
    EXPECT_EQ(packages().ReadInfo("Zipado").author, "Outro");
}

TEST_F(PackagesTest, HostileAndBrokenArchivesChangeNothing) {
    QDir().mkpath(appDir + "in");
    writeWavFile(appDir + "in/x.wav", toneSamples(300, 4800));
    makePackage("Kit", {"k.wav"}, {keyLine(65, "k.wav")}, true);
    startEngine();
    const QByteArray info = "[Info]\r\nName=Kit";
    const QByteArray keys = keyLine(65, "x.wav").toLatin1();
    const QByteArray wav = fileBytes(appDir + "in/x.wav");

    // Python writes the names that no program of ours would.
    const QString pyWrite = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("Info.txt", "[Info]\r\nName=Novo"); z.writestr("Keys.txt", "65*0*0*0*0*1,00*x.wav")
    bad = zipfile.ZipInfo(sys.argv[2])
    if sys.argv[3] == "link": bad.create_system = 3; bad.external_attr = 0o120777 << 16
    z.writestr(bad, "/etc/passwd")
)";
    const auto hostile = [&](const QString& file, const QString& entry, const QString& kind = "file") {
        runPython(pyWrite, {appDir + "in/" + file, entry, kind});
        return appDir + "in/" + file;
    };
    const QString good = archive("good.rbp", {{"Info.txt", info}, {"Keys.txt", keys}, {"x.wav", wav}});
    const QByteArray goodBytes = fileBytes(good);
    ASSERT_TRUE(writeBytes(appDir + "in/half.rbp", goodBytes.left(goodBytes.size() / 2)));
    ASSERT_TRUE(writeBytes(appDir + "in/texto.rbp", "Isto não é um pacote\r\n"));
    ASSERT_EQ(runTool("zip", {"-qj", "-P", "outra senha", "senha.rbp", "x.wav"}, appDir + "in").code, 0);
    ASSERT_EQ(runTool("zip", {"-qj0", "crc.rbp", "x.wav"}, appDir + "in").code, 0);
    QByteArray crc = fileBytes(appDir + "in/crc.rbp");
    crc[30 + 5 + 2000] = static_cast<char>(crc[30 + 5 + 2000] ^ 0x5A);
    ASSERT_TRUE(writeBytes(appDir + "in/crc.rbp", crc));
    // An entry declaring one byte over 2 GiB, in its local and its central header alike.
    runPython(R"(
import struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("Info.txt", "[Info]\r\nName=Bomba"); z.writestr("big.wav", b"\0" * 1000)
b = bytearray(open(sys.argv[1], "rb").read())
for sig, off in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
    i = b.rfind(sig)
    b[i + off:i + off + 4] = struct.pack("<I", 0x80000001)
open(sys.argv[1], "wb").write(b)
)",
              {appDir + "in/bomba.rbp"});

    struct Case {
        QString file;
        QString firstError;
        QString cause = {};
    };
    const std::vector<Case> cases{
        {hostile("up.rbp", "../x.wav"), "Nome de arquivo inválido dentro do pacote: \"../x.wav\""},
        {hostile("abs.rbp", "/tmp/x"), "Nome de arquivo inválido dentro do pacote: \"/tmp/x\""},
        {hostile("drive.rbp", "C:\\x"), "Nome de arquivo inválido dentro do pacote: \"C:\\x\""},
        {hostile("sub.rbp", "a/b.wav"), "Nome de arquivo inválido dentro do pacote: \"a/b.wav\""},
        {hostile("empty.rbp", ""), "Nome de arquivo inválido dentro do pacote: \"\""},
        {hostile("ctl.rbp", "a\x01.wav"), "Nome de arquivo inválido dentro do pacote: \"a\x01.wav\""},
        {hostile("link.rbp", "link.wav", "link"), "Nome de arquivo inválido dentro do pacote: \"link.wav\""},
        {appDir + "in/senha.rbp", "Erro ao ler dados. " + appDir + "in/senha.rbp"},
        {appDir + "in/half.rbp", "Erro ao ler dados. " + appDir + "in/half.rbp"},
        {appDir + "in/texto.rbp", "Erro ao ler dados. " + appDir + "in/texto.rbp"},
        {appDir + "in/crc.rbp", "Erro ao ler dados. " + appDir + "in/crc.rbp"},
        {appDir + "in/bomba.rbp", "Erro ao ler dados. " + appDir + "in/bomba.rbp", "O pacote ocupa mais de 2 GiB quando descompactado."},
        {appDir + "in/absent.rbp", "Erro ao ler dados. " + appDir + "in/absent.rbp"},
        // The same name as the package in use, but no key list: Kit is not touched.
        {archive("semteclas.rbp", {{"Info.txt", info}, {"x.wav", wav}}), "Não foi encontrado arquivo de teclas."},
        {archive("seminfo.rbp", {{"Keys.txt", keys}, {"x.wav", wav}}), "Não foi encontrado arquivo de informações."},
        {archive("vazio.rbp", {{"Info.txt", ""}, {"Keys.txt", keys}}), "Arquivo de informações vazio."},
        {archive("fuga.rbp", {{"Info.txt", "[Info]\r\nName=../Fuga"}, {"Keys.txt", keys}}), "Nome inválido de pacote."},
        {archive("ponto.rbp", {{"Info.txt", "[Info]\r\nName=."}, {"Keys.txt", keys}}), "Nome inválido de pacote."},
    };
    const auto before = snapshot(packPath());
    const QStringList lines = core->KeyLines;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        log.shown.clear();
        EXPECT_FALSE(packages().ImportPackage(c.file));
        EXPECT_EQ(lastLogCaption(), "Erros ao carregar pacote");
        EXPECT_EQ(lastLog().value(0), c.firstError) << lastLog().join(" | ").toStdString();
        if (c.firstError.startsWith("Erro ao ler dados.")) {
            EXPECT_FALSE(lastLog().value(1).isEmpty()) << "the cause";
        }
        if (!c.cause.isEmpty()) {
            EXPECT_EQ(lastLog().value(1), c.cause);
        }
        EXPECT_EQ(snapshot(packPath()), before);
        EXPECT_EQ(settings->PackName, "Kit");
        EXPECT_EQ(core->KeyLines, lines);
        EXPECT_EQ(core->KeyCount, 1);
    }
    EXPECT_TRUE(prompt.asked.isEmpty()) << "no archive got as far as the name question";
}

// A few KB that unpack to millions of lines, or more entries than any
// package has: refused before a byte is unpacked. Up to the bound a key list
// imports, its lines that name nothing the package brought dropped and
// counted in one line after the first few hundred.
TEST_F(PackagesTest, TextFilesAndEntriesAreBoundedBeforeUnpacking) {
    makePackage("Kit", {"k.wav"}, {keyLine(65, "k.wav")}, true);
    startEngine();
    const QByteArray info = "[Info]\r\nName=Bomba";
    QDir().mkpath(appDir + "in");
    const QString crowd = appDir + "in/muitos.rbp";
    runPython(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("Info.txt", "[Info]\r\nName=Muitos"); z.writestr("Keys.txt", "")
    for i in range(20000): z.writestr("s%d.wav" % i, "")
)",
              {crowd});
    const std::pair<QString, QString> refused[] = {
        {archive("linhas.rbp", {{"Info.txt", info}, {"Keys.txt", QByteArray(5'000'000, '\n')}}),
         "O arquivo Keys.txt do pacote passa de 1024 KB."},
        {archive("info.rbp", {{"Info.txt", info + QByteArray(1 << 20, ' ')}, {"Keys.txt", ""}}),
         "O arquivo Info.txt do pacote passa de 1024 KB."},
        {archive("midi.rbp", {{"Info.txt", info}, {"Keys.txt", ""}, {"midi.TXT", QByteArray((1 << 20) + 1, '\n')}}),
         "O arquivo midi.TXT do pacote passa de 1024 KB."},
        {crowd, crowd + " tem mais de 20000 entradas."},
    };
    const auto before = snapshot(packPath());
    for (const auto& [file, cause] : refused) {
        log.shown.clear();
        EXPECT_FALSE(packages().ImportPackage(file));
        EXPECT_EQ(lastLog(), QStringList({"Erro ao ler dados. " + file, cause}));
        EXPECT_EQ(snapshot(packPath()), before);
        EXPECT_EQ(settings->PackName, "Kit");
    }

    writeWavFile(appDir + "in/x.wav", toneSamples(300, 4800));
    const QByteArray keys = QByteArray((1 << 20) - 100, '\n') + keyLine(66, "x.wav").toLatin1();
    log.shown.clear();
    ASSERT_TRUE(packages().ImportPackage(archive("cheio.rbp", {{"Info.txt", info}, {"Keys.txt", keys}, {"x.wav", fileBytes(appDir + "in/x.wav")}})));
    ASSERT_EQ(lastLog().size(), 301);
    EXPECT_EQ(lastLog().first(), "Keys.txt, linha 1 ignorada: \"\" não é um arquivo do pacote.");
    EXPECT_EQ(lastLog().last(), "Keys.txt: mais 1048176 linhas ignoradas.");
    EXPECT_EQ(core->KeyLines, QStringList{keyLine(66, "x.wav")});
    EXPECT_EQ(fileBytes(packPath() + "Bomba/Keys.txt"), keyLine(66, "x.wav").toLatin1() + "\r\n");
    EXPECT_EQ(core->KeyCount, 1);
}

// A package from elsewhere may play only what it brought: lines naming an
// absolute path, a way out of its folder, another folder or its own text
// files are dropped at the import and listed, so a later export packs only
// its own sounds.
TEST_F(PackagesTest, ImportedKeysNameOnlyFilesThePackageBrought) {
    const QString secret = outsideFile("segredo.wav", toneSamples(300, 4800));
    ASSERT_TRUE(writeBytes(appDir + "privado.txt", "senhas"));
    QDir().mkpath(appDir + "in");
    writeWavFile(appDir + "in/x.wav", toneSamples(400, 4800));
    const QStringList lines{keyLine(65, "x.wav"),        keyLine(66, secret),      keyLine(67, "../../sons/segredo.wav"),
                            keyLine(68, "..\\..\\sons\\segredo.wav"), keyLine(69, "sons/x.wav"), keyLine(70, "Info.txt"),
                            keyLine(71, appDir + "privado.txt"), "",            keyLine(72, "x.wav")};
    QByteArray keys;
    for (const QString& l : lines) keys += l.toLatin1() + "\r\n";
    startEngine();
    // Its layers too: the velocity line stays, a layer of its own file stays.
    const QByteArray layers = "Velocidade*0.5\r\n65*0*0.5*1*0*x.wav\r\n65*0.5*1*1*0*../../sons/segredo.wav\r\n";
    ASSERT_TRUE(packages().ImportPackage(archive("alheio.rbp", {{"Info.txt", "[Info]\r\nName=Alheio"},
                                                                {"Keys.txt", keys},
                                                                {"Layers.txt", layers},
                                                                {"x.wav", fileBytes(appDir + "in/x.wav")}})));
    EXPECT_EQ(lastLogCaption(), "Erros ao carregar pacote");
    const QString dropped = "Keys.txt, linha %1 ignorada: \"%2\" não é um arquivo do pacote.";
    EXPECT_EQ(lastLog(), QStringList({dropped.arg(2).arg(secret), dropped.arg(3).arg("../../sons/segredo.wav"),
                                      dropped.arg(4).arg("..\\..\\sons\\segredo.wav"), dropped.arg(5).arg("sons/x.wav"),
                                      dropped.arg(6).arg("Info.txt"), dropped.arg(7).arg(appDir + "privado.txt"), dropped.arg(8).arg(""),
                                      "Layers.txt, linha 3 ignorada: \"../../sons/segredo.wav\" não é um arquivo do pacote."}));
    EXPECT_EQ(core->KeyLines, QStringList({lines[0], lines[8]}));
    EXPECT_EQ(core->KeyCount, 2);
    QStringList kept;
    ASSERT_TRUE(ReadTextLines(core->LayersFile(), kept));
    EXPECT_EQ(kept, QStringList({"Velocidade*0.5", "65*0*0.5*1*0*x.wav"}));

    QString error;
    ASSERT_TRUE(packages().ExportPackage(appDir + "de-novo.rbp", {"Alheio", "", "", "", ""}, &error)) << error.toStdString();
    QStringList names;
    for (const auto& e : pythonZipView(appDir + "de-novo.rbp", kArchivePassword)["entries"].toArray())
        names << e.toObject()["name"].toString();
    EXPECT_EQ(names, QStringList({"Info.txt", "Keys.txt", "Layers.txt", "x.wav"}));
}

TEST_F(PackagesTest, InfoNameLinesAsTheImportReadsThem) {
    const QByteArray keys = "";
    struct Case {
        QByteArray info;
        QString name;  // empty: refused with the error
        QString error;
    };
    const std::vector<Case> cases{
        {"[Info]\r\nNAME=Alfa", "Alfa", {}},
        {"[Info]\r\nName=Beta=Rock\r\nAuthor=x", "Beta", {}},
        {"[Info]\r\nComment=a=b\r\nname=Gama", "Gama", {}},
        {"[Info]\r\n Name=Kit", {}, "Nome do pacote não encontrado."},
        {"[Info]\r\nName =Kit", {}, "Nome do pacote não encontrado."},
        {"[Info]\r\nName=   \r\nName=Kit", {}, "Nome do pacote não encontrado."},
        {"[Info]\r\nAuthor=Eu", {}, "Nome do pacote não encontrado."},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info.toStdString());
        log.shown.clear();
        const QString file = archive(QStringLiteral("n%1.rbp").arg(++n), {{"Info.txt", c.info}, {"Keys.txt", keys}});
        EXPECT_EQ(packages().ImportPackage(file), !c.name.isEmpty());
        if (c.name.isEmpty()) {
            EXPECT_EQ(lastLog(), QStringList{c.error});
        } else {
            EXPECT_EQ(settings->PackName, c.name);
            EXPECT_TRUE(QFileInfo(packPath() + c.name + "/Keys.txt").isFile());
        }
    }
}

TEST_F(PackagesTest, NameCollisionAnswers) {
    const QByteArray wav = [&] {
        QDir().mkpath(appDir + "in");
        writeWavFile(appDir + "in/novo.wav", toneSamples(500, 4800));
        return fileBytes(appDir + "in/novo.wav");
    }();
    const QString file =
        archive("kit.rbp", {{"Info.txt", "[Info]\r\nName=Kit"}, {"Keys.txt", keyLine(66, "novo.wav").toLatin1()}, {"novo.wav", wav}});
    const auto reset = [&] {
        QDir(packPath()).removeRecursively();
        if (core->SoundSystem != rb::System{}) {
            core->ReleaseSounds(true);
            rb::System_Release(core->SoundSystem);
            core->SoundSystem = rb::System{};
        }
        makePackage("Outro", {"o.wav"}, {keyLine(67, "o.wav")});
        makePackage("Kit", {"velho.wav"}, {keyLine(65, "velho.wav")}, true);
        startEngine();
        prompt.asked.clear();
        prompt.inputOffers.clear();
        log.shown.clear();
    };
    const QString question = "Já existe um pacote com o nome \"%1\". Deseja sobrescrever?.\rPressione [Sim] para "
                             "sobrescrever, [Não] para renomear e [Cancelar] para desistir.";
    // "?name" is the question about a clash with name, "=text" an input box offering text.
    struct Case {
        const char* what;
        QList<Prompt::Button> buttons;
        QStringList texts;
        QString result;  // the package in use afterwards; empty when nothing changed
        QStringList prompts;
        QStringList errors;
    };
    const QStringList kitThenInput{"?Kit", "=KitNovo"};
    const std::vector<Case> cases{
        {"yes overwrites", {Prompt::Yes}, {}, "Kit", {"?Kit"}, {}},
        {"no renames", {Prompt::No}, {"KitNovo"}, "KitNovo", kitThenInput, {}},
        {"no with the same name", {Prompt::No}, {"Kit"}, {}, kitThenInput, {"Não podem existir pacotes com o mesmo nome."}},
        {"no with a blank name", {Prompt::No}, {"  "}, {}, kitThenInput, {"Nome inválido de pacote."}},
        {"no with a name that leads out", {Prompt::No}, {"../x"}, {}, kitThenInput, {"Nome inválido de pacote."}},
        // The configuration could not hold it: PackName would stop every later save.
        {"no with a name the configuration cannot hold", {Prompt::No}, {"Bateria ł"}, {}, kitThenInput, {"Nome inválido de pacote."}},
        {"a new name that clashes is asked again", {Prompt::No, Prompt::Cancel}, {"outro"}, {}, kitThenInput + QStringList{"?outro"}, {}},
        {"then renamed again", {Prompt::No, Prompt::No}, {"outro", "Terceiro"}, "Terceiro",
         kitThenInput + QStringList{"?outro", "=outroNovo"}, {}},
        {"cancel at the input box", {Prompt::No}, {}, {}, kitThenInput, {}},
        {"cancel", {Prompt::Cancel}, {}, {}, {"?Kit"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        const auto before = snapshot(packPath());
        prompt.buttonAnswers = c.buttons;
        prompt.textAnswers = c.texts;
        EXPECT_EQ(packages().ImportPackage(file), !c.result.isEmpty());
        QStringList asked, expected;
        int input = 0;
        for (const PromptRecord& r : prompt.asked)
            if (r.kind == "message") {
                asked << r.text;
                EXPECT_EQ(r.caption, "Confirmação");
                EXPECT_EQ(r.icon, Prompt::Icon::Question);
                EXPECT_EQ(r.buttons, Prompt::Yes | Prompt::No | Prompt::Cancel);
            } else {
                asked << "=" + prompt.inputOffers.value(input++);
                EXPECT_EQ(r.caption, "Definir nome do pacote");
                EXPECT_EQ(r.text, "Novo nome:");
            }
        for (const QString& p : c.prompts) expected << (p.startsWith('?') ? question.arg(p.mid(1)) : p);
        EXPECT_EQ(asked, expected);
        EXPECT_EQ(lastLog(), c.errors);
        if (c.result.isEmpty()) {
            EXPECT_EQ(snapshot(packPath()), before);
            EXPECT_EQ(settings->PackName, "Kit");
            EXPECT_EQ(core->KeySounds[0].fileName, packPath() + "Kit/velho.wav");
        } else {
            EXPECT_EQ(settings->PackName, c.result);
            EXPECT_EQ(core->KeyCount, 1);
            EXPECT_EQ(core->KeySounds[0].fileName, packPath() + c.result + "/novo.wav");
            EXPECT_EQ(QFileInfo::exists(packPath() + "Kit/velho.wav"), c.result != "Kit");
            EXPECT_TRUE(QFileInfo::exists(packPath() + "Outro/o.wav"));
        }
        EXPECT_TRUE(QDir(packPath()).entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot).filter(".rbp-").isEmpty());
    }
}

TEST_F(PackagesTest, DeleteSparesWhatLiesOutsideAndReportsWhatRemains) {
    const QString abs = outsideFile("abs.wav", toneSamples(100, 480));
    const QString esc = outsideFile("esc.wav", toneSamples(100, 480));
    const QString target = outsideFile("alvo.wav", toneSamples(100, 480));
    makePackage("Kit", {"a.wav", "sub/b.wav"},
                {keyLine(65, "a.wav"), keyLine(66, abs), keyLine(67, "..\\..\\sons\\esc.wav"), keyLine(68, "link.wav"),
                 keyLine(69, "sub\\b.wav"), keyLine(70, "falta.wav"), keyLine(71, "..\\Kit2\\x.wav")},
                false, "[Info]\r\nName=Kit");
    makePackage("Kit2", {"x.wav"}, {keyLine(65, "x.wav")});  // shares Kit's prefix
    ASSERT_TRUE(QFile::link(target, packPath() + "Kit/link.wav"));
    ASSERT_TRUE(writeBytes(packPath() + "Kit/notas.txt", "minhas notas"));
    QStringList remaining;
    EXPECT_FALSE(packages().DeletePackage("Kit", &remaining));
    EXPECT_EQ(remaining, QStringList({"link.wav", "notas.txt", "sub"}));
    for (const QString& f : {abs, esc, target, packPath() + "Kit2/x.wav"}) EXPECT_TRUE(QFileInfo::exists(f)) << f.toStdString();
    for (const char* f : {"a.wav", "sub/b.wav", "Keys.txt", "Info.txt"}) EXPECT_FALSE(QFileInfo::exists(packPath() + "Kit/" + f)) << f;
    EXPECT_EQ(packages().ListPackages(), QStringList{"Kit2"});

    makePackage("Limpo", {"a.wav"}, {keyLine(65, "a.wav")});
    EXPECT_TRUE(packages().DeletePackage("Limpo", &remaining));
    EXPECT_FALSE(QFileInfo::exists(packPath() + "Limpo"));
    EXPECT_FALSE(packages().DeletePackage("..", &remaining)) << "never PackPath's parent";
    EXPECT_TRUE(QFileInfo::exists(abs));

    // A key list past the bound is not read, yet the package goes.
    makePackage("Enorme", {"a.wav"}, {});
    ASSERT_TRUE(writeBytes(packPath() + "Enorme/Keys.txt", QByteArray((1 << 20) + 1, '\n')));
    EXPECT_FALSE(packages().DeletePackage("Enorme", &remaining));
    EXPECT_EQ(remaining, QStringList{"a.wav"});
    EXPECT_EQ(packages().ListPackages(), QStringList{"Kit2"});
}

TEST_F(PackagesTest, DeletingThePackageInUseLeavesAWorkingProgram) {
    makePackage("Kit", {"a.wav"}, {keyLine(65, "a.wav")}, true);
    startEngine();
    ASSERT_EQ(core->KeyCount, 1);
    EXPECT_TRUE(packages().DeletePackage("Kit"));
    EXPECT_TRUE(settings->PackName.isEmpty());
    EXPECT_TRUE(core->KeyLines.isEmpty());
    EXPECT_EQ(core->KeyCount, 0);
    EXPECT_TRUE(log.shown.isEmpty()) << lastLog().join('\n').toStdString();
    // A new key can be defined and played at once.
    ASSERT_TRUE(core->AddKeySound(definition(0x42, outsideFile("novo.wav", toneSamples(200, 4800))), false, 0));
    EXPECT_EQ(settings->PackName, SoundCore::kDefaultPackage);
    core->PlayKey(0x42);
    EXPECT_GT(peak(render(2400)), 0.05f);
}

TEST_F(PackagesTest, ListingDetailsAndKeyCounts) {
    makePackage("beta", {}, {"", ""});
    makePackage("Alfa", {}, {keyLine(65, "a.wav"), "", keyLine(66, "b.wav")}, false,
                "[info]\r\nNAME=Alfa Kit\r\nauthor=Eu\r\nContact=x@y\r\nVersion=3\r\nComment=primeira\r\nsegunda");
    makePackage(".oculto", {}, {keyLine(65, "a.wav")});
    makePackage("Alfa/Dentro", {}, {keyLine(65, "a.wav")});
    QDir().mkpath(packPath() + "SemTeclas");
    EXPECT_EQ(packages().ListPackages(), QStringList({"Alfa", "beta"}));
    const PackageInfo i = packages().ReadInfo("Alfa");
    EXPECT_EQ(QStringList({i.name, i.author, i.contact, i.version, i.comment}),
              QStringList({"Alfa Kit", "Eu", "x@y", "3", "primeira"}));
    EXPECT_EQ(packages().ReadInfo("beta").name, "");
    EXPECT_EQ(packages().CountKeyLines("Alfa"), 3);
    EXPECT_EQ(packages().CountKeyLines("beta"), 2);
    EXPECT_EQ(packages().CountKeyLines("SemTeclas"), -1);
}

TEST_F(PackagesTest, FirstVersionKeyListsBecomeTheNextRUDadiru) {
    makePackage("RUDadiru1", {}, {});
    makePackage("rudadiru2", {}, {});
    const QString cwd = appDir + "atual/";
    QDir().mkpath(cwd + "sub");
    writeWavFile(cwd + "rel.wav", toneSamples(200, 4800));
    writeWavFile(cwd + "sub/b.wav", toneSamples(250, 4800));
    writeWavFile(cwd + QString::fromUtf8("ação.wav"), toneSamples(300, 4800));
    const QString abs = outsideFile("abs.wav", toneSamples(350, 4800));
    QByteArray old = "65;" + QFile::encodeName(abs) + "\r\n" + "x;C:\\Sons\\a.wav\n" + "66;D:\\Falta.wav\r" + "\r\n" +
                     "67;rel.wav\r\n" + "68;sub\\b.wav\n" + "69;C:\\Sons\\a;b.wav\r\n" + "70;a\xE7\xE3o.wav";
    ASSERT_TRUE(writeBytes(appDir + "old.txt", old));
    const QString saved = QDir::currentPath();
    QDir::setCurrent(cwd);
    startEngine();
    QStringList errors;
    const bool ok = packages().ImportFirstVersionKeys(appDir + "old.txt", errors);
    QDir::setCurrent(saved);
    ASSERT_TRUE(ok);
    EXPECT_EQ(errors, QStringList({"Erro: x não é um valor de tecla válido.", "Arquivo não existe: D:\\Falta.wav",
                                   "Erro:  não é um valor de tecla válido.", "Arquivo não existe: C:\\Sons\\a;b.wav"}));
    EXPECT_EQ(settings->PackName, "RUDadiru3");
    QStringList keys, info;
    ASSERT_TRUE(ReadTextLines(packPath() + "RUDadiru3/Keys.txt", keys));
    EXPECT_EQ(keys, QStringList({keyLine(65, abs), keyLine(67, cwd + "rel.wav"), keyLine(68, cwd + "sub/b.wav"),
                                 keyLine(70, cwd + QString::fromUtf8("ação.wav"))}));
    EXPECT_TRUE(fileBytes(packPath() + "RUDadiru3/Keys.txt").endsWith("\r\n"));
    ASSERT_TRUE(ReadTextLines(packPath() + "RUDadiru3/Info.txt", info));
    EXPECT_EQ(info, QStringList({"[Info]", "Name=RUDadiru3", "Author=Rimbal Team", "Contact=" + SoundCore::kContact,
                                 "Version=1.0", "Comment=Rimbal1 Imported"}));
    EXPECT_EQ(core->KeyLines, keys);
    EXPECT_EQ(core->KeyCount, 4) << "every imported key has its sound";
    core->PlayKey(67);
    EXPECT_GT(peak(render(2400)), 0.05f);
}

TEST_F(PackagesTest, ExportRefusalsAndFailuresAreReportedAndWriteNothing) {
    const QString kick = packageFile("kick.wav", toneSamples(100, 4800));
    core->KeyLines = {keyLine(65, "kick.wav"), keyLine(66, "sumiu.wav")};
    const QString target = appDir + "kit.rbp";
    ASSERT_TRUE(writeBytes(target, "o pacote antigo"));
    struct Case {
        const char* what;
        QStringList lines;
        QString name;
        QString target;
        QString error;
    };
    const std::vector<Case> cases{
        {"a blank name", {keyLine(65, "kick.wav")}, "  ", target, "Nome inválido de pacote."},
        {"a name with a folder", {keyLine(65, "kick.wav")}, "a/b", target, "Nome inválido de pacote."},
        {"a sound that vanished", core->KeyLines, "Kit", target, "Arquivo não existe: " + packPath() + "Kit/sumiu.wav"},
        {"no keys", {}, "Kit", target, "O pacote em uso não tem sons para exportar."},
        {"over one of its sounds", {keyLine(65, "kick.wav")}, "Kit", kick,
         "O pacote não pode ser salvo sobre um dos seus sons: " + kick},
    };
    const QByteArray sound = fileBytes(kick);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        core->KeyLines = c.lines;
        QString error;
        EXPECT_FALSE(packages().ExportPackage(c.target, {c.name, "", "", "", ""}, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(fileBytes(target), QByteArray("o pacote antigo"));
        EXPECT_EQ(fileBytes(kick), sound);
    }
}

}  // namespace
