// The export dialog: the package's description, then the archive to write.
#pragma once

#include "appcontext.h"

#include <QDialog>

#include <memory>

namespace Ui { class FrmExportaRBP; }

namespace rimbal {

class TFrmExportaRBP : public QDialog {
    Q_OBJECT
public:
    explicit TFrmExportaRBP(AppContext& ctx, QWidget* parent = nullptr);
    ~TFrmExportaRBP() override;

    void BtnSalvarClick();
    void reject() override;  // not while an export runs

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setBusy(bool busy);

    AppContext& m_ctx;
    std::unique_ptr<Ui::FrmExportaRBP> m_ui;
    bool m_busy = false;
};

}  // namespace rimbal
