// The MIDI note map: General MIDI defaults, a package's Midi.txt, and the
// velocity curve.
#include "kit/midimap.h"

#include "kit/packagefiles.h"
#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QFileInfo>

namespace rimbal {
namespace {

// A broken file reports this many lines, then a count of the rest.
constexpr int kMaxReported = 20;

}  // namespace

const QString MidiMap::kFileName = QStringLiteral("Midi.txt");

DrumRole GmPercussionRole(int note) {
    switch (note) {
    case 35: case 36: return DrumRole::Kick;
    case 37: return DrumRole::Rim;
    case 38: case 40: return DrumRole::Snare;
    case 39: return DrumRole::Clap;
    case 42: return DrumRole::HatClosed;
    case 44: return DrumRole::HatPedal;
    case 46: return DrumRole::HatOpen;
    case 41: case 43: return DrumRole::TomLow;   // floor toms
    case 45: case 47: return DrumRole::TomMid;
    case 48: case 50: return DrumRole::TomHigh;
    case 49: case 57: return DrumRole::Crash;
    case 51: case 59: return DrumRole::Ride;
    case 53: return DrumRole::RideBell;
    case 54: return DrumRole::Tambourine;
    case 56: return DrumRole::Cowbell;
    case 82: return DrumRole::Shaker;
    default: return DrumRole::None;
    }
}

void MidiMap::Reset() {
    for (int n = 0; n < kMidiNotes; ++n) keys_[static_cast<std::size_t>(n)] = MainKeyOf(GmPercussionRole(n));
}

void MidiMap::LoadForPackage(const QString& folder, QStringList& errors) {
    Reset();
    if (folder.isEmpty()) return;
    const QString file = folder + kFileName;
    const QFileInfo info(file);
    if (!info.exists()) return;
    QStringList lines;
    if (!ReadPackageText(file, lines)) {
        errors.append(QStringLiteral("Mapa MIDI não pôde ser lido, o mapa padrão será usado: ") + file);
        return;
    }
    int broken = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty()) continue;
        int note = -1;
        int key = -1;
        const bool ok = line.count(u'*') == 1 && ToInteger(GetField(line, 1, QStringLiteral("*")), note) &&
                        ToInteger(GetField(line, 2, QStringLiteral("*")), key) && note >= 0 && note < kMidiNotes &&
                        key >= 0 && key <= 0xFFFF;
        if (ok) {
            Set(note, static_cast<std::uint16_t>(key));
            continue;
        }
        if (++broken <= kMaxReported)
            errors.append(QStringLiteral("%1, linha %2 ignorada: \"%3\" não é nota*tecla.").arg(kFileName).arg(i + 1).arg(line.left(60)));
    }
    if (broken > kMaxReported)
        errors.append(QStringLiteral("%1: mais %2 linhas ignoradas.").arg(kFileName).arg(broken - kMaxReported));
}

bool WriteMidiMap(const QString& file, const std::vector<std::pair<int, std::uint16_t>>& notes, QString* error) {
    QStringList lines;
    for (const auto& [note, key] : notes)
        if (note >= 0 && note < kMidiNotes) lines << QStringLiteral("%1*%2").arg(note).arg(key);
    return WriteTextLines(file, lines, error);
}

}  // namespace rimbal
