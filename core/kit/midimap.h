// Which key a MIDI note plays, and how loud a velocity plays it. The default
// map sends the General MIDI percussion notes to the main keys of the demo
// kit's layout; a package's Midi.txt overrides it note by note.
#pragma once

#include "kit/kitlayout.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace rimbal {

inline constexpr int kMidiNotes = 128;

// Velocity curve: volume x (velocity / 127)^2. The square is the General MIDI
// level-2 velocity curve (40 log10(v/127) dB), so pads feel like the drum
// modules they come from; 127 leaves the key's volume untouched.
inline float VelocityFactor(int velocity) {
    if (velocity >= 127) return 1.0f;
    if (velocity <= 0) return 0.0f;
    const float v = static_cast<float>(velocity) / 127.0f;
    return v * v;
}

// The drum a General MIDI percussion note stands for; None when it is not one
// the kit layout holds.
DrumRole GmPercussionRole(int note);

// The main key of a role in the demo kit's layout: the first one listed.
constexpr std::uint16_t MainKeyOf(DrumRole role) {
    if (role == DrumRole::None) return 0;
    for (const LayoutKey& k : kKitLayout)
        if (k.role == role) return k.key;
    return 0;
}

class MidiMap {
public:
    static const QString kFileName;  // "Midi.txt"

    MidiMap() { Reset(); }

    // Back to the General MIDI default.
    void Reset();
    // The default, then the lines of a package folder's Midi.txt when it has
    // one. Each line is note*key (decimal, Windows-1252, CR LF); a line that is
    // not is reported into errors and skipped. Key 0 silences a note.
    void LoadForPackage(const QString& folder, QStringList& errors);

    // The key a note plays; 0 when none. Any thread that owns the map.
    std::uint16_t KeyFor(int note) const {
        return note >= 0 && note < kMidiNotes ? keys_[static_cast<std::size_t>(note)] : 0;
    }
    void Set(int note, std::uint16_t key) {
        if (note >= 0 && note < kMidiNotes) keys_[static_cast<std::size_t>(note)] = key;
    }

private:
    std::array<std::uint16_t, kMidiNotes> keys_{};
};

// Writes a Midi.txt for the (note, key) pairs given, for kit importers.
// Through a temporary file, so a failure leaves no half-written map.
bool WriteMidiMap(const QString& file, const std::vector<std::pair<int, std::uint16_t>>& notes, QString* error = nullptr);

}  // namespace rimbal
