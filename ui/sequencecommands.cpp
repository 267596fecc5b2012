// The main window's key sequence commands.
#include "sequencecommands.h"

#include "base/prompt.h"
#include "sequences/sequence.h"

#include <QAction>
#include <QFileInfo>

namespace rimbal {
namespace {

const QString kFilter = QStringLiteral("Sequência do Rimbal (*.rbs);;Todos (*)");
const QString kExtension = QStringLiteral(".rbs");

}  // namespace

TSequenceCommands::TSequenceCommands(Sequence& sequence, Prompt& prompt, const QString& folder, Items items,
                                     std::function<void()> updateButtons)
    : m_sequence(sequence), m_prompt(prompt), m_folder(folder), m_items(items), m_updateButtons(std::move(updateButtons)) {
    m_sequence.onPlaybackStarts = [this] { SetRow(Row::PlaybackStarts); };
    m_sequence.onPlaybackEnds = [this] { SetRow(Row::PlaybackEnds); };
}

TSequenceCommands::~TSequenceCommands() {
    m_sequence.onPlaybackStarts = {};
    m_sequence.onPlaybackEnds = {};
}

void TSequenceCommands::SetRow(Row row) {
    const bool text = !m_sequence.SequenceText.isEmpty();
    const Items& i = m_items;
    // 1 on, 0 off, -1 unchanged; in the order of Items.
    const auto set = [&](std::initializer_list<int> states) {
        QAction* const actions[] = {i.GravarSequencia1, i.PararSequencia1,    i.LimparGravarSeq1, i.TocarSequencia1,
                                    i.PararTocarSeq1,   i.RepetindoTocarSeq1, i.SalvarSequencia1, i.CarregarSequencia1};
        int k = 0;
        for (const int s : states) {
            if (s >= 0) actions[k]->setEnabled(s != 0);
            ++k;
        }
    };
    const int t = text ? 1 : 0;
    switch (row) {
    case Row::RecordingStarts: set({0, 1, 0, 0, 0, 0, 0, 0}); break;
    case Row::Stop: set({1, 0, t, t, 0, t, t, 1}); break;
    case Row::PlaybackStarts: set({-1, -1, -1, 0, 1, -1, -1, -1}); break;
    case Row::PlaybackEnds: set({-1, -1, -1, 1, 0, -1, -1, -1}); break;
    case Row::Cleared: set({1, 0, 0, 0, 0, 0, 0, 1}); break;
    case Row::FileLoaded: set({1, 0, t, t, 0, t, 0, 1}); break;
    }
    // A playback that goes on (a recording over it was stopped, the text was
    // cleared or grew) keeps its stop command, so it can always be ended.
    if (row != Row::PlaybackEnds && m_sequence.IsPlaying() && !m_sequence.RecordingSequence) set({-1, -1, -1, 0, 1, -1, -1, -1});
    if (m_updateButtons) m_updateButtons();
}

void TSequenceCommands::GravarSequencia1Click() {
    m_sequence.StartRecording();
    SetRow(Row::RecordingStarts);
}

void TSequenceCommands::PararSequencia1Click() {
    m_sequence.Stop();
    SetRow(Row::Stop);
}

void TSequenceCommands::LimparGravarSeq1Click() {
    m_sequence.Clear();
    SetRow(Row::Cleared);
}

void TSequenceCommands::TocarSequencia1Click() { m_sequence.Play(); }

void TSequenceCommands::RepetindoTocarSeq1Click() { m_sequence.RepeatSequence = m_items.RepetindoTocarSeq1->isChecked(); }

void TSequenceCommands::SalvarSequencia1Click() {
    QString path = m_prompt.saveFile(QStringLiteral("Salvar Arquivo de Sequência"), m_folder, kFilter);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += kExtension;
    m_folder = QFileInfo(path).absolutePath();
    if (QFileInfo::exists(path) &&
        m_prompt.message(QStringLiteral("Confirmação"), QStringLiteral("Deseja sobrescrever?"), Prompt::Icon::Question,
                         Prompt::Yes | Prompt::No) != Prompt::Yes)
        return;
    QString error;
    if (m_sequence.SaveToFile(path, error))
        m_prompt.message(QStringLiteral("Info"), QStringLiteral("Sequência salva com sucesso!"),
                         Prompt::Icon::Information, Prompt::Ok);
    else
        m_prompt.message(QStringLiteral("Erro"), QStringLiteral("Erro ao gravar dados.\n") + error, Prompt::Icon::Error,
                         Prompt::Ok);
}

void TSequenceCommands::CarregarSequencia1Click() {
    const QString path = m_prompt.openFile(QStringLiteral("Carregar Arquivo de Sequência"), m_folder, kFilter);
    if (!path.isEmpty()) LoadSequenceFile(path);
}

void TSequenceCommands::LoadSequenceFile(QString path) {
    if (!QFileInfo::exists(path) && QFileInfo(path).suffix().isEmpty() && QFileInfo::exists(path + kExtension))
        path += kExtension;
    m_folder = QFileInfo(path).absolutePath();
    QString text, message;
    if (!m_sequence.ReadFile(path, text, message)) {
        m_prompt.message(QStringLiteral("Erro"), message, Prompt::Icon::Error, Prompt::Ok);
        return;
    }
    m_sequence.AppendLoaded(text);
    SetRow(Row::FileLoaded);
}

}  // namespace rimbal
