#include "caretstatus.h"

#include "textview.h"

#include <QTimerEvent>

using namespace Qt::StringLiterals;

namespace {

// Units of a selection counted on a move, then in each slice between events: a few
// milliseconds of work at most.
constexpr qsizetype FirstCount = 64 * 1024;
constexpr qsizetype SliceCount = 1024 * 1024;

} // namespace

CaretStatus::CaretStatus(const TextView &view, QWidget *parent) : QLabel(parent), m_view(view)
{
    setObjectName(u"StatusBar_Caret"_s);
    connect(&view, &TextView::caretMoved, this, [this] {
        if (isVisible())
            follow();
    });
}

void CaretStatus::follow()
{
    const TextView::CaretPlace place = m_view.caretPlace();
    m_place = u"Ln %1, Col %2"_s.arg(place.line).arg(place.column);
    m_counting.stop();
    m_selectionEnd = m_view.selectionEnd();
    m_reached = m_view.selectionStart();
    m_selected = 0;
    if (m_reached == m_selectionEnd) {
        setText(m_place);
        return;
    }
    const ClusterCounter::Progress first
        = m_view.countClusters(m_reached, m_selectionEnd, FirstCount);
    m_reached = first.reached;
    m_selected = first.clusters;
    if (m_reached < m_selectionEnd) {
        setText(m_place);
        m_counting.start(0, this);
        return;
    }
    setText(m_place + u", %1 selected"_s.arg(m_selected));
}

void CaretStatus::countSome()
{
    const ClusterCounter::Progress more
        = m_view.countClusters(m_reached, m_selectionEnd, SliceCount);
    m_selected += more.clusters;
    if (more.reached > m_reached && more.reached < m_selectionEnd) {
        m_reached = more.reached;
        return;
    }
    m_counting.stop();
    setText(m_place + u", %1 selected"_s.arg(m_selected));
}

void CaretStatus::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_counting.timerId())
        countSome();
    else
        QLabel::timerEvent(event);
}

void CaretStatus::showEvent(QShowEvent *event)
{
    QLabel::showEvent(event);
    follow();
}

void CaretStatus::hideEvent(QHideEvent *event)
{
    m_counting.stop();
    QLabel::hideEvent(event);
}
