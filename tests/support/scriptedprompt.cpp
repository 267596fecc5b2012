// The tests' prompt and log window: answers queued in advance, every question
// recorded.
#include "scriptedprompt.h"

rimbal::Prompt::Button ScriptedPrompt::message(const QString& caption, const QString& text, Icon icon, int buttons) {
    asked.append({QStringLiteral("message"), caption, text, icon, buttons});
    if (!buttonAnswers.isEmpty()) return buttonAnswers.takeFirst();
    for (Button b : {Ok, Yes, No, Cancel})
        if (buttons & b) return b;
    return Ok;
}

QString ScriptedPrompt::nextText() { return textAnswers.isEmpty() ? QString() : textAnswers.takeFirst(); }

bool ScriptedPrompt::input(const QString& caption, const QString& label, QString& value) {
    asked.append({QStringLiteral("input"), caption, label, Icon::None, 0});
    inputOffers.append(value);
    if (textAnswers.isEmpty()) return false;
    value = nextText();
    return true;
}

QString ScriptedPrompt::openFile(const QString& caption, const QString&, const QString& filter) {
    asked.append({QStringLiteral("open"), caption, filter, Icon::None, 0});
    return nextText();
}

QString ScriptedPrompt::saveFile(const QString& caption, const QString&, const QString& filter) {
    asked.append({QStringLiteral("save"), caption, filter, Icon::None, 0});
    return nextText();
}

QString ScriptedPrompt::chooseFolder(const QString& caption, const QString&) {
    asked.append({QStringLiteral("folder"), caption, QString(), Icon::None, 0});
    return nextText();
}

QStringList ScriptedPrompt::texts() const {
    QStringList out;
    for (const auto& a : asked) out.append(a.text);
    return out;
}
