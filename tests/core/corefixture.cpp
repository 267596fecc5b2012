// The core tests' fixture: a sound core on the null output in a scratch folder,
// and test sound files.
#include "corefixture.h"

#include <sndfile.h>

#include <QDir>
#include <QFile>

#include <cmath>
#include <numbers>

void writeWavFile(const QString& path, const std::vector<float>& mono, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << path.toStdString();
    sf_writef_float(f, mono.data(), static_cast<sf_count_t>(mono.size()));
    sf_close(f);
}

std::vector<float> toneSamples(double hz, int frames, float amplitude, int rate) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        out[static_cast<std::size_t>(i)] = amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * hz * i / rate));
    return out;
}

void CoreTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    appDir = dir.path() + u'/';
    settings = std::make_unique<rimbal::Settings>(appDir);
    settings->LoadConfiguration();
    core = std::make_unique<rimbal::SoundCore>(*settings, prompt, log);
}

void CoreTest::TearDown() {
    if (core && core->SoundSystem != rb::System{}) {
        core->ReleaseSounds(true);
        rb::System_Release(core->SoundSystem);
    }
}

void CoreTest::startEngine(bool withRecordBuffer) {
    ASSERT_EQ(rb::System_Create(&core->SoundSystem), rb::OK);
    ASSERT_EQ(rb::System_SetOutput(core->SoundSystem, rb::OUTPUTTYPE_NULL), rb::OK);
    core->CreateSounds(withRecordBuffer);
}

QString CoreTest::packageFile(const QString& name, const std::vector<float>& mono) {
    if (settings->PackName.isEmpty()) settings->PackName = QStringLiteral("Kit");
    const QString folder = settings->PackPath + settings->PackName + u'/';
    QDir().mkpath(folder);
    writeWavFile(folder + name, mono);
    return folder + name;
}

QString CoreTest::outsideFile(const QString& name, const std::vector<float>& mono) {
    QDir().mkpath(appDir + QStringLiteral("sons"));
    const QString path = appDir + QStringLiteral("sons/") + name;
    writeWavFile(path, mono);
    return path;
}

rimbal::TAG_SOUND_DATA CoreTest::definition(std::uint16_t playKey, const QString& file, std::uint16_t stopKey) {
    rimbal::TAG_SOUND_DATA d;
    d.playKey = playKey;
    d.stopKey = stopKey;
    d.fileName = file;
    return d;
}

std::vector<float> CoreTest::render(unsigned frames) {
    std::vector<float> out(2 * static_cast<std::size_t>(frames));
    EXPECT_EQ(rb::System_RenderNull(core->SoundSystem, out.data(), frames), rb::OK);
    return out;
}
