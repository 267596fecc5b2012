// A Prompt that answers from a queue prepared by the test and records every
// question, and a LogView that records what it was asked to show.
#pragma once

#include "base/prompt.h"

#include <QList>
#include <QString>
#include <QStringList>

struct PromptRecord {
    QString kind;  // "message", "input", "open", "save", "folder"
    QString caption;
    QString text;
    rimbal::Prompt::Icon icon = rimbal::Prompt::Icon::None;
    int buttons = 0;
};

class ScriptedPrompt : public rimbal::Prompt {
public:
    // Answers are taken in order; with none left, a message gets its first
    // button and the other prompts are cancelled.
    QList<Button> buttonAnswers;
    QStringList textAnswers;
    QList<PromptRecord> asked;
    QStringList inputOffers;  // what each input box offered, in order

    Button message(const QString& caption, const QString& text, Icon icon, int buttons) override;
    bool input(const QString& caption, const QString& label, QString& value) override;
    QString openFile(const QString& caption, const QString& folder, const QString& filter) override;
    QString saveFile(const QString& caption, const QString& folder, const QString& filter) override;
    QString chooseFolder(const QString& caption, const QString& folder) override;

    QStringList texts() const;

private:
    QString nextText();
};

class RecordingLog : public rimbal::LogView {
public:
    struct Shown {
        QString caption;
        QStringList lines;
    };
    QList<Shown> shown;
    void showLog(const QString& caption, const QStringList& lines) override { shown.append({caption, lines}); }
};
