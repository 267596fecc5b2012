// The about box.
#include "frmsobre.h"

#include "ui_FrmSobre.h"

#include <QDesktopServices>
#include <QUrl>

namespace rimbal {

const QString TFrmSobre::kForumAddress = QStringLiteral("https://forum.rimbal.com.br/");

TFrmSobre::TFrmSobre(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::FrmSobre>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(407, 471);
    m_ui->Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/logo.png")));
    m_ui->Label3->setText(QStringLiteral("Versão 2.0.0 · dezembro de 2026"));
    m_ui->Label3->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 200); font-size: 8pt; background: transparent;"));
    m_ui->Label4->setText(kForumAddress);
    m_ui->Label8->setText(QStringLiteral("Aos bateristas e percussionistas que testaram cada versão, a quem "
                                         "compartilhou pacotes de sons e a todos do fórum."));
    m_ui->Label10->setText(QStringLiteral("Equipe Rimbal: programação, sons e arte."));
    m_ui->Label4->setText(QStringLiteral("<a href=\"%1\" style=\"color: navy;\">%1</a>").arg(kForumAddress));
    m_ui->Label4->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_ui->Label4->setOpenExternalLinks(false);
    connect(m_ui->Label4, &QLabel::linkActivated, this, [](const QString& link) {
        const QUrl url(link);
        // Only web addresses are handed to the desktop.
        if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) QDesktopServices::openUrl(url);
    });
}

TFrmSobre::~TFrmSobre() = default;

}  // namespace rimbal
