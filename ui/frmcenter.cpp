// The main window: menus, picture buttons, key routing, system effects, channel
// display and status bar.
#include "frmcenter.h"

#include "banner/banner.h"
#include "frmlistateclas.h"
#include "frmpreferencias.h"
#include "frmsettecla.h"
#include "frmsobre.h"
#include "packagecommands.h"
#include "paintcanais.h"
#include "rimbalbtn.h"
#include "metronomecommands.h"
#include "sequencecommands.h"
#include "soundcommands.h"
#include "base/textroutines.h"
#include "vkeys.h"

#include "ui_FrmCenter.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QFile>
#include <QImageReader>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>

#include <tuple>

namespace rimbal {

TFrmCenter::TFrmCenter(AppContext& ctx, QWidget* parent)
    : QMainWindow(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::FrmCenter>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    m_ui->centralwidget->setFixedSize(581, 527);
    m_ui->centralwidget->setAutoFillBackground(true);
    QPalette pal = m_ui->centralwidget->palette();
    pal.setColor(QPalette::Window, Qt::white);
    m_ui->centralwidget->setPalette(pal);
    setFixedSize(sizeHint());

    m_ui->Image3->setPixmap(QPixmap(QStringLiteral(":/pictures/window.png")));
    struct Pic { TRimbalBtn* btn; const char* name; };
    const Pic pics[] = {{m_ui->BtnRec1, "rec"},   {m_ui->BtnPlay1, "play"}, {m_ui->BtnStop1, "stop"},
                        {m_ui->BtnSave1, "save"}, {m_ui->BtnNew1, "new"},   {m_ui->BtnRec2, "rec"},
                        {m_ui->BtnPlay2, "play"}, {m_ui->BtnStop2, "stop"}, {m_ui->BtnSave2, "save"},
                        {m_ui->BtnNew2, "new"}};
    for (std::size_t i = 0; i < std::size(pics); ++i) {
        const QString base = QStringLiteral(":/pictures/btn_%1").arg(QLatin1String(pics[i].name));
        pics[i].btn->setPicNormal(QPixmap(base + (i < 5 ? QStringLiteral("1.png") : QStringLiteral("2.png"))));
        if (i < 5) pics[i].btn->setPicDisabled(QPixmap(base + QStringLiteral("1_off.png")));
    }
    m_ui->ImageLedOn->setPixmap(QPixmap(QStringLiteral(":/pictures/led_on.png")));
    m_ui->ImageLedOff->setPixmap(QPixmap(QStringLiteral(":/pictures/led_off.png")));
    m_ui->ImageLedNull->setPixmap(QPixmap(QStringLiteral(":/pictures/led_null.png")));
    for (QLabel* l : {m_ui->ImageLedOn, m_ui->ImageLedOff, m_ui->ImageLedNull, m_ui->Label1}) l->hide();
    m_ui->ImgBanner->setPixmap(QPixmap(QStringLiteral(":/pictures/banner.png")));
    m_ui->ScrollCanais->setStyleSheet(QStringLiteral("QScrollArea { background: white; }"));
    m_ui->ScrollCanais->viewport()->setStyleSheet(QStringLiteral("background: white;"));
    m_ui->PaintCanais->onPaint = [this](QPainter& p, const QRect& area) { paintChannels(p, area); };
    // The status line must fit its 233 pixels whatever the system font.
    for (QLabel* panel : {m_ui->PanelStatus1, m_ui->PanelStatus2}) {
        panel->setIndent(2);
        QFont f = panel->font();
        const QString sample = QStringLiteral("Canais tocando: 00 Teclas por segundo: 00");
        while (f.pointSizeF() > 6.0 && QFontMetrics(f).horizontalAdvance(sample) > 233 - 8) f.setPointSizeF(f.pointSizeF() - 0.5);
        panel->setFont(f);
    }

    TimerInfo.setObjectName(QStringLiteral("TimerInfo"));
    TimerStatus.setObjectName(QStringLiteral("TimerStatus"));
    TimerRecord.setObjectName(QStringLiteral("TimerRecord"));
    TimerBanner.setObjectName(QStringLiteral("TimerBanner"));
    TimerInfo.setInterval(1000);
    TimerStatus.setInterval(100);
    TimerRecord.setInterval(1000);
    TimerBanner.setInterval(3000);
    TimerBanner.setSingleShot(true);
    connect(&TimerInfo, &QTimer::timeout, this, &TFrmCenter::TimerInfoTimer);
    connect(&TimerStatus, &QTimer::timeout, this, &TFrmCenter::TimerStatusTimer);
    connect(&TimerBanner, &QTimer::timeout, this, &TFrmCenter::TimerBannerTimer);
    connect(&TimerRecord, &QTimer::timeout, this, &TFrmCenter::TimerRecordTimer);
    TimerInfo.start();
    if (m_ctx.bannerDownload) TimerBanner.start();

    connect(m_ui->Sair1, &QAction::triggered, this, &QWidget::close);
    connect(m_ui->Preferencias1, &QAction::triggered, this, &TFrmCenter::Preferencias1Click);
    connect(m_ui->Sobre1, &QAction::triggered, this, &TFrmCenter::Sobre1Click);
    connect(m_ui->DefinirTecla1, &QAction::triggered, this, &TFrmCenter::DefinirTecla1Click);
    connect(m_ui->ListarTeclas1, &QAction::triggered, this, &TFrmCenter::ListarTeclas1Click);
    connect(m_ui->ExportarPacote1, &QAction::triggered, this, [this] { ExportarPacote1Click(m_ctx, *this); });
    connect(m_ui->ImportarPacote1, &QAction::triggered, this, [this] { ImportarPacote1Click(m_ctx, *this); });
    connect(m_ui->GerenciarPacotes1, &QAction::triggered, this, [this] { GerenciarPacotes1Click(m_ctx, *this); });
    connect(m_ui->ImportarTeclas1, &QAction::triggered, this, [this] { ImportarTeclas1Click(m_ctx, *this); });
    connect(m_ui->ImportarKitHydrogen1, &QAction::triggered, this, [this] { ImportarKitHydrogen1Click(m_ctx, *this); });

    m_sound = std::make_unique<TSoundCommands>(
        ctx.recorder, ctx.settings, ctx.prompt, ctx.settings.AppDir,
        TSoundCommands::Items{m_ui->GravarSom1, m_ui->PararSom1, m_ui->LimparGravarSom1, m_ui->TocarSom1,
                              m_ui->PararTocarSom1, m_ui->RepetindoTocarSom1, m_ui->SalvarSom1, m_ui->GravarOQueEuToco1,
                              m_ui->PanelStatus2, &TimerRecord},
        [this] { UpdateButtons(); });
    m_sequence = std::make_unique<TSequenceCommands>(
        ctx.sequence, ctx.prompt, ctx.settings.AppDir,
        TSequenceCommands::Items{m_ui->GravarSequencia1, m_ui->PararSequencia1, m_ui->LimparGravarSeq1,
                                 m_ui->TocarSequencia1, m_ui->PararTocarSeq1, m_ui->RepetindoTocarSeq1,
                                 m_ui->SalvarSequencia1, m_ui->CarregarSequencia1},
        [this] { UpdateButtons(); });
    m_metronome = std::make_unique<TMetronomeCommands>(
        ctx.metronome, ctx.prompt,
        TMetronomeCommands::Items{m_ui->LigarMetronomo1, m_ui->AndamentoMetronomo1, m_ui->CompassoMetronomo1,
                                  m_ui->VolumeMetronomo1});
    connect(m_ui->LigarMetronomo1, &QAction::triggered, this, [this] { m_metronome->LigarMetronomo1Click(); });
    connect(m_ui->AndamentoMetronomo1, &QAction::triggered, this, [this] { m_metronome->AndamentoMetronomo1Click(); });
    connect(m_ui->CompassoMetronomo1, &QAction::triggered, this, [this] { m_metronome->CompassoMetronomo1Click(); });
    connect(m_ui->VolumeMetronomo1, &QAction::triggered, this, [this] { m_metronome->VolumeMetronomo1Click(); });
    using Handler = void (TFrmCenter::*)();
    const std::tuple<QAction*, TRimbalBtn*, Handler> commands[] = {
        {m_ui->GravarSom1, m_ui->BtnRec1, &TFrmCenter::GravarSom1Click},
        {m_ui->PararSom1, m_ui->BtnStop1, &TFrmCenter::PararSom1Click},
        {m_ui->PararTocarSom1, nullptr, &TFrmCenter::PararSom1Click},
        {m_ui->LimparGravarSom1, m_ui->BtnNew1, &TFrmCenter::LimparGravarSom1Click},
        {m_ui->TocarSom1, m_ui->BtnPlay1, &TFrmCenter::TocarSom1Click},
        {m_ui->RepetindoTocarSom1, nullptr, &TFrmCenter::RepetindoTocarSom1Click},
        {m_ui->GravarOQueEuToco1, nullptr, &TFrmCenter::GravarOQueEuToco1Click},
        {m_ui->SalvarSom1, m_ui->BtnSave1, &TFrmCenter::SalvarSom1Click},
        {m_ui->GravarSequencia1, m_ui->BtnRec2, &TFrmCenter::GravarSequencia1Click},
        {m_ui->PararSequencia1, m_ui->BtnStop2, &TFrmCenter::PararSequencia1Click},
        {m_ui->PararTocarSeq1, nullptr, &TFrmCenter::PararSequencia1Click},
        {m_ui->LimparGravarSeq1, m_ui->BtnNew2, &TFrmCenter::LimparGravarSeq1Click},
        {m_ui->TocarSequencia1, m_ui->BtnPlay2, &TFrmCenter::TocarSequencia1Click},
        {m_ui->RepetindoTocarSeq1, nullptr, &TFrmCenter::RepetindoTocarSeq1Click},
        {m_ui->SalvarSequencia1, m_ui->BtnSave2, &TFrmCenter::SalvarSequencia1Click},
        {m_ui->CarregarSequencia1, nullptr, &TFrmCenter::CarregarSequencia1Click}};
    for (const auto& [item, button, handler] : commands) {
        connect(item, &QAction::triggered, this, handler);
        if (button) connect(button, &TRimbalBtn::clicked, this, handler);
    }

    FormCreate();
    qApp->installEventFilter(this);
    // MIDI notes take the key-down road, so they light, count and record like keys.
    ctx.midi.KeyDown = [this](std::uint16_t key, float factor, float velocity, std::int64_t moment) {
        FormKeyDown(key, factor, velocity, moment);
    };
    ctx.midi.OpenConfigured();
    m_setTecla = new TFrmSetTecla(ctx, this);
    m_listaTeclas = new TFrmListaTeclas(ctx, *m_setTecla, this);
}

TFrmCenter::~TFrmCenter() {
    qApp->removeEventFilter(this);
    m_ctx.midi.KeyDown = nullptr;
}

void TFrmCenter::FormCreate() {
    // The second row has no disabled pictures of its own.
    const std::pair<TRimbalBtn*, TRimbalBtn*> pairs[] = {{m_ui->BtnRec1, m_ui->BtnRec2},
                                                         {m_ui->BtnPlay1, m_ui->BtnPlay2},
                                                         {m_ui->BtnStop1, m_ui->BtnStop2},
                                                         {m_ui->BtnSave1, m_ui->BtnSave2},
                                                         {m_ui->BtnNew1, m_ui->BtnNew2}};
    for (const auto& [first, second] : pairs) second->setPicDisabled(first->PicDisabled());
}

void TFrmCenter::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        // Centred on the screen, frame included.
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        // After the window is on screen, so the log window has a parent to sit on.
        QTimer::singleShot(0, this, &TFrmCenter::FormShow);
    }
}

void TFrmCenter::FormShow() {
    SoundCore& core = m_ctx.core;
    core.ShowErrorLog(QStringLiteral("Erros na inicialização"));
    for (int i = 0; i < core.EffectNames.size(); ++i) {
        auto* item = new QAction(core.EffectNames[i], this);
        item->setObjectName(QStringLiteral("Efeito%1").arg(i));
        item->setData(i);
        item->setCheckable(true);  // each item ticks on its own
        connect(item, &QAction::triggered, this, &TFrmCenter::SystemEffectClick);
        m_ui->Efeitos1->addAction(item);
    }
    UpdateButtons();
    UpdateEffectsMenu();
    PaintCanaisPaint();
    LoadBanner();
    m_ctx.settings.StartingUp = false;
    TimerStatus.start();
}

void TFrmCenter::UpdateEffectsMenu() {
    m_ui->Efeitos1->setEnabled((m_ctx.settings.SoundMode & rb::MODE_SOFTWARE) != 0);
}

void TFrmCenter::UpdateButtons() {
    m_ui->BtnRec1->setEnabled(m_ui->GravarSom1->isEnabled());
    m_ui->BtnPlay1->setEnabled(m_ui->TocarSom1->isEnabled());
    m_ui->BtnStop1->setEnabled(m_ui->PararSom1->isEnabled() || m_ui->PararTocarSom1->isEnabled());
    m_ui->BtnSave1->setEnabled(m_ui->SalvarSom1->isEnabled());
    m_ui->BtnNew1->setEnabled(m_ui->LimparGravarSom1->isEnabled());
    m_ui->BtnRec2->setEnabled(m_ui->GravarSequencia1->isEnabled());
    m_ui->BtnPlay2->setEnabled(m_ui->TocarSequencia1->isEnabled());
    m_ui->BtnStop2->setEnabled(m_ui->PararSequencia1->isEnabled() || m_ui->PararTocarSeq1->isEnabled());
    m_ui->BtnSave2->setEnabled(m_ui->SalvarSequencia1->isEnabled());
    m_ui->BtnNew2->setEnabled(m_ui->LimparGravarSeq1->isEnabled());
}

bool TFrmCenter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->ImgBanner && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_ui->ImgBanner->rect().contains(mouse->position().toPoint())) ImgBannerClick();
    }
    // Key preview: the first delivery of a key-down to anything in this
    // window, whichever control has the focus. The key is not consumed.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        QWidget* focus = QApplication::focusWidget();
        const bool first = focus ? w == focus : w == this;
        if (first && w->window() == this) {
            // The window system stamps each key event (ms on its clock): the
            // play keeps the same delay after the press however long the
            // event took to get here. Synthesised events carry no stamp.
            const auto* key = static_cast<QKeyEvent*>(event);
            const std::int64_t moment =
                key->timestamp() ? m_keyClock.Moment(static_cast<std::int64_t>(key->timestamp()) * 1'000'000, SteadyNowNs()) : 0;
            FormKeyDown(VirtualKeyOf(*key), 1.0f, -1.0f, moment);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFrmCenter::FormKeyDown(std::uint16_t key, float volumeFactor, float velocity, std::int64_t momentNs) {
    if (key == 0) return;
    m_ctx.sequence.RecordKey(key);
    m_ctx.core.PlayKey(key, volumeFactor, velocity, momentNs);
}

void TFrmCenter::GravarSom1Click() { m_sound->GravarSom1Click(); }
void TFrmCenter::PararSom1Click() { m_sound->PararSom1Click(); }
void TFrmCenter::TocarSom1Click() { m_sound->TocarSom1Click(); }
void TFrmCenter::RepetindoTocarSom1Click() { m_sound->RepetindoTocarSom1Click(); }
void TFrmCenter::GravarOQueEuToco1Click() { m_sound->GravarOQueEuToco1Click(); }
void TFrmCenter::SalvarSom1Click() { m_sound->SalvarSom1Click(); }
void TFrmCenter::LimparGravarSom1Click() { m_sound->LimparGravarSom1Click(); }
void TFrmCenter::TimerRecordTimer() { m_sound->TimerRecordTimer(); }

void TFrmCenter::GravarSequencia1Click() { m_sequence->GravarSequencia1Click(); }
void TFrmCenter::PararSequencia1Click() { m_sequence->PararSequencia1Click(); }
void TFrmCenter::LimparGravarSeq1Click() { m_sequence->LimparGravarSeq1Click(); }
void TFrmCenter::RepetindoTocarSeq1Click() { m_sequence->RepetindoTocarSeq1Click(); }
void TFrmCenter::SalvarSequencia1Click() { m_sequence->SalvarSequencia1Click(); }
void TFrmCenter::CarregarSequencia1Click() { m_sequence->CarregarSequencia1Click(); }
void TFrmCenter::LoadSequenceFile(const QString& path) { m_sequence->LoadSequenceFile(path); }

void TFrmCenter::TocarSequencia1Click() {
    m_sequence->TocarSequencia1Click();
    // A close asked for while the player ran is carried out now that it has returned.
    if (m_closeAfterPlayer) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TFrmCenter::TimerInfoTimer() { m_ctx.core.PlayCount = 0; }

void TFrmCenter::SystemEffectClick() {
    auto* item = qobject_cast<QAction*>(sender());
    if (!item) return;
    SoundCore& core = m_ctx.core;
    const int i = item->data().toInt();
    if (i + 1 >= kEffects) return;
    const rb::Dsp unit = core.MasterEffects[static_cast<std::size_t>(i + 1)];
    bool active = false;
    core.CheckResult(rb::DSP_GetActive(unit, &active));
    core.CheckResult(active ? rb::DSP_Remove(unit) : rb::System_AddDSP(core.SoundSystem, unit));
}

int TFrmCenter::ledColumnX() const {
    return m_ui->PaintCanais->fontMetrics().horizontalAdvance(QStringLiteral("ABC")) + 4;
}

void TFrmCenter::paintChannels(QPainter& p, const QRect&) {
    SoundCore& core = m_ctx.core;
    const int x0 = ledColumnX();
    QFont labelFont(QStringLiteral("Arial"));
    labelFont.setPointSize(12);
    const int boxHeight = QFontMetrics(labelFont).height();
    QFont nameFont(QStringLiteral("Arial"));
    nameFont.setPointSize(7);
    const QPixmap on = m_ui->ImageLedOn->pixmap();
    const QPixmap off = m_ui->ImageLedOff->pixmap();
    const QPixmap null = m_ui->ImageLedNull->pixmap();
    const bool show = m_ctx.settings.ShowChannels;
    int row = 0;
    for (int r = 0; r < core.ScanCount(); ++r) {
        const TAG_SOUND_DATA& rec = core.KeySounds[static_cast<std::size_t>(r)];
        if (rec.sound == rb::Sound{}) continue;
        const int y = row * 16;
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawRect(0, y, x0, boxHeight - 1);
        p.setFont(nameFont);
        p.drawText(QRect(3, y + 3, x0 - 3, 12), Qt::AlignLeft | Qt::AlignTop, KeyName(rec.playKey));
        for (int i = 0; i < kSlots; ++i)
            p.drawPixmap(x0 + i * 16, y, !show ? null : rec.ledStates[static_cast<std::size_t>(i)] ? on : off);
        ++row;
    }
}

void TFrmCenter::PaintCanaisPaint() {
    int rows = 0;
    for (int r = 0; r < m_ctx.core.ScanCount(); ++r) rows += m_ctx.core.KeySounds[static_cast<std::size_t>(r)].sound != rb::Sound{};
    m_ui->PaintCanais->resize(ledColumnX() + 242, rows * 16 + 2);
    m_ui->PaintCanais->repaintAll();
}

void TFrmCenter::criticalStatusError(const QString& text) {
    TimerStatus.stop();
    m_ctx.prompt.message(QStringLiteral("Erro"), text, Prompt::Icon::Error, Prompt::Ok);
}

void TFrmCenter::TimerStatusTimer() {
    SoundCore& core = m_ctx.core;
    if (core.SoundSystem == rb::System{}) return;
    core.LastResult = rb::System_Update(core.SoundSystem);
    if (core.LastResult == rb::ERR_OUTPUT_LOST || core.LastResult == rb::ERR_OUTPUT_RATE ||
        core.LastResult == rb::ERR_RECORD || core.LastResult == rb::ERR_OUTPUT_UNDERRUN) {
        // The engine reports these once and carries on (it reopens a lost
        // device by itself): tell the user and keep the display running.
        core.CheckResult(core.LastResult);
    } else if (core.LastResult != rb::OK) {
        criticalStatusError(QStringLiteral("Ocorreu um erro crítico, a visualização do status foi desabilitada"));
        return;
    }
    if (m_ctx.settings.ShowChannels) {
        const int x0 = ledColumnX();
        int row = 0;
        bool resized = false;
        for (int r = 0; r < core.ScanCount(); ++r) {
            TAG_SOUND_DATA& rec = core.KeySounds[static_cast<std::size_t>(r)];
            if (rec.sound == rb::Sound{}) continue;
            for (int i = 0; i < kSlots; ++i) {
                const rb::Channel ch = rec.channels[static_cast<std::size_t>(i)];
                bool playing = false;
                core.LastResult = ch == rb::Channel{} ? rb::OK : rb::Channel_IsPlaying(ch, &playing);
                if (core.LastResult != rb::OK && core.LastResult != rb::ERR_CHANNEL_STOLEN &&
                    core.LastResult != rb::ERR_INVALID_HANDLE) {
                    criticalStatusError(QStringLiteral("Ocorreu um erro crítico, a visualização do status foi desabilitada"));
                    return;
                }
                if (static_cast<std::uint8_t>(playing) != rec.ledStates[static_cast<std::size_t>(i)]) {
                    rec.ledStates[static_cast<std::size_t>(i)] = playing;
                    if (!resized && m_ui->PaintCanais->height() < (row + 1) * 16) {
                        PaintCanaisPaint();
                        resized = true;
                    }
                    m_ui->PaintCanais->update(x0 + i * 16, row * 16, 16, 16);
                }
            }
            ++row;
        }
        m_scrollTag = 1;
    } else if (m_scrollTag != 0) {
        PaintCanaisPaint();
        m_scrollTag = 0;
    }
    if (!core.StatusNotice.isEmpty()) {
        // Five seconds in place of the figures, then the figures again.
        m_ui->PanelStatus1->setText(core.StatusNotice);
        m_noticeTicks = 50;
        m_statusTag = 1;
        core.StatusNotice.clear();
    } else if (m_noticeTicks > 0) {
        --m_noticeTicks;
    } else if (m_ctx.settings.ShowStatus) {
        ChannelsPlaying = 0;
        core.LastResult = rb::System_GetChannelsPlaying(core.SoundSystem, &ChannelsPlaying);
        if (core.LastResult != rb::OK)
            criticalStatusError(QStringLiteral("Ocorreu um erro crítico, a visualização de status foi desabilitada"));
        m_ui->PanelStatus1->setText(QStringLiteral("Canais tocando: ") + FormatTwoDigits(ChannelsPlaying) +
                                    QStringLiteral(" Teclas por segundo: ") + FormatTwoDigits(core.PlayCount));
        m_statusTag = 1;
    } else if (m_statusTag != 0) {
        m_ui->PanelStatus1->clear();
        m_statusTag = 0;
    }
}

// The banner cached by an earlier run; without a usable cache the form's own
// picture stays, and the link is taken whenever the file holds one.
void TFrmCenter::LoadBanner() {
    BannerLink = kBannerRetailerPage;
    const auto cache = ReadBannerCache(m_ctx.settings.AppDir + kBannerCacheName);
    if (!cache) return;
    BannerLink = cache->link;
    if (cache->type != "GIF" && cache->type != "JPG") return;
    QBuffer buffer;
    buffer.setData(cache->picture);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, cache->type.toLower());
    reader.setAutoDetectImageFormat(false);  // decoded as the type says, nothing else
    reader.setAllocationLimit(32);
    const QImage picture = reader.read();
    if (picture.isNull()) return;
    m_ui->ImgBanner->setPixmap(QPixmap::fromImage(picture));
    m_ui->ImgBanner->resize(picture.size());
}

// Once per run; the new banner shows from the next start on.
void TFrmCenter::TimerBannerTimer() {
    TimerBanner.stop();
    if (m_bannerTried || m_closed || !m_ctx.bannerDownload) return;
    m_bannerTried = true;
    m_banner = new BannerDownload(m_ctx.settings.AppDir, this);
    m_banner->setObjectName(QStringLiteral("NMHTTP1"));
    m_banner->start(BannerListUrl(m_ctx.settings.BannerSite));
}

void TFrmCenter::ImgBannerClick() {
    if (IsWebAddress(BannerLink)) m_ctx.openUrl(QUrl(BannerLink.trimmed()));
}

void TFrmCenter::Preferencias1Click() {
    TFrmPreferencias dlg(m_ctx, this, this);
    dlg.exec();
}

void TFrmCenter::DefinirTecla1Click() {
    m_setTecla->exec();
    PaintCanaisPaint();  // new keys get their rows
}

void TFrmCenter::ListarTeclas1Click() {
    m_listaTeclas->exec();
    PaintCanaisPaint();
}

void TFrmCenter::Sobre1Click() {
    TFrmSobre about(this);
    about.exec();
}

void TFrmCenter::closeEvent(QCloseEvent* event) {
    // The player runs further down this call stack: it must end before the
    // engine goes, so the close waits for it.
    if (!m_closed && m_ctx.sequence.IsPlaying()) {
        m_ctx.sequence.Abort();
        m_closeAfterPlayer = true;
        event->ignore();
        return;
    }
    if (!m_closed) {
        FormCloseQuery();
        FormClose();
        m_closed = true;
    }
    event->accept();
}

void TFrmCenter::FormCloseQuery() {
    TimerStatus.stop();
    TimerInfo.stop();
    TimerBanner.stop();
    // The take's header is completed before the engine goes.
    if (m_ctx.recorder.SoundRecording) PararSom1Click();
}

void TFrmCenter::FormClose() {
    SoundCore& core = m_ctx.core;
    core.ReleaseSounds(true);
    if (core.SoundSystem != rb::System{}) {
        core.CheckResult(rb::System_Release(core.SoundSystem));
        core.SoundSystem = rb::System{};
    }
    core.KeyLines.clear();
    core.EffectNames.clear();
    core.CodecNames.clear();
    core.OutputNames.clear();
    core.ErrorLog.clear();
    delete m_banner;  // an unfinished download is abandoned with its partial file
    m_banner = nullptr;
    QString error;
    if (!m_ctx.settings.SaveConfiguration(&error))
        m_ctx.prompt.message(QStringLiteral("Erro"), error, Prompt::Icon::Error, Prompt::Ok);
    m_ctx.recorder.RemoveTempFile();  // the take this program made, nothing else
}

}  // namespace rimbal
