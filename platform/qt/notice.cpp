#include "notice.h"

#include <QAccessibleWidget>
#include <QTimerEvent>
#include <QToolTip>

namespace {

// The message as a notification, and as read-only text for tools that read the text itself.
class NoticeAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit NoticeAccessible(Notice *notice) : QAccessibleWidget(notice, QAccessible::Notification)
    {
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // The name is the message: what a screen reader speaks for a notification.
    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name)
            return message();
        return QAccessibleWidget::text(type);
    }

    QString text(int startOffset, int endOffset) const override
    {
        return message().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(message().size()); }
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return QString();
    }
    void selection(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override { }
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override { }

private:
    QString message() const { return static_cast<const QLabel *>(widget())->text(); }
};

QAccessibleInterface *accessibleNotice(const QString &className, QObject *object)
{
    if (className == u"Notice" && object && object->isWidgetType())
        return new NoticeAccessible(static_cast<Notice *>(object));
    return nullptr;
}

} // namespace

Notice::Notice(QWidget *parent, Qt::WindowFlags flags) : QLabel(parent, flags)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleNotice);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setTextFormat(Qt::PlainText);
    // Empty, it is hidden, so that tools hear of nothing; its place stays in the layout.
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    hide();
    if (windowType() == Qt::ToolTip) {
        setPalette(QToolTip::palette());
        setFont(QToolTip::font());
        setForegroundRole(QPalette::ToolTipText);
        setBackgroundRole(QPalette::ToolTipBase);
        setAutoFillBackground(true);
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setMargin(2);
    }
}

void Notice::setMessage(const QString &message)
{
    present(message, [] {});
}

void Notice::popUp(const QString &message, const QPoint &globalTopLeft, int milliseconds)
{
    present(message, [&] {
        adjustSize();
        move(globalTopLeft);
        raise();
    });
    m_hideTimer.start(milliseconds, this);
}

// Qt tells assistive tools when the notice appears or goes; a new message in a notice already
// shown is told here, as the notice appearing anew.
void Notice::present(const QString &message, const std::function<void()> &place)
{
    const bool wasShown = isVisible();
    const QString before = wasShown ? text() : QString();
    setText(message);
    if (!message.isEmpty())
        place();
    setHidden(message.isEmpty());
    if (!isVisible())
        return;
    if (!before.isEmpty()) {
        QAccessibleTextRemoveEvent removed(this, 0, before);
        QAccessible::updateAccessibility(&removed);
    }
    QAccessibleTextInsertEvent inserted(this, 0, message);
    QAccessible::updateAccessibility(&inserted);
    if (wasShown) {
        QAccessibleEvent hidden(this, QAccessible::ObjectHide);
        QAccessible::updateAccessibility(&hidden);
    }
    // Qt keeps quiet about tool-tip windows that appear.
    if (wasShown || windowType() == Qt::ToolTip) {
        QAccessibleEvent shown(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
}

void Notice::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_hideTimer.timerId())
        return QLabel::timerEvent(event);
    m_hideTimer.stop();
    hide();
}
