// The package manager: the packages under the packages folder with their
// descriptions; takes one into use or deletes it.
#pragma once

#include "appcontext.h"

#include <QDialog>

#include <memory>

class QLabel;
namespace Ui { class FrmListaPacotes; }

namespace rimbal {

class TFrmCenter;

class TFrmListaPacotes : public QDialog {
    Q_OBJECT
public:
    // mainWindow may be null (the preferences dialog during start-up).
    TFrmListaPacotes(AppContext& ctx, TFrmCenter* mainWindow, QWidget* parent = nullptr);
    ~TFrmListaPacotes() override;

    int ShownIndex = -1;
    void List_PacotesClick();
    void Btn_SelecionarClick();
    void Btn_DeletarClick();
    void reject() override;  // not while a package is loaded or deleted

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormShow();
    void fillList();
    void clearDetails();
    void setBusy(bool busy);
    void setTimers(bool running);
    static void setValue(QLabel* label, const QString& text);

    AppContext& m_ctx;
    TFrmCenter* m_main;
    std::unique_ptr<Ui::FrmListaPacotes> m_ui;
    bool m_shownOnce = false;
    bool m_busy = false;
};

}  // namespace rimbal
