// MIDI in the program: notes take the key-down road of the main window, the
// driver page chooses the port by name, and a new choice opens at once.
#include "uifixture.h"

#include "frmcenter.h"
#include "frmpreferencias.h"
#include "frmsettecla.h"
#include "jackserver.h"
#include "base/textfiles.h"

#include <RtMidi.h>

#include <QComboBox>
#include <QLabel>
#include <QTabWidget>
#include <QTest>

#include <vector>

using namespace rimbal;

namespace {

class MidiProgram : public ProgramTest {
protected:
    void note(unsigned char n, unsigned char velocity) {
        const unsigned char m[] = {0x99, n, velocity};
        ctx->midi.Receive(m, 3);
        QTest::qWait(5);
    }
    float volumeOf(int record, int slot) {
        float v = -1;
        rb::Channel_GetVolume(ctx->core.KeySounds[static_cast<std::size_t>(record)].channels[static_cast<std::size_t>(slot)], &v);
        return v;
    }
};

TEST_F(MidiProgram, NotesLightCountAndPlayLikeKeysAlsoUnderTheKeyDialog) {
    preparePackage(3);
    ASSERT_TRUE(WriteTextLines(appDir + "Pacotes/Kit/Midi.txt", {"36*65", "38*83"}));
    QStringList ini;
    ReadTextLines(appDir + "rimbal2.ini", ini);
    ASSERT_TRUE(WriteTextLines(appDir + "rimbal2.ini", ini << "Midi_Input=JACK: Bateria:pads"));
    ASSERT_TRUE(runStartup());
    TFrmCenter w(*ctx);
    w.show();
    QTest::qWait(50);
    // The missing port: one line at start, and MIDI stays off.
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].caption, "Erros na inicialização");
    EXPECT_EQ(log.shown[0].lines, QStringList{"Entrada MIDI não encontrada: JACK: Bateria:pads. A entrada MIDI fica desligada."});
    EXPECT_TRUE(ctx->midi.PortName().isEmpty());

    note(36, 127);
    note(38, 64);
    EXPECT_EQ(ctx->core.PlayCount, 2u);
    EXPECT_FLOAT_EQ(volumeOf(0, 0), 1.0f);
    EXPECT_FLOAT_EQ(volumeOf(1, 0), VelocityFactor(64));
    QTest::qWait(250);
    EXPECT_EQ(ctx->core.KeySounds[0].ledStates[0], 1);
    EXPECT_EQ(ctx->core.KeySounds[1].ledStates[0], 1);
    EXPECT_TRUE(child<QLabel>(&w, "PanelStatus1")->text().endsWith("Teclas por segundo: 02"));

    // The modal key definition dialog does not hold notes back.
    std::uint32_t during = 0;
    QTimer::singleShot(20, [&] {
        note(36, 100);
        during = ctx->core.PlayCount;
        w.SetTecla()->close();
    });
    w.SetTecla()->exec();
    EXPECT_EQ(during, 3u);
    w.close();
}

TEST_F(MidiProgram, DriverPageChoosesThePortByNameAndOpensItAtOnce) {
    JackServer jack;
    QString why;
    if (!jack.start(&why)) GTEST_SKIP() << why.toStdString();
    RtMidiOut out(RtMidi::UNIX_JACK, "rbtest-pads");
    out.openVirtualPort("pads");
    const QString port = "JACK: rbtest-pads:pads";

    preparePackage(2);
    ASSERT_TRUE(runStartup());
    TFrmCenter w(*ctx);
    w.show();
    QTest::qWait(20);
    const rb::Sound sound = ctx->core.KeySounds[0].sound;

    const auto choose = [&](const QString& item, QStringList* items = nullptr) {
        prompt.buttonAnswers = {Prompt::Yes};
        TFrmPreferencias prefs(*ctx, &w, &w);
        prefs.setStartPage(1);
        prefs.show();
        QTest::qWait(10);
        auto* page = child<QTabWidget>(&prefs, "PageControl1");
        EXPECT_EQ(page->currentWidget()->objectName(), "TabSheet3");
        EXPECT_EQ(child<QLabel>(&prefs, "Label_EntradaMidi")->text(), "Entrada MIDI:");
        auto* combo = child<QComboBox>(&prefs, "cb_entradamidi");
        if (items)
            for (int i = 0; i < combo->count(); ++i) *items << combo->itemText(i);
        const int at = combo->findText(item);
        EXPECT_GE(at, 0) << item.toStdString();
        combo->setCurrentIndex(at);
        emit combo->activated(at);
        prefs.close();
    };
    QStringList items;
    choose(port, &items);
    EXPECT_EQ(items.value(0), "(nenhuma)");
    EXPECT_EQ(ctx->midi.PortName(), port);
    EXPECT_TRUE(iniText().contains("Midi_Input=" + port));
    EXPECT_EQ(ctx->core.KeySounds[0].sound, sound) << "the engine went on";
    EXPECT_TRUE(prompt.asked.last().text == "Salvar nova configuração?");

    std::vector<unsigned char> m{0x99, 36, 127};
    ctx->core.NoteMap.Set(36, 'A');
    // Sent once the server runs the connection; seen by its delay, as the window's
    // timer zeroes PlayCount every second.
    const auto padPlays = [&] {
        ctx->midi.LastPlayDelay = {};
        EXPECT_TRUE(JackServer::waitForConnection("rbtest-pads:pads"));
        out.sendMessage(&m);
        return QTest::qWaitFor([&] { return ctx->midi.LastPlayDelay.count() > 0; }, 20000);
    };
    EXPECT_TRUE(padPlays()) << "a pad plays through the port chosen";

    // Unplugged and plugged in again: picking the port again opens it anew.
    out.closePort();
    out.openVirtualPort("pads");
    choose(port);
    EXPECT_TRUE(padPlays()) << "the pad plays again";

    // Unplugged, the choice stays listed and chosen; "(nenhuma)" turns MIDI off.
    out.closePort();
    items.clear();
    choose("(nenhuma)", &items);
    EXPECT_TRUE(items.contains(port + " (desconectada)"));
    EXPECT_TRUE(ctx->midi.PortName().isEmpty());
    EXPECT_TRUE(iniText().contains("Midi_Input=\n") || iniText().endsWith("Midi_Input="));
    w.close();
}

}  // namespace
