// What a change repaints: a move of the caret or the selection repaints the rows between what the
// screen shows and what is now, and an edit the rows it laid out again, so that a key costs the
// rows it changed and not the whole screen. A short scroll moves the screen's pixels; a longer one
// repaints everything, from the picture of the screen below drawn ahead when that is the screen
// to show.
#include "textview.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

// The rows from position from's to position to's, held to the viewport, with the row above and
// the one below (a caret at the edge of two rows may be drawn on either), and the next one, where
// the glyphs and the caret of a row may reach.
QRect TextView::rowsBand(qsizetype from, qsizetype to) const
{
    const QRect all = viewport()->rect();
    const qsizetype firstLine = m_wrap ? m_rows.placeOfRow(topLine()).line : topLine();
    const qsizetype lastLine
        = m_wrap ? m_rows.placeOfRow(topLine() + visibleLines()).line : topLine() + visibleLines();
    const qsizetype fromLine = m_buffer.lineAt(from);
    const qsizetype toLine = m_buffer.lineAt(to);
    if (toLine < firstLine || fromLine > lastLine)
        return {};
    const int top = fromLine < firstLine ? 0 : yOfPosition(from) - m_lineHeight;
    const int bottom = toLine > lastLine ? all.height() : yOfPosition(to) + 3 * m_lineHeight;
    return QRect(0, top, all.width(), bottom - top).intersected(all);
}

void TextView::repaintAll()
{
    viewport()->update();
    markShown();
}

// The rows are found where they are now: a scroll moved the screen's pixels with the text, or
// repaints everything.
void TextView::repaintMarks()
{
    if (!m_preedit.isEmpty()) {
        repaintAll();
        return;
    }
    const qsizetype oldStart = std::min(m_shownAnchor, m_shownCaret);
    const qsizetype oldEnd = std::max(m_shownAnchor, m_shownCaret);
    const qsizetype start = selectionStart();
    const qsizetype end = selectionEnd();
    QRegion changed;
    if (oldStart == oldEnd && start == end) {
        if (m_caret != m_shownCaret)
            changed = QRegion(rowsBand(m_shownCaret, m_shownCaret)) + rowsBand(m_caret, m_caret);
    } else {
        // What was selected and what is now differ only between their starts and their ends.
        if (oldStart != start)
            changed += rowsBand(std::min(oldStart, start), std::max(oldStart, start));
        if (oldEnd != end)
            changed += rowsBand(std::min(oldEnd, end), std::max(oldEnd, end));
    }
    viewport()->update(changed);
    updateCaret(); // shown again, if it had blinked out where it stays
    markShown();
}

void TextView::beginEditRepaint()
{
    m_editRepaint = {};
    m_editRepaint.active = true;
    m_editRepaint.marks
        = rowsBand(std::min(m_shownAnchor, m_shownCaret), std::max(m_shownAnchor, m_shownCaret));
}

void TextView::repaintEdit(qsizetype position, qsizetype delta, qsizetype oldRows, quint64 serial)
{
    const EditRepaint plan = std::exchange(m_editRepaint, {});
    if (!plan.active || plan.whole || !m_preedit.isEmpty()) {
        repaintAll();
        return;
    }
    const QRect marks = plan.marks.translated(plan.moved);
    const EditedRows rows = editedRows(position, delta, oldRows, serial);
    QRegion changed = QRegion(marks) + rows.changed;
    if (rows.moved != 0) {
        // The rows after the changed ones keep their pixels, moved; the selection shown before
        // may have moved with them.
        const QRect below(0, rows.movedFrom, viewport()->width(),
                          viewport()->height() - rows.movedFrom);
        viewport()->scroll(0, rows.moved, below);
        if (marks.intersects(below))
            changed += marks.translated(0, rows.moved);
    }
    viewport()->update(changed);
    markShown();
}

// The rows an edit at position changed: from the row before it (a shorter word may move up to
// it) down to the end of its line, or to the first piece of its line kept from before the edit;
// when the line takes more or fewer rows than before, what follows moves by that many rows. An
// edit of several lines changes everything down to the bottom.
TextView::EditedRows TextView::editedRows(qsizetype position, qsizetype delta, qsizetype oldRows,
                                          quint64 serial) const
{
    const QRect all = viewport()->rect();
    const auto band = [&](int top, int bottom) {
        return QRect(0, top, all.width(), bottom - top).intersected(all);
    };
    if (!m_wrap) {
        const int y = yOfPosition(position);
        // With the rows next to it, where its glyphs may reach.
        return { band(y - m_lineHeight, delta == 0 ? y + 2 * m_lineHeight : all.height()) };
    }
    const LinePieces pieces = piecesOf(m_buffer.lineAt(position));
    const qsizetype from = std::max(pieces.start, position - 1);
    const int top = yOfPosition(from) - 2 * m_lineHeight; // and where its glyphs may reach
    if (delta != 0)
        return { band(top, all.height()) };
    int bottom = all.height(); // where the rows kept from before start, when on screen
    qsizetype index = chunkIndexOf(pieces, from - pieces.start) + 1;
    for (; index < pieces.count; ++index) {
        const bool kept = m_layouts.keptBefore(pieces.line, index, serial);
        const int y = yOfPosition(pieces.start + chunk(pieces, index).start);
        if (y >= all.height() || kept) {
            bottom = std::min(y, all.height());
            break;
        }
    }
    if (index >= pieces.count)
        bottom = yOfPosition(pieces.start + pieces.length) + m_lineHeight;
    // Laid out now as far as the screen shows it: more or fewer rows move everything below.
    const int moved = int(lineRows(piecesOf(pieces.line)) - oldRows) * m_lineHeight;
    if (moved == 0 || bottom >= all.height())
        return { band(top, bottom + m_lineHeight) }; // and where the last row's glyphs reach
    if (std::abs(moved) > all.height() / 2)
        return { band(top, all.height()) };
    return { band(top, bottom + m_lineHeight), std::min(bottom, bottom - moved), moved };
}

TextView::DrawnState TextView::drawnState() const
{
    return { m_layouts.changes(), viewport()->size(), palette().cacheKey(), font().key(), m_wrap,
             leftOffset() };
}

// Between frames, once the screen below is laid out: its picture, so that PageDown or a scroll
// to it copies the picture and draws only the caret's rows. Not with a selection, text being
// composed or a drop mark, which the picture would have to show.
void TextView::drawAhead()
{
    const int next = topLine() + visibleLines();
    if (!std::exchange(m_ahead.scrolled, false) || next > verticalScrollBar()->maximum()
        || hasSelection() || !m_preedit.isEmpty() || m_dropCaret >= 0) {
        return;
    }
    const qsizetype top = m_wrap ? positionInRow(next, 0) : m_buffer.lineStart(next);
    if (top == m_ahead.top && drawnState() == m_ahead.state && !m_ahead.picture.isNull())
        return;
    const qreal ratio = viewport()->devicePixelRatioF();
    QImage picture(viewport()->size() * ratio, QImage::Format_RGB32);
    if (picture.isNull())
        return; // no memory for it: the frame draws the screen itself
    picture.setDevicePixelRatio(ratio);
    QPainter painter(&picture);
    painter.fillRect(viewport()->rect(), palette().brush(viewport()->backgroundRole()));
    painter.setPen(palette().color(QPalette::Text));
    paintArea(painter, viewport()->rect(), next, false);
    m_ahead.picture = std::move(picture);
    m_ahead.top = top;
    m_ahead.state = drawnState(); // lines first seen were cut into pieces while drawn
}

bool TextView::drawFromAhead(QPainter &painter)
{
    if (m_ahead.picture.isNull() || m_ahead.top != topPosition() || hasSelection()
        || !m_preedit.isEmpty() || m_dropCaret >= 0 || !(m_ahead.state == drawnState())) {
        return false;
    }
    painter.drawImage(QPoint(), m_ahead.picture);
    // The caret's rows drawn again over the picture, as a repaint of them alone draws them.
    const QRect caretRows = rowsBand(m_caret, m_caret);
    painter.fillRect(caretRows, palette().brush(viewport()->backgroundRole()));
    painter.setClipRect(caretRows);
    paintArea(painter, caretRows, topLine(), true);
    painter.setClipping(false);
    return true;
}
