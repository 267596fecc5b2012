// The user's Prompt and LogView: Qt message boxes, input box, file dialogs and
// the log window.
#include "qtprompt.h"

#include "frmlog.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTranslator>

#include <algorithm>

namespace rimbal {
namespace {

// The window a box opens over: the active one or, when no window is active
// (some window managers never activate the frameless start-up splash), the
// modal window on top, so the box is not left in a corner of the screen.
QWidget* boxParent() {
    if (QWidget* active = QApplication::activeWindow()) return active;
    return QApplication::activeModalWidget();
}

}  // namespace

Prompt::Button QtPrompt::message(const QString& caption, const QString& text, Icon icon, int buttons) {
    QMessageBox box(boxParent());
    box.setWindowTitle(caption);
    // A lone carriage return breaks the line, as in the Windows message box.
    box.setText(QString(text).replace(QRegularExpression(QStringLiteral("\r(?!\n)")), QStringLiteral("\n")));
    switch (icon) {
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case Icon::Error: box.setIcon(QMessageBox::Critical); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    case Icon::None: break;
    }
    struct B { Button ours; QMessageBox::StandardButton qt; const char* text; };
    static const B kButtons[] = {{Ok, QMessageBox::Ok, "OK"}, {Yes, QMessageBox::Yes, "Sim"},
                                 {No, QMessageBox::No, "Não"}, {Cancel, QMessageBox::Cancel, "Cancelar"}};
    for (const B& b : kButtons)
        if (buttons & b.ours) box.addButton(b.qt)->setText(QString::fromUtf8(b.text));
    if (buttons == 0) box.addButton(QMessageBox::Ok);
    const int pressed = box.exec();
    for (const B& b : kButtons)
        if (pressed == b.qt) return b.ours;
    return (buttons & Cancel) ? Cancel : (buttons & No) ? No : Ok;
}

bool QtPrompt::input(const QString& caption, const QString& label, QString& value) {
    QInputDialog box(boxParent());
    box.setWindowTitle(caption);
    box.setLabelText(label);
    box.setTextValue(value);
    box.setOkButtonText(QStringLiteral("OK"));
    box.setCancelButtonText(QStringLiteral("Cancelar"));
    // Wide enough for its caption beside the title bar's buttons.
    box.adjustSize();
    box.resize(std::max({box.width(), 300, box.fontMetrics().horizontalAdvance(caption) + 160}), box.height());
    if (box.exec() != QDialog::Accepted) return false;
    value = box.textValue();
    return true;
}

QString QtPrompt::openFile(const QString& caption, const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileName(boxParent(), caption, folder, filter);
}

QString QtPrompt::saveFile(const QString& caption, const QString& folder, const QString& filter) {
    return QFileDialog::getSaveFileName(boxParent(), caption, folder, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString QtPrompt::chooseFolder(const QString& caption, const QString& folder) {
    return QFileDialog::getExistingDirectory(boxParent(), caption, folder);
}

void QtLogView::showLog(const QString& caption, const QStringList& lines) {
    TFrmLog log(boxParent());
    log.setWindowTitle(caption);
    log.appendLines(lines);
    log.exec();
}

bool InstallQtTranslations(QTranslator& translator) {
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    if (!translator.load(brazil, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

}  // namespace rimbal
