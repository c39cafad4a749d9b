// Word wrap: lines laid out at the view's width, rows of the screen counted per line in
// VisualRows, and the geometry of positions by rows.
#include "textview.h"

#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <new>

void TextView::setWordWrap(bool on)
{
    if (on == m_wrap)
        return;
    const qsizetype caretRow = m_wrap ? rowOfPosition(m_caret) : m_buffer.lineAt(m_caret);
    const bool caretShown = caretRow >= topLine() && caretRow < topLine() + visibleLines();
    const qsizetype top = topPosition();
    if (on) {
        m_horizontalPolicy = horizontalScrollBarPolicy();
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        horizontalScrollBar()->setValue(0);
    }
    m_wrap = on;
    forgetAllLayouts();
    forgetRows();
    if (!on)
        setHorizontalScrollBarPolicy(m_horizontalPolicy);
    showFromTop(top);
    if (caretShown)
        ensureCaretVisible();
}

void TextView::forgetRows() { m_rows.reset(m_buffer.lineCount()); }

qsizetype TextView::topPosition() const
{
    if (!m_wrap)
        return m_buffer.lineStart(std::min<qsizetype>(topLine(), m_buffer.lineCount() - 1));
    return positionInRow(topLine(), 0);
}

// The row holding position becomes the top one.
void TextView::showFromTop(qsizetype position)
{
    updateScrollBars();
    const qsizetype row = m_wrap ? rowOfPosition(position) : m_buffer.lineAt(position);
    verticalScrollBar()->setValue(int(std::min<qsizetype>(row, INT_MAX)));
    viewport()->update();
}

qsizetype TextView::pieceRows(const LinePieces &pieces, qsizetype index) const
{
    index = checkedIndex(pieces, index);
    // A long line's pieces are summed by the thousand: their rows are read from the list, where
    // every piece laid out has them, without looking for its layout.
    if (pieces.list) {
        if (const qreal rows = pieces.list->measures[size_t(index)]; rows > 0)
            return qsizetype(rows);
    } else if (const QTextLayout *layout = m_layouts.peek(pieces.line, index)) {
        return std::max(1, layout->lineCount());
    }
    // An estimate until laid out.
    const qsizetype length = chunk(pieces, index).length;
    return std::max<qsizetype>(1, qsizetype(std::ceil(qreal(length) * m_charWidth / textWidth())));
}

qsizetype TextView::lineRows(const LinePieces &pieces) const
{
    if (pieces.count == 1) {
        const qsizetype rows = std::max(1, layoutFor(pieces, 0)->lineCount());
        noteRows(pieces.line, rows);
        return rows;
    }
    // Each piece of a long line starts a row, so a long line counted before has several rows;
    // its count follows its pieces as they are laid out, without summing them again.
    if (m_rows.rowsOf(pieces.line) > 1)
        return m_rows.rowsOf(pieces.line);
    const qsizetype rows = rowsBeforePiece(pieces, pieces.count);
    noteRows(pieces.line, rows);
    return rows;
}

qsizetype TextView::rowsBeforePiece(const LinePieces &pieces, qsizetype index) const
{
    if (!pieces.list)
        return index > 0 ? pieceRows(pieces, 0) : 0;
    LayoutCache::PieceList &list = *pieces.list;
    index = std::clamp<qsizetype>(index, 0, pieces.count);
    if (qsizetype(list.rowsBefore.size()) < pieces.count + 1)
        list.rowsBefore.resize(size_t(pieces.count + 1));
    for (qsizetype k = list.summed; k < index; ++k)
        list.rowsBefore[size_t(k + 1)] = list.rowsBefore[size_t(k)] + pieceRows(pieces, k);
    list.summed = std::max(list.summed, index);
    return list.rowsBefore[size_t(index)];
}

qsizetype TextView::pieceOfRow(const LinePieces &pieces, qsizetype row) const
{
    if (!pieces.list)
        return 0;
    rowsBeforePiece(pieces, pieces.count);
    const auto &before = pieces.list->rowsBefore;
    const auto after = std::upper_bound(before.begin(), before.begin() + pieces.count, row);
    return std::clamp<qsizetype>(after - before.begin() - 1, 0, pieces.count - 1);
}

// A line above the top one measured again moves the rows below it: the scroll bar follows, so
// that the text on screen stays where it is.
void TextView::noteRows(qsizetype line, qsizetype rows) const
{
    const qsizetype oldRows = m_rows.rowsOf(line);
    const qsizetype added = m_rows.setRows(line, rows);
    if (added == 0)
        return;
    const qsizetype topRow = topLine();
    const bool aboveTop = m_rows.rowOfLine(line) + oldRows <= topRow;
    QScrollBar *vertical = verticalScrollBar();
    const QSignalBlocker blocker(vertical);
    vertical->setRange(0, int(std::clamp<qsizetype>(m_rows.total() - visibleLines(), 0, INT_MAX)));
    if (aboveTop)
        vertical->setValue(int(std::min<qsizetype>(topRow + added, INT_MAX)));
}

QTextLine TextView::textLineOf(qsizetype position, qsizetype *rowInLine) const
{
    const LinePieces pieces = piecesOf(m_buffer.lineAt(position));
    const qsizetype column = std::clamp<qsizetype>(position - pieces.start, 0, pieces.length);
    const qsizetype index = chunkIndexOf(pieces, column);
    const Chunk piece = chunk(pieces, index);
    const QTextLayout *layout = layoutFor(pieces, index);
    const QTextLine line = layout->lineForTextPosition(int(column - piece.start));
    // Invalid only for a layout without lines, which callers check for.
    const QTextLine found = line.isValid() || layout->lineCount() == 0
        ? line
        : layout->lineAt(layout->lineCount() - 1);
    if (rowInLine)
        *rowInLine = rowsBeforePiece(pieces, index) + std::max(0, found.lineNumber());
    return found;
}

qsizetype TextView::rowOfPosition(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    lineRows(piecesOf(line));
    qsizetype inLine = 0;
    textLineOf(position, &inLine);
    return m_rows.rowOfLine(line) + inLine;
}

qsizetype TextView::positionInRow(qsizetype row, qreal x) const
{
    const VisualRows::Place place = m_rows.placeOfRow(row);
    const LinePieces pieces = piecesOf(place.line);
    lineRows(pieces);
    const qsizetype index = pieceOfRow(pieces, place.row);
    const qsizetype before = rowsBeforePiece(pieces, index);
    const QTextLayout *layout = layoutFor(pieces, index);
    const int lineNumber
        = int(std::clamp<qsizetype>(place.row - before, 0, layout->lineCount() - 1));
    const QTextLine textLine = layout->lineAt(lineNumber);
    if (!textLine.isValid())
        return pieces.start + chunk(pieces, index).start;
    int column = textLine.xToCursor(x);
    // A row that wraps ends before the space it breaks at, so that the caret stays on it.
    const int end = textLine.textStart() + textLine.textLength();
    if (column >= end && lineNumber + 1 < layout->lineCount())
        column = layout->previousCursorPosition(end);
    return pieces.start + chunk(pieces, index).start + column;
}

int TextView::yOfPosition(qsizetype position) const
{
    const qsizetype row = m_wrap ? rowOfPosition(position) : m_buffer.lineAt(position);
    return TopMargin
        + int(std::clamp<qsizetype>(row - topLine(), -INT_MAX / 4 / m_lineHeight,
                                    INT_MAX / 4 / m_lineHeight))
        * m_lineHeight;
}

std::pair<qsizetype, qsizetype> TextView::rowBounds(qsizetype position) const
{
    const LinePieces pieces = piecesOf(m_buffer.lineAt(position));
    const qsizetype column = std::clamp<qsizetype>(position - pieces.start, 0, pieces.length);
    const qsizetype index = chunkIndexOf(pieces, column);
    const QTextLayout *layout = layoutFor(pieces, index);
    const QTextLine row = textLineOf(position);
    const qsizetype offset = pieces.start + chunk(pieces, index).start;
    if (!row.isValid())
        return { offset, offset };
    qsizetype end = row.textStart() + row.textLength();
    // A row that wraps ends before the space it breaks at, so that the caret stays on it; a row
    // that breaks a word too long for it ends after its last character, as in QPlainTextEdit.
    if (row.lineNumber() + 1 < layout->lineCount() && end > row.textStart()
        && layout->text().at(int(end) - 1).isSpace())
        end = layout->previousCursorPosition(int(end));
    return { offset + row.textStart(), offset + end };
}

// Lays out the lines that a screen ending at position's row shows, so that the rows counted
// above it are the real ones and not estimates.
void TextView::measureScreenAbove(qsizetype position) const
{
    qsizetype line = m_buffer.lineAt(position);
    qsizetype rows = 0;
    textLineOf(position, &rows);
    for (++rows; rows < visibleLines() && line > 0;)
        rows += lineRows(piecesOf(--line));
    lineRows(piecesOf(m_buffer.lineAt(position)));
}

// Lays out the pieces from the one holding position on (rows > 0) or back (rows < 0) until that
// many rows after (or before) position's row are laid out, so that a move by rows lands where the
// rows really are and not where the lines not yet laid out were estimated.
void TextView::measureRows(qsizetype position, qsizetype rows) const
{
    LinePieces pieces = piecesOf(m_buffer.lineAt(position));
    const qsizetype column = std::clamp<qsizetype>(position - pieces.start, 0, pieces.length);
    qsizetype index = chunkIndexOf(pieces, column);
    const qsizetype step = rows < 0 ? -1 : 1;
    lineRows(pieces);
    // Counted from position's row: the rows of its piece after it, or before it going back.
    const QTextLayout *layout = layoutFor(pieces, index);
    const QTextLine row = layout->lineForTextPosition(int(column - chunk(pieces, index).start));
    const qsizetype inPiece = row.isValid() ? row.lineNumber() : layout->lineCount() - 1;
    qsizetype counted = step > 0 ? layout->lineCount() - 1 - inPiece : inPiece;
    while (counted < std::abs(rows)) {
        index += step;
        if (index < 0 || index >= pieces.count) {
            const qsizetype line = pieces.line + step;
            if (line < 0 || line >= m_buffer.lineCount())
                break;
            pieces = piecesOf(line);
            lineRows(pieces);
            index = step > 0 ? 0 : pieces.count - 1;
        }
        counted += std::max(1, layoutFor(pieces, index)->lineCount());
    }
}

// Between frames, the screen below the one shown is laid out, so that PageDown or scrolling on
// finds its rows shaped and its frame only draws them.
void TextView::layOutAhead()
{
    try {
        const qsizetype page = visibleLines();
        if (m_wrap) {
            measureRows(topPosition(), 2 * page);
            drawAhead();
            return;
        }
        const qreal left = leftOffset() - m_margin;
        const qreal right = left + viewport()->width();
        const qsizetype end = std::min<qsizetype>(m_buffer.lineCount(), topLine() + 2 * page);
        for (qsizetype line = topLine() + page; line < end; ++line)
            forShownPieces(piecesOf(line), left, right, [](auto &&...) {});
        drawAhead();
    } catch (const std::bad_alloc &) {
        // Only ahead of need: the frame that needs them lays them out.
    }
}

// The lines an edit replaced are counted again at once from what is kept of their pieces, as
// they were counted before it, so that neither the rows above the screen nor the total lose
// them. Past a few lines (a long paste) they count as estimates until shown.
void TextView::recountRows(qsizetype first, qsizetype last) const
{
    for (qsizetype line = first; line <= std::min(last, first + 64); ++line) {
        const LinePieces pieces = piecesOf(line);
        const qsizetype rows = pieces.list ? rowsBeforePiece(pieces, pieces.count)
                                           : std::max(1, layoutFor(pieces, 0)->lineCount());
        m_rows.setRows(line, rows);
    }
}
