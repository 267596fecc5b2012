// Reading a Hydrogen drumkit.xml and laying its instruments out on the keyboard
// by role.
#include "packages/hydrogen.h"

#include "base/textfiles.h"
#include "base/textroutines.h"
#include "kit/layers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>

namespace rimbal {
namespace {

constexpr int kMaxLines = 64;
constexpr qint64 kMaxXmlBytes = 16 * 1024 * 1024;
// Real kits have a few dozen instruments and texts of a few KB; more is
// only there to keep the program busy.
constexpr int kMaxInstruments = 1024;
constexpr qsizetype kMaxXmlText = 64 * 1024;

// The text of an element; a text past the bound stops the reader with an
// error, as a damaged file does.
QString text(QXmlStreamReader& x) {
    QString t = x.readElementText(QXmlStreamReader::SkipChildElements);
    if (t.size() > kMaxXmlText) {
        x.raiseError(QStringLiteral("texto longo demais"));
        return {};
    }
    return t.trimmed();
}

double number(const QString& t, double fallback) {
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok && std::isfinite(v) ? v : fallback;
}

int integer(const QString& t, int fallback) {
    bool ok = false;
    const int v = t.toInt(&ok);
    return ok ? v : fallback;
}

HydrogenLayer readLayer(QXmlStreamReader& x) {
    HydrogenLayer layer;
    while (x.readNextStartElement()) {
        const auto n = x.name();
        if (n == u"filename") layer.fileName = text(x);
        else if (n == u"min") layer.min = number(text(x), 0.0);
        else if (n == u"max") layer.max = number(text(x), 1.0);
        else if (n == u"gain") layer.gain = number(text(x), 1.0);
        else x.skipCurrentElement();
    }
    return layer;
}

HydrogenInstrument readInstrument(QXmlStreamReader& x) {
    HydrogenInstrument ins;
    QList<HydrogenLayer> direct, component;
    QString bareFile;  // the oldest kits name one sample on the instrument itself
    double pan = 0.0, panL = -1.0, panR = -1.0;
    bool hasPan = false;
    while (x.readNextStartElement()) {
        const auto n = x.name();
        if (n == u"id") ins.id = integer(text(x), -1);
        else if (n == u"name") ins.name = text(x);
        else if (n == u"volume") ins.volume = number(text(x), 1.0);
        else if (n == u"gain") ins.gain = number(text(x), 1.0);
        else if (n == u"isMuted") ins.muted = text(x).compare(u"true", Qt::CaseInsensitive) == 0;
        else if (n == u"muteGroup") ins.muteGroup = integer(text(x), -1);
        else if (n == u"midiOutNote") ins.midiNote = integer(text(x), -1);
        else if (n == u"filename") bareFile = text(x);
        else if (n == u"pan") {
            pan = number(text(x), 0.0);
            hasPan = true;
        } else if (n == u"pan_L") panL = number(text(x), -1.0);
        else if (n == u"pan_R") panR = number(text(x), -1.0);
        else if (n == u"layer") direct.append(readLayer(x));
        else if (n == u"instrumentComponent") {
            QList<HydrogenLayer> layers;
            while (x.readNextStartElement()) {
                if (x.name() == u"layer") layers.append(readLayer(x));
                else x.skipCurrentElement();
            }
            if (component.isEmpty()) component = layers;
        } else {
            x.skipCurrentElement();
        }
    }
    if (ins.muteGroup < -1) ins.muteGroup = -1;
    // Older kits keep a gain per side; the louder side is full, the other a
    // share of it, as Hydrogen reads them.
    if (!hasPan && panL >= 0.0 && panR >= 0.0 && (panL > 0.0 || panR > 0.0)) pan = panL >= panR ? panR / panL - 1.0 : 1.0 - panL / panR;
    ins.pan = std::clamp(pan, -1.0, 1.0);
    if (!direct.isEmpty()) ins.layers = direct;
    else if (!component.isEmpty()) ins.layers = component;
    else if (!bareFile.isEmpty()) ins.layers.append(HydrogenLayer{bareFile});
    return ins;
}

// ---- names ----

QStringList words(const QString& name) {
    // "HiHat-Open2" -> hihat, open, 2
    QStringList out;
    QString cur;
    auto flush = [&] {
        if (!cur.isEmpty()) out.append(cur);
        cur.clear();
    };
    for (const QChar c : name.toLower()) {
        if (!c.isLetterOrNumber()) {
            flush();
            continue;
        }
        if (!cur.isEmpty() && cur.back().isDigit() != c.isDigit()) flush();
        cur += c;
    }
    flush();
    return out;
}

bool hasAny(const QStringList& w, std::initializer_list<const char*> list) {
    for (const char* s : list)
        if (w.contains(QLatin1String(s))) return true;
    return false;
}

bool hasPrefix(const QStringList& w, std::initializer_list<const char*> list) {
    for (const QString& word : w)
        for (const char* s : list)
            if (word.startsWith(QLatin1String(s))) return true;
    return false;
}

// Toms from high to low: hints in the name, then a number (Tom 1 is the highest).
double tomRank(const QString& name) {
    const QStringList w = words(name);
    double number = 0;
    for (const QString& word : w)
        if (word.size() == 1 && word[0].isDigit()) number = word.toInt();
    if (hasAny(w, {"floor", "ft", "surdo"})) return 8 + number / 10;
    if (hasAny(w, {"hi", "high", "hitom", "agudo"})) return 0.5;
    if (hasAny(w, {"mid", "med", "middle", "medio"})) return 2.5;
    if (hasAny(w, {"low", "lo", "lotom", "grave"})) return 4.5;
    return number > 0 ? number : 2.5;
}

// A name as a file or folder name that is safe here and in a Windows-1252
// key list: no separators, no "*" (the key list's field separator), no
// control characters, no leading dot, not too long.
QString safeName(const QString& name, const QString& fallback) {
    QString out;
    for (const QChar c : name) {
        const bool bad = c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c) ||
                         ToWindows1252(QString(c)) == QByteArrayLiteral("?");
        out += bad ? u'_' : c;
    }
    while (!out.isEmpty() && (out.front() == u'.' || out.front() == u' ')) out.remove(0, 1);
    while (!out.isEmpty() && (out.back() == u'.' || out.back() == u' ')) out.chop(1);
    if (out.isEmpty()) return fallback;
    constexpr int kMaxName = 100;
    if (out.size() > kMaxName) {
        const qsizetype dot = out.lastIndexOf(u'.');
        const QString ext = dot > 0 && out.size() - dot <= 8 ? out.mid(dot) : QString();
        out = out.left(kMaxName - ext.size()) + ext;
    }
    return out;
}

// kick.wav, kick2.wav, kick3.wav ... unique without regard to letter case.
QString uniqueName(const QString& name, QSet<QString>& taken) {
    QString candidate = name;
    const qsizetype dot = name.lastIndexOf(u'.');
    for (int n = 2; taken.contains(candidate.toLower()); ++n)
        candidate = dot > 0 ? name.left(dot) + QString::number(n) + name.mid(dot) : name + QString::number(n);
    taken.insert(candidate.toLower());
    return candidate;
}

// The sample's absolute path, only when it lies inside the kit folder.
QString resolveSample(const QString& kitFolder, const QString& stored, QString& reason) {
    if (HasDrive(stored)) {
        reason = QStringLiteral("amostra fora da pasta do kit: ") + stored;
        return {};
    }
    const QFileInfo fi(JoinRelative(kitFolder, stored));
    if (!fi.isFile()) {
        reason = QStringLiteral("amostra não encontrada: ") + stored;
        return {};
    }
    const QString real = fi.canonicalFilePath();
    const QString base = QFileInfo(kitFolder).canonicalFilePath() + u'/';
    if (real.isEmpty() || base.size() < 2 || !real.startsWith(base)) {
        reason = QStringLiteral("amostra fora da pasta do kit: ") + stored;
        return {};
    }
    return real;
}

struct Candidate {
    QString label;
    DrumRole role = DrumRole::None;
    int muteGroup = -1;
    QString source;  // the key's own layer's
    float volume = 1.0f;
    double level = 1.0;
    float pan = 0.0f;
    QList<KitLayer> layers;
    int midiNote = -1;
    QList<std::uint16_t> keys;  // the first is the main key
};

struct Line {
    int candidate;
    std::uint16_t key;
    int slot;  // index into kKitLayout, or -1 for a spare key
    int order;
};

// The layer a computer key plays (the package's key velocity, as a key press
// chooses); the hardest when the choice falls on none of the first layers.
const HydrogenLayer* plainLayer(const HydrogenInstrument& ins, const HydrogenLayer* hardest) {
    KeyLayers key;
    key.count = static_cast<int>(std::min<qsizetype>(ins.layers.size(), kMaxLayers));
    key.top = 0.0f;
    for (int i = 0; i < key.count; ++i) {
        const HydrogenLayer& l = ins.layers[i];
        const float lo = static_cast<float>(std::clamp(l.min, 0.0, 1.0)), hi = static_cast<float>(std::clamp(l.max, 0.0, 1.0));
        key.layer[static_cast<std::size_t>(i)].min = std::min(lo, hi);
        key.layer[static_cast<std::size_t>(i)].max = std::max(lo, hi);
        key.top = std::max(key.top, std::max(lo, hi));
    }
    std::array<int, kMaxLayers> pick{};
    return LayersFor(key, kDefaultKeyVelocity, pick) > 0 ? &ins.layers[pick[0]] : hardest;
}

}  // namespace

const HydrogenLayer* HydrogenInstrument::LoudestLayer() const {
    const HydrogenLayer* best = nullptr;
    for (const HydrogenLayer& l : layers)
        if (!best || l.max > best->max) best = &l;
    return best;
}

bool ReadHydrogenKit(const QString& path, HydrogenKit& kit, QString* error) {
    const auto fail = [error](const QString& message) {
        if (error) *error = message;
        return false;
    };
    const QString file = QFileInfo(path).isDir() ? QDir(path).filePath(QStringLiteral("drumkit.xml")) : path;
    QFile f(file);
    if (!QFileInfo(file).isFile() || !f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Não foi possível ler o arquivo ") + QDir::toNativeSeparators(file) + u'.');
    if (f.size() > kMaxXmlBytes)
        return fail(QStringLiteral("O arquivo ") + QDir::toNativeSeparators(file) + QStringLiteral(" é grande demais para um kit."));

    HydrogenKit read;
    read.folder = QFileInfo(file).absolutePath() + u'/';
    QXmlStreamReader x(&f);
    // Kits never declare a DTD; one is refused before any entity it
    // declares is used (a 300 KB file can expand to gigabytes).
    while (!x.atEnd() && !x.hasError() && x.readNext() != QXmlStreamReader::StartElement)
        if (x.tokenType() == QXmlStreamReader::DTD || x.tokenType() == QXmlStreamReader::EntityReference)
            return fail(QStringLiteral("O arquivo %1 declara entidades (DTD), o que um kit do Hydrogen não faz.")
                            .arg(QDir::toNativeSeparators(file)));
    if (x.tokenType() != QXmlStreamReader::StartElement || x.name() != u"drumkit_info") {
        if (x.hasError()) return fail(QStringLiteral("O arquivo %1 está danificado (linha %2).").arg(QDir::toNativeSeparators(file)).arg(x.lineNumber()));
        return fail(QStringLiteral("O arquivo ") + QDir::toNativeSeparators(file) + QStringLiteral(" não é um kit do Hydrogen."));
    }
    while (x.readNextStartElement()) {
        const auto n = x.name();
        if (n == u"name") read.name = text(x);
        else if (n == u"author") read.author = text(x);
        else if (n == u"info") read.info = text(x);
        else if (n == u"license") read.license = text(x);
        else if (n == u"instrumentList") {
            while (x.readNextStartElement()) {
                if (x.name() != u"instrument") x.skipCurrentElement();
                else if (read.instruments.size() < kMaxInstruments) read.instruments.append(readInstrument(x));
                else return fail(QStringLiteral("O kit %1 tem mais de %2 instrumentos.").arg(QDir::toNativeSeparators(file)).arg(kMaxInstruments));
            }
        } else {
            x.skipCurrentElement();
        }
    }
    // Anything after the root must still be well formed.
    while (!x.atEnd() && !x.hasError()) x.readNext();
    if (x.error() == QXmlStreamReader::CustomError)
        return fail(QStringLiteral("O arquivo %1 tem um texto longo demais para um kit (linha %2).")
                        .arg(QDir::toNativeSeparators(file))
                        .arg(x.lineNumber()));
    if (x.hasError()) return fail(QStringLiteral("O arquivo %1 está danificado (linha %2).").arg(QDir::toNativeSeparators(file)).arg(x.lineNumber()));
    kit = std::move(read);
    return true;
}

DrumRole RoleOfInstrument(const QString& name) {
    const QStringList w = words(name);
    const QString joined = w.join(QString());
    if (hasAny(w, {"cowbell", "campana"}) || (hasAny(w, {"cow"}) && hasAny(w, {"bell"}))) return DrumRole::Cowbell;
    // Hi-hats are often written in one word: OpenHH, ClosedHat, HHC.
    static const QRegularExpression hatWord(
        QStringLiteral("^(hi|open|opened|closed|close|pedal|semiopen|halfopen|foot)?(hat|hh)(s|open|closed|pedal|[cop])?$"));
    const bool hat = hasPrefix(w, {"chimbal"}) ||
                     std::any_of(w.begin(), w.end(), [](const QString& word) { return hatWord.match(word).hasMatch(); });
    if (hat) {
        if (joined.contains(u"pedal") || joined.contains(u"foot") || joined.contains(u"chick") || hasAny(w, {"hhp", "pd"}))
            return DrumRole::HatPedal;
        if (joined.contains(u"open") || joined.contains(u"semi") || joined.contains(u"half") || joined.contains(u"aberto") || hasAny(w, {"hho", "op"}))
            return DrumRole::HatOpen;
        return DrumRole::HatClosed;
    }
    if (hasPrefix(w, {"kick", "kik", "bassdrum", "bumbo"}) || hasAny(w, {"bd"}) || (hasAny(w, {"bass"}) && hasAny(w, {"drum"})))
        return DrumRole::Kick;
    if (hasPrefix(w, {"rim", "sidestick", "crossstick"}) || hasAny(w, {"stick", "aro", "cross"})) return DrumRole::Rim;
    if (hasPrefix(w, {"snare", "caixa"}) || hasAny(w, {"sd", "snr"})) return DrumRole::Snare;
    if (hasPrefix(w, {"clap", "handclap", "palma"})) return DrumRole::Clap;
    if (hasPrefix(w, {"tom", "floor", "surdo"}) || hasAny(w, {"ft"})) return DrumRole::TomMid;
    if (hasAny(w, {"bell", "cupula", "cup"})) return DrumRole::RideBell;
    if (hasPrefix(w, {"ride", "conducao"})) return DrumRole::Ride;
    if (hasPrefix(w, {"crash", "splash", "china", "cymbal", "cym", "crsh", "prato"})) return DrumRole::Crash;
    if (hasPrefix(w, {"tamb", "pandeir", "jingle"})) return DrumRole::Tambourine;
    if (hasPrefix(w, {"shak", "maraca", "cabasa", "ganza", "chocalho"})) return DrumRole::Shaker;
    return DrumRole::None;
}

namespace {

bool isWordChar(QChar c) { return c == u'_' || (c.unicode() < 0x80 && c.isLetterOrNumber()); }
bool isBlank(QChar c) { return c == u' ' || (c.unicode() >= 0x09 && c.unicode() <= 0x0D); }

// Drops every <head ...>...</head> (style, script alike) up to the first
// closing tag of its name. One pass: once a closing tag of a name is known
// to be missing after some point, it is not looked for again, so a text of
// unclosed tags costs no more than a short one per character.
QString withoutHiddenBlocks(const QString& t) {
    static const QString names[] = {QStringLiteral("head"), QStringLiteral("style"), QStringLiteral("script")};
    qsizetype missingFrom[] = {-1, -1, -1};
    QString out;
    out.reserve(t.size());
    for (qsizetype i = 0; i < t.size();) {
        qsizetype end = -1;
        for (int k = 0; k < 3 && end < 0 && t[i] == u'<'; ++k) {
            const QString& name = names[k];
            const qsizetype after = i + 1 + name.size();
            if (QStringView(t).mid(i + 1, name.size()).compare(name, Qt::CaseInsensitive) != 0 ||
                (after < t.size() && isWordChar(t[after])))
                continue;
            if (missingFrom[k] >= 0 && after >= missingFrom[k]) continue;
            for (qsizetype from = after;;) {
                const qsizetype close = t.indexOf(QStringLiteral("</") + name, from, Qt::CaseInsensitive);
                if (close < 0) {
                    missingFrom[k] = after;
                    break;
                }
                qsizetype j = close + 2 + name.size();
                while (j < t.size() && isBlank(t[j])) ++j;
                if (j < t.size() && t[j] == u'>') {
                    end = j + 1;
                    break;
                }
                from = close + 1;
            }
        }
        if (end >= 0) {
            i = end;
        } else {
            out += t[i];
            ++i;
        }
    }
    return out;
}

// Every tag becomes a blank; a "<" without a ">" after it stays.
QString withoutTags(const QString& t) {
    QString out;
    out.reserve(t.size());
    for (qsizetype i = 0; i < t.size();) {
        const qsizetype close = t[i] == u'<' ? t.indexOf(u'>', i + 1) : -1;
        if (t[i] == u'<' && close < 0) {
            out += QStringView(t).mid(i);  // no ">" further on: no tag either
            break;
        }
        if (close >= 0) {
            out += u' ';
            i = close + 1;
        } else {
            out += t[i];
            ++i;
        }
    }
    return out;
}

}  // namespace

QString PlainTextLine(const QString& text) {
    static const QRegularExpression numeric(QStringLiteral("&#(x?)([0-9a-fA-F]{1,6});"));
    const QString t = withoutTags(withoutHiddenBlocks(text));
    QString out;
    qsizetype last = 0;
    for (auto it = numeric.globalMatch(t); it.hasNext();) {
        const auto m = it.next();
        out += t.mid(last, m.capturedStart() - last);
        bool ok = false;
        const char32_t code = m.captured(2).toUInt(&ok, m.captured(1).isEmpty() ? 10 : 16);
        if (ok && code >= 0x20 && code < 0x110000 && QChar::isPrint(code)) out += QString::fromUcs4(&code, 1);
        last = m.capturedEnd();
    }
    out += t.mid(last);
    out.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    out.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    out.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    out.replace(QStringLiteral("&apos;"), QStringLiteral("'"));
    out.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    out.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return out.simplified();
}

KitPlan PlanHydrogenKit(const HydrogenKit& kit, const QHash<QString, QString>& refused) {
    KitPlan plan;
    plan.name = kit.name.simplified();
    plan.author = kit.author.simplified();
    plan.info = PlainTextLine(kit.info);
    plan.license = PlainTextLine(kit.license);
    plan.folderName = safeName(plan.name, QStringLiteral("Kit do Hydrogen"));
    while (plan.folderName.contains(QStringLiteral(".."))) plan.folderName.replace(QStringLiteral(".."), QStringLiteral("."));

    // Instruments that can get a key.
    QList<Candidate> cands;
    for (int i = 0; i < kit.instruments.size(); ++i) {
        const HydrogenInstrument& ins = kit.instruments[i];
        Candidate c;
        c.label = ins.name.simplified();
        if (c.label.isEmpty()) c.label = QStringLiteral("Instrumento %1").arg(i + 1);
        // Every layer whose sample can be taken.
        QString reason;
        HydrogenInstrument usable = ins;
        usable.layers.clear();
        QList<QString> sources;
        QStringList leftOut;
        int pastBound = 0;
        if (ins.muted) reason = QStringLiteral("silenciado no kit");
        else if (!ins.LoudestLayer() || ins.LoudestLayer()->fileName.isEmpty()) reason = QStringLiteral("nenhuma amostra");
        for (const HydrogenLayer& l : ins.layers) {
            if (ins.muted || l.fileName.isEmpty()) continue;
            QString why;
            QString source = resolveSample(kit.folder, l.fileName, why);
            if (refused.contains(source)) {
                why = refused.value(source);
                source.clear();
            }
            if (source.isEmpty()) {
                // The hardest layer's reason stands for an instrument that keeps none.
                if (&l == ins.LoudestLayer() || reason.isEmpty()) reason = why;
                leftOut.append(why);
                continue;
            }
            if (usable.layers.size() == kMaxLayers) {  // more the key could not load
                ++pastBound;
                continue;
            }
            usable.layers.append(l);
            sources.append(source);
        }
        const HydrogenLayer* layer = usable.LoudestLayer();
        if (!layer) {
            plan.notPlaced.append(c.label + QStringLiteral(": ") + reason);
            continue;
        }
        for (const QString& why : leftOut) plan.layerNotes.append(c.label + QStringLiteral(": camada ignorada (") + why + u')');
        if (pastBound > 0)
            plan.layerNotes.append(QStringLiteral("%1: %2 camadas ignoradas (uma tecla guarda até %3)").arg(c.label).arg(pastBound).arg(kMaxLayers));
        // The key's own sample is the one a plain key press plays, so a
        // reader that knows nothing of layers hears what a key press sounds.
        layer = plainLayer(usable, layer);
        c.source = sources[static_cast<qsizetype>(layer - usable.layers.constData())];
        for (int k = 0; k < usable.layers.size(); ++k) {
            const HydrogenLayer& l = usable.layers[k];
            const float lo = static_cast<float>(std::clamp(l.min, 0.0, 1.0)), hi = static_cast<float>(std::clamp(l.max, 0.0, 1.0));
            c.layers.append(KitLayer{sources[k], QString(), std::min(lo, hi), std::max(lo, hi), std::max(0.0, ins.volume * l.gain)});
        }
        c.role = RoleOfInstrument(ins.name);
        c.muteGroup = ins.muteGroup;
        c.level = std::max(0.0, ins.volume * layer->gain);
        c.volume = static_cast<float>(std::clamp(ins.volume * layer->gain, 0.0, 1.0));
        c.pan = static_cast<float>(ins.pan);
        c.midiNote = ins.midiNote;
        cands.append(c);
    }

    // Toms from high to low onto the three tom keys.
    QList<int> toms;
    for (int i = 0; i < cands.size(); ++i)
        if (cands[i].role == DrumRole::TomMid) toms.append(i);
    std::stable_sort(toms.begin(), toms.end(), [&](int a, int b) { return tomRank(cands[a].label) < tomRank(cands[b].label); });
    static constexpr DrumRole kTomRoles[] = {DrumRole::TomHigh, DrumRole::TomMid, DrumRole::TomLow};
    for (int k = 0; k < toms.size(); ++k) cands[toms[k]].role = k < 3 ? kTomRoles[k] : DrumRole::None;

    constexpr int kLayoutSize = static_cast<int>(std::size(kKitLayout));
    QList<Line> lines;
    QSet<std::uint16_t> used;
    const auto place = [&](int c, int slot, std::uint16_t key, int order) {
        cands[c].keys.append(key);
        used.insert(key);
        lines.append(Line{c, key, slot, order});
    };
    // Main keys: each instrument of a role takes the role's next free key.
    QList<int> spare;
    for (int c = 0; c < cands.size(); ++c) {
        int slot = -1;
        for (int s = 0; s < kLayoutSize && slot < 0 && cands[c].role != DrumRole::None; ++s)
            if (kKitLayout[s].role == cands[c].role && !used.contains(kKitLayout[s].key)) slot = s;
        if (slot >= 0) place(c, slot, kKitLayout[slot].key, slot);
        else spare.append(c);
    }
    // The rest in kit order on the spare keys, then on layout keys nobody took.
    int next = 0;
    for (const int c : spare) {
        while (next < static_cast<int>(std::size(kSpareKeys)) && used.contains(kSpareKeys[next])) ++next;
        if (next < static_cast<int>(std::size(kSpareKeys))) {
            place(c, -1, kSpareKeys[next], kLayoutSize + next);
            continue;
        }
        int slot = -1;
        for (int s = 0; s < kLayoutSize && slot < 0; ++s)
            if (!used.contains(kKitLayout[s].key)) slot = s;
        if (slot < 0 || lines.size() >= kMaxLines) {
            plan.notPlaced.append(cands[c].label + QStringLiteral(": não há mais teclas livres"));
            continue;
        }
        place(c, -1, kKitLayout[slot].key, slot);
    }
    // Second keys of a role repeat its instruments in turn, as in the demo kit.
    for (int s = 0; s < kLayoutSize && lines.size() < kMaxLines; ++s) {
        if (used.contains(kKitLayout[s].key)) continue;
        QList<int> owners;
        for (const Line& l : lines)
            if (l.slot >= 0 && kKitLayout[l.slot].role == kKitLayout[s].role && !owners.contains(l.candidate)) owners.append(l.candidate);
        if (owners.isEmpty()) continue;
        int repeats = 0;
        for (int p = 0; p < s; ++p)
            if (kKitLayout[p].role == kKitLayout[s].role) ++repeats;
        place(owners[repeats % owners.size()], s, kKitLayout[s].key, s);
    }

    // MIDI notes onto main keys; a note two instruments share goes to the first.
    QSet<int> notes;
    for (const Candidate& c : cands) {
        if (c.midiNote < 0 || c.midiNote > 127 || c.keys.isEmpty() || notes.contains(c.midiNote)) continue;
        notes.insert(c.midiNote);
        plan.notes.append(KitNote{c.midiNote, c.keys.front()});
    }

    // Stop keys.
    const auto mainKeyOf = [&](DrumRole role, int except, int group) -> std::uint16_t {
        for (int c = 0; c < cands.size(); ++c)
            if (c != except && cands[c].role == role && !cands[c].keys.isEmpty() && (group < 0 || cands[c].muteGroup == group))
                return cands[c].keys.front();
        return 0;
    };
    QList<KitKey> keys;
    for (const Line& l : lines) {
        const Candidate& c = cands[l.candidate];
        const DrumRole slotStop = l.slot >= 0 ? kKitLayout[l.slot].stopRole : DrumRole::None;
        std::uint16_t stop = 0;
        if (c.muteGroup >= 0) {
            // The closing member of the group silences the others.
            int closer = -1, members = 0;
            for (int m = 0; m < cands.size(); ++m) {
                if (cands[m].muteGroup != c.muteGroup || cands[m].keys.isEmpty()) continue;
                ++members;
                closer = m;
            }
            for (const DrumRole r : {DrumRole::HatPedal, DrumRole::HatClosed})
                for (int m = 0; m < cands.size(); ++m)
                    if (cands[m].muteGroup == c.muteGroup && cands[m].role == r && !cands[m].keys.isEmpty()) closer = m;
            if (members >= 2 && closer != l.candidate) {
                if (slotStop != DrumRole::None) stop = mainKeyOf(slotStop, l.candidate, c.muteGroup);
                if (!stop) stop = cands[closer].keys.front();
            }
        } else if (c.role == DrumRole::HatOpen) {
            for (const DrumRole r : {slotStop, DrumRole::HatClosed, DrumRole::HatPedal})
                if (!stop && r != DrumRole::None) stop = mainKeyOf(r, l.candidate, -1);
        }
        keys.append(KitKey{l.key, stop, stop != 0, c.volume, QString(), c.label, c.level, c.pan, c.layers});
    }

    // Key list order: by place on the keyboard, but a line that a key
    // silences comes before the line that key plays, since a press ends at
    // the first line it plays.
    QList<int> pending;
    for (int i = 0; i < lines.size(); ++i) pending.append(i);
    std::stable_sort(pending.begin(), pending.end(), [&](int a, int b) { return lines[a].order < lines[b].order; });
    QList<int> ordered;
    while (!pending.isEmpty()) {
        int pick = 0;
        for (int p = 0; p < pending.size(); ++p) {
            const std::uint16_t key = keys[pending[p]].playKey;
            bool blocked = false;
            for (const int q : pending)
                if (q != pending[p] && keys[q].stopKey == key) blocked = true;
            if (!blocked) {
                pick = p;
                break;
            }
        }
        ordered.append(pending.takeAt(pick));
    }

    // Each sample file once, under a safe name that no other file has: the
    // keys' own samples first, then the other layers'.
    QSet<QString> taken{QStringLiteral("keys.txt"), QStringLiteral("info.txt"), QStringLiteral("midi.txt"),
                        QStringLiteral("layers.txt")};
    QHash<QString, QString> nameOf;
    const auto nameSample = [&](const QString& source) {
        if (!nameOf.contains(source)) {
            const QString name = uniqueName(safeName(QFileInfo(source).fileName(), QStringLiteral("amostra.wav")), taken);
            nameOf.insert(source, name);
            plan.samples.append(KitSample{source, name});
        }
        return nameOf.value(source);
    };
    for (const int i : ordered) {
        KitKey k = keys[i];
        k.file = nameSample(cands[lines[i].candidate].source);
        plan.keys.append(k);
    }
    for (KitKey& k : plan.keys)
        for (KitLayer& l : k.layers) l.file = nameSample(l.source);
    return plan;
}

void KitPlan::KeepKeyLayer(int k) {
    KitKey& key = keys[k];
    for (const KitLayer& l : key.layers)
        if (l.file == key.file) {
            key.layers = {l};
            break;
        }
    QSet<QString> used;
    for (const KitKey& other : keys) {
        used.insert(other.file);
        for (const KitLayer& l : other.layers) used.insert(l.file);
    }
    samples.removeIf([&](const KitSample& s) { return !used.contains(s.name); });
}

QStringList KitPlan::LayerLines() const {
    QStringList out;
    for (const KitKey& k : keys) {
        if (k.layers.size() < 2 && k.pan == 0.0f) continue;
        // Gains are relative to the key's volume as Keys.txt holds it, two
        // decimals, so that volume times gain is the layer's own level.
        const double volume = std::round(std::min(1.0, k.level * scale) * 100.0) / 100.0;
        for (const KitLayer& l : k.layers) {
            LayerLine line;
            line.key = k.playKey;
            line.min = l.min;
            line.max = l.max;
            line.gain = volume > 0.0 ? static_cast<float>(std::min<double>(LayerFile::kMaxGain, l.level * scale / volume)) : 1.0f;
            line.pan = k.pan;
            line.file = l.file;
            out.append(LayerFile::Format(line));
        }
    }
    if (!out.isEmpty()) out.prepend(LayerFile::VelocityLine(kDefaultKeyVelocity));
    return out;
}

QStringList KitPlan::KeyLines() const {
    QStringList out;
    for (const KitKey& k : keys) {
        QString line = QStringLiteral("%1*%2*0*%3*0*").arg(k.playKey).arg(k.stopKey).arg(k.stopAll ? 1 : 0);
        line += FormatFixed2(scale == 1.0 ? k.volume : std::min(1.0, k.level * scale)) + u'*';
        for (int e = 0; e < 16; ++e) line += QStringLiteral("0*");
        out.append(line + k.file);
    }
    return out;
}

QStringList KitPlan::MidiLines() const {
    QStringList out;
    for (const KitNote& n : notes) out.append(QStringLiteral("%1*%2").arg(n.note).arg(n.key));
    return out;
}

QStringList KitPlan::InfoLines(const QString& packageName) const {
    QString comment = info;
    if (!license.isEmpty()) comment += (comment.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("(Licença: ") + license + u')';
    return {QStringLiteral("[Info]"),          QStringLiteral("Name=") + packageName, QStringLiteral("Author=") + author,
            QStringLiteral("Contact="),        QStringLiteral("Version="),           QStringLiteral("Comment=") + comment};
}

}  // namespace rimbal
