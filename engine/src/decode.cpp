// Whole-file decoding (libsndfile), conversion to the mixer rate (soxr) and
// tag reading (TagLib). Control thread only.
#include "decode.h"

#include <sndfile.h>
#include <soxr.h>

#include <aifffile.h>
#include <fileref.h>
#include <flacfile.h>
#include <id3v1genres.h>
#include <id3v1tag.h>
#include <id3v2frame.h>
#include <id3v2tag.h>
#include <infotag.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <tpropertymap.h>
#include <vorbisfile.h>
#include <wavfile.h>
#include <xiphcomment.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <memory>
#include <new>
#include <tuple>

namespace rb::detail {
namespace {

// A decoded sound may take at most this many float samples (kMaxSoundBytes).
constexpr double kMaxSamples = static_cast<double>(kMaxSoundBytes / sizeof(float));
// Float sources may go above full scale; past this (+30 dBFS) a value is garbage.
constexpr float kMaxSample = 32.0f;

struct SndCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

void describe(int sfFormat, SoundObj& s) {
    switch (sfFormat & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV: case SF_FORMAT_WAVEX: case SF_FORMAT_RF64: s.type = SOUND_TYPE_WAV; break;
    case SF_FORMAT_AIFF: s.type = SOUND_TYPE_AIFF; break;
    case SF_FORMAT_FLAC: s.type = SOUND_TYPE_FLAC; break;
    case SF_FORMAT_OGG:
        s.type = (sfFormat & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS ? SOUND_TYPE_OPUS : SOUND_TYPE_OGGVORBIS;
        break;
    case SF_FORMAT_MPEG: s.type = SOUND_TYPE_MPEG; break;
    case SF_FORMAT_RAW: s.type = SOUND_TYPE_RAW; break;
    default: s.type = SOUND_TYPE_UNKNOWN; break;
    }
    switch (sfFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: s.format = SOUND_FORMAT_PCM8; s.bits = 8; break;
    case SF_FORMAT_PCM_24: s.format = SOUND_FORMAT_PCM24; s.bits = 24; break;
    case SF_FORMAT_PCM_32: s.format = SOUND_FORMAT_PCM32; s.bits = 32; break;
    case SF_FORMAT_FLOAT: case SF_FORMAT_DOUBLE: s.format = SOUND_FORMAT_PCMFLOAT; s.bits = 32; break;
    default: s.format = SOUND_FORMAT_PCM16; s.bits = 16; break;  // 16-bit and compressed sources
    }
}

// Left and right weights of a channel in the stereo fold-down: the standard
// ones (centre to both sides at -3 dB, surrounds to their side at -3 dB, LFE
// dropped).
std::pair<float, float> foldWeights(int position) {
    constexpr float h = 0.70710678f;
    switch (position) {
    case SF_CHANNEL_MAP_LEFT: case SF_CHANNEL_MAP_FRONT_LEFT: return {1.0f, 0.0f};
    case SF_CHANNEL_MAP_RIGHT: case SF_CHANNEL_MAP_FRONT_RIGHT: return {0.0f, 1.0f};
    case SF_CHANNEL_MAP_MONO: case SF_CHANNEL_MAP_CENTER: case SF_CHANNEL_MAP_FRONT_CENTER: return {h, h};
    case SF_CHANNEL_MAP_LFE: return {0.0f, 0.0f};
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER: case SF_CHANNEL_MAP_REAR_LEFT: case SF_CHANNEL_MAP_SIDE_LEFT:
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT: case SF_CHANNEL_MAP_TOP_REAR_LEFT: return {h, 0.0f};
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER: case SF_CHANNEL_MAP_REAR_RIGHT: case SF_CHANNEL_MAP_SIDE_RIGHT:
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT: case SF_CHANNEL_MAP_TOP_REAR_RIGHT: return {0.0f, h};
    default: return {0.5f, 0.5f};
    }
}

// Folds more than two channels down to stereo. Files without a channel map
// use the WAVE order (FL FR FC LFE BL BR FLC FRC BC SL SR). The weights are
// scaled so that a full-scale source cannot clip.
std::vector<float> foldToStereo(SNDFILE* f, const std::vector<float>& src, int ch, std::size_t frames) {
    static constexpr std::array<int, 11> kWaveOrder{
        SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_FRONT_CENTER, SF_CHANNEL_MAP_LFE,
        SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER,
        SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER, SF_CHANNEL_MAP_REAR_CENTER, SF_CHANNEL_MAP_SIDE_LEFT,
        SF_CHANNEL_MAP_SIDE_RIGHT};
    std::vector<int> map(static_cast<std::size_t>(ch), SF_CHANNEL_MAP_INVALID);
    if (sf_command(f, SFC_GET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(sizeof(int) * map.size())) != SF_TRUE)
        for (std::size_t c = 0; c < map.size(); ++c) map[c] = c < kWaveOrder.size() ? kWaveOrder[c] : SF_CHANNEL_MAP_INVALID;
    std::vector<float> wl(map.size()), wr(map.size());
    float sumL = 0, sumR = 0;
    for (std::size_t c = 0; c < map.size(); ++c) {
        std::tie(wl[c], wr[c]) = foldWeights(map[c]);
        sumL += wl[c];
        sumR += wr[c];
    }
    const float scale = 1.0f / std::max({1.0f, sumL, sumR});
    std::vector<float> st(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        float l = 0, r = 0;
        const float* in = &src[i * static_cast<std::size_t>(ch)];
        for (std::size_t c = 0; c < map.size(); ++c) {
            l += in[c] * wl[c];
            r += in[c] * wr[c];
        }
        st[2 * i] = l * scale;
        st[2 * i + 1] = r * scale;
    }
    return st;
}

// Converts interleaved frames from one rate to another.
Result convert(const std::vector<float>& in, int channels, int from, int to, std::vector<float>& out,
               std::uint32_t& outFrames) {
    const std::size_t frames = in.size() / static_cast<std::size_t>(channels);
    const double ratio = static_cast<double>(to) / from;
    const auto capacity = static_cast<std::size_t>(static_cast<double>(frames) * ratio + 1.0);
    if (static_cast<double>(capacity) * channels > kMaxSamples) return ERR_TOO_LARGE;
    out.assign(capacity * static_cast<std::size_t>(channels), 0.0f);
    std::size_t done = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_error_t err = soxr_oneshot(from, to, static_cast<unsigned>(channels), in.data(), frames, nullptr,
                                          out.data(), capacity, &done, &io, &q, nullptr);
    if (err) return ERR_FORMAT;
    out.resize(done * static_cast<std::size_t>(channels));
    outFrames = static_cast<std::uint32_t>(done);
    return OK;
}

// libsndfile (1.2) walks the sub-chunks of a LIST or INFO chunk with a 32-bit
// byte count; a sub-chunk whose size wraps that count sends the walk backwards
// and sf_open never returns. Such a chunk can sit wherever the library's walk
// may land, so every "LIST" and "INFO" of a RIFF, RIFX or RF64 file is walked
// the way the library walks it, and the file is refused when one would wrap.
bool listChunkWouldHang(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    char magic[4] = {};
    if (!in.read(magic, 4)) return false;
    const std::string_view kind(magic, 4);
    if (kind != "RIFF" && kind != "RIFX" && kind != "RF64") return false;
    const bool big = kind == "RIFX";
    in.seekg(0, std::ios::end);
    const auto length = static_cast<std::size_t>(in.tellg());
    std::string bytes(length, '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), static_cast<std::streamsize>(length))) return false;

    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        return big ? (std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3])
                   : (std::uint32_t{b[3]} << 24 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[1]} << 8 | b[0]);
    };
    const auto is = [&](std::size_t at, const char* m) { return std::memcmp(bytes.data() + at, m, 4) == 0; };
    static constexpr const char* kText[] = {"ISFT", "ICOP", "IARL", "IART", "ICMT", "ICRD", "IENG",
                                            "IGNR", "INAM", "IPRD", "ISBJ", "ISRC", "IAUT", "ITRK"};
    // Bounds the work on a file made of markers; real files have a handful.
    std::size_t budget = std::size_t{1} << 24;
    const std::string_view all(bytes);
    std::size_t list = all.find("LIST", 4), info = all.find("INFO", 4);
    while (budget > 0) {
        const std::size_t at = std::min(list, info);
        if (at == std::string_view::npos || at + 8 > length) break;
        (at == list ? list : info) = all.find(at == list ? "LIST" : "INFO", at + 1);
        std::uint32_t chunkLength = u32(at + 4);
        const std::size_t start = at + 8;
        if (chunkLength <= 8) continue;
        if (start + chunkLength > length) chunkLength = static_cast<std::uint32_t>(length - start);
        std::uint32_t done = 0;
        while (done < chunkLength && budget > 0) {
            --budget;
            const std::size_t pos = start + done;
            if (pos + 8 > length) break;
            done += 4;
            if (is(pos, "adtl") || is(pos, "INFO")) continue;
            if (is(pos, "exif") || is(pos, "data") || u32(pos) == 0) break;
            std::uint32_t size = u32(pos + 4);
            done += 4;
            if (is(pos, "labl")) {
                if (pos + 12 > length) break;
                done += 4;
                size -= 4;
                size += size & 1;
                if (size < 1 || size >= 2048 || done + size > chunkLength) break;
            } else if (is(pos, "DISP") || is(pos, "ltxt") || is(pos, "note")) {
                break;
            } else if (std::any_of(std::begin(kText), std::end(kText), [&](const char* m) { return is(pos, m); })) {
                size += size & 1;
                if (size >= 2048 || done + size > chunkLength) break;
            } else {
                size += size & 1;
                const std::uint64_t sum = std::uint64_t{done} + size;
                if (static_cast<std::uint32_t>(sum) > chunkLength) break;
                if (sum > 0xFFFFFFFFu) return true;
            }
            done += size;
        }
    }
    return false;
}

}  // namespace

Result decodeFile(const char* path, int mixRate, SoundObj& s) {
    std::error_code ec;
    const std::filesystem::path p(path);
    if (!std::filesystem::exists(p, ec)) return ERR_FILE_NOTFOUND;
    if (!std::filesystem::is_regular_file(p, ec)) return ERR_FILE_BAD;
    if (std::filesystem::file_size(p, ec) == 0) return ERR_FORMAT;
    if (ec) return ERR_FILE_BAD;
    if (listChunkWouldHang(p)) return ERR_FORMAT;

    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndCloser> f(sf_open(path, SFM_READ, &info));
    if (!f) {
        const int err = sf_error(nullptr);
        return err == SF_ERR_UNRECOGNISED_FORMAT ? ERR_FORMAT : ERR_FILE_BAD;
    }
    if (info.channels < 1 || info.channels > 64 || info.samplerate < 1000 || info.samplerate > 768000)
        return ERR_FORMAT;
    describe(info.format, s);

    // Keep mono as mono; fold more than two channels down to stereo.
    const int ch = info.channels;
    const int outCh = ch == 1 ? 1 : 2;
    const double growth = std::max(1.0, static_cast<double>(mixRate) / info.samplerate);
    const auto tooLarge = [&](double frames) {
        return frames * ch > kMaxSamples || frames * outCh * growth > kMaxSamples;
    };
    if (info.frames > 0 && tooLarge(static_cast<double>(info.frames))) return ERR_TOO_LARGE;

    // Read whole, in chunks: compressed formats may not know their length.
    std::vector<float> src;
    std::vector<float> chunk(static_cast<std::size_t>(4096 * ch));
    if (info.frames > 0) src.reserve(static_cast<std::size_t>(info.frames * ch));
    for (;;) {
        const sf_count_t got = sf_readf_float(f.get(), chunk.data(), 4096);
        if (got <= 0) break;
        if (tooLarge(static_cast<double>(src.size() / static_cast<std::size_t>(ch) + static_cast<std::size_t>(got))))
            return ERR_TOO_LARGE;
        // Float files can hold NaN, infinities or absurd values; one of them
        // would poison the mix and every effect's state, silencing all keys.
        for (auto it = chunk.begin(); it != chunk.begin() + got * ch; ++it)
            *it = std::isfinite(*it) ? std::clamp(*it, -kMaxSample, kMaxSample) : 0.0f;
        src.insert(src.end(), chunk.begin(), chunk.begin() + got * ch);
    }
    const std::size_t frames = src.size() / static_cast<std::size_t>(ch);
    if (frames == 0) return ERR_FILE_BAD;
    if (ch > 2) src = foldToStereo(f.get(), src, ch, frames);

    s.sourceChannels = ch;
    s.channels = outCh;
    s.defaultFrequency = static_cast<float>(info.samplerate);
    s.sourceFrames = static_cast<std::uint32_t>(frames);
    s.dataRate = mixRate;
    if (info.samplerate == mixRate) {
        s.pcm = std::move(src);
        s.dataFrames = static_cast<std::uint32_t>(frames);
    } else if (const Result r = convert(src, outCh, info.samplerate, mixRate, s.pcm, s.dataFrames); r != OK) {
        return r;
    }
    if (s.dataFrames == 0) return ERR_FILE_BAD;
    return OK;
}

Result resampleSound(SoundObj& s, int rate) {
    if (s.user || s.channels <= 0 || s.dataRate <= 0) return ERR_FORMAT;
    try {
        std::vector<float> out;
        std::uint32_t frames = 0;
        if (const Result r = convert(s.pcm, s.channels, s.dataRate, rate, out, frames); r != OK) return r;
        if (frames == 0) return ERR_FILE_BAD;
        s.pcm.swap(out);
        s.dataFrames = frames;
        s.dataRate = rate;
        return OK;
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY;
    }
}

namespace {

void addTag(SoundObj& s, int type, const std::string& name, const TagLib::String& value) {
    TagEntry e;
    e.type = type;
    e.name = name;
    if (value.isLatin1()) {
        e.datatype = TAGDATATYPE_STRING;
        e.data = value.to8Bit(false);
    } else {
        e.datatype = TAGDATATYPE_STRING_UTF8;
        e.data = value.to8Bit(true);
    }
    s.tags.push_back(std::move(e));
}

void addBinary(SoundObj& s, int type, const std::string& name, const TagLib::ByteVector& data) {
    TagEntry e;
    e.type = type;
    e.datatype = TAGDATATYPE_BINARY;
    e.name = name;
    e.data.assign(data.data(), data.size());
    s.tags.push_back(std::move(e));
}

void readId3v1(SoundObj& s, TagLib::ID3v1::Tag* t) {
    if (!t || t->isEmpty()) return;
    const int type = TAGTYPE_ID3V1;
    addTag(s, type, "TITLE", t->title());
    addTag(s, type, "ARTIST", t->artist());
    addTag(s, type, "ALBUM", t->album());
    addTag(s, type, "YEAR", TagLib::String::number(static_cast<int>(t->year())));
    addTag(s, type, "COMMENT", t->comment());
    addTag(s, type, "TRACK", TagLib::String::number(static_cast<int>(t->track())));
    addTag(s, type, "GENRE", TagLib::String::number(static_cast<int>(t->genreNumber())));
}

void readId3v2(SoundObj& s, TagLib::ID3v2::Tag* t) {
    if (!t) return;
    for (const auto* frame : t->frameList()) {
        const TagLib::ByteVector id = frame->frameID();
        const std::string name(id.data(), id.size());
        if (!name.empty() && (name[0] == 'T' || name == "COMM" || name == "USLT"))
            addTag(s, TAGTYPE_ID3V2, name, frame->toString());
        else
            addBinary(s, TAGTYPE_ID3V2, name, frame->render());
    }
}

void readXiph(SoundObj& s, TagLib::Ogg::XiphComment* c) {
    if (!c) return;
    for (const auto& [field, values] : c->fieldListMap())
        for (const auto& v : values) addTag(s, TAGTYPE_VORBISCOMMENT, field.to8Bit(true), v);
}

}  // namespace

void readTags(const char* path, SoundObj& s) {
    try {
        switch (s.type) {
        case SOUND_TYPE_MPEG: {
            TagLib::MPEG::File f(path, false);
            if (!f.isValid()) return;
            readId3v2(s, f.hasID3v2Tag() ? f.ID3v2Tag() : nullptr);
            readId3v1(s, f.hasID3v1Tag() ? f.ID3v1Tag() : nullptr);
            break;
        }
        case SOUND_TYPE_FLAC: {
            TagLib::FLAC::File f(path, false);
            if (!f.isValid()) return;
            readId3v2(s, f.hasID3v2Tag() ? f.ID3v2Tag() : nullptr);
            readXiph(s, f.hasXiphComment() ? f.xiphComment() : nullptr);
            readId3v1(s, f.hasID3v1Tag() ? f.ID3v1Tag() : nullptr);
            break;
        }
        case SOUND_TYPE_OGGVORBIS: {
            TagLib::Ogg::Vorbis::File f(path, false);
            if (f.isValid()) readXiph(s, f.tag());
            break;
        }
        case SOUND_TYPE_OPUS: {
            TagLib::Ogg::Opus::File f(path, false);
            if (f.isValid()) readXiph(s, f.tag());
            break;
        }
        case SOUND_TYPE_WAV: {
            TagLib::RIFF::WAV::File f(path, false);
            if (!f.isValid()) return;
            readId3v2(s, f.hasID3v2Tag() ? f.ID3v2Tag() : nullptr);
            if (f.hasInfoTag())
                for (const auto& [id, value] : f.InfoTag()->fieldListMap())
                    addTag(s, TAGTYPE_USER, std::string(id.data(), id.size()), value);
            break;
        }
        case SOUND_TYPE_AIFF: {
            TagLib::RIFF::AIFF::File f(path, false);
            if (f.isValid() && f.hasID3v2Tag()) readId3v2(s, f.tag());
            break;
        }
        default: break;
        }
    } catch (...) {
        // A damaged tag never stops the sound from loading.
    }
}

}  // namespace rb::detail
