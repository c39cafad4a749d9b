#include "textview.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>

#include <algorithm>
#include <climits>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// Lines longer than this are laid out in pieces of this many characters.
constexpr qsizetype ChunkLength = 1024;
constexpr int TopMargin = 2;
constexpr int CaretWidth = 1;
// Text that input methods see around the caret in a long line.
constexpr qsizetype SurroundingLength = 1024;

// A line separator inside a line would end the laid-out line early; it is shown as a mark.
QString shownText(QString text)
{
    for (QChar &c : text) {
        if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QChar(0x21b5);
    }
    return text;
}

enum class CharClass { Space, Word, Other };

CharClass classOf(QChar c)
{
    if (c.isSpace())
        return CharClass::Space;
    if (c.isLetterOrNumber() || c.isMark() || c == u'_' || c.isSurrogate())
        return CharClass::Word;
    return CharClass::Other;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Accessibility: the text, the caret and the selection, readable and settable by assistive tools.

class TextViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit TextViewAccessible(TextView *view)
        : QAccessibleWidget(view, QAccessible::EditableText), m_view(view)
    {
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return m_view->buffer().text();
        return QAccessibleWidget::text(t);
    }

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && m_view->hasSelection()) {
            *startOffset = int(m_view->selectionStart());
            *endOffset = int(m_view->selectionEnd());
        }
    }
    int selectionCount() const override { return m_view->hasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        m_view->setSelection(startOffset, endOffset);
    }
    void removeSelection(int) override
    {
        m_view->setSelection(m_view->caretPosition(), m_view->caretPosition());
    }
    void setSelection(int, int startOffset, int endOffset) override
    {
        m_view->setSelection(startOffset, endOffset);
    }
    int cursorPosition() const override { return int(m_view->caretPosition()); }
    void setCursorPosition(int position) override { m_view->setSelection(position, position); }
    QString text(int startOffset, int endOffset) const override
    {
        return m_view->buffer().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(m_view->buffer().length()); }
    QRect characterRect(int offset) const override
    {
        const QRect local = m_view->characterRect(offset);
        return QRect(m_view->viewport()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return int(m_view->positionAt(m_view->viewport()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        m_view->setSelection(startIndex, endIndex);
    }
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return QString();
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                         int *end) const override
    {
        const auto [s, e] = unitAt(offset, type);
        *start = int(s);
        *end = int(e);
        return text(*start, *end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                             int *end) const override
    {
        const qsizetype unitStart = unitAt(offset, type).first;
        if (unitStart <= 0) {
            *start = *end = -1;
            return QString();
        }
        return textAtOffset(int(unitStart - 1), type, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                            int *end) const override
    {
        const qsizetype unitEnd = unitAt(offset, type).second;
        if (unitEnd >= m_view->buffer().length()) {
            *start = *end = -1;
            return QString();
        }
        return textAtOffset(int(unitEnd), type, start, end);
    }

private:
    std::pair<qsizetype, qsizetype> unitAt(qsizetype offset,
                                           QAccessible::TextBoundaryType type) const
    {
        const TextBuffer &buffer = m_view->buffer();
        offset = buffer.snapped(offset);
        switch (type) {
        case QAccessible::CharBoundary:
            return { offset, m_view->nextCharacter(offset) };
        case QAccessible::WordBoundary:
            return m_view->wordAt(offset);
        case QAccessible::NoBoundary:
            return { 0, buffer.length() };
        default: {
            const qsizetype line = buffer.lineAt(offset);
            const qsizetype end
                = line + 1 < buffer.lineCount() ? buffer.lineStart(line + 1) : buffer.length();
            return { buffer.lineStart(line), end };
        }
        }
    }

    TextView *m_view;
};

namespace {

QAccessibleInterface *accessibleTextView(const QString &className, QObject *object)
{
    if (className == u"TextView" && object && object->isWidgetType())
        return new TextViewAccessible(static_cast<TextView *>(object));
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------

TextView::TextView(QWidget *parent) : QAbstractScrollArea(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleTextView);
        return true;
    }();
    Q_UNUSED(factoryInstalled);

    setAttribute(Qt::WA_InputMethodEnabled);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    updateMetrics();
    updateScrollBars();
}

TextView::~TextView() = default;

// ----- contents and selection -----

void TextView::setContents(const QString &text)
{
    const qsizetype oldLength = m_buffer.length();
    m_buffer.setText(text);
    m_caret = m_anchor = 0;
    m_preferredX = -1;
    forgetAllLayouts();
    m_widestMeasured = 0;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
    Q_EMIT edited(0, oldLength, m_buffer.length());
    Q_EMIT caretMoved();
}

QString TextView::selectedText() const
{
    return m_buffer.mid(selectionStart(), selectionEnd() - selectionStart());
}

void TextView::setSelection(qsizetype anchor, qsizetype caret)
{
    m_anchor = m_buffer.snapped(anchor);
    moveCaret(caret, Move::Select);
}

void TextView::replaceSelection(const QString &text)
{
    edit(selectionStart(), selectionEnd() - selectionStart(), text);
}

void TextView::edit(qsizetype position, qsizetype count, const QString &text,
                    TextBuffer::Merge merge)
{
    const qsizetype start = m_buffer.snapped(position);
    const qsizetype end = std::max(start, m_buffer.snapped(start + count));
    const QString removedText
        = QAccessible::isActive() ? m_buffer.mid(start, end - start) : QString();
    const qsizetype linesBefore = m_buffer.lineCount();
    const qsizetype after = m_buffer.replace(start, end - start, text, merge);
    if (after == start && end == start)
        return;
    m_caret = m_anchor = after;
    m_preferredX = -1;
    if (QAccessible::isActive()) {
        if (!removedText.isEmpty()) {
            QAccessibleTextRemoveEvent removed(this, int(start), removedText);
            QAccessible::updateAccessibility(&removed);
        }
        QAccessibleTextInsertEvent inserted(this, int(start), m_buffer.mid(start, after - start));
        QAccessible::updateAccessibility(&inserted);
    }
    afterEdit(start, end - start, after - start, linesBefore);
}

void TextView::afterEdit(qsizetype position, qsizetype removed, qsizetype added,
                         qsizetype linesBefore)
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype lastLine = m_buffer.lineAt(position + added);
    // An undo step may have changed several places; a big change redoes every layout anyway.
    if (linesBefore < 0 || m_buffer.lineCount() != linesBefore || lastLine - line > 8) {
        forgetAllLayouts();
    } else {
        for (qsizetype changed = line; changed <= lastLine; ++changed) {
            forgetLayouts(changed);
            if (changed > line)
                m_chunkWidths.erase(changed);
        }
        const auto widths = m_chunkWidths.find(line);
        if (widths != m_chunkWidths.end()) {
            // Chunks before the edit keep their place and their measured width.
            const qsizetype from = chunkIndexOf(line, position - m_buffer.lineStart(line));
            widths->second.resize(size_t(chunkCount(line)), 0);
            std::fill(widths->second.begin() + from, widths->second.end(), 0);
        }
    }
    updateScrollBars();
    ensureCaretVisible();
    restartBlink();
    viewport()->update();
    Q_EMIT edited(position, removed, added);
    Q_EMIT caretMoved();
}

void TextView::typeText(const QString &text)
{
    edit(selectionStart(), selectionEnd() - selectionStart(), text, TextBuffer::Merge::Typing);
}

void TextView::undo()
{
    if (m_buffer.canUndo())
        afterHistoryStep(m_buffer.undo());
}

void TextView::redo()
{
    if (m_buffer.canRedo())
        afterHistoryStep(m_buffer.redo());
}

// The caret goes after the text the step put back.
void TextView::afterHistoryStep(const TextBuffer::Span &span)
{
    m_anchor = m_caret = span.position + span.length;
    afterEdit(span.position, 0, span.length, -1);
}

void TextView::copy()
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void TextView::cut()
{
    if (!hasSelection())
        return;
    copy();
    deleteSelection();
}

void TextView::paste()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        replaceSelection(text);
}

void TextView::deleteSelection()
{
    if (hasSelection())
        replaceSelection(QString());
}

void TextView::selectAll()
{
    m_anchor = 0;
    moveCaret(m_buffer.length(), Move::Select);
}

void TextView::moveCaret(qsizetype position, Move move)
{
    m_caret = m_buffer.snapped(position);
    m_preferredX = -1;
    if (move == Move::Keep)
        m_anchor = m_caret;
    m_buffer.breakUndoMerge();
    ensureCaretVisible();
    restartBlink();
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent moved(this, int(m_caret));
        QAccessible::updateAccessibility(&moved);
        if (hasSelection()) {
            QAccessibleTextSelectionEvent selected(this, int(selectionStart()),
                                                   int(selectionEnd()));
            QAccessible::updateAccessibility(&selected);
        }
    }
    Q_EMIT caretMoved();
}

// ----- chunks and layouts -----

qsizetype TextView::chunkCount(qsizetype line) const
{
    const qsizetype length = m_buffer.lineLength(line);
    return length <= ChunkLength ? 1 : (length + ChunkLength - 1) / ChunkLength;
}

TextView::Chunk TextView::chunk(qsizetype line, qsizetype index) const
{
    const qsizetype length = m_buffer.lineLength(line);
    const qsizetype count = chunkCount(line);
    const qsizetype lineStart = m_buffer.lineStart(line);
    const auto startOf = [&](qsizetype k) -> qsizetype {
        if (k <= 0)
            return 0;
        if (k >= count)
            return length;
        qsizetype start = k * ChunkLength;
        // Never split a surrogate pair between two chunks.
        if (m_buffer.at(lineStart + start - 1).isHighSurrogate())
            ++start;
        return start;
    };
    const qsizetype start = startOf(index);
    return { start, startOf(index + 1) - start };
}

qsizetype TextView::chunkIndexOf(qsizetype line, qsizetype column) const
{
    const qsizetype count = chunkCount(line);
    if (count == 1)
        return 0;
    qsizetype index = std::min(column / ChunkLength, count - 1);
    if (index > 0 && column < chunk(line, index).start)
        --index;
    return index;
}

qreal TextView::chunkWidth(qsizetype line, qsizetype index) const
{
    const qsizetype count = chunkCount(line);
    if (count == 1) {
        // Widths are kept only for long lines, so scrolling through many short ones keeps none.
        const auto found = m_layouts.find({ line, 0 });
        if (found != m_layouts.end() && found->second->lineCount() > 0)
            return found->second->lineAt(0).naturalTextWidth();
        return qreal(m_buffer.lineLength(line)) * m_charWidth;
    }
    auto &widths = m_chunkWidths[line];
    if (qsizetype(widths.size()) != count)
        widths.resize(size_t(count), 0);
    if (widths[size_t(index)] > 0)
        return widths[size_t(index)];
    return qreal(chunk(line, index).length) * m_charWidth;
}

qreal TextView::chunkX(qsizetype line, qsizetype index) const
{
    qreal x = 0;
    for (qsizetype k = 0; k < index; ++k)
        x += chunkWidth(line, k);
    return x;
}

QTextLayout *TextView::layoutFor(qsizetype line, qsizetype index) const
{
    const LayoutKey key { line, index };
    const auto found = m_layouts.find(key);
    if (found != m_layouts.end())
        return found->second.get();

    const Chunk piece = chunk(line, index);
    auto layout = std::make_unique<QTextLayout>(
        shownText(m_buffer.mid(m_buffer.lineStart(line) + piece.start, piece.length)), font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(QFontMetricsF(font()).horizontalAdvance(u' ') * 8);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    const qsizetype caretLine = m_buffer.lineAt(m_caret);
    if (!m_preedit.isEmpty() && line == caretLine
        && index == chunkIndexOf(line, m_caret - m_buffer.lineStart(line)))
        layout->setPreeditArea(int(m_caret - m_buffer.lineStart(line) - piece.start), m_preedit);
    layout->beginLayout();
    QTextLine textLine = layout->createLine();
    if (textLine.isValid()) {
        textLine.setLineWidth(qreal(INT_MAX / 4));
        textLine.setPosition(QPointF(0, 0));
    }
    layout->endLayout();

    const qreal width = textLine.isValid() ? textLine.naturalTextWidth() : 0;
    if (chunkCount(line) > 1) {
        chunkWidth(line, index); // sizes the list
        m_chunkWidths[line][size_t(index)] = std::max<qreal>(width, 1);
    } else if (width > m_widestMeasured) {
        m_widestMeasured = width;
    }
    // Far more than a screenful: forget them all rather than track their age.
    if (m_layouts.size() > 4000)
        m_layouts.clear();
    QTextLayout *result = layout.get();
    m_layouts.emplace(key, std::move(layout));
    return result;
}

void TextView::forgetLayouts(qsizetype line)
{
    std::erase_if(m_layouts, [line](const auto &entry) { return entry.first.line == line; });
}

void TextView::forgetAllLayouts()
{
    m_layouts.clear();
    m_chunkWidths.clear();
}

qreal TextView::xOfPosition(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype column = position - m_buffer.lineStart(line);
    const qsizetype index = chunkIndexOf(line, column);
    const Chunk piece = chunk(line, index);
    const QTextLayout *layout = layoutFor(line, index);
    const qreal inChunk
        = layout->lineCount() > 0 ? layout->lineAt(0).cursorToX(int(column - piece.start)) : 0;
    return chunkX(line, index) + inChunk;
}

qsizetype TextView::positionInLine(qsizetype line, qreal x) const
{
    const qsizetype count = chunkCount(line);
    qreal left = 0;
    for (qsizetype index = 0; index < count; ++index) {
        const qreal width = chunkWidth(line, index);
        if (x < left + width || index == count - 1) {
            const QTextLayout *layout = layoutFor(line, index);
            const int column = layout->lineCount() > 0 ? layout->lineAt(0).xToCursor(x - left) : 0;
            return m_buffer.lineStart(line) + chunk(line, index).start + column;
        }
        left += width;
    }
    return m_buffer.lineStart(line);
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
    const int top = TopMargin + int(line - topLine()) * m_lineHeight;
    return QRect(left, top, std::max(1, int(std::ceil(std::abs(next - x)))), m_lineHeight);
}

QRect TextView::caretRect() const
{
    const qsizetype line = m_buffer.lineAt(m_caret);
    const int x = m_margin - leftOffset() + int(std::floor(xOfPosition(m_caret)));
    const int y = TopMargin + int(line - topLine()) * m_lineHeight;
    return QRect(x, y, CaretWidth, m_lineHeight);
}

qsizetype TextView::positionAt(const QPoint &point) const
{
    const qsizetype row = point.y() < TopMargin ? -1 : (point.y() - TopMargin) / m_lineHeight;
    const qsizetype line = std::clamp<qsizetype>(topLine() + row, 0, m_buffer.lineCount() - 1);
    return positionInLine(line, qreal(point.x() - m_margin + leftOffset()));
}

// ----- moves -----

qsizetype TextView::nextCharacter(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype end = m_buffer.lineEnd(line);
    if (position >= end)
        return position < m_buffer.length() ? end + 2 : position;
    const qsizetype column = position - m_buffer.lineStart(line);
    const qsizetype index = chunkIndexOf(line, column);
    const qsizetype chunkStart = chunk(line, index).start;
    const int next = layoutFor(line, index)->nextCursorPosition(int(column - chunkStart));
    return std::max(position + 1, m_buffer.lineStart(line) + chunkStart + next);
}

qsizetype TextView::previousCharacter(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype start = m_buffer.lineStart(line);
    if (position <= start)
        return line > 0 ? start - 2 : 0;
    const qsizetype column = position - start;
    qsizetype index = chunkIndexOf(line, column);
    if (index > 0 && column == chunk(line, index).start)
        --index;
    const qsizetype chunkStart = chunk(line, index).start;
    const int previous = layoutFor(line, index)->previousCursorPosition(int(column - chunkStart));
    return std::min(position - 1, start + chunkStart + previous);
}

std::pair<qsizetype, qsizetype> TextView::wordAt(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype start = m_buffer.lineStart(line);
    const qsizetype end = m_buffer.lineEnd(line);
    if (start == end)
        return { position, position };
    // At the end of a line, or after a word, the word before the position counts.
    qsizetype probe = position;
    if (probe >= end
        || (probe > start && classOf(m_buffer.at(probe)) == CharClass::Space
            && classOf(m_buffer.at(probe - 1)) != CharClass::Space))
        probe = std::max(start, probe - 1);
    const CharClass kind = classOf(m_buffer.at(probe));
    qsizetype from = probe;
    while (from > start && classOf(m_buffer.at(from - 1)) == kind)
        --from;
    qsizetype to = probe + 1;
    while (to < end && classOf(m_buffer.at(to)) == kind)
        ++to;
    return { from, to };
}

qsizetype TextView::nextWord(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype end = m_buffer.lineEnd(line);
    if (position >= end)
        return nextCharacter(position);
    const CharClass kind = classOf(m_buffer.at(position));
    if (kind != CharClass::Space) {
        while (position < end && classOf(m_buffer.at(position)) == kind)
            ++position;
    }
    while (position < end && classOf(m_buffer.at(position)) == CharClass::Space)
        ++position;
    return position;
}

qsizetype TextView::previousWord(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype start = m_buffer.lineStart(line);
    if (position <= start)
        return previousCharacter(position);
    while (position > start && classOf(m_buffer.at(position - 1)) == CharClass::Space)
        --position;
    if (position > start) {
        const CharClass kind = classOf(m_buffer.at(position - 1));
        while (position > start && classOf(m_buffer.at(position - 1)) == kind)
            --position;
    }
    return position;
}

qsizetype TextView::lineMove(qsizetype position, qsizetype lines)
{
    if (m_preferredX < 0)
        m_preferredX = xOfPosition(position);
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype target = std::clamp<qsizetype>(line + lines, 0, m_buffer.lineCount() - 1);
    if (target == line) {
        if (lines < 0)
            return m_buffer.lineStart(line);
        if (lines > 0)
            return m_buffer.lineEnd(line);
    }
    return positionInLine(target, m_preferredX);
}

void TextView::selectWordAt(qsizetype position)
{
    const auto [from, to] = wordAt(position);
    m_anchor = from;
    moveCaret(to, Move::Select);
}

// ----- keys -----

bool TextView::isNavigationOrEditKey(QKeyEvent *event)
{
    static const QKeySequence::StandardKey keys[] = {
        QKeySequence::Undo,
        QKeySequence::Redo,
        QKeySequence::Copy,
        QKeySequence::Cut,
        QKeySequence::Paste,
        QKeySequence::SelectAll,
        QKeySequence::Delete,
        QKeySequence::Backspace,
        QKeySequence::DeleteStartOfWord,
        QKeySequence::DeleteEndOfWord,
        QKeySequence::MoveToNextChar,
        QKeySequence::MoveToPreviousChar,
        QKeySequence::MoveToNextWord,
        QKeySequence::MoveToPreviousWord,
        QKeySequence::MoveToNextLine,
        QKeySequence::MoveToPreviousLine,
        QKeySequence::MoveToNextPage,
        QKeySequence::MoveToPreviousPage,
        QKeySequence::MoveToStartOfLine,
        QKeySequence::MoveToEndOfLine,
        QKeySequence::MoveToStartOfDocument,
        QKeySequence::MoveToEndOfDocument,
        QKeySequence::SelectNextChar,
        QKeySequence::SelectPreviousChar,
        QKeySequence::SelectNextWord,
        QKeySequence::SelectPreviousWord,
        QKeySequence::SelectNextLine,
        QKeySequence::SelectPreviousLine,
        QKeySequence::SelectNextPage,
        QKeySequence::SelectPreviousPage,
        QKeySequence::SelectStartOfLine,
        QKeySequence::SelectEndOfLine,
        QKeySequence::SelectStartOfDocument,
        QKeySequence::SelectEndOfDocument,
    };
    for (QKeySequence::StandardKey key : keys) {
        if (event->matches(key))
            return true;
    }
    return false;
}

bool TextView::handleNavigation(QKeyEvent *event)
{
    enum Target {
        NextChar,
        PreviousChar,
        NextWord,
        PreviousWord,
        NextLine,
        PreviousLine,
        NextPage,
        PreviousPage,
        LineStart,
        LineEnd,
        TextStart,
        TextEnd
    };
    struct Binding
    {
        QKeySequence::StandardKey key;
        Target target;
        bool select;
    };
    static const Binding bindings[] = {
        { QKeySequence::MoveToNextChar, NextChar, false },
        { QKeySequence::MoveToPreviousChar, PreviousChar, false },
        { QKeySequence::MoveToNextWord, NextWord, false },
        { QKeySequence::MoveToPreviousWord, PreviousWord, false },
        { QKeySequence::MoveToNextLine, NextLine, false },
        { QKeySequence::MoveToPreviousLine, PreviousLine, false },
        { QKeySequence::MoveToNextPage, NextPage, false },
        { QKeySequence::MoveToPreviousPage, PreviousPage, false },
        { QKeySequence::MoveToStartOfLine, LineStart, false },
        { QKeySequence::MoveToEndOfLine, LineEnd, false },
        { QKeySequence::MoveToStartOfDocument, TextStart, false },
        { QKeySequence::MoveToEndOfDocument, TextEnd, false },
        { QKeySequence::SelectNextChar, NextChar, true },
        { QKeySequence::SelectPreviousChar, PreviousChar, true },
        { QKeySequence::SelectNextWord, NextWord, true },
        { QKeySequence::SelectPreviousWord, PreviousWord, true },
        { QKeySequence::SelectNextLine, NextLine, true },
        { QKeySequence::SelectPreviousLine, PreviousLine, true },
        { QKeySequence::SelectNextPage, NextPage, true },
        { QKeySequence::SelectPreviousPage, PreviousPage, true },
        { QKeySequence::SelectStartOfLine, LineStart, true },
        { QKeySequence::SelectEndOfLine, LineEnd, true },
        { QKeySequence::SelectStartOfDocument, TextStart, true },
        { QKeySequence::SelectEndOfDocument, TextEnd, true },
    };
    for (const Binding &binding : bindings) {
        if (!event->matches(binding.key))
            continue;
        const qsizetype line = m_buffer.lineAt(m_caret);
        bool keepX = false;
        qsizetype target = m_caret;
        switch (binding.target) {
        case NextChar:
            target = hasSelection() && !binding.select ? selectionEnd() : nextCharacter(m_caret);
            break;
        case PreviousChar:
            target
                = hasSelection() && !binding.select ? selectionStart() : previousCharacter(m_caret);
            break;
        case NextWord:
            target = nextWord(m_caret);
            break;
        case PreviousWord:
            target = previousWord(m_caret);
            break;
        case NextLine:
        case PreviousLine:
        case NextPage:
        case PreviousPage: {
            const qsizetype page = visibleLines();
            const qsizetype lines = binding.target == NextLine ? 1
                : binding.target == PreviousLine               ? -1
                : binding.target == NextPage                   ? page
                                                               : -page;
            if (binding.target == NextPage || binding.target == PreviousPage)
                verticalScrollBar()->setValue(topLine() + int(lines));
            target = lineMove(m_caret, lines);
            keepX = true;
            break;
        }
        case LineStart:
            target = m_buffer.lineStart(line);
            break;
        case LineEnd:
            target = m_buffer.lineEnd(line);
            break;
        case TextStart:
            target = 0;
            break;
        case TextEnd:
            target = m_buffer.length();
            break;
        }
        const qreal keptX = m_preferredX;
        moveCaret(target, binding.select ? Move::Select : Move::Keep);
        m_preferredX = keepX ? keptX : -1;
        return true;
    }
    return false;
}

bool TextView::handleEditing(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool control = modifiers & Qt::ControlModifier;
    if (event->matches(QKeySequence::Undo)) {
        undo();
    } else if (event->matches(QKeySequence::Redo) || (control && event->key() == Qt::Key_Y)
               || (control && (modifiers & Qt::ShiftModifier) && event->key() == Qt::Key_Z)) {
        redo();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::DeleteStartOfWord)) {
        if (!hasSelection())
            m_anchor = previousWord(m_caret);
        typeText(QString());
    } else if (event->matches(QKeySequence::DeleteEndOfWord)) {
        if (!hasSelection())
            m_anchor = nextWord(m_caret);
        typeText(QString());
    } else if (event->matches(QKeySequence::Delete) || event->key() == Qt::Key_Delete) {
        if (!hasSelection())
            m_anchor = nextCharacter(m_caret);
        typeText(QString());
    } else if (event->key() == Qt::Key_Backspace && !control) {
        if (!hasSelection()) {
            // One character back, a whole line break or a whole surrogate pair.
            qsizetype back = m_caret - 1;
            if (back > 0 && (m_buffer.at(back) == u'\n' || m_buffer.at(back).isLowSurrogate()))
                --back;
            m_anchor = std::max<qsizetype>(0, back);
        }
        typeText(QString());
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        typeText(u"\r\n"_s);
    } else if (event->key() == Qt::Key_Tab
               && !(modifiers & (Qt::ControlModifier | Qt::AltModifier))) {
        typeText(u"\t"_s);
    } else {
        const QString text = event->text();
        const bool commandKey = control && !(modifiers & Qt::AltModifier);
        if (text.isEmpty() || commandKey || text.at(0).unicode() < 32
            || text.at(0).unicode() == 127)
            return false;
        typeText(text);
    }
    return true;
}

void TextView::keyPressEvent(QKeyEvent *event)
{
    if (handleNavigation(event) || handleEditing(event)) {
        event->accept();
        return;
    }
    event->ignore();
}

bool TextView::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers
            = key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
        const bool plainKey = modifiers == Qt::NoModifier
            && (key->key() < Qt::Key_Escape || key->key() == Qt::Key_Return
                || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Delete
                || key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Tab
                || key->key() == Qt::Key_Home || key->key() == Qt::Key_End
                || (key->key() >= Qt::Key_Left && key->key() <= Qt::Key_Down));
        if (plainKey || isNavigationOrEditKey(key)) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

bool TextView::focusNextPrevChild(bool next)
{
    // Tab is a character of the text, not a move to the next widget.
    Q_UNUSED(next);
    return false;
}

// ----- input methods -----

void TextView::inputMethodEvent(QInputMethodEvent *event)
{
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        if (event->replacementLength() > 0 || event->replacementStart() != 0) {
            const qsizetype from = m_buffer.snapped(m_caret + event->replacementStart());
            m_anchor = from;
            m_caret = m_buffer.snapped(from + event->replacementLength());
        }
        replaceSelection(event->commitString());
    }
    m_preedit = event->preeditString();
    m_preeditCursor = int(m_preedit.size());
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor)
            m_preeditCursor = attribute.start;
    }
    forgetLayouts(m_buffer.lineAt(m_caret));
    viewport()->update();
    event->accept();
}

QVariant TextView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const qsizetype line = m_buffer.lineAt(m_caret);
    const qsizetype lineStart = m_buffer.lineStart(line);
    const qsizetype lineEnd = m_buffer.lineEnd(line);
    // A long line is offered only around the caret.
    const qsizetype from = std::max(lineStart, m_caret - SurroundingLength);
    const qsizetype to = std::min(lineEnd, m_caret + SurroundingLength);
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    case Qt::ImCursorRectangle:
        return caretRect().translated(viewport()->pos());
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return int(m_caret - from);
    case Qt::ImAnchorPosition:
        return int(std::clamp(m_anchor, from, to) - from);
    case Qt::ImSurroundingText:
        return m_buffer.mid(from, to - from);
    case Qt::ImCurrentSelection:
        return selectedText();
    case Qt::ImAbsolutePosition:
        return qlonglong(m_caret);
    case Qt::ImTextBeforeCursor:
        return m_buffer.mid(from, m_caret - from);
    case Qt::ImTextAfterCursor:
        return m_buffer.mid(m_caret, to - m_caret);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ----- painting and geometry -----

void TextView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    const QPalette colors = palette();
    painter.fillRect(area, colors.brush(QPalette::Base));
    painter.setPen(colors.color(QPalette::Text));

    QTextCharFormat selectedFormat;
    selectedFormat.setBackground(colors.brush(QPalette::Highlight));
    selectedFormat.setForeground(colors.brush(QPalette::HighlightedText));

    const qsizetype first = topLine() + std::max(0, (area.top() - TopMargin) / m_lineHeight);
    const qsizetype last = std::min<qsizetype>(
        m_buffer.lineCount() - 1, topLine() + (area.bottom() - TopMargin) / m_lineHeight);
    const qreal origin = m_margin - leftOffset();
    const qreal visibleLeft = area.left() - origin;
    const qreal visibleRight = area.right() + 1 - origin;
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    const bool caretVisible = (m_caretShown && hasFocus()) || !m_preedit.isEmpty();

    for (qsizetype line = first; line <= last; ++line) {
        const qreal y = TopMargin + qreal(line - topLine()) * m_lineHeight;
        const qsizetype lineStart = m_buffer.lineStart(line);
        const qsizetype lineEnd = m_buffer.lineEnd(line);
        const qsizetype count = chunkCount(line);
        qreal left = 0;
        for (qsizetype index = 0; index < count && left < visibleRight; ++index) {
            const qreal width = chunkWidth(line, index);
            if (left + width < visibleLeft && index + 1 < count) {
                left += width;
                continue;
            }
            QTextLayout *layout = layoutFor(line, index);
            const Chunk piece = chunk(line, index);
            const qsizetype pieceStart = lineStart + piece.start;
            QList<QTextLayout::FormatRange> selections;
            const qsizetype from = std::max(selStart, pieceStart);
            const qsizetype to = std::min(selEnd, pieceStart + piece.length);
            if (from < to)
                selections.append({ int(from - pieceStart), int(to - from), selectedFormat });
            const QPointF at(origin + left, y);
            layout->draw(&painter, at, selections);
            const bool lastPiece = index + 1 == count;
            if (lastPiece && selStart <= lineEnd && selEnd > lineEnd) {
                // A selected line break shows as a little selected space.
                const qreal endX = layout->lineCount() ? layout->lineAt(0).naturalTextWidth() : 0;
                painter.fillRect(QRectF(at.x() + endX, y, m_charWidth / 2, m_lineHeight),
                                 colors.brush(QPalette::Highlight));
            }
            const bool caretHere = m_caret >= pieceStart
                && (m_caret < pieceStart + piece.length || (lastPiece && m_caret == lineEnd));
            if (caretVisible && caretHere) {
                const int column
                    = int(m_caret - pieceStart) + (m_preedit.isEmpty() ? 0 : m_preeditCursor);
                layout->drawCursor(&painter, at, column, CaretWidth);
            }
            left += layout->lineCount() ? chunkWidth(line, index) : width;
        }
    }
    if (m_dropCaret >= 0) {
        const qsizetype line = m_buffer.lineAt(m_dropCaret);
        const QRectF mark(origin + xOfPosition(m_dropCaret),
                          TopMargin + qreal(line - topLine()) * m_lineHeight, 2, m_lineHeight);
        painter.fillRect(mark, colors.brush(QPalette::Text));
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
    vertical->setRange(0, int(std::max<qsizetype>(0, m_buffer.lineCount() - lines)));
    vertical->setPageStep(lines);
    vertical->setSingleStep(1);

    // The widest line is estimated from the longest one, and raised as lines are measured.
    const qreal estimate = qreal(m_buffer.longestLine()) * m_charWidth;
    const qreal content = std::max(estimate, m_widestMeasured) + 2 * m_margin + CaretWidth;
    const int width = viewport()->width();
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setRange(0, int(std::clamp<qreal>(content - width, 0, INT_MAX / 2)));
    horizontal->setPageStep(std::max(1, width));
    horizontal->setSingleStep(std::max(1, int(m_charWidth * 2)));
}

void TextView::ensureCaretVisible()
{
    const qsizetype line = m_buffer.lineAt(m_caret);
    const int lines = visibleLines();
    QScrollBar *vertical = verticalScrollBar();
    if (line < topLine())
        vertical->setValue(int(line));
    else if (line >= topLine() + lines)
        vertical->setValue(int(line - lines + 1));

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
    updateScrollBars();
}

void TextView::scrollContentsBy(int, int)
{
    viewport()->update();
    if (hasFocus())
        QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle);
}

void TextView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        updateMetrics();
        updateScrollBars();
        viewport()->update();
    } else if (event->type() == QEvent::PaletteChange) {
        viewport()->update();
    }
}

// ----- caret blink and focus -----

void TextView::restartBlink()
{
    m_caretShown = true;
    const int interval = QGuiApplication::styleHints()->cursorFlashTime() / 2;
    if (hasFocus() && interval > 0)
        m_blinkTimer.start(interval, this);
    else
        m_blinkTimer.stop();
}

void TextView::updateCaret() { viewport()->update(caretRect().adjusted(-2, 0, 2, 0)); }

void TextView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
    viewport()->update();
}

void TextView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blinkTimer.stop();
    m_caretShown = false;
    viewport()->update();
}

void TextView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_blinkTimer.timerId()) {
        m_caretShown = !m_caretShown;
        updateCaret();
    } else if (event->timerId() == m_scrollTimer.timerId()) {
        autoScroll();
    } else if (event->timerId() == m_tripleClickTimer.timerId()) {
        m_tripleClickTimer.stop();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

// ----- mouse -----

void TextView::mousePressEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        // Pastes the text selected anywhere on the desktop, where the mouse is.
        const QString selected = clipboard->text(QClipboard::Selection);
        if (!selected.isEmpty()) {
            const qsizetype position = positionAt(point);
            m_anchor = m_caret = position;
            replaceSelection(selected);
        }
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    if (m_tripleClickTimer.isActive()
        && (point - m_tripleClickPoint).manhattanLength() < QApplication::startDragDistance()) {
        m_tripleClickTimer.stop();
        const qsizetype line = m_buffer.lineAt(positionAt(point));
        m_anchor = m_buffer.lineStart(line);
        moveCaret(line + 1 < m_buffer.lineCount() ? m_buffer.lineStart(line + 1)
                                                  : m_buffer.length(),
                  Move::Select);
        m_selecting = false;
        return;
    }
    const qsizetype position = positionAt(point);
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    if (!extend && hasSelection() && position >= selectionStart() && position < selectionEnd()) {
        m_maybeDrag = true;
        m_pressPos = point;
        return;
    }
    m_selecting = true;
    m_wordSelecting = false;
    m_lastMousePos = point;
    moveCaret(position, extend ? Move::Select : Move::Keep);
}

void TextView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    m_maybeDrag = false;
    selectWordAt(positionAt(event->position().toPoint()));
    m_selecting = true;
    m_wordSelecting = true;
    m_wordAnchorStart = selectionStart();
    m_wordAnchorEnd = selectionEnd();
    m_tripleClickPoint = event->position().toPoint();
    m_tripleClickTimer.start(QApplication::doubleClickInterval(), this);
}

void TextView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (m_maybeDrag) {
        if ((point - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
            m_maybeDrag = false;
            startDrag();
        }
        return;
    }
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    m_lastMousePos = point;
    if (viewport()->rect().contains(point))
        m_scrollTimer.stop();
    else if (!m_scrollTimer.isActive())
        m_scrollTimer.start(50, this);
    autoScroll();
}

// Extends the selection to the mouse, scrolling first when the mouse is outside the text.
void TextView::autoScroll()
{
    const QRect inside = viewport()->rect();
    const QPoint point = m_lastMousePos;
    if (point.y() < inside.top())
        verticalScrollBar()->setValue(topLine() - 1 - (inside.top() - point.y()) / m_lineHeight);
    else if (point.y() > inside.bottom())
        verticalScrollBar()->setValue(topLine() + 1 + (point.y() - inside.bottom()) / m_lineHeight);
    if (point.x() < inside.left())
        horizontalScrollBar()->setValue(leftOffset() - std::max(8, inside.left() - point.x()));
    else if (point.x() > inside.right())
        horizontalScrollBar()->setValue(leftOffset() + std::max(8, point.x() - inside.right()));

    const QPoint clamped(std::clamp(point.x(), inside.left(), inside.right()),
                         std::clamp(point.y(), inside.top(), inside.bottom()));
    const qsizetype position = positionAt(clamped);
    if (m_wordSelecting) {
        const auto [from, to] = wordAt(position);
        if (position < m_wordAnchorStart) {
            m_anchor = m_wordAnchorEnd;
            moveCaret(from, Move::Select);
        } else {
            m_anchor = m_wordAnchorStart;
            moveCaret(std::max(to, m_wordAnchorEnd), Move::Select);
        }
    } else {
        moveCaret(position, Move::Select);
    }
}

void TextView::mouseReleaseEvent(QMouseEvent *event)
{
    m_scrollTimer.stop();
    if (m_maybeDrag) {
        m_maybeDrag = false;
        moveCaret(positionAt(event->position().toPoint()), Move::Keep);
    }
    if (m_selecting && hasSelection() && QGuiApplication::clipboard()->supportsSelection())
        QGuiApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
    m_selecting = false;
    m_wordSelecting = false;
}

// ----- drag and drop -----

QMimeData *TextView::selectionMimeData() const
{
    auto *data = new QMimeData;
    data->setText(selectedText());
    return data;
}

void TextView::startDrag()
{
    auto *drag = new QDrag(this);
    drag->setMimeData(selectionMimeData());
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    // A move within this view was done by the drop; a move elsewhere takes the text away.
    if (action == Qt::MoveAction && drag->target() != this && drag->target() != viewport())
        deleteSelection();
}

void TextView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TextView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    const QPoint point = event->position().toPoint();
    const QRect inside = viewport()->rect().adjusted(0, m_lineHeight, 0, -m_lineHeight);
    if (point.y() < inside.top())
        verticalScrollBar()->setValue(topLine() - 1);
    else if (point.y() > inside.bottom())
        verticalScrollBar()->setValue(topLine() + 1);
    m_dropCaret = positionAt(point);
    viewport()->update();
    event->acceptProposedAction();
}

void TextView::dragLeaveEvent(QDragLeaveEvent *event)
{
    Q_UNUSED(event);
    m_dropCaret = -1;
    viewport()->update();
}

void TextView::dropEvent(QDropEvent *event)
{
    m_dropCaret = -1;
    if (!event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    const QString text = event->mimeData()->text();
    qsizetype position = positionAt(event->position().toPoint());
    const bool fromHere = event->source() == this;
    const bool move = fromHere && event->dropAction() == Qt::MoveAction;
    if (fromHere && position >= selectionStart() && position <= selectionEnd()) {
        // Dropped onto itself: nothing moves.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        viewport()->update();
        return;
    }
    m_buffer.beginUndoGroup();
    if (move) {
        const qsizetype start = selectionStart();
        const qsizetype length = selectionEnd() - start;
        edit(start, length, QString());
        if (position > start)
            position -= length;
    }
    edit(position, 0, text);
    m_buffer.endUndoGroup();
    m_anchor = position;
    moveCaret(position + TextBuffer::withCrLf(text).size(), Move::Select);
    event->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
}

// ----- context menu -----

QMenu *TextView::createContextMenu()
{
    auto *menu = new QMenu(this);
    menu->setObjectName(u"textContextMenu"_s);
    const auto add = [&](const QString &name, const QString &caption, QKeySequence::StandardKey key,
                         bool enabled, auto slot) {
        QAction *action = menu->addAction(caption, this, slot);
        action->setObjectName(name);
        action->setShortcut(QKeySequence(key));
        action->setShortcutVisibleInContextMenu(true);
        action->setEnabled(enabled);
    };
    const bool canPaste = !QGuiApplication::clipboard()->text().isEmpty();
    add(u"undo"_s, tr("&Undo"), QKeySequence::Undo, m_buffer.canUndo(), &TextView::undo);
    add(u"redo"_s, tr("&Redo"), QKeySequence::Redo, m_buffer.canRedo(), &TextView::redo);
    menu->addSeparator();
    add(u"cut"_s, tr("Cu&t"), QKeySequence::Cut, hasSelection(), &TextView::cut);
    add(u"copy"_s, tr("&Copy"), QKeySequence::Copy, hasSelection(), &TextView::copy);
    add(u"paste"_s, tr("&Paste"), QKeySequence::Paste, canPaste, &TextView::paste);
    add(u"delete"_s, tr("Delete"), QKeySequence::UnknownKey, hasSelection(),
        &TextView::deleteSelection);
    menu->addSeparator();
    add(u"selectAll"_s, tr("Select All"), QKeySequence::SelectAll, m_buffer.length() > 0,
        &TextView::selectAll);
    return menu;
}

void TextView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // From the keyboard, the menu opens at the caret rather than in the middle of the text.
    const QPoint at = event->reason() == QContextMenuEvent::Keyboard
        ? viewport()->mapToGlobal(caretRect().bottomLeft())
        : event->globalPos();
    menu->popup(at);
    event->accept();
}
