// The sound information texts of the key definition dialog's "Info" tab.
#include "kit/soundinfo.h"

#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace rimbal {

std::uint64_t DecodedBytes(rb::System system, rb::Sound sound) {
    std::uint32_t frames = 0;
    int channels = 1, rate = 0;
    float frequency = 0;
    rb::Sound_GetLength(sound, &frames, rb::TIMEUNIT_PCM);
    rb::Sound_GetFormat(sound, nullptr, nullptr, &channels, nullptr);
    rb::Sound_GetDefaults(sound, &frequency, nullptr, nullptr, nullptr);
    rb::System_GetSoftwareFormat(system, &rate, nullptr);
    const double ratio = frequency > 0 && rate > 0 ? rate / static_cast<double>(frequency) : 1.0;
    return static_cast<std::uint64_t>(frames * ratio) * static_cast<std::uint64_t>(std::clamp(channels, 1, 2)) * 4;
}

QString SizeText(qint64 bytes) {
    double x = static_cast<double>(bytes);
    int u = 0;
    while (x >= 1000 && u < 6) {
        x /= 1024;
        ++u;
    }
    const QString n = FormatFixed2(x);
    return n.left(x >= 100 ? 3 : 4) + u' ' + QString::fromLatin1(kSizeUnits[u]);
}

QString DurationText(std::uint16_t seconds) {
    return QStringLiteral("%1:%2:%3")
        .arg(FormatTwoDigits(seconds / 3600), FormatTwoDigits((seconds % 3600) / 60), FormatTwoDigits(seconds % 60));
}

namespace {

QString trimControls(const QString& s) {
    qsizetype a = 0, b = s.size();
    while (a < b && s[a].unicode() <= 32) ++a;
    while (b > a && s[b - 1].unicode() <= 32) --b;
    return s.mid(a, b - a);
}

QString generalNumber(double v) {
    QString s = QString::number(v, 'g', 15);
    const QString dp = QLocale().decimalPoint();
    return s.replace(u'.', dp.isEmpty() ? QChar(u'.') : dp[0]);
}

}  // namespace

bool SoundInfo(SoundCore& core, const QString& fileName, rb::Sound sound, QStringList& memo1, QStringList& memo2,
               const std::function<bool()>& stillCurrent) {
    // The size as a 32-bit signed count, as the Windows program had it.
    const qint64 size = QFileInfo(fileName).size();
    memo1.append(QStringLiteral("Tamanho: ") + SizeText(size > 0x7FFFFFFF ? static_cast<qint32>(size) : size));

    std::uint32_t length = 0;
    core.CheckResult(rb::Sound_GetLength(sound, &length, rb::TIMEUNIT_MS));
    memo1.append(QStringLiteral("Duração: ") + DurationText(static_cast<std::uint16_t>(length / 1000)));

    float frequency = 0, volume = 0, pan = 0;
    int priority = 0;
    core.CheckResult(rb::Sound_GetDefaults(sound, &frequency, &volume, &pan, &priority));
    memo1.append(QStringLiteral("Frequência: ") + generalNumber(frequency) + QStringLiteral(" Hz"));

    int type = 0, format = 0, channels = 0, bits = 0;
    core.CheckResult(rb::Sound_GetFormat(sound, &type, &format, &channels, &bits));
    const QString layout = channels == 1 ? QStringLiteral("Mono") : channels == 2 ? QStringLiteral("Stereo") : QString();
    memo1.append(QStringLiteral("Canais: %1 (%2)").arg(channels).arg(layout));
    memo1.append(QStringLiteral("Bits: %1").arg(bits));

    int count = 0, updated = 0;
    core.CheckResult(rb::Sound_GetNumTags(sound, &count, &updated));
    if (core.LastResult != rb::OK) return true;
    bool header[12];
    for (bool& h : header) h = true;
    for (int i = 0; i < count; ++i) {
        rb::Tag tag{};
        core.CheckResult(rb::Sound_GetTag(sound, nullptr, i, &tag));
        if (core.LastResult == rb::OK && tag.datatype == rb::TAGDATATYPE_STRING) {
            const QString rawName = QString::fromUtf8(tag.name);
            const QString name = rawName.left(1) + rawName.mid(1).toLower();
            QString value = FromWindows1252(QByteArray(static_cast<const char*>(tag.data), static_cast<qsizetype>(tag.datalen)));
            int genre = -1;
            if (name.toLower() == QLatin1String("genre") && ToInteger(value, genre) && genre >= 0 && genre <= 125)
                value = QString::fromLatin1(kGenreNames[genre]);
            QString line = trimControls(QStringLiteral("%1: %2").arg(name, value));
            if (tag.type == rb::TAGTYPE_ID3V2) {
                for (const TID3_Frame& f : kId3Frames) {
                    const QString id = QString::fromLatin1(f.id);
                    if (rawName.toLower() == id.toLower()) {
                        line.replace(id, QString::fromLatin1(f.description), Qt::CaseInsensitive);
                        break;
                    }
                }
            }
            if (tag.type >= 0 && tag.type <= 11 && header[tag.type]) {
                memo2.append(QStringLiteral("------- %1 -------").arg(QString::fromLatin1(kTagKindNames[tag.type])));
                header[tag.type] = false;
            }
            memo2.append(line);
        }
        QCoreApplication::processEvents();
        if (stillCurrent && !stillCurrent()) return false;
    }
    return true;
}

}  // namespace rimbal
