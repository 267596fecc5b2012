// Listing the engine's plug-ins and making the master effect units.
#include "kit/soundcore.h"

#include <QFile>

#include <cfenv>

namespace rimbal {

QString SoundCore::PluginDisplayName(const QString& raw, int index) {
    QString name = raw;
    if (name.left(4).toUpper() == QStringLiteral("FMOD")) name.remove(0, 5);
    if (name.isEmpty()) name = QStringLiteral("Efeito %1").arg(index);
    return name;
}

void SoundCore::ListPlugins(const QString& pluginFolder) {
    if (SoundSystem == rb::System{}) return;
    LogResult(rb::System_SetPluginPath(SoundSystem, QFile::encodeName(pluginFolder).constData()));
    const auto names = [this](int type, QStringList& out, int first) {
        int count = 0;
        LogResult(rb::System_GetNumPlugins(SoundSystem, type, &count));
        for (int i = first; i < count; ++i) {
            char name[256] = {};
            LogResult(rb::System_GetPluginInfo(SoundSystem, type, i, name, sizeof name, nullptr));
            out.append(PluginDisplayName(QString::fromUtf8(name), i));
        }
    };
    names(rb::PLUGINTYPE_CODEC, CodecNames, 0);

    int effects = 0;
    LogResult(rb::System_GetNumPlugins(SoundSystem, rb::PLUGINTYPE_DSP, &effects));
    // Index 0 is not an effect; slots beyond 15 have no place in the menu.
    for (int i = 1; i < effects; ++i) {
        if (i < kEffects) {
            // Effects are made with floating-point exceptions masked, as
            // third-party plug-ins may compute carelessly.
            std::fenv_t env;
            std::feholdexcept(&env);
            LogResult(rb::System_CreateDSPByIndex(SoundSystem, i, &MasterEffects[static_cast<std::size_t>(i)]));
            std::fesetenv(&env);
        }
        char name[256] = {};
        LogResult(rb::System_GetPluginInfo(SoundSystem, rb::PLUGINTYPE_DSP, i, name, sizeof name, nullptr));
        EffectNames.append(PluginDisplayName(QString::fromUtf8(name), i));
    }
    names(rb::PLUGINTYPE_OUTPUT, OutputNames, 0);
}

}  // namespace rimbal
