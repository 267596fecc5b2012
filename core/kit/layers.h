// Velocity layers of a package's keys, kept in Layers.txt beside Keys.txt,
// and the choice of the layer each hit plays (velocity, then round robin).
// The choice runs inside PlayKey: fixed arrays, no allocation, no lock.
#pragma once

#include "kit/packagefiles.h"
#include "rbcore.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace rimbal {

inline constexpr int kMaxLayers = 32;               // per key
inline constexpr float kDefaultKeyVelocity = 0.8f;  // Hydrogen's default note velocity

// One layer line: key*min*max*gain*pan*file. Numbers are decimal with a
// point, whatever the user's locale.
struct LayerLine {
    std::uint16_t key = 0;
    float min = 0.0f, max = 1.0f;  // velocity range, 0 to 1
    float gain = 1.0f;             // times the key's volume in Keys.txt
    float pan = 0.0f;              // -1 left, 0 centre, 1 right
    QString file;                  // as stored: relative to the package folder unless it has a drive
    int lineNumber = 0;            // 1-based, for messages
};

// Layers.txt as read. Bounded: a file over kMaxBytes is refused whole.
class LayerFile {
public:
    static const QString kFileName;  // "Layers.txt"
    static constexpr qint64 kMaxBytes = kMaxPackageText;  // what a package may bring
    static constexpr float kMaxGain = 16.0f;
    // The line that sets the package's key velocity: "Velocidade*0.8".
    static const QString kVelocityWord;

    // Reads folder's Layers.txt, if there is one. A line that is not a layer
    // is reported into errors and its key refused: the key plays its Keys.txt
    // sample. So is a key with more than kMaxLayers lines.
    void Load(const QString& folder, QStringList& errors);

    // The velocity computer keys and sequences play at.
    float Velocity = kDefaultKeyVelocity;
    QList<LayerLine> Lines;      // the good lines of keys that are not refused, in file order
    QList<std::uint16_t> Refused;
    QStringList Raw;             // the lines as read, for rewriting
    bool Present = false;        // the file exists and was read

    // Reads one line into out; false with the reason (Portuguese) otherwise.
    static bool Parse(const QString& text, LayerLine& out, QString& why);
    static QString Format(const LayerLine& line);
    // The key code a raw line starts with; -1 when it starts with none.
    static int KeyOf(const QString& text);
    // The sample file a raw line names (as stored), empty for a line that
    // names none: what a package check has to look at.
    static QString SampleOf(const QString& text);
    static QString VelocityLine(float velocity);
    // The lines of key `from` given to key `to` (0: dropped; keep: copied,
    // the originals kept). True when anything changed.
    static bool Retarget(QStringList& lines, int from, int to, bool keep);

    // Reports of one load are capped; the rest is counted.
    static constexpr int kMaxReported = 20;
};

// The layers of one key as the engine plays them.
struct KeyLayer {
    rb::Sound sound{};
    float min = 0.0f, max = 1.0f, gain = 1.0f, pan = 0.0f;
};

struct KeyLayers {
    std::array<KeyLayer, kMaxLayers> layer{};
    int count = 0;
    int last = -1;     // the layer played last, so the next hit picks another sound
    float top = 1.0f;  // the highest max: a velocity there belongs to the top layers
};

// A small generator for round robin; seeded, so a render is reproducible.
class LayerRandom {
public:
    explicit LayerRandom(std::uint64_t seed = 1) : state_(seed) {}
    void Seed(std::uint64_t seed) { state_ = seed; }
    std::uint32_t Below(std::uint32_t n) noexcept {  // 0 .. n-1, n > 0
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<std::uint32_t>((z >> 32) * n >> 32);
    }

private:
    std::uint64_t state_;
};

// The layers a hit at velocity (0 to 1) may play, in key order: those whose
// range holds it, or the nearest ones when it falls between ranges. Returns
// how many went into pick.
int LayersFor(const KeyLayers& key, float velocity, std::array<int, kMaxLayers>& pick) noexcept;

// The layer a hit at velocity (0 to 1) plays: one of LayersFor; among
// several, at random but never the sound played last while another is
// there. -1 for a key without layers.
int ChooseLayer(const KeyLayers& key, float velocity, LayerRandom& random) noexcept;

}  // namespace rimbal
