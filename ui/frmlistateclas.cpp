// The key list window: the package's keys with their details, delete and edit.
#include "frmlistateclas.h"

#include "frmsettecla.h"
#include "base/textroutines.h"

#include "ui_FrmListaTeclas.h"

#include <QCoreApplication>

namespace rimbal {

TFrmListaTeclas::TFrmListaTeclas(AppContext& ctx, TFrmSetTecla& setTecla, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_setTecla(setTecla), m_ui(std::make_unique<Ui::FrmListaTeclas>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    m_ui->Memo_Arquivo->setStyleSheet(QStringLiteral("QPlainTextEdit { background: palette(button); }"));
    m_ui->ListBox_Efeitos->setStyleSheet(QStringLiteral("QListWidget { background: palette(button); }"));
    connect(m_ui->ListBox_Teclas, &QListWidget::itemSelectionChanged, this, &TFrmListaTeclas::ListBox_TeclasClick);
    connect(m_ui->ListBox_Teclas, &QListWidget::currentRowChanged, this, &TFrmListaTeclas::ListBox_TeclasClick);
    connect(m_ui->BtnDeletar, &QPushButton::clicked, this, &TFrmListaTeclas::BtnDeletarClick);
    connect(m_ui->BtnEditar, &QPushButton::clicked, this, &TFrmListaTeclas::BtnEditarClick);
    connect(m_ui->BtnSair, &QPushButton::clicked, this, &QDialog::close);
    setFixedSize(460, 400);
}

TFrmListaTeclas::~TFrmListaTeclas() = default;

QString TFrmListaTeclas::itemText(const QString& line) const {
    const QString f = GetField(line, 1, QStringLiteral("*"));
    int code = 0;
    if (!ToInteger(f, code)) return f;
    return f + QStringLiteral(" {") + KeyName(static_cast<std::uint16_t>(code)) + QStringLiteral("} ");
}

QString TFrmListaTeclas::totalText() const {
    return QStringLiteral("%1 / %2").arg(m_ui->ListBox_Teclas->count()).arg(kMaxKeys);
}

void TFrmListaTeclas::clearDetails() {
    m_ui->Memo_Arquivo->clear();
    for (QLabel* l : {m_ui->Panel_StartCode, m_ui->Panel_StartChar, m_ui->Panel_StopCode, m_ui->Panel_StopChar,
                      m_ui->Label_Volume, m_ui->Label_NoStop, m_ui->Label_StopAll, m_ui->Label_Looping})
        l->clear();
    m_ui->ListBox_Efeitos->clear();
}

void TFrmListaTeclas::done(int result) {
    m_open = false;
    QDialog::done(result);
}

void TFrmListaTeclas::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_open) return;
    m_open = true;
    {
        const QSignalBlocker block(m_ui->ListBox_Teclas);
        m_ui->ListBox_Teclas->clear();
        for (const QString& line : m_ctx.core.KeyLines) m_ui->ListBox_Teclas->addItem(itemText(line));
    }
    clearDetails();
    m_ui->Label_Total->setText(totalText());
    m_ui->BtnDeletar->setEnabled(false);
    m_ui->BtnEditar->setEnabled(false);
    LastIndex = -1;
}

void TFrmListaTeclas::ListBox_TeclasClick() {
    auto* list = m_ui->ListBox_Teclas;
    if (list->count() == 0) {
        clearDetails();
        m_ui->Label_Total->setText(totalText());
        m_ui->BtnDeletar->setEnabled(false);
        m_ui->BtnEditar->setEnabled(false);
        return;
    }
    const int i = list->currentRow();
    const int selected = static_cast<int>(list->selectedItems().size());
    // The buttons follow the selection even when the focused item stays.
    m_ui->BtnDeletar->setEnabled(i != -1 && selected > 0);
    m_ui->BtnEditar->setEnabled(i != -1 && selected == 1);
    if (i == LastIndex) return;
    LastIndex = i;
    if (i == -1) return;
    const TAG_SOUND_DATA empty;
    const TAG_SOUND_DATA& r = i < kMaxKeys ? m_ctx.core.KeySounds[static_cast<std::size_t>(i)] : empty;
    const QString sim = QStringLiteral("Sim"), nao = QStringLiteral("Não");
    m_ui->Panel_StartCode->setText(QString::number(r.playKey));
    m_ui->Panel_StartChar->setText(KeyName(r.playKey));
    m_ui->Panel_StopCode->setText(QString::number(r.stopKey));
    m_ui->Panel_StopChar->setText(r.stopKey ? KeyName(r.stopKey) : QString());
    m_ui->Label_Volume->setText(FormatFixed2(r.volume));
    m_ui->Label_NoStop->setText(r.noInterrupt ? sim : nao);
    m_ui->Label_StopAll->setText(r.stopAll ? sim : nao);
    m_ui->Label_Looping->setText(r.loop ? sim : nao);
    m_ui->ListBox_Efeitos->clear();
    const QStringList& names = m_ctx.core.EffectNames;
    for (int j = 0; j < kEffects; ++j)
        if (r.effects[static_cast<std::size_t>(j)] && j < names.size()) m_ui->ListBox_Efeitos->addItem(names[j]);
    m_ui->Memo_Arquivo->setPlainText(r.fileName);
    m_ui->Label_Total->setText(totalText());
}

void TFrmListaTeclas::BtnDeletarClick() {
    auto* list = m_ui->ListBox_Teclas;
    QList<int> doomed;  // from the last to the first, so the indices still to go stay valid
    for (int i = list->count() - 1; i >= 0; --i)
        if (list->item(i)->isSelected()) doomed.append(i);
    if (doomed.isEmpty()) return;
    const auto answer = m_ctx.prompt.message(QStringLiteral("Confirmação"),
                                             QStringLiteral("Deseja deletar %1 items?").arg(doomed.size()),
                                             Prompt::Icon::Question, Prompt::Yes | Prompt::No);
    if (answer != Prompt::Yes) return;
    // The windows stay alive during the delete: nothing may start another one or an edit.
    for (QWidget* w : {static_cast<QWidget*>(m_ui->BtnDeletar), static_cast<QWidget*>(m_ui->BtnEditar),
                       static_cast<QWidget*>(list)})
        w->setEnabled(false);
    SoundCore& core = m_ctx.core;
    // Keys.txt first: when it cannot be written, no key is gone.
    QStringList lines = core.KeyLines;
    for (const int i : doomed)
        if (i < lines.size()) lines.removeAt(i);
    if (core.WriteKeyLines(lines)) {
        // The later keys move down with their lines.
        for (const int i : doomed) {
            core.RemoveKey(i);
            QCoreApplication::processEvents();
        }
        const QSignalBlocker block(list);
        for (const int i : doomed) delete list->takeItem(i);
    }
    list->setEnabled(true);
    LastIndex = -2;
    ListBox_TeclasClick();
}

void TFrmListaTeclas::BtnEditarClick() {
    auto* list = m_ui->ListBox_Teclas;
    int first = -1;
    for (int i = 0; i < list->count() && first < 0; ++i)
        if (list->item(i)->isSelected()) first = i;
    if (first < 0) return;
    m_setTecla.PrepareEdit(first);
    m_setTecla.exec();
    LastIndex = -2;
    // The line may have been rewritten.
    if (first < list->count() && first < m_ctx.core.KeyLines.size())
        list->item(first)->setText(itemText(m_ctx.core.KeyLines[first]));
    ListBox_TeclasClick();
}

}  // namespace rimbal
