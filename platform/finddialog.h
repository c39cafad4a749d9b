#pragma once

#include <QString>

// What to look for, as the find dialog or a repeated search asks for it.
struct SearchRequest
{
    QString pattern;
    bool matchCase = false;
    bool wholeWords = false;
    bool regularExpression = false;
};

// The modeless Find / Replace dialog. It keeps its fields while hidden; its buttons raise the
// events of the window description's find dialog.
class FindDialog
{
public:
    enum class Mode { Find, Replace };

    virtual ~FindDialog() = default;
    // Shows (or raises) the dialog in a mode with "Find what" focused; a non-empty seed
    // replaces the text to find.
    virtual void show(Mode mode, const QString &seed) = 0;
    virtual bool isVisible() const = 0;
    virtual SearchRequest request() const = 0;
    virtual QString replaceWith() const = 0;
    virtual bool wrapAround() const = 0;
    virtual bool up() const = 0;
    // A line of text in the dialog itself; the empty text clears it.
    virtual void setMessage(const QString &message) = 0;
};

// Asks for a whole number in a modal dialog.
class NumberInput
{
public:
    virtual ~NumberInput() = default;
    // False when the user cancels.
    virtual bool askNumber(const QString &title, const QString &label, qint64 minimum,
                           qint64 maximum, qint64 &value)
        = 0;
};
