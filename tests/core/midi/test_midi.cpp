// MIDI notes play the key table: the note map, the velocity rule, note-offs
// of looping keys, and the real path through a JACK server.
#include "corefixture.h"
#include "jackserver.h"

#include "midi/midiinput.h"
#include "kit/midimap.h"
#include "base/textfiles.h"

#include <RtMidi.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

#include <cmath>
#include <initializer_list>
#include <thread>
#include <vector>

using namespace rimbal;

namespace {

constexpr float kLevel = 0.5f;  // every test sample is a constant level

class Midi : public CoreTest {
protected:
    // A package "Kit" with kick (space, volume 0.80), snare (F, 1.00) and a
    // looping open hat (Q); each sample a constant level, 100 ms long.
    void makeKit(const QStringList& midiLines = {}) {
        packageFile("kick.wav", std::vector<float>(4800, kLevel));
        packageFile("snare.wav", std::vector<float>(4800, kLevel));
        packageFile("hat.wav", std::vector<float>(4800, kLevel));
        const QString effects = QStringLiteral("0*").repeated(16);
        core->KeyLines = {QStringLiteral("32*0*0*0*0*0,80*") + effects + "kick.wav",
                          QStringLiteral("70*0*0*0*0*1,00*") + effects + "snare.wav",
                          QStringLiteral("81*65*0*0*1*1,00*") + effects + "hat.wav"};
        if (!midiLines.isEmpty()) {
            ASSERT_TRUE(WriteTextLines(core->PackageFolder() + "Midi.txt", midiLines));
        }
        startEngine();
        ASSERT_EQ(core->KeyCount, 3);
    }
    void send(std::initializer_list<unsigned char> bytes) {
        const std::vector<unsigned char> m(bytes);
        midi->Receive(m.data(), m.size());
        QCoreApplication::processEvents();  // the queued drain, as in the program
    }
    // The level of the first frame rendered now, then the rest played out.
    float levelNow() {
        const float level = render(16)[0];
        render(9600);
        return level;
    }
    int playing(int record) {
        int n = 0;
        for (rb::Channel c : core->KeySounds[static_cast<std::size_t>(record)].channels) n += core->IsChannelPlaying(c);
        return n;
    }

    void SetUp() override {
        CoreTest::SetUp();
        midi = std::make_unique<MidiInput>(*core);
    }
    void TearDown() override {
        midi.reset();
        CoreTest::TearDown();
    }

    std::unique_ptr<MidiInput> midi;
};

TEST_F(Midi, NotesPlayTheirKeysWithVelocity) {
    makeKit();
    struct Case { std::vector<unsigned char> message; float level; const char* what; };
    const Case cases[] = {
        {{0x99, 36, 127}, kLevel * 0.80f, "kick at its own volume"},
        {{0x99, 35, 64}, kLevel * 0.80f * VelocityFactor(64), "kick at the curve's value"},
        {{0x90, 38, 100}, kLevel * VelocityFactor(100), "any channel plays"},
        {{0x99, 60, 127}, 0.0f, "an unmapped note does nothing"},
        {{0x99, 36, 0}, 0.0f, "velocity 0 is a note-off"},
        {{0x89, 36, 127}, 0.0f, "a note-off does not play"},
        {{0xB9, 36, 127}, 0.0f, "a controller does not play"},
        {{0x99, 36}, 0.0f, "a short message is ignored"},
    };
    std::uint32_t plays = 0;
    for (const Case& c : cases) {
        midi->Receive(c.message.data(), c.message.size());
        QCoreApplication::processEvents();
        plays += c.level > 0;
        EXPECT_NEAR(levelNow(), c.level, 1e-4) << c.what;
        EXPECT_EQ(core->PlayCount, plays) << c.what;
    }
    EXPECT_TRUE(prompt.asked.isEmpty());
    EXPECT_GT(midi->LastPlayDelay.count(), 0);
}

// RtMidi stamps each message with the time since the previous one: the notes
// keep those times in the output, however late the GUI thread takes them,
// each the engine's play delay after its moment.
TEST_F(Midi, NotesKeepTheirSpacingFromTheirStamps) {
    makeKit();
    unsigned delay = 0;
    ASSERT_EQ(rb::System_GetPlayDelay(core->SoundSystem, &delay), rb::OK);
    const std::int64_t t0 = SteadyNowNs();
    constexpr unsigned kFrames = 256 * 40;
    std::vector<float> out(2 * kFrames);
    const auto renderFrom = [&](unsigned from, unsigned to) {
        for (unsigned f = from; f < to; f += 256) {
            ASSERT_EQ(rb::System_RenderNullAt(core->SoundSystem, out.data() + 2 * f, 256, t0 + f * 1'000'000'000LL / 48000, true), rb::OK);
        }
    };
    renderFrom(0, 256);
    const std::int64_t sent = SteadyNowNs();
    const unsigned char kick[] = {0x99, 36, 127}, snare[] = {0x99, 38, 127};
    midi->ReceiveDelta(0.0, kick, 3);
    const std::int64_t received = SteadyNowNs();
    // Stamped 1 ms (48 frames) after the kick, taken 2 ms after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    midi->ReceiveDelta(0.001, snare, 3);
    QCoreApplication::processEvents();
    renderFrom(256, kFrames);
    unsigned kickAt = 0, snareAt = 0;
    for (unsigned f = 0; f < kFrames && !snareAt; ++f) {
        if (!kickAt && out[2 * f] > 0.2f) kickAt = f;
        if (out[2 * f] > 0.6f) snareAt = f;
    }
    EXPECT_EQ(snareAt - kickAt, 48u);
    // The first message's moment is its arrival.
    const auto frameOf = [&](std::int64_t ns) { return static_cast<double>(ns - t0) * 48000 / 1e9 + delay; };
    EXPECT_GE(kickAt, frameOf(sent) - 1);
    EXPECT_LE(kickAt, frameOf(received) + 1);
}

TEST_F(Midi, NoteOffStopsOnlyLoopingKeys) {
    makeKit();
    send({0x99, 46, 127});
    send({0x99, 36, 127});
    EXPECT_EQ(playing(2), 1);
    send({0x89, 36, 0});
    EXPECT_EQ(playing(0), 1) << "a drum plays out after its note-off";
    render(100);
    EXPECT_EQ(playing(2), 1) << "the loop goes on past its sample";
    send({0x99, 46, 0});
    EXPECT_EQ(playing(2), 0) << "the loop stops on its note-off";
}

TEST_F(Midi, PackageMapOverridesTheDefaultAndReportsBrokenLines) {
    makeKit({"36*70", "38*0", "abc", "200*65", "40*70000", "41*", "", " 42*32 ", "43*65*1", "128*66"});
    EXPECT_EQ(core->NoteMap.KeyFor(36), 70);
    EXPECT_EQ(core->NoteMap.KeyFor(38), 0) << "key 0 silences a note";
    EXPECT_EQ(core->NoteMap.KeyFor(42), 32);
    EXPECT_EQ(core->NoteMap.KeyFor(46), 'Q') << "notes the file leaves out keep the default";
    EXPECT_EQ(core->NoteMap.KeyFor(40), 'F') << "a broken line changes nothing";
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].caption, "Erros ao criar sons");
    EXPECT_EQ(log.shown[0].lines,
              (QStringList{"Midi.txt, linha 3 ignorada: \"abc\" não é nota*tecla.",
                           "Midi.txt, linha 4 ignorada: \"200*65\" não é nota*tecla.",
                           "Midi.txt, linha 5 ignorada: \"40*70000\" não é nota*tecla.",
                           "Midi.txt, linha 6 ignorada: \"41*\" não é nota*tecla.",
                           "Midi.txt, linha 9 ignorada: \"43*65*1\" não é nota*tecla.",
                           "Midi.txt, linha 10 ignorada: \"128*66\" não é nota*tecla."}));
    send({0x99, 36, 127});
    EXPECT_NEAR(levelNow(), kLevel, 1e-4) << "note 36 plays the snare now";

    // Another package without a map is back on the default.
    settings->PackName = "Outro";
    core->ReleaseSounds(false);
    core->CreateSounds(false);
    EXPECT_EQ(core->NoteMap.KeyFor(36), ' ');
}

TEST_F(Midi, WrittenMapReadsBackAsWritten) {
    const QString folder = appDir + "Kit/";
    QDir().mkpath(folder);
    ASSERT_TRUE(WriteMidiMap(folder + "Midi.txt", {{36, 66}, {38, 70}, {300, 1}}));
    QFile f(folder + "Midi.txt");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("36*66\r\n38*70\r\n"));
    MidiMap map;
    QStringList errors;
    map.LoadForPackage(folder, errors);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(map.KeyFor(36), 66);
    EXPECT_EQ(map.KeyFor(38), 70);
}

TEST_F(Midi, AFullQueueDropsAndRecovers) {
    makeKit();
    const unsigned char note[] = {0x99, 60, 100};  // unmapped: only the queue is under test
    for (int i = 0; i < 600; ++i) midi->Receive(note, 3);
    EXPECT_EQ(midi->Dropped(), 600u - 512u);
    QCoreApplication::processEvents();
    send({0x99, 36, 127});
    EXPECT_EQ(core->PlayCount, 1u) << "the queue takes notes again once drained";
}

TEST_F(Midi, MissingPortIsReportedAndMidiStaysOff) {
    settings->Midi_Input = "ALSA: Bateria:Pads 28:0";
    midi->OpenConfigured();
    EXPECT_EQ(core->ErrorLog,
              QStringList{"Entrada MIDI não encontrada: ALSA: Bateria:Pads 28:0. A entrada MIDI fica desligada."});
    EXPECT_TRUE(midi->PortName().isEmpty());
    QString error;
    EXPECT_FALSE(midi->Open("Porta sem sistema", &error));
    EXPECT_TRUE(midi->Open(QString(), &error)) << "none is always possible";
    // The choice is kept by name.
    settings->SaveConfiguration();
    Settings again(appDir);
    again.LoadConfiguration();
    EXPECT_EQ(again.Midi_Input, "ALSA: Bateria:Pads 28:0");
}

// The real path: a JACK server with its dummy backend, under a name of its
// own so it meets nothing else on the machine; a MIDI output of the test
// plays into the program's input.
class MidiJack : public Midi {
protected:
    void SetUp() override {
        Midi::SetUp();
        QString why;
        if (!jack.start(&why)) GTEST_SKIP() << why.toStdString();
    }
    void TearDown() override {
        midi->Close();
        Midi::TearDown();
    }
    // Waits until the count of plays reaches n.
    bool waitForPlays(std::uint32_t n, int ms = 20000) {
        QDeadlineTimer deadline(ms);
        while (core->PlayCount < n && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return core->PlayCount >= n;
    }

    JackServer jack;
};

TEST_F(MidiJack, PadsPlayThroughAJackServer) {
    makeKit();
    RtMidiOut out(RtMidi::UNIX_JACK, "rbtest-pads");
    out.openVirtualPort("pads");
    const QString port = "JACK: rbtest-pads:pads";
    ASSERT_TRUE(MidiInput::Ports().contains(port)) << MidiInput::Ports().join(", ").toStdString();
    QString error;
    ASSERT_TRUE(midi->Open(port, &error)) << error.toStdString();
    EXPECT_EQ(midi->PortName(), port);
    ASSERT_TRUE(JackServer::waitForConnection("rbtest-pads:pads")) << "a note sent before would be lost";

    const auto play = [&](std::vector<unsigned char> m, std::uint32_t plays) {
        out.sendMessage(&m);
        EXPECT_TRUE(waitForPlays(plays)) << "note " << int(m[1]);
        return levelNow();
    };
    EXPECT_NEAR(play({0x99, 36, 127}, 1), kLevel * 0.80f, 1e-4);
    EXPECT_NEAR(play({0x99, 38, 64}, 2), kLevel * VelocityFactor(64), 1e-4);
    play({0x99, 46, 127}, 3);
    EXPECT_EQ(playing(2), 1);
    std::vector<unsigned char> off{0x89, 46, 0};
    out.sendMessage(&off);
    QDeadlineTimer deadline(20000);
    while (playing(2) != 0 && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(playing(2), 0) << "the looping hat stops on its note-off";

    // Closed, the port plays nothing more; reopened, it plays again.
    midi->Close();
    ASSERT_TRUE(JackServer::waitForConnection("rbtest-pads:pads", false));
    std::vector<unsigned char> kick{0x99, 36, 127};
    out.sendMessage(&kick);
    EXPECT_FALSE(waitForPlays(4, 300));
    ASSERT_TRUE(midi->Open(port, &error)) << error.toStdString();
    ASSERT_TRUE(JackServer::waitForConnection("rbtest-pads:pads"));
    out.sendMessage(&kick);
    EXPECT_TRUE(waitForPlays(4));
    EXPECT_TRUE(prompt.asked.isEmpty());
}

}  // namespace
