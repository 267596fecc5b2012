// Hydrogen drum kits: reading drumkit.xml and laying the instruments out on
// the keyboard by their role, as the demo kit is laid out. The result is a
// plain description of a package: the files to copy under their new names,
// the key lines and the Info.txt text. Qt Core only.
#pragma once

#include "kit/kitlayout.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace rimbal {

struct HydrogenLayer {
    QString fileName;  // as written in the kit, relative to its folder
    double min = 0.0;
    double max = 1.0;
    double gain = 1.0;
};

struct HydrogenInstrument {
    int id = -1;
    QString name;
    double volume = 1.0;
    double gain = 1.0;
    bool muted = false;
    int muteGroup = -1;  // -1: none
    int midiNote = -1;   // -1: not given
    double pan = 0.0;    // -1 left to 1 right: <pan>, or the older <pan_L> and <pan_R>
    // Directly under the instrument (older kits) or of its first component
    // that has any (newer kits).
    QList<HydrogenLayer> layers;

    // The layer of the hardest hit: the highest max, the first of equals.
    const HydrogenLayer* LoudestLayer() const;
};

struct HydrogenKit {
    QString folder;  // where the samples lie, ending with a separator
    QString name;
    QString author;
    QString info;  // as written: often rich text
    QString license;
    QList<HydrogenInstrument> instruments;
};

// Reads a kit from its drumkit.xml, or from a folder that holds one. False,
// with a message for the user in error, for a file that cannot be read or is
// not a drum kit.
bool ReadHydrogenKit(const QString& path, HydrogenKit& kit, QString* error = nullptr);

// One sound file of the new package.
struct KitSample {
    QString source;  // the kit's file, absolute
    QString name;    // bare name in the package, safe and unique
};

// One velocity layer of a key.
struct KitLayer {
    QString source;      // the kit's file, absolute
    QString file;        // its KitSample name
    float min = 0.0f, max = 1.0f;
    double level = 1.0;  // instrument volume x layer gain
};

// One line of the new package's key list.
struct KitKey {
    std::uint16_t playKey = 0;
    std::uint16_t stopKey = 0;  // 0: none
    bool stopAll = false;
    float volume = 1.0f;  // of the key's own layer, at most 1
    QString file;  // a KitSample name: the layer a key press plays, what a reader without layers plays
    QString instrument;
    double level = 1.0;        // the key's own layer's, not limited
    float pan = 0.0f;
    QList<KitLayer> layers;    // every layer, the key's own among them
};

// An instrument's MIDI note and the main key that plays it.
struct KitNote {
    int note = 0;  // 0 to 127
    std::uint16_t key = 0;
};

struct KitPlan {
    QString folderName;  // the kit's name, usable as a package folder name
    QString name;
    QString author;
    QString info;  // one line of plain text
    QString license;
    QList<KitSample> samples;  // each source once
    QList<KitKey> keys;        // in key list order, at most 64
    QStringList notPlaced;     // "instrument: reason" for each one without a key
    QList<KitNote> notes;      // in kit order, each note once
    QStringList layerNotes;    // "instrument: layer left out (reason)"
    // One factor for the whole kit (its headroom): volumes and layer gains
    // are written times it.
    double scale = 1.0;

    QStringList KeyLines() const;
    // Layers.txt: the keys with more than one layer or a place off centre;
    // empty when there are none, and then the package needs no such file.
    QStringList LayerLines() const;
    // Leaves key k only its own layer (the one Keys.txt names, and its place)
    // and forgets the samples no key uses any more.
    void KeepKeyLayer(int k);
    QStringList InfoLines(const QString& packageName) const;
    // "note*key", one line per instrument that has a note and a key.
    QStringList MidiLines() const;
};

// Lays a kit out: kick, snare, rim, clap, hi-hats, toms and cymbals on their
// keys of the demo layout (found by name), every other instrument on the
// spare keys in kit order, and the main sounds repeated on the layout's
// second keys while lines are left. Every layer of an instrument goes with
// its key; Keys.txt names the layer a key press plays (velocity 0.8) at
// volume = instrument volume x layer gain, at most 1. Instruments of one mute group get stop keys so that the
// closing one silences the others; an open hi-hat outside any group is closed
// by the closed and pedal hi-hats, as on a real hi-hat. A layer whose sample
// is among refused (absolute paths, as in KitSample::source) is left out with
// the reason given there; an instrument left without layers gets no key.
KitPlan PlanHydrogenKit(const HydrogenKit& kit, const QHash<QString, QString>& refused = {});

// The drum role an instrument's name suggests; toms come back as TomMid.
DrumRole RoleOfInstrument(const QString& name);

// Rich text as one line of plain text.
QString PlainTextLine(const QString& text);

}  // namespace rimbal
