// Key sequences in the main window: real key presses recorded, the menu rows
// and the second row of buttons, saving and loading through the dialogs,
// playback, closing while it plays; and the command line render.
#include "uifixture.h"

#include "fakeclock.h"

#include "archives/ziparchive.h"
#include "frmcenter.h"
#include "rimbalbtn.h"
#include "sequences/sequence.h"
#include "base/textfiles.h"
#include "recording/wav.h"

#include <sndfile.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QtEndian>

using namespace rimbal;
using ms = std::chrono::milliseconds;

namespace {

class SequenceWindow : public ProgramTest {
protected:
    // On, off in the order of the submenu.
    QString rowOf(TFrmCenter& w) {
        QString s;
        for (const char* name : {"GravarSequencia1", "PararSequencia1", "LimparGravarSeq1", "TocarSequencia1",
                                 "PararTocarSeq1", "RepetindoTocarSeq1", "SalvarSequencia1", "CarregarSequencia1"})
            s += child<QAction>(&w, name)->isEnabled() ? '1' : '0';
        return s;
    }
    // The second row of buttons, rec play stop save new.
    QString buttonsOf(TFrmCenter& w) {
        QString s;
        for (const char* name : {"BtnRec2", "BtnPlay2", "BtnStop2", "BtnSave2", "BtnNew2"})
            s += child<TRimbalBtn>(&w, name)->isEnabled() ? '1' : '0';
        return s;
    }
    void trigger(TFrmCenter& w, const char* item) { child<QAction>(&w, item)->trigger(); }
    void click(TFrmCenter& w, const char* button) { QTest::mouseClick(child<TRimbalBtn>(&w, button), Qt::LeftButton); }
    // The program started with keys A, S, D on the driven clock, its window shown.
    std::unique_ptr<TFrmCenter> open() {
        preparePackage(3);
        if (!runStartup()) return nullptr;
        ctx->sequence.SetClock(&clock);
        auto w = std::make_unique<TFrmCenter>(*ctx);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        QTest::qWait(20);
        return w;
    }

    FakeClock clock;
};

TEST_F(SequenceWindow, RecordPlaySaveClearAndLoadThroughMenusAndButtons) {
    const auto window = open();
    ASSERT_TRUE(window);
    TFrmCenter& w = *window;
    EXPECT_EQ(rowOf(w), "10000001");
    EXPECT_EQ(buttonsOf(w), "10000");

    click(w, "BtnRec2");
    EXPECT_TRUE(ctx->sequence.RecordingSequence);
    EXPECT_EQ(rowOf(w), "01000000");
    EXPECT_EQ(buttonsOf(w), "00100");
    // Real key presses: A, S 250 ms later, M (no key), D, and the stop 1 s later.
    for (const auto& [key, after] : {std::pair{Qt::Key_A, 3000}, {Qt::Key_S, 250}, {Qt::Key_M, 100}, {Qt::Key_D, 300}}) {
        clock.advance(ms(after));
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &w, key);
    }
    EXPECT_EQ(ctx->core.PlayCount, 3u) << "recorded keys sound as well";
    clock.advance(ms(1000));
    click(w, "BtnStop2");
    EXPECT_EQ(ctx->sequence.SequenceText, "65*250*83*400*68*1000*");
    EXPECT_EQ(rowOf(w), "10110111");
    EXPECT_EQ(buttonsOf(w), "11011");

    // Playback: the stop command is on while it plays, the play command off.
    QStringList during;
    clock.duringWait = [&](auto) { during << rowOf(w) + buttonsOf(w); };
    click(w, "BtnPlay2");
    EXPECT_EQ(during, QStringList({"10101111" "10111", "10101111" "10111", "10101111" "10111"}));
    EXPECT_EQ(rowOf(w), "10110111");
    EXPECT_EQ(ctx->sequence.LastTiming.keys, 3);
    clock.duringWait = {};

    // Save, with the default extension; a second save asks before overwriting.
    const QString base = appDir + "groove";
    prompt.textAnswers = {base};
    click(w, "BtnSave2");
    ASSERT_TRUE(QFile::exists(base + ".rbs"));
    ASSERT_EQ(prompt.asked.size(), 2);
    EXPECT_EQ(prompt.asked[0].kind, "save");
    EXPECT_EQ(prompt.asked[1].text, "Sequência salva com sucesso!");
    EXPECT_EQ(prompt.asked[1].caption, "Info");
    EXPECT_EQ(prompt.asked[1].icon, Prompt::Icon::Information);
    prompt.asked.clear();
    prompt.textAnswers = {base + ".rbs"};
    prompt.buttonAnswers = {Prompt::No};
    trigger(w, "SalvarSequencia1");
    EXPECT_EQ(prompt.texts().last(), "Deseja sobrescrever?");
    EXPECT_EQ(prompt.asked.last().caption, "Confirmação");
    EXPECT_EQ(prompt.asked.size(), 2);

    click(w, "BtnNew2");
    EXPECT_TRUE(ctx->sequence.SequenceText.isEmpty());
    EXPECT_EQ(rowOf(w), "10000001");

    // Load: the file's text, and saving stays off until something changes.
    prompt.asked.clear();
    prompt.textAnswers = {base + ".rbs"};
    trigger(w, "CarregarSequencia1");
    EXPECT_EQ(ctx->sequence.SequenceText, "65*250*83*400*68*1000*");
    EXPECT_EQ(rowOf(w), "10110101");
    // Something that is not a sequence file: one message, the text unchanged.
    QFile junk(appDir + "junk.rbs");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("65*100*");
    junk.close();
    prompt.asked.clear();
    prompt.textAnswers = {junk.fileName()};
    trigger(w, "CarregarSequencia1");
    ASSERT_EQ(prompt.asked.size(), 2);
    EXPECT_EQ(prompt.asked[1].text, "Erro ao ler dados.");
    EXPECT_EQ(prompt.asked[1].caption, "Erro");
    EXPECT_EQ(prompt.asked[1].icon, Prompt::Icon::Error);
    EXPECT_EQ(ctx->sequence.SequenceText, "65*250*83*400*68*1000*");

    trigger(w, "RepetindoTocarSeq1");
    EXPECT_TRUE(ctx->sequence.RepeatSequence);
    trigger(w, "RepetindoTocarSeq1");
    EXPECT_FALSE(ctx->sequence.RepeatSequence);
    w.close();
}

// A recording stopped while the sequence plays leaves a way to stop the playback.
TEST_F(SequenceWindow, PlaybackKeepsItsStopCommandWhenARecordingOverItEnds) {
    const auto window = open();
    ASSERT_TRUE(window);
    TFrmCenter& w = *window;
    ctx->sequence.SequenceText = "65*100*83*100*65*100*";
    w.PararSequencia1Click();  // the stop row, with a text
    int waits = 0;
    QString afterRecording;
    clock.duringWait = [&](auto) {
        ++waits;
        if (waits == 1) {
            trigger(w, "GravarSequencia1");
            trigger(w, "PararSequencia1");  // ends the recording only
            afterRecording = rowOf(w);
        }
        if (waits == 2) trigger(w, "PararTocarSeq1");
    };
    trigger(w, "TocarSequencia1");
    EXPECT_EQ(afterRecording, "10101111");
    EXPECT_EQ(ctx->sequence.LastTiming.keys, 2);
    EXPECT_EQ(rowOf(w), "10110111");
    w.close();
}

TEST_F(SequenceWindow, ClosingWhilePlayingEndsThePlayerBeforeTheEngine) {
    const auto window = open();
    ASSERT_TRUE(window);
    TFrmCenter& w = *window;
    ctx->sequence.SequenceText = "65*100*83*100*68*100*";
    ctx->sequence.RepeatSequence = true;
    bool engineDuringClose = false;
    clock.duringWait = [&](auto) {
        if (clock.deadlines.size() != 2) return;
        w.close();
        engineDuringClose = ctx->core.SoundSystem != rb::System{};
    };
    w.TocarSequencia1Click();
    EXPECT_TRUE(engineDuringClose) << "the engine outlives the player";
    EXPECT_EQ(ctx->sequence.LastTiming.keys, 2);
    EXPECT_FALSE(ctx->sequence.IsPlaying());
    QTest::qWait(20);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(ctx->core.SoundSystem, rb::System{}) << "the close went on once the player returned";
    EXPECT_TRUE(prompt.asked.isEmpty());
}

// ---------------------------------------------------------------- command line

#if defined(RIMBAL2_BIN)
class RenderCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        app = dir.path() + u'/';
        ASSERT_TRUE(QFile::copy(RIMBAL2_BIN, app + "rimbal2"));
        ASSERT_TRUE(QFile::copy(RBCORE_LIB, app + QFileInfo(RBCORE_LIB).fileName()));
        QFile(app + "rimbal2").setPermissions(QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
        QDir().mkpath(app + "Pacotes/Kit");
        sound("a.wav", 0.25f, 2000);
        sound("s.wav", -0.5f, 1000);
        ASSERT_TRUE(WriteTextLines(app + "Pacotes/Kit/Keys.txt",
                                   {"65*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*a.wav",
                                    "83*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*s.wav"}));
        ASSERT_TRUE(WriteTextLines(app + "rimbal2.ini", {"[Config]", "PackName=Kit"}));
    }
    void sound(const QString& name, float value, int frames) {
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(QFile::encodeName(app + "Pacotes/Kit/" + name).constData(), SFM_WRITE, &info);
        const std::vector<float> data(static_cast<std::size_t>(frames), value);
        sf_writef_float(f, data.data(), frames);
        sf_close(f);
    }
    QString sequence(const QString& name, const QByteArray& text, const QByteArray& password = Sequence::kPassword) {
        ArchiveWriter w(app + name);
        w.setPassword(password);
        w.addData("RBS.txt", text);
        EXPECT_TRUE(w.write());
        return app + name;
    }
    struct Run {
        int code;
        QString out, err;
    };
    Run run(const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(app);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        p.setProcessEnvironment(env);
        p.start(app + "rimbal2", args);
        p.waitForFinished(60000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    QByteArray bytes(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QString app;
};

TEST_F(RenderCommand, RendersWithoutDisplayOrDeviceTheSameBytesEveryTime) {
    const QString rbs = sequence("g.rbs", "65*250*83*400");
    const Run first = run({"--render-sequence", rbs, "--output", app + "a.wav"});
    ASSERT_EQ(first.code, 0) << first.err.toStdString();
    EXPECT_TRUE(first.out.contains("a.wav")) << first.out.toStdString();
    EXPECT_TRUE(first.out.contains("0.650 s")) << first.out.toStdString();
    const QByteArray wav = bytes(app + "a.wav");
    ASSERT_GT(wav.size(), 44);
    EXPECT_EQ(wav.left(44), WavHeader(2, 48000, 16, static_cast<std::uint32_t>(wav.size() - 44)));
    // The second key's first frame: 250 ms at 48 kHz.
    const auto left = [&](int frame) { return qFromLittleEndian<std::int16_t>(wav.constData() + 44 + frame * 4); };
    EXPECT_GT(left(0), 0);
    EXPECT_EQ(left(11999), 0);
    EXPECT_LT(left(12000), 0);
    ASSERT_EQ(run({"--render-sequence=" + rbs, "--output=" + app + "b.wav"}).code, 0);
    EXPECT_EQ(bytes(app + "b.wav"), wav);

    const Run r44 = run({"--render-sequence", rbs, "--output", app + "c.wav", "--rate", "44100", "--package", "Kit"});
    ASSERT_EQ(r44.code, 0) << r44.err.toStdString();
    EXPECT_EQ(qFromLittleEndian<std::uint32_t>(bytes(app + "c.wav").constData() + 24), 44100u);
}

TEST_F(RenderCommand, ErrorsGoToStandardErrorWithAFailureStatus) {
    const QString good = sequence("g.rbs", "65*100*");
    struct Case {
        QStringList args;
        QString says;
        int code = 1;  // 2: a usage error
    };
    const std::vector<Case> cases{
        {{"--render-sequence", app + "absent.rbs", "--output", app + "x.wav"}, "absent.rbs"},
        {{"--render-sequence", sequence("z.rbs", "90*100"), "--output", app + "x.wav"},
         "Valor de tecla inválido! Não configurada 90 {Z}"},
        {{"--render-sequence", sequence("i.rbs", "65*70000"), "--output", app + "x.wav"},
         "Valor de intervalo inválido! 70000"},
        {{"--render-sequence", sequence("p.rbs", "65*100*", "outra"), "--output", app + "x.wav"}, "Erro ao ler dados."},
        {{"--render-sequence", app + "rimbal2.ini", "--output", app + "x.wav"}, "Erro ao ler dados."},
        {{"--render-sequence", good, "--output", app + "x.wav", "--package", "Outro"}, "Outro"},
        {{"--render-sequence", good, "--output", app + "no/such/x.wav"}, "x.wav"},
        {{"--render-sequence", good, "--output", app + "x.wav", "--rate", "22050"}, "22050"},
        {{"--render-sequence", good}, "Uso:", 2},
        {{"--render-sequence", good, "--output", app + "x.wav", "--loud"}, "--loud", 2},
    };
    for (const Case& c : cases) {
        const Run r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_FALSE(QFile::exists(app + "x.wav"));
    }
}
#endif

}  // namespace
