// A small INI reader and writer with the private-profile rules: section and
// key names match in any letter case, values are taken trimmed and without
// one pair of enclosing quotation marks, and lines it does not know are kept
// as they are.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace rimbal {

class IniFile {
public:
    // Reads path if it exists; a missing file is an empty one, and so is one
    // of more than maxBytes when that is not negative.
    void load(const QString& path, qint64 maxBytes = -1);
    std::optional<QString> value(const QString& section, const QString& key) const;
    void setValue(const QString& section, const QString& key, const QString& value);
    // value as it must be written to be read back whole: in quotation marks
    // when it has blanks at either end or is itself enclosed in them.
    static QString Quoted(const QString& value);
    const QStringList& lines() const { return lines_; }

private:
    qsizetype sectionLine(const QString& section) const;
    QStringList lines_;
};

}  // namespace rimbal
