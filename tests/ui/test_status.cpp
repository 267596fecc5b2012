// The status timer and the channel display: engine failures, the displays
// switched off, and LEDs that follow the sounds.
#include "uifixture.h"

#include "frmcenter.h"
#include "paintcanais.h"

#include <QLabel>
#include <QTest>

#include <dlfcn.h>

#include <atomic>
#include <vector>

namespace {
std::atomic<bool> failChannelsPlaying{false};
std::atomic<bool> grewBuffer{false};
}  // namespace

// The engine reports a grown buffer once, as after underruns on a device.
rb::Result rb::System_Update(rb::System system) {
    using Fn = rb::Result (*)(rb::System);
    static const auto real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "_ZN2rb13System_UpdateENS_6SystemE"));
    const rb::Result r = real(system);
    return r == rb::OK && grewBuffer.exchange(false) ? rb::ERR_OUTPUT_UNDERRUN : r;
}

// The engine's own call, except when a test makes it fail: with a working
// engine nothing else reaches the timer's second error path.
rb::Result rb::System_GetChannelsPlaying(rb::System system, int* channels) {
    using Fn = rb::Result (*)(rb::System, int*);
    static const auto real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "_ZN2rb25System_GetChannelsPlayingENS_6SystemEPi"));
    if (failChannelsPlaying) return rb::ERR_OUTPUT_DRIVERCALL;
    return real(system, channels);
}

using namespace rimbal;

namespace {

class Status : public ProgramTest {
protected:
    void start() {
        preparePackage(2);
        ASSERT_TRUE(runStartup());
        main = std::make_unique<TFrmCenter>(*ctx);
        main->show();
        QTest::qWait(30);
        panel = child<QLabel>(main.get(), "PanelStatus1");
        paint = child<TPaintCanais>(main.get(), "PaintCanais");
    }
    void TearDown() override {
        failChannelsPlaying = false;
        if (main) main->close();
        ProgramTest::TearDown();
    }
    // The colour at the middle of LED i of row 0, as the display paints it.
    QColor ledColour(int i) {
        const int x0 = paint->fontMetrics().horizontalAdvance("ABC") + 4;
        return paint->grab().toImage().pixelColor(x0 + i * 16 + 7, 7);
    }
    static QColor picture(const char* name) {
        return QImage(QStringLiteral(":/pictures/%1.png").arg(QLatin1String(name))).pixelColor(7, 7);
    }
    // Renders the null output until the half-second sounds are over.
    void renderPastTheSounds() {
        std::vector<float> buf(2 * 4800);
        for (int i = 0; i < 12; ++i) rb::System_RenderNull(ctx->core.SoundSystem, buf.data(), 4800);
    }
    std::unique_ptr<TFrmCenter> main;
    QLabel* panel = nullptr;
    TPaintCanais* paint = nullptr;
};

TEST_F(Status, EngineFailuresStopTheTimerWithTheirOwnMessages) {
    start();
    // The periodic update fails: message, timer off, the tick ends at once.
    const rb::System engine = ctx->core.SoundSystem;
    ctx->core.SoundSystem = static_cast<rb::System>(0x7FFFFF01);
    panel->clear();
    QTest::qWait(250);
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(prompt.asked[0].text, "Ocorreu um erro crítico, a visualização do status foi desabilitada");
    EXPECT_EQ(prompt.asked[0].caption, "Erro");
    EXPECT_EQ(prompt.asked[0].icon, Prompt::Icon::Error);
    EXPECT_FALSE(main->TimerStatus.isActive());
    EXPECT_TRUE(panel->text().isEmpty()) << "nothing more in that tick";
    ctx->core.SoundSystem = engine;

    // The channel count fails: message, timer off, but the tick still draws
    // the LEDs and fills the panel.
    prompt.asked.clear();
    ctx->core.PlayKey('A');
    failChannelsPlaying = true;
    main->TimerStatus.start();
    QTest::qWait(250);
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(prompt.asked[0].text, "Ocorreu um erro crítico, a visualização de status foi desabilitada");
    EXPECT_FALSE(main->TimerStatus.isActive());
    EXPECT_EQ(ctx->core.KeySounds[0].ledStates[0], 1);
    EXPECT_TRUE(panel->text().startsWith("Canais tocando: 00 Teclas por segundo: ")) << panel->text().toStdString();
}

// A buffer the engine had to grow is told in the status panel for five
// seconds, once, with no box to answer; then the figures come back.
TEST_F(Status, AGrownBufferIsToldOnceInThePanel) {
    start();
    grewBuffer = true;
    QTRY_VERIFY_WITH_TIMEOUT(panel->text().startsWith("Som falhando: buffer agora de "), 3000);
    EXPECT_TRUE(prompt.asked.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(panel->text().startsWith("Canais tocando: "), 15000);
    EXPECT_TRUE(main->TimerStatus.isActive());
}

TEST_F(Status, LedsFollowTheSoundsAndSwitchedOffDisplaysStayDarkAndEmpty) {
    start();
    ctx->core.PlayKey('A');
    ctx->core.PlayKey('A');
    QTest::qWait(250);
    EXPECT_EQ(ledColour(0), picture("led_on"));
    EXPECT_EQ(ledColour(1), picture("led_on"));
    EXPECT_EQ(ledColour(2), picture("led_off"));
    EXPECT_FALSE(panel->text().isEmpty());
    renderPastTheSounds();
    QTest::qWait(250);
    EXPECT_EQ(ctx->core.KeySounds[0].ledStates[0], 0) << "dark once its sound ended";
    EXPECT_EQ(ledColour(0), picture("led_off"));

    ctx->settings.ShowChannels = false;
    ctx->settings.ShowStatus = false;
    ctx->core.PlayKey('S');
    QTest::qWait(250);
    EXPECT_TRUE(panel->text().isEmpty());
    EXPECT_EQ(ctx->core.KeySounds[1].ledStates[0], 0) << "not followed while switched off";
    EXPECT_EQ(ledColour(0), picture("led_null"));
    ctx->settings.ShowChannels = true;
    QTest::qWait(250);
    EXPECT_EQ(ctx->core.KeySounds[1].ledStates[0], 1) << "followed again when switched on";
    EXPECT_TRUE(prompt.asked.isEmpty());
}

}  // namespace
