// Unpacking .h2drumkit archives with libarchive, entry by entry under the
// limits, never outside the staging folder.
#include "archives/kitarchive.h"

#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <memory>

namespace rimbal {
namespace {

// The entry's name as a clean relative path, or empty when it is unsafe:
// absolute, with a drive, with "..", or with control characters.
QString safeRelative(const QString& raw, bool& unsafe) {
    unsafe = false;
    QString name = raw;
    name.replace(u'\\', u'/');
    if (name.startsWith(u'/') || (name.size() >= 2 && name[1] == u':')) {
        unsafe = true;
        return {};
    }
    QStringList parts;
    for (const QString& part : name.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u".") continue;
        bool control = false;
        for (const QChar c : part) control = control || c.unicode() < 0x20;
        if (part == u".." || control) {
            unsafe = true;
            return {};
        }
        parts.append(part);
    }
    return parts.join(u'/');
}

// No folder on the way (inside the staging folder) may be a link, or a
// write could leave it.
bool linkOnTheWay(const QString& root, const QString& relative) {
    QString path = root;
    for (const QString& part : relative.split(u'/')) {
        path += u'/' + part;
        if (QFileInfo(path).isSymLink()) return true;
    }
    return false;
}

QString megabytes(qint64 bytes) { return QString::number((bytes + 1024 * 1024 - 1) / (1024 * 1024)); }

struct ArchiveDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};

}  // namespace

bool ExtractKitArchive(const QString& archivePath, const QString& stagingFolder, QString* error, const ArchiveLimits& limits,
                       const std::function<void(double)>& progress) {
    const QString shown = QDir::toNativeSeparators(archivePath);
    const auto fail = [error](const QString& message) {
        if (error) *error = message;
        return false;
    };
    const QString root = QDir::cleanPath(QFileInfo(stagingFolder).absoluteFilePath());
    if (!QFileInfo(root).isDir()) return fail(QStringLiteral("A pasta temporária não existe: ") + QDir::toNativeSeparators(root));

    std::unique_ptr<archive, ArchiveDeleter> a(archive_read_new());
    // gzip and plain tar only: no filter that runs an outside program.
    archive_read_support_filter_gzip(a.get());
    archive_read_support_format_tar(a.get());
    if (archive_read_open_filename(a.get(), QFile::encodeName(archivePath).constData(), 64 * 1024) != ARCHIVE_OK)
        return fail(QStringLiteral("Não foi possível abrir o arquivo ") + shown + QStringLiteral(": ele não é um kit do Hydrogen ou está danificado."));

    const QString damaged = QStringLiteral("O arquivo ") + shown + QStringLiteral(" está danificado.");
    const double archiveBytes = static_cast<double>(std::max<qint64>(1, QFileInfo(archivePath).size()));
    const auto report = [&] {
        if (progress) progress(std::min(1.0, static_cast<double>(archive_filter_bytes(a.get(), -1)) / archiveBytes));
    };
    qint64 total = 0;
    int entries = 0;
    char buffer[64 * 1024];
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(a.get(), &entry);
        if (r == ARCHIVE_EOF) break;
        if (r < ARCHIVE_WARN) return fail(damaged);
        if (++entries > limits.maxEntries) return fail(QStringLiteral("O arquivo ") + shown + QStringLiteral(" tem entradas demais."));

        const char* utf8 = archive_entry_pathname_utf8(entry);
        const char* raw = archive_entry_pathname(entry);
        const QString name = utf8 ? QString::fromUtf8(utf8) : QFile::decodeName(raw ? raw : "");
        const auto refuse = [&] { return fail(QStringLiteral("O arquivo ") + shown + QStringLiteral(" contém uma entrada insegura: ") + name); };
        bool unsafe = false;
        const QString rel = safeRelative(name, unsafe);
        const mode_t type = archive_entry_filetype(entry);
        if (unsafe || archive_entry_hardlink(entry) || archive_entry_symlink(entry) || (type != AE_IFREG && type != AE_IFDIR))
            return refuse();
        if (rel.isEmpty()) continue;  // the archive's own root, "./"
        const QString dest = root + u'/' + rel;
        if (!QDir::cleanPath(dest).startsWith(root + u'/') || linkOnTheWay(root, rel)) return refuse();

        if (type == AE_IFDIR) {
            if (!QDir().mkpath(dest)) return fail(QStringLiteral("Não foi possível criar a pasta ") + QDir::toNativeSeparators(dest) + u'.');
            continue;
        }
        const QString cannotWrite = QStringLiteral("Não foi possível gravar o arquivo ") + QDir::toNativeSeparators(dest) + u'.';
        // A gzip tar tells its size only entry by entry: each is checked
        // against the free space before it is written, as a package is.
        if (archive_entry_size_is_set(entry)) {
            const qint64 declared = archive_entry_size(entry);
            if (declared > limits.maxBytes - total)
                return fail(QStringLiteral("O kit %1 descompactado passa de %2 MB.").arg(shown).arg(limits.maxBytes / (1024 * 1024)));
            const QStorageInfo disk(root);
            if (disk.isValid() && declared > disk.bytesAvailable())
                return fail(QStringLiteral("O kit %1 precisa de mais %2 MB para %3 e o disco tem %4 MB livres.")
                                .arg(shown, megabytes(declared), rel, megabytes(disk.bytesAvailable())));
        }
        if (!QDir().mkpath(QFileInfo(dest).absolutePath())) return fail(cannotWrite);
        QFile out(dest);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail(cannotWrite);
        for (;;) {
            const la_ssize_t n = archive_read_data(a.get(), buffer, sizeof buffer);
            if (n == 0) break;
            if (n < 0) return fail(damaged);
            total += n;
            if (total > limits.maxBytes)
                return fail(QStringLiteral("O kit %1 descompactado passa de %2 MB.").arg(shown).arg(limits.maxBytes / (1024 * 1024)));
            if (out.write(buffer, n) != n) return fail(cannotWrite);
            report();
        }
        if (!out.flush()) return fail(cannotWrite);
    }
    return true;
}

QString FindDrumkitXml(const QString& folder) {
    const QDir dir(folder);
    if (QFileInfo(dir.filePath(QStringLiteral("drumkit.xml"))).isFile()) return dir.filePath(QStringLiteral("drumkit.xml"));
    for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name)) {
        const QString candidate = dir.filePath(sub + QStringLiteral("/drumkit.xml"));
        if (QFileInfo(candidate).isFile()) return candidate;
    }
    return {};
}

}  // namespace rimbal
