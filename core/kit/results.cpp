// Result checks: every engine call's code goes to LastResult and then to the
// error box (user actions) or to ErrorLog (bulk work).
#include "kit/soundcore.h"

#include <random>
#include <QLocale>

namespace rimbal {

const QString SoundCore::kDefaultPackage = QStringLiteral("RUDadiru");
const QString SoundCore::kContact = QStringLiteral("contato@rimbal.com.br");

SoundCore::SoundCore(Settings& settings, Prompt& prompt, LogView& log)
    : LayerChoice(std::random_device{}()), settings_(settings), prompt_(prompt), log_(log) {}

QString SoundCore::ErrorText(rb::Result r) {
    return QStringLiteral("Erro da engine: (%1) %2").arg(r).arg(QString::fromUtf8(rb::ErrorString(r)));
}

void SoundCore::CheckResult(rb::Result r) {
    LastResult = r;
    if (r == rb::ERR_OUTPUT_UNDERRUN) {
        // No error to answer: the engine mended it. The status panel says so.
        unsigned frames = 0;
        int rate = 0;
        rb::System_GetOutputLatency(SoundSystem, &frames, nullptr);
        rb::System_GetSoftwareFormat(SoundSystem, &rate, nullptr);
        StatusNotice = QStringLiteral("Som falhando: buffer agora de %1 ms")
                           .arg(QLocale(QLocale::Portuguese, QLocale::Brazil).toString(rate > 0 ? 1000.0 * frames / rate : 0.0, 'f', 1));
        return;
    }
    if (r != rb::OK) prompt_.message(QStringLiteral("Erro"), ErrorText(r), Prompt::Icon::Error, Prompt::Ok);
}

void SoundCore::LogResult(rb::Result r) {
    LastResult = r;
    if (r != rb::OK) ErrorLog.append(ErrorText(r));
}

void SoundCore::ShowErrorLog(const QString& caption) {
    if (ErrorLog.isEmpty()) return;
    const QStringList lines = ErrorLog;
    ErrorLog.clear();
    log_.showLog(caption, lines);
}

}  // namespace rimbal
