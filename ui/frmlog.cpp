// The log window: a read-only list of problems under a caption that names the
// work.
#include "frmlog.h"

#include "ui_FrmLog.h"

#include "base/prompt.h"

namespace rimbal {

TFrmLog::TFrmLog(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::FrmLog>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    m_ui->MemoLog->setStyleSheet(QStringLiteral("QPlainTextEdit { background: palette(button); }"));
    setFixedSize(460, 180);
}

TFrmLog::~TFrmLog() = default;

void TFrmLog::appendLines(const QStringList& lines) {
    // Each line costs the memo tens of microseconds: a list of millions
    // would hold the window for minutes.
    for (const QString& l : ShownLogLines(lines)) m_ui->MemoLog->appendPlainText(l);
}

QString TFrmLog::text() const { return m_ui->MemoLog->toPlainText(); }

}  // namespace rimbal
