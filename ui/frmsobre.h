// The about box.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui { class FrmSobre; }

namespace rimbal {

class TFrmSobre : public QDialog {
    Q_OBJECT
public:
    explicit TFrmSobre(QWidget* parent = nullptr);
    ~TFrmSobre() override;
    static const QString kForumAddress;

private:
    std::unique_ptr<Ui::FrmSobre> m_ui;
};

}  // namespace rimbal
