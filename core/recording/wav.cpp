// WAV headers and the 16-bit stereo writer shared by recordings and renders.
#include "recording/wav.h"

#include "base/textfiles.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rimbal {
namespace {

void put16(char* p, std::uint16_t v) { qToLittleEndian(v, p); }
void put32(char* p, std::uint32_t v) { qToLittleEndian(v, p); }

}  // namespace

QByteArray WavHeader(int channels, int frequency, int bitsPerSample, std::uint32_t dataSize) {
    QByteArray h(kWavHeaderSize, '\0');
    char* p = h.data();
    std::memcpy(p, "RIFF", 4);
    put32(p + 4, dataSize + 36);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    put32(p + 16, 16);
    put16(p + 20, 1);
    put16(p + 22, static_cast<std::uint16_t>(channels));
    put32(p + 24, static_cast<std::uint32_t>(frequency));
    put32(p + 28, static_cast<std::uint32_t>(static_cast<double>(channels) * frequency * bitsPerSample / 8.0));
    put16(p + 32, static_cast<std::uint16_t>(channels * bitsPerSample / 8));
    put16(p + 34, static_cast<std::uint16_t>(bitsPerSample));
    std::memcpy(p + 36, "data", 4);
    put32(p + 40, dataSize);
    return h;
}

bool WriteWavHeader(QIODevice& stream, int channels, int frequency, int bitsPerSample, std::uint32_t dataSize) {
    const QByteArray h = WavHeader(channels, frequency, bitsPerSample, dataSize);
    return stream.seek(0) && stream.write(h) == h.size();
}

bool WriteWavHeader(QIODevice& stream, rb::Sound sound, std::uint32_t dataSize) {
    int type = 0, format = 0, channels = 0, bits = 0;
    float frequency = 0;
    rb::Sound_GetFormat(sound, &type, &format, &channels, &bits);
    rb::Sound_GetDefaults(sound, &frequency, nullptr, nullptr, nullptr);
    return WriteWavHeader(stream, channels, static_cast<int>(frequency), bits, dataSize);
}

WavWriter::WavWriter(const QString& path, int rate) : file_(path), rate_(rate) {}

bool WavWriter::fail(const QString& why) {
    error_ = QStringLiteral("Não foi possível gravar %1 (%2).").arg(file_.fileName(), why);
    file_.cancelWriting();
    failed_ = true;
    return false;
}

bool WavWriter::open() {
    dataBytes_ = 0;
    failed_ = false;
    error_.clear();
    if (!file_.open(QIODevice::WriteOnly)) return fail(file_.errorString());
    if (!WriteWavHeader(file_, 2, rate_, 16, 0)) return fail(file_.errorString());
    return true;
}

bool WavWriter::writeFloat(const float* stereo, std::size_t frames) {
    if (!file_.isOpen() || failed_) return false;
    const std::size_t samples = frames * 2;
    if (dataBytes_ + samples * 2 > kWavMaxDataSize) return fail(QStringLiteral("longo demais para um arquivo WAV"));
    pcm_.resize(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const float v = std::clamp(stereo[i], -1.0f, 1.0f);
        pcm_[i] = qToLittleEndian(static_cast<std::int16_t>(std::lrint(v * 32767.0f)));
    }
    const auto bytes = static_cast<qint64>(samples * 2);
    if (file_.write(reinterpret_cast<const char*>(pcm_.data()), bytes) != bytes) return fail(file_.errorString());
    dataBytes_ += static_cast<std::uint64_t>(bytes);
    return true;
}

bool WavWriter::commit() {
    if (!file_.isOpen() || failed_) return false;
    if (!WriteWavHeader(file_, 2, rate_, 16, static_cast<std::uint32_t>(dataBytes_))) return fail(file_.errorString());
    if (!CommitSaveFile(file_)) {
        error_ = QStringLiteral("Não foi possível gravar %1 (%2).").arg(file_.fileName(), file_.errorString());
        return false;
    }
    return true;
}

}  // namespace rimbal
