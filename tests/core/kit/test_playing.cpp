// Playing and silencing keys on the null output.
#include "corefixture.h"

#include "base/textfiles.h"
#include "midi/midiinput.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

using namespace rimbal;

// Counts allocations while a test asks for it.
static std::atomic<bool> gCounting{false};
static std::atomic<long> gAllocations{0};

void* operator new(std::size_t n) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

class Playing : public CoreTest {
protected:
    int playingSlots(int record) {
        int n = 0;
        for (rb::Channel c : core->KeySounds[static_cast<std::size_t>(record)].channels) n += core->IsChannelPlaying(c);
        return n;
    }
    void addKey(TAG_SOUND_DATA d) { ASSERT_TRUE(core->AddKeySound(std::move(d), false, 0)); }
};

TEST_F(Playing, FifteenOverlappingPlaysAndTheSixteenthPress) {
    startEngine();
    addKey(definition(65, outsideFile("a.wav", std::vector<float>(48000, 0.01f))));
    for (int i = 0; i < 15; ++i) core->PlayKey(65);
    EXPECT_EQ(playingSlots(0), 15);
    EXPECT_EQ(core->PlayCount, 15u);
    core->PlayKey(65);
    EXPECT_EQ(core->PlayCount, 15u) << "the sixteenth press is ignored";
    int channels = 0;
    rb::System_GetChannelsPlaying(core->SoundSystem, &channels);
    EXPECT_EQ(channels, 15);
    const auto out = render(16);
    EXPECT_NEAR(out[0], 15 * 0.01f, 1e-5);
    // A later key with the same play key takes the sixteenth press.
    settings->PackName = "Kit";
    core->KeyLines.append(core->KeyLines[0]);
    core->ReleaseSounds(false);
    core->CreateSounds(false);
    for (int i = 0; i < 16; ++i) core->PlayKey(65);
    EXPECT_EQ(playingSlots(0), 15);
    EXPECT_EQ(playingSlots(1), 1);
    EXPECT_TRUE(prompt.asked.isEmpty());
}

TEST_F(Playing, NoInterruptIgnoresPressesUntilTheFirstPlayEnds) {
    startEngine();
    auto d = definition(65, outsideFile("a.wav", std::vector<float>(480, 0.1f)));
    d.noInterrupt = 1;
    addKey(d);
    core->PlayKey(65);
    core->PlayKey(65);
    EXPECT_EQ(core->PlayCount, 1u);
    EXPECT_EQ(playingSlots(0), 1);
    render(1000);
    core->PlayKey(65);
    EXPECT_EQ(core->PlayCount, 2u);
    EXPECT_TRUE(core->IsChannelPlaying(core->KeySounds[0].channels[0])) << "always slot 0";
}

TEST_F(Playing, StopKeySilencesTheNewestOrAll) {
    startEngine();
    const QString f = outsideFile("a.wav", std::vector<float>(48000, 0.1f));
    addKey(definition(65, f, 83));
    auto all = definition(66, f, 84);
    all.stopAll = 1;
    addKey(all);
    for (int i = 0; i < 3; ++i) { core->PlayKey(65); core->PlayKey(66); }
    core->PlayKey(83);
    EXPECT_EQ(playingSlots(0), 2);
    EXPECT_FALSE(core->IsChannelPlaying(core->KeySounds[0].channels[2])) << "the highest slot stops";
    core->PlayKey(83);
    core->PlayKey(83);
    EXPECT_EQ(playingSlots(0), 0);
    core->PlayKey(83);  // nothing plays: nothing happens
    EXPECT_EQ(playingSlots(1), 3);
    core->PlayKey(84);
    EXPECT_EQ(playingSlots(1), 0);
    EXPECT_EQ(core->PlayCount, 6u) << "stops are not counted";
    EXPECT_TRUE(prompt.asked.isEmpty());
}

TEST_F(Playing, AStopKeyOfOneKeyThatPlaysALaterOne) {
    startEngine();
    const QString f = outsideFile("a.wav", std::vector<float>(48000, 0.1f));
    addKey(definition(65, f, 70));
    // Only an edit may bind a play key that is another key's stop key.
    addKey(definition(71, f));
    auto edit = definition(70, f);
    ASSERT_TRUE(core->AddKeySound(edit, true, 1));
    core->PlayKey(70);
    EXPECT_EQ(playingSlots(1), 1) << "A silent: the press plays B";
    core->PlayKey(65);
    core->PlayKey(70);
    EXPECT_EQ(playingSlots(0), 0) << "A sounding: the press stops A and ends there";
    EXPECT_EQ(playingSlots(1), 1);
}

TEST_F(Playing, StopAndPlayKeyConflictsAreRefusedForNewKeys) {
    startEngine();
    const QString f = outsideFile("a.wav", std::vector<float>(480, 0.1f));
    addKey(definition(65, f, 83));
    EXPECT_FALSE(core->AddKeySound(definition(83, f), false, 0));
    EXPECT_EQ(prompt.asked.last().text, "A tecla para tocar não pode ser iguala uma tecla usada para parar.");
    EXPECT_EQ(prompt.asked.last().icon, Prompt::Icon::Error);
    EXPECT_FALSE(core->AddKeySound(definition(66, f, 65), false, 0));
    EXPECT_EQ(prompt.asked.last().text, "A tecla para silenciar não pode ser iguala uma tecla usada para tocar.");
    EXPECT_EQ(core->KeyLines.size(), 1);
    EXPECT_TRUE(core->IsKeyUsed(65, 1));
    EXPECT_FALSE(core->IsKeyUsed(65, 2));
    EXPECT_TRUE(core->IsKeyUsed(83, 3));
    EXPECT_FALSE(core->IsKeyUsed(90, 3));
}

TEST_F(Playing, EffectsAreHeardOnlyInSoftwareModeWithUseEffects) {
    const QString f = outsideFile("hi.wav", toneSamples(8000, 48000, 0.5f));
    const auto level = [&](unsigned frames) {
        const auto out = render(frames);
        double sum = 0;
        for (std::size_t i = 2 * 2400; i < out.size(); i += 2) sum += out[i] * out[i];
        return std::sqrt(sum / static_cast<double>(frames - 2400));
    };
    auto d = definition(65, f);
    d.effects[0] = 1;  // plug-in 1: low-pass
    struct Case { int mode; bool useEffects; bool filtered; };
    for (const Case c : {Case{0, true, true}, Case{0, false, false}, Case{1, true, false}}) {
        settings->ID_Output_Mode = c.mode;
        settings->UseEffects = c.useEffects;
        if (core->SoundSystem == rb::System{}) {
            startEngine();
            addKey(d);
        } else {
            core->ReleaseSounds(false);
            core->CreateSounds(false);
        }
        core->PlayKey(65);
        const double rms = level(9600);
        const double expected = c.filtered ? 0.0 : 0.5 / std::sqrt(2.0);
        EXPECT_NEAR(rms, expected, c.filtered ? 0.05 : 0.02) << c.mode << c.useEffects;
        core->PlayKey(65);
    }
}

TEST_F(Playing, PlayKeyAllocatesNothingOnAFullTable) {
    startEngine();
    const QString f = outsideFile("a.wav", std::vector<float>(4800, 0.001f));
    settings->PackName = "Kit";
    for (int i = 0; i < 64; ++i) core->KeyLines.append(QStringLiteral("%1*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*%2").arg(0x200 + i).arg(f));
    core->ReleaseSounds(false);
    core->CreateSounds(false);
    ASSERT_EQ(core->KeyCount, 64);
    core->PlayKey(0x200);
    gAllocations = 0;
    gCounting = true;
    for (int i = 0; i < 64; ++i) core->PlayKey(static_cast<std::uint16_t>(0x200 + i), i % 2 ? 0.5f : 1.0f);
    core->PlayKey(0x1FF);
    gCounting = false;
    EXPECT_EQ(gAllocations.load(), 0);
    EXPECT_EQ(core->PlayCount, 65u);
}

// The choice of a layer (velocity, round robin, place) allocates nothing either.
TEST_F(Playing, PlayKeyWithLayersAllocatesNothing) {
    settings->PackName = "Kit";
    QStringList layers;
    for (int j = 0; j < kMaxLayers; ++j) {
        packageFile(QStringLiteral("l%1.wav").arg(j), std::vector<float>(480, 0.001f));
        layers << QStringLiteral("65*%1*%2*1*-0.5*l%3.wav").arg(j < 16 ? "0" : "0.5", j < 16 ? "0.5" : "1").arg(j);
    }
    core->KeyLines = {QStringLiteral("65*0*0*0*0*1,00*") + QStringLiteral("0*").repeated(16) + "l0.wav"};
    ASSERT_TRUE(core->SaveKeyLines());
    ASSERT_TRUE(WriteTextLines(core->LayersFile(), layers));
    startEngine();
    ASSERT_EQ(core->KeySounds[0].layers.count, kMaxLayers);
    core->PlayKey(65);
    gAllocations = 0;
    gCounting = true;
    for (int i = 0; i < 14; ++i) core->PlayKey(65, 0.5f, static_cast<float>(i) / 13.0f);
    gCounting = false;
    EXPECT_EQ(gAllocations.load(), 0);
    EXPECT_EQ(core->PlayCount, 15u);
}

// A note queued by a MIDI port's thread (JACK's process thread among them)
// allocates nothing, and the GUI thread still plays it.
TEST_F(Playing, AMidiNoteQueuedAllocatesNothingAndIsPlayed) {
    startEngine();
    addKey(definition(65, outsideFile("a.wav", std::vector<float>(4800, 0.01f))));
    core->NoteMap.Set(36, 65);
    MidiInput midi(*core);
    const unsigned char note[] = {0x99, 36, 100};
    gAllocations = 0;
    gCounting = true;
    for (int i = 0; i < 3; ++i) midi.Receive(note, 3);
    gCounting = false;
    EXPECT_EQ(gAllocations.load(), 0);
    const QDeadlineTimer deadline(10000);
    while (core->PlayCount < 3 && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(core->PlayCount, 3u);
}

}  // namespace
