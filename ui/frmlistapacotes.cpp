// The package manager window: list, details, take into use, delete.
#include "frmlistapacotes.h"

#include "frmcenter.h"
#include "packagecommands.h"
#include "packages/packages.h"

#include "ui_FrmListaPacotes.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>

namespace rimbal {

TFrmListaPacotes::TFrmListaPacotes(AppContext& ctx, TFrmCenter* mainWindow, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_main(mainWindow), m_ui(std::make_unique<Ui::FrmListaPacotes>()) {
    m_ui->setupUi(this);
    // A fixed dialog border: a close button and nothing to resize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    m_ui->Memo_Comentarios->setStyleSheet(QStringLiteral("QPlainTextEdit { background: palette(button); }"));
    connect(m_ui->List_Pacotes, &QListWidget::currentRowChanged, this, &TFrmListaPacotes::List_PacotesClick);
    connect(m_ui->List_Pacotes, &QListWidget::itemSelectionChanged, this, &TFrmListaPacotes::List_PacotesClick);
    connect(m_ui->Btn_Selecionar, &QPushButton::clicked, this, &TFrmListaPacotes::Btn_SelecionarClick);
    connect(m_ui->Btn_Deletar, &QPushButton::clicked, this, &TFrmListaPacotes::Btn_DeletarClick);
    connect(m_ui->Btn_Cancelar, &QPushButton::clicked, this, &TFrmListaPacotes::reject);
}

TFrmListaPacotes::~TFrmListaPacotes() = default;

void TFrmListaPacotes::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        FormShow();
    }
}

void TFrmListaPacotes::reject() {
    if (!m_busy) QDialog::reject();
}

void TFrmListaPacotes::closeEvent(QCloseEvent* event) {
    if (m_busy) event->ignore();
    else QDialog::closeEvent(event);
}

// Long values end in "..." and show whole in their tool tip.
void TFrmListaPacotes::setValue(QLabel* label, const QString& text) {
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, label->width()));
    label->setToolTip(label->text() == text ? QString() : text);
}

void TFrmListaPacotes::clearDetails() {
    for (QLabel* l : {m_ui->Label_Nome, m_ui->Label_Autor, m_ui->Label_Contato, m_ui->Label_Versao, m_ui->Label_Teclas})
        setValue(l, QString());
    m_ui->Memo_Comentarios->clear();
}

void TFrmListaPacotes::fillList() {
    const QSignalBlocker block(m_ui->List_Pacotes);
    m_ui->List_Pacotes->clear();
    for (const QString& name : Packages(m_ctx.core, m_ctx.prompt, m_ctx.log).ListPackages()) {
        auto* item = new QListWidgetItem(name, m_ui->List_Pacotes);
        item->setToolTip(name);  // a long name is wider than the list
    }
    m_ui->List_Pacotes->setCurrentRow(-1);
    m_ui->Label_Total->setText(QString::number(m_ui->List_Pacotes->count()));
    clearDetails();
    m_ui->Btn_Selecionar->setEnabled(false);
    m_ui->Btn_Deletar->setEnabled(false);
    ShownIndex = -1;
}

void TFrmListaPacotes::FormShow() {
    fillList();
    const QString& in = m_ctx.settings.PackName;
    for (int i = 0; i < m_ui->List_Pacotes->count(); ++i)
        if (!in.isEmpty() && m_ui->List_Pacotes->item(i)->text().compare(in, Qt::CaseInsensitive) == 0) {
            const QSignalBlocker block(m_ui->List_Pacotes);
            m_ui->List_Pacotes->setCurrentRow(i);
            break;
        }
    ShownIndex = -1;
    List_PacotesClick();
}

void TFrmListaPacotes::List_PacotesClick() {
    auto* list = m_ui->List_Pacotes;
    const int i = list->currentRow();
    if (list->count() == 0 || i < 0 || !list->item(i)->isSelected() || i == ShownIndex) return;
    ShownIndex = i;
    clearDetails();
    m_ui->Btn_Selecionar->setEnabled(!m_busy);
    m_ui->Btn_Deletar->setEnabled(!m_busy);
    const QString name = list->item(i)->text();
    const Packages packages(m_ctx.core, m_ctx.prompt, m_ctx.log);
    const int keys = packages.CountKeyLines(name);
    if (keys >= 0) setValue(m_ui->Label_Teclas, QString::number(keys));
    const PackageInfo info = packages.ReadInfo(name);
    setValue(m_ui->Label_Nome, info.name);
    setValue(m_ui->Label_Autor, info.author);
    setValue(m_ui->Label_Contato, info.contact);
    setValue(m_ui->Label_Versao, info.version);
    m_ui->Memo_Comentarios->setPlainText(info.comment);
}

void TFrmListaPacotes::setBusy(bool busy) {
    m_busy = busy;
    m_ui->List_Pacotes->setEnabled(!busy);
    m_ui->Btn_Cancelar->setEnabled(!busy);
    const bool item = !busy && ShownIndex >= 0;
    m_ui->Btn_Selecionar->setEnabled(item);
    m_ui->Btn_Deletar->setEnabled(item);
}

void TFrmListaPacotes::setTimers(bool running) {
    if (!m_main) return;
    for (QTimer* t : {&m_main->TimerInfo, &m_main->TimerStatus}) {
        if (running) t->start();
        else t->stop();
    }
}

void TFrmListaPacotes::Btn_SelecionarClick() {
    auto* item = m_ui->List_Pacotes->currentItem();
    if (m_busy || !item) return;
    const QString name = item->text();
    if (name == m_ctx.settings.PackName) {
        m_ctx.prompt.message(QStringLiteral("Info"), QStringLiteral("O pacote \"") + name + QStringLiteral("\" já está em uso!"),
                             Prompt::Icon::Information, Prompt::Ok);
        return;
    }
    if (m_ctx.prompt.message(QStringLiteral("Confirmação"), QStringLiteral("Deseja carregar o pacote: ") + name + u'?',
                             Prompt::Icon::Question, Prompt::Yes | Prompt::No) != Prompt::Yes)
        return;
    if (!QFileInfo(m_ctx.settings.PackPath + name + QStringLiteral("/Keys.txt")).isFile()) return;

    setBusy(true);
    setTimers(false);
    {
        WindowProgress progress(this);
        Packages(m_ctx.core, m_ctx.prompt, m_ctx.log, progress.callback()).UsePackage(name);
    }
    setTimers(true);
    if (m_main) m_main->PaintCanaisPaint();
    setWindowTitle(QStringLiteral("Gerenciador de Pacotes"));
    QCoreApplication::processEvents();
    setBusy(false);
    m_ctx.prompt.message(QStringLiteral("Info"), QStringLiteral("Pacote carregado com sucesso!"),
                         Prompt::Icon::Information, Prompt::Ok);
}

void TFrmListaPacotes::Btn_DeletarClick() {
    auto* item = m_ui->List_Pacotes->currentItem();
    if (m_busy || !item) return;
    const QString name = item->text();
    if (m_ctx.prompt.message(QStringLiteral("Aviso"),
                             QStringLiteral("Deseja mesmo deletar o pacote: ") + name +
                                 QStringLiteral("?\rTodos os arquivos de som da pasta deste pacote também serão deletados."),
                             Prompt::Icon::Warning, Prompt::Yes | Prompt::No) != Prompt::Yes)
        return;
    setBusy(true);
    setWindowTitle(QStringLiteral("Deletando pacote..."));
    QCoreApplication::processEvents();
    const bool inUse = name.compare(m_ctx.settings.PackName, Qt::CaseInsensitive) == 0;
    if (inUse) setTimers(false);
    QStringList remaining;
    const bool gone = Packages(m_ctx.core, m_ctx.prompt, m_ctx.log).DeletePackage(name, &remaining);
    // The program goes on without a package: the engine runs again, and so
    // do the timers.
    if (inUse) {
        setTimers(true);
        if (m_main) m_main->PaintCanaisPaint();
    }
    setWindowTitle(QStringLiteral("Selecionar Pacote de Sons"));
    fillList();
    setBusy(false);
    List_PacotesClick();
    if (gone) {
        m_ctx.prompt.message(QStringLiteral("Info"), QStringLiteral("Os arquivos do pacote foram deletados!"),
                             Prompt::Icon::Information, Prompt::Ok);
        return;
    }
    QStringList shown = remaining.mid(0, 10);
    if (remaining.size() > shown.size()) shown << QStringLiteral("...");
    m_ctx.prompt.message(QStringLiteral("Aviso"),
                         QStringLiteral("Nem todos os arquivos do pacote puderam ser deletados. Continuam na pasta ") +
                             m_ctx.settings.PackPath + name + QStringLiteral(":\r") + shown.join(QStringLiteral("\r")),
                         Prompt::Icon::Warning, Prompt::Ok);
}

}  // namespace rimbal
