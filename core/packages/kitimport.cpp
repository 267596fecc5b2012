// Importing a Hydrogen drum kit as a package: read and lay out the kit, check
// its samples with the engine's decoder, build the package in a hidden
// staging folder, then name it, move it into place and take it into use as
// a package import does.
#include "packages/packages.h"

#include "packages/hydrogen.h"
#include "archives/kitarchive.h"
#include "base/prompt.h"
#include "settings/settings.h"
#include "kit/soundcore.h"
#include "base/textfiles.h"

#include "rbcore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace rimbal {
namespace {

QString shown(const QString& path) { return QDir::toNativeSeparators(path); }

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
    rb::Result decode(const QString& file) {
        rb::Sound sound{};
        const rb::Result r = rb::System_CreateSound(sys_, QFile::encodeName(file).constData(), rb::MODE_SOFTWARE, nullptr, &sound);
        if (sound != rb::Sound{}) rb::Sound_Release(sound);
        return r;
    }

private:
    rb::System sys_{};
    bool ready_ = false;
};

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
    if (!WriteTextLines(staging + QStringLiteral("Keys.txt"), plan.KeyLines(), &error) ||
        !WriteTextLines(staging + QStringLiteral("Info.txt"), plan.InfoLines(plan.folderName), &error) ||
        (!midi.isEmpty() && !WriteTextLines(staging + QStringLiteral("Midi.txt"), midi, &error))) {
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
    for (int i = 0; i < plan.samples.size(); ++i) {
        const KitSample& s = plan.samples[i];
        if (const rb::Result r = decoder.decode(s.source); r != rb::OK)
            refused.insert(s.source, QStringLiteral("a amostra %1 não pode ser lida (%2)")
                                         .arg(QFileInfo(s.source).fileName(), SoundCore::ErrorText(r)));
        report(QString(), static_cast<double>(i + 1) / static_cast<double>(plan.samples.size()));
    }
    if (!refused.isEmpty()) plan = PlanHydrogenKit(kit, refused);
    out.notImported = plan.notPlaced;
    if (out.notImported.size() > kLogShownLines + 1) {
        const qsizetype more = out.notImported.size() - kLogShownLines;
        out.notImported.resize(kLogShownLines);
        out.notImported << QStringLiteral("... e mais %1 instrumentos não importados.").arg(more);
    }
    if (plan.keys.isEmpty())
        return fail(QStringLiteral("Nenhum instrumento do kit \"%1\" pôde ser importado.").arg(plan.name));

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
