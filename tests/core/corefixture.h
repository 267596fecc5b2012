// A sound core on the engine's null output, in a scratch application folder,
// with a scripted prompt and a recording log window.
#pragma once

#include "scriptedprompt.h"
#include "settings/settings.h"
#include "kit/soundcore.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

void writeWavFile(const QString& path, const std::vector<float>& mono, int rate = 48000);
std::vector<float> toneSamples(double hz, int frames, float amplitude = 0.5f, int rate = 48000);

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the engine, selects the null output and builds the table from KeyLines.
    void startEngine(bool withRecordBuffer = false);
    // A sound file inside the package folder (created on demand).
    QString packageFile(const QString& name, const std::vector<float>& mono);
    QString outsideFile(const QString& name, const std::vector<float>& mono);
    rimbal::TAG_SOUND_DATA definition(std::uint16_t playKey, const QString& file, std::uint16_t stopKey = 0);
    std::vector<float> render(unsigned frames);

    QTemporaryDir dir;
    QString appDir;
    std::unique_ptr<rimbal::Settings> settings;
    ScriptedPrompt prompt;
    RecordingLog log;
    std::unique_ptr<rimbal::SoundCore> core;
};
