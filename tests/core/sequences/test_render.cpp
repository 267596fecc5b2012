// Rendering a sequence on the null output: keys on their exact frames, the
// same bytes every time, the tail, and WAV headers that Python's wave reads.
#include "corefixture.h"

#include "sequences/sequencerender.h"
#include "recording/wav.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>

using namespace rimbal;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// channels, sample width, rate and frames as Python's wave module reads them.
QString pythonWave(const QString& path) {
    QProcess p;
    p.start("python3", {"-c",
                        "import sys, wave\nw = wave.open(sys.argv[1])\n"
                        "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())",
                        path});
    p.waitForFinished(30000);
    return QString::fromLatin1(p.readAllStandardOutput()).trimmed();
}

class RenderTest : public CoreTest, public ::testing::WithParamInterface<int> {
protected:
    void start(int rate) {
        settings->ID_Output_Rate_Freq = rate == 48000 ? 0 : 1;
        startEngine();
        // Sounds at the mixer rate: a block of +0.25 and a block of -0.5.
        addKey(65, std::vector<float>(2000, 0.25f), rate);
        addKey(83, std::vector<float>(1000, -0.5f), rate);
    }
    void addKey(std::uint16_t key, const std::vector<float>& mono, int rate, bool loop = false) {
        const QString file = appDir + QStringLiteral("k%1.wav").arg(key);
        writeWavFile(file, mono, rate);
        TAG_SOUND_DATA d = definition(key, file);
        d.loop = loop;
        ASSERT_TRUE(core->AddKeySound(d, false, 0));
    }
    RenderResult render(const QString& text, const QString& name) {
        RenderResult r;
        QString error;
        EXPECT_TRUE(RenderSequence(*core, text, dir.filePath(name), r, error)) << error.toStdString();
        return r;
    }
};

TEST_P(RenderTest, KeysStartOnTheExactFramesOfTheirTimes) {
    const int rate = GetParam();
    start(rate);
    const RenderResult r = render("65*333*83*500*", "a.wav");
    EXPECT_EQ(r.rate, rate);
    EXPECT_EQ(r.keys, 2);
    EXPECT_EQ(r.sequenceFrames, FrameAt(833, rate));
    EXPECT_GE(r.frames, r.sequenceFrames);
    const QByteArray wav = readAll(dir.filePath("a.wav"));
    ASSERT_EQ(wav.size(), 44 + static_cast<qsizetype>(r.frames) * 4);
    EXPECT_EQ(wav.left(44), WavHeader(2, rate, 16, static_cast<std::uint32_t>(r.frames * 4)));

    const auto sample = [&](std::uint64_t frame, int channel) {
        return qFromLittleEndian<std::int16_t>(wav.constData() + 44 + frame * 4 + channel * 2);
    };
    // The second key: 333 ms after the first, rounded down to a frame.
    const std::uint64_t second = 333ull * static_cast<std::uint64_t>(rate) / 1000;
    std::uint64_t firstOnset = ~0ull, secondOnset = ~0ull;
    for (std::uint64_t f = 0; f < r.frames; ++f) {
        const int v = sample(f, 0);
        ASSERT_EQ(v, sample(f, 1)) << f;
        if (v > 0 && firstOnset == ~0ull) firstOnset = f;
        if (v < 0 && secondOnset == ~0ull) secondOnset = f;
        if (f < 2000) ASSERT_NEAR(v, 8192, 1) << f;
        else if (f < second || f >= second + 1000) ASSERT_EQ(v, 0) << f;
        else ASSERT_NEAR(v, -16384, 1) << f;
    }
    EXPECT_EQ(firstOnset, 0u);
    EXPECT_EQ(secondOnset, second);

    // The same sequence gives the same bytes.
    render("65*333*83*500*", "b.wav");
    EXPECT_EQ(readAll(dir.filePath("b.wav")), wav);
    EXPECT_TRUE(prompt.asked.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Rates, RenderTest, ::testing::Values(44100, 48000));

TEST_F(RenderTest, RendersUntilTheLastSoundEndsAndNoFurtherThanTenSeconds) {
    start(48000);
    addKey(68, std::vector<float>(480, 0.1f), 48000, true);
    // A short sequence whose sound outlasts it.
    RenderResult r = render("65*0*", "tail.wav");
    EXPECT_EQ(r.sequenceFrames, 0u);
    EXPECT_GT(r.frames, 2000u);
    EXPECT_LE(r.frames, 2000u + 2 * 4096u);
    EXPECT_EQ(pythonWave(dir.filePath("tail.wav")), QStringLiteral("2 2 48000 %1").arg(r.frames));
    // A silent end after the last sound is the sequence's own length.
    r = render("65*1000*", "long.wav");
    EXPECT_EQ(r.frames, 48000u);
    // A looping key never ends: ten seconds after the sequence.
    r = render("68*100*", "loop.wav");
    EXPECT_EQ(r.frames, 4800u + 480000u);

    // Thousands of keys on one frame (five keys: more slots than channels, so
    // every play reaches the engine): none is refused for a full command queue.
    for (std::uint16_t k : {70, 71, 72}) addKey(k, std::vector<float>(480, 0.1f), 48000);
    const std::uint32_t plays = core->PlayCount;
    r = render(QString("65*0*83*0*70*0*71*0*72*0*").repeated(1000), "burst.wav");
    EXPECT_EQ(r.keys, 5000);
    EXPECT_EQ(core->PlayCount - plays, 5000u);
    EXPECT_TRUE(prompt.asked.isEmpty()) << prompt.texts().join('\n').toStdString();

    // An output that cannot be written leaves nothing behind.
    QString error;
    EXPECT_FALSE(RenderSequence(*core, "65*100*", dir.filePath("no/such/out.wav"), r, error));
    EXPECT_TRUE(error.contains("out.wav")) << error.toStdString();
}

// The header routine as the audio recording uses it: from an engine sound.
TEST_F(CoreTest, WavHeaderOfARecordSoundReadsInPython) {
    startEngine();
    rb::CreateSoundExInfo info{};
    info.cbsize = sizeof info;
    info.numchannels = 2;
    info.defaultfrequency = 22050;
    info.format = rb::SOUND_FORMAT_PCM16;
    info.length = 22050 * 4;
    rb::Sound sound{};
    ASSERT_EQ(rb::System_CreateSound(core->SoundSystem, nullptr, rb::MODE_OPENUSER | rb::MODE_2D, &info, &sound), rb::OK);
    QFile f(dir.filePath("rec.wav"));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(WriteWavHeader(f, sound, 0));
    f.write(QByteArray(4000, '\1'));
    // Completed at the end, as a stopped recording does.
    ASSERT_TRUE(WriteWavHeader(f, sound, 4000));
    EXPECT_EQ(f.pos(), 44);
    f.close();
    rb::Sound_Release(sound);
    EXPECT_EQ(pythonWave(f.fileName()), "2 2 22050 1000");
    EXPECT_EQ(WavHeader(1, 44100, 16, 10).mid(28, 4), QByteArray::fromHex("88580100")) << "bytes per second";

    // Louder than full scale clips; it never wraps round to the other sign.
    WavWriter loud(dir.filePath("loud.wav"), 48000);
    const float over[] = {2.0f, -2.0f, 1.5f, -1.0f};
    ASSERT_TRUE(loud.open() && loud.writeFloat(over, 2) && loud.commit());
    const QByteArray pcm = readAll(dir.filePath("loud.wav")).mid(44);
    ASSERT_EQ(pcm.size(), 8);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(qFromLittleEndian<std::int16_t>(pcm.constData() + 2 * i), over[i] > 0 ? 32767 : -32767) << i;
}

}  // namespace
