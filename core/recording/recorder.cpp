// The audio recorder: the take in Temp.$$$, its playback, saving and clearing.
#include "recording/recorder.h"

#include "base/prompt.h"
#include "kit/soundcore.h"
#include "base/textfiles.h"

#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

namespace rimbal {
namespace {

// What the engine may write at once (one device or mixer buffer) is far less
// than an eighth of the ring; frames that close to the writer are taken as lost.
std::uint64_t guardFrames(std::uint32_t ringFrames) { return ringFrames / 8; }

QString seconds(std::uint64_t frames, int rate) {
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(rate > 0 ? static_cast<double>(frames) / rate : 0.0, 'f', 2);
}

}  // namespace

const QString Recorder::kTempName = QStringLiteral("Temp.$$$");

Recorder::Recorder(SoundCore& core, Prompt& prompt) : PlaybackSound(core.PlaybackSound), m_core(core), m_prompt(prompt) {
    // A running take is completed before the engine lets go of its ring.
    m_core.OnReleasing = [this] {
        if (Stop() && onStoppedByItself) onStoppedByItself();
    };
}

Recorder::~Recorder() {
    m_core.OnReleasing = nullptr;
    finishFile();
}

QString Recorder::TempPath() const { return m_temp.isValid() ? m_temp.path() : m_core.settings().AppDir + kTempName; }

void Recorder::RemoveTempFile() {
    if (SoundRecording) return;
    m_temp.remove();
    // What a run that crashed left; a take another program holds is not that.
    OwnFile::RemoveLeftover(m_core.settings().AppDir, kTempName);
}

Recorder::Format Recorder::ringFormat() const {
    int type = 0, format = 0;
    Format f;
    float frequency = 0;
    rb::Sound_GetFormat(m_core.RecordSound, &type, &format, &f.channels, &f.bits);
    rb::Sound_GetDefaults(m_core.RecordSound, &frequency, nullptr, nullptr, nullptr);
    f.rate = static_cast<int>(frequency);
    return f;
}

void Recorder::error(const QString& text) { m_prompt.message(QStringLiteral("Erro"), text, Prompt::Icon::Error, Prompt::Ok); }

bool Recorder::Start() {
    if (SoundRecording) return false;
    const rb::System sys = m_core.SoundSystem;
    const bool mix = m_core.settings().Record_Mix;
    m_core.CheckResult(rb::System_SetRecordSource(sys, mix ? rb::RECORD_SOURCE_MIX : rb::RECORD_SOURCE_DEVICE));
    if (m_core.LastResult != rb::OK) return false;
    // A recording that cannot start has nothing to put in a file.
    m_core.CheckResult(rb::System_RecordStart(sys, m_core.RecordSound, true));
    if (m_core.LastResult != rb::OK) return false;
    // Every start fills the ring from its beginning again.
    m_copied = 0;
    RecordPos = 0;
    LastRecordPos = 0;
    m_gaps.clear();
    const Format now = ringFormat();
    const auto refuse = [&](const QString& text) {
        RecordFile.close();
        rb::System_RecordStop(sys);
        error(text);
        return false;
    };
    QString cause;
    if (RecordingCleared) {
        // A new file every take, made so that nothing planted in the folder
        // is written through, and nobody else's take is overwritten.
        m_temp.remove();
        if (!m_temp.create(m_core.settings().AppDir, kTempName, &cause) ||
            !m_temp.open(RecordFile, QIODevice::ReadWrite | QIODevice::Unbuffered, &cause))
            return refuse(QStringLiteral("Não foi possível criar o arquivo temporário da gravação %1 (%2).").arg(TempPath(), cause));
        m_take = now;
        m_dataBytes = 0;
        m_lostFrames = 0;
        if (!WriteWavHeader(RecordFile, m_core.RecordSound, 0))
            return refuse(QStringLiteral("Não foi possível gravar o arquivo temporário da gravação %1 (%2).")
                              .arg(TempPath(), RecordFile.errorString()));
    } else {
        // Only the file this take was written to, where it was left.
        if (!m_temp.open(RecordFile, QIODevice::ReadWrite | QIODevice::Unbuffered, &cause))
            return refuse(QStringLiteral("Não foi possível abrir o arquivo temporário da gravação %1 (%2).").arg(TempPath(), cause));
        // A take is one rate: audio at another one would play at the wrong pitch.
        if (!(now == m_take))
            return refuse(QStringLiteral("A gravação guardada está em %1 Hz e o som agora seria gravado em %2 Hz. "
                                         "Salve ou limpe a gravação antes de gravar de novo.")
                              .arg(m_take.rate)
                              .arg(now.rate));
        const qint64 size = RecordFile.size();
        const int frameBytes = std::max(1, m_take.channels * m_take.bits / 8);
        m_dataBytes = size > kWavHeaderSize ? static_cast<std::uint64_t>(size - kWavHeaderSize) / frameBytes * frameBytes : 0;
        m_dataBytes = std::min<std::uint64_t>(m_dataBytes, MaxDataSize);
        const qint64 end = kWavHeaderSize + static_cast<qint64>(m_dataBytes);
        if ((size != end && !RecordFile.resize(end)) ||
            !WriteWavHeader(RecordFile, m_take.channels, m_take.rate, m_take.bits, static_cast<std::uint32_t>(m_dataBytes)) ||
            !RecordFile.seek(end))
            return refuse(QStringLiteral("Não foi possível gravar o arquivo temporário da gravação %1 (%2).")
                              .arg(TempPath(), RecordFile.errorString()));
    }
    RecordLength = 0;
    m_core.CheckResult(rb::Sound_GetLength(m_core.RecordSound, &RecordLength, rb::TIMEUNIT_PCM));
    m_frameBytes = static_cast<std::uint32_t>(std::max(1, m_take.channels * m_take.bits / 8));
    SoundRecording = true;
    RecordingCleared = false;
    return true;
}

bool Recorder::writeBytes(const void* data, std::uint32_t bytes) {
    const auto* p = static_cast<const char*>(data);
    qint64 left = bytes;
    // A short write is followed by one that fails with the cause.
    while (left > 0) {
        const qint64 n = RecordFile.write(p, left);
        if (n <= 0) {
            m_writeError = RecordFile.errorString();
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool Recorder::writeSilence(std::uint64_t frames) {
    static const std::array<char, 65536> zeros{};
    std::uint64_t bytes = frames * m_frameBytes;
    while (bytes > 0) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, zeros.size()));
        if (!writeBytes(zeros.data(), n)) return false;
        bytes -= n;
    }
    return true;
}

void Recorder::noteGap(std::uint64_t atFrame, std::uint64_t frames) {
    m_lostFrames += frames;
    m_gaps << QStringLiteral("Gravação: %1 s perdidos aos %2 s, porque o programa ficou ocupado por mais tempo do que o "
                             "buffer de gravação guarda. O trecho ficou em silêncio.")
                  .arg(seconds(frames, m_take.rate), seconds(atFrame, m_take.rate));
}

bool Recorder::copyUpTo(std::uint64_t total, bool engineRunning) {
    if (RecordLength == 0 || total <= m_copied) return true;
    const std::uint64_t guard = guardFrames(RecordLength);
    const auto room = [&] { return (MaxDataSize - std::min<std::uint64_t>(m_dataBytes, MaxDataSize)) / m_frameBytes; };
    std::uint64_t pending = total - m_copied;
    // Held longer than the ring: its oldest frames were overwritten. Silence
    // of that length keeps the rest of the take in time.
    if (pending > RecordLength - guard) {
        const std::uint64_t lost = pending - (RecordLength - guard);
        const std::uint64_t n = std::min(lost, room());
        noteGap(m_dataBytes / m_frameBytes, n);
        if (!writeSilence(n)) return false;
        m_dataBytes += n * m_frameBytes;
        m_copied += lost;
        pending -= lost;
    }
    pending = std::min(pending, room());
    if (pending > 0) {
        const rb::Sound ring = m_core.RecordSound;
        const qint64 blockStart = RecordFile.pos();
        void *p1 = nullptr, *p2 = nullptr;
        std::uint32_t n1 = 0, n2 = 0;
        const auto offset = static_cast<std::uint32_t>(m_copied % RecordLength) * m_frameBytes;
        const auto length = static_cast<std::uint32_t>(pending) * m_frameBytes;
        if (rb::Sound_Lock(ring, offset, length, &p1, &p2, &n1, &n2) != rb::OK) {
            // The ring is gone: keep the take in time.
            if (!writeSilence(pending)) return false;
        } else {
            // Straight from the engine's buffer to the file, in one or two blocks.
            const bool ok = (!p1 || n1 == 0 || writeBytes(p1, n1)) && (!p2 || n2 == 0 || writeBytes(p2, n2));
            rb::Sound_Unlock(ring, p1, p2, n1, n2);
            if (!ok) return false;
        }
        // Frames the engine reached while they were being written are no
        // longer what it recorded then: they become silence too.
        std::uint64_t after = total;
        if (engineRunning && rb::System_GetRecordFrames(m_core.SoundSystem, &after) == rb::OK &&
            after + guard > RecordLength + m_copied) {
            const std::uint64_t stale = std::min(after + guard - RecordLength - m_copied, pending);
            noteGap(m_dataBytes / m_frameBytes, stale);
            if (!RecordFile.seek(blockStart) || !writeSilence(stale) ||
                !RecordFile.seek(blockStart + static_cast<qint64>(pending * m_frameBytes))) {
                m_writeError = RecordFile.errorString();
                return false;
            }
        }
        m_dataBytes += pending * m_frameBytes;
        m_copied += pending;
    }
    LastRecordPos = static_cast<std::uint32_t>(m_copied % RecordLength);
    return true;
}

bool Recorder::finishFile() {
    if (!RecordFile.isOpen()) return true;
    const qint64 end = kWavHeaderSize + static_cast<qint64>(m_dataBytes);
    // A write cut short by a full disk leaves no partial frame behind.
    bool ok = RecordFile.size() == end || RecordFile.resize(end);
    ok = WriteWavHeader(RecordFile, m_take.channels, m_take.rate, m_take.bits, static_cast<std::uint32_t>(m_dataBytes)) && ok;
    if (!ok) m_writeError = RecordFile.errorString();
    RecordFile.close();
    return ok;
}

void Recorder::endTake(const QString& problem, bool isError) {
    SoundRecording = false;
    QString message = problem;
    if (!finishFile() && message.isEmpty())
        message = QStringLiteral("Não foi possível completar o arquivo temporário da gravação %1 (%2).")
                      .arg(TempPath(), m_writeError);
    if (!m_gaps.isEmpty()) {
        m_core.ErrorLog.append(m_gaps);
        m_gaps.clear();
        m_core.ShowErrorLog(QStringLiteral("Avisos da gravação"));
    }
    if (message.isEmpty()) return;
    if (isError) error(message);
    else m_prompt.message(QStringLiteral("Aviso"), message, Prompt::Icon::Warning, Prompt::Ok);
}

QString Recorder::writeProblem() const {
    return QStringLiteral("Não foi possível gravar no arquivo temporário da gravação %1 (%2). A gravação foi parada.")
        .arg(TempPath(), m_writeError);
}

bool Recorder::Tick() {
    if (!SoundRecording) return true;
    const rb::System sys = m_core.SoundSystem;
    m_core.CheckResult(rb::System_GetRecordPosition(sys, &RecordPos));
    bool running = false;
    rb::System_IsRecording(sys, &running);
    std::uint64_t total = m_copied;
    rb::System_GetRecordFrames(sys, &total);
    QString problem;
    bool isError = true;
    if (!copyUpTo(total, running)) {
        problem = writeProblem();
    } else if (m_dataBytes + m_frameBytes > MaxDataSize) {
        problem = QStringLiteral("A gravação chegou ao tamanho máximo de um arquivo WAV (4 GB) e foi parada.");
        isError = false;
    } else if (running) {
        return true;
    }
    // Otherwise the engine ended it itself (the recording device went away,
    // which the engine reports on its own).
    rb::System_RecordStop(sys);
    endTake(problem, isError);
    return false;
}

bool Recorder::Stop() {
    if (!SoundRecording) return false;
    const rb::System sys = m_core.SoundSystem;
    m_core.CheckResult(rb::System_RecordStop(sys));
    // Everything recorded up to the stop goes into the take.
    std::uint64_t total = m_copied;
    rb::System_GetRecordFrames(sys, &total);
    rb::System_GetRecordPosition(sys, &RecordPos);
    endTake(copyUpTo(total, false) ? QString() : writeProblem(), true);
    return true;
}

bool Recorder::UpdatePlayback() {
    if (!m_core.IsChannelPlaying(PlaybackChannel)) return false;
    const rb::Result r = rb::Channel_GetPosition(PlaybackChannel, &PlaybackPos, rb::TIMEUNIT_PCM);
    // It may have ended between the two calls.
    if (r != rb::ERR_INVALID_HANDLE && r != rb::ERR_CHANNEL_STOLEN) m_core.CheckResult(r);
    return true;
}

bool Recorder::IsPlaying() { return m_core.IsChannelPlaying(PlaybackChannel); }

bool Recorder::Play() {
    if (RecordingCleared) return false;
    const rb::System sys = m_core.SoundSystem;
    if (PlaybackSound != rb::Sound{}) {
        m_core.CheckResult(rb::Sound_Release(PlaybackSound));
        PlaybackSound = rb::Sound{};
    }
    m_core.CheckResult(rb::System_CreateSound(sys, QFile::encodeName(TempPath()).constData(), m_core.settings().SoundMode,
                                              nullptr, &PlaybackSound));
    if (PlaybackSound == rb::Sound{}) return false;
    m_core.CheckResult(rb::Sound_SetMode(PlaybackSound, LoopPlayback ? rb::LOOP_NORMAL : rb::LOOP_OFF));
    m_core.CheckResult(rb::System_PlaySound(sys, rb::CHANNEL_FREE, PlaybackSound, true, &PlaybackChannel));
    m_core.CheckResult(rb::Channel_SetVolume(PlaybackChannel, 0.5f));
    m_core.CheckResult(rb::Channel_SetPaused(PlaybackChannel, false));
    PlaybackEndPending = true;
    return true;
}

bool Recorder::StopPlayback() {
    if (!m_core.IsChannelPlaying(PlaybackChannel)) return false;
    m_core.CheckResult(rb::Channel_Stop(PlaybackChannel));
    PlaybackEndPending = false;
    return true;
}

bool Recorder::Save(const QString& path, QString& error) {
    const QString temp = TempPath();
    const auto fail = [&](const QString& cause) {
        error = QStringLiteral("Não foi possível salvar a gravação em %1 (%2). A gravação continua guardada.").arg(path, cause);
        return false;
    };
    if (SoundRecording) return fail(QStringLiteral("a gravação ainda está em andamento"));
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(temp).absoluteFilePath())
        return fail(QStringLiteral("é o arquivo temporário da gravação"));
    // Only the take this recorder wrote is moved, never what took its place.
    if (!m_temp.isIntact()) return fail(QStringLiteral("o arquivo temporário da gravação não existe mais"));
    std::error_code ec;
    std::filesystem::rename(QFile::encodeName(temp).toStdString(), QFile::encodeName(path).toStdString(), ec);
    if (ec == std::errc::cross_device_link) {
        // Another file system: a copy that replaces the target only when
        // complete, and the temporary file goes only after that.
        QFile in;
        QSaveFile out(path);
        QString cause;
        if (!m_temp.open(in, QIODevice::ReadOnly, &cause)) return fail(cause);
        if (!out.open(QIODevice::WriteOnly)) return fail(out.errorString());
        while (!in.atEnd()) {
            const QByteArray chunk = in.read(1 << 20);
            if (chunk.isEmpty() && in.error() != QFileDevice::NoError) return fail(in.errorString());
            if (out.write(chunk) != chunk.size()) return fail(out.errorString());
        }
        if (!CommitSaveFile(out)) return fail(out.errorString());
        in.close();
        m_temp.remove();
    } else if (ec) {
        return fail(QString::fromLocal8Bit(ec.message()));
    }
    m_temp.release();  // the user's file now
    RecordingCleared = true;
    return true;
}

QString Recorder::StatusText() const {
    return QStringLiteral("State: %1 Record pos = %2 Play pos = %3 Loop %4")
        .arg(SoundRecording ? QStringLiteral("Recording") : QStringLiteral("Idle"))
        .arg(RecordPos)
        .arg(PlaybackPos)
        .arg(LoopPlayback ? QStringLiteral("On") : QStringLiteral("Off"));
}

}  // namespace rimbal
