// The program for the benchmarks of real windows: on the null output with 64
// keys (0x300 + i, the last one A), its main window shown.
#pragma once

#include "appcontext.h"
#include "frmcenter.h"
#include "frmsplash.h"
#include "scriptedprompt.h"
#include "base/textfiles.h"

#include <sndfile.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

struct Program {
    QTemporaryDir dir;
    QString folder;  // the package's
    ScriptedPrompt prompt;
    RecordingLog log;
    std::unique_ptr<rimbal::AppContext> ctx;
    std::unique_ptr<rimbal::TFrmCenter> window;

    // midiLines: the package's own note map, when it has one.
    explicit Program(const QStringList& midiLines = {}) {
        const QString app = dir.path() + u'/';
        folder = app + "Pacotes/Kit/";
        QDir().mkpath(folder);
        QDir().mkpath(app + "plugins");
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(QFile::encodeName(folder + "hit.wav").constData(), SFM_WRITE, &info);
        std::vector<float> s(4800, 0.1f);
        sf_writef_float(f, s.data(), static_cast<sf_count_t>(s.size()));
        sf_close(f);
        QStringList lines;
        // The pressed key is the last, so the whole table is scanned.
        for (int i = 0; i < 63; ++i) lines << QStringLiteral("%1*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*hit.wav").arg(0x300 + i);
        lines << QStringLiteral("65*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*hit.wav");
        rimbal::WriteTextLines(folder + "Keys.txt", lines);
        if (!midiLines.isEmpty()) rimbal::WriteTextLines(folder + "Midi.txt", midiLines);
        rimbal::WriteTextLines(app + "rimbal2.ini", {"[Config]", "Driver_Playback_Count=1", "Driver_Record_Count=1",
                                                     "ID_Driver_Output=0", "ID_Driver_Playback=0", "ID_Driver_Record=0",
                                                     "PackName=Kit"});
        ctx = std::make_unique<rimbal::AppContext>(app, prompt, log);
        ctx->forcedOutputType = rb::OUTPUTTYPE_NULL;
        ctx->startDelayMs = 0;
        ctx->statusWaitMs = 0;
        {
            rimbal::TFrmSplash splash(*ctx);
            splash.exec();
        }
        window = std::make_unique<rimbal::TFrmCenter>(*ctx);
        window->show();
        QTest::qWait(50);
    }
    ~Program() {
        window->close();
        window.reset();
    }
};
