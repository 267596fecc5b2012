// The key sequence commands of the main window: each one works the sequence
// and sets its menu row, which the second row of buttons follows.
#pragma once

#include <QString>

#include <functional>

class QAction;

namespace rimbal {

class Prompt;
class Sequence;

class TSequenceCommands {
public:
    struct Items {
        QAction* GravarSequencia1;
        QAction* PararSequencia1;
        QAction* LimparGravarSeq1;
        QAction* TocarSequencia1;
        QAction* PararTocarSeq1;
        QAction* RepetindoTocarSeq1;
        QAction* SalvarSequencia1;
        QAction* CarregarSequencia1;
    };
    enum class Row { RecordingStarts, Stop, PlaybackStarts, PlaybackEnds, Cleared, FileLoaded };

    // folder: where the file dialogs open first.
    TSequenceCommands(Sequence& sequence, Prompt& prompt, const QString& folder, Items items,
                      std::function<void()> updateButtons);
    ~TSequenceCommands();

    void GravarSequencia1Click();
    void PararSequencia1Click();
    void LimparGravarSeq1Click();
    void TocarSequencia1Click();
    void RepetindoTocarSeq1Click();
    void SalvarSequencia1Click();
    void CarregarSequencia1Click();
    // What the load command does once its file is chosen.
    void LoadSequenceFile(QString path);

    void SetRow(Row row);

private:
    Sequence& m_sequence;
    Prompt& m_prompt;
    QString m_folder;
    Items m_items;
    std::function<void()> m_updateButtons;
};

}  // namespace rimbal
