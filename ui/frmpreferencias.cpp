// The preferences dialog: driver, quality, display, effects and packages pages.
#include "frmpreferencias.h"

#include "midichoice.h"
#include "frmcenter.h"
#include "frmlistapacotes.h"

#include "ui_FrmPreferencias.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>

namespace rimbal {

TFrmPreferencias::TFrmPreferencias(AppContext& ctx, TFrmCenter* mainWindow, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_main(mainWindow), m_ui(std::make_unique<Ui::FrmPreferencias>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // The audio systems of this platform, in place of the Windows ones.
    m_ui->List_Outputs->addItems({QStringLiteral("PulseAudio"), QStringLiteral("ALSA"), QStringLiteral("JACK")});

    connect(m_ui->List_Outputs, &QListWidget::currentRowChanged, this, [this] { List_OutputsClick(); });
    connect(m_ui->List_Drivers, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_filling || row == wPlayback) return;
        wPlayback = row;
        DriversChanged = true;
    });
    connect(m_ui->List_RecordDrivers, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_filling || row == wRecord) return;
        wRecord = row;
        DriversChanged = true;
    });
    m_midi = std::make_unique<MidiChoice>(m_ui->TabSheet3);
    connect(m_midi->combo(), &QComboBox::activated, this, [this] {
        if (m_filling) return;
        // Picking the same port again counts: a pad plugged in again needs it opened anew.
        wMidiInput = m_midi->Chosen();
        m_midiPicked = true;
        OptionsChanged = true;
    });
    connect(m_ui->cb_sformat, &QComboBox::activated, this, [this](int i) { qualityChanged(wFormat, i); });
    connect(m_ui->cb_ratefreq, &QComboBox::activated, this, [this](int i) { qualityChanged(wRate, i); });
    connect(m_ui->cb_outputchannel, &QComboBox::activated, this, [this](int i) { qualityChanged(wChannel, i); });
    connect(m_ui->cb_outputmode, &QComboBox::activated, this, &TFrmPreferencias::cb_outputmodeChange);
    const auto option = [this](QCheckBox* box, bool& target, bool inverted) {
        connect(box, &QCheckBox::toggled, this, [this, &target, inverted](bool on) {
            if (m_filling) return;
            target = inverted ? !on : on;
            OptionsChanged = true;
        });
    };
    option(m_ui->Check_MostraCanais, wShowChannels, false);
    option(m_ui->Check_MostraStatus, wShowStatus, false);
    option(m_ui->Check_Animacao, wShowAnimation, false);
    option(m_ui->Check_SemEfeitos, wUseEffects, true);
    option(m_ui->Check_Limitador, wLimiter, false);
    connect(m_ui->BtnSelPastaPac, &QPushButton::clicked, this, &TFrmPreferencias::BtnSelPastaPacClick);
    connect(m_ui->BtnSelPacote, &QPushButton::clicked, this, [this] {
        TFrmListaPacotes manager(m_ctx, m_main, this);
        manager.exec();
        m_ui->Edit_Pacote->setText(m_ctx.settings.PackName);  // the manager takes a package into use at once
    });
    setFixedSize(470, 400);
}

TFrmPreferencias::~TFrmPreferencias() = default;

void TFrmPreferencias::setStartPage(int page) { m_ui->PageControl1->setCurrentIndex(page); }

void TFrmPreferencias::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        FormShow();
    }
}

void TFrmPreferencias::FormShow() {
    const Settings& s = m_ctx.settings;
    m_filling = true;
    DriversChanged = QualityChanged = OptionsChanged = false;
    wOutput = s.ID_Driver_Output;
    wPlayback = s.ID_Driver_Playback;
    wRecord = s.ID_Driver_Record;
    wRate = s.ID_Output_Rate_Freq;
    wFormat = s.ID_Output_Snd_Format;
    wMode = s.ID_Output_Mode;
    wChannel = s.ID_Output_Channel;
    wPlaybackCount = s.Driver_Playback_Count;
    wRecordCount = s.Driver_Record_Count;
    wPackPath = s.PackPath;
    wShowChannels = s.ShowChannels;
    wShowStatus = s.ShowStatus;
    wShowAnimation = s.ShowAnimation;
    wUseEffects = s.UseEffects;
    wLimiter = s.Master_Limiter;
    wMidiInput = s.Midi_Input;
    m_midi->Fill(MidiInput::Ports(), wMidiInput);

    {
        const QSignalBlocker block(m_ui->List_Outputs);
        m_ui->List_Outputs->setCurrentRow(wOutput >= 0 && wOutput < m_ui->List_Outputs->count() ? wOutput : -1);
        if (wOutput < 0) m_ui->List_Outputs->clearSelection();
    }
    List_OutputsClick();
    {
        const QSignalBlocker b1(m_ui->List_Drivers), b2(m_ui->List_RecordDrivers);
        m_ui->List_Drivers->setCurrentRow(wPlayback < m_ui->List_Drivers->count() ? wPlayback : -1);
        m_ui->List_RecordDrivers->setCurrentRow(wRecord < m_ui->List_RecordDrivers->count() ? wRecord : -1);
    }
    const auto setCombo = [](QComboBox* c, int v) { c->setCurrentIndex(v >= 0 && v < c->count() ? v : -1); };
    setCombo(m_ui->cb_sformat, wFormat);
    setCombo(m_ui->cb_ratefreq, wRate);
    setCombo(m_ui->cb_outputmode, wMode);
    setCombo(m_ui->cb_outputchannel, wChannel);
    m_ui->Check_MostraCanais->setChecked(wShowChannels);
    m_ui->Check_Animacao->setChecked(wShowAnimation);
    m_ui->Check_MostraStatus->setChecked(wShowStatus);
    m_ui->Check_SemEfeitos->setChecked(!wUseEffects);
    m_ui->Check_Limitador->setChecked(wLimiter);
    m_ui->Edit_PastaPacotes->setText(s.RelativeForm(s.PackPath));
    m_ui->Edit_Pacote->setText(s.PackName);
    if (!s.StartingUp) {
        const SoundCore& core = m_ctx.core;
        QStringList items{QStringLiteral(">> Codec plugins:")};
        items << core.CodecNames << QString() << QStringLiteral(">> DSP plugins:") << core.EffectNames << QString()
              << QStringLiteral(">> Output plugins:") << core.OutputNames;
        m_ui->List_Plugins->addItems(items);
    }
    m_filling = false;
}

void TFrmPreferencias::List_OutputsClick() {
    SoundCore& core = m_ctx.core;
    if (!m_filling) {
        const int row = m_ui->List_Outputs->currentRow();
        if (row != wOutput) {
            wOutput = row;
            wPlayback = -1;
            wRecord = -1;
            DriversChanged = true;
        }
    }
    if (DriversChanged) {
        core.CheckResult(rb::System_Close(core.SoundSystem));
        int type = 0;
        if (m_ctx.outputType(wOutput, type)) core.CheckResult(rb::System_SetOutput(core.SoundSystem, type));
        core.CheckResult(rb::System_Init(core.SoundSystem, rb::kMaxChannels, rb::INIT_NORMAL, nullptr));
    }
    fillDevices();
    if (m_ctx.settings.StartingUp) core.CheckResult(rb::System_Close(core.SoundSystem));
}

void TFrmPreferencias::fillDevices() {
    SoundCore& core = m_ctx.core;
    const bool wasFilling = m_filling;
    m_filling = true;
    const auto fill = [&](QListWidget* list, bool record, int& count) {
        const QSignalBlocker block(list);
        count = 0;
        core.CheckResult(record ? rb::System_GetRecordNumDrivers(core.SoundSystem, &count)
                                : rb::System_GetNumDrivers(core.SoundSystem, &count));
        list->clear();
        for (int i = 0; i < count; ++i) {
            char name[256] = {};
            core.CheckResult(record ? rb::System_GetRecordDriverName(core.SoundSystem, i, name, sizeof name)
                                    : rb::System_GetDriverName(core.SoundSystem, i, name, sizeof name));
            list->addItem(QString::fromUtf8(name));
        }
    };
    fill(m_ui->List_Drivers, false, wPlaybackCount);
    fill(m_ui->List_RecordDrivers, true, wRecordCount);
    m_filling = wasFilling;
}

void TFrmPreferencias::qualityChanged(int& target, int index) {
    target = index;
    QualityChanged = true;
}

void TFrmPreferencias::cb_outputmodeChange(int index) {
    if (index == 1) {
        const auto answer = m_ctx.prompt.message(
            QStringLiteral("Confirmação"),
            QStringLiteral("Selecionando o modo Hardware não permitirá o uso de efeitos, deseja continuar?"),
            Prompt::Icon::Question, Prompt::Yes | Prompt::No);
        if (answer != Prompt::Yes) {
            m_ui->cb_outputmode->setCurrentIndex(0);
            return;
        }
    }
    qualityChanged(wMode, index);
}

void TFrmPreferencias::BtnSelPastaPacClick() {
    if (m_filling) return;
    QString folder = m_ctx.prompt.chooseFolder(QStringLiteral("Selecione o diretório"), QString());
    if (folder.isEmpty()) return;
    if (const QString problem = m_ctx.settings.PackPathProblem(folder); !problem.isEmpty()) {
        m_ctx.prompt.message(QStringLiteral("Erro"),
                             QStringLiteral("A pasta %1 não pode ser gravada na configuração. %2 Escolha outra pasta.")
                                 .arg(folder, problem),
                             Prompt::Icon::Error, Prompt::Ok);
        return;
    }
    folder = m_ctx.settings.RelativeForm(folder);
    if (!folder.isEmpty() && !folder.endsWith(u'/')) folder += u'/';
    m_ui->Edit_PastaPacotes->setText(folder);
    wPackPath = folder;
    OptionsChanged = true;
}

bool TFrmPreferencias::FormCloseQuery() {
    if (wPlayback != -1 && wRecord != -1) return true;
    return m_ctx.prompt.message(QStringLiteral("Confirmação"),
                                QStringLiteral("Não foi definido drivers de reprodução e gravação. Deseja continuar assim mesmo?"),
                                Prompt::Icon::Question, Prompt::Yes | Prompt::No) == Prompt::Yes;
}

void TFrmPreferencias::done(int result) {
    if (!FormCloseQuery()) return;
    FormClose();
    QDialog::done(result);
}

// Puts the engine back on the stored output type and devices. Only a click
// on the output list touched the engine, so it is restarted only when its
// output type differs; and since this engine resets both devices whenever it
// is given an output type, the stored ones are set again.
void TFrmPreferencias::restoreEngine() {
    const Settings& s = m_ctx.settings;
    SoundCore& core = m_ctx.core;
    int stored = 0, current = -1, playback = -1, record = -1;
    const bool hasType = m_ctx.outputType(s.ID_Driver_Output, stored);
    rb::System_GetOutput(core.SoundSystem, &current);
    rb::System_GetDriver(core.SoundSystem, &playback);
    rb::System_GetRecordDriver(core.SoundSystem, &record);
    const bool restart = hasType && current != stored;
    if (restart) {
        core.CheckResult(rb::System_Close(core.SoundSystem));
        core.CheckResult(rb::System_SetOutput(core.SoundSystem, stored));
    }
    if (s.ID_Driver_Playback != -1 && (restart || playback != s.ID_Driver_Playback))
        core.CheckResult(rb::System_SetDriver(core.SoundSystem, s.ID_Driver_Playback));
    if (s.ID_Driver_Record != -1 && (restart || record != s.ID_Driver_Record))
        core.CheckResult(rb::System_SetRecordDriver(core.SoundSystem, s.ID_Driver_Record));
    // During start-up the engine stays closed: the start-up initialises it itself.
    if (restart && !s.StartingUp) core.CheckResult(rb::System_Init(core.SoundSystem, rb::kMaxChannels, rb::INIT_NORMAL, nullptr));
}

void TFrmPreferencias::FormClose() {
    if (!DriversChanged && !QualityChanged && !OptionsChanged) return;
    Settings& s = m_ctx.settings;
    SoundCore& core = m_ctx.core;
    const auto answer = m_ctx.prompt.message(QStringLiteral("Confirmação"), QStringLiteral("Salvar nova configuração?"),
                                             Prompt::Icon::Question, Prompt::Yes | Prompt::No);
    if (answer != Prompt::Yes) {
        if (DriversChanged || QualityChanged) restoreEngine();
        return;
    }
    const Settings before = s;
    s.ID_Driver_Output = wOutput;
    s.ID_Driver_Playback = wPlayback;
    s.ID_Driver_Record = wRecord;
    s.ID_Output_Rate_Freq = wRate;
    s.ID_Output_Snd_Format = wFormat;
    s.ID_Output_Mode = wMode;
    s.ID_Output_Channel = wChannel;
    s.Driver_Playback_Count = wPlaybackCount;
    s.Driver_Record_Count = wRecordCount;
    s.ShowChannels = wShowChannels;
    s.ShowStatus = wShowStatus;
    s.ShowAnimation = wShowAnimation;
    s.UseEffects = wUseEffects;
    s.Master_Limiter = wLimiter;
    if (wPackPath != s.PackPath) s.PackPath = s.NormalizePackPath(wPackPath);
    s.Midi_Input = wMidiInput;
    QString error;
    if (!s.SaveConfiguration(&error)) {
        // Nothing is applied when the settings cannot be kept.
        s = before;
        m_ctx.prompt.message(QStringLiteral("Erro"), error, Prompt::Icon::Error, Prompt::Ok);
        return;
    }
    if (m_main) m_main->PaintCanaisPaint();
    // The limiter switches at once, whatever plays.
    if (s.Master_Limiter != before.Master_Limiter && core.SoundSystem != rb::System{})
        core.CheckResult(rb::System_SetMasterLimiter(core.SoundSystem, s.Master_Limiter));
    // The chosen MIDI port opens at once, also one that was missing at start;
    // the engine goes on playing. During start-up the main window opens it.
    if ((m_midiPicked || s.Midi_Input != m_ctx.midi.PortName()) && !s.StartingUp) {
        QString midiError;
        if (!m_ctx.midi.Open(s.Midi_Input, &midiError))
            m_ctx.prompt.message(QStringLiteral("Erro"), midiError, Prompt::Icon::Error, Prompt::Ok);
    }
    if (DriversChanged) {
        core.CheckResult(rb::System_SetDriver(core.SoundSystem, s.ID_Driver_Playback));
        core.CheckResult(rb::System_SetRecordDriver(core.SoundSystem, s.ID_Driver_Record));
    }
    if (QualityChanged) {
        setWindowTitle(QStringLiteral("Reconfigurando sistema..."));
        QCoreApplication::processEvents();
        core.ReleaseSounds(true);
        QCoreApplication::processEvents();
        if (!s.StartingUp) core.CreateSounds(true);
        setWindowTitle(QStringLiteral("Configurações"));
        if (m_main) {
            m_main->UpdateEffectsMenu();
            m_main->PaintCanaisPaint();
        }
    }
}

}  // namespace rimbal
