#pragma once

#include "commondialog.h"
#include "finddialog.h"
#include "services.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// A message box that records every call and answers from a script.
class ScriptedMessageBoxes : public MessageBoxes
{
public:
    struct Call
    {
        QString prompt;
        int style;
        QString title;
    };

    int msgBox(const QString &prompt, int style, const QString &title) override
    {
        calls.append({ prompt, style, title });
        return replies.isEmpty() ? MessageBoxes::Ok : replies.takeFirst();
    }

    QList<Call> calls;
    QList<int> replies; // answers in order; OK when the script runs out
};

// A common dialog whose show operations answer from a script instead of asking anyone.
class ScriptedDialog : public CommonDialog
{
public:
    struct Show
    {
        QString kind; // "open", "save" or "font"
        QString title;
        QString filter;
        qint32 flags;
    };

    void showOpen() override { fileDialog(QStringLiteral("open")); }
    void showSave() override { fileDialog(QStringLiteral("save")); }
    void showFont() override
    {
        shows.append({ QStringLiteral("font"), dialogTitle(), filter(), flags() });
        if (onFont)
            onFont(*this);
    }

    QList<Show> shows;
    QStringList fileAnswers; // one per file dialog; an empty answer is a cancel
    std::function<void(CommonDialog &)> onFont; // plays the user in the font dialog

private:
    void fileDialog(const QString &kind)
    {
        shows.append({ kind, dialogTitle(), filter(), flags() });
        setFileName(fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst());
    }
};

// A number prompt that records what it was asked and answers from a script.
class ScriptedNumberInput : public NumberInput
{
public:
    bool askNumber(const QString &title, const QString &label, qint64 minimum, qint64 maximum,
                   qint64 &value) override
    {
        asked.append({ title, label, minimum, maximum, value });
        if (answers.isEmpty())
            return false;
        value = answers.takeFirst();
        return true;
    }

    struct Ask
    {
        QString title, label;
        qint64 minimum, maximum, value;
    };
    QList<Ask> asked;
    QList<qint64> answers; // a cancel when the script runs out
};
