// Real sound files written in the test: every supported format, tags, and
// broken files.
#include "fixtures.h"

#include <sndfile.h>

#include <fileref.h>
#include <flacfile.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <vorbisfile.h>
#include <xiphcomment.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <random>

using namespace rbtest;

namespace {

struct FormatCase {
    const char* ext;
    int sfFormat;
    int type;
    int bits;
    bool lossy;
    int rate = 44100;
};

class Files : public NullEngine, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(Files, DecodesAToneAtItsPitchAndReportsTheSource) {
    const FormatCase& fc = GetParam();
    const auto file = dir.path(std::string("tone.") + fc.ext);
    writeSound(file, fc.sfFormat, fc.rate, 2, sine(1000, fc.rate, fc.rate, 0.5f, 2));
    const rb::Sound s = load(file);
    ASSERT_NE(s, rb::Sound{});
    int type = -1, format = -1, channels = -1, bits = -1;
    ASSERT_EQ(rb::Sound_GetFormat(s, &type, &format, &channels, &bits), rb::OK);
    EXPECT_EQ(type, fc.type);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(bits, fc.bits);
    float freq = 0;
    ASSERT_EQ(rb::Sound_GetDefaults(s, &freq, nullptr, nullptr, nullptr), rb::OK);
    EXPECT_EQ(freq, static_cast<float>(fc.rate));
    std::uint32_t ms = 0;
    ASSERT_EQ(rb::Sound_GetLength(s, &ms, rb::TIMEUNIT_MS), rb::OK);
    EXPECT_NEAR(ms, 1000u, fc.lossy ? 80u : 1u);

    play(s);
    const auto out = render(48000);
    // The tone is still 1 kHz after conversion to the 48 kHz mixer.
    EXPECT_NEAR(toneLevel(out, 0, 1000, kRate, 4800, 24000), 0.5, fc.lossy ? 0.1 : 0.01);
    EXPECT_LT(toneLevel(out, 0, 1088, kRate, 4800, 24000), 0.05);
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, Files,
    ::testing::Values(FormatCase{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, rb::SOUND_TYPE_WAV, 16, false},
                      FormatCase{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, rb::SOUND_TYPE_WAV, 24, false},
                      FormatCase{"wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, rb::SOUND_TYPE_WAV, 32, false},
                      FormatCase{"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, rb::SOUND_TYPE_AIFF, 16, false},
                      FormatCase{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, rb::SOUND_TYPE_FLAC, 16, false},
                      FormatCase{"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, rb::SOUND_TYPE_OGGVORBIS, 16, true},
                      FormatCase{"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, rb::SOUND_TYPE_OPUS, 16, true, 48000},
                      FormatCase{"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, rb::SOUND_TYPE_MPEG, 16, true}),
    [](const auto& param) { return std::string(param.param.ext) + "_" + std::to_string(param.param.bits); });

class Tags : public NullEngine {
protected:
    std::map<std::string, std::pair<int, std::string>> tagsOf(rb::Sound s) {
        std::map<std::string, std::pair<int, std::string>> out;
        int n = 0;
        EXPECT_EQ(rb::Sound_GetNumTags(s, &n, nullptr), rb::OK);
        for (int i = 0; i < n; ++i) {
            rb::Tag t{};
            EXPECT_EQ(rb::Sound_GetTag(s, nullptr, i, &t), rb::OK);
            if (t.datatype == rb::TAGDATATYPE_STRING)
                out[std::to_string(t.type) + ":" + t.name] = {t.datatype, static_cast<const char*>(t.data)};
        }
        return out;
    }
};

TEST_F(Tags, Id3v1AndId3v2TagsOfAnMp3) {
    const auto file = dir.path("tagged.mp3");
    writeSound(file, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1, sine(200, 44100, 22050));
    {
        TagLib::MPEG::File f(file.c_str());
        ASSERT_TRUE(f.isValid());
        auto* v2 = f.ID3v2Tag(true);
        v2->setTitle("Caixa clara");
        v2->setArtist(TagLib::String("Bateria São Jorge", TagLib::String::UTF8));
        auto* v1 = f.ID3v1Tag(true);
        v1->setTitle("Bumbo");
        v1->setGenre("Rock");
        ASSERT_TRUE(f.save());
    }
    const rb::Sound s = load(file);
    const auto tags = tagsOf(s);
    EXPECT_EQ(tags.at("2:TIT2").second, "Caixa clara");
    EXPECT_EQ(tags.at("2:TPE1").second, "Bateria S\xe3o Jorge") << "Latin-1, as the windows read it";
    EXPECT_EQ(tags.at("1:TITLE").second, "Bumbo");
    EXPECT_EQ(tags.at("1:GENRE").second, "17");
    rb::Tag t{};
    EXPECT_EQ(rb::Sound_GetTag(s, "TIT2", 0, &t), rb::OK);
    EXPECT_EQ(t.type, rb::TAGTYPE_ID3V2);
    EXPECT_EQ(rb::Sound_GetTag(s, "TIT2", 1, &t), rb::ERR_TAGNOTFOUND);
    int n = 0;
    rb::Sound_GetNumTags(s, &n, nullptr);
    EXPECT_EQ(rb::Sound_GetTag(s, nullptr, n, &t), rb::ERR_TAGNOTFOUND);
}

TEST_F(Tags, VorbisCommentsOfOggAndFlac) {
    const auto ogg = dir.path("tagged.ogg");
    const auto flac = dir.path("tagged.flac");
    writeSound(ogg, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1, sine(200, 44100, 22050));
    writeSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, sine(200, 44100, 22050));
    {
        TagLib::Ogg::Vorbis::File f(ogg.c_str());
        f.tag()->addField("TITLE", "Prato");
        f.tag()->addField("GENRE", "Samba");
        ASSERT_TRUE(f.save());
        TagLib::FLAC::File g(flac.c_str());
        g.xiphComment(true)->addField("ARTIST", TagLib::String("Zé", TagLib::String::UTF8));
        ASSERT_TRUE(g.save());
    }
    auto tags = tagsOf(load(ogg));
    EXPECT_EQ(tags.at("3:TITLE").second, "Prato");
    EXPECT_EQ(tags.at("3:GENRE").second, "Samba");
    tags = tagsOf(load(flac));
    EXPECT_EQ(tags.at("3:ARTIST").second, "Z\xe9");
}

TEST_F(Tags, TextOutsideLatin1IsHandedOutAsUtf8) {
    const auto file = dir.path("utf8.ogg");
    writeSound(file, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1, sine(200, 44100, 22050));
    {
        TagLib::Ogg::Vorbis::File f(file.c_str());
        f.tag()->addField("TITLE", TagLib::String("太鼓", TagLib::String::UTF8));
        ASSERT_TRUE(f.save());
    }
    const rb::Sound s = load(file);
    rb::Tag t{};
    ASSERT_EQ(rb::Sound_GetTag(s, "TITLE", 0, &t), rb::OK);
    EXPECT_EQ(t.datatype, rb::TAGDATATYPE_STRING_UTF8);
    EXPECT_STREQ(static_cast<const char*>(t.data), "太鼓");
}

class BrokenFiles : public NullEngine {
protected:
    rb::Result tryLoad(const std::filesystem::path& file) {
        rb::Sound s{static_cast<rb::Sound>(12345)};
        const rb::Result r = rb::System_CreateSound(sys, file.c_str(), rb::MODE_SOFTWARE, nullptr, &s);
        if (r != rb::OK) {
            EXPECT_EQ(s, rb::Sound{}) << "a sound that was not created stays 0";
        } else {
            rb::Sound_Release(s);
        }
        EXPECT_STRNE(rb::ErrorString(r), "");
        return r;
    }
    void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    }
};

TEST_F(BrokenFiles, GiveClearErrorsAndNeverCrash) {
    writeBytes(dir.path("empty.wav"), "");
    EXPECT_EQ(tryLoad(dir.path("empty.wav")), rb::ERR_FORMAT);

    std::mt19937 rng(7);
    std::string noise(20000, '\0');
    for (auto& c : noise) c = static_cast<char>(rng());
    writeBytes(dir.path("noise.wav"), noise);
    writeBytes(dir.path("noise.mp3"), noise);
    writeBytes(dir.path("noise.ogg"), noise);
    EXPECT_NE(tryLoad(dir.path("noise.wav")), rb::OK);
    tryLoad(dir.path("noise.mp3"));  // MPEG sync words can hide in noise: any answer, no crash
    EXPECT_NE(tryLoad(dir.path("noise.ogg")), rb::OK);

    EXPECT_EQ(tryLoad(dir.path("missing.wav")), rb::ERR_FILE_NOTFOUND);
    EXPECT_EQ(tryLoad(dir.path("")), rb::ERR_FILE_BAD) << "a folder is not a sound";
}

TEST_F(BrokenFiles, TruncatedFilesLoadWhatIsThereOrFailCleanly) {
    for (const char* ext : {"wav", "flac", "ogg", "mp3"}) {
        const auto whole = dir.path(std::string("whole.") + ext);
        const int fmt = std::string(ext) == "wav"    ? SF_FORMAT_WAV | SF_FORMAT_PCM_16
                        : std::string(ext) == "flac" ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                        : std::string(ext) == "ogg"  ? SF_FORMAT_OGG | SF_FORMAT_VORBIS
                                                     : SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        writeSound(whole, fmt, 44100, 2, sine(300, 44100, 44100, 0.5f, 2));
        const auto size = std::filesystem::file_size(whole);
        for (auto cut : {size / 2, std::uintmax_t{30}, std::uintmax_t{4}}) {
            const auto part = dir.path(std::string("cut.") + ext);
            std::filesystem::copy_file(whole, part, std::filesystem::copy_options::overwrite_existing);
            std::filesystem::resize_file(part, cut);
            const rb::Result r = tryLoad(part);
            if (cut == size / 2 && std::string(ext) == "wav") {
                EXPECT_EQ(r, rb::OK) << "half a WAV still plays";
            }
            if (cut == 4) {
                EXPECT_NE(r, rb::OK) << ext;
            }
        }
    }
}

// A sub-chunk of LIST whose size wraps libsndfile's 32-bit count made sf_open
// loop for ever; the same file with a sane size, and a WAV with tags, still load.
TEST_F(BrokenFiles, AListSubChunkSizeThatWrapsIsRefusedNotHung) {
    const auto le32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 24)};
    };
    const auto wav = [&](std::uint32_t subSize) {
        std::string list = "INFO" + std::string("Ixyz") + le32(subSize) + std::string(8, 'x');
        std::string data(9600, '\0');
        std::string body = "WAVE" + std::string("fmt ") + le32(16) + std::string("\x01\x00\x01\x00", 4) +
                           le32(48000) + le32(96000) + std::string("\x02\x00\x10\x00", 4) + "LIST" +
                           le32(static_cast<std::uint32_t>(list.size())) + list + "data" +
                           le32(static_cast<std::uint32_t>(data.size())) + data;
        return "RIFF" + le32(static_cast<std::uint32_t>(body.size())) + body;
    };
    writeBytes(dir.path("wraps.wav"), wav(0xFFFFFFF7u));
    EXPECT_EQ(tryLoad(dir.path("wraps.wav")), rb::ERR_FORMAT);
    writeBytes(dir.path("sane.wav"), wav(8));
    EXPECT_EQ(tryLoad(dir.path("sane.wav")), rb::OK);

    const auto tagged = dir.path("tagged.wav");
    SF_INFO info{0, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* f = sf_open(tagged.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_set_string(f, SF_STR_TITLE, "Caixa");
    sf_set_string(f, SF_STR_ARTIST, "Rimbal");
    const std::vector<short> pcm(4410, 1000);
    sf_write_short(f, pcm.data(), static_cast<sf_count_t>(pcm.size()));
    sf_close(f);
    EXPECT_EQ(tryLoad(tagged), rb::OK);

    // Thousands of LIST chunks, each seen to run to the end of the file, make
    // that check's work bounded, not quadratic.
    std::string blocks;
    for (int i = 0; i < 1 << 18; ++i) blocks += "abcd" + le32(8) + "LIST" + le32(0x7FFFFFFFu);
    writeBytes(dir.path("markers.wav"), "RIFF" + le32(static_cast<std::uint32_t>(blocks.size() + 4)) + "WAVE" + blocks);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(tryLoad(dir.path("markers.wav")), rb::OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// NaN or infinity in a float file reached the mix and silenced every key.
TEST_F(BrokenFiles, NonFiniteFloatSamplesPlayAsSilenceAndLeaveTheMixClean) {
    const float inf = std::numeric_limits<float>::infinity();
    for (const int sub : {SF_FORMAT_FLOAT, SF_FORMAT_DOUBLE}) {
        const auto file = dir.path(sub == SF_FORMAT_FLOAT ? "nan-float.wav" : "nan-double.wav");
        std::vector<float> pcm = sine(440, 48000, 4800);
        for (std::size_t i = 0; i < pcm.size(); i += 7) pcm[i] = std::nanf("");
        pcm[1] = inf, pcm[2] = -inf, pcm[3] = 1e30f;
        writeSound(file, SF_FORMAT_WAV | sub, 48000, 1, pcm);
        const rb::Sound s = load(file);
        rb::Channel ch{};
        ASSERT_EQ(rb::System_PlaySound(sys, rb::CHANNEL_FREE, s, false, &ch), rb::OK);
        const std::vector<float> out = render(4800);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return std::isfinite(v) && std::fabs(v) < 100; }));
        EXPECT_GT(*std::max_element(out.begin(), out.end()), 0.1f) << "the finite samples still sound";
        rb::Sound_Release(s);
    }
}

TEST_F(BrokenFiles, AWrongExtensionDoesNotMatter) {
    const auto file = dir.path("really-a-wav.mp3");
    writeSound(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, sine(500, 48000, 4800));
    const rb::Sound s = load(file);
    int type = -1;
    ASSERT_EQ(rb::Sound_GetFormat(s, &type, nullptr, nullptr, nullptr), rb::OK);
    EXPECT_EQ(type, rb::SOUND_TYPE_WAV);
    const auto flacAsWav = dir.path("really-a-flac.wav");
    writeSound(flacAsWav, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, sine(500, 48000, 4800));
    const rb::Sound f = load(flacAsWav);
    ASSERT_EQ(rb::Sound_GetFormat(f, &type, nullptr, nullptr, nullptr), rb::OK);
    EXPECT_EQ(type, rb::SOUND_TYPE_FLAC);
}

}  // namespace
