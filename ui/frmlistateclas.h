// The key list: the package's keys with their details, delete and edit.
#pragma once

#include "appcontext.h"

#include <QDialog>

#include <memory>

namespace Ui { class FrmListaTeclas; }

namespace rimbal {

class TFrmSetTecla;

class TFrmListaTeclas : public QDialog {
    Q_OBJECT
public:
    TFrmListaTeclas(AppContext& ctx, TFrmSetTecla& setTecla, QWidget* parent = nullptr);
    ~TFrmListaTeclas() override;

    int LastIndex = -1;
    void ListBox_TeclasClick();
    void BtnDeletarClick();
    void BtnEditarClick();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    QString itemText(const QString& line) const;
    QString totalText() const;
    void clearDetails();

    AppContext& m_ctx;
    TFrmSetTecla& m_setTecla;
    std::unique_ptr<Ui::FrmListaTeclas> m_ui;
    bool m_open = false;  // a restore from the minimised state is no new opening
};

}  // namespace rimbal
