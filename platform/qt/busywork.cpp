#include "busywork.h"

#include "qtform.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>

#include <algorithm>

namespace {

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

// The program's window the work is done for: the active one's main window, or the one shown.
QtForm *mainWindow()
{
    for (QWidget *widget = QApplication::activeWindow(); widget; widget = widget->parentWidget()) {
        if (auto *form = qobject_cast<QtForm *>(widget))
            return form;
    }
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *form = qobject_cast<QtForm *>(widget);
        if (form && form->isVisible())
            return form;
    }
    return nullptr;
}

} // namespace

BusyWork::BusyWork() : BusyWork(Pace()) { }

BusyWork::BusyWork(Pace pace) : m_pace(pace)
{
    m_clock.start();
    QCoreApplication::instance()->installEventFilter(this);
}

BusyWork::~BusyWork()
{
    QCoreApplication::instance()->removeEventFilter(this);
    if (m_window)
        m_window->hideProgress();
    if (m_busyPointer)
        QGuiApplication::restoreOverrideCursor();
}

bool BusyWork::keepGoing() { return keepGoing(0, 0); }

bool BusyWork::keepGoing(qint64 done, qint64 total)
{
    const qint64 now = m_clock.elapsed();
    if (m_stopped || now < m_pace.quiet.count())
        return !m_stopped;
    if (m_lastEvents >= 0 && now - m_lastEvents < m_pace.events.count())
        return true;
    m_lastEvents = now;
    if (!m_busyPointer) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_busyPointer = true;
    }
    if (total > 0 && now >= m_pace.progress.count())
        showShare(done, total);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !m_stopped;
}

void BusyWork::showShare(qint64 done, qint64 total)
{
    if (!m_window)
        m_window = mainWindow();
    if (m_window)
        m_window->showProgress(int(std::clamp<qint64>(done * 100 / total, 0, 100)));
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
