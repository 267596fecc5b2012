// Engine demonstration, until the program's windows exist: lists the output
// types and their devices, then plays a short drum-like test sound.
#include "rbcore.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <thread>

namespace {

bool check(rb::Result r, const char* what) {
    if (r == rb::OK) return true;
    std::printf("Erro da engine: (%d) %s [%s]\n", r, rb::ErrorString(r), what);
    return false;
}

}  // namespace

int main() {
    rb::System sys{};
    if (!check(rb::System_Create(&sys), "criar")) return 1;
    std::uint32_t version = 0;
    rb::System_GetVersion(sys, &version);
    std::printf("Rimbal 2 - engine rbcore %08x\n\n", version);

    int outputs = 0;
    rb::System_GetNumPlugins(sys, rb::PLUGINTYPE_OUTPUT, &outputs);
    for (int t = 0; t < outputs; ++t) {
        char name[256] = {};
        rb::System_GetPluginInfo(sys, rb::PLUGINTYPE_OUTPUT, t, name, sizeof name, nullptr);
        rb::System_SetOutput(sys, t);
        int play = 0, rec = 0;
        rb::System_GetNumDrivers(sys, &play);
        rb::System_GetRecordNumDrivers(sys, &rec);
        std::printf("Saída %d: %s (%d de reprodução, %d de gravação)\n", t, name, play, rec);
        for (int d = 0; d < play; ++d) {
            rb::System_GetDriverName(sys, d, name, sizeof name);
            std::printf("   reprodução %d: %s\n", d, name);
        }
        for (int d = 0; d < rec; ++d) {
            rb::System_GetRecordDriverName(sys, d, name, sizeof name);
            std::printf("   gravação %d: %s\n", d, name);
        }
    }

    // Play through the first output type that has a device.
    int chosen = -1;
    for (int t = 0; t < outputs && chosen < 0; ++t) {
        rb::System_SetOutput(sys, t);
        int play = 0;
        rb::System_GetNumDrivers(sys, &play);
        if (play > 0) chosen = t;
    }
    if (chosen < 0) {
        std::printf("\nNenhum dispositivo de reprodução encontrado.\n");
        rb::System_Release(sys);
        return 0;
    }
    rb::System_SetOutput(sys, chosen);
    rb::System_SetSoftwareFormat(sys, 48000, rb::SOUND_FORMAT_PCM16, 0, 0, rb::DSP_RESAMPLER_LINEAR);
    if (!check(rb::System_Init(sys, 64, rb::INIT_NORMAL, nullptr), "iniciar")) return 1;
    unsigned buffer = 0;
    long latency = 0;
    rb::System_GetOutputLatency(sys, &buffer, &latency);
    std::printf("\nBuffer: %u quadros; latência informada: %ld quadros\n", buffer, latency);

    // A decaying low tone with a click, made in a user sound.
    rb::CreateSoundExInfo info{};
    info.cbsize = sizeof info;
    info.numchannels = 2;
    info.defaultfrequency = 48000;
    info.format = rb::SOUND_FORMAT_PCM16;
    info.length = 48000 * 4 / 2;
    rb::Sound hit{};
    if (!check(rb::System_CreateSound(sys, nullptr, rb::MODE_OPENUSER | rb::MODE_SOFTWARE | rb::MODE_2D, &info, &hit),
               "criar som"))
        return 1;
    void *p1 = nullptr, *p2 = nullptr;
    std::uint32_t n1 = 0, n2 = 0;
    rb::Sound_Lock(hit, 0, info.length, &p1, &p2, &n1, &n2);
    auto* pcm = static_cast<std::int16_t*>(p1);
    for (std::uint32_t i = 0; i < n1 / 4; ++i) {
        const double t = i / 48000.0;
        const double v = std::exp(-t * 12) * std::sin(2 * std::numbers::pi * (60 + 90 * std::exp(-t * 30)) * t);
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<std::int16_t>(v * 20000);
    }
    rb::Sound_Unlock(hit, p1, p2, n1, n2);
    std::printf("Tocando o som de teste...\n");
    for (int k = 0; k < 4; ++k) {
        rb::Channel c{};
        check(rb::System_PlaySound(sys, rb::CHANNEL_FREE, hit, false, &c), "tocar");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    rb::Sound_Release(hit);
    rb::System_Release(sys);
    std::printf("Fim.\n");
    return 0;
}
