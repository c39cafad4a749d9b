#pragma once

#include "finddialog.h"
#include "services.h"

class QWidget;

class QtClipboard : public Clipboard
{
public:
    void clear() override;
    void setText(std::shared_ptr<const TextSnapshot> text) override;
    std::shared_ptr<const TextSnapshot> text() const override;
};

// Holds at most one busy pointer over the whole program, however often it is asked for.
class QtScreenPointer : public ScreenPointer
{
public:
    ~QtScreenPointer() override;
    void setMousePointer(int pointer) override;
    int mousePointer() const override { return m_pointer; }

private:
    int m_pointer = Default;
};

class QtMessageBoxes : public MessageBoxes
{
public:
    int msgBox(const QString &prompt, int style, const QString &title) override;
};

// The number prompt: an input dialog over the active window.
class QtNumberInput : public NumberInput
{
public:
    bool askNumber(const QString &title, const QString &label, qint64 minimum, qint64 maximum,
                   qint64 &value) override;
};
