// Sound packages: listing, describing, exporting, importing, deleting and
// taking one into use.
#include "packages/packages.h"

#include "archives/ziparchive.h"
#include "kit/packagefiles.h"
#include "settings/inifile.h"
#include "base/prompt.h"
#include "settings/settings.h"
#include "kit/layers.h"
#include "kit/soundcore.h"
#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>

namespace rimbal {
namespace {

const QString kKeys = QStringLiteral("Keys.txt");
const QString kInfo = QStringLiteral("Info.txt");
const QString kMidi = QStringLiteral("Midi.txt");
const QString& kLayers = LayerFile::kFileName;
constexpr qint64 kMaxUnpacked = 2LL * 1024 * 1024 * 1024;
// A package is a few dozen files; a kit archive is bounded alike.
constexpr int kMaxPackageEntries = kMaxArchiveEntries;

void pump() { QCoreApplication::processEvents(); }

QString linePrefix(const QString& line) { return line.left(line.lastIndexOf(u'*') + 1); }

bool hasControl(const QString& s) {
    for (const QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return true;
    return false;
}

// An archive entry must be a bare file name: nothing that could lead out of
// the folder it is unpacked into.
bool isSafeEntryName(const QString& n) {
    return !n.isEmpty() && n != u"." && n != u".." && !n.contains(u'/') && !n.contains(u'\\') && !n.contains(u':') &&
           !hasControl(n);
}

// A folder under PackPath that DeletePackage may work in.
bool isFolderName(const QString& n) {
    return !n.isEmpty() && n != u"." && n != u".." && !n.contains(u'/') && !n.contains(u'\\');
}

bool liesInside(const QString& canonicalFile, const QString& canonicalFolder) {
    return !canonicalFile.isEmpty() && !canonicalFolder.isEmpty() && canonicalFile.startsWith(canonicalFolder + u'/');
}

bool moveOver(const QString& from, const QString& to) {
    std::error_code ec;
    std::filesystem::rename(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString(), ec);
    return !ec;
}

QString megabytes(qint64 bytes) { return QString::number((bytes + 1024 * 1024 - 1) / (1024 * 1024)); }

}  // namespace

Packages::Packages(SoundCore& core, Prompt& prompt, LogView& log, PackageProgress progress)
    : core_(core), settings_(core.settings()), prompt_(prompt), log_(log), progress_(std::move(progress)) {}

QString Packages::folderOf(const QString& name) const { return settings_.PackPath + name + u'/'; }

void Packages::report(const QString& caption, double done) const {
    if (progress_) progress_(caption, done);
    else pump();
}

void Packages::createSounds() {
    // Decoding a large kit takes a while: each key reports its progress.
    core_.OnSoundCreated = [this](int done, int all) { report(QString(), static_cast<double>(done) / all); };
    core_.CreateSounds(false);
    core_.OnSoundCreated = nullptr;
}

// ---------------------------------------------------------------- listing

QStringList Packages::ListPackages() const {
    QStringList out;
    const QDir dir(settings_.PackPath);
    for (const QFileInfo& fi : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase))
        if (QFileInfo(fi.filePath() + u'/' + kKeys).isFile()) out.append(fi.fileName());
    return out;
}

bool Packages::IsValidPackageName(const QString& name) {
    // The name is stored as PackName in the Windows-1252 configuration file.
    return TextLineProblem(name).isEmpty() && !name.trimmed().isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') && !name.contains(u'\\') &&
           !name.contains(u':') && !name.contains(QStringLiteral("..")) && !hasControl(name);
}

PackageInfo Packages::ReadInfo(const QString& name) const {
    IniFile ini;
    ini.load(folderOf(name) + kInfo, kMaxPackageText);
    const QString section = QStringLiteral("Info");
    const auto get = [&](const char* key) { return ini.value(section, QString::fromLatin1(key)).value_or(QString()); };
    return {get("Name"), get("Author"), get("Contact"), get("Version"), get("Comment")};
}

int Packages::CountKeyLines(const QString& name) const {
    QStringList lines;
    if (!ReadPackageText(folderOf(name) + kKeys, lines)) return -1;
    return static_cast<int>(lines.size());
}

// ---------------------------------------------------------------- delete and use

void Packages::DeleteFileList(const QStringList& files) {
    for (const QString& f : files) QFile::remove(f);
}

bool Packages::DeletePackage(const QString& name, QStringList* remaining) {
    if (!isFolderName(name)) return false;
    const QString folder = folderOf(name);
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    // Window messages after each file removed, and between many blank lines.
    const auto removeReferenced = [&](const QString& ref, qsizetype line) {
        if (!ref.isEmpty() && !HasDrive(ref)) {
            // "..\..\x.wav" or a link leading out names a file that is not the package's.
            const QString file = JoinRelative(folder, ref);
            const QFileInfo fi(file);
            if (fi.isFile() && liesInside(fi.canonicalFilePath(), canonical)) QFile::remove(file);
            pump();
        } else if (line % 1024 == 0) {
            pump();
        }
    };
    QStringList lines;
    // A key list past the bound is not read: its files stay, and are listed
    // as what remains, but the folder stops being a package all the same.
    if (ReadPackageText(folder + kKeys, lines))
        for (qsizetype i = 0; i < lines.size(); ++i) removeReferenced(KeyLineSample(lines[i]), i);
    QFile::remove(folder + kKeys);
    // The layers' samples, as far as the file can be read.
    lines.clear();
    if (ReadPackageText(folder + kLayers, lines))
        for (qsizetype i = 0; i < lines.size(); ++i) removeReferenced(LayerFile::SampleOf(lines[i]), i);
    QFile::remove(folder + kLayers);
    QFile::remove(folder + kInfo);
    QFile::remove(folder + kMidi);  // the package's own, as Info.txt
    QDir().rmdir(folder);
    const bool gone = !QFileInfo::exists(folder);
    if (!gone && remaining)
        *remaining = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);

    if (name.compare(settings_.PackName, Qt::CaseInsensitive) == 0) {
        // During start-up the engine is not running yet; it starts later on
        // whatever KeyLines then holds.
        if (!settings_.StartingUp) core_.ReleaseSounds(false);
        core_.KeyLines.clear();
        pump();
        settings_.PackName.clear();
        // The engine runs again without keys, so a new key can be defined,
        // recorded and played at once.
        if (!settings_.StartingUp && core_.SoundSystem != rb::System{}) core_.CreateSounds(false);
    }
    return gone;
}

void Packages::UsePackage(const QString& name) {
    report(QStringLiteral("Liberando sons..."), -1);
    if (!settings_.StartingUp) core_.ReleaseSounds(false);
    settings_.PackName = name;
    core_.LoadKeyLines();
    report(QStringLiteral("Carregando pacote..."), -1);
    report(QStringLiteral("Criando sons..."), 0);
    if (!settings_.StartingUp) createSounds();
}

void Packages::reload(const QStringList& lines) {
    core_.ReleaseSounds(false);
    core_.KeyLines = lines;
    pump();
    createSounds();
}

// ---------------------------------------------------------------- export

QStringList Packages::InfoLines(const PackageInfo& info) {
    QString comment = info.comment;
    comment.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    QStringList lines{QStringLiteral("[Info]"), QStringLiteral("Name=") + info.name,
                      QStringLiteral("Author=") + info.author, QStringLiteral("Contact=") + info.contact,
                      QStringLiteral("Version=") + info.version};
    // A comment of several lines is written whole; readers see its first line.
    const QStringList parts = comment.split(u'\n');
    lines.append(QStringLiteral("Comment=") + parts.first());
    lines.append(parts.mid(1));
    return lines;
}

QStringList Packages::EntryNames(const QStringList& paths) {
    QStringList bare, lower;
    for (const QString& p : paths) {
        bare.append(QFileInfo(p).fileName());
        lower.append(bare.last().toLower());
    }
    QStringList out = bare;
    QSet<QString> given;
    for (int i = 0; i < paths.size(); ++i) {
        if (!lower.mid(0, i).contains(lower[i])) continue;
        const QString& b = bare[i];
        const qsizetype dot = b.lastIndexOf(u'.');
        const QString stem = dot < 0 ? b : b.left(dot);
        const QString ext = dot < 0 ? QString() : b.mid(dot);
        const QString folder = QFileInfo(paths[i]).absolutePath() + u'/';
        for (int n = 2;; ++n) {
            const QString candidate = stem + QString::number(n) + ext;
            const QString lc = candidate.toLower();
            if (lower.contains(lc) || given.contains(lc) || QFileInfo::exists(folder + candidate)) continue;
            out[i] = candidate;
            given.insert(lc);
            break;
        }
    }
    return out;
}

bool Packages::ExportPackage(const QString& archivePath, const PackageInfo& info, QString* error) {
    const auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (!IsValidPackageName(info.name)) return fail(QStringLiteral("Nome inválido de pacote."));

    // Every line's own file, each distinct file once (two spellings of one
    // file are one file).
    const QString folder = core_.PackageFolder();
    QStringList paths, identities;
    const auto fileIndex = [&](const QFileInfo& fi) {
        qsizetype k = identities.indexOf(fi.canonicalFilePath());
        if (k < 0) {
            k = paths.size();
            paths.append(fi.absoluteFilePath());
            identities.append(fi.canonicalFilePath());
            report(QString(), -1);
        }
        return static_cast<int>(k);
    };
    QList<int> fileOfLine;
    for (const QString& line : core_.KeyLines) {
        const QString ref = KeyLineSample(line);
        const QString path = HasDrive(ref) ? ref : JoinRelative(folder, ref);
        const QFileInfo fi(path);
        if (ref.isEmpty() || !fi.isFile()) return fail(QStringLiteral("Arquivo não existe: ") + path);
        fileOfLine.append(fileIndex(fi));
    }
    if (paths.isEmpty()) return fail(QStringLiteral("O pacote em uso não tem sons para exportar."));
    // The layers travel with their samples; a line whose sample cannot be
    // packed stays behind, as one that is not a layer.
    QStringList layerLines;
    QList<int> fileOfLayer;
    if (core_.Layers.Present) {
        for (const QString& line : core_.Layers.Raw) {
            LayerLine l;
            QString why;
            if (!LayerFile::Parse(line, l, why)) continue;
            const QString path = core_.ResolveStoredName(l.file);
            const QFileInfo fi(path);
            if (!fi.isFile()) continue;
            layerLines.append(linePrefix(line));
            fileOfLayer.append(fileIndex(fi));
        }
    }
    if (identities.contains(QFileInfo(archivePath).canonicalFilePath()))
        return fail(QStringLiteral("O pacote não pode ser salvo sobre um dos seus sons: ") + archivePath);

    // The archive gets the new names; the files on disk keep theirs.
    const QStringList names = EntryNames(paths);
    QByteArray keys;
    for (int i = 0; i < core_.KeyLines.size(); ++i)
        keys += ToWindows1252(linePrefix(core_.KeyLines[i]) + names[fileOfLine[i]]) + "\r\n";

    ArchiveWriter writer(archivePath);
    writer.setPassword(kArchivePassword);
    writer.setComment(kPackageComment);
    writer.setLevel(6);
    writer.addData(kInfo, ToWindows1252(InfoLines(info).join(QStringLiteral("\r\n"))));
    writer.addData(kKeys, keys);
    // The pad map travels with its kit, unless a sound already took that name.
    const bool nameTaken = std::any_of(names.begin(), names.end(),
                                       [](const QString& n) { return n.compare(kMidi, Qt::CaseInsensitive) == 0; });
    if (!nameTaken && QFileInfo(folder + kMidi).isFile()) writer.addFile(kMidi, folder + kMidi);
    const bool layersTaken = std::any_of(names.begin(), names.end(),
                                         [](const QString& n) { return n.compare(kLayers, Qt::CaseInsensitive) == 0; });
    if (!layerLines.isEmpty() && !layersTaken) {
        QByteArray layers = ToWindows1252(LayerFile::VelocityLine(core_.Layers.Velocity)) + "\r\n";
        for (int i = 0; i < layerLines.size(); ++i) layers += ToWindows1252(layerLines[i] + names[fileOfLayer[i]]) + "\r\n";
        writer.addData(kLayers, layers);
    }
    for (int k = 0; k < paths.size(); ++k) writer.addFile(names[k], paths[k]);
    report(QStringLiteral("Exportando pacote..."), 0);
    const bool ok = writer.write([this](double done) {
        report(QString(), done);
        return true;
    });
    report(QString(), 1);
    return ok || fail(writer.errorText());
}

// ---------------------------------------------------------------- import

bool Packages::ImportPackage(const QString& archivePath) {
    QStringList errors;
    bool ok = false;
    if (!QDir().mkpath(settings_.PackPath)) {
        errors << QStringLiteral("Não foi possível criar a pasta de pacotes: ") + settings_.PackPath;
    } else {
        // A fresh hidden folder inside PackPath: listings skip it, and it is
        // removed whatever happens.
        QTemporaryDir staging(settings_.PackPath + QStringLiteral(".rbp-XXXXXX"));
        if (!staging.isValid())
            errors << QStringLiteral("Erro ao ler dados. ") + archivePath << staging.errorString();
        else
            ok = importStaged(archivePath, staging.path() + u'/', errors);
    }
    if (!errors.isEmpty()) log_.showLog(QStringLiteral("Erros ao carregar pacote"), errors);
    return ok;
}

bool Packages::importStaged(const QString& archivePath, const QString& staging, QStringList& errors) {
    const auto unreadable = [&](const QString& cause) {
        errors << QStringLiteral("Erro ao ler dados. ") + archivePath << cause;
        return false;
    };
    report(QStringLiteral("Importando pacote..."), 0);
    ArchiveReader reader;
    if (!reader.open(archivePath, kArchivePassword, kMaxPackageEntries)) return unreadable(reader.errorText());
    const QList<ArchiveEntryInfo>& entries = reader.entries();
    if (entries.isEmpty()) {
        errors << QStringLiteral("Nenhum arquivo encontrado dentro do pacote.");
        return false;
    }
    qint64 total = 0;
    for (const ArchiveEntryInfo& e : entries) {
        if (!isSafeEntryName(e.name) || e.directory || e.symlink) {
            errors << QStringLiteral("Nome de arquivo inválido dentro do pacote: \"%1\"").arg(e.name);
            return false;
        }
        if (e.size > kMaxUnpacked || (total += e.size) > kMaxUnpacked)
            return unreadable(QStringLiteral("O pacote ocupa mais de 2 GiB quando descompactado."));
        // Its text files are read whole: bounded before a byte is unpacked.
        if (IsPackageTextFile(e.name) && e.size > kMaxPackageText)
            return unreadable(QStringLiteral("O arquivo %1 do pacote passa de %2 KB.").arg(e.name).arg(kMaxPackageText / 1024));
    }
    const QStorageInfo disk(staging);
    if (disk.isValid() && total > disk.bytesAvailable())
        return unreadable(QStringLiteral("O pacote precisa de %1 MB e o disco tem %2 MB livres.")
                              .arg(megabytes(total), megabytes(disk.bytesAvailable())));

    qint64 done = 0;
    for (int i = 0; i < entries.size(); ++i) {
        const QString dest = staging + entries[i].name;
        QFile::remove(dest);  // a name stored twice: the later entry wins
        const bool extracted = reader.extract(i, dest, [&](qint64 n) {
            report(QString(), total > 0 ? static_cast<double>(done + n) / static_cast<double>(total) : 1.0);
            return true;
        });
        if (!extracted && reader.error() == ArchiveError::Write) {
            errors << QStringLiteral("Erro ao gravar dados. ") + dest << reader.errorText();
            return false;
        }
        if (!extracted) return unreadable(reader.errorText());
        done += entries[i].size;
    }
    reader.close();
    pump();

    // Info.txt, Keys.txt and Layers.txt under their own names, also when the archive
    // spells them in another letter case.
    const QStringList staged = QDir(staging).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& wanted : {kInfo, kKeys, kLayers}) {
        if (staged.contains(wanted)) continue;
        for (const QString& s : staged)
            if (s.compare(wanted, Qt::CaseInsensitive) == 0 && QFile::rename(staging + s, staging + wanted)) break;
    }

    QStringList info;
    if (!ReadPackageText(staging + kInfo, info)) {
        errors << QStringLiteral("Não foi encontrado arquivo de informações.");
        return false;
    }
    if (info.isEmpty()) {
        errors << QStringLiteral("Arquivo de informações vazio.");
        return false;
    }
    QString name;
    for (const QString& line : info) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0 || line.left(eq).toLower() != u"name") continue;
        const qsizetype next = line.indexOf(u'=', eq + 1);
        name = next < 0 ? line.mid(eq + 1) : line.mid(eq + 1, next - eq - 1);
        break;  // a later name line is not consulted
    }
    if (name.trimmed().isEmpty()) {
        errors << QStringLiteral("Nome do pacote não encontrado.");
        return false;
    }
    if (!IsValidPackageName(name)) {
        errors << QStringLiteral("Nome inválido de pacote.");
        return false;
    }
    // Checked before anything is deleted, so a broken archive never costs
    // the user the package they had.
    if (!QFileInfo(staging + kKeys).isFile()) {
        errors << QStringLiteral("Não foi encontrado arquivo de teclas.");
        return false;
    }
    // Its keys may play only what it brought: a line naming "../x.wav" or
    // "/home/..." would play that file and pack it into a later export.
    QStringList dropped;
    const QStringList packaged = QDir(staging).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    if (!KeepPackagedSamples(staging + kKeys, [](const QString& line) { return QStringList{KeyLineSample(line)}; },
                             packaged, dropped) ||
        // Its velocity line and broken lines name nothing; the load reports the latter.
        !KeepPackagedSamples(
            staging + kLayers,
            [](const QString& line) {
                const QString sample = LayerFile::SampleOf(line);
                return sample.isEmpty() ? QStringList{} : QStringList{sample};
            },
            packaged, dropped)) {
        errors << dropped;
        return false;
    }

    if (!chooseImportName(name, errors) || !placeStaged(staging, name, errors)) return false;
    errors << dropped;
    useImported(name);
    return true;
}

bool Packages::chooseImportName(QString& name, QStringList& errors) {
    for (;;) {
        QString clash;
        for (const QString& p : ListPackages())
            if (p.compare(name, Qt::CaseInsensitive) == 0) {
                clash = p;
                break;
            }
        if (clash.isEmpty()) return true;
        const Prompt::Button answer = prompt_.message(
            QStringLiteral("Confirmação"),
            QStringLiteral("Já existe um pacote com o nome \"") + name +
                QStringLiteral("\". Deseja sobrescrever?.\rPressione [Sim] para sobrescrever, [Não] para renomear e "
                               "[Cancelar] para desistir."),
            Prompt::Icon::Question, Prompt::Yes | Prompt::No | Prompt::Cancel);
        if (answer == Prompt::Yes) {
            DeletePackage(clash);
            continue;  // asks again only if another spelling of the name is left
        }
        if (answer != Prompt::No) return false;
        QString newName = name + QStringLiteral("Novo");
        if (!prompt_.input(QStringLiteral("Definir nome do pacote"), QStringLiteral("Novo nome:"), newName)) return false;
        if (newName == name) {
            errors << QStringLiteral("Não podem existir pacotes com o mesmo nome.");
            return false;
        }
        if (!IsValidPackageName(newName)) {
            errors << QStringLiteral("Nome inválido de pacote.");
            return false;
        }
        name = newName;  // and it must clash with no other package either
    }
}

bool Packages::placeStaged(const QString& staging, const QString& name, QStringList& errors) {
    // Into place only now that the staging is complete.
    const QString target = folderOf(name);
    QFile::setPermissions(staging, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                       QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                       QFileDevice::ExeOther);
    if (!QFileInfo::exists(target)) {
        if (!moveOver(staging, target.chopped(1))) {
            errors << QStringLiteral("Erro ao copiar arquivo: ") + staging + QStringLiteral(" -> ") + target;
            return false;
        }
        return true;
    }
    // What a deletion left behind stays; the package's files replace theirs.
    for (const QString& f : QDir(staging).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (!moveOver(staging + f, target + f)) {
            errors << QStringLiteral("Erro ao copiar arquivo: ") + staging + f + QStringLiteral(" -> ") + target + f;
            return false;
        }
        pump();
    }
    return true;
}

void Packages::useImported(const QString& name) {
    settings_.PackName = name;
    pump();
    report(QStringLiteral("Liberando sons..."), -1);
    core_.ReleaseSounds(false);
    core_.LoadKeyLines();
    report(QStringLiteral("Criando sons..."), 0);
    createSounds();
}

// ---------------------------------------------------------------- first-version key lists

QString Packages::NextImportName() const {
    const QStringList existing = ListPackages();
    for (int n = 1;; ++n) {
        const QString candidate = SoundCore::kDefaultPackage + QString::number(n);
        bool taken = false;
        for (const QString& p : existing) taken = taken || p.compare(candidate, Qt::CaseInsensitive) == 0;
        if (!taken) return candidate;
    }
}

bool Packages::ImportFirstVersionKeys(const QString& file, QStringList& errors) {
    // It becomes a package's key list: the same bound.
    QStringList old;
    QString readError;
    if (!ReadPackageText(file, old, &readError)) {
        errors << readError;
        return false;
    }
    const QString name = NextImportName();
    QString fields;
    for (int i = 0; i < 4; ++i) fields += QStringLiteral("0*");
    fields += QStringLiteral("1,00*");
    for (int i = 0; i < kEffects; ++i) fields += QStringLiteral("0*");

    // A line may be reported for each of a million lines: the log window
    // gets the first ones and their count.
    qsizetype refused = 0;
    const auto refuse = [&](const QString& text) {
        if (++refused <= kLogShownLines) errors << text;
    };
    QStringList lines;
    for (const QString& line : old) {
        const qsizetype semi = line.indexOf(u';');
        const QString key = semi < 0 ? QString() : line.left(semi);
        const QString path = semi < 0 ? QString() : line.mid(semi + 1);
        int code = 0;
        if (!ToInteger(key, code)) {
            refuse(QStringLiteral("Erro: ") + key + QStringLiteral(" não é um valor de tecla válido."));
            continue;
        }
        // Checked against the current folder, and written as the absolute
        // path that was checked, so the key plays from the package too.
        QFileInfo fi(path);
        if (!path.isEmpty() && !fi.isFile() && !HasDrive(path)) fi = QFileInfo(QString(path).replace(u'\\', u'/'));
        if (path.isEmpty() || !fi.isFile()) {
            refuse(QStringLiteral("Arquivo não existe: ") + path);
            continue;
        }
        const QString checked = fi.isAbsolute() ? path : QDir::cleanPath(fi.absoluteFilePath());
        lines << QString::number(code) + u'*' + fields + checked;
    }
    if (refused > kLogShownLines) errors << QStringLiteral("... e mais %1 linhas ignoradas.").arg(refused - kLogShownLines);

    const QString folder = folderOf(name);
    const bool existed = QFileInfo::exists(folder);
    QString error;
    const QStringList info{QStringLiteral("[Info]"),       QStringLiteral("Name=") + name,
                           QStringLiteral("Author=Rimbal Team"), QStringLiteral("Contact=") + SoundCore::kContact,
                           QStringLiteral("Version=1.0"),  QStringLiteral("Comment=Rimbal1 Imported")};
    if (!QDir().mkpath(folder) || !WriteTextLines(folder + kInfo, info, &error) ||
        !WriteTextLines(folder + kKeys, lines, &error)) {
        errors << (error.isEmpty() ? QStringLiteral("Não foi possível criar a pasta ") + folder : error);
        // Only what this import wrote goes again.
        if (!existed) {
            DeleteFileList({folder + kInfo, folder + kKeys});
            QDir().rmdir(folder);
        }
        return false;
    }
    settings_.PackName = name;
    pump();
    reload(lines);
    return true;
}

}  // namespace rimbal
