#include "textview.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr int CaretWidth = 1;

// A line separator inside a line would end the laid-out line early; it is shown as a mark.
QString shownText(QString text)
{
    for (QChar &c : text) {
        if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QChar(0x21b5);
    }
    return text;
}

} // namespace

// ----- chunks and layouts -----

namespace {

// How far before its nominal place a piece's edge may move back to fall at a break opportunity.
constexpr qsizetype BreakReach = 256;

bool isRegionalIndicator(char32_t code) { return code >= 0x1f1e6 && code <= 0x1f1ff; }

// Characters that join the one before them into a cluster: marks, joiners, emoji modifiers
// and tags.
bool extendsCluster(char32_t code)
{
    switch (QChar::category(code)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return code == 0x200c || code == 0x200d || (code >= 0x1f3fb && code <= 0x1f3ff)
            || (code >= 0xe0020 && code <= 0xe007f);
    }
}

char32_t codeAt(QStringView text, qsizetype i)
{
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(text[i], text[i + 1]);
    return text[i].unicode();
}

// The cursor position nearest to x. Qt answers the end of the line for a point in the right half
// of a cluster drawn as several boxes (a flag without its glyph); that answer is checked and,
// when wrong, the position found again by halving.
int columnAt(const QTextLayout &layout, qreal x)
{
    const QTextLine line = layout.lineAt(0);
    const int end = int(layout.text().size());
    const int column = line.xToCursor(x);
    if (column < end || x >= line.naturalTextWidth() || layout.text().isRightToLeft())
        return column;
    // Between low and high lie the point and no other cursor position once done.
    int low = 0;
    int high = end;
    while (layout.nextCursorPosition(low) < high) {
        int middle = layout.nextCursorPosition(low + (high - low) / 2 - 1);
        if (middle <= low || middle >= high)
            middle = layout.nextCursorPosition(low);
        if (line.cursorToX(middle) >= x)
            high = middle;
        else
            low = middle;
    }
    return x - line.cursorToX(low) <= line.cursorToX(high) - x ? low : high;
}

// Whether a text is drawn left to right in its logical order: nothing in it may turn right to
// left (the right-to-left scripts, their presentation forms, characters beyond the first plane,
// direction marks and embeddings).
bool runsLeftToRight(QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x590 && u < 0x900) || (u >= 0xfb1d && u < 0xfe00) || u >= 0xfe70
            || (u >= 0xd800 && u < 0xe000) || u == 0x200e || u == 0x200f
            || (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069))
            return false;
    }
    return true;
}

// Draws only the glyphs of a one-row, left-to-right layout that fall within the painted area,
// with its selection (`selected`, empty for none): a piece of a long line is thousands of pixels
// wide, and drawing every glyph of it cost several times what the screen shows. False when the
// layout is not of that kind and must be drawn whole.
bool drawVisibleGlyphs(QPainter &painter, const QTextLayout &layout, QPointF at, const QRect &area,
                       const QTextLayout::FormatRange &selected)
{
    constexpr int Slack = 4; // characters beyond each edge, for glyphs that overhang
    if (layout.lineCount() != 1 || !layout.preeditAreaText().isEmpty()
        || !runsLeftToRight(layout.text()))
        return false;
    const QTextLine line = layout.lineAt(0);
    const int length = int(layout.text().size());
    const int from = std::max(0, line.xToCursor(area.left() - at.x()) - Slack);
    const int to = std::min(length, line.xToCursor(area.right() + 1 - at.x()) + Slack);
    if (from >= to)
        return true;
    for (const QGlyphRun &run : line.glyphRuns(from, to - from))
        painter.drawGlyphRun(at, run);
    const int selectedFrom = std::max(from, selected.start);
    const int selectedTo = std::min(to, selected.start + selected.length);
    if (selectedFrom >= selectedTo)
        return true;
    const qreal left = line.cursorToX(selectedFrom);
    const qreal right = line.cursorToX(selectedTo);
    const QRectF box(QPointF(std::floor(at.x() + left), at.y() + line.y()),
                     QPointF(std::ceil(at.x() + right), at.y() + line.y() + line.height()));
    // As QTextLayout does: the box covers every pixel it touches, and the selected text is
    // drawn within it, so that a ligature or an overhang it cuts is coloured on each side as its
    // part is.
    painter.fillRect(box, selected.format.background());
    painter.save();
    painter.setClipRect(box, Qt::IntersectClip);
    painter.setPen(selected.format.foreground().color());
    const int runFrom = std::max(from, selectedFrom - Slack);
    const int runTo = std::min(to, selectedTo + Slack);
    for (const QGlyphRun &run : line.glyphRuns(runFrom, runTo - runFrom))
        painter.drawGlyphRun(at, run);
    painter.restore();
    return true;
}

} // namespace

TextView::LinePieces TextView::piecesOf(qsizetype line) const
{
    line = std::clamp<qsizetype>(line, 0, m_buffer.lineCount() - 1);
    const qsizetype start = m_buffer.lineStart(line);
    const qsizetype length = m_buffer.lineEnd(line) - start;
    LinePieces pieces { line, start, length, 1, false, nullptr };
    // A line is cut once; edits then cut only around themselves. Cuts that disagree with the
    // line's length would be a fault: the line is cut anew rather than read outside.
    LayoutCache::PieceList *list = m_layouts.pieces(line);
    if (list && (list->length != length || list->gapAt >= 0 || list->starts.empty())) {
        Q_ASSERT(false);
        m_layouts.dropPieces(line);
        list = nullptr;
    }
    // Cut for the other way of wrapping, only the first piece's length differs: the pieces
    // within about a wrapped first piece's length are cut again.
    if (list && list->wrapped != m_wrap) {
        const auto front
            = std::lower_bound(list->starts.begin() + 1, list->starts.end(), ChunkLength * 3 / 4);
        m_layouts.reopenFront(line, front - list->starts.begin());
        list->wrapped = m_wrap;
        cutGap(line);
        list = m_layouts.pieces(line);
    }
    if (length <= onePieceLength()) {
        pieces.rightToLeft = length > 0 && m_buffer.mid(start, length).isRightToLeft();
        return pieces;
    }
    if (!list) {
        list = &m_layouts.setPieces(line, cutRegion(pieces, 0, length), length);
        list->wrapped = m_wrap;
    }
    // A paragraph's first strong character is near its start but for odd texts; past the first
    // piece's length it is taken to run left to right.
    if (list->rightToLeft < 0)
        list->rightToLeft = m_buffer.mid(start, ChunkLength).isRightToLeft() ? 1 : 0;
    pieces.count = qsizetype(list->starts.size());
    pieces.rightToLeft = list->rightToLeft == 1;
    pieces.list = list;
    return pieces;
}

std::vector<qsizetype> TextView::pieceStarts(qsizetype line) const
{
    const LinePieces pieces = piecesOf(line);
    return pieces.list ? pieces.list->starts : std::vector<qsizetype> { 0 };
}

// An index past the pieces is a fault of the caller: stopped in a debug build, held to the
// pieces otherwise, so that it never reads outside them.
qsizetype TextView::checkedIndex(const LinePieces &pieces, qsizetype index)
{
    Q_ASSERT(index >= 0 && index < pieces.count);
    return std::clamp<qsizetype>(index, 0, pieces.count - 1);
}

TextView::Chunk TextView::chunk(const LinePieces &pieces, qsizetype index) const
{
    index = checkedIndex(pieces, index);
    if (!pieces.list)
        return { 0, pieces.length };
    const std::vector<qsizetype> &starts = pieces.list->starts;
    const qsizetype start = std::clamp<qsizetype>(starts[size_t(index)], 0, pieces.length);
    const qsizetype end = index + 1 < pieces.count ? starts[size_t(index + 1)] : pieces.length;
    return { start, std::clamp<qsizetype>(end, start, pieces.length) - start };
}

// Pieces of about ChunkLength (the first one of firstPieceLength()); the last one takes what is
// left, up to half as much again.
std::vector<qsizetype> TextView::cutRegion(const LinePieces &pieces, qsizetype from,
                                           qsizetype to) const
{
    std::vector<qsizetype> starts { from };
    for (qsizetype at = from;;) {
        const qsizetype length = at == 0 ? firstPieceLength() : ChunkLength;
        if (to - at <= length * 3 / 2)
            return starts;
        at = cutNear(pieces, at, at + length);
        starts.push_back(at);
    }
}

// Where a piece starting at `low` ends: before `nominal`, after a space where one is near, else
// at another break opportunity, else between two clusters; never inside a word, a cluster or a
// joining run where that can be helped. Chosen from the text around it alone, so that the
// pieces after an edit are cut where they were.
qsizetype TextView::cutNear(const LinePieces &pieces, qsizetype low, qsizetype nominal) const
{
    const qsizetype from = std::max(low + 1, nominal - BreakReach);
    const qsizetype reach = nominal - from;
    const QString context = m_buffer.mid(pieces.start + from, reach + 2);
    const qsizetype last = std::min<qsizetype>(reach, context.size() - 1);
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    for (qsizetype i = last; i >= 1; --i) {
        if (blank(context[i - 1]) && !blank(context[i]) && !extendsCluster(codeAt(context, i)))
            return from + i;
    }
    // Scripts written without spaces break between words or syllables.
    const qsizetype lead = std::min<qsizetype>(from, 32);
    const QString wider = m_buffer.mid(pieces.start + from - lead, lead + reach + 2);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, wider);
    finder.setPosition(int(lead + last + 1));
    for (qsizetype at = finder.toPreviousBoundary(); at > lead; at = finder.toPreviousBoundary()) {
        const bool betweenIndicators = at >= 2 && at + 1 < wider.size()
            && isRegionalIndicator(codeAt(wider, at - 2)) && isRegionalIndicator(codeAt(wider, at));
        if ((finder.boundaryReasons() & QTextBoundaryFinder::BreakOpportunity) && !betweenIndicators
            && !extendsCluster(codeAt(wider, at)))
            return from + at - lead;
    }
    return graphemeEdge(pieces, nominal);
}

// The pieces of a long line wholly before an edit stay, and so do those wholly after it under
// shifted columns; only the pieces it touched are cut again (cutGap). A piece that starts where
// the edit starts goes with the one before it, whose end the edit may have joined.
LayoutCache::Kept TextView::keptPieces(qsizetype first, qsizetype oldLast, qsizetype newLast,
                                       qsizetype position, qsizetype added) const
{
    LayoutCache::Kept kept;
    const auto pieceOf = [](const std::vector<qsizetype> &starts, qsizetype column) {
        const auto after = std::upper_bound(starts.begin(), starts.end(), column);
        return std::max<qsizetype>(0, after - starts.begin() - 1);
    };
    if (const LayoutCache::PieceList *head = m_layouts.pieces(first); head && head->gapAt < 0) {
        const qsizetype column = position - m_buffer.lineStart(first);
        qsizetype index = pieceOf(head->starts, column);
        if (index > 0 && head->starts[size_t(index)] == column)
            --index;
        kept.head = index;
    }
    if (const LayoutCache::PieceList *tail = m_layouts.pieces(oldLast); tail && tail->gapAt < 0) {
        // The text after the edit is the old line's end, as long as it was.
        const qsizetype editEnd = position + added;
        const qsizetype oldColumn = tail->length - (m_buffer.lineEnd(newLast) - editEnd);
        const qsizetype index = pieceOf(tail->starts, oldColumn) + 1;
        if (oldColumn >= 0 && index < qsizetype(tail->starts.size())) {
            kept.tailFrom = index;
            kept.tailShift = editEnd - m_buffer.lineStart(newLast) - oldColumn;
        }
    }
    return kept;
}

// Cuts what an edit left between the kept pieces of a line. A short remainder joins the piece
// after it; an edge inside a run of flags goes past the run, as the edit may have changed how
// its indicators pair.
void TextView::cutGap(qsizetype line) const
{
    LayoutCache::PieceList *list = m_layouts.pieces(line);
    if (!list || list->gapAt < 0)
        return;
    const qsizetype start = m_buffer.lineStart(line);
    const qsizetype length = m_buffer.lineEnd(line) - start;
    if (length <= onePieceLength()) {
        m_layouts.dropPieces(line);
        return;
    }
    const LinePieces pieces { line, start, length, 1, false, nullptr };
    const std::vector<qsizetype> &starts = list->starts;
    const qsizetype at = list->gapAt;
    const qsizetype from = list->gapFrom;
    const auto indicatorAt = [&](qsizetype column) {
        return column >= 0 && column + 1 < length
            && isRegionalIndicator(QChar::surrogateToUcs4(m_buffer.at(start + column),
                                                          m_buffer.at(start + column + 1)));
    };
    qsizetype merged = 0;
    const auto gapEnd = [&] {
        return at + merged < qsizetype(starts.size()) ? starts[size_t(at + merged)] : length;
    };
    while (at + merged < qsizetype(starts.size())
           && (gapEnd() - from < ChunkLength / 4
               || (indicatorAt(gapEnd() - 2) && indicatorAt(gapEnd()))))
        ++merged;
    const qsizetype to = gapEnd();
    if (from < 0 || from > to || to > length || (at > 0 && starts[size_t(at - 1)] >= from)) {
        Q_ASSERT(false);
        m_layouts.setPieces(line, cutRegion(pieces, 0, length), length).wrapped = m_wrap;
        return;
    }
    const std::vector<qsizetype> cuts
        = from == to ? std::vector<qsizetype>() : cutRegion(pieces, from, to);
    m_layouts.fillGap(line, cuts, merged, length);
}

// The first grapheme boundary at or after column: a chunk edge inside a cluster (a letter and
// its accent, the two halves of a flag) would let the caret stop inside it.
qsizetype TextView::graphemeEdge(const LinePieces &pieces, qsizetype column) const
{
    const qsizetype lineStart = pieces.start;
    const qsizetype length = pieces.length;
    const auto plain = [](QChar c) { return c.unicode() < 0x300; };
    if (plain(m_buffer.at(lineStart + column - 1)) && plain(m_buffer.at(lineStart + column)))
        return column;
    if (m_buffer.at(lineStart + column).isLowSurrogate())
        ++column;
    const auto indicatorAt = [&](qsizetype at) {
        return at >= 0 && at + 1 < length
            && isRegionalIndicator(QChar::surrogateToUcs4(m_buffer.at(lineStart + at),
                                                          m_buffer.at(lineStart + at + 1)));
    };
    // Flags pair up from the start of their run, however long: an odd count of indicators
    // before the edge puts it inside a flag.
    if (indicatorAt(column - 2) && indicatorAt(column)) {
        qsizetype before = 0;
        for (qsizetype at = column - 2; indicatorAt(at); at -= 2)
            ++before;
        return before % 2 ? column + 2 : column;
    }
    // Marks and joiners need a little context before the edge.
    qsizetype from = std::max<qsizetype>(0, column - 32);
    if (from > 0 && m_buffer.at(lineStart + from).isLowSurrogate())
        --from;
    const qsizetype to = std::min(length, column + 64);
    const QString context = m_buffer.mid(lineStart + from, to - from);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, context);
    finder.setPosition(int(column - from));
    if (finder.isAtBoundary())
        return column;
    const qsizetype next = finder.toNextBoundary();
    if (next > 0 && (from + next < to || to == length))
        return from + next;
    // No boundary near: an absurdly long cluster is cut, though never inside a surrogate pair.
    return m_buffer.at(lineStart + column - 1).isHighSurrogate() ? column + 1 : column;
}

qsizetype TextView::chunkIndexOf(const LinePieces &pieces, qsizetype column) const
{
    if (!pieces.list)
        return 0;
    const std::vector<qsizetype> &starts = pieces.list->starts;
    const auto after = std::upper_bound(starts.begin(), starts.end(), column);
    return std::clamp<qsizetype>(after - starts.begin() - 1, 0, pieces.count - 1);
}

qreal TextView::chunkWidth(const LinePieces &pieces, qsizetype index) const
{
    index = checkedIndex(pieces, index);
    if (!pieces.list) {
        // Widths are kept only for long lines, so scrolling through many short ones keeps none.
        const QTextLayout *layout = m_layouts.peek(pieces.line, 0);
        if (layout && layout->lineCount() > 0)
            return layout->lineAt(0).naturalTextWidth();
        return qreal(pieces.length) * m_charWidth;
    }
    const qreal measured = pieces.list->measures[size_t(index)];
    if (measured > 0)
        return measured;
    // An estimate until laid out.
    return qreal(std::max<qsizetype>(chunk(pieces, index).length, 1)) * m_charWidth;
}

qreal TextView::textWidth() const
{
    // Rows wrap where QPlainTextEdit wraps them: the caret may stand in the margin.
    if (m_wrap)
        return qreal(std::max(1, viewport()->width() - 2 * m_margin));
    return qreal(horizontalScrollBar()->maximum() + viewport()->width() - 2 * m_margin
                 - CaretWidth);
}

qreal TextView::pieceLeft(const LinePieces &pieces, qsizetype index) const
{
    const qreal before = chunkX(pieces, index);
    return pieces.rightToLeft ? textWidth() - before - chunkWidth(pieces, index) : before;
}

qreal TextView::chunkX(const LinePieces &pieces, qsizetype index) const
{
    index = checkedIndex(pieces, index);
    if (index == 0)
        return 0;
    // Thousands of pieces lie before the end of a line of megabytes: their widths are summed
    // from the list, without looking the line up again for each.
    const std::vector<qreal> &widths = pieces.list->measures;
    const std::vector<qsizetype> &starts = pieces.list->starts;
    qreal x = 0;
    for (qsizetype k = 0; k < index; ++k) {
        const qsizetype length = starts[size_t(k + 1)] - starts[size_t(k)];
        x += widths[size_t(k)] > 0 ? widths[size_t(k)] : qreal(length) * m_charWidth;
    }
    return x;
}

QTextLayout *TextView::layoutFor(const LinePieces &pieces, qsizetype index) const
{
    index = checkedIndex(pieces, index);
    const qsizetype line = pieces.line;
    if (QTextLayout *kept = m_layouts.find(line, index))
        return kept;

    const Chunk piece = chunk(pieces, index);
    auto layout = std::make_unique<QTextLayout>(
        shownText(m_buffer.mid(pieces.start + piece.start, piece.length)), font());
    QTextOption option;
    option.setWrapMode(m_wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    // Every piece of a paragraph takes its direction; the view places the pieces itself.
    option.setTextDirection(pieces.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    const Qt::Alignment side = m_wrap && pieces.rightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    option.setAlignment(side | Qt::AlignAbsolute);
    option.setTabStopDistance(QFontMetricsF(font()).horizontalAdvance(u' ') * 8);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    if (!m_preedit.isEmpty() && line == m_buffer.lineAt(m_caret)
        && index == chunkIndexOf(pieces, m_caret - pieces.start)) {
        const int at = int(m_caret - pieces.start - piece.start);
        layout->setPreeditArea(at, m_preedit);
        QList<QTextLayout::FormatRange> formats = m_preeditFormats;
        for (QTextLayout::FormatRange &range : formats)
            range.start += at;
        layout->setFormats(formats);
    }
    layout->beginLayout();
    QTextLine textLine = layout->createLine();
    if (textLine.isValid()) {
        textLine.setLineWidth(m_wrap ? textWidth() : qreal(INT_MAX / 4));
        textLine.setPosition(QPointF(0, 0));
    }
    if (m_wrap) {
        // Every row takes the same height, so rows and pixels convert by one figure.
        for (int row = 1;; ++row) {
            QTextLine next = layout->createLine();
            if (!next.isValid())
                break;
            next.setLineWidth(textWidth());
            next.setPosition(QPointF(0, qreal(row) * m_lineHeight));
        }
    }
    layout->endLayout();

    const qreal width = textLine.isValid() ? textLine.naturalTextWidth() : 0;
    if (m_wrap) {
        if (pieces.list) {
            // The list holds rows when wrapping; a line counted already takes the difference
            // from what its piece counted for.
            const qsizetype counted = pieceRows(pieces, index);
            const qsizetype rows = std::max(1, layout->lineCount());
            pieces.list->measures[size_t(index)] = qreal(rows);
            pieces.list->rowsChanged(index);
            if (m_rows.rowsOf(line) > 1 && rows != counted)
                noteRows(line, m_rows.rowsOf(line) + rows - counted);
        }
    } else if (pieces.list) {
        pieces.list->measures[size_t(index)] = std::max<qreal>(width, 1);
    } else if (width > m_widestMeasured) {
        m_widestMeasured = width;
    }
    return m_layouts.keep(line, index, std::move(layout));
}

void TextView::forgetAllLayouts() { m_layouts.clearLayouts(); }

qreal TextView::xOfPosition(qsizetype position) const
{
    if (m_wrap) {
        const LinePieces pieces = piecesOf(m_buffer.lineAt(position));
        const qsizetype column = std::clamp<qsizetype>(position - pieces.start, 0, pieces.length);
        const qsizetype start = chunk(pieces, chunkIndexOf(pieces, column)).start;
        const QTextLine row = textLineOf(position);
        return row.isValid() ? row.cursorToX(int(column - start)) : 0;
    }
    const LinePieces pieces = piecesOf(m_buffer.lineAt(position));
    const qsizetype column = std::clamp<qsizetype>(position - pieces.start, 0, pieces.length);
    const qsizetype index = chunkIndexOf(pieces, column);
    const Chunk piece = chunk(pieces, index);
    const QTextLayout *layout = layoutFor(pieces, index);
    const qreal inChunk
        = layout->lineCount() > 0 ? layout->lineAt(0).cursorToX(int(column - piece.start)) : 0;
    return pieceLeft(pieces, index) + inChunk;
}

qsizetype TextView::positionInLine(qsizetype line, qreal x) const
{
    const LinePieces pieces = piecesOf(line);
    // Measured from the paragraph's start side.
    const qreal fromStart = pieces.rightToLeft ? textWidth() - x : x;
    qreal before = 0;
    for (qsizetype index = 0; index < pieces.count; ++index) {
        const qreal width = chunkWidth(pieces, index);
        if (fromStart < before + width || index == pieces.count - 1) {
            const QTextLayout *layout = layoutFor(pieces, index);
            const qreal inPiece = x - pieceLeft(pieces, index);
            const int column = layout->lineCount() > 0 ? columnAt(*layout, inPiece) : 0;
            return pieces.start + chunk(pieces, index).start + column;
        }
        before += width;
    }
    return pieces.start;
}

int TextView::visibleLines() const
{
    return std::max(1, (viewport()->height() - TopMargin) / m_lineHeight);
}

int TextView::topLine() const { return verticalScrollBar()->value(); }

int TextView::leftOffset() const { return horizontalScrollBar()->value(); }

QRect TextView::characterRect(qsizetype position) const
{
    position = m_buffer.snapped(position);
    const qsizetype line = m_buffer.lineAt(position);
    const qreal x = xOfPosition(position);
    const qreal next = position < m_buffer.lineEnd(line) ? xOfPosition(nextCharacter(position))
                                                         : x + m_charWidth;
    const int left = m_margin - leftOffset() + int(std::floor(std::min(x, next)));
    const int top = yOfPosition(position);
    return QRect(left, top, std::max(1, int(std::ceil(std::abs(next - x)))), m_lineHeight);
}

QRect TextView::caretRect() const
{
    const int x = m_margin - leftOffset() + int(std::floor(xOfPosition(m_caret)));
    const int y = yOfPosition(m_caret);
    return QRect(x, y, CaretWidth, m_lineHeight);
}

qsizetype TextView::positionAt(const QPoint &point) const
{
    const qsizetype row = point.y() < TopMargin ? -1 : (point.y() - TopMargin) / m_lineHeight;
    if (m_wrap)
        return positionInRow(std::max<qsizetype>(0, topLine() + row), qreal(point.x() - m_margin));
    const qsizetype line = std::clamp<qsizetype>(topLine() + row, 0, m_buffer.lineCount() - 1);
    return positionInLine(line, qreal(point.x() - m_margin + leftOffset()));
}

// ----- painting and geometry -----

void TextView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    // The viewport fills its background itself (autoFillBackground), before this.
    painter.setPen(palette().color(QPalette::Text));
    const QRegion &region = event->region();
    const bool whole = region.contains(viewport()->rect());
    if (whole)
        markShown();
    // Rows changed far apart are drawn each on its own, not with everything between.
    if (!whole || !drawFromAhead(painter)) {
        for (const QRect &area : region) {
            if (region.rectCount() > 1)
                painter.setClipRect(area);
            paintArea(painter, area, topLine(), true);
        }
    }
    const qsizetype shownTop = topPosition();
    m_ahead.scrolled = m_ahead.scrolled || (whole && shownTop != m_ahead.shownTop);
    m_ahead.shownTop = shownTop;
    m_aheadTimer.start(0, this);
}

void TextView::paintArea(QPainter &painter, const QRect &clip, int topRow, bool withCaret)
{
    // The rows next to the area are drawn too, clipped to it: their glyphs may reach into it.
    const QRect area
        = clip.adjusted(0, -m_lineHeight, 0, m_lineHeight).intersected(viewport()->rect());
    const QPalette colors = palette();
    QTextCharFormat selectedFormat;
    selectedFormat.setBackground(colors.brush(QPalette::Highlight));
    selectedFormat.setForeground(colors.brush(QPalette::HighlightedText));

    const qsizetype first = topRow + std::max(0, (area.top() - TopMargin) / m_lineHeight);
    const qsizetype last = std::min<qsizetype>(m_buffer.lineCount() - 1,
                                               topRow + (area.bottom() - TopMargin) / m_lineHeight);
    const qreal origin = m_margin - leftOffset();
    const qreal visibleLeft = area.left() - origin;
    const qreal visibleRight = area.right() + 1 - origin;
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    const bool caretVisible = withCaret && ((m_caretShown && hasFocus()) || !m_preedit.isEmpty());

    // One piece of a line, drawn with its part of the selection, the caret and, after the
    // line's last piece, a selected line break.
    const auto drawPiece
        = [&](const LinePieces &pieces, qsizetype index, QTextLayout *layout, QPointF at) {
              const Chunk piece = chunk(pieces, index);
              const qsizetype pieceStart = pieces.start + piece.start;
              const qsizetype lineEnd = pieces.start + pieces.length;
              QList<QTextLayout::FormatRange> selections;
              const qsizetype from = std::max(selStart, pieceStart);
              const qsizetype to = std::min(selEnd, pieceStart + piece.length);
              if (from < to)
                  selections.append({ int(from - pieceStart), int(to - from), selectedFormat });
              if (m_wrap || pieces.rightToLeft
                  || !drawVisibleGlyphs(painter, *layout, at, area, selections.value(0)))
                  layout->draw(&painter, at, selections, QRectF(area));
              const bool lastPiece = index + 1 == pieces.count;
              if (lastPiece && selStart <= lineEnd && selEnd > lineEnd && layout->lineCount() > 0) {
                  // A selected line break shows as a little selected space, at the line's end side.
                  const QTextLine end = layout->lineAt(layout->lineCount() - 1);
                  // A right-to-left line ends at its left, which wrapping aligns to the right.
                  const qreal endX = !pieces.rightToLeft ? end.naturalTextWidth()
                      : m_wrap                           ? end.width() - end.naturalTextWidth()
                                                         : 0;
                  const qreal markX
                      = pieces.rightToLeft ? at.x() + endX - m_charWidth / 2 : at.x() + endX;
                  painter.fillRect(QRectF(markX, at.y() + end.y(), m_charWidth / 2, m_lineHeight),
                                   colors.brush(QPalette::Highlight));
              }
              const bool caretHere = m_caret >= pieceStart
                  && (m_caret < pieceStart + piece.length || (lastPiece && m_caret == lineEnd));
              if (caretVisible && caretHere) {
                  const int column
                      = int(m_caret - pieceStart) + (m_preedit.isEmpty() ? 0 : m_preeditCursor);
                  layout->drawCursor(&painter, at, column, CaretWidth);
              }
          };

    if (m_wrap) {
        // Rows from the top one down, each line's pieces one under the other.
        const VisualRows::Place top = m_rows.placeOfRow(topRow);
        qreal y = TopMargin - qreal(top.row) * m_lineHeight;
        for (qsizetype line = top.line; line < m_buffer.lineCount() && y <= area.bottom(); ++line) {
            const LinePieces pieces = piecesOf(line);
            lineRows(pieces);
            qsizetype index = 0;
            if (line == top.line && pieces.list) {
                index = pieceOfRow(pieces, top.row);
                y += qreal(rowsBeforePiece(pieces, index)) * m_lineHeight;
            }
            for (; index < pieces.count && y <= area.bottom(); ++index) {
                const qreal height = qreal(pieceRows(pieces, index)) * m_lineHeight;
                if (y + height < area.top() && index + 1 < pieces.count) {
                    y += height;
                    continue;
                }
                QTextLayout *layout = layoutFor(pieces, index);
                drawPiece(pieces, index, layout, QPointF(origin, y));
                y += qreal(std::max(1, layout->lineCount())) * m_lineHeight;
            }
        }
    }
    for (qsizetype line = first; !m_wrap && line <= last; ++line) {
        const qreal y = TopMargin + qreal(line - topRow) * m_lineHeight;
        forShownPieces(
            piecesOf(line), visibleLeft, visibleRight,
            [&](const LinePieces &pieces, qsizetype index, QTextLayout *layout, qreal left) {
                drawPiece(pieces, index, layout, QPointF(origin + left, y));
            });
    }
    if (m_dropCaret >= 0) {
        const QRectF mark(origin + xOfPosition(m_dropCaret), yOfPosition(m_dropCaret), 2,
                          m_lineHeight);
        painter.fillRect(mark, colors.brush(QPalette::Text));
    }
}

void TextView::forShownPieces(
    const LinePieces &pieces, qreal visibleLeft, qreal visibleRight,
    const std::function<void(const LinePieces &, qsizetype, QTextLayout *, qreal)> &shown) const
{
    // Pieces are walked from the paragraph's start side; `before` is how far from it.
    const qreal rightSide = pieces.rightToLeft ? textWidth() : 0;
    const qreal visibleBegin = pieces.rightToLeft ? rightSide - visibleRight : visibleLeft;
    const qreal visibleEnd = pieces.rightToLeft ? rightSide - visibleLeft : visibleRight;
    qreal before = 0;
    for (qsizetype index = 0; index < pieces.count && before < visibleEnd; ++index) {
        const qreal width = chunkWidth(pieces, index);
        if (before + width < visibleBegin && index + 1 < pieces.count) {
            before += width;
            continue;
        }
        QTextLayout *layout = layoutFor(pieces, index);
        const qreal drawnWidth = layout->lineCount() ? chunkWidth(pieces, index) : width;
        shown(pieces, index, layout, pieces.rightToLeft ? rightSide - before - drawnWidth : before);
        before += drawnWidth;
    }
}

void TextView::updateMetrics()
{
    const QFontMetricsF metrics(font());
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    m_charWidth = std::max<qreal>(1, metrics.averageCharWidth());
    forgetAllLayouts();
    m_widestMeasured = 0;
}

void TextView::updateScrollBars()
{
    const int lines = visibleLines();
    QScrollBar *vertical = verticalScrollBar();
    const qsizetype rows = m_wrap ? m_rows.total() : m_buffer.lineCount();
    vertical->setRange(0, int(std::clamp<qsizetype>(rows - lines, 0, INT_MAX)));
    vertical->setPageStep(lines);
    vertical->setSingleStep(1);
    if (m_wrap) {
        horizontalScrollBar()->setRange(0, 0);
        return;
    }

    // The widest line is estimated from the longest one, and raised as lines are measured.
    const qsizetype longest = m_buffer.longestLine();
    // Widths measured on lines that have since become shorter would keep the range too wide.
    if (longest < m_longestLine)
        m_widestMeasured = 0;
    m_longestLine = longest;
    const qreal estimate = qreal(longest) * m_charWidth;
    const qreal content = std::max(estimate, m_widestMeasured) + 2 * m_margin + CaretWidth;
    const int width = viewport()->width();
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setRange(0, int(std::clamp<qreal>(content - width, 0, INT_MAX / 2)));
    horizontal->setPageStep(std::max(1, width));
    horizontal->setSingleStep(std::max(1, int(m_charWidth * 2)));
}

void TextView::ensureCaretVisible()
{
    const int lines = visibleLines();
    if (m_wrap && rowOfPosition(m_caret) >= topLine() + lines)
        measureScreenAbove(m_caret);
    const qsizetype line = m_wrap ? rowOfPosition(m_caret) : m_buffer.lineAt(m_caret);
    QScrollBar *vertical = verticalScrollBar();
    if (line < topLine())
        vertical->setValue(int(line));
    else if (line >= topLine() + lines)
        vertical->setValue(int(line - lines + 1));
    if (m_wrap)
        return;

    const qreal x = xOfPosition(m_caret);
    const int width = std::max(1, viewport()->width() - 2 * m_margin - CaretWidth);
    QScrollBar *horizontal = horizontalScrollBar();
    if (x + 2 * m_margin + CaretWidth > horizontal->maximum() + viewport()->width()) {
        m_widestMeasured = std::max(m_widestMeasured, x + m_charWidth * 4);
        updateScrollBars();
    }
    const auto scrollTo
        = [&](qreal value) { horizontal->setValue(int(std::clamp<qreal>(value, 0, INT_MAX / 2))); };
    if (x < leftOffset())
        scrollTo(x - width / 4);
    else if (x > leftOffset() + width)
        scrollTo(x - width + width / 4);
}

void TextView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (m_wrap && event->size().width() != event->oldSize().width())
        rewrap([] {});
    else
        updateScrollBars();
}

// Lines wrap again (after `change`, at a new width or in a new font), with the same text at
// the top, and the caret in view if it was.
void TextView::rewrap(const std::function<void()> &change)
{
    const qsizetype caretRow = rowOfPosition(m_caret);
    const bool caretShown = caretRow >= topLine() && caretRow < topLine() + visibleLines();
    const qsizetype top = topPosition();
    change();
    forgetAllLayouts();
    forgetRows();
    showFromTop(top);
    if (caretShown)
        ensureCaretVisible();
}

void TextView::scrollContentsBy(int dx, int dy)
{
    // The thumb at the bottom shows the end of the text, however the rows above were estimated.
    QScrollBar *vertical = verticalScrollBar();
    const bool atEnd
        = m_wrap && vertical->value() == vertical->maximum() && vertical->maximum() > 0;
    if (atEnd) {
        measureScreenAbove(m_buffer.length());
        const QSignalBlocker blocker(vertical);
        vertical->setValue(vertical->maximum());
    }
    // A scroll that keeps half the screen moves its pixels and draws only what comes into view.
    const QPoint moved(dx, dy * m_lineHeight);
    if (!atEnd && (dx == 0 || dy == 0) && std::abs(moved.x()) <= viewport()->width() / 2
        && std::abs(moved.y()) <= viewport()->height() / 2) {
        viewport()->scroll(moved.x(), moved.y());
        m_editRepaint.moved += moved;
    } else {
        repaintAll();
        m_editRepaint.whole = true;
    }
    if (hasFocus())
        QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle);
}

void TextView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        if (m_wrap) {
            rewrap([this] { updateMetrics(); });
            return;
        }
        updateMetrics();
        updateScrollBars();
        viewport()->update();
    } else if (event->type() == QEvent::PaletteChange) {
        viewport()->update();
    }
}
