// Key names, "*"-separated fields, number tests and patterns, and the wait that
// keeps windows alive.
#include "base/textroutines.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QTimer>

#include <array>
#include <cmath>
#include <limits>

namespace rimbal {

QString KeyName(std::uint16_t code) {
    if (code >= 0x60 && code <= 0x69) return QStringLiteral("N%1").arg(code - 0x60);
    if (code >= 0x70 && code <= 0x87) return QStringLiteral("F%1").arg(code - 0x6F);
    struct Named { std::uint16_t code; const char* name; };
    static constexpr std::array<Named, 31> kNames{{
        {0x08, "BAC"}, {0x0D, "ENT"}, {0x10, "SHI"}, {0x11, "CTR"}, {0x12, "ALT"}, {0x13, "PAU"},
        {0x14, "CLK"}, {0x1B, "ESC"}, {0x20, "ESP"}, {0x21, "PUP"}, {0x22, "PDO"}, {0x23, "END"},
        {0x24, "HOM"}, {0x25, "LE"},  {0x26, "UP"},  {0x27, "RI"},  {0x28, "DO"},  {0x2C, "PSC"},
        {0x2D, "INS"}, {0x2E, "DEL"}, {0x5B, "LWI"}, {0x5C, "RWI"}, {0x5D, "APP"}, {0x6A, "MUL"},
        {0x6B, "ADD"}, {0x6C, "SEP"}, {0x6D, "SUB"}, {0x6E, "DEC"}, {0x6F, "DIV"}, {0x90, "NLK"},
        {0x91, "SLK"},
    }};
    for (const Named& n : kNames)
        if (n.code == code) return QString::fromLatin1(n.name);
    if ((code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5A)) return QString(QChar(code));
    return {};
}

QString GetField(const QString& text, int n, const QString& separator) {
    if (n <= 0 || separator.isEmpty()) return {};
    qsizetype start = 0;
    for (int i = 1; i < n; ++i) {
        const qsizetype at = text.indexOf(separator, start);
        if (at < 0) return {};
        start = at + separator.size();
    }
    const qsizetype end = text.indexOf(separator, start);
    return text.mid(start, end < 0 ? -1 : end - start);
}

int CountFields(const QString& text, const QString& separator) {
    if (text.isEmpty() || separator.isEmpty()) return text.isEmpty() ? 0 : 1;
    int count = 0;
    for (const QString& part : text.split(separator))
        if (!part.isEmpty()) ++count;
    return count;
}

namespace {
int digitOf(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}
}  // namespace

bool ToInteger(const QString& text, int& value) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int base = 10;
    if (i < n && text[i] == u'$') { base = 16; ++i; }
    else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) { base = 16; i += 2; }
    else if (i < n && (text[i] == u'x' || text[i] == u'X')) { base = 16; ++i; }
    if (i >= n) return false;
    long long v = 0;
    for (; i < n; ++i) {
        const int d = digitOf(text[i]);
        if (d < 0 || d >= base) return false;
        v = v * base + d;
        // Hexadecimal may spell a negative number through the top bit.
        if (v > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return false;
    }
    if (base == 16 && v > std::numeric_limits<int>::max()) v -= 0x100000000LL;
    if (negative) v = -v;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return false;
    value = static_cast<int>(v);
    return true;
}

bool IsInteger(const QString& text) {
    int v = 0;
    return ToInteger(text, v);
}

namespace {

// Decimal number with the given separator: blanks, sign, digits, optional
// fraction, optional exponent, blanks.
bool parseDecimal(const QString& text, QChar sep, double& value) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return false;
    QString ascii;
    ascii.reserve(t.size());
    qsizetype i = 0;
    const qsizetype n = t.size();
    if (t[i] == u'+' || t[i] == u'-') ascii += t[i++];
    int digits = 0;
    while (i < n && t[i] >= u'0' && t[i] <= u'9') { ascii += t[i++]; ++digits; }
    if (i < n && t[i] == sep) {
        ascii += u'.';
        ++i;
        while (i < n && t[i] >= u'0' && t[i] <= u'9') { ascii += t[i++]; ++digits; }
    }
    if (digits == 0) return false;
    if (i < n && (t[i] == u'e' || t[i] == u'E')) {
        ascii += u'e';
        ++i;
        if (i < n && (t[i] == u'+' || t[i] == u'-')) ascii += t[i++];
        int expDigits = 0;
        while (i < n && t[i] >= u'0' && t[i] <= u'9') { ascii += t[i++]; ++expDigits; }
        if (expDigits == 0) return false;
    }
    if (i != n) return false;
    bool ok = false;
    value = ascii.toDouble(&ok);
    return ok;
}

QChar userSeparator() {
    const QString dp = QLocale().decimalPoint();
    return dp.isEmpty() ? QChar(u'.') : dp[0];
}

}  // namespace

bool ToFloat(const QString& text, double& value) { return parseDecimal(text, userSeparator(), value); }

bool IsFloat(const QString& text) {
    double v = 0;
    return ToFloat(text, v);
}

bool ToVolume(const QString& text, float& value) {
    double v = 0;
    if (!parseDecimal(text, u',', v) && !parseDecimal(text, u'.', v)) return false;
    // 1e39 is a double but no float: infinity times a layer's gain of 0 is NaN.
    if (!std::isfinite(static_cast<float>(v))) return false;
    value = static_cast<float>(v);
    return true;
}

QString IfThenStr(bool condition, const QString& whenTrue, const QString& whenFalse) {
    return condition ? whenTrue : whenFalse;
}

void WaitMs(unsigned ms) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;  // guarantees the blocking wait below ends on time
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const qint64 elapsed = clock.elapsed();
        if (elapsed >= static_cast<qint64>(ms)) return;
        wake.start(static_cast<int>(ms - static_cast<unsigned>(elapsed)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

QString FormatFixed2(double value) {
    QString s = QString::number(value, 'f', 2);
    return s.replace(u'.', userSeparator());
}

QString FormatTwoDigits(long long value) {
    if (value < 0) return QStringLiteral("-") + FormatTwoDigits(-value);
    return QStringLiteral("%1").arg(value, 2, 10, QChar(u'0'));
}

bool HasDrive(const QString& path) {
    const QString p = path.trimmed();
    if (p.size() >= 2 && p[1] == u':' && p[0].isLetter()) return true;
    if (p.startsWith(QStringLiteral("\\\\")) || p.startsWith(QStringLiteral("//"))) return true;
    return p.startsWith(u'/');
}

bool IsWindowsPath(const QString& path) {
#if defined(Q_OS_WIN)
    Q_UNUSED(path);
    return false;
#else
    const QString p = path.trimmed();
    return (p.size() >= 2 && p[1] == u':' && p[0].isLetter()) || p.startsWith(QStringLiteral("\\\\"));
#endif
}

QString JoinRelative(const QString& folder, const QString& relative) {
    QString r = relative;
    r.replace(u'\\', u'/');
    return folder + r;
}

}  // namespace rimbal
