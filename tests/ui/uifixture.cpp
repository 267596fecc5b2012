// The window tests' fixture: a program context on the null output with a
// package of real sound files.
#include "uifixture.h"

#include "frmsplash.h"
#include "base/textfiles.h"

#include <sndfile.h>

#include <QDir>
#include <QFile>

#include <cmath>
#include <vector>

void ProgramTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    appDir = dir.path() + u'/';
    QDir().mkpath(appDir + "plugins");
    ctx = std::make_unique<rimbal::AppContext>(appDir, prompt, log);
    ctx->forcedOutputType = rb::OUTPUTTYPE_NULL;
    ctx->startDelayMs = 0;
    ctx->statusWaitMs = 0;
}

void ProgramTest::TearDown() {
    if (ctx && ctx->core.SoundSystem != rb::System{}) {
        ctx->core.ReleaseSounds(true);
        rb::System_Release(ctx->core.SoundSystem);
    }
}

void ProgramTest::preparePackage(int keys, bool withIni) {
    const QString folder = appDir + "Pacotes/Kit/";
    QDir().mkpath(folder);
    QStringList lines;
    const char* letters = "ASDFGHJKLQWERTYUIOPZXCVBNM";
    for (int i = 0; i < keys; ++i) {
        const QString name = QStringLiteral("s%1.wav").arg(i);
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(QFile::encodeName(folder + name).constData(), SFM_WRITE, &info);
        std::vector<float> s(24000);
        for (std::size_t k = 0; k < s.size(); ++k) s[k] = 0.2f * std::sin(static_cast<float>(k) * 0.05f * static_cast<float>(i + 1));
        sf_writef_float(f, s.data(), static_cast<sf_count_t>(s.size()));
        sf_close(f);
        const int vk = i < 26 ? letters[i] : 0x300 + i;
        lines << QStringLiteral("%1*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*%2").arg(vk).arg(name);
    }
    ASSERT_TRUE(rimbal::WriteTextLines(folder + "Keys.txt", lines));
    if (!withIni) return;
    ASSERT_TRUE(rimbal::WriteTextLines(appDir + "rimbal2.ini",
                                       {"[Config]", "Driver_Playback_Count=1", "Driver_Record_Count=1", "ID_Driver_Output=0",
                                        "ID_Driver_Playback=0", "ID_Driver_Record=0", "PackName=Kit", "FirstRun=1"}));
}

bool ProgramTest::runStartup() {
    rimbal::TFrmSplash splash(*ctx);
    splash.exec();
    return ctx->StartupOk;
}

QString ProgramTest::iniText() const {
    QStringList lines;
    rimbal::ReadTextLines(appDir + "rimbal2.ini", lines);
    return lines.join('\n');
}
