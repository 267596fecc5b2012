// ZIP archives over libzip: write an archive of named entries (from memory or
// from files) and read one back, both under an optional password with the
// traditional PKWARE encryption. Qt Core only. GUI thread (one object is used
// by one thread at a time).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

struct zip;

namespace rimbal {

// The program's own archives (sound packages and key sequences) share one
// fixed password, so that files travel between installations.
inline const QByteArray kArchivePassword = QByteArrayLiteral("Vazevaz Izize Vozo");

// The most entries an archive from elsewhere may have: its directory is read
// whole, and every entry becomes a file.
inline constexpr int kMaxArchiveEntries = 20000;

enum class ArchiveError {
    None,
    Open,           // the file cannot be opened (missing, no permission)
    NotZip,         // not a ZIP archive at all
    Damaged,        // a ZIP archive whose structure or compressed data is broken
    WrongPassword,  // encrypted under another password (or none given)
    BadCrc,         // an entry's data fails its CRC
    Unsupported,    // a compression or encryption method this library lacks
    TooLarge,       // an entry larger than the caller allows
    Read,           // a source file of the writer cannot be read
    Write,          // the target cannot be written (full disk, no permission)
    Cancelled,      // the progress callback asked to stop
    Invalid,        // nothing to write, a bad index, an entry name used twice
};

// Writes an archive: every entry deflated at the chosen level and, with a
// password, encrypted. The archive is built in a temporary file in the
// target's folder and renamed over the target only when complete, so a
// failure leaves an existing target untouched and no partial file behind.
class ArchiveWriter {
public:
    explicit ArchiveWriter(QString target);

    void setPassword(const QByteArray& password) { password_ = password; }
    // Stored as given; libzip takes only ASCII or UTF-8 and at most 65535
    // bytes, so write() refuses anything else instead of failing inside it.
    void setComment(const QByteArray& comment) { comment_ = comment; }
    void setLevel(int level) { level_ = level; }  // 1 to 9; 6 by default

    // Entries are stored in the order they are added. Names are stored as
    // given (UTF-8, flagged as such when not plain ASCII).
    void addData(const QString& name, const QByteArray& data);
    // The file is read when write() runs, under the entry name given here.
    void addFile(const QString& name, const QString& path);

    // Progress gets the fraction written (0 to 1) and returns false to cancel.
    using Progress = std::function<bool(double)>;
    bool write(const Progress& progress = {});

    ArchiveError error() const { return error_; }
    QString errorText() const { return errorText_; }

private:
    struct Item {
        QString name;
        QString path;     // empty for an entry from memory
        QByteArray data;
    };
    bool fail(ArchiveError e, const QString& text);

    QString target_;
    QByteArray password_;
    QByteArray comment_;
    int level_ = 6;
    QList<Item> items_;
    ArchiveError error_ = ArchiveError::None;
    QString errorText_;
};

struct ArchiveEntryInfo {
    QString name;            // as stored: UTF-8, else read as Windows-1252
    qint64 size = 0;         // declared uncompressed size
    qint64 compressedSize = 0;
    bool encrypted = false;
    bool directory = false;  // the name ends with "/"
    bool symlink = false;    // a Unix symbolic link entry
};

// Reads an archive. Reading stops with an error rather than return data that
// fails its check: a wrong password, a bad CRC, more data than declared.
class ArchiveReader {
public:
    ArchiveReader() = default;
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // An archive of more than maxEntries entries is refused (TooLarge)
    // before its directory is read.
    bool open(const QString& path, const QByteArray& password = {}, qint64 maxEntries = kMaxArchiveEntries);
    void close();

    const QList<ArchiveEntryInfo>& entries() const { return entries_; }
    QByteArray comment() const { return comment_; }
    int indexOf(const QString& name) const;  // exact name; -1 when absent

    // The whole entry in memory; refused when it declares more than limit bytes.
    bool read(int index, QByteArray& data, qint64 limit = 64 * 1024 * 1024);
    // Streams the entry into a new file (which must not exist yet; an
    // existing file or link there is never written through). A partial file
    // is removed on failure. Progress gets the bytes written so far.
    using Progress = std::function<bool(qint64)>;
    bool extract(int index, const QString& filePath, const Progress& progress = {});

    ArchiveError error() const { return error_; }
    QString errorText() const { return errorText_; }

private:
    bool fail(ArchiveError e, const QString& text);
    bool failFromZip(int zipError, int systemError, const QString& subject);
    template <typename Sink>
    bool stream(int index, Sink&& sink);

    zip* za_ = nullptr;
    QString path_;
    QList<ArchiveEntryInfo> entries_;
    QByteArray comment_;
    ArchiveError error_ = ArchiveError::None;
    QString errorText_;
};

}  // namespace rimbal
