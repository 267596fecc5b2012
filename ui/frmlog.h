// The log window: a read-only list of problems under a caption that names the work.
#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui { class FrmLog; }

namespace rimbal {

class TFrmLog : public QDialog {
    Q_OBJECT
public:
    explicit TFrmLog(QWidget* parent = nullptr);
    ~TFrmLog() override;
    // The first lines and then how many more there were (ShownLogLines).
    void appendLines(const QStringList& lines);
    QString text() const;

private:
    std::unique_ptr<Ui::FrmLog> m_ui;
};

}  // namespace rimbal
