// Layers.txt read and written, and the choice of a key's layer for a hit.
#include "kit/layers.h"

#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QFileInfo>
#include <QHash>

#include <cmath>

namespace rimbal {
namespace {

constexpr int kFields = 6;  // key*min*max*gain*pan*file

bool number(const QString& text, float low, float high, float& out) {
    float v = 0.0f;
    if (!ToVolume(text, v) || !std::isfinite(v) || v < low || v > high) return false;
    out = v;
    return true;
}

// Short, with "." whatever the locale: 0.8, 0.202899, 1.
QString decimal(float v) { return QString::number(static_cast<double>(v), 'g', 7); }

}  // namespace

const QString LayerFile::kFileName = QStringLiteral("Layers.txt");
const QString LayerFile::kVelocityWord = QStringLiteral("Velocidade");

int LayerFile::KeyOf(const QString& text) {
    int key = 0;
    if (!ToInteger(GetField(text, 1, QStringLiteral("*")), key) || key < 1 || key > 0xFFFF) return -1;
    return key;
}

QString LayerFile::SampleOf(const QString& text) {
    if (KeyOf(text) < 0 || text.count(u'*') != kFields - 1) return {};
    return text.mid(text.lastIndexOf(u'*') + 1);
}

QString LayerFile::VelocityLine(float velocity) { return kVelocityWord + u'*' + decimal(velocity); }

bool LayerFile::Retarget(QStringList& lines, int from, int to, bool keep) {
    QStringList out, copies;
    for (const QString& line : lines) {
        if (KeyOf(line) != from || from == to) {
            out.append(line);
            continue;
        }
        if (keep) out.append(line);
        if (to > 0) (keep ? copies : out).append(QString::number(to) + line.mid(line.indexOf(u'*')));
    }
    out += copies;
    if (out == lines) return false;
    lines = out;
    return true;
}

bool LayerFile::Parse(const QString& text, LayerLine& out, QString& why) {
    const QString sep = QStringLiteral("*");
    if (text.count(u'*') != kFields - 1) {
        why = QStringLiteral("não tem os seis campos tecla*mínimo*máximo*ganho*pan*arquivo");
        return false;
    }
    LayerLine l;
    const int key = KeyOf(text);
    if (key < 0) {
        why = QStringLiteral("\"%1\" não é um código de tecla").arg(GetField(text, 1, sep).left(20));
        return false;
    }
    l.key = static_cast<std::uint16_t>(key);
    const QString lo = GetField(text, 2, sep), hi = GetField(text, 3, sep);
    if (!number(lo, 0.0f, 1.0f, l.min) || !number(hi, 0.0f, 1.0f, l.max)) {
        why = QStringLiteral("velocidade fora de 0 a 1 (%1 a %2)").arg(lo.left(20), hi.left(20));
        return false;
    }
    if (l.min > l.max) {
        why = QStringLiteral("o mínimo %1 é maior que o máximo %2").arg(lo, hi);
        return false;
    }
    if (const QString g = GetField(text, 4, sep); !number(g, 0.0f, kMaxGain, l.gain)) {
        why = QStringLiteral("ganho fora de 0 a 16: %1").arg(g.left(20));
        return false;
    }
    if (const QString p = GetField(text, 5, sep); !number(p, -1.0f, 1.0f, l.pan)) {
        why = QStringLiteral("pan fora de -1 a 1: %1").arg(p.left(20));
        return false;
    }
    l.file = text.mid(text.lastIndexOf(u'*') + 1);
    if (l.file.trimmed().isEmpty()) {
        why = QStringLiteral("falta o nome do arquivo");
        return false;
    }
    out = l;
    return true;
}

QString LayerFile::Format(const LayerLine& l) {
    return QStringLiteral("%1*%2*%3*%4*%5*%6")
        .arg(l.key)
        .arg(decimal(l.min), decimal(l.max), decimal(l.gain), decimal(l.pan), l.file);
}

void LayerFile::Load(const QString& folder, QStringList& errors) {
    *this = LayerFile{};
    if (folder.isEmpty()) return;
    const QString file = folder + kFileName;
    const QFileInfo info(file);
    if (!info.exists()) return;
    if (!info.isFile() || info.size() > kMaxBytes || !ReadTextLines(file, Raw)) {
        Raw.clear();
        errors.append(QStringLiteral("%1 não pôde ser lido ou passa de %2 KB; as teclas tocam as amostras de Keys.txt.")
                          .arg(kFileName)
                          .arg(kMaxBytes / 1024));
        return;
    }
    Present = true;
    int reported = 0, unreported = 0;
    const auto refuse = [&](int lineNumber, const QString& why, int key) {
        if (key > 0 && !Refused.contains(static_cast<std::uint16_t>(key))) Refused.append(static_cast<std::uint16_t>(key));
        if (reported >= kMaxReported) {
            ++unreported;
            return;
        }
        ++reported;
        QString text = QStringLiteral("%1, linha %2 recusada: %3.").arg(kFileName).arg(lineNumber).arg(why);
        if (key > 0) text += QStringLiteral(" A tecla %1 toca a amostra de Keys.txt.").arg(key);
        errors.append(text);
    };
    QList<LayerLine> good;
    QHash<std::uint16_t, int> perKey;
    for (int i = 0; i < Raw.size(); ++i) {
        const QString& text = Raw[i];
        if (text.trimmed().isEmpty()) continue;
        if (GetField(text, 1, QStringLiteral("*")).trimmed().compare(kVelocityWord, Qt::CaseInsensitive) == 0) {
            float v = 0.0f;
            if (text.count(u'*') == 1 && number(GetField(text, 2, QStringLiteral("*")), 0.0f, 1.0f, v)) Velocity = v;
            else refuse(i + 1, QStringLiteral("a velocidade das teclas vai de 0 a 1"), 0);
            continue;
        }
        LayerLine l;
        QString why;
        if (!Parse(text, l, why)) {
            refuse(i + 1, why, KeyOf(text));
            continue;
        }
        l.lineNumber = i + 1;
        if (++perKey[l.key] > kMaxLayers) {
            refuse(i + 1, QStringLiteral("a tecla já tem %1 camadas").arg(kMaxLayers), l.key);
            continue;
        }
        good.append(l);
    }
    for (const LayerLine& l : good)
        if (!Refused.contains(l.key)) Lines.append(l);
    if (unreported > 0) errors.append(QStringLiteral("%1: mais %2 linhas recusadas.").arg(kFileName).arg(unreported));
}

int LayersFor(const KeyLayers& key, float velocity, std::array<int, kMaxLayers>& pick) noexcept {
    int n = 0;
    for (int i = 0; i < key.count; ++i) {
        const KeyLayer& l = key.layer[static_cast<std::size_t>(i)];
        // A range holds its low end; its high end only at the top, so a
        // velocity on a boundary belongs to the layer above it.
        const bool holds = velocity >= l.min && (velocity < l.max || (velocity == l.max && (l.max >= key.top || l.min == l.max)));
        if (holds) pick[static_cast<std::size_t>(n++)] = i;
    }
    if (n == 0) {
        // Between ranges (or outside them all): the nearest.
        float best = 2.0f;
        for (int i = 0; i < key.count; ++i) {
            const KeyLayer& l = key.layer[static_cast<std::size_t>(i)];
            const float d = velocity < l.min ? l.min - velocity : velocity - l.max;
            if (d < best - 1e-6f) {
                best = d;
                n = 0;
            }
            if (d <= best + 1e-6f) pick[static_cast<std::size_t>(n++)] = i;
        }
    }
    return n;
}

int ChooseLayer(const KeyLayers& key, float velocity, LayerRandom& random) noexcept {
    if (key.count <= 0) return -1;
    std::array<int, kMaxLayers> pick{};
    int n = LayersFor(key, velocity, pick);
    if (n > 1 && key.last >= 0 && key.last < key.count) {
        // Never the same sound twice in a row while another one is there.
        const rb::Sound previous = key.layer[static_cast<std::size_t>(key.last)].sound;
        int kept = 0;
        for (int k = 0; k < n; ++k)
            if (key.layer[static_cast<std::size_t>(pick[static_cast<std::size_t>(k)])].sound != previous)
                pick[static_cast<std::size_t>(kept++)] = pick[static_cast<std::size_t>(k)];
        if (kept > 0) n = kept;
    }
    return n == 1 ? pick[0] : pick[random.Below(static_cast<std::uint32_t>(n))];
}

}  // namespace rimbal
