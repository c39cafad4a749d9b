#pragma once

#include <QBasicTimer>
#include <QLabel>

#include <functional>

// A short message that screen readers announce when it is given: assistive tools see a
// notification whose name and text are the message, and hear of it as a notification that
// appears, which is what they read out of a window without moving the focus.
class Notice : public QLabel
{
    Q_OBJECT

public:
    // With Qt::ToolTip, a note of its own window that looks like a tool tip.
    explicit Notice(QWidget *parent = nullptr, Qt::WindowFlags flags = {});

    // Shows the message and announces it, again when it is the same as before; the empty
    // message hides the notice without a word.
    void setMessage(const QString &message);

    // Shows a note's window there with the message, for a while.
    void popUp(const QString &message, const QPoint &globalTopLeft, int milliseconds);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void present(const QString &message, const std::function<void()> &place);

    QBasicTimer m_hideTimer;
};
