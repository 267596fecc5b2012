// The audio recorder on the null output: a known signal fed as the recording
// device would feed it comes back sample-identical in the WAV file (read with
// libsndfile); stops, continued takes, stalls longer than the ring, the size
// limit, files that cannot be written, saving, playing, and the engine being
// released under a running take.
#include "corefixture.h"

#include "recording/recorder.h"
#include "recording/wav.h"

#include <sndfile.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace rimbal;

namespace {

// Frame f of the test signal: never silent, so a gap of zeros shows.
std::int16_t left(std::uint64_t f) { return static_cast<std::int16_t>(1 + f % 30011); }
std::int16_t right(std::uint64_t f) { return static_cast<std::int16_t>(-1 - (f * 7) % 29989); }

struct Wav {
    int rate = 0, channels = 0;
    std::vector<std::int16_t> pcm;  // interleaved
    std::uint64_t frames() const { return pcm.size() / 2; }
};

Wav readWav(const QString& path) {
    Wav w;
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << path.toStdString() << ": " << sf_strerror(nullptr);
    if (!f) return w;
    w.rate = info.samplerate;
    w.channels = info.channels;
    w.pcm.resize(static_cast<std::size_t>(info.frames * info.channels));
    EXPECT_EQ(sf_readf_short(f, w.pcm.data(), info.frames), info.frames);
    sf_close(f);
    return w;
}

std::uint32_t le32(const QByteArray& b, int at) { return qFromLittleEndian<std::uint32_t>(b.constData() + at); }
std::uint16_t le16(const QByteArray& b, int at) { return qFromLittleEndian<std::uint16_t>(b.constData() + at); }

class RecorderTest : public CoreTest {
protected:
    void start(int rateIndex = 0) {
        settings->ID_Output_Rate_Freq = rateIndex;
        startEngine(true);
        ASSERT_NE(core->RecordSound, rb::Sound{});
        recorder = std::make_unique<Recorder>(*core, prompt);
    }
    // Feeds the next frames of the test signal, as the recording device would.
    void feed(std::uint32_t frames) {
        std::vector<std::int16_t> v(2 * static_cast<std::size_t>(frames));
        for (std::uint32_t i = 0; i < frames; ++i) {
            v[2 * i] = left(fed + i);
            v[2 * i + 1] = right(fed + i);
        }
        ASSERT_EQ(rb::System_FeedNullRecord(core->SoundSystem, v.data(), frames), rb::OK);
        fed += frames;
    }
    // Frames [from, from + n) of the signal as they must stand in the file at `at`.
    void expectSignal(const Wav& w, std::uint64_t at, std::uint64_t from, std::uint64_t n) {
        ASSERT_LE(at + n, w.frames());
        for (std::uint64_t i = 0; i < n; ++i) {
            ASSERT_EQ(w.pcm[2 * (at + i)], left(from + i)) << "frame " << at + i;
            ASSERT_EQ(w.pcm[2 * (at + i) + 1], right(from + i)) << "frame " << at + i;
        }
    }
    void expectSilence(const Wav& w, std::uint64_t at, std::uint64_t n) {
        ASSERT_LE(at + n, w.frames());
        for (std::uint64_t i = 2 * at; i < 2 * (at + n); ++i) ASSERT_EQ(w.pcm[i], 0) << "frame " << i / 2;
    }
    bool engineRecording() {
        bool r = false;
        rb::System_IsRecording(core->SoundSystem, &r);
        return r;
    }
    QByteArray tempBytes() {
        QFile f(recorder->TempPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    std::unique_ptr<Recorder> recorder;
    std::uint64_t fed = 0;
};

// The header at both usual rates; a stop before the first tick gives a
// valid empty file; two seconds give a data size of eight times the rate.
TEST_F(RecorderTest, HeaderFieldsEmptyTakeAndTwoSeconds) {
    for (const auto& [index, rate] : {std::pair{1, 44100}, std::pair{0, 48000}}) {
        SCOPED_TRACE(rate);
        if (recorder) {
            recorder.reset();
            core->ReleaseSounds(true);
            rb::System_Release(core->SoundSystem);
            core->SoundSystem = rb::System{};
        }
        fed = 0;
        start(index);
        ASSERT_TRUE(recorder->Start());
        EXPECT_EQ(recorder->RecordLength, static_cast<std::uint32_t>(2 * rate));
        ASSERT_TRUE(recorder->Stop());
        QByteArray h = tempBytes();
        ASSERT_EQ(h.size(), 44);
        EXPECT_EQ(h.left(4), "RIFF");
        EXPECT_EQ(le32(h, 4), 36u);
        EXPECT_EQ(h.mid(8, 8), "WAVEfmt ");
        EXPECT_EQ(le32(h, 16), 16u);
        EXPECT_EQ(le16(h, 20), 1u);
        EXPECT_EQ(le16(h, 22), 2u);
        EXPECT_EQ(le32(h, 24), static_cast<std::uint32_t>(rate));
        EXPECT_EQ(le32(h, 28), static_cast<std::uint32_t>(4 * rate));
        EXPECT_EQ(le16(h, 32), 4u);
        EXPECT_EQ(le16(h, 34), 16u);
        EXPECT_EQ(h.mid(36, 4), "data");
        EXPECT_EQ(le32(h, 40), 0u);

        recorder->Clear();
        ASSERT_TRUE(recorder->Start());
        feed(static_cast<std::uint32_t>(rate));
        ASSERT_TRUE(recorder->Tick());
        feed(static_cast<std::uint32_t>(rate));
        ASSERT_TRUE(recorder->Stop());
        h = tempBytes();
        EXPECT_EQ(le32(h, 40), static_cast<std::uint32_t>(8 * rate));
        EXPECT_EQ(le32(h, 4), static_cast<std::uint32_t>(8 * rate + 36));
        const Wav w = readWav(recorder->TempPath());
        EXPECT_EQ(w.rate, rate);
        expectSignal(w, 0, 0, 2u * static_cast<std::uint64_t>(rate));
    }
}

// Ticks at uneven times wrap the ring many times; what the engine recorded
// after the last tick is kept by the stop; the file is the signal exactly.
TEST_F(RecorderTest, AKnownSignalComesBackSampleIdentical) {
    start();
    ASSERT_TRUE(recorder->Start());
    EXPECT_EQ(recorder->StatusText(), "State: Recording Record pos = 0 Play pos = 0 Loop Off");
    for (std::uint32_t chunk : {48000u, 30000u, 83000u, 1u, 47999u, 60000u, 75000u}) {
        feed(chunk);
        ASSERT_TRUE(recorder->Tick());
        EXPECT_EQ(recorder->RecordPos, fed % 96000);
        EXPECT_EQ(recorder->LastRecordPos, fed % 96000);
    }
    feed(31234);  // after the last tick
    ASSERT_TRUE(recorder->Stop());
    EXPECT_FALSE(engineRecording());
    EXPECT_FALSE(recorder->RecordFile.isOpen());
    const Wav w = readWav(recorder->TempPath());
    ASSERT_EQ(w.frames(), fed);
    expectSignal(w, 0, 0, fed);
    EXPECT_EQ(recorder->LostFrames(), 0u);
    EXPECT_TRUE(log.shown.isEmpty());
    EXPECT_TRUE(prompt.asked.isEmpty());
}

// The engine fills its ring from the start again at every start: a continued
// take goes on with the new audio, never with the old ring contents.
TEST_F(RecorderTest, AContinuedTakeHoldsBothPartsInOrder) {
    start();
    ASSERT_TRUE(recorder->Start());
    feed(70000);
    ASSERT_TRUE(recorder->Tick());
    feed(5000);
    ASSERT_TRUE(recorder->Stop());
    const std::uint64_t first = fed;
    ASSERT_TRUE(recorder->Start());
    EXPECT_EQ(recorder->LastRecordPos, 0u);
    feed(50000);
    ASSERT_TRUE(recorder->Tick());
    feed(20000);
    ASSERT_TRUE(recorder->Stop());
    const QByteArray h = tempBytes();
    EXPECT_EQ(le32(h, 40), fed * 4);
    const Wav w = readWav(recorder->TempPath());
    ASSERT_EQ(w.frames(), fed);
    expectSignal(w, 0, 0, first);
    expectSignal(w, first, first, fed - first);
}

// The window thread held for five seconds with a two-second ring: what was
// overwritten becomes silence of the same length, the rest stays in time,
// and the gap is told once, when the take stops.
TEST_F(RecorderTest, AStallLongerThanTheRingBecomesSilenceOfTheSameLength) {
    start();
    ASSERT_TRUE(recorder->Start());
    feed(24000);
    ASSERT_TRUE(recorder->Tick());
    feed(240000);  // five seconds without a tick
    ASSERT_TRUE(recorder->Tick());
    feed(24000);
    ASSERT_TRUE(recorder->Tick());
    EXPECT_TRUE(log.shown.isEmpty()) << "nothing modal while recording";
    ASSERT_TRUE(recorder->Stop());

    const std::uint64_t kept = 96000 - 96000 / 8;  // what the ring still holds safely
    const std::uint64_t lost = 240000 - kept;
    EXPECT_EQ(recorder->LostFrames(), lost);
    const Wav w = readWav(recorder->TempPath());
    ASSERT_EQ(w.frames(), fed) << "the take keeps its length";
    expectSignal(w, 0, 0, 24000);
    expectSilence(w, 24000, lost);
    expectSignal(w, 24000 + lost, 24000 + lost, kept + 24000);
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].caption, "Avisos da gravação");
    ASSERT_EQ(log.shown[0].lines.size(), 1);
    EXPECT_TRUE(log.shown[0].lines[0].startsWith("Gravação: 3,25 s perdidos aos 0,50 s")) << log.shown[0].lines[0].toStdString();
}

// Just before the format's limit the take stops by itself, whole frames
// only, with a message; it is held and can be saved.
TEST_F(RecorderTest, ATakeStopsByItselfAtTheSizeLimit) {
    start();
    recorder->MaxDataSize = 4 * 1000 + 2;
    ASSERT_TRUE(recorder->Start());
    feed(600);
    ASSERT_TRUE(recorder->Tick());
    feed(3000);
    EXPECT_FALSE(recorder->Tick());
    EXPECT_FALSE(recorder->SoundRecording);
    EXPECT_FALSE(engineRecording());
    EXPECT_FALSE(recorder->RecordingCleared);
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(prompt.asked[0].caption, "Aviso");
    EXPECT_TRUE(prompt.asked[0].text.contains("4 GB"));
    const QByteArray h = tempBytes();
    EXPECT_EQ(h.size(), 44 + 4000);
    EXPECT_EQ(le32(h, 40), 4000u);
    expectSignal(readWav(recorder->TempPath()), 0, 0, 1000);
}

// A temporary file that cannot be made or opened: the message names the
// path and the cause, the engine stops recording at once, nothing changes.
TEST_F(RecorderTest, ATemporaryFileThatCannotBeMadeOrOpenedStopsTheEngineAtOnce) {
    start();
    const QString appFolder = settings->AppDir;
    settings->AppDir = appDir + "arquivo/";  // a file where the folder should be
    ASSERT_TRUE(QFile(appDir + "arquivo").open(QIODevice::WriteOnly));
    EXPECT_FALSE(recorder->Start());
    EXPECT_FALSE(engineRecording());
    EXPECT_FALSE(recorder->SoundRecording);
    EXPECT_TRUE(recorder->RecordingCleared);
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(prompt.asked[0].caption, "Erro");
    EXPECT_TRUE(prompt.asked[0].text.startsWith("Não foi possível criar o arquivo temporário da gravação " + recorder->TempPath() + " ("));
    EXPECT_GT(prompt.asked[0].text.size(), 70);
    settings->AppDir = appFolder;

    // A held take whose file vanished is not made up again from nothing.
    ASSERT_TRUE(recorder->Start());
    feed(1000);
    ASSERT_TRUE(recorder->Stop());
    ASSERT_TRUE(QFile::remove(recorder->TempPath()));
    prompt.asked.clear();
    EXPECT_FALSE(recorder->Start());
    EXPECT_FALSE(engineRecording());
    EXPECT_FALSE(recorder->RecordingCleared);
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_TRUE(prompt.asked[0].text.startsWith("Não foi possível abrir o arquivo temporário da gravação " + recorder->TempPath()));
    EXPECT_FALSE(QFile::exists(recorder->TempPath()));
}

// Temp.$$$ in a folder others share: a link planted there and a take that
// another copy of the program holds are neither written through nor
// removed (the take gets a name of its own beside them); a leftover of an
// earlier run is taken over, and removed at the end.
TEST_F(RecorderTest, TheTakesFileIsItsOwnAndOnlyItIsRemoved) {
    start();
    const QString wanted = appDir + "Temp.$$$", victim = appDir + "alheio.txt";
    const auto bytes = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    };
    const auto take = [&] {
        recorder->Clear();
        EXPECT_TRUE(recorder->Start());
        feed(1000);
        EXPECT_TRUE(recorder->Stop());
        EXPECT_EQ(readWav(recorder->TempPath()).frames(), 1000u);
    };
    {
        QFile v(victim);
        ASSERT_TRUE(v.open(QIODevice::WriteOnly) && v.write("de outro") == 8);
    }
    ASSERT_TRUE(QFile::link(victim, wanted));
    take();
    EXPECT_TRUE(QFileInfo(recorder->TempPath()).fileName().startsWith("Temp-")) << recorder->TempPath().toStdString();
    EXPECT_TRUE(recorder->TempPath().endsWith(".$$$"));
    const QString made = recorder->TempPath();
    recorder->RemoveTempFile();
    EXPECT_FALSE(QFileInfo::exists(made));
    EXPECT_TRUE(QFileInfo(wanted).isSymLink());
    EXPECT_EQ(bytes(victim), "de outro");

    ASSERT_TRUE(QFile::remove(wanted));
    auto other = std::make_unique<OwnFile>();
    ASSERT_TRUE(other->create(appDir, "Temp.$$$"));
    ASSERT_EQ(other->path(), wanted);
    {
        QFile f;
        ASSERT_TRUE(other->open(f, QIODevice::WriteOnly));
        f.write("a outra tomada");
    }
    take();
    EXPECT_NE(recorder->TempPath(), wanted);
    recorder->RemoveTempFile();
    EXPECT_EQ(bytes(wanted), "a outra tomada");

    other.reset();  // that program ended without cleaning up
    take();
    EXPECT_EQ(recorder->TempPath(), wanted);
    // Replaced by another program's take: that one is neither saved nor removed.
    ASSERT_TRUE(QFile::remove(wanted));
    other = std::make_unique<OwnFile>();
    ASSERT_TRUE(other->create(appDir, "Temp.$$$"));
    QString error;
    EXPECT_FALSE(recorder->Save(appDir + "salvo.wav", error));
    recorder->RemoveTempFile();
    EXPECT_TRUE(QFileInfo::exists(wanted));
    EXPECT_FALSE(QFileInfo::exists(appDir + "salvo.wav"));
    other->remove();
    EXPECT_EQ(QDir(appDir).entryList({"Temp*"}, QDir::Files | QDir::System | QDir::Hidden), QStringList());
}

// The file cannot grow any more (as on a full disk): the take stops with a
// message, keeps every whole block written so far and a valid header.
TEST_F(RecorderTest, AWriteFailureStopsTheTakeAndLeavesAValidFile) {
    start();
    ASSERT_TRUE(recorder->Start());
    feed(10000);
    ASSERT_TRUE(recorder->Tick());
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 44 + 4 * 15000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    feed(20000);
    const bool ticked = recorder->Tick();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ticked);
    EXPECT_FALSE(recorder->SoundRecording);
    EXPECT_FALSE(engineRecording());
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(prompt.asked[0].caption, "Erro");
    EXPECT_TRUE(prompt.asked[0].text.startsWith("Não foi possível gravar no arquivo temporário da gravação " + recorder->TempPath()));
    const Wav w = readWav(recorder->TempPath());
    ASSERT_EQ(w.frames(), 10000u);
    expectSignal(w, 0, 0, 10000);
    EXPECT_EQ(le32(tempBytes(), 40), 40000u);
}

// Saving moves the take; a failure names the path and the cause and keeps
// the take held with its file intact; another file system is copied.
TEST_F(RecorderTest, SavingMovesTheTakeAndAFailureKeepsItHeld) {
    start();
    ASSERT_TRUE(recorder->Start());
    feed(30000);
    ASSERT_TRUE(recorder->Stop());
    const QByteArray take = tempBytes();
    QString error;
    const QString nowhere = appDir + "nao/existe/take.wav";
    EXPECT_FALSE(recorder->Save(nowhere, error));
    EXPECT_TRUE(error.startsWith("Não foi possível salvar a gravação em " + nowhere + " (")) << error.toStdString();
    EXPECT_FALSE(recorder->RecordingCleared);
    EXPECT_EQ(tempBytes(), take);
    EXPECT_FALSE(recorder->Save(recorder->TempPath(), error)) << "not onto itself";
    EXPECT_EQ(tempBytes(), take);

    const QString here = appDir + "take.wav";
    ASSERT_TRUE(recorder->Save(here, error)) << error.toStdString();
    EXPECT_TRUE(recorder->RecordingCleared);
    EXPECT_FALSE(QFile::exists(recorder->TempPath()));
    expectSignal(readWav(here), 0, 0, 30000);

    // Another file system: a rename cannot cross it.
    struct stat a{}, b{};
    if (::stat("/dev/shm", &b) != 0 || ::stat(QFile::encodeName(appDir).constData(), &a) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system to save to";
    QTemporaryDir other(QStringLiteral("/dev/shm/rimbal-XXXXXX"));
    ASSERT_TRUE(other.isValid());
    const QString there = other.filePath("take.wav");
    QFile old(there);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older file");
    old.close();
    recorder->Clear();
    ASSERT_TRUE(recorder->Start());
    feed(5000);
    ASSERT_TRUE(recorder->Stop());
    ASSERT_TRUE(recorder->Save(there, error)) << error.toStdString();
    EXPECT_FALSE(QFile::exists(recorder->TempPath()));
    const Wav w = readWav(there);
    ASSERT_EQ(w.frames(), 5000u);
    expectSignal(w, 0, 30000, 5000);
}

// Playing the take: once or in a loop, the position followed, the end seen.
TEST_F(RecorderTest, PlayingTheTakeOnceAndInALoop) {
    start();
    EXPECT_FALSE(recorder->Play()) << "nothing held";
    ASSERT_TRUE(recorder->Start());
    ASSERT_TRUE(recorder->Stop());
    EXPECT_FALSE(recorder->Play()) << "an empty take is no sound";
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_TRUE(prompt.asked[0].text.startsWith(QStringLiteral("Erro da engine: (%1)").arg(rb::ERR_FILE_BAD)));

    ASSERT_TRUE(recorder->Start());
    feed(4800);
    ASSERT_TRUE(recorder->Stop());
    for (const bool loop : {false, true}) {
        SCOPED_TRACE(loop);
        recorder->LoopPlayback = loop;
        ASSERT_TRUE(recorder->Play());
        EXPECT_TRUE(recorder->PlaybackEndPending);
        const auto out = render(3000);
        EXPECT_FLOAT_EQ(out[2 * 100], 0.5f * left(100) / 32768.0f) << "at half volume";
        EXPECT_TRUE(recorder->UpdatePlayback());
        EXPECT_EQ(recorder->PlaybackPos, 3000u);
        render(3000);
        EXPECT_EQ(recorder->UpdatePlayback(), loop);
    }
    EXPECT_EQ(recorder->StatusText(), "State: Idle Record pos = 4800 Play pos = 1200 Loop On");
    EXPECT_TRUE(recorder->StopPlayback());
    EXPECT_FALSE(recorder->PlaybackEndPending);
    EXPECT_FALSE(recorder->StopPlayback());
}

// Another package or new engine settings release the sounds: a running take
// is completed first; a take continued at another rate is refused.
TEST_F(RecorderTest, ReleasingTheEngineCompletesTheTake) {
    start();
    int stopped = 0;
    recorder->onStoppedByItself = [&] { ++stopped; };
    ASSERT_TRUE(recorder->Start());
    feed(12345);
    core->ReleaseSounds(false);
    EXPECT_EQ(stopped, 1);
    EXPECT_FALSE(recorder->SoundRecording);
    EXPECT_EQ(le32(tempBytes(), 40), 12345u * 4);
    expectSignal(readWav(recorder->TempPath()), 0, 0, 12345);

    // The engine ends a recording itself (its device went away): the next
    // tick completes the take without a message of its own.
    core->CreateSounds(false);
    ASSERT_TRUE(recorder->Start());
    feed(1000);
    ASSERT_EQ(rb::System_RecordStop(core->SoundSystem), rb::OK);
    EXPECT_FALSE(recorder->Tick());
    EXPECT_FALSE(recorder->SoundRecording);
    EXPECT_TRUE(prompt.asked.isEmpty());
    EXPECT_EQ(le32(tempBytes(), 40), 13345u * 4);

    core->ReleaseSounds(true);
    settings->ID_Output_Rate_Freq = 1;
    core->CreateSounds(true);
    EXPECT_FALSE(recorder->Start());
    EXPECT_FALSE(engineRecording());
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_TRUE(prompt.asked[0].text.startsWith("A gravação guardada está em 48000 Hz e o som agora seria gravado em 44100 Hz."));
    EXPECT_EQ(le32(tempBytes(), 40), 13345u * 4) << "the held take is untouched";
}

}  // namespace
