// The audio recording commands of the main window (menu "Som" and the first
// row of buttons): each one works the recorder and sets its menu row, which
// the buttons follow; the copy timer and the recorder's status text.
#pragma once

#include <QString>

#include <functional>

class QAction;
class QLabel;
class QTimer;

namespace rimbal {

class Prompt;
class Recorder;
class Settings;

class TSoundCommands {
public:
    struct Items {
        QAction* GravarSom1;
        QAction* PararSom1;
        QAction* LimparGravarSom1;
        QAction* TocarSom1;
        QAction* PararTocarSom1;
        QAction* RepetindoTocarSom1;
        QAction* SalvarSom1;
        QAction* GravarOQueEuToco1;
        QLabel* PanelStatus2;
        QTimer* TimerRecord;
    };
    enum class Row { RecordingStarts, RecordingStops, PlaybackStarts, PlaybackStopped, PlaybackEnds, Saved, Cleared };
    enum class SaveResult { Cancelled, Saved, Failed };

    // folder: where the save dialog opens first.
    TSoundCommands(Recorder& recorder, Settings& settings, Prompt& prompt, const QString& folder, Items items,
                   std::function<void()> updateButtons);
    ~TSoundCommands();

    void GravarSom1Click();
    void PararSom1Click();
    void TocarSom1Click();
    void RepetindoTocarSom1Click();
    void GravarOQueEuToco1Click();
    SaveResult SalvarSom1Click();
    void LimparGravarSom1Click();
    void TimerRecordTimer();

    void SetRow(Row row);

private:
    void showStatus();

    Recorder& m_recorder;
    Settings& m_settings;
    Prompt& m_prompt;
    QString m_folder;
    Items m_items;
    std::function<void()> m_updateButtons;
};

}  // namespace rimbal
