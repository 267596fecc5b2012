// Effect units on the null output: each changes the signal as its name says.
#include "fixtures.h"

#include <cmath>
#include <set>

using namespace rbtest;

namespace {

class Effects : public NullEngine {
protected:
    // Plays mono samples through a fresh unit of `plugin` on a group and
    // renders `frames`.
    std::vector<float> through(int plugin, const std::vector<float>& mono, unsigned frames) {
        rb::ChannelGroup g{};
        EXPECT_EQ(rb::System_CreateChannelGroup(sys, "fx", &g), rb::OK);
        rb::Dsp d{};
        EXPECT_EQ(rb::System_CreateDSPByIndex(sys, plugin, &d), rb::OK);
        EXPECT_EQ(rb::ChannelGroup_AddDSP(g, d), rb::OK);
        play(loadSamples(mono), 1.0f, g);
        return render(frames);
    }
    std::vector<float> dry(const std::vector<float>& mono, unsigned frames) {
        play(loadSamples(mono));
        auto out = render(frames);
        rb::System_Close(sys);
        rb::System_Init(sys, 64, 0, nullptr);
        return out;
    }
};

TEST_F(Effects, EchoRepeatsAnImpulseAfterItsDelay) {
    const auto out = through(4, impulse(100), 30000);
    EXPECT_FLOAT_EQ(out[0], 1.0f);
    EXPECT_FLOAT_EQ(out[2 * 12000], 1.0f) << "first repeat 250 ms later";
    EXPECT_NEAR(out[2 * 24000], 0.45f, 1e-5) << "second repeat, softer";
    EXPECT_EQ(peak(out, 1, 11998), 0.0f);
}

TEST_F(Effects, PingPongDelayAlternatesSides) {
    const auto out = through(5, impulse(100), 40000);
    const std::size_t d = 18000;  // 375 ms
    EXPECT_GT(std::fabs(out[2 * d]), 0.2f);
    EXPECT_EQ(out[2 * d + 1], 0.0f);
    EXPECT_GT(std::fabs(out[2 * 2 * d + 1]), 0.05f);
}

TEST_F(Effects, LowPassCutsAHighToneAndKeepsALowOne) {
    const auto high = through(1, sine(8000, kRate, 9600), 9600);
    EXPECT_LT(toneLevel(high, 0, 8000, kRate, 4800), 0.5 * 0.05);
    const auto low = through(1, sine(100, kRate, 9600), 9600);
    EXPECT_NEAR(toneLevel(low, 0, 100, kRate, 4800), 0.5, 0.05);
}

TEST_F(Effects, HighPassCutsALowToneAndKeepsAHighOne) {
    const auto low = through(2, sine(50, kRate, 9600), 9600);
    EXPECT_LT(toneLevel(low, 0, 50, kRate, 4800), 0.5 * 0.05);
    const auto high = through(2, sine(5000, kRate, 9600), 9600);
    EXPECT_NEAR(toneLevel(high, 0, 5000, kRate, 4800), 0.5, 0.05);
}

TEST_F(Effects, BassBoostRaisesTheLowEnd) {
    const auto out = through(3, sine(100, kRate, 9600, 0.1f), 9600);
    EXPECT_GT(toneLevel(out, 0, 100, kRate, 4800), 0.1 * 2.5);  // about +9 dB
}

TEST_F(Effects, TremoloModulatesTheLevel) {
    const auto out = through(8, std::vector<float>(48000, 0.5f), 48000);
    float lo = 1, hi = 0;
    for (std::size_t i = 0; i < 48000; ++i) { lo = std::min(lo, out[2 * i]); hi = std::max(hi, out[2 * i]); }
    EXPECT_NEAR(hi, 0.5f, 0.01f);
    EXPECT_NEAR(lo, 0.2f, 0.01f);
}

TEST_F(Effects, DistortionAddsHarmonics) {
    const auto out = through(9, sine(200, kRate, 9600, 0.5f), 9600);
    EXPECT_GT(toneLevel(out, 0, 600, kRate, 4800), 0.05);
    const auto clean = dry(sine(200, kRate, 9600, 0.5f), 9600);
    EXPECT_LT(toneLevel(clean, 0, 600, kRate, 4800), 0.001);
}

TEST_F(Effects, CompressorNarrowsTheDynamicRange) {
    std::vector<float> mono = sine(500, kRate, 24000, 0.05f);
    const auto loud = sine(500, kRate, 24000, 0.9f);
    mono.insert(mono.end(), loud.begin(), loud.end());
    const auto out = through(10, mono, 48000);
    const double quietOut = rms(out, 12000, 12000), loudOut = rms(out, 36000, 12000);
    EXPECT_LT(loudOut / quietOut, 6.0) << "input ratio is 18";
}

TEST_F(Effects, LimiterKeepsPeaksNearFullScale) {
    const auto out = through(14, sine(300, kRate, 24000, 2.0f), 24000);
    EXPECT_LT(peak(out, 2400), 1.0f);
    EXPECT_GT(peak(out, 2400), 0.7f);
}

TEST_F(Effects, NormalizerBringsQuietMaterialUp) {
    const auto out = through(11, sine(300, kRate, 24000, 0.1f), 24000);
    EXPECT_GT(peak(out, 12000), 0.8f);
}

TEST_F(Effects, PitchShiftMovesAToneUpAFifth) {
    const auto out = through(12, sine(440, kRate, 24000, 0.5f), 24000);
    EXPECT_GT(toneLevel(out, 0, 660, kRate, 4800), 3 * toneLevel(out, 0, 440, kRate, 4800));
}

TEST_F(Effects, ReverbLeavesATailAfterAnImpulse) {
    const auto out = through(13, impulse(10), 48000);
    EXPECT_GT(rms(out, 4800, 9600), 1e-3) << "tail 100 to 300 ms later";
    EXPECT_LT(peak(out, 4800), 0.5f);
}

TEST_F(Effects, LoFiReducesResolution) {
    const auto out = through(15, sine(100, kRate, 9600, 0.9f), 9600);
    std::set<float> values(out.begin(), out.end());
    EXPECT_LE(values.size(), 65u);
}

TEST_F(Effects, ChorusAndFlangerChangeTheSignalWithoutBlowingUp) {
    for (int plugin : {6, 7}) {
        const auto in = sine(300, kRate, 24000, 0.5f);
        const auto out = through(plugin, in, 24000);
        const auto clean = dry(in, 24000);
        double diff = 0;
        for (std::size_t i = 0; i < out.size(); ++i) diff += std::fabs(out[i] - clean[i]);
        EXPECT_GT(diff / static_cast<double>(out.size()), 0.01) << plugin;
        EXPECT_LT(peak(out), 2.0f) << plugin;
    }
}

TEST_F(Effects, EveryEffectChangesADrumHitAndStaysFinite) {
    std::vector<float> hit(9600);
    for (std::size_t i = 0; i < hit.size(); ++i)
        hit[i] = 1.2f * std::exp(-static_cast<float>(i) / 2000.0f) * std::sin(static_cast<float>(i) * 0.02f) +
                 0.4f * std::exp(-static_cast<float>(i) / 300.0f) * std::sin(static_cast<float>(i) * 0.9f);
    const auto clean = dry(hit, 24000);
    for (int plugin = 1; plugin <= 15; ++plugin) {
        const auto out = through(plugin, hit, 24000);
        double diff = 0;
        for (std::size_t i = 0; i < out.size(); ++i) {
            ASSERT_TRUE(std::isfinite(out[i])) << plugin;
            diff += std::fabs(out[i] - clean[i]);
        }
        EXPECT_GT(diff, 1.0) << "effect " << plugin << " (" << rbtest::pluginName(sys, plugin) << ") left the hit unchanged";
        EXPECT_LT(peak(out), 4.0f) << plugin;
        rb::System_Close(sys);
        rb::System_Init(sys, 64, 0, nullptr);
    }
}

TEST_F(Effects, UnitZeroIsNotAnEffect) {
    const auto in = sine(1000, kRate, 4800, 0.5f);
    const auto out = through(0, in, 4800);
    for (std::size_t i = 0; i < 4800; ++i) ASSERT_FLOAT_EQ(out[2 * i], in[i]);
}

TEST_F(Effects, RemovedMasterUnitNoLongerActsAndCanBeAddedAgain) {
    rb::Dsp lp{};
    ASSERT_EQ(rb::System_CreateDSPByIndex(sys, 1, &lp), rb::OK);
    bool active = true;
    ASSERT_EQ(rb::DSP_GetActive(lp, &active), rb::OK);
    EXPECT_FALSE(active);
    ASSERT_EQ(rb::System_AddDSP(sys, lp), rb::OK);
    ASSERT_EQ(rb::DSP_GetActive(lp, &active), rb::OK);
    EXPECT_TRUE(active);
    const rb::Sound tone = loadSamples(sine(8000, kRate, 48000, 0.5f), kRate, rb::LOOP_NORMAL);
    play(tone);
    EXPECT_LT(toneLevel(render(4800), 0, 8000, kRate, 2400), 0.05);
    ASSERT_EQ(rb::DSP_Remove(lp), rb::OK);
    ASSERT_EQ(rb::DSP_GetActive(lp, &active), rb::OK);
    EXPECT_FALSE(active);
    EXPECT_NEAR(toneLevel(render(4800), 0, 8000, kRate), 0.5, 0.02);
    ASSERT_EQ(rb::System_AddDSP(sys, lp), rb::OK);
    EXPECT_LT(toneLevel(render(4800), 0, 8000, kRate, 2400), 0.05);
}

TEST_F(Effects, EachCreationMakesANewUnitAndUnknownPluginsAreRefused) {
    rb::Dsp a{}, b{};
    ASSERT_EQ(rb::System_CreateDSPByIndex(sys, 4, &a), rb::OK);
    ASSERT_EQ(rb::System_CreateDSPByIndex(sys, 4, &b), rb::OK);
    EXPECT_NE(a, b);
    rb::Dsp none{};
    EXPECT_EQ(rb::System_CreateDSPByIndex(sys, 16, &none), rb::ERR_PLUGIN_MISSING);
    EXPECT_EQ(none, rb::Dsp{});
    // Units made before init (as the master effects are) work once the engine runs.
    rb::System other{};
    ASSERT_EQ(rb::System_Create(&other), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(other, rb::OUTPUTTYPE_NULL), rb::OK);
    rb::Dsp early{};
    ASSERT_EQ(rb::System_CreateDSPByIndex(other, 1, &early), rb::OK);
    ASSERT_EQ(rb::System_SetSoftwareFormat(other, 44100, rb::SOUND_FORMAT_PCM16, 0, 0, 1), rb::OK);
    ASSERT_EQ(rb::System_Init(other, 64, 0, nullptr), rb::OK);
    ASSERT_EQ(rb::System_AddDSP(other, early), rb::OK);
    EXPECT_EQ(rb::System_AddDSP(sys, early), rb::ERR_DSP_CONNECTION);
    ASSERT_EQ(rb::System_Release(other), rb::OK);
    bool active = false;
    EXPECT_EQ(rb::DSP_GetActive(early, &active), rb::ERR_INVALID_HANDLE);
}

TEST_F(Effects, ReleasingAGroupDetachesItsUnits) {
    rb::ChannelGroup g{};
    ASSERT_EQ(rb::System_CreateChannelGroup(sys, "Group0", &g), rb::OK);
    rb::Dsp lp{};
    ASSERT_EQ(rb::System_CreateDSPByIndex(sys, 1, &lp), rb::OK);
    ASSERT_EQ(rb::ChannelGroup_AddDSP(g, lp), rb::OK);
    const rb::Channel c = play(loadSamples(sine(8000, kRate, 48000, 0.5f)), 1.0f, g);
    EXPECT_LT(toneLevel(render(4800), 0, 8000, kRate, 2400), 0.05);
    ASSERT_EQ(rb::ChannelGroup_Release(g), rb::OK);
    bool active = true;
    ASSERT_EQ(rb::DSP_GetActive(lp, &active), rb::OK);
    EXPECT_FALSE(active);
    EXPECT_TRUE(playing(c));
    EXPECT_NEAR(toneLevel(render(4800), 0, 8000, kRate), 0.5, 0.02);
}

}  // namespace
