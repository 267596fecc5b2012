// The export dialog: the package's description, then the archive to write.
#include "frmexportarbp.h"

#include "packagecommands.h"
#include "packages/packages.h"

#include "ui_FrmExportaRBP.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>

namespace rimbal {

TFrmExportaRBP::TFrmExportaRBP(AppContext& ctx, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::FrmExportaRBP>()) {
    m_ui->setupUi(this);
    // A fixed dialog border: a close button and nothing to resize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    // The bar keeps its place while hidden, so the buttons never move.
    QSizePolicy keep = m_ui->ProgressBar1->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_ui->ProgressBar1->setSizePolicy(keep);
    m_ui->ProgressBar1->hide();
    connect(m_ui->BtnSalvar, &QPushButton::clicked, this, &TFrmExportaRBP::BtnSalvarClick);
    connect(m_ui->BtnSair, &QPushButton::clicked, this, &TFrmExportaRBP::reject);
}

TFrmExportaRBP::~TFrmExportaRBP() = default;

void TFrmExportaRBP::setBusy(bool busy) {
    m_busy = busy;
    for (QWidget* w : std::initializer_list<QWidget*>{m_ui->BtnSalvar, m_ui->BtnSair, m_ui->Edit_Nome, m_ui->Edit_Autor,
                                                      m_ui->Edit_Contato, m_ui->Edit_Versao, m_ui->Memo_Comentario})
        w->setEnabled(!busy);
    m_ui->ProgressBar1->setVisible(busy);
}

void TFrmExportaRBP::reject() {
    if (!m_busy) QDialog::reject();
}

void TFrmExportaRBP::closeEvent(QCloseEvent* event) {
    if (m_busy) event->ignore();
    else QDialog::closeEvent(event);
}

void TFrmExportaRBP::BtnSalvarClick() {
    if (m_busy) return;
    const PackageInfo info{m_ui->Edit_Nome->text(), m_ui->Edit_Autor->text(), m_ui->Edit_Contato->text(),
                           m_ui->Edit_Versao->text(), m_ui->Memo_Comentario->toPlainText()};
    // An archive without a usable name could never be imported.
    if (!Packages::IsValidPackageName(info.name)) {
        m_ctx.prompt.message(QStringLiteral("Aviso"), QStringLiteral("Nome inválido de pacote."), Prompt::Icon::Warning,
                             Prompt::Ok);
        m_ui->Edit_Nome->setFocus();
        return;
    }
    QString file = m_ctx.prompt.saveFile(QStringLiteral("Exportar Pacote"),
                                         QDir::homePath() + u'/' + info.name + QStringLiteral(".rbp"),
                                         QStringLiteral("Pacote do Rimbal (*.rbp);;Todos (*.*)"));
    if (file.isEmpty()) {
        accept();
        return;
    }
    if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".rbp");
    if (QFileInfo::exists(file) &&
        m_ctx.prompt.message(QStringLiteral("Confirmação"), QStringLiteral("Deseja sobrescrever?"),
                             Prompt::Icon::Question, Prompt::Yes | Prompt::No) != Prompt::Yes) {
        accept();
        return;
    }

    setBusy(true);
    QString error;
    bool ok = false;
    {
        WindowProgress progress(this, m_ui->ProgressBar1);
        ok = Packages(m_ctx.core, m_ctx.prompt, m_ctx.log, progress.callback()).ExportPackage(file, info, &error);
    }
    setBusy(false);
    if (ok) {
        accept();
        return;
    }
    // The dialog stays, with what the user typed, for another try.
    m_ctx.prompt.message(QStringLiteral("Erro"), QStringLiteral("Erro ao exportar pacote: ") + error,
                         Prompt::Icon::Error, Prompt::Ok);
}

}  // namespace rimbal
