// Windows-1252 text files with CR LF: conversion at the file boundary, bounded
// reads, saves by rename.
#include "base/textfiles.h"

#include <QFile>

#include <array>

namespace rimbal {
namespace {

// 0x80 to 0x9F of Windows-1252; 0 marks the five unassigned codes.
constexpr std::array<char16_t, 32> kHigh{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

}  // namespace

QString FromWindows1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F) {
            const char16_t u = kHigh[b - 0x80];
            out += QChar(u ? u : b);
        } else {
            out += QChar(b);
        }
    }
    return out;
}

QByteArray ToWindows1252(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // The five unassigned codes come back as the bytes they were read from.
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF) || (u >= 0x80 && u <= 0x9F && kHigh[u - 0x80] == 0)) {
            out += static_cast<char>(u);
            continue;
        }
        char mapped = '?';
        for (std::size_t i = 0; i < kHigh.size(); ++i)
            if (kHigh[i] == u) mapped = static_cast<char>(0x80 + i);
        out += mapped;
    }
    return out;
}

namespace {
bool fits1252(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF) || (u <= 0x9F && kHigh[u - 0x80] == 0)) return true;
    for (const char16_t h : kHigh)
        if (h != 0 && h == u) return true;
    return false;
}
}  // namespace

QString TextLineProblem(const QString& text) {
    if (text.contains(u'\r') || text.contains(u'\n')) return QStringLiteral("contém uma quebra de linha");
    QString bad;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A pair of surrogates is one character.
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString c = text.mid(i, n);
        i += n - 1;
        if (n == 1 && fits1252(c[0])) continue;
        if (!bad.contains(c)) bad += (bad.isEmpty() ? QString() : QStringLiteral(" ")) + c;
    }
    if (bad.isEmpty()) return {};
    return QStringLiteral("contém caracteres que o texto Windows-1252 não comporta (%1)").arg(bad);
}

bool ReadTextLines(const QString& path, QStringList& lines, qint64 maxBytes) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    // The size may change while it is read: one byte past the bound tells.
    const QByteArray bytes = maxBytes < 0 ? f.readAll() : f.read(maxBytes + 1);
    if (maxBytes >= 0 && bytes.size() > maxBytes) return false;
    const QString text = FromWindows1252(bytes);
    lines.clear();
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            lines.append(text.mid(start, i - start));
            if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
            start = i + 1;
        }
    }
    if (start < n) lines.append(text.mid(start));
    return true;
}

bool WriteTextLines(const QString& path, const QStringList& lines, QString* error) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error) *error = QStringLiteral("Unable to write to %1").arg(path);
        return false;
    }
    QByteArray data;
    for (const QString& line : lines) {
        data += ToWindows1252(line);
        data += "\r\n";
    }
    if (f.write(data) != data.size() || !CommitSaveFile(f)) {
        if (error) *error = QStringLiteral("Unable to write to %1").arg(path);
        return false;
    }
    return true;
}

bool CommitSaveFile(QSaveFile& file) { return file.flush() && file.commit(); }

}  // namespace rimbal
