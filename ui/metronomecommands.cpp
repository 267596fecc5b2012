// The metronome's menu rows: each value is asked in the program's input box and
// refused with its usual message when it is out of range.
#include "metronomecommands.h"

#include "base/prompt.h"
#include "base/textroutines.h"
#include "kit/soundcore.h"
#include "metronome/metronome.h"

#include <QAction>

namespace rimbal {
namespace {

// Asks for a whole number; false when cancelled or refused (the user was told).
bool askNumber(Prompt& prompt, const QString& label, int current, int low, int high, int& value) {
    QString text = QString::number(current);
    if (!prompt.input(QStringLiteral("Metrônomo"), label, text)) return false;
    if (!ToInteger(text.trimmed(), value) || value < low || value > high) {
        prompt.message(QStringLiteral("Aviso"), QStringLiteral("Valor incorreto."), Prompt::Icon::Error, Prompt::Ok);
        return false;
    }
    return true;
}

}  // namespace

TMetronomeCommands::TMetronomeCommands(MetronomeControl& metronome, Prompt& prompt, Items items)
    : m_metronome(metronome), m_prompt(prompt), m_items(items) {
    m_items.LigarMetronomo1->setChecked(m_metronome.IsOn());
}

void TMetronomeCommands::LigarMetronomo1Click() {
    m_metronome.SetOn(m_items.LigarMetronomo1->isChecked());
    m_items.LigarMetronomo1->setChecked(m_metronome.IsOn());
}

void TMetronomeCommands::AndamentoMetronomo1Click() {
    int bpm = 0;
    if (askNumber(m_prompt, QStringLiteral("Batidas por minuto (30 a 300)"), m_metronome.Tempo(),
                  MetronomeControl::kMinBpm, MetronomeControl::kMaxBpm, bpm))
        m_metronome.SetTempo(bpm);
}

void TMetronomeCommands::CompassoMetronomo1Click() {
    int beats = 0;
    if (askNumber(m_prompt, QStringLiteral("Batidas por compasso (1 a 12)"), m_metronome.Beats(),
                  MetronomeControl::kMinBeats, MetronomeControl::kMaxBeats, beats))
        m_metronome.SetBeats(beats);
}

void TMetronomeCommands::VolumeMetronomo1Click() {
    int volume = 0;
    if (askNumber(m_prompt, QStringLiteral("Volume das batidas (0 a 100)"), m_metronome.Volume(), 0,
                  MetronomeControl::kMaxVolume, volume))
        m_metronome.SetVolume(volume);
}

}  // namespace rimbal
