#pragma once

#include "text.h"

#include <QString>

#include <memory>

// The system clipboard, text format only. It keeps the snapshot it is given and makes the
// characters only when someone (this program, another one, a clipboard manager) asks for them.
class Clipboard
{
public:
    virtual ~Clipboard() = default;
    virtual void clear() = 0;
    virtual void setText(std::shared_ptr<const TextSnapshot> text) = 0;
    // The empty text when the clipboard holds no text.
    virtual std::shared_ptr<const TextSnapshot> text() const = 0;
};

// The pointer shown over every window of the program.
class ScreenPointer
{
public:
    enum : int { Default = 0, Hourglass = 11 };
    virtual ~ScreenPointer() = default;
    virtual void setMousePointer(int pointer) = 0;
    virtual int mousePointer() const = 0;
};

// Modal message boxes. The style is the sum of one button set, one icon and one default button.
class MessageBoxes
{
public:
    enum Style : int {
        OkOnly = 0,
        OkCancel = 1,
        AbortRetryIgnore = 2,
        YesNoCancel = 3,
        YesNo = 4,
        RetryCancel = 5,
        Critical = 16,
        Question = 32,
        Exclamation = 48,
        Information = 64,
        DefaultButton2 = 256,
        DefaultButton3 = 512,
    };
    enum Reply : int { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

    virtual ~MessageBoxes() = default;
    virtual int msgBox(const QString &prompt, int style, const QString &title) = 0;
};
