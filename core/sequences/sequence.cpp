// Key sequences: recording, playing, checking, and the .rbs file.
#include "sequences/sequence.h"

#include "archives/ziparchive.h"
#include "base/prompt.h"
#include "kit/soundcore.h"
#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringView>
#include <QTimer>

#include <algorithm>

namespace rimbal {

using namespace std::chrono;

namespace {

const QString kSep = QStringLiteral("*");
// A sequence text is a few bytes per key; anything near this is not one.
constexpr qint64 kMaxTextBytes = 16 * 1024 * 1024;

// The text up to its first empty field: what the check looked at.
QString checkedPart(const QString& text) {
    if (text.startsWith(u'*')) return {};
    const qsizetype gap = text.indexOf(QStringLiteral("**"));
    return gap < 0 ? text : text.left(gap);
}

bool toKey(QStringView field, std::uint16_t& key) {
    int v = 0;
    if (!ToInteger(field.toString(), v) || v < 0 || v > 0xFFFF) return false;
    key = static_cast<std::uint16_t>(v);
    return true;
}

}  // namespace

// ---------------------------------------------------------------- clock

void SteadySequenceClock::waitUntil(TimePoint deadline, const std::function<bool()>& wake) {
    QTimer alarm;  // ends the blocking wait below on time
    alarm.setSingleShot(true);
    alarm.setTimerType(Qt::PreciseTimer);
    for (;;) {
        // The deadline is looked at before anything else runs, so a wake is
        // late by at most the handlers that ran in the same pass.
        if (wake && wake()) return;
        const auto left = deadline - steady_clock::now();
        if (left <= steady_clock::duration::zero()) return;
        // Timers count whole milliseconds: sleep until the last one, then
        // keep the loop turning for the rest.
        const auto whole = duration_cast<milliseconds>(left);
        if (whole.count() == 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            continue;
        }
        alarm.start(whole);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void SteadySequenceClock::processEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

// ---------------------------------------------------------------- state

const QByteArray Sequence::kPassword = kArchivePassword;
const QString Sequence::kEntryName = QStringLiteral("RBS.txt");

Sequence::Sequence(SoundCore& core, Prompt& prompt)
    : core_(core), prompt_(prompt), steady_(std::make_unique<SteadySequenceClock>()), clock_(steady_.get()) {
    LastKeyTime = clock_->now();
}

Sequence::~Sequence() = default;

void Sequence::SetClock(SequenceClock* clock) {
    clock_ = clock ? clock : steady_.get();
    LastKeyTime = clock_->now();
}

// ---------------------------------------------------------------- recording

qint64 Sequence::millisecondsSinceLastKey() {
    const qint64 ms = duration_cast<milliseconds>(clock_->now() - LastKeyTime).count();
    return ms < 0 ? -ms : ms;
}

void Sequence::CheckLongInterval() {
    if (FirstKeyPending || KeyInterval <= kLongInterval) return;
    if (prompt_.message(QStringLiteral("Confirmação"),
                        QStringLiteral("Intervalo longo encontrado, deseja substituir o valor?"),
                        Prompt::Icon::Question, Prompt::Yes | Prompt::No) == Prompt::Yes) {
        QString value = QStringLiteral("2000");
        if (prompt_.input(QStringLiteral("Definir intervalo"), QStringLiteral("Defina o valor (milisegundos)"), value)) {
            int v = 0;
            // Only what the loader accepts, so a saved sequence loads again.
            if (ToInteger(value, v) && v >= 0 && v <= kMaxInterval)
                KeyInterval = v;
            else
                prompt_.message(QStringLiteral("Aviso"), QStringLiteral("Valor incorreto."), Prompt::Icon::Error,
                                Prompt::Ok);
        }
    }
    KeyInterval = std::min(KeyInterval, kMaxInterval);
}

void Sequence::RecordKey(std::uint16_t key) {
    if (!RecordingSequence || !core_.IsKeyUsed(key, 3)) return;
    KeyInterval = millisecondsSinceLastKey();
    LastKeyTime = clock_->now();
    CheckLongInterval();
    // The question ran the event loop: the recording may have ended meanwhile.
    if (!RecordingSequence) return;
    if (FirstKeyPending) {
        SequenceText += QString::number(key);
        FirstKeyPending = false;
    } else {
        SequenceText += u'*';
        SequenceText += QString::number(KeyInterval);
        SequenceText += u'*';
        SequenceText += QString::number(key);
    }
}

void Sequence::StartRecording() {
    RecordingSequence = true;
    FirstKeyPending = true;
}

bool Sequence::Stop() {
    if (!RecordingSequence) {
        StopSequenceRequest = true;
        return false;
    }
    if (!FirstKeyPending) {
        KeyInterval = millisecondsSinceLastKey();
        CheckLongInterval();
        // Only a text that ends with a key takes the closing interval.
        if (!SequenceText.isEmpty() && !SequenceText.endsWith(u'*'))
            SequenceText += u'*' + QString::number(KeyInterval) + u'*';
    }
    RecordingSequence = false;
    FirstKeyPending = true;
    return true;
}

void Sequence::Clear() {
    RecordingSequence = false;
    FirstKeyPending = true;
    SequenceText.clear();
    ++revision_;
}

void Sequence::CheckSequenceText(const QString& text, TRBSFormatErrorInfo& info) {
    info.Code = 0;
    info.Detail.clear();
    if (text.isEmpty()) {
        info.Code = 1;
        return;
    }
    int n = 0;
    for (const QStringView field : QStringView(text).split(u'*')) {
        ++n;
        if (field.isEmpty()) return;  // valid up to here; the rest is not looked at
        info.Detail = field.toString();
        int v = 0;
        if (!ToInteger(info.Detail, v)) {
            info.Code = 2;
            return;
        }
        if (n % 2) {
            // A code beyond 16 bits names no key; it must not pass as the key it wraps to.
            const bool inRange = v >= 0 && v <= 0xFFFF;
            if (!inRange || !core_.IsKeyUsed(static_cast<std::uint16_t>(v), 3)) {
                info.Code = 3;
                info.Detail += QStringLiteral(" {") + (inRange ? KeyName(static_cast<std::uint16_t>(v)) : QString()) +
                               u'}';
                return;
            }
        } else if (v < 0 || v > kMaxInterval) {
            info.Code = 4;
            return;
        }
    }
}

// ---------------------------------------------------------------- playback

void Sequence::Abort() {
    if (playing_) aborting_ = true;
}

void Sequence::Play() {
    if (SequenceText.isEmpty() || playing_) return;
    playing_ = true;
    aborting_ = false;
    LastTiming = {};
    SequenceClock::TimePoint anchor = clock_->now();
    for (;;) {
        StopSequenceRequest = false;
        if (onPlaybackStarts) onPlaybackStarts();
        const PassEnd end = playPass(anchor);
        if (end == PassEnd::Aborted) break;
        if (onPlaybackEnds) onPlaybackEnds();
        if (end == PassEnd::Stopped || !RepeatSequence) break;
        clock_->processEvents();
        // A stop pressed between two passes counts too.
        if (aborting_ || StopSequenceRequest || SequenceText.isEmpty()) break;
        // The next pass starts where this one ended, unless the loop stood still.
        if (clock_->now() - anchor > kResync) anchor = clock_->now();
    }
    StopSequenceRequest = false;
    playing_ = false;
    aborting_ = false;
}

Sequence::PassEnd Sequence::playPass(SequenceClock::TimePoint& anchor) {
    // The text is read afresh at every step (recording, loading and clearing
    // may change it during a wait); a cursor saves scanning it from the start.
    qint64 n = 1;          // the field number of the next key
    qsizetype pos = 0;     // where field n starts; -1 beyond the text
    quint64 revision = revision_;
    qsizetype seen = SequenceText.size();
    const auto locate = [&] {
        pos = 0;
        for (qint64 i = 1; i < n && pos >= 0; ++i) {
            const qsizetype at = SequenceText.indexOf(u'*', pos);
            pos = at < 0 ? -1 : at + 1;
        }
    };
    const auto field = [&](qsizetype from, qsizetype& next) -> QStringView {
        next = -1;
        if (from < 0 || from > SequenceText.size()) return {};
        const qsizetype at = SequenceText.indexOf(u'*', from);
        if (at >= 0) next = at + 1;
        return QStringView(SequenceText).mid(from, (at < 0 ? SequenceText.size() : at) - from);
    };

    SequenceClock::TimePoint start = anchor;
    milliseconds offset{0};
    SequenceClock::duration shift{0};  // taken after the next key's lateness is counted
    for (;;) {
        if (revision != revision_ || SequenceText.size() < seen || (pos < 0 && SequenceText.size() != seen)) {
            revision = revision_;
            locate();
        }
        seen = SequenceText.size();
        qsizetype afterKey = -1, afterInterval = -1;
        const QStringView keyField = field(pos, afterKey);
        if (keyField.isEmpty()) return PassEnd::EndOfText;
        const QString interval = field(afterKey, afterInterval).toString();
        std::uint16_t key = 0;
        if (toKey(keyField, key)) {
            const auto late = duration_cast<microseconds>(clock_->now() - (start + offset));
            ++LastTiming.keys;
            LastTiming.worstLateness = std::max(LastTiming.worstLateness, late);
            if (late.count() > 0) LastTiming.totalLateness += late;
            core_.PlayKey(key);
        }
        start += shift;
        shift = {};
        int ms = 0;
        if (!interval.isEmpty() && ToInteger(interval, ms)) {
            offset += milliseconds(std::max(ms, 0));
            const SequenceClock::TimePoint deadline = start + offset;
            // Key n sounds at the sum of the intervals before it: a late wake
            // shortens the next wait instead of delaying every later key.
            clock_->waitUntil(deadline, [this] { return StopSequenceRequest || aborting_; });
            if (aborting_) return PassEnd::Aborted;
            const auto behind = clock_->now() - deadline;
            if (behind > kResync) shift = behind;
            anchor = start + offset + shift;
        }
        n += 2;
        pos = afterInterval;
        if (StopSequenceRequest) return PassEnd::Stopped;
    }
}

// ---------------------------------------------------------------- files

bool Sequence::SaveToFile(const QString& path, QString& error) const {
    ArchiveWriter writer(path);
    writer.setPassword(kPassword);
    writer.setLevel(6);
    // UTF-8: the one encoding besides ASCII that libzip stores in a comment.
    writer.setComment(QStringLiteral("Sequência de sons do Rimbal\r\n>>> www.rimbal.com.br").toUtf8());
    writer.addData(kEntryName, ToWindows1252(SequenceText));
    if (writer.write()) return true;
    error = writer.errorText();
    return false;
}

bool Sequence::ReadFile(const QString& path, QString& text, QString& message, QString* reason) {
    text.clear();
    const auto fail = [&](const QString& msg, const QString& why) {
        message = msg;
        if (reason) *reason = why;
        return false;
    };
    const QString readError = QStringLiteral("Erro ao ler dados.");
    ArchiveReader reader;
    if (!reader.open(path, kPassword)) return fail(readError, reader.errorText());
    const int index = reader.indexOf(kEntryName);
    if (index < 0) return fail(readError, QStringLiteral("%1 não contém %2.").arg(path, kEntryName));
    QByteArray data;
    if (!reader.read(index, data, kMaxTextBytes)) return fail(readError, reader.errorText());
    const QString loaded = FromWindows1252(data);
    TRBSFormatErrorInfo info;
    CheckSequenceText(loaded, info);
    switch (info.Code) {
    case 0: break;
    case 1: return fail(QStringLiteral("Arquivo vazio!"), {});
    case 2: return fail(QStringLiteral("Formato inválido! ") + info.Detail, {});
    case 3: return fail(QStringLiteral("Valor de tecla inválido! Não configurada ") + info.Detail, {});
    default: return fail(QStringLiteral("Valor de intervalo inválido! ") + info.Detail, {});
    }
    // Fields after an empty one were never checked: they are not taken.
    text = checkedPart(loaded);
    if (text.isEmpty()) return fail(QStringLiteral("Arquivo vazio!"), {});
    return true;
}

void Sequence::AppendLoaded(const QString& text) {
    RecordingSequence = false;
    FirstKeyPending = true;
    // A text cut off after a key (a recording that never stopped) gets its
    // interval first, so the loaded keys stay in their places.
    if (!SequenceText.isEmpty() && !SequenceText.endsWith(u'*')) SequenceText += QStringLiteral("*0*");
    SequenceText += text;
    if (!SequenceText.endsWith(u'*')) SequenceText += u'*';
    if (CountFields(SequenceText, kSep) % 2) SequenceText += QStringLiteral("0*");
}

}  // namespace rimbal
