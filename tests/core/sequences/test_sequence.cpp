// Key sequences: recording with a driven clock, the long-interval question,
// the checks, .rbs files against Python's zipfile and Info-ZIP, and the
// player's timing, stops, loops and changes made while it waits.
#include "corefixture.h"
#include "fakeclock.h"

#include "archives/ziparchive.h"
#include "sequences/sequence.h"
#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <csignal>
#include <sys/resource.h>

using namespace rimbal;
using ms = std::chrono::milliseconds;

namespace {

QByteArray runTool(const QString& program, const QStringList& args, const QString& cwd = {}, int* code = nullptr) {
    QProcess p;
    if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
    p.start(program, args);
    p.waitForFinished(30000);
    if (code) *code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

class SequenceTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        startEngine();
        // A (stopped by Q), S and D.
        const std::vector<float> click(4800, 0.1f);
        ASSERT_TRUE(core->AddKeySound(definition(65, outsideFile("a.wav", click), 81), false, 0));
        ASSERT_TRUE(core->AddKeySound(definition(83, outsideFile("s.wav", click)), false, 0));
        ASSERT_TRUE(core->AddKeySound(definition(68, outsideFile("d.wav", click)), false, 0));
        seq = std::make_unique<Sequence>(*core, prompt);
        seq->SetClock(&clock);
        seq->onPlaybackStarts = [this] { rows << "starts"; };
        seq->onPlaybackEnds = [this] { rows << "ends"; };
    }
    void press(std::uint16_t key, int afterMs) {
        clock.advance(ms(afterMs));
        seq->RecordKey(key);
    }
    // An archive like the program's, with any content.
    QString archive(const QString& name, const QByteArray& content, const QByteArray& password = Sequence::kPassword,
                    const QString& entry = Sequence::kEntryName) {
        const QString path = dir.filePath(name);
        ArchiveWriter w(path);
        w.setPassword(password);
        w.addData(entry, content);
        EXPECT_TRUE(w.write()) << w.errorText().toStdString();
        return path;
    }
    QString load(const QString& path) {
        QString text, message;
        if (!seq->ReadFile(path, text, message)) return message;
        seq->AppendLoaded(text);
        return {};
    }

    FakeClock clock;
    std::unique_ptr<Sequence> seq;
    QStringList rows;
};

// ---------------------------------------------------------------- recording

TEST_F(SequenceTest, RecordsBoundKeysWithTheMillisecondsBetweenThem) {
    seq->StartRecording();
    press(65, 5000);  // the first key's interval is measured, not written
    press(83, 250);
    press(77, 100);   // M plays nothing: not recorded, not timed
    press(68, 300);
    clock.advance(ms(1000));
    EXPECT_TRUE(seq->Stop());
    EXPECT_EQ(seq->SequenceText, "65*250*83*400*68*1000*");
    EXPECT_FALSE(seq->RecordingSequence);

    // A stop without keys changes nothing and asks nothing.
    seq->StartRecording();
    clock.advance(ms(45000));
    seq->Stop();
    EXPECT_EQ(seq->SequenceText, "65*250*83*400*68*1000*");
    EXPECT_TRUE(prompt.asked.isEmpty());

    // A second recording appends; a key that only stops an entry (Q) counts.
    seq->Clear();
    seq->SequenceText = "65*250*";
    seq->StartRecording();
    press(83, 40000);
    EXPECT_EQ(seq->SequenceText, "65*250*83");
    press(81, 120);
    EXPECT_EQ(seq->SequenceText, "65*250*83*120*81");
    EXPECT_TRUE(prompt.asked.isEmpty()) << "a first key never raises the question";
    // Stop outside a recording is a request to the player.
    seq->Stop();
    seq->Stop();
    EXPECT_TRUE(seq->StopSequenceRequest);
}

TEST_F(SequenceTest, TheDefaultClockMeasuresRealTime) {
    Sequence real(*core, prompt);
    real.StartRecording();
    real.RecordKey(65);
    WaitMs(30);
    real.RecordKey(83);
    const int interval = GetField(real.SequenceText, 2, "*").toInt();
    EXPECT_GE(interval, 30);
    EXPECT_LT(interval, 2000);
}

TEST_F(SequenceTest, LongIntervalQuestionKeepsOnlyWhatTheLoaderAccepts) {
    struct Case {
        int measured;
        QList<Prompt::Button> buttons;
        QStringList typed;
        qint64 recorded;
        QStringList asked;
    };
    const QString q = "Intervalo longo encontrado, deseja substituir o valor?";
    const QString box = "Defina o valor (milisegundos)";
    const QString wrong = "Valor incorreto.";
    const std::vector<Case> cases{
        {30000, {}, {}, 30000, {}},
        {31000, {Prompt::Yes}, {"500"}, 500, {q, box}},
        {31000, {Prompt::Yes}, {"abc"}, 31000, {q, box, wrong}},
        {31000, {Prompt::No}, {}, 31000, {q}},
        {31000, {Prompt::Yes}, {}, 31000, {q, box}},  // input cancelled
        {31000, {Prompt::Yes}, {"60000"}, 60000, {q, box}},
        {31000, {Prompt::Yes}, {"60001"}, 31000, {q, box, wrong}},
        {31000, {Prompt::Yes}, {"-1"}, 31000, {q, box, wrong}},
        {70000, {Prompt::No}, {}, 60000, {q}},
        {70000, {Prompt::Yes}, {"abc"}, 60000, {q, box, wrong}},
        {70000, {Prompt::Yes}, {"0"}, 0, {q, box}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.measured);
        SCOPED_TRACE(c.typed.join(',').toStdString());
        seq->Clear();
        prompt.asked.clear();
        prompt.buttonAnswers = c.buttons;
        prompt.textAnswers = c.typed;
        seq->StartRecording();
        press(65, 0);
        press(83, c.measured);
        EXPECT_EQ(seq->SequenceText, QStringLiteral("65*%1*83").arg(c.recorded));
        EXPECT_EQ(prompt.texts(), c.asked);
        if (!c.asked.isEmpty()) {
            EXPECT_EQ(prompt.asked[0].caption, "Confirmação");
            EXPECT_EQ(prompt.asked[0].icon, Prompt::Icon::Question);
            EXPECT_EQ(prompt.asked[0].buttons, Prompt::Yes | Prompt::No);
        }
        if (c.asked.size() > 1) {
            EXPECT_EQ(prompt.asked[1].caption, "Definir intervalo");
        }
        if (c.asked.size() > 2) {
            EXPECT_EQ(prompt.asked[2].caption, "Aviso");
            EXPECT_EQ(prompt.asked[2].icon, Prompt::Icon::Error);
        }
    }
}

// The time the user takes to answer counts towards the next interval, and
// the stop of a recording asks about its closing interval too.
TEST_F(SequenceTest, AnsweringTimeCountsTowardsTheNextInterval) {
    struct SlowPrompt : ScriptedPrompt {
        FakeClock* clock = nullptr;
        std::function<void()> meanwhile;
        Button message(const QString& c, const QString& t, Icon i, int b) override {
            clock->advance(ms(5000));
            if (meanwhile) meanwhile();
            return ScriptedPrompt::message(c, t, i, b);
        }
    } slow;
    slow.clock = &clock;
    Sequence s(*core, slow);
    s.SetClock(&clock);
    slow.buttonAnswers = {Prompt::No, Prompt::No};
    s.StartRecording();
    clock.advance(ms(10));
    s.RecordKey(65);
    clock.advance(ms(31000));
    s.RecordKey(83);
    clock.advance(ms(1000));
    s.RecordKey(68);
    clock.advance(ms(90000));
    s.Stop();
    EXPECT_EQ(s.SequenceText, "65*31000*83*6000*68*60000*");
    EXPECT_EQ(slow.asked.size(), 2);

    // Stopped while the question is open: the key is not added to the ended take.
    s.Clear();
    s.StartRecording();
    s.RecordKey(65);
    clock.advance(ms(31000));
    slow.meanwhile = [&] { s.Stop(); };
    s.RecordKey(83);
    EXPECT_EQ(s.SequenceText, "65*5000*");
}

// ---------------------------------------------------------------- checks and loading

TEST_F(SequenceTest, CheckSequenceTextNamesTheFieldThatFails) {
    struct Case {
        QString text;
        int code;
        QString detail;
    };
    const std::vector<Case> cases{
        {"", 1, ""},
        {"65*250*83*400*68*1000*", 0, "1000"},
        {"65*60000*", 0, "60000"},
        {"65*60001", 4, "60001"},
        {"65*-1", 4, "-1"},
        {"65*abc", 2, "abc"},
        {"abc*100", 2, "abc"},
        {"90*100", 3, "90 {Z}"},
        {"81*100*", 0, "100"},             // a stop key
        {"65601*100", 3, "65601 {}"},      // 65 + 65536 is no key, not A
        {"-65*100", 3, "-65 {}"},
        {"65**abc", 0, "65"},              // not looked at after an empty field
        {" 65*$10*", 0, "$10"},            // the integer conversion's own forms
    };
    for (const Case& c : cases) {
        TRBSFormatErrorInfo info;
        info.Code = 9;
        seq->CheckSequenceText(c.text, info);
        EXPECT_EQ(info.Code, c.code) << c.text.toStdString();
        EXPECT_EQ(info.Detail, c.detail) << c.text.toStdString();
    }
}

TEST_F(SequenceTest, LoadingAppendsCompletesAndRefusesWithTheExactMessages) {
    struct Case {
        QString current;
        QByteArray content;
        QString result;  // the text afterwards
        QString message;
    };
    const std::vector<Case> cases{
        {"", "65", "65*0*", ""},
        {"", "65*100", "65*100*", ""},
        {"65*100*", "68*200*", "65*100*68*200*", ""},
        {"", "65*60000*", "65*60000*", ""},
        {"", "65**99", "65*0*", ""},          // only the checked part
        {"", "65*100**90*abc", "65*100*", ""},
        {"83*5*", "", "83*5*", "Arquivo vazio!"},
        {"83*5*", "*65*100", "83*5*", "Arquivo vazio!"},
        {"83*5*", "90*100", "83*5*", "Valor de tecla inválido! Não configurada 90 {Z}"},
        {"83*5*", "65*60001", "83*5*", "Valor de intervalo inválido! 60001"},
        {"83*5*", "65*-1", "83*5*", "Valor de intervalo inválido! -1"},
        {"83*5*", "65*abc", "83*5*", "Formato inválido! abc"},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content.toStdString());
        seq->Clear();
        seq->SequenceText = c.current;
        seq->RecordingSequence = true;
        const QString msg = load(archive(QStringLiteral("t%1.rbs").arg(i++), c.content));
        EXPECT_EQ(msg, c.message);
        EXPECT_EQ(seq->SequenceText, c.result);
        EXPECT_EQ(seq->RecordingSequence, !c.message.isEmpty()) << "a load ends a recording";
    }
    // A text cut off after a key keeps its keys in their places.
    seq->SequenceText = "65*100*83";
    EXPECT_EQ(load(archive("u.rbs", "68*5*")), "");
    EXPECT_EQ(seq->SequenceText, "65*100*83*0*68*5*");
}

TEST_F(SequenceTest, WhatIsNotASequenceArchiveIsAReadError) {
    const QString good = archive("good.rbs", "65*100*");
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    const auto write = [&](const QString& name, const QByteArray& data) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        return f.fileName();
    };
    const QStringList files{
        write("text.rbs", "65*100*"),
        write("half.rbs", bytes.left(bytes.size() / 2)),
        write("empty.rbs", ""),
        archive("other.rbs", "65*100*", "outra senha"),
        archive("noentry.rbs", "65*100*", Sequence::kPassword, "Outro.txt"),
        dir.filePath("absent.rbs"),
        dir.path(),
        archive("huge.rbs", QByteArray("65*100*").repeated(17 * 1024 * 1024 / 7)),  // valid, but no sequence is that long
    };
    for (const QString& f : files) {
        seq->SequenceText = "83*5*";
        QString text, message, reason;
        EXPECT_FALSE(seq->ReadFile(f, text, message, &reason)) << f.toStdString();
        EXPECT_EQ(message, "Erro ao ler dados.") << f.toStdString();
        EXPECT_FALSE(reason.isEmpty()) << f.toStdString();
        EXPECT_TRUE(text.isEmpty());
        EXPECT_EQ(seq->SequenceText, "83*5*");
    }
}

// ---------------------------------------------------------------- files and other ZIP tools

TEST_F(SequenceTest, SavedFileReadsInPythonAndInfoZipFilesLoad) {
    seq->SequenceText = "65*250*83*400*68*1000*";
    const QString path = dir.filePath("groove.rbs");
    QString error;
    ASSERT_TRUE(seq->SaveToFile(path, error)) << error.toStdString();
    const QString script = QStringLiteral(R"(
import json, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
z.setpassword(b"Vazevaz Izize Vozo")
i = z.infolist()[0]
print(json.dumps({"names": z.namelist(), "text": z.read("RBS.txt").decode("latin-1"),
                  "comment": z.comment.decode("utf-8"), "encrypted": bool(i.flag_bits & 1),
                  "method": i.compress_type}))
)");
    int code = -1;
    const QJsonObject py =
        QJsonDocument::fromJson(runTool("python3", {"-c", script, path}, {}, &code)).object();
    ASSERT_EQ(code, 0);
    EXPECT_EQ(py["names"].toVariant().toStringList(), QStringList{"RBS.txt"});
    EXPECT_EQ(py["text"].toString(), seq->SequenceText);
    EXPECT_EQ(py["comment"].toString(), "Sequência de sons do Rimbal\r\n>>> www.rimbal.com.br");
    EXPECT_TRUE(py["encrypted"].toBool());
    EXPECT_EQ(py["method"].toInt(), 8);

    seq->Clear();
    EXPECT_EQ(load(path), "");
    EXPECT_EQ(seq->SequenceText, "65*250*83*400*68*1000*");

    // Made by Info-ZIP with the password.
    QDir().mkpath(dir.filePath("iz"));
    QFile raw(dir.filePath("iz/RBS.txt"));
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
    raw.write("83*120*68*80");
    raw.close();
    runTool("zip", {"-qj", "-e", "-P", "Vazevaz Izize Vozo", dir.filePath("iz.rbs"), dir.filePath("iz/RBS.txt")}, {},
            &code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(load(dir.filePath("iz.rbs")), "");
    EXPECT_EQ(seq->SequenceText, "65*250*83*400*68*1000*83*120*68*80*");
}

TEST_F(SequenceTest, AFailedSaveKeepsTheEarlierFileAndSaysWhy) {
    seq->SequenceText = "65*100*";
    const QString path = dir.filePath("old.rbs");
    QString error;
    ASSERT_TRUE(seq->SaveToFile(path, error));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();

    seq->SequenceText = QString("65*100*").repeated(5000);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 40;  // a full disk
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = seq->SaveToFile(path, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    EXPECT_EQ(QDir(dir.path()).entryList({"old.rbs*", ".old*"}, QDir::Files | QDir::Hidden), QStringList{"old.rbs"});

    EXPECT_FALSE(seq->SaveToFile(dir.filePath("no/such/folder/x.rbs"), error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(SequenceTest, AKeptLongIntervalIsSavedAsOneTheLoaderAccepts) {
    prompt.buttonAnswers = {Prompt::No, Prompt::No};
    seq->StartRecording();
    press(65, 0);
    press(83, 70000);
    clock.advance(ms(61000));
    seq->Stop();
    EXPECT_EQ(seq->SequenceText, "65*60000*83*60000*");
    QString error;
    ASSERT_TRUE(seq->SaveToFile(dir.filePath("long.rbs"), error));
    seq->Clear();
    EXPECT_EQ(load(dir.filePath("long.rbs")), "");
    EXPECT_EQ(seq->SequenceText, "65*60000*83*60000*");
}

// ---------------------------------------------------------------- playback

TEST_F(SequenceTest, PlaybackKeepsTimeWhenEveryWaitEndsLate) {
    // 60 seconds at 10 keys per second; every wait wakes 3 ms late.
    seq->SequenceText = QString("65*100*83*100*").repeated(300);
    clock.lateBy = ms(3);
    seq->Play();
    ASSERT_EQ(clock.deadlines.size(), 600u);
    for (std::size_t i = 0; i < clock.deadlines.size(); ++i)
        ASSERT_EQ(clock.elapsed(clock.deadlines[i]), 100 * static_cast<long long>(i + 1)) << i;
    EXPECT_EQ(clock.elapsed(clock.now()), 60003) << "the sequence ends on time, not 1.8 s late";
    EXPECT_EQ(seq->LastTiming.keys, 600);
    EXPECT_EQ(seq->LastTiming.worstLateness, ms(3));
    EXPECT_EQ(rows, QStringList({"starts", "ends"}));
    EXPECT_FALSE(seq->IsPlaying());
}

TEST_F(SequenceTest, AStallMovesTheRestInsteadOfPlayingItInABurst) {
    seq->SequenceText = QString("65*100*").repeated(6);
    int waits = 0;
    clock.duringWait = [&](auto) {
        if (++waits == 2) clock.advance(ms(5000));  // a modal dialog held the loop
    };
    seq->Play();
    std::vector<long long> at;
    for (auto d : clock.deadlines) at.push_back(clock.elapsed(d));
    EXPECT_EQ(at, (std::vector<long long>{100, 200, 5200, 5300, 5400, 5500}));
    EXPECT_EQ(seq->LastTiming.worstLateness, ms(5000 - 100));
}

TEST_F(SequenceTest, StopAndChangesDuringAWait) {
    struct Case {
        const char* what;
        QString text;
        int atWait;
        std::function<void(Sequence&)> act;
        int keys;
        QString after;
        long long endsAt;
    };
    const std::vector<Case> cases{
        {"stop", "65*100*83*100*68*100*", 2, [](Sequence& s) { s.Stop(); }, 2, "65*100*83*100*68*100*", 100},
        {"clear", "65*100*83*100*68*100*", 1, [](Sequence& s) { s.Clear(); }, 1, "", 100},
        {"load", "65*100*83*100*", 2, [](Sequence& s) { s.AppendLoaded("68*50"); }, 3, "65*100*83*100*68*50*", 250},
        {"record", "65*100*83*100*", 1,
         [](Sequence& s) {
             s.StartRecording();
             s.RecordKey(68);
         },
         3, "65*100*83*100*68", 200},
        {"keys no longer defined", "90*10*65*10*", 0, {}, 2, "90*10*65*10*", 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        seq->Clear();
        rows.clear();
        prompt.asked.clear();
        seq->SequenceText = c.text;
        clock.t = clock.start;
        int waits = 0;
        clock.duringWait = [&](auto) {
            if (++waits == c.atWait) c.act(*seq);
        };
        seq->Play();
        EXPECT_EQ(seq->LastTiming.keys, c.keys);
        EXPECT_EQ(seq->SequenceText, c.after);
        EXPECT_EQ(clock.elapsed(clock.now()), c.endsAt);
        EXPECT_EQ(rows, QStringList({"starts", "ends"}));
        EXPECT_FALSE(seq->StopSequenceRequest);
        EXPECT_TRUE(prompt.asked.isEmpty());
        seq->RecordingSequence = false;
    }
}

TEST_F(SequenceTest, RepeatLoopsSeamlesslyAndEndsOnUntickOrStop) {
    seq->SequenceText = "65*100*83*100*";
    seq->RepeatSequence = true;
    clock.lateBy = ms(3);  // every wake is late: the passes must not drift
    int waits = 0;
    clock.duringWait = [&](auto) {
        if (++waits == 5) seq->RepeatSequence = false;  // unticked in the third pass
        seq->Play();                                     // a second player is refused
    };
    seq->Play();
    std::vector<long long> at;
    for (auto d : clock.deadlines) at.push_back(clock.elapsed(d));
    EXPECT_EQ(at, (std::vector<long long>{100, 200, 300, 400, 500, 600}));
    EXPECT_EQ(seq->LastTiming.keys, 6);
    EXPECT_EQ(rows, QStringList({"starts", "ends", "starts", "ends", "starts", "ends"}));

    // A stop between two passes is not lost.
    rows.clear();
    seq->RepeatSequence = true;
    clock.duringWait = {};
    clock.betweenPasses = [&] { seq->Stop(); };
    seq->Play();
    EXPECT_EQ(rows, QStringList({"starts", "ends"}));
    EXPECT_FALSE(seq->StopSequenceRequest);

    // Abort (the window closes) ends it without another key or row.
    rows.clear();
    clock.betweenPasses = {};
    clock.duringWait = [&](auto) { seq->Abort(); };
    seq->Play();
    EXPECT_EQ(seq->LastTiming.keys, 1);
    EXPECT_EQ(rows, QStringList({"starts"}));
    EXPECT_FALSE(seq->IsPlaying());
    seq->Abort();  // nothing plays: no effect on the next playback
    seq->RepeatSequence = false;
    clock.duringWait = {};
    seq->Play();
    EXPECT_EQ(seq->LastTiming.keys, 2);
}

}  // namespace
