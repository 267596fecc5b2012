// Importing a Hydrogen drum kit as a package: read and lay out the kit, check
// its samples with the engine's decoder, build the package in a hidden
// staging folder, then name it, move it into place and take it into use as
// a package import does.
#include "packages/packages.h"

#include "packages/hydrogen.h"
#include "archives/kitarchive.h"
#include "base/prompt.h"
#include "settings/settings.h"
#include "kit/layers.h"
#include "kit/soundcore.h"
#include "kit/soundinfo.h"
#include "base/textfiles.h"

#include "rbcore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace rimbal {
namespace {

QString shown(const QString& path) { return QDir::toNativeSeparators(path); }

// The loudest single hit of an imported kit: -6 dBFS, room for a few at once.
constexpr double kKitPeak = 0.5011872336;

struct SampleMeasure {
    float left = 0.0f, right = 0.0f;  // peaks
    std::uint64_t bytes = 0;          // decoded
};

// An engine of its own that plays nothing: the samples are checked whatever
// state the program's engine is in.
class DecoderCheck {
public:
    DecoderCheck() {
        if (rb::System_Create(&sys_) != rb::OK) return;
        rb::System_SetOutput(sys_, rb::OUTPUTTYPE_NULL);
        ready_ = rb::System_Init(sys_, 1, rb::INIT_NORMAL, nullptr) == rb::OK;
    }
    ~DecoderCheck() {
        if (sys_ != rb::System{}) rb::System_Release(sys_);
    }
    DecoderCheck(const DecoderCheck&) = delete;
    DecoderCheck& operator=(const DecoderCheck&) = delete;

    bool ready() const { return ready_; }
    // Decodes the file and plays it once, alone, at full volume in the
    // centre: the peak of each side and what it takes in memory decoded.
    rb::Result decode(const QString& file, SampleMeasure& measure) {
        measure = {};
        rb::Sound sound{};
        const rb::Result r = rb::System_CreateSound(sys_, QFile::encodeName(file).constData(), rb::MODE_SOFTWARE, nullptr, &sound);
        if (sound == rb::Sound{}) return r;
        measure.bytes = DecodedBytes(sys_, sound);
        rb::Channel ch{};
        if (rb::System_PlaySound(sys_, rb::CHANNEL_FREE, sound, false, &ch) == rb::OK) {
            bool playing = true;
            while (playing) {
                rb::System_RenderNull(sys_, buffer_.data(), kChunk);
                for (std::size_t i = 0; i < buffer_.size(); i += 2) {
                    measure.left = std::max(measure.left, std::fabs(buffer_[i]));
                    measure.right = std::max(measure.right, std::fabs(buffer_[i + 1]));
                }
                if (rb::Channel_IsPlaying(ch, &playing) != rb::OK) playing = false;
            }
        }
        rb::Sound_Release(sound);
        return r;
    }

private:
    static constexpr unsigned kChunk = 8192;
    rb::System sys_{};
    bool ready_ = false;
    std::vector<float> buffer_ = std::vector<float>(2 * kChunk);
};

// The gain of the louder side at a constant-power position, as the engine
// plays it: 1 in the centre, up to the square root of 2 at either side.
double loudestSide(float pan, const SampleMeasure& m) {
    if (pan == 0.0f) return std::max(m.left, m.right);
    const double theta = (pan + 1.0) * std::numbers::pi / 4;
    return std::max(m.left * std::sqrt(2.0) * std::cos(theta), m.right * std::sqrt(2.0) * std::sin(theta));
}

// The headroom factor: the kit's loudest single hit at -6 dBFS. A hit plays
// at most at full volume (the engine's largest), so a layer whose level the
// factor takes past 1 is heard at 1: the loudest hit for a factor is found
// with that in mind, and the factor by halving the interval that holds it.
double headroom(const KitPlan& plan, const QHash<QString, SampleMeasure>& measures) {
    struct Hit {
        double level, peak;
    };
    std::vector<Hit> hits;
    double least = 0.0;
    for (const KitKey& k : plan.keys)
        for (const KitLayer& l : k.layers) {
            const double peak = loudestSide(k.pan, measures.value(l.source));
            if (l.level <= 0.0 || peak <= 0.0) continue;
            hits.push_back({l.level, peak});
            least = least == 0.0 ? l.level : std::min(least, l.level);
        }
    if (hits.empty()) return 1.0;
    const auto loudest = [&](double scale) {
        double most = 0.0;
        for (const Hit& h : hits) most = std::max(most, std::min(1.0, h.level * scale) * h.peak);
        return most;
    };
    // Beyond 1 / least every layer plays at full volume: nothing gets louder.
    double low = 0.0, high = 1.0 / least;
    if (loudest(high) <= kKitPeak) return high;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (low + high);
        (loudest(mid) > kKitPeak ? high : low) = mid;
    }
    return low;
}

}  // namespace

QString Packages::HydrogenKitsFolder() {
    for (const QString& folder : {QDir::homePath() + QStringLiteral("/.hydrogen/data/drumkits"),
                                  QStringLiteral("/usr/share/hydrogen/data/drumkits")})
        if (QFileInfo(folder).isDir()) return folder;
    return {};
}

bool Packages::stageKit(const KitPlan& plan, const QString& staging, bool moveSamples, QStringList& errors) {
    report(QStringLiteral("Copiando amostras..."), 0);
    for (int i = 0; i < plan.samples.size(); ++i) {
        const KitSample& s = plan.samples[i];
        const QString target = staging + s.name;
        // Samples unpacked from an archive are ours to move; a kit folder is the user's.
        const bool done = (moveSamples && QFile::rename(s.source, target)) || QFile::copy(s.source, target);
        if (!done) {
            errors << QStringLiteral("Não foi possível copiar a amostra %1 para %2.").arg(shown(s.source), shown(target));
            return false;
        }
        // A kit installed read-only must not give a package that cannot be deleted.
        QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                          QFileDevice::ReadOther);
        report(QString(), static_cast<double>(i + 1) / static_cast<double>(plan.samples.size()));
    }
    QString error;
    const QStringList midi = plan.MidiLines();
    const QStringList layers = plan.LayerLines();
    if (!WriteTextLines(staging + QStringLiteral("Keys.txt"), plan.KeyLines(), &error) ||
        !WriteTextLines(staging + QStringLiteral("Info.txt"), plan.InfoLines(plan.folderName), &error) ||
        (!midi.isEmpty() && !WriteTextLines(staging + QStringLiteral("Midi.txt"), midi, &error)) ||
        (!layers.isEmpty() && !WriteTextLines(staging + LayerFile::kFileName, layers, &error))) {
        errors << error;
        return false;
    }
    return true;
}

KitImport Packages::ImportHydrogenKit(const QString& path) {
    KitImport out;
    const auto fail = [&](const QString& error) {
        out.result = KitImport::Failed;
        if (!error.isEmpty()) out.errors << error;
        return out;
    };
    const QFileInfo source(path);
    if (!source.exists()) return fail(QStringLiteral("O arquivo %1 não existe.").arg(shown(path)));
    if (!QDir().mkpath(settings_.PackPath))
        return fail(QStringLiteral("Não foi possível criar a pasta de pacotes: ") + shown(settings_.PackPath));

    // Staging folders are hidden inside PackPath (listings skip them) and go
    // whatever happens.
    const auto staging = [this](const char* kind) {
        auto dir = std::make_unique<QTemporaryDir>(settings_.PackPath + u'.' + QLatin1String(kind) + QStringLiteral("-XXXXXX"));
        return dir->isValid() ? std::move(dir) : nullptr;
    };
    std::unique_ptr<QTemporaryDir> unpacked;
    QString xml = path;
    QString error;
    if (source.isDir()) {
        xml = QDir(path).filePath(QStringLiteral("drumkit.xml"));
        if (!QFileInfo(xml).isFile())
            return fail(QStringLiteral("A pasta %1 não contém um kit do Hydrogen (drumkit.xml).").arg(shown(path)));
    } else if (source.suffix().compare(QStringLiteral("xml"), Qt::CaseInsensitive) != 0) {
        report(QStringLiteral("Descompactando kit..."), 0);
        unpacked = staging("h2drumkit");
        if (!unpacked) return fail(QStringLiteral("Não foi possível criar uma pasta temporária em ") + shown(settings_.PackPath));
        if (!ExtractKitArchive(path, unpacked->path(), &error, {}, [this](double done) { report(QString(), done); }))
            return fail(error);
        xml = FindDrumkitXml(unpacked->path());
        if (xml.isEmpty())
            return fail(QStringLiteral("O arquivo %1 não contém um kit do Hydrogen (drumkit.xml).").arg(shown(path)));
    }

    report(QStringLiteral("Lendo kit..."), -1);
    HydrogenKit kit;
    if (!ReadHydrogenKit(xml, kit, &error)) return fail(error);
    KitPlan plan = PlanHydrogenKit(kit);

    // Every chosen sample through the engine's decoder before anything is written.
    report(QStringLiteral("Verificando amostras..."), 0);
    DecoderCheck decoder;
    if (!decoder.ready()) return fail(QStringLiteral("O mecanismo de som não pôde verificar as amostras."));
    QHash<QString, QString> refused;
    QHash<QString, SampleMeasure> measures;
    for (int i = 0; i < plan.samples.size(); ++i) {
        const KitSample& s = plan.samples[i];
        SampleMeasure m;
        if (const rb::Result r = decoder.decode(s.source, m); r != rb::OK)
            refused.insert(s.source, QStringLiteral("a amostra %1 não pode ser lida (%2)")
                                         .arg(QFileInfo(s.source).fileName(), SoundCore::ErrorText(r)));
        measures.insert(s.source, m);
        report(QString(), static_cast<double>(i + 1) / static_cast<double>(plan.samples.size()));
    }
    if (!refused.isEmpty()) plan = PlanHydrogenKit(kit, refused);
    out.notImported = plan.notPlaced;
    // Room in a log window for this list's count line and two headings.
    if (const qsizetype room = kLogShownLines - 3; out.notImported.size() > room + 1) {
        const qsizetype more = out.notImported.size() - room;
        out.notImported.resize(room);
        out.notImported << QStringLiteral("... e mais %1 instrumentos não importados.").arg(more);
    }
    out.notes = plan.layerNotes;
    if (plan.keys.isEmpty())
        return fail(QStringLiteral("Nenhum instrumento do kit \"%1\" pôde ser importado.").arg(plan.name));
    // What does not fit in memory plays one sample: the last keys give up
    // their other layers first.
    const auto decodedBytes = [&] {
        std::uint64_t total = 0;
        for (const KitSample& s : plan.samples) total += measures.value(s.source).bytes;
        return total;
    };
    QStringList trimmed;
    for (int k = static_cast<int>(plan.keys.size()) - 1; k >= 0 && decodedBytes() > core_.LayerBudget; --k) {
        if (plan.keys[k].layers.size() < 2) continue;
        plan.KeepKeyLayer(k);
        if (!trimmed.contains(plan.keys[k].instrument)) trimmed.prepend(plan.keys[k].instrument);
    }
    if (!trimmed.isEmpty())
        out.notes << QStringLiteral("As camadas passam de %1 de memória; ficaram com uma só camada: %2.")
                         .arg(core_.LayerBudgetText(), trimmed.join(QStringLiteral(", ")));
    plan.scale = headroom(plan, measures);

    const std::unique_ptr<QTemporaryDir> built = staging("kit");
    if (!built) return fail(QStringLiteral("Não foi possível criar uma pasta temporária em ") + shown(settings_.PackPath));
    const QString folder = built->path() + u'/';
    if (!stageKit(plan, folder, unpacked != nullptr, out.errors)) return fail({});

    QString name = plan.folderName;
    if (!chooseImportName(name, out.errors)) {
        out.result = out.errors.isEmpty() ? KitImport::Cancelled : KitImport::Failed;
        return out;
    }
    if (name != plan.folderName && !WriteTextLines(folder + QStringLiteral("Info.txt"), plan.InfoLines(name), &error))
        return fail(error);
    if (!placeStaged(folder, name, out.errors)) return fail({});
    useImported(name);
    out.result = KitImport::Imported;
    out.package = name;
    return out;
}

}  // namespace rimbal
