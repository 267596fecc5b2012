// Velocity layers of a package (Layers.txt): the layer a MIDI velocity picks,
// round robin, the place of a key, bad lines, keys edited and deleted, and
// the master limiter as the settings switch it.
#include "corefixture.h"

#include "base/textfiles.h"
#include "midi/midiinput.h"
#include "sequences/sequencerender.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cmath>

using namespace rimbal;

namespace {

const QString kFx = QStringLiteral("0*").repeated(16);

class Layers : public CoreTest {
protected:
    // Package "Kit": constant-level samples (a sample is known by its level),
    // F (70) on hard.wav and G (71) on r1.wav, and the layer lines given.
    void makeKit(const QStringList& layerLines) {
        for (const auto& [name, level] : {std::pair{"soft.wav", 0.1f}, {"hard.wav", 0.2f}, {"r1.wav", 0.3f},
                                          {"r2.wav", 0.4f}, {"r3.wav", 0.5f}})
            packageFile(name, std::vector<float>(4800, level));
        core->KeyLines = {"70*0*0*0*0*1,00*" + kFx + "hard.wav", "71*0*0*0*0*1,00*" + kFx + "r1.wav"};
        ASSERT_TRUE(core->SaveKeyLines());
        ASSERT_TRUE(WriteTextLines(core->LayersFile(), layerLines));
        if (core->SoundSystem == rb::System{}) {
            startEngine();
        } else {
            core->ReleaseSounds(false);
            core->CreateSounds(false);
        }
    }
    // The level of the sample a play starts with; the plays then stopped.
    float hit(std::uint16_t key, float factor = 1.0f, float velocity = -1.0f) {
        core->PlayKey(key, factor, velocity);
        const float level = render(16)[0];
        stopAll();
        return level;
    }
    void stopAll() {
        for (auto& r : core->KeySounds)
            for (rb::Channel c : r.channels)
                if (c != rb::Channel{}) rb::Channel_Stop(c);
        render(200);
    }
    const QStringList kTwoLayers{"Velocidade*0.8", "70*0*0.5*1*0*soft.wav", "70*0.5*1*1*0*hard.wav"};
};

// The headless proof: the MIDI input's own path picks the soft sample for a
// soft note and the hard one for a hard note; a computer key plays at the
// package's velocity.
TEST_F(Layers, AMidiVelocityPicksTheLayerWhoseRangeHoldsIt) {
    makeKit(kTwoLayers);
    ASSERT_EQ(core->KeySounds[0].layers.count, 2);
    EXPECT_TRUE(log.shown.isEmpty()) << log.shown.value(0).lines.join('\n').toStdString();
    MidiInput midi(*core);
    const auto note = [&](unsigned char velocity) {
        const unsigned char message[] = {0x99, 38, velocity};  // the snare, on F
        midi.Receive(message, sizeof message);
        QCoreApplication::processEvents();
        const float level = render(16)[0] / VelocityFactor(velocity);  // the curve stays on top
        stopAll();
        return level;
    };
    EXPECT_NEAR(note(40), 0.1f, 1e-4) << "soft";
    EXPECT_NEAR(note(120), 0.2f, 1e-4) << "hard";
    EXPECT_NEAR(note(64), 0.2f, 1e-4) << "64/127 lies on the boundary's upper side";
    EXPECT_NEAR(hit(70), 0.2f, 1e-6) << "a computer key at 0.8";
    core->Layers.Velocity = 0.3f;
    EXPECT_NEAR(hit(70), 0.1f, 1e-6) << "the package's own key velocity";
}

// Where several layers hold a velocity, no hit takes the sample the one
// before it took, and a seeded run is the same every time.
TEST_F(Layers, RoundRobinNeverRepeatsASampleAndIsReproducible) {
    makeKit({"71*0*1*1*0*r1.wav", "71*0*1*1*0*r2.wav", "71*0*1*1*0*r3.wav"});
    const auto eightHits = [&] {
        core->SeedLayers(7);
        QList<int> samples;
        for (int i = 0; i < 8; ++i) samples.append(static_cast<int>(std::lround(hit(71) * 10)));
        return samples;
    };
    const QList<int> first = eightHits();
    for (int i = 0; i < first.size(); ++i) {
        EXPECT_TRUE(first[i] >= 3 && first[i] <= 5) << first[i];
        if (i > 0) {
            EXPECT_NE(first[i], first[i - 1]) << "hit " << i;
        }
    }
    EXPECT_EQ(eightHits(), first);

    // A render seeds its own run: the same sequence gives the same bytes,
    // whatever was played before it.
    const auto renderOnce = [&](int hitsBefore) {
        for (int i = 0; i < hitsBefore; ++i) hit(71);
        RenderResult result;
        QString error;
        const QString file = appDir + QStringLiteral("r%1.wav").arg(hitsBefore);
        EXPECT_TRUE(RenderSequence(*core, QStringLiteral("71*50").repeated(9) + "71", file, result, error)) << error.toStdString();
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray a = renderOnce(0);
    for (int before = 1; before <= 3; ++before) EXPECT_EQ(renderOnce(before), a) << before;
}

// A key's place: constant power, and the centre is no place at all.
TEST_F(Layers, AKeyPlaysWhereItsLayersAreAndTheCentreIsUntouched) {
    makeKit({"70*0*1*1*-1*hard.wav", "71*0*1*1*0*r1.wav"});
    core->PlayKey(70);
    auto out = render(16);
    EXPECT_NEAR(out[0], 0.2f * std::sqrt(2.0f), 1e-6);
    EXPECT_NEAR(out[1], 0.0f, 1e-6);
    stopAll();
    core->PlayKey(71);
    out = render(16);
    EXPECT_EQ(out[0], 0.3f);
    EXPECT_EQ(out[1], 0.3f);
}

// Each bad line is refused in the log and its key plays its Keys.txt sample;
// the other key keeps its layers.
TEST_F(Layers, BadLinesAreRefusedAndTheirKeyFallsBackToItsKeysTxtSample) {
    struct Case {
        const char* line;
        const char* reason;
        bool refusesF;
    };
    const Case cases[] = {
        {"70*0*0.5*1*0", "não tem os seis campos", true},
        {"abc*0*0.5*1*0*soft.wav", "\"abc\" não é um código de tecla", false},
        {"70*-0.1*0.5*1*0*soft.wav", "velocidade fora de 0 a 1", true},
        {"70*0*1.5*1*0*soft.wav", "velocidade fora de 0 a 1", true},
        {"70*0.6*0.4*1*0*soft.wav", "o mínimo 0.6 é maior que o máximo 0.4", true},
        {"70*0*0.5*99*0*soft.wav", "ganho fora de 0 a 16", true},
        {"70*0*0.5*nan*0*soft.wav", "ganho fora de 0 a 16", true},
        {"70*0*0.5*1*2*soft.wav", "pan fora de -1 a 1", true},
        {"70*0*0.5*1*0*", "falta o nome do arquivo", true},
        {"70*0*0.5*1*0*falta.wav", "a amostra não existe", true},
        {"Velocidade*1.2", "a velocidade das teclas vai de 0 a 1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        log.shown.clear();
        makeKit({"70*0.5*1*1*0*hard.wav", QString::fromUtf8(c.line), "71*0*1*1*0*r1.wav", "71*0*1*1*0*r2.wav"});
        ASSERT_EQ(log.shown.size(), 1);
        EXPECT_EQ(log.shown[0].caption, "Erros ao criar sons");
        ASSERT_EQ(log.shown[0].lines.size(), 1);
        EXPECT_TRUE(log.shown[0].lines[0].startsWith("Layers.txt, linha 2 recusada: ")) << log.shown[0].lines[0].toStdString();
        EXPECT_TRUE(log.shown[0].lines[0].contains(QString::fromUtf8(c.reason))) << log.shown[0].lines[0].toStdString();
        EXPECT_EQ(core->KeySounds[0].layers.count, c.refusesF ? 0 : 1);
        EXPECT_EQ(core->KeySounds[1].layers.count, 2);
        EXPECT_NEAR(hit(70, 1.0f, 0.1f), 0.2f, 1e-6) << "the Keys.txt sample, whatever the velocity";
        EXPECT_FLOAT_EQ(core->Layers.Velocity, 0.8f);
    }

    // More layers than a key holds: the lines past the cap are refused, and the key with them.
    QStringList many;
    for (int i = 0; i <= kMaxLayers; ++i) many << "71*0*1*1*0*r1.wav";
    many << "70*0*1*1*0*hard.wav";
    log.shown.clear();
    makeKit(many);
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].lines, QStringList{"Layers.txt, linha 33 recusada: a tecla já tem 32 camadas. A tecla 71 toca a amostra de Keys.txt."});
    EXPECT_EQ(core->KeySounds[1].layers.count, 0);
    EXPECT_EQ(core->KeySounds[0].layers.count, 1);

    // A file a package may bring is read whole; one past that cap is not
    // read at all, and every key plays Keys.txt.
    log.shown.clear();
    makeKit(kTwoLayers + QStringList(kMaxPackageText / 8, "   "));
    EXPECT_TRUE(log.shown.isEmpty());
    EXPECT_EQ(core->KeySounds[0].layers.count, 2);
    makeKit(QStringList(15000, "70*0*0.5*1*0*soft.wav.................................................."));
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].lines,
              QStringList{"Layers.txt não pôde ser lido ou passa de 1024 KB; as teclas tocam as amostras de Keys.txt."});
    EXPECT_EQ(core->KeySounds[0].layers.count, 0);
    EXPECT_NEAR(hit(70, 1.0f, 0.1f), 0.2f, 1e-6);
}

// The layers follow their key: another play key takes them along, another
// sound or a deletion drops them, and the rest of the file stays as it was.
TEST_F(Layers, EditingAndDeletingKeysKeepTheFileInStep) {
    makeKit({"Velocidade*0.8", "70*0*0.5*1*0*soft.wav", "70*0.5*1*1*0*hard.wav", "71*0*1*1*0*r1.wav", "71*0*1*1*0*r2.wav"});
    const auto fileLines = [&] {
        QStringList lines;
        ReadTextLines(core->LayersFile(), lines);
        return lines;
    };
    TAG_SOUND_DATA d = core->KeySounds[0];
    d.playKey = 74;
    ASSERT_TRUE(core->AddKeySound(d, true, 0));
    EXPECT_EQ(fileLines(), QStringList({"Velocidade*0.8", "74*0*0.5*1*0*soft.wav", "74*0.5*1*1*0*hard.wav",
                                        "71*0*1*1*0*r1.wav", "71*0*1*1*0*r2.wav"}));
    EXPECT_NEAR(hit(74, 1.0f, 0.2f), 0.1f, 1e-6) << "the edited key keeps its layers";

    TAG_SOUND_DATA g = core->KeySounds[1];
    g.fileName = packageFile("novo.wav", std::vector<float>(4800, 0.7f));
    ASSERT_TRUE(core->AddKeySound(g, true, 1));
    EXPECT_EQ(fileLines(), QStringList({"Velocidade*0.8", "74*0*0.5*1*0*soft.wav", "74*0.5*1*1*0*hard.wav"}));
    EXPECT_NEAR(hit(71), 0.7f, 1e-6) << "another sound: no layers";

    core->RemoveKey(0);
    EXPECT_EQ(fileLines(), QStringList{"Velocidade*0.8"});
    core->ReleaseSounds(false);
    core->CreateSounds(false);
    EXPECT_TRUE(log.shown.isEmpty()) << log.shown.value(0).lines.join('\n').toStdString();
}

// Editing F onto G puts both keys' lines together: past the bound, G plays
// its Keys.txt sample, also when a key is removed and the table reloaded.
TEST_F(Layers, KeysMovedTogetherPastTheBoundPlayOneSample) {
    QStringList layers{"Velocidade*0.8"};
    for (int i = 0; i < kMaxLayers; ++i) layers << "70*0*1*1*0*" + QString(i ? "soft.wav" : "hard.wav");
    for (int i = 0; i < kMaxLayers; ++i) layers << "71*0*1*1*0*" + QString(i ? "soft.wav" : "r1.wav");
    makeKit(layers);
    // 64 keys fill the table; a 65th line of G comes in when one goes.
    for (int i = 0; i < 62; ++i) core->KeyLines << QString::number(100 + i) + "*0*0*0*0*1,00*" + kFx + "soft.wav";
    core->KeyLines << "71*0*0*0*0*1,00*" + kFx + "r1.wav";
    ASSERT_TRUE(core->SaveKeyLines());
    core->ReleaseSounds(false);
    core->CreateSounds(false);
    ASSERT_EQ(core->KeySounds[1].layers.count, kMaxLayers);
    TAG_SOUND_DATA d = core->KeySounds[0];
    d.playKey = 71;
    ASSERT_TRUE(core->AddKeySound(d, true, 0));
    core->RemoveKey(5);
    const TAG_SOUND_DATA& moved = core->KeySounds[kMaxKeys - 1];
    ASSERT_EQ(moved.playKey, 71);
    EXPECT_EQ(moved.layers.count, 0);
}

// A key volume past a float's range with a silent layer never puts NaN into
// the mix: the volume is refused and the other key sounds.
TEST_F(Layers, AVolumePastAFloatWithASilentLayerLeavesTheMixAlone) {
    makeKit({"70*0*1*0*0*hard.wav"});
    core->KeyLines[0].replace("1,00", "1e39");
    ASSERT_TRUE(core->SaveKeyLines());
    core->ReleaseSounds(false);
    core->CreateSounds(false);
    core->PlayKey(71);
    core->PlayKey(70);
    const std::vector<float> out = render(64);
    EXPECT_EQ(std::count_if(out.begin(), out.end(), [](float x) { return std::isnan(x); }), 0);
    EXPECT_NEAR(out[0], 0.3f, 1e-6) << "G plays as it should";
}

// Layers past the memory budget are not loaded: their key plays Keys.txt.
TEST_F(Layers, LayersPastTheMemoryBudgetLeaveTheirKeyOneSample) {
    core->LayerBudget = 30000;  // one more 4800-frame sample than the first key needs
    makeKit({"70*0*0.5*1*0*soft.wav", "70*0.5*1*1*0*hard.wav", "71*0*1*1*0*r1.wav", "71*0*1*1*0*r2.wav", "71*0*1*1*0*r3.wav"});
    EXPECT_EQ(core->KeySounds[0].layers.count, 2);
    EXPECT_EQ(core->KeySounds[1].layers.count, 0);
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].lines,
              QStringList{"Layers.txt: as camadas passam de 1 MB de memória; a tecla 71 toca só a amostra de Keys.txt."});
    EXPECT_NEAR(hit(71), 0.3f, 1e-6);
}

// Master_Limiter (on unless switched off) reaches the engine with the sounds.
TEST_F(Layers, TheSettingSwitchesTheMasterLimiter) {
    settings->PackName = "Kit";
    for (int k = 0; k < 4; ++k) {
        packageFile(QStringLiteral("l%1.wav").arg(k), std::vector<float>(4800, 0.5f));
        core->KeyLines << QStringLiteral("%1*0*0*0*0*1,00*").arg(80 + k) + kFx + QStringLiteral("l%1.wav").arg(k);
    }
    startEngine();
    const auto loudest = [&] {
        for (int k = 0; k < 4; ++k) core->PlayKey(static_cast<std::uint16_t>(80 + k));
        float most = 0;
        for (float v : render(2400)) most = std::max(most, std::fabs(v));
        stopAll();
        return most;
    };
    bool on = false;
    rb::System_GetMasterLimiter(core->SoundSystem, &on);
    EXPECT_TRUE(on);
    EXPECT_LE(loudest(), 0.96605f);
    settings->Master_Limiter = false;
    core->ReleaseSounds(false);
    core->CreateSounds(false);
    EXPECT_FLOAT_EQ(loudest(), 2.0f);
}

}  // namespace
