// ZIP archives over libzip: writing through a temporary file, reading with
// every name and size checked first.
#include "archives/ziparchive.h"

#include "base/textfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace rimbal {
namespace {

QString systemText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

QString zipText(zip_error_t* e) { return QString::fromLocal8Bit(zip_error_strerror(e)); }

ArchiveError kindOf(int zipError) {
    switch (zipError) {
    case ZIP_ER_NOENT:
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
        return ArchiveError::Open;
    case ZIP_ER_NOZIP:
        return ArchiveError::NotZip;
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_NOPASSWD:
        return ArchiveError::WrongPassword;
    case ZIP_ER_CRC:
        return ArchiveError::BadCrc;
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
        return ArchiveError::Unsupported;
    case ZIP_ER_WRITE:
    case ZIP_ER_TMPOPEN:
    case ZIP_ER_RENAME:
    case ZIP_ER_CLOSE:
    case ZIP_ER_REMOVE:
        return ArchiveError::Write;
    case ZIP_ER_CANCELLED:
        return ArchiveError::Cancelled;
    case ZIP_ER_INVAL:
    case ZIP_ER_EXISTS:
        return ArchiveError::Invalid;
    default:  // inconsistent, premature end, bad deflate data, ...
        return ArchiveError::Damaged;
    }
}

// Names flagged as UTF-8 and names written on systems that use it decode as
// UTF-8; anything else was written by a Windows program in its ANSI page.
QString decodeName(const char* raw) {
    const QByteArray bytes(raw);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = utf8.decode(bytes);
    return utf8.hasError() ? FromWindows1252(bytes) : name;
}

bool isAscii(const QByteArray& b) {
    for (const char c : b)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

constexpr qint64 kChunk = 64 * 1024;

}  // namespace

// ---------------------------------------------------------------- writer

ArchiveWriter::ArchiveWriter(QString target) : target_(std::move(target)) {}

void ArchiveWriter::addData(const QString& name, const QByteArray& data) { items_.append({name, {}, data}); }

void ArchiveWriter::addFile(const QString& name, const QString& path) { items_.append({name, path, {}}); }

bool ArchiveWriter::fail(ArchiveError e, const QString& text) {
    error_ = e;
    errorText_ = text;
    return false;
}

bool ArchiveWriter::write(const Progress& progress) {
    error_ = ArchiveError::None;
    errorText_.clear();
    // libzip deletes the target when an archive ends up without entries.
    if (items_.isEmpty()) return fail(ArchiveError::Invalid, QStringLiteral("Nenhuma entrada para gravar."));
    if (comment_.size() > 0xFFFF)
        return fail(ArchiveError::Invalid, QStringLiteral("O comentário do arquivo passa de 65535 bytes."));
    if (!isAscii(comment_)) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8.decode(comment_);
        if (utf8.hasError() || decoded.isEmpty())
            return fail(ArchiveError::Invalid, QStringLiteral("O comentário do arquivo não está em UTF-8."));
    }
    QSet<QString> names;
    for (const Item& it : items_) {
        if (it.name.isEmpty() || names.contains(it.name))
            return fail(ArchiveError::Invalid, QStringLiteral("Nome de entrada inválido ou repetido: \"%1\".").arg(it.name));
        names.insert(it.name);
        // Found here, the failure names the file; libzip would only say "read error".
        if (!it.path.isEmpty()) {
            QFile f(it.path);
            if (!QFileInfo(it.path).isFile() || !f.open(QIODevice::ReadOnly))
                return fail(ArchiveError::Read, QStringLiteral("Não foi possível ler o arquivo %1 (%2).")
                                                    .arg(it.path, f.errorString()));
        }
    }

    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(target_).constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!za) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, err);
        const QString why = zipText(&ze);
        zip_error_fini(&ze);
        return fail(ArchiveError::Write, QStringLiteral("Não foi possível gravar %1 (%2).").arg(target_, why));
    }
    const auto abandon = [&](ArchiveError e, const QString& text) {
        zip_discard(za);
        return fail(e, text);
    };

    for (const Item& it : items_) {
        zip_source_t* src = nullptr;
        if (it.path.isEmpty())
            src = zip_source_buffer(za, it.data.constData(), static_cast<zip_uint64_t>(it.data.size()), 0);
        else
            src = zip_source_file(za, QFile::encodeName(it.path).constData(), 0, -1);
        if (!src)
            return abandon(ArchiveError::Read,
                           QStringLiteral("Não foi possível ler %1 (%2).").arg(it.path, zipText(zip_get_error(za))));
        const QByteArray name = it.name.toUtf8();
        const zip_int64_t idx =
            zip_file_add(za, name.constData(), src, isAscii(name) ? ZIP_FL_ENC_GUESS : ZIP_FL_ENC_UTF_8);
        if (idx < 0) {
            zip_source_free(src);
            return abandon(ArchiveError::Invalid, QStringLiteral("Não foi possível incluir a entrada %1 (%2).")
                                                      .arg(it.name, zipText(zip_get_error(za))));
        }
        const auto i = static_cast<zip_uint64_t>(idx);
        if (zip_set_file_compression(za, i, ZIP_CM_DEFLATE, static_cast<zip_uint32_t>(level_)) < 0 ||
            (!password_.isEmpty() &&
             zip_file_set_encryption(za, i, ZIP_EM_TRAD_PKWARE, password_.constData()) < 0))
            return abandon(ArchiveError::Unsupported, zipText(zip_get_error(za)));
    }
    if (!comment_.isEmpty() &&
        zip_set_archive_comment(za, comment_.constData(), static_cast<zip_uint16_t>(comment_.size())) < 0)
        return abandon(ArchiveError::Invalid, zipText(zip_get_error(za)));

    struct State {
        const Progress* progress;
        bool cancelled = false;
    } state{&progress};
    if (progress) {
        zip_register_progress_callback_with_state(
            za, 0.001,
            [](zip_t*, double done, void* ud) {
                auto* s = static_cast<State*>(ud);
                if (!s->cancelled && !(*s->progress)(done)) s->cancelled = true;
            },
            nullptr, &state);
        zip_register_cancel_callback_with_state(
            za, [](zip_t*, void* ud) { return static_cast<State*>(ud)->cancelled ? 1 : 0; }, nullptr, &state);
    }

    if (zip_close(za) < 0) {
        zip_error_t* ze = zip_get_error(za);
        const ArchiveError kind = state.cancelled ? ArchiveError::Cancelled : kindOf(zip_error_code_zip(ze));
        const QString why = zipText(ze);
        // zip_discard also removes libzip's temporary file.
        return abandon(kind == ArchiveError::Open ? ArchiveError::Read : kind,
                       kind == ArchiveError::Cancelled
                           ? QStringLiteral("Gravação cancelada.")
                           : QStringLiteral("Não foi possível gravar %1 (%2).").arg(target_, why));
    }
    return true;
}

// ---------------------------------------------------------------- reader

ArchiveReader::~ArchiveReader() { close(); }

void ArchiveReader::close() {
    if (za_) zip_discard(za_);
    za_ = nullptr;
    entries_.clear();
    comment_.clear();
}

bool ArchiveReader::fail(ArchiveError e, const QString& text) {
    error_ = e;
    errorText_ = text;
    return false;
}

bool ArchiveReader::failFromZip(int zipError, int systemError, const QString& subject) {
    const ArchiveError kind = kindOf(zipError);
    switch (kind) {
    case ArchiveError::Open:
        return fail(kind, QStringLiteral("Não foi possível abrir o arquivo %1 (%2).")
                              .arg(path_, systemError ? systemText(systemError) : QStringLiteral("não existe")));
    case ArchiveError::NotZip:
        return fail(kind, QStringLiteral("%1 não é um arquivo ZIP.").arg(path_));
    case ArchiveError::WrongPassword:
        return fail(kind, QStringLiteral("Senha incorreta para %1.").arg(subject));
    case ArchiveError::BadCrc:
        return fail(kind, QStringLiteral("Dados corrompidos em %1 (erro de CRC).").arg(subject));
    case ArchiveError::Unsupported:
        return fail(kind, QStringLiteral("Método de compressão ou criptografia não suportado em %1.").arg(subject));
    default:
        return fail(ArchiveError::Damaged, QStringLiteral("Arquivo ZIP danificado: %1.").arg(subject));
    }
}

bool ArchiveReader::open(const QString& path, const QByteArray& password, qint64 maxEntries) {
    close();
    path_ = path;
    error_ = ArchiveError::None;
    errorText_.clear();
    errno = 0;
    int err = 0;
    za_ = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!za_) {
        const int sys = errno;
        // zip_open reports a file it cannot open or stat as ZIP_ER_OPEN/NOENT.
        if (err != ZIP_ER_OPEN && err != ZIP_ER_NOENT && err != ZIP_ER_READ && err != ZIP_ER_NOZIP)
            return fail(ArchiveError::Damaged, QStringLiteral("Arquivo ZIP danificado: %1.").arg(path));
        return failFromZip(err, sys, path);
    }
    if (!password.isEmpty()) zip_set_default_password(za_, password.constData());

    const zip_int64_t n = zip_get_num_entries(za_, 0);
    if (n > maxEntries) {
        close();
        return fail(ArchiveError::TooLarge, QStringLiteral("%1 tem mais de %2 entradas.").arg(path).arg(maxEntries));
    }
    for (zip_int64_t i = 0; i < n; ++i) {
        const auto u = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        zip_stat_init(&st);
        const char* raw = zip_get_name(za_, u, ZIP_FL_ENC_RAW);
        if (!raw || zip_stat_index(za_, u, 0, &st) < 0) {
            close();
            return fail(ArchiveError::Damaged, QStringLiteral("Arquivo ZIP danificado: %1.").arg(path));
        }
        ArchiveEntryInfo info;
        info.name = decodeName(raw);
        info.size = (st.valid & ZIP_STAT_SIZE) ? static_cast<qint64>(st.size) : 0;
        info.compressedSize = (st.valid & ZIP_STAT_COMP_SIZE) ? static_cast<qint64>(st.comp_size) : 0;
        info.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
        info.directory = info.name.endsWith(u'/');
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(za_, u, 0, &opsys, &attributes) == 0 && opsys == ZIP_OPSYS_UNIX)
            info.symlink = ((attributes >> 16) & S_IFMT) == S_IFLNK;
        entries_.append(info);
    }
    int clen = 0;
    if (const char* c = zip_get_archive_comment(za_, &clen, ZIP_FL_ENC_RAW)) comment_ = QByteArray(c, clen);
    return true;
}

int ArchiveReader::indexOf(const QString& name) const {
    for (int i = 0; i < entries_.size(); ++i)
        if (entries_[i].name == name) return i;
    return -1;
}

template <typename Sink>
bool ArchiveReader::stream(int index, Sink&& sink) {
    error_ = ArchiveError::None;
    errorText_.clear();
    if (!za_ || index < 0 || index >= entries_.size())
        return fail(ArchiveError::Invalid, QStringLiteral("Entrada inexistente."));
    const ArchiveEntryInfo& info = entries_[index];
    // Asked to open an entry whose encryption it lacks, libzip fails but
    // keeps the entry's source allocated: such an entry is refused here.
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za_, static_cast<zip_uint64_t>(index), 0, &st) == 0 && (st.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
        st.encryption_method != ZIP_EM_NONE && !zip_encryption_method_supported(st.encryption_method, 0))
        return failFromZip(ZIP_ER_ENCRNOTSUPP, 0, info.name);
    zip_file_t* zf = zip_fopen_index(za_, static_cast<zip_uint64_t>(index), 0);
    if (!zf) {
        zip_error_t* ze = zip_get_error(za_);
        const bool ok = failFromZip(zip_error_code_zip(ze), zip_error_code_system(ze), info.name);
        zip_error_clear(za_);
        return ok;
    }
    QByteArray buffer(kChunk, Qt::Uninitialized);
    qint64 total = 0;
    bool ok = true;
    for (;;) {
        const zip_int64_t got = zip_fread(zf, buffer.data(), static_cast<zip_uint64_t>(buffer.size()));
        if (got < 0) {
            zip_error_t* ze = zip_file_get_error(zf);
            ok = failFromZip(zip_error_code_zip(ze), zip_error_code_system(ze), info.name);
            break;
        }
        if (got == 0) break;
        total += got;
        // Never trust the data past what the directory declared.
        if (total > info.size) {
            ok = fail(ArchiveError::Damaged, QStringLiteral("Arquivo ZIP danificado: %1.").arg(info.name));
            break;
        }
        if (!sink(buffer.constData(), static_cast<qint64>(got), total)) {
            ok = false;
            break;
        }
    }
    if (ok && total != info.size)
        ok = fail(ArchiveError::Damaged, QStringLiteral("Arquivo ZIP danificado: %1.").arg(info.name));
    const int closeError = zip_fclose(zf);
    if (ok && closeError != 0) ok = failFromZip(closeError, 0, info.name);
    return ok;
}

bool ArchiveReader::read(int index, QByteArray& data, qint64 limit) {
    data.clear();
    if (za_ && index >= 0 && index < entries_.size() && entries_[index].size > limit)
        return fail(ArchiveError::TooLarge, QStringLiteral("A entrada %1 é grande demais.").arg(entries_[index].name));
    QByteArray out;
    const bool ok = stream(index, [&](const char* p, qint64 n, qint64) {
        out.append(p, n);
        return true;
    });
    if (ok) data = out;
    return ok;
}

bool ArchiveReader::extract(int index, const QString& filePath, const Progress& progress) {
    QFile out(filePath);
    // NewOnly: a file or link already there is neither replaced nor followed.
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        error_ = ArchiveError::Write;
        errorText_ = QStringLiteral("Não foi possível gravar %1 (%2).").arg(filePath, out.errorString());
        return false;
    }
    bool ok = stream(index, [&](const char* p, qint64 n, qint64 total) {
        if (out.write(p, n) != n)
            return fail(ArchiveError::Write,
                        QStringLiteral("Não foi possível gravar %1 (%2).").arg(filePath, out.errorString()));
        if (progress && !progress(total)) return fail(ArchiveError::Cancelled, QStringLiteral("Leitura cancelada."));
        return true;
    });
    if (ok && !out.flush())
        ok = fail(ArchiveError::Write, QStringLiteral("Não foi possível gravar %1 (%2).").arg(filePath, out.errorString()));
    out.close();
    if (!ok) QFile::remove(filePath);
    return ok;
}

}  // namespace rimbal
