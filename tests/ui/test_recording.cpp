// Audio recording in the main window: the menu rows of the "Som" submenu and
// the first row of buttons, the status panel, playing, saving and clearing
// through the dialogs, closing during a take, "Gravar o Que Eu Toco" sample
// for sample, and a real recording from the PulseAudio null sink's monitor.
#include "uifixture.h"

#include "frmcenter.h"
#include "privatepulse.h"
#include "recording/recorder.h"
#include "rimbalbtn.h"

#include <sndfile.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <unistd.h>

using namespace rimbal;

namespace {

std::vector<std::int16_t> readPcm(const QString& path, int* rate = nullptr) {
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << path.toStdString();
    if (!f) return {};
    EXPECT_EQ(info.channels, 2);
    if (rate) *rate = info.samplerate;
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_short(f, pcm.data(), info.frames);
    sf_close(f);
    return pcm;
}

// The amplitude of hz in the left channel, in n frames from the first.
double toneLevel(const std::vector<std::int16_t>& pcm, double hz, int rate, std::size_t first, std::size_t n) {
    double re = 0, im = 0;
    for (std::size_t i = first; i < first + n && i < pcm.size() / 2; ++i) {
        const double w = 2 * std::numbers::pi * hz * static_cast<double>(i) / rate;
        re += pcm[2 * i] / 32768.0 * std::cos(w);
        im -= pcm[2 * i] / 32768.0 * std::sin(w);
    }
    return n ? 2 * std::hypot(re, im) / static_cast<double>(n) : 0.0;
}

class RecordingWindow : public ProgramTest {
protected:
    // On, off in the order of the submenu.
    QString rowOf(TFrmCenter& w) {
        QString s;
        for (const char* name : {"GravarSom1", "PararSom1", "LimparGravarSom1", "TocarSom1", "PararTocarSom1",
                                 "RepetindoTocarSom1", "SalvarSom1"})
            s += child<QAction>(&w, name)->isEnabled() ? '1' : '0';
        return s;
    }
    // The first row of buttons, rec play stop save new.
    QString buttonsOf(TFrmCenter& w) {
        QString s;
        for (const char* name : {"BtnRec1", "BtnPlay1", "BtnStop1", "BtnSave1", "BtnNew1"})
            s += child<TRimbalBtn>(&w, name)->isEnabled() ? '1' : '0';
        return s;
    }
    QString status(TFrmCenter& w) { return child<QLabel>(&w, "PanelStatus2")->text(); }
    void trigger(TFrmCenter& w, const char* item) { child<QAction>(&w, item)->trigger(); }
    void click(TFrmCenter& w, const char* button) { QTest::mouseClick(child<TRimbalBtn>(&w, button), Qt::LeftButton); }
    void pressA(TFrmCenter& w) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &w, Qt::Key_A);
    }
    std::unique_ptr<TFrmCenter> open() {
        preparePackage(3);
        if (!runStartup()) return nullptr;
        auto w = std::make_unique<TFrmCenter>(*ctx);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        QTest::qWait(20);
        return w;
    }
    // A ramp fed as the recording device would; frame f holds f on both sides.
    void feed(std::uint32_t frames) {
        std::vector<std::int16_t> v(2 * static_cast<std::size_t>(frames));
        for (std::uint32_t i = 0; i < frames; ++i) v[2 * i] = v[2 * i + 1] = static_cast<std::int16_t>(1 + (fed + i) % 30000);
        ASSERT_EQ(rb::System_FeedNullRecord(ctx->core.SoundSystem, v.data(), frames), rb::OK);
        fed += frames;
    }
    std::vector<float> render(unsigned frames) {
        std::vector<float> out(2 * static_cast<std::size_t>(frames));
        EXPECT_EQ(rb::System_RenderNull(ctx->core.SoundSystem, out.data(), frames), rb::OK);
        return out;
    }
    QString temp() const { return appDir + "Temp.$$$"; }

    std::uint32_t fed = 0;
};

TEST_F(RecordingWindow, MenuRowsButtonsAndStatusThroughATake) {
    const auto window = open();
    ASSERT_TRUE(window);
    TFrmCenter& w = *window;
    EXPECT_EQ(rowOf(w), "1000000");
    EXPECT_EQ(buttonsOf(w), "10000");
    auto* mix = child<QAction>(&w, "GravarOQueEuToco1");
    EXPECT_TRUE(mix->isCheckable());
    EXPECT_FALSE(mix->isChecked()) << "off by default";

    click(w, "BtnRec1");
    EXPECT_TRUE(ctx->recorder.SoundRecording);
    EXPECT_EQ(rowOf(w), "0100000");
    EXPECT_EQ(buttonsOf(w), "00100");
    EXPECT_FALSE(mix->isEnabled()) << "the source is chosen at the start";
    EXPECT_TRUE(w.TimerRecord.isActive());
    feed(48000);
    w.TimerRecordTimer();
    EXPECT_EQ(status(w), "State: Recording Record pos = 48000 Play pos = 0 Loop Off");
    feed(4000);
    click(w, "BtnStop1");
    EXPECT_EQ(rowOf(w), "1011011");
    EXPECT_EQ(buttonsOf(w), "11011");
    EXPECT_TRUE(mix->isEnabled());
    EXPECT_EQ(status(w), "State: Idle Record pos = 52000 Play pos = 0 Loop Off");

    // Played once: the end is seen by the next tick.
    click(w, "BtnPlay1");
    EXPECT_EQ(rowOf(w), "1010111");
    EXPECT_EQ(buttonsOf(w), "10111");
    render(30000);
    w.TimerRecordTimer();
    EXPECT_EQ(rowOf(w), "1010111");
    EXPECT_EQ(status(w), "State: Idle Record pos = 52000 Play pos = 30000 Loop Off");
    render(30000);
    w.TimerRecordTimer();
    EXPECT_EQ(rowOf(w), "1011011");

    // In a loop until stopped, through "Parar Som".
    trigger(w, "RepetindoTocarSom1");
    click(w, "BtnPlay1");
    render(150000);
    w.TimerRecordTimer();
    EXPECT_EQ(rowOf(w), "1010111");
    EXPECT_EQ(status(w), "State: Idle Record pos = 52000 Play pos = 46000 Loop On");
    trigger(w, "PararTocarSom1");
    EXPECT_FALSE(ctx->core.IsChannelPlaying(ctx->recorder.PlaybackChannel));
    EXPECT_EQ(rowOf(w), "1011011");

    // Saved with the default extension while the loop plays on: "Gravar Som"
    // waits for a clear, which asks nothing; the loop can still be stopped.
    click(w, "BtnPlay1");
    prompt.textAnswers = {appDir + "take"};
    click(w, "BtnSave1");
    EXPECT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(rowOf(w), "0010100");
    EXPECT_EQ(buttonsOf(w), "00101");
    click(w, "BtnStop1");
    EXPECT_FALSE(ctx->core.IsChannelPlaying(ctx->recorder.PlaybackChannel));
    EXPECT_EQ(rowOf(w), "0010000");
    EXPECT_EQ(buttonsOf(w), "00001");
    EXPECT_FALSE(QFile::exists(temp()));
    const auto pcm = readPcm(appDir + "take.wav");
    ASSERT_EQ(pcm.size(), 2u * 52000);
    for (std::size_t i = 0; i < 52000; ++i) ASSERT_EQ(pcm[2 * i], static_cast<std::int16_t>(1 + i % 30000)) << i;
    click(w, "BtnNew1");
    EXPECT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(rowOf(w), "1000000");
    w.close();
}

TEST_F(RecordingWindow, ClearingAsksAFailedSaveKeepsTheTakeAndAnUnplayableTakeKeepsTocar) {
    const auto window = open();
    ASSERT_TRUE(window);
    TFrmCenter& w = *window;
    click(w, "BtnRec1");
    click(w, "BtnStop1");
    // An empty take is no sound for the engine: its message, "Tocar Som" stays.
    click(w, "BtnPlay1");
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_TRUE(prompt.asked[0].text.startsWith("Erro da engine:"));
    EXPECT_EQ(rowOf(w), "1011011");

    prompt.asked.clear();
    prompt.buttonAnswers = {Prompt::No};
    click(w, "BtnNew1");
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(prompt.asked[0].caption, "Confirmação");
    EXPECT_EQ(prompt.asked[0].text, "Deseja salvar em arquivo a gravação?");
    EXPECT_EQ(prompt.asked[0].icon, Prompt::Icon::Question);
    EXPECT_EQ(prompt.asked[0].buttons, Prompt::Yes | Prompt::No);
    EXPECT_EQ(rowOf(w), "1000000");

    // Yes, and a place that cannot take the file: told, and still held.
    click(w, "BtnRec1");
    feed(1000);
    click(w, "BtnStop1");
    prompt.asked.clear();
    prompt.buttonAnswers = {Prompt::Yes};
    prompt.textAnswers = {appDir + "nao/existe/take.wav"};
    click(w, "BtnNew1");
    ASSERT_EQ(prompt.asked.size(), 3);
    EXPECT_EQ(prompt.asked[2].caption, "Erro");
    EXPECT_TRUE(prompt.asked[2].text.contains(appDir + "nao/existe/take.wav"));
    EXPECT_EQ(rowOf(w), "1011011");
    EXPECT_EQ(QFile(temp()).size(), 44 + 4000);
    // Yes, and the dialog cancelled: cleared.
    prompt.buttonAnswers = {Prompt::Yes};
    click(w, "BtnNew1");
    EXPECT_EQ(rowOf(w), "1000000");
    EXPECT_TRUE(ctx->recorder.RecordingCleared);
    w.close();
}

// The window closes during a take: the header is complete before the
// engine goes and the temporary file is deleted (a second link keeps it here).
TEST_F(RecordingWindow, ClosingDuringATakeCompletesItsHeaderFirst) {
    const auto window = open();
    ASSERT_TRUE(window);
    TFrmCenter& w = *window;
    click(w, "BtnRec1");
    feed(10000);
    w.TimerRecordTimer();
    feed(5000);
    const QString kept = appDir + "kept.wav";
    ASSERT_EQ(::link(QFile::encodeName(temp()).constData(), QFile::encodeName(kept).constData()), 0);
    w.close();
    EXPECT_EQ(ctx->core.SoundSystem, rb::System{});
    EXPECT_FALSE(QFile::exists(temp()));
    const auto pcm = readPcm(kept);
    ASSERT_EQ(pcm.size(), 2u * 15000);
    EXPECT_EQ(pcm[2 * 14999], static_cast<std::int16_t>(15000));
}

// "Gravar o Que Eu Toco": the output mix goes into the take, a key played
// during it sample for sample; the choice is kept in the configuration.
TEST_F(RecordingWindow, GravarOQueEuTocoPutsTheKeysPlayedIntoTheTakeSampleExact) {
    const auto window = open();
    ASSERT_TRUE(window);
    TFrmCenter& w = *window;
    trigger(w, "GravarOQueEuToco1");
    EXPECT_TRUE(ctx->settings.Record_Mix);
    click(w, "BtnRec1");
    ASSERT_TRUE(ctx->recorder.SoundRecording);
    std::vector<float> heard = render(1000);
    pressA(w);
    for (unsigned n : {30000u, 777u}) {
        const auto more = render(n);
        heard.insert(heard.end(), more.begin(), more.end());
        w.TimerRecordTimer();
    }
    click(w, "BtnStop1");
    prompt.textAnswers = {appDir + "played.wav"};
    click(w, "BtnSave1");
    int rate = 0;
    const auto pcm = readPcm(appDir + "played.wav", &rate);
    EXPECT_EQ(rate, 48000);
    ASSERT_EQ(pcm.size(), heard.size());
    for (std::size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(pcm[i], std::lrint(std::clamp(heard[i], -1.0f, 1.0f) * 32767.0f)) << i;
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + 2000, [](std::int16_t s) { return s == 0; }));
    EXPECT_GT(*std::max_element(pcm.begin() + 2000, pcm.end()), 3000) << "the key sounds in the take";
    w.close();
    EXPECT_TRUE(iniText().contains("Record_Mix=1"));
}

// The real path: the program plays through PulseAudio into a null sink and
// records the sink's monitor; the key's tone is in the saved file.
TEST_F(RecordingWindow, ARecordingFromTheNullSinksMonitorHoldsTheKeysTone) {
    if (!PrivatePulse::installed()) GTEST_SKIP() << "pulseaudio is not installed";
    PrivatePulse pulse;
    ASSERT_TRUE(pulse.start());
    ctx->forcedOutputType = rb::OUTPUTTYPE_PULSEAUDIO;
    preparePackage(1);
    ASSERT_TRUE(runStartup());
    const rb::System sys = ctx->core.SoundSystem;
    int count = 0, monitor = -1;
    rb::System_GetRecordNumDrivers(sys, &count);
    for (int i = 0; i < count; ++i) {
        char name[256] = {};
        rb::System_GetRecordDriverName(sys, i, name, sizeof name);
        if (QString::fromUtf8(name) == "Monitor of Rimbal Teste") monitor = i;
    }
    ASSERT_GE(monitor, 0);
    ASSERT_EQ(rb::System_SetRecordDriver(sys, monitor), rb::OK);
    TFrmCenter w(*ctx);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const auto callbacks = [&] {
        rb::OutputStats st{};
        rb::System_GetOutputStats(sys, &st, false);
        return st.callbacks;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return callbacks() >= 50; }, 30000)) << "the stream did not start";
    const auto recorded = [&] {
        std::uint64_t frames = 0;
        rb::System_GetRecordFrames(sys, &frames);
        return frames;
    };

    click(w, "BtnRec1");
    ASSERT_TRUE(ctx->recorder.SoundRecording);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded() > 4800; }, 30000)) << "the monitor delivers";
    pressA(w);
    // Two seconds of the monitor after the key hold its half-second tone; the copy timer has run.
    const std::uint64_t atKey = recorded();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded() > atKey + 2 * 48000 && ctx->recorder.DataBytes() > 0; }, 30000));
    click(w, "BtnStop1");
    EXPECT_TRUE(prompt.asked.isEmpty()) << prompt.texts().join(" | ").toStdString();
    prompt.textAnswers = {appDir + "heard.wav"};
    click(w, "BtnSave1");
    int rate = 0;
    const auto pcm = readPcm(appDir + "heard.wav", &rate);
    ASSERT_EQ(rate, 48000);
    EXPECT_GT(pcm.size() / 2, 48000u) << "about two seconds";
    // The key's sound, 0.2 * sin(0.05 k) for 0.5 s, whole in some tenth of a second: a busy
    // machine's underruns cut it into pieces whose phases no longer add up over the file.
    const double hz = 0.05 * 48000 / (2 * std::numbers::pi);
    double tone = 0, other = 1;
    for (std::size_t f = 0; f + 4800 <= pcm.size() / 2; f += 2400)
        if (const double level = toneLevel(pcm, hz, rate, f, 4800); level > tone) {
            tone = level;
            other = toneLevel(pcm, 1000, rate, f, 4800);
        }
    EXPECT_GT(tone, 0.1);
    EXPECT_GT(tone, 20 * other);
    w.close();
}

}  // namespace
