// The INI reader and writer with the private-profile rules.
#include "settings/inifile.h"

#include "base/textfiles.h"

namespace rimbal {

void IniFile::load(const QString& path, qint64 maxBytes) {
    lines_.clear();
    if (!ReadTextLines(path, lines_, maxBytes)) lines_.clear();
}

qsizetype IniFile::sectionLine(const QString& section) const {
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const QString t = lines_[i].trimmed();
        if (t.startsWith(u'[') && t.endsWith(u']') &&
            t.mid(1, t.size() - 2).trimmed().compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

namespace {
bool isSection(const QString& line) { return line.trimmed().startsWith(u'['); }

QString unquoted(const QString& v) {
    const bool quoted = v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front();
    return quoted ? v.mid(1, v.size() - 2) : v;
}
}  // namespace

std::optional<QString> IniFile::value(const QString& section, const QString& key) const {
    const qsizetype s = sectionLine(section);
    if (s < 0) return std::nullopt;
    for (qsizetype i = s + 1; i < lines_.size() && !isSection(lines_[i]); ++i) {
        const qsizetype eq = lines_[i].indexOf(u'=');
        if (eq < 0) continue;
        if (lines_[i].left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0) return unquoted(lines_[i].mid(eq + 1).trimmed());
    }
    return std::nullopt;
}

QString IniFile::Quoted(const QString& value) {
    return value.trimmed() != value || unquoted(value) != value ? u'"' + value + u'"' : value;
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value) {
    qsizetype s = sectionLine(section);
    if (s < 0) {
        lines_.append(QStringLiteral("[%1]").arg(section));
        s = lines_.size() - 1;
    }
    qsizetype last = s;
    for (qsizetype i = s + 1; i < lines_.size() && !isSection(lines_[i]); ++i) {
        const qsizetype eq = lines_[i].indexOf(u'=');
        if (eq >= 0 && lines_[i].left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0) {
            lines_[i] = lines_[i].left(eq).trimmed() + u'=' + value;
            return;
        }
        if (!lines_[i].trimmed().isEmpty()) last = i;
    }
    lines_.insert(last + 1, key + u'=' + value);
}

}  // namespace rimbal
