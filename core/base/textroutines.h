// Small shared text routines: key names, "*"-separated fields, number tests,
// number patterns with the user's decimal separator, and a wait that keeps
// the windows alive. GUI thread.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace rimbal {

// Short display name of a Windows virtual-key code; empty for keys without one.
QString KeyName(std::uint16_t code);

// Field n (from 1) of text split at separator; empty beyond the last field.
QString GetField(const QString& text, int n, const QString& separator);

// Number of non-empty fields.
int CountFields(const QString& text, const QString& separator);

// Standard integer conversion: leading blanks, optional sign, decimal digits
// or hexadecimal after "$", "x" or "0x"; must fit 32 bits; nothing may follow.
bool IsInteger(const QString& text);
bool ToInteger(const QString& text, int& value);

// Floating-point conversion with the user's decimal separator (exponent allowed).
bool IsFloat(const QString& text);
bool ToFloat(const QString& text, double& value);

// A volume field: either "," or "." as the decimal separator, whatever the
// locale, so key lists travel between systems.
bool ToVolume(const QString& text, float& value);

QString IfThenStr(bool condition, const QString& whenTrue, const QString& whenFalse);

// Waits at least ms milliseconds while the event loop keeps running; sleeps
// on the event loop instead of spinning.
void WaitMs(unsigned ms);

// The "0.00" pattern with the user's decimal separator.
QString FormatFixed2(double value);
// The "00" pattern: at least two digits.
QString FormatTwoDigits(long long value);

// True when a path carries a drive: a drive letter with colon, a network share,
// or (on this platform) a leading "/". Otherwise it is relative.
bool HasDrive(const QString& path);

// A Windows path with a drive letter or a network share (D:\Sons,
// \\server\share): it names no place on this system.
bool IsWindowsPath(const QString& path);

// File names compare as the file system compares them.
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
inline constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseInsensitive;
#else
inline constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseSensitive;
#endif

// Joins a folder that ends with a separator and a stored relative name, taking
// a backslash in the name as a folder separator.
QString JoinRelative(const QString& folder, const QString& relative);

}  // namespace rimbal
