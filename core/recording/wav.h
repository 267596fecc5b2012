// WAV files of PCM audio: the canonical 44-byte header, and a writer of
// 16-bit stereo files from the mixer's float frames. The audio recording and
// the sequence render share them. GUI thread (one object, one thread).
#pragma once

#include "rbcore.h"

#include <QByteArray>
#include <QIODevice>
#include <QSaveFile>
#include <QString>

#include <cstdint>
#include <vector>

namespace rimbal {

inline constexpr int kWavHeaderSize = 44;
// The largest data size the header's 32-bit RIFF size can describe.
inline constexpr std::uint32_t kWavMaxDataSize = 0xFFFFFFFFu - 36;

// The 44-byte header of a PCM WAV file, little-endian.
QByteArray WavHeader(int channels, int frequency, int bitsPerSample, std::uint32_t dataSize);

// Writes the header at offset 0 and leaves the stream positioned after it.
bool WriteWavHeader(QIODevice& stream, int channels, int frequency, int bitsPerSample, std::uint32_t dataSize);
// The header of an engine sound: its channels and bits, and its default
// frequency truncated to an integer.
bool WriteWavHeader(QIODevice& stream, rb::Sound sound, std::uint32_t dataSize);

// A 16-bit stereo WAV file written through a temporary file that is renamed
// over the target by commit(), so a failure never leaves a partial file or
// destroys an earlier one.
class WavWriter {
public:
    WavWriter(const QString& path, int rate);

    bool open();
    // Interleaved stereo floats; values beyond full scale are clipped.
    bool writeFloat(const float* stereo, std::size_t frames);
    // Completes the header and replaces the target.
    bool commit();

    std::uint64_t frames() const { return dataBytes_ / 4; }
    int rate() const { return rate_; }
    QString errorText() const { return error_; }

private:
    bool fail(const QString& why);

    QSaveFile file_;
    int rate_;
    std::uint64_t dataBytes_ = 0;
    bool failed_ = false;
    std::vector<std::int16_t> pcm_;
    QString error_;
};

}  // namespace rimbal
