// The main window: menus, picture buttons, key routing, system effects,
// channel display and status bar.
#pragma once

#include "appcontext.h"
#include "kit/eventclock.h"

#include <QMainWindow>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace Ui { class FrmCenter; }

namespace rimbal {

class BannerDownload;
class TRimbalBtn;
class TFrmSetTecla;
class TFrmListaTeclas;
class TMetronomeCommands;
class TSequenceCommands;
class TSoundCommands;

class TFrmCenter : public QMainWindow {
    Q_OBJECT
public:
    explicit TFrmCenter(AppContext& ctx, QWidget* parent = nullptr);
    ~TFrmCenter() override;

    void UpdateButtons();
    // Repaints the whole channel display (after a change of ShowChannels).
    void PaintCanaisPaint();
    // Enables the system effects menu exactly in software mode.
    void UpdateEffectsMenu();

    QTimer TimerInfo;
    QTimer TimerStatus;
    QTimer TimerRecord;
    QTimer TimerBanner;
    int ChannelsPlaying = 0;
    // What a click on the banner opens; set once, when the window is shown.
    QString BannerLink;

    // Every key-down of the window arrives here, already translated; so do
    // MIDI notes, with their velocity as a volume factor and as the velocity
    // (0 to 1) that picks a layered key's layer (below 0: the package's key
    // velocity). momentNs: when the event happened, on the steady clock (0:
    // not known, the play starts at once).
    void FormKeyDown(std::uint16_t key, float volumeFactor = 1.0f, float velocity = -1.0f, std::int64_t momentNs = 0);

    // The key definition and key list dialogs, which live as long as the window.
    TFrmSetTecla* SetTecla() const { return m_setTecla; }
    TFrmListaTeclas* ListaTeclas() const { return m_listaTeclas; }

    // Audio recording commands (menu "Som" and the first row of buttons).
    void GravarSom1Click();
    void PararSom1Click();
    void TocarSom1Click();
    void RepetindoTocarSom1Click();
    void GravarOQueEuToco1Click();
    void SalvarSom1Click();
    void LimparGravarSom1Click();
    void TimerRecordTimer();

    // Key sequence commands (menu "Sequência de Teclas" and the second row of buttons).
    void GravarSequencia1Click();
    void PararSequencia1Click();
    void LimparGravarSeq1Click();
    void TocarSequencia1Click();
    void RepetindoTocarSeq1Click();
    void SalvarSequencia1Click();
    void CarregarSequencia1Click();
    // The load of a file chosen elsewhere (given on the command line).
    void LoadSequenceFile(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void TimerStatusTimer();
    void TimerInfoTimer();
    void SystemEffectClick();
    void Preferencias1Click();
    void Sobre1Click();
    void DefinirTecla1Click();
    void ListarTeclas1Click();

private:
    void FormCreate();
    void FormShow();
    void FormCloseQuery();
    void FormClose();
    void paintChannels(QPainter& p, const QRect& area);
    int ledColumnX() const;
    void criticalStatusError(const QString& text);
    void LoadBanner();
    void TimerBannerTimer();
    void ImgBannerClick();

    AppContext& m_ctx;
    std::unique_ptr<Ui::FrmCenter> m_ui;
    bool m_shown = false;
    bool m_closed = false;
    int m_scrollTag = 0;  // 1 while the LEDs are kept up to date
    int m_statusTag = 0;  // 1 while the status panel shows figures
    int m_noticeTicks = 0;  // status ticks the engine's notice still stays
    TFrmSetTecla* m_setTecla = nullptr;
    TFrmListaTeclas* m_listaTeclas = nullptr;
    BannerDownload* m_banner = nullptr;
    bool m_bannerTried = false;
    std::unique_ptr<TSequenceCommands> m_sequence;
    std::unique_ptr<TMetronomeCommands> m_metronome;
    std::unique_ptr<TSoundCommands> m_sound;
    bool m_closeAfterPlayer = false;  // a close waits for the sequence player to return
    EventClock m_keyClock;  // key event timestamps (ms of the window system) on the steady clock
};

}  // namespace rimbal
