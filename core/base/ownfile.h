// A temporary file of the program's own in a folder that other users or
// another copy of the program may share (the program folder): made
// exclusively, never through a link planted there, and removed only while
// its name still leads to the file that was made.
#pragma once

#include <QFile>
#include <QString>

namespace rimbal {

class OwnFile {
public:
    OwnFile() = default;
    ~OwnFile();  // lets go of the file; it stays on disk
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;

    // Makes folder + wanted, empty. When something else stands there (a link,
    // a folder, another user's file, a file another program holds), makes
    // <stem>-XXXXXX<ext> beside it instead. A plain file of this user that no
    // running program holds is a leftover of an earlier run and is taken
    // over. Any file made before by this object is let go first. False, with
    // the cause in error, when no file can be made.
    bool create(const QString& folder, const QString& wanted, QString* error = nullptr);

    bool isValid() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    // The path still leads to the file made: not removed, moved or replaced.
    bool isIntact() const;
    // Opens file on the file made (QIODevice modes; Truncate empties it).
    // False, with the cause in file.errorString() or error, when the path no
    // longer leads to it.
    bool open(QFile& file, QIODevice::OpenMode mode, QString* error = nullptr) const;
    // Removes the file when its path still leads to it, and lets go of it.
    void remove();
    // Lets go of the file without removing it (it was moved away).
    void release();

    // Removes folder + name when it is a leftover of an earlier run (a plain
    // file of this user that no running program holds); anything else there
    // stays.
    static void RemoveLeftover(const QString& folder, const QString& name);

private:
    int m_fd = -1;  // open, and locked so that another program sees it is held
    QString m_path;
    quint64 m_device = 0;
    quint64 m_inode = 0;
};

}  // namespace rimbal
