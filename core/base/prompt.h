// Everything that asks or tells the user goes through these interfaces, so
// the core knows no widgets and tests can answer in advance.
#pragma once

#include <QString>
#include <QStringList>

namespace rimbal {

class Prompt {
public:
    enum class Icon { None, Information, Warning, Error, Question };
    enum Button { Ok = 1, Yes = 2, No = 4, Cancel = 8 };

    virtual ~Prompt() = default;
    // A modal message box; returns the button pressed.
    virtual Button message(const QString& caption, const QString& text, Icon icon, int buttons) = 0;
    // A modal input box; false when cancelled.
    virtual bool input(const QString& caption, const QString& label, QString& value) = 0;
    // File and folder choosers; empty when cancelled.
    virtual QString openFile(const QString& caption, const QString& folder, const QString& filter) = 0;
    virtual QString saveFile(const QString& caption, const QString& folder, const QString& filter) = 0;
    virtual QString chooseFolder(const QString& caption, const QString& folder) = 0;
};

// The log window: shows a list of texts under a caption and returns when the
// user has closed it.
class LogView {
public:
    virtual ~LogView() = default;
    virtual void showLog(const QString& caption, const QStringList& lines) = 0;
};

// A log window shows at most this many messages and then one line saying how
// many more there were: a list made from someone else's file must neither
// freeze the window nor bury the first messages.
inline constexpr qsizetype kLogShownLines = 300;

// The lines a log window shows of a list.
inline QStringList ShownLogLines(const QStringList& lines) {
    if (lines.size() <= kLogShownLines + 1) return lines;
    QStringList shown = lines.first(kLogShownLines);
    shown << QStringLiteral("... e mais %1 mensagens.").arg(lines.size() - kLogShownLines);
    return shown;
}

}  // namespace rimbal
