// The main window's metronome commands (menu "Metrônomo"): the switch, and the
// tempo, bar and volume asked in input boxes.
#pragma once

class QAction;

namespace rimbal {

class MetronomeControl;
class Prompt;

class TMetronomeCommands {
public:
    struct Items {
        QAction* LigarMetronomo1;
        QAction* AndamentoMetronomo1;
        QAction* CompassoMetronomo1;
        QAction* VolumeMetronomo1;
    };
    TMetronomeCommands(MetronomeControl& metronome, Prompt& prompt, Items items);

    void LigarMetronomo1Click();
    void AndamentoMetronomo1Click();
    void CompassoMetronomo1Click();
    void VolumeMetronomo1Click();

private:
    MetronomeControl& m_metronome;
    Prompt& m_prompt;
    Items m_items;
};

}  // namespace rimbal
