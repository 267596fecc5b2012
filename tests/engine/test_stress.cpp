// The control thread against a rendering thread on the null output: plays,
// stops, volume changes, group, unit and sound releases and re-creations
// while the mixer runs. Every stop must land (a loop is silent after its
// stop) and nothing freed may be touched (the sanitizer builds watch that).
#include "fixtures.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

using namespace rbtest;

namespace {

class Stress : public NullEngine {};

TEST_F(Stress, ControlAndRenderThreadsNeverLoseAStopOrTouchFreedMemory) {
    // Units without a tail, so that silence after the stops is exact.
    constexpr int kQuietUnits[] = {8, 9, 10, 11, 14, 15};
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };

    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(dir.path("s" + std::to_string(i) + ".wav"));
        writeSound(files.back(), 0x010006 /* WAV float */, i % 2 ? 44100 : kRate, 1 + i % 2,
                   sine(200.0 + 90 * i, i % 2 ? 44100 : kRate, 600 + 500 * i, 0.05f, 1 + i % 2));
    }
    std::vector<rb::Sound> sounds;
    for (std::size_t i = 0; i < files.size(); ++i) sounds.push_back(load(files[i], i % 3 ? rb::LOOP_NORMAL : rb::LOOP_OFF));
    std::vector<rb::ChannelGroup> groups(8);
    std::vector<rb::Dsp> units;
    for (auto& g : groups) ASSERT_EQ(rb::System_CreateChannelGroup(sys, "g", &g), rb::OK);
    auto newUnit = [&](rb::ChannelGroup g) {
        rb::Dsp d{};
        ASSERT_EQ(rb::System_CreateDSPByIndex(sys, kQuietUnits[pick(6)], &d), rb::OK);
        rb::ChannelGroup_AddDSP(g, d);  // may find the queue full
        units.push_back(d);
    };
    for (auto& g : groups) newUnit(g);

    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> renders{0}, rendered{0};
    std::atomic<float> lastPeak{0};
    std::atomic<bool> finite{true};
    std::thread renderer([&] {
        std::vector<float> out(2 * 256);
        while (!done.load(std::memory_order_acquire)) {
            const unsigned frames = 1 + static_cast<unsigned>(renders.load() % 256);
            if (rb::System_RenderNull(sys, out.data(), frames) != rb::OK) finite = false;
            float p = 0;
            for (unsigned i = 0; i < 2 * frames; ++i) {
                if (!std::isfinite(out[i])) finite = false;
                p = std::max(p, std::fabs(out[i]));
            }
            lastPeak.store(p, std::memory_order_release);
            rendered.fetch_add(frames, std::memory_order_acq_rel);
            renders.fetch_add(1, std::memory_order_acq_rel);
        }
    });
    // Lets 600 frames pass (glides and holds end well within), then the peak
    // of a render that began after them.
    auto settle = [&] {
        const std::uint64_t frames = rendered.load(std::memory_order_acquire) + 600;
        while (rendered.load(std::memory_order_acquire) < frames) std::this_thread::yield();
        const std::uint64_t next = renders.load(std::memory_order_acquire) + 1;
        while (renders.load(std::memory_order_acquire) < next) std::this_thread::yield();
        return lastPeak.load(std::memory_order_acquire);
    };

    std::vector<rb::Channel> live;
    int plays = 0, stops = 0, releases = 0, silentChecks = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 40; ++round) {
        for (int op = 0; op < 400; ++op) {
            switch (pick(12)) {
            case 0: case 1: case 2: case 3: {
                rb::Channel c{};
                const rb::Sound s = sounds[static_cast<std::size_t>(pick(static_cast<int>(sounds.size())))];
                if (rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, true, &c) != rb::OK) break;
                rb::Channel_SetVolume(c, 0.3f + 0.1f * static_cast<float>(pick(7)));
                if (pick(2)) rb::Channel_SetChannelGroup(c, groups[static_cast<std::size_t>(pick(8))]);
                rb::Channel_SetPaused(c, false);
                live.push_back(c);
                ++plays;
                break;
            }
            case 4: case 5:
                if (!live.empty()) {
                    const std::size_t i = static_cast<std::size_t>(pick(static_cast<int>(live.size())));
                    rb::Channel_Stop(live[i]);
                    EXPECT_FALSE(playing(live[i]));
                    live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
                    ++stops;
                }
                break;
            case 6:
                if (!live.empty()) rb::Channel_SetVolume(live[static_cast<std::size_t>(pick(static_cast<int>(live.size())))], 0.2f);
                break;
            case 7: {
                auto& g = groups[static_cast<std::size_t>(pick(8))];
                ASSERT_EQ(rb::ChannelGroup_Release(g), rb::OK);
                ASSERT_EQ(rb::System_CreateChannelGroup(sys, "g", &g), rb::OK);
                newUnit(g);
                ++releases;
                break;
            }
            case 8:
                if (!units.empty()) {
                    const std::size_t i = static_cast<std::size_t>(pick(static_cast<int>(units.size())));
                    ASSERT_EQ(rb::DSP_Release(units[i]), rb::OK);
                    units.erase(units.begin() + static_cast<std::ptrdiff_t>(i));
                    newUnit(groups[static_cast<std::size_t>(pick(8))]);
                    ++releases;
                }
                break;
            case 9: {
                const std::size_t i = static_cast<std::size_t>(pick(static_cast<int>(sounds.size())));
                ASSERT_EQ(rb::Sound_Release(sounds[i]), rb::OK);
                sounds[i] = load(files[i], i % 3 ? rb::LOOP_NORMAL : rb::LOOP_OFF);
                ++releases;
                break;
            }
            case 10:
                if (!units.empty()) rb::DSP_Remove(units[static_cast<std::size_t>(pick(static_cast<int>(units.size())))]);
                break;
            default:
                if (!units.empty())
                    rb::System_AddDSP(sys, units[static_cast<std::size_t>(pick(static_cast<int>(units.size())))]);
                break;
            }
        }
        // Every few rounds: stop everything; the renderer must go silent.
        if (round % 4 == 3) {
            for (rb::Channel c : live) rb::Channel_Stop(c);
            live.clear();
            EXPECT_EQ(settle(), 0.0f) << "round " << round << ": a stopped play still sounds";
            ++silentChecks;
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(12) && round >= 8) break;
    }
    done = true;
    renderer.join();
    EXPECT_TRUE(finite);
    EXPECT_GE(plays, 1000);
    EXPECT_GE(stops, 500);
    EXPECT_GE(releases, 200);
    EXPECT_GE(silentChecks, 2);
    rb::System_Update(sys);
}

}  // namespace
