// The user-facing Prompt and LogView: Qt message boxes, input box, file
// dialogs, folder picker and the log window.
#pragma once

#include "base/prompt.h"

class QTranslator;
class QWidget;

namespace rimbal {

class QtPrompt : public Prompt {
public:
    Button message(const QString& caption, const QString& text, Icon icon, int buttons) override;
    bool input(const QString& caption, const QString& label, QString& value) override;
    QString openFile(const QString& caption, const QString& folder, const QString& filter) override;
    QString saveFile(const QString& caption, const QString& folder, const QString& filter) override;
    QString chooseFolder(const QString& caption, const QString& folder) override;
};

class QtLogView : public LogView {
public:
    void showLog(const QString& caption, const QStringList& lines) override;
};

// Qt's own texts (the file dialogs' labels and buttons, the edit boxes'
// context menus) in Brazilian Portuguese, whatever the system's language, as
// every other text of the program. Installs the translator into the
// application; false, with Qt's English kept, when Qt's translations are not
// installed.
bool InstallQtTranslations(QTranslator& translator);

}  // namespace rimbal
