// The key definition dialog: file, preview, keys, volume, effects, options and
// the "Info" tab.
#include "frmsettecla.h"

#include "kit/soundinfo.h"
#include "base/textroutines.h"
#include "vkeys.h"

#include "ui_FrmSetTecla.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>

namespace rimbal {

TFrmSetTecla::TFrmSetTecla(AppContext& ctx, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::FrmSetTecla>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    m_folder = QCoreApplication::applicationDirPath();
    m_ui->ListBox_Efeitos->addItems(ctx.core.EffectNames);
    for (QLabel* l : {m_ui->Label_TemTocar, m_ui->Label_TemParar}) {
        // The mark comes and goes without moving the panels beside it.
        QSizePolicy policy = l->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        l->setSizePolicy(policy);
        l->setText(QStringLiteral(" (em uso) "));
        l->hide();
    }
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, &TFrmSetTecla::Timer1Timer);
    connect(m_ui->BtnAbrir, &QPushButton::clicked, this, &TFrmSetTecla::BtnAbrirClick);
    connect(m_ui->BtnOuvir, &QPushButton::clicked, this, &TFrmSetTecla::BtnOuvirClick);
    connect(m_ui->BtnParar, &QPushButton::clicked, this, &TFrmSetTecla::BtnPararClick);
    connect(m_ui->BtnCriar, &QPushButton::clicked, this, &TFrmSetTecla::BtnCriarClick);
    connect(m_ui->BtnSair, &QPushButton::clicked, this, &QDialog::close);
    connect(m_ui->BtnInfo, &QPushButton::clicked, this, &TFrmSetTecla::BtnInfoClick);
    connect(m_ui->Edit_Arquivo, &QLineEdit::textChanged, this, &TFrmSetTecla::Edit_ArquivoChange);
    connect(m_ui->Track_Volume, &QSlider::valueChanged, this, &TFrmSetTecla::Track_VolumeChange);
    connect(m_ui->ListBox_Efeitos, &QListWidget::itemSelectionChanged, this, &TFrmSetTecla::ListBox_EfeitosClick);
    connect(m_ui->Check_Interromper, &QCheckBox::toggled, this, [this](bool on) { m_ctx.core.PendingKey.noInterrupt = on; });
    connect(m_ui->Check_Repetindo, &QCheckBox::toggled, this, [this](bool on) { m_ctx.core.PendingKey.loop = on; });
    connect(m_ui->Check_PararTodos, &QCheckBox::toggled, this, [this](bool on) { m_ctx.core.PendingKey.stopAll = on; });
    for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
    for (QWidget* w : {static_cast<QWidget*>(m_ui->Panel_Start), static_cast<QWidget*>(m_ui->Panel_Stop)}) {
        w->installEventFilter(this);
        setPanelLook(w, false, false);
    }
    qApp->installEventFilter(this);
    Edit_ArquivoChange();
    setFixedSize(440, 500);
}

TFrmSetTecla::~TFrmSetTecla() { qApp->removeEventFilter(this); }

void TFrmSetTecla::setPanelLook(QWidget* panel, bool capturing, bool highlighted) {
    auto* label = static_cast<QLabel*>(panel);
    label->setText(capturing ? QStringLiteral("Pressione uma Tecla") : QStringLiteral("Clique aqui para definir"));
    if (capturing) label->setCursor(Qt::BusyCursor);
    else label->unsetCursor();
    label->setStyleSheet(capturing ? (highlighted ? QStringLiteral("background: palette(highlight); color: white;")
                                                  : QStringLiteral("background: palette(button); color: white;"))
                                   : QStringLiteral("background: palette(button); color: black;"));
}

QWidget* TFrmSetTecla::targetPanel() const {
    return CaptureStart ? static_cast<QWidget*>(m_ui->Panel_Start) : static_cast<QWidget*>(m_ui->Panel_Stop);
}

void TFrmSetTecla::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Once per opening: restoring the minimised dialog shows it again too.
    if (m_open) return;
    m_open = true;
    ResetDialog();
}

void TFrmSetTecla::keyPressEvent(QKeyEvent* event) {
    // Esc would throw the definition away; only "Sair" and the close box close.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFrmSetTecla::done(int result) {
    // Every way of closing: the close box, "Sair", Esc.
    if (Editing) {
        Editing = false;
        EditIndex = -1;
        m_ui->BtnCriar->setText(QStringLiteral("Criar"));
    }
    ResetDialog();
    m_open = false;
    QDialog::done(result);
}

void TFrmSetTecla::ResetDialog() {
    if (Capturing) EndCapture();
    CaptureStart = true;
    if (Editing) return;
    EditIndex = -1;
    m_ui->Edit_Arquivo->clear();
    for (QLabel* p : {m_ui->Panel_StartCode, m_ui->Panel_StartChar, m_ui->Panel_StopCode, m_ui->Panel_StopChar}) p->clear();
    m_ui->Label_TemTocar->hide();
    m_ui->Label_TemParar->hide();
    {
        const QSignalBlocker block(m_ui->Track_Volume);
        m_ui->Track_Volume->setValue(100);
    }
    m_ui->Label_Volume->setText(FormatFixed2(1.0));
    m_ui->PageControl1->setCurrentIndex(0);
    m_ui->PageControl2->setCurrentIndex(0);
    {
        const QSignalBlocker block(m_ui->ListBox_Efeitos);
        m_ui->ListBox_Efeitos->clearSelection();
    }
    for (QCheckBox* c : {m_ui->Check_Interromper, m_ui->Check_PararTodos, m_ui->Check_Repetindo}) c->setChecked(false);
    m_ui->MemoInfo1->clear();
    m_ui->MemoInfo2->clear();
    m_ctx.core.ReleasePendingSound();
}

void TFrmSetTecla::BtnAbrirClick() {
    const QString file = m_ctx.prompt.openFile(
        QStringLiteral("Abrir"), m_folder,
        // What the engine decodes; "*" also matches names without an extension.
        QStringLiteral("Suportados (*.wav *.aiff *.aif *.flac *.ogg *.oga *.opus *.mp3 *.mp2 *.mp1);;Todos (*)"));
    if (file.isEmpty()) return;
    m_ui->Edit_Arquivo->setText(file);
    m_folder = QFileInfo(file).absolutePath();
    m_ui->Edit_Arquivo->setFocus();
    m_ui->Edit_Arquivo->end(false);
}

void TFrmSetTecla::Edit_ArquivoChange() {
    const QString text = m_ui->Edit_Arquivo->text();
    const bool exists = !text.isEmpty() && QFileInfo(text).isFile();
    for (QWidget* w : std::initializer_list<QWidget*>{m_ui->BtnOuvir, m_ui->BtnParar, m_ui->BtnCriar, m_ui->BtnInfo,
                                                       m_ui->Check_Interromper, m_ui->Check_PararTodos, m_ui->Check_Repetindo,
                                                       m_ui->Track_Volume, m_ui->Panel_Start, m_ui->Panel_Stop})
        w->setEnabled(exists);
    m_ui->ListBox_Efeitos->setEnabled(exists && (m_ctx.settings.SoundMode & rb::MODE_SOFTWARE));
    if (exists) m_ctx.core.LoadPendingSound(text);
}

void TFrmSetTecla::BtnOuvirClick() {
    SoundCore& core = m_ctx.core;
    TAG_SOUND_DATA& p = core.PendingKey;
    core.LoadPendingSound(m_ui->Edit_Arquivo->text());
    if (p.sound == rb::Sound{}) return;
    if (p.noInterrupt && core.IsChannelPlaying(p.channels[0])) return;
    std::uint32_t mode = 0;
    core.CheckResult(rb::Sound_GetMode(p.sound, &mode));
    const std::uint32_t loop = p.loop ? rb::LOOP_NORMAL : rb::LOOP_OFF;
    if (!(mode & loop)) core.CheckResult(rb::Sound_SetMode(p.sound, loop));
    int slot = -1;
    for (int s = 0; s < kSlots && slot < 0; ++s)
        if (!core.IsChannelPlaying(p.channels[static_cast<std::size_t>(s)])) slot = s;
    if (slot < 0) return;  // fifteen previews already sound
    rb::Channel& c = p.channels[static_cast<std::size_t>(slot)];
    core.CheckResult(rb::System_PlaySound(core.SoundSystem, rb::CHANNEL_FREE, p.sound, true, &c));
    core.CheckResult(rb::Channel_SetVolume(c, p.volume));
    for (int j = 0; j < kEffects; ++j) {
        rb::Dsp& unit = p.units[static_cast<std::size_t>(j)];
        bool active = false;
        if (p.effects[static_cast<std::size_t>(j)]) {
            if (unit != rb::Dsp{}) {
                core.CheckResult(rb::DSP_GetActive(unit, &active));
                if (!active) core.CheckResult(rb::ChannelGroup_AddDSP(p.group, unit));
            } else {
                core.LogResult(rb::System_CreateDSPByIndex(core.SoundSystem, j + 1, &unit));
                if (unit != rb::Dsp{}) core.CheckResult(rb::ChannelGroup_AddDSP(p.group, unit));
            }
        } else if (unit != rb::Dsp{}) {
            core.CheckResult(rb::DSP_GetActive(unit, &active));
            if (active) core.CheckResult(rb::DSP_Remove(unit));
        }
    }
    core.CheckResult(rb::Channel_SetChannelGroup(c, p.group));
    core.CheckResult(rb::Channel_SetPaused(c, false));
    core.CheckResult(rb::System_Update(core.SoundSystem));
}

void TFrmSetTecla::BtnPararClick() {
    SoundCore& core = m_ctx.core;
    for (int s = kSlots - 1; s >= 0; --s) {
        const rb::Channel c = core.PendingKey.channels[static_cast<std::size_t>(s)];
        if (!core.IsChannelPlaying(c)) continue;
        core.CheckResult(rb::Channel_Stop(c));
        if (!core.PendingKey.stopAll) return;
    }
}

void TFrmSetTecla::Track_VolumeChange(int position) {
    SoundCore& core = m_ctx.core;
    m_ui->Label_Volume->setText(FormatFixed2(position / 100.0));
    float v = 1.0f;
    if (ToVolume(m_ui->Label_Volume->text(), v)) core.PendingKey.volume = v;
    const rb::Channel c0 = core.PendingKey.channels[0];
    if (c0 != rb::Channel{} && core.IsChannelPlaying(c0)) {
        core.CheckResult(rb::Channel_SetVolume(c0, core.PendingKey.volume));
        core.CheckResult(rb::System_Update(core.SoundSystem));
    }
}

void TFrmSetTecla::ListBox_EfeitosClick() {
    auto* list = m_ui->ListBox_Efeitos;
    for (int j = 0; j < list->count() && j < kEffects; ++j)
        m_ctx.core.PendingKey.effects[static_cast<std::size_t>(j)] = list->item(j)->isSelected() ? 1 : 0;
}

void TFrmSetTecla::Panel_StartClick() {
    if (Capturing) return;
    CaptureStart = true;
    StartCapture();
}

void TFrmSetTecla::Panel_StopClick() {
    if (Capturing) return;
    CaptureStart = false;
    StartCapture();
}

void TFrmSetTecla::StartCapture() {
    Capturing = true;
    if (CaptureStart) {
        m_ui->Panel_StartCode->clear();
        m_ui->Panel_StartChar->clear();
    } else {
        m_ui->Panel_StopCode->clear();
        m_ui->Panel_StopChar->clear();
    }
    setPanelLook(targetPanel(), true, true);
    m_blink = 0;
    m_ui->Edit_Arquivo->setReadOnly(true);
    // The read-only path box takes the keys, so none presses a button.
    m_ui->Edit_Arquivo->setFocus();
    Timer1.start();
    m_ui->BtnCriar->setEnabled(false);
}

void TFrmSetTecla::EndCapture() {
    Capturing = false;
    setPanelLook(targetPanel(), false, false);
    m_ui->Edit_Arquivo->setReadOnly(false);
    Timer1.stop();
    m_ui->BtnCriar->setEnabled(true);
}

void TFrmSetTecla::Timer1Timer() {
    setPanelLook(targetPanel(), true, m_blink == 1);
    m_blink = m_blink == 1 ? 0 : 1;
    if (!m_ui->Edit_Arquivo->hasFocus()) {
        m_ui->Edit_Arquivo->setFocus();
        m_ui->Edit_Arquivo->end(false);
    }
}

void TFrmSetTecla::FormKeyDown(std::uint16_t key) {
    SoundCore& core = m_ctx.core;
    if (CaptureStart) {
        core.PendingKey.playKey = key;
        m_ui->Panel_StartCode->setText(QString::number(key));
        m_ui->Panel_StartChar->setText(KeyName(key));
        m_ui->Label_TemTocar->hide();
        if (core.IsKeyUsed(key, 3)) {
            m_ui->Label_TemTocar->setText(QStringLiteral(" (em uso) "));
            m_ui->Label_TemTocar->setStyleSheet(QStringLiteral("color: white; background: rgb(128, 0, 0);"));
            m_ui->Label_TemTocar->show();
        }
    } else {
        core.PendingKey.stopKey = key;
        m_ui->Panel_StopCode->setText(QString::number(key));
        m_ui->Panel_StopChar->setText(KeyName(key));
        m_ui->Label_TemParar->hide();
        // Maroon: another key plays with it; olive: another key already stops with it.
        QString colour;
        if (core.IsKeyUsed(key, 1)) colour = QStringLiteral("rgb(128, 0, 0)");
        else if (core.IsKeyUsed(key, 2)) colour = QStringLiteral("rgb(128, 128, 0)");
        if (!colour.isEmpty()) {
            m_ui->Label_TemParar->setText(QStringLiteral(" (em uso) "));
            m_ui->Label_TemParar->setStyleSheet(QStringLiteral("color: white; background: %1;").arg(colour));
            m_ui->Label_TemParar->show();
        }
    }
}

void TFrmSetTecla::FormKeyPress(const QString& text) {
    QLabel* panel = CaptureStart ? m_ui->Panel_StartChar : m_ui->Panel_StopChar;
    if (!panel->text().isEmpty() || text.isEmpty() || text[0].unicode() < 32) return;
    QString ch = text.left(1);
    if (ch[0].unicode() < 128) ch = ch.toUpper();
    panel->setText(ch);
}

bool TFrmSetTecla::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && m_ui->Panel_Start->isEnabled() && watched == m_ui->Panel_Start) {
        Panel_StartClick();
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress && m_ui->Panel_Stop->isEnabled() && watched == m_ui->Panel_Stop) {
        Panel_StopClick();
        return true;
    }
    if (!Capturing || !watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != this) return false;
    auto* w = static_cast<QWidget*>(watched);
    QWidget* focus = QApplication::focusWidget();
    if (focus ? w != focus : w != this) return false;  // the first delivery only
    if (event->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(event);
        FormKeyDown(VirtualKeyOf(*ke));
        FormKeyPress(ke->text());
        return true;  // while capturing, a key is a key, not a command (Esc, Enter)
    }
    if (event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        EndCapture();
        return true;
    }
    return false;
}

void TFrmSetTecla::BtnCriarClick() {
    SoundCore& core = m_ctx.core;
    if (!QFileInfo(m_ui->Edit_Arquivo->text()).isFile()) return;
    if (core.PendingKey.playKey == 0) {
        m_ctx.prompt.message(QStringLiteral("Erro"), QStringLiteral("Defina uma tecla"), Prompt::Icon::Error, Prompt::Ok);
        return;
    }
    if (core.PendingKey.playKey == core.PendingKey.stopKey) {
        m_ctx.prompt.message(QStringLiteral("Erro"), QStringLiteral("Teclas iguais!"), Prompt::Icon::Error, Prompt::Ok);
        return;
    }
    setWindowTitle(QStringLiteral("Criando canal..."));
    m_ui->BtnCriar->setEnabled(false);
    QCoreApplication::processEvents();
    const bool stored = core.AddKeySound(core.PendingKey, Editing, EditIndex);
    if (stored && Editing) {
        Editing = false;
        EditIndex = -1;
        m_ui->BtnCriar->setText(QStringLiteral("Criar"));
        QApplication::beep();
        setWindowTitle(QStringLiteral("Definindo tecla"));
        close();
        return;
    }
    if (stored) {
        QApplication::beep();
        ResetDialog();
    }
    setWindowTitle(QStringLiteral("Definindo tecla"));
    m_ui->BtnCriar->setEnabled(QFileInfo(m_ui->Edit_Arquivo->text()).isFile());
}

void TFrmSetTecla::BtnInfoClick() {
    SoundCore& core = m_ctx.core;
    const QString file = m_ui->Edit_Arquivo->text();
    if (!QFileInfo(file).isFile()) return;
    core.LoadPendingSound(file);
    QCoreApplication::processEvents();
    // Every wait may close the dialog or change the file: then the run stops
    // quietly instead of asking a released sound for its tags.
    const rb::Sound sound = core.PendingKey.sound;
    const auto current = [&] {
        return isVisible() && core.PendingKey.sound == sound && core.PendingKey.fileName == file &&
               m_ui->Edit_Arquivo->text() == file;
    };
    if (sound == rb::Sound{} || !current()) return;
    m_ui->MemoInfo1->clear();
    m_ui->MemoInfo2->clear();
    m_ui->BtnInfo->setEnabled(false);
    QStringList memo1, memo2;
    if (SoundInfo(core, file, sound, memo1, memo2, current)) {
        for (const QString& l : memo1) m_ui->MemoInfo1->appendPlainText(l);
        for (const QString& l : memo2) m_ui->MemoInfo2->appendPlainText(l);
    }
    m_ui->BtnInfo->setEnabled(QFileInfo(m_ui->Edit_Arquivo->text()).isFile());
}

void TFrmSetTecla::PrepareEdit(int index) {
    SoundCore& core = m_ctx.core;
    if (index < 0 || index >= kMaxKeys) return;
    const TAG_SOUND_DATA& r = core.KeySounds[static_cast<std::size_t>(index)];
    Editing = true;
    EditIndex = index;
    if (core.PendingKey.sound != rb::Sound{}) core.ReleasePendingSound();
    core.LoadPendingSound(r.fileName);
    TAG_SOUND_DATA& p = core.PendingKey;
    SoundCore::CopyKeySettings(r, p);
    m_ui->BtnCriar->setText(QStringLiteral("Salvar"));
    m_ui->Edit_Arquivo->setText(r.fileName);
    m_ui->Panel_StartCode->setText(QString::number(r.playKey));
    m_ui->Panel_StopCode->setText(QString::number(r.stopKey));
    m_ui->Panel_StartChar->setText(KeyName(r.playKey));
    m_ui->Panel_StopChar->setText(KeyName(r.stopKey));
    m_ui->Label_TemTocar->hide();
    m_ui->Label_TemParar->hide();
    // Rounded: 0,53 is 52.99... in a float and must not become 52.
    m_ui->Track_Volume->setValue(std::clamp(static_cast<int>(std::lround(r.volume * 100.0f)), 0, 100));
    m_ui->Label_Volume->setText(FormatFixed2(r.volume));
    m_ui->PageControl1->setCurrentIndex(0);
    m_ui->PageControl2->setCurrentIndex(0);
    {
        const QSignalBlocker block(m_ui->ListBox_Efeitos);
        for (int j = 0; j < m_ui->ListBox_Efeitos->count() && j < kEffects; ++j) {
            m_ui->ListBox_Efeitos->item(j)->setSelected(r.effects[static_cast<std::size_t>(j)] != 0);
            p.effects[static_cast<std::size_t>(j)] = r.effects[static_cast<std::size_t>(j)];
        }
    }
    m_ui->Check_Interromper->setChecked(r.noInterrupt);
    m_ui->Check_PararTodos->setChecked(r.stopAll);
    m_ui->Check_Repetindo->setChecked(r.loop);
    m_ui->MemoInfo1->clear();
    m_ui->MemoInfo2->clear();
}

}  // namespace rimbal
