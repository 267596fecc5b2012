// Files from the command line and from later starts: opened after the
// start-up, in order, through the commands' own import and load; the real
// program handing its files to the running one; --help and --version.
#include "uifixture.h"

#include "desktop/commandline.h"
#include "fileopener.h"
#include "frmcenter.h"
#include "sequences/sequence.h"
#include "desktop/singleinstance.h"
#include "archives/ziparchive.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <cmath>

using namespace rimbal;

namespace {

class OpenFiles : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        opener = std::make_unique<FileOpener>(*ctx);
        preparePackage(3);  // A, S and D
    }
    void startMain() {
        ASSERT_TRUE(runStartup());
        main = std::make_unique<TFrmCenter>(*ctx);
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        opener->setMainWindow(main.get());
    }
    bool settle(int ms = 5000) {
        return QTest::qWaitFor([&] { return opener->pending().isEmpty(); }, ms);
    }
    QString package(const QString& name) {
        ArchiveWriter w(appDir + name);
        w.setPassword(kArchivePassword);
        w.addData("Info.txt", "[Info]\r\nName=Novo");
        w.addData("Keys.txt", "77*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*n.wav\r\n");
        w.addFile("n.wav", appDir + "Pacotes/Kit/s2.wav");
        EXPECT_TRUE(w.write());
        return appDir + name;
    }
    QString sequence(const QString& name, const QByteArray& text) {
        ArchiveWriter w(appDir + name);
        w.setPassword(Sequence::kPassword);
        w.addData("RBS.txt", text);
        EXPECT_TRUE(w.write());
        return appDir + name;
    }
    QStringList messages() const {
        QStringList out;
        for (const PromptRecord& r : prompt.asked)
            if (r.kind == "message") out << r.caption + ": " + r.text;
        return out;
    }

    std::unique_ptr<FileOpener> opener;
    std::unique_ptr<TFrmCenter> main;
};

TEST_F(OpenFiles, CommandLineFilesOpenAfterTheStartupInTheirOrderAndTheKitPlays) {
    sequence("groove.rbs", "65*100*83*50");
    package("novo.rbp");
    sequence("depois.rbs", "77*30*");
    const CommandLine command = ParseCommandLine(
        {"rimbal2", "notas.txt", "sumiu.rbs", "groove.rbs", "novo.rbp", "depois.rbs"}, appDir);
    opener->open(command.files);
    ASSERT_TRUE(runStartup());
    EXPECT_EQ(opener->pending().size(), 5) << "nothing opens during the start-up";
    EXPECT_EQ(ctx->settings.PackName, "Kit");

    main = std::make_unique<TFrmCenter>(*ctx);
    main->show();
    opener->setMainWindow(main.get());
    ASSERT_TRUE(settle());
    // A sequence checks its keys against the kit of its moment: the first one
    // against Kit, the last one against the package imported before it.
    EXPECT_EQ(messages(), (QStringList{"Aviso: O Rimbal 2 não abre este tipo de arquivo:\n" + appDir + "notas.txt\n\n"
                                       "Ele abre pacotes de sons (.rbp), sequências de teclas (.rbs) e kits do "
                                       "Hydrogen (.h2drumkit ou drumkit.xml).",
                                       "Erro: Arquivo não encontrado: " + appDir + "sumiu.rbs",
                                       "Info: Pacote importado com sucesso!"}));
    EXPECT_EQ(ctx->sequence.SequenceText, "65*100*83*50*77*30*");
    EXPECT_TRUE(child<QAction>(main.get(), "TocarSequencia1")->isEnabled()) << "the menu row of a loaded file";
    EXPECT_EQ(ctx->settings.PackName, "Novo");
    EXPECT_TRUE(main->TimerInfo.isActive() && main->TimerStatus.isActive());

    ctx->core.PlayKey(77);
    std::vector<float> out(2 * 4800);
    ASSERT_EQ(rb::System_RenderNull(ctx->core.SoundSystem, out.data(), 4800), rb::OK);
    float peak = 0;
    for (const float s : out) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.1f) << "the imported kit is heard";
}

TEST_F(OpenFiles, FilesWaitWhileADialogIsOpenOrASequenceIsRecorded) {
    startMain();
    const QString groove = sequence("groove.rbs", "65*100*");
    QDialog dialog(main.get());
    dialog.setModal(true);
    dialog.show();
    opener->open({groove});
    QTest::qWait(200);
    EXPECT_EQ(opener->pending(), QStringList{groove});
    dialog.close();
    ASSERT_TRUE(settle());
    EXPECT_EQ(ctx->sequence.SequenceText, "65*100*");

    // The load command is off while a sequence is recorded, so the file waits for the stop.
    main->GravarSequencia1Click();
    opener->open({groove});
    QTest::qWait(200);
    EXPECT_EQ(opener->pending(), QStringList{groove});
    main->PararSequencia1Click();
    ASSERT_TRUE(settle());
    EXPECT_EQ(ctx->sequence.SequenceText, "65*100*65*100*");
    EXPECT_TRUE(prompt.asked.isEmpty());
}

// GMRockKit of hydrogen-data as a file manager hands it over: its archive, then
// its folder's drumkit.xml, which meets the name question of a package import.
TEST_F(OpenFiles, AHydrogenKitIsImportedAsItsMenuCommandDoes) {
    const QString kit = QStringLiteral("/usr/share/hydrogen/data/drumkits/GMRockKit");
    QProcess tar;
    tar.start("tar", {"-czf", appDir + "GMRockKit.h2drumkit", "-C", QFileInfo(kit).absolutePath(), "GMRockKit"});
    ASSERT_TRUE(tar.waitForFinished(60000) && tar.exitCode() == 0);
    startMain();
    prompt.buttonAnswers << Prompt::Ok << Prompt::Cancel;  // the second time "GMRockKit" exists: not replaced
    opener->open(ParseCommandLine({"rimbal2", "GMRockKit.h2drumkit", kit + "/drumkit.xml"}, appDir).files);
    ASSERT_TRUE(settle(60000));
    ASSERT_EQ(prompt.asked.size(), 2) << messages().join('\n').toStdString();
    EXPECT_EQ(messages().first(), "Info: Kit importado com sucesso!");
    EXPECT_EQ(prompt.asked[1].caption, "Confirmação");
    EXPECT_TRUE(prompt.asked[1].text.contains("\"GMRockKit\"")) << "the folder's kit is the same kit";
    EXPECT_EQ(ctx->settings.PackName, "GMRockKit");
    EXPECT_GT(ctx->core.KeyCount, 10);
}

#if defined(RIMBAL2_BIN)
// The real program, copied into the application folder so it shares the
// folder (and so the running program's name) with the test's program.
class RealProgram : public OpenFiles {
protected:
    void SetUp() override {
        OpenFiles::SetUp();
        ASSERT_TRUE(QFile::copy(RIMBAL2_BIN, appDir + "rimbal2"));
        ASSERT_TRUE(QFile::copy(RBCORE_LIB, appDir + QFileInfo(RBCORE_LIB).fileName()));
        QFile(appDir + "rimbal2").setPermissions(QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
    }
    struct Run {
        int code = -1;
        qint64 ms = 0;
        QString out, err;
    };
    // Runs the program while this one keeps serving its window loop.
    Run run(const QStringList& args, const QString& cwd, bool display = true) {
        QProcess p;
        p.setWorkingDirectory(cwd);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!display) {
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
            env.remove("QT_QPA_PLATFORM");
        }
        p.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        p.start(appDir + "rimbal2", args);
        const bool ended = QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000);
        Run r;
        r.ms = clock.elapsed();
        if (!ended) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
};

TEST_F(RealProgram, ASecondStartHandsItsSequenceToTheRunningProgramAndEndsWithinASecond) {
    SingleInstance instance(appDir);
    ASSERT_EQ(instance.start({}), SingleInstance::Role::Primary);
    QObject::connect(&instance, &SingleInstance::filesReceived, opener.get(), &FileOpener::receive);
    startMain();
    sequence("groove.rbs", "65*250*68*100*");
    main->showMinimized();

    // Given by a name relative to where it was started.
    const Run second = run({"groove.rbs"}, appDir);
    EXPECT_EQ(second.code, 0) << second.err.toStdString();
    EXPECT_LT(second.ms, 1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ctx->sequence.SequenceText.isEmpty(); }, 5000));
    EXPECT_EQ(ctx->sequence.SequenceText, "65*250*68*100*");
    EXPECT_FALSE(main->isMinimized()) << "the running program comes forward";

    // Without files it only brings the window forward.
    main->showMinimized();
    const Run bare = run({}, dir.path());
    EXPECT_EQ(bare.code, 0) << bare.err.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !main->isMinimized(); }, 5000));
    EXPECT_EQ(ctx->sequence.SequenceText, "65*250*68*100*");
    EXPECT_TRUE(prompt.asked.isEmpty());
}

TEST_F(RealProgram, HelpAndVersionNeedNoDisplayAndLeaveTheFolderAsItWas) {
    QFile::remove(appDir + "rimbal2.ini");
    const QStringList before = QDir(appDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    const Run help = run({"--help"}, appDir, false);
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.startsWith("Uso: rimbal2 [ARQUIVO...]")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--render-sequence"));
    const Run version = run({"--version"}, appDir, false);
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, QStringLiteral("Rimbal 2 %1\nEngine rbcore %2\n").arg(RB_TEST_PROGRAM_VERSION).arg(rb::kVersion, 8, 16, QChar('0')));

    struct Case {
        QStringList args;
        QString says;
    };
    const Case wrong[] = {{{"--volume", "3"}, "opção desconhecida: --volume"},
                          {{"--render-sequence", "a.rbs", "b.rbs", "--output", "c.wav"}, "não abre outros arquivos"},
                          {{"--output", "c.wav", "a.rbs"}, "--output só vale com --render-sequence"}};
    for (const Case& c : wrong) {
        const Run r = run(c.args, appDir, false);
        EXPECT_EQ(r.code, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains(c.says) && r.err.contains("Uso: rimbal2")) << r.err.toStdString();
    }
    EXPECT_EQ(QDir(appDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    EXPECT_FALSE(QFile::exists(appDir + "rimbal2.ini"));
}
#endif

}  // namespace
