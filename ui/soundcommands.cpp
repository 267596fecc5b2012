// The main window's audio recording commands.
#include "soundcommands.h"

#include "base/prompt.h"
#include "recording/recorder.h"
#include "settings/settings.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>

namespace rimbal {
namespace {

const QString kFilter = QStringLiteral("Som Wave (*.wav);;Todos (*)");
const QString kExtension = QStringLiteral(".wav");

}  // namespace

TSoundCommands::TSoundCommands(Recorder& recorder, Settings& settings, Prompt& prompt, const QString& folder, Items items,
                               std::function<void()> updateButtons)
    : m_recorder(recorder), m_settings(settings), m_prompt(prompt), m_folder(folder), m_items(items),
      m_updateButtons(std::move(updateButtons)) {
    m_items.GravarOQueEuToco1->setChecked(m_settings.Record_Mix);
    m_recorder.onStoppedByItself = [this] {
        SetRow(Row::RecordingStops);
        showStatus();
    };
}

TSoundCommands::~TSoundCommands() { m_recorder.onStoppedByItself = {}; }

void TSoundCommands::SetRow(Row row) {
    const Items& i = m_items;
    // 1 on, 0 off, -1 unchanged; in the order of Items.
    const auto set = [&](std::initializer_list<int> states) {
        QAction* const actions[] = {i.GravarSom1, i.PararSom1, i.LimparGravarSom1, i.TocarSom1,
                                    i.PararTocarSom1, i.RepetindoTocarSom1, i.SalvarSom1};
        int k = 0;
        for (const int s : states) {
            if (s >= 0) actions[k]->setEnabled(s != 0);
            ++k;
        }
    };
    // "Tocar Som" comes back at the end of a playback only while a take is
    // held and not being recorded: a saved or cleared one has nothing to play.
    const int playable = !m_recorder.RecordingCleared && !m_recorder.SoundRecording ? 1 : 0;
    switch (row) {
    case Row::RecordingStarts: set({0, 1, 0, 0, -1, 0, 0}); break;
    case Row::RecordingStops: set({1, 0, 1, 1, -1, 1, 1}); break;
    case Row::PlaybackStarts: set({-1, -1, -1, 0, 1, -1, -1}); break;
    case Row::PlaybackStopped:
    case Row::PlaybackEnds: set({-1, -1, -1, playable, 0, -1, -1}); break;
    case Row::Saved: set({0, 0, 1, 0, 0, 0, 0}); break;
    case Row::Cleared: set({1, 0, 0, 0, -1, 0, 0}); break;
    }
    // A playback that goes on (a loop over a save or a clear) keeps its stop
    // command, so it can always be ended.
    if (row != Row::PlaybackEnds && row != Row::PlaybackStopped && m_recorder.IsPlaying()) set({-1, -1, -1, -1, 1, -1, -1});
    // The source of a recording is chosen when it starts.
    i.GravarOQueEuToco1->setEnabled(!m_recorder.SoundRecording);
    if (m_updateButtons) m_updateButtons();
}

void TSoundCommands::showStatus() { m_items.PanelStatus2->setText(m_recorder.StatusText()); }

void TSoundCommands::GravarSom1Click() {
    if (m_recorder.Start()) {
        if (!m_items.TimerRecord->isActive()) m_items.TimerRecord->start();
        SetRow(Row::RecordingStarts);
        showStatus();
    }
    if (m_updateButtons) m_updateButtons();
}

void TSoundCommands::PararSom1Click() {
    if (m_recorder.Stop()) SetRow(Row::RecordingStops);
    else if (m_recorder.StopPlayback()) SetRow(Row::PlaybackStopped);
    showStatus();
    if (m_updateButtons) m_updateButtons();
}

void TSoundCommands::TocarSom1Click() {
    if (m_recorder.Play()) SetRow(Row::PlaybackStarts);
    if (m_updateButtons) m_updateButtons();
}

void TSoundCommands::RepetindoTocarSom1Click() { m_recorder.LoopPlayback = m_items.RepetindoTocarSom1->isChecked(); }

void TSoundCommands::GravarOQueEuToco1Click() { m_settings.Record_Mix = m_items.GravarOQueEuToco1->isChecked(); }

TSoundCommands::SaveResult TSoundCommands::SalvarSom1Click() {
    QString path = m_prompt.saveFile(QStringLiteral("Salvar Arquivo de Audio"), m_folder, kFilter);
    if (path.isEmpty()) return SaveResult::Cancelled;
    if (QFileInfo(path).suffix().isEmpty()) path += kExtension;
    m_folder = QFileInfo(path).absolutePath();
    if (QFileInfo::exists(path) &&
        m_prompt.message(QStringLiteral("Confirmação"), QStringLiteral("Deseja sobrescrever?"), Prompt::Icon::Question,
                         Prompt::Yes | Prompt::No) != Prompt::Yes)
        return SaveResult::Cancelled;
    QString error;
    if (!m_recorder.Save(path, error)) {
        m_prompt.message(QStringLiteral("Erro"), error, Prompt::Icon::Error, Prompt::Ok);
        return SaveResult::Failed;
    }
    SetRow(Row::Saved);
    return SaveResult::Saved;
}

void TSoundCommands::LimparGravarSom1Click() {
    if (!m_recorder.RecordingCleared &&
        m_prompt.message(QStringLiteral("Confirmação"), QStringLiteral("Deseja salvar em arquivo a gravação?"),
                         Prompt::Icon::Question, Prompt::Yes | Prompt::No) == Prompt::Yes &&
        SalvarSom1Click() == SaveResult::Failed)
        return;  // kept, so another place can be tried
    m_recorder.Clear();
    SetRow(Row::Cleared);
}

void TSoundCommands::TimerRecordTimer() {
    if (m_recorder.SoundRecording) {
        if (!m_recorder.Tick()) SetRow(Row::RecordingStops);
    } else if (!m_recorder.UpdatePlayback() && m_recorder.PlaybackEndPending) {
        SetRow(Row::PlaybackEnds);
        m_recorder.PlaybackEndPending = false;
    }
    showStatus();
}

}  // namespace rimbal
