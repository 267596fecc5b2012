// The program's owner objects, made by the program body and handed to the
// windows: settings, the sound core, and the ways to ask and tell the user.
#pragma once

#include "metronome/metronome.h"
#include "midi/midiinput.h"
#include "base/prompt.h"
#include "recording/recorder.h"
#include "sequences/sequence.h"
#include "settings/settings.h"
#include "kit/soundcore.h"

#include "rbcore.h"

#include <QDesktopServices>
#include <QUrl>

#include <cstdint>
#include <functional>

namespace rimbal {

struct AppContext {
    AppContext(const QString& appDir, Prompt& p, LogView& l) : settings(appDir), prompt(p), log(l), core(settings, p, l), sequence(core, p), recorder(core, p) {}

    Settings settings;
    Prompt& prompt;
    LogView& log;
    SoundCore core;
    Sequence sequence;
    Recorder recorder;
    MetronomeControl metronome{core};
    bool StartupOk = true;

    // Fixed for the program; tests change them to run quickly and headless.
    int forcedOutputType = -1;                  // e.g. the null output; -1 follows the settings
    std::uint32_t requiredVersion = rb::kVersion;
    unsigned startDelayMs = 1000;
    unsigned statusWaitMs = 500;
    // The banner download runs only when the program body allows it: never in
    // a test or a headless run unless asked for.
    bool bannerDownload = false;
    // Hands a web address to the desktop's browser; tests record it instead.
    std::function<void(const QUrl&)> openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    // The engine output type for an ID_Driver_Output value; false when that value sets none.
    bool outputType(int idDriverOutput, int& type) const {
        if (forcedOutputType >= 0) {
            type = forcedOutputType;
            return true;
        }
        return Settings::OutputTypeFor(idDriverOutput, type);
    }

    // Declared last: it closes its port before anything it plays goes away.
    MidiInput midi{core};
};

}  // namespace rimbal
