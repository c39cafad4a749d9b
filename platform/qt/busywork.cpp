#include "busywork.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>

namespace {

constexpr qint64 QuietMilliseconds = 200;

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

} // namespace

BusyWork::BusyWork()
{
    m_clock.start();
    QCoreApplication::instance()->installEventFilter(this);
}

BusyWork::~BusyWork()
{
    QCoreApplication::instance()->removeEventFilter(this);
    if (m_busyPointer)
        QGuiApplication::restoreOverrideCursor();
}

bool BusyWork::keepGoing()
{
    if (m_clock.elapsed() < QuietMilliseconds)
        return !m_stopped;
    if (!m_busyPointer) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_busyPointer = true;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !m_stopped;
}

bool BusyWork::eventFilter(QObject *watched, QEvent *event)
{
    if (!isUserInput(event->type()))
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
        m_stopped = true;
    if (event->type() == QEvent::Close)
        event->ignore();
    return true;
}
