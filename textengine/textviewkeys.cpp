#include "textview.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Text that input methods see around the caret in a long line.
constexpr qsizetype SurroundingLength = 1024;

enum class CharClass { Space, Word, Other };

CharClass classOf(QChar c)
{
    if (c.isSpace())
        return CharClass::Space;
    if (c.isLetterOrNumber() || c.isMark() || c == u'_' || c.isSurrogate())
        return CharClass::Word;
    return CharClass::Other;
}

// Reads a line in blocks around the positions asked for: a word may be long, and a look-up in
// the storage costs far more than a character.
class LineReader
{
public:
    LineReader(const TextBuffer &buffer, qsizetype start, qsizetype end)
        : m_buffer(buffer), m_start(start), m_end(end)
    {
    }

    QChar at(qsizetype position)
    {
        if (position < m_from || position >= m_from + m_block.size()) {
            m_from = std::max(m_start, position - Block / 2);
            m_block = m_buffer.mid(m_from, std::min(m_end, m_from + Block) - m_from);
        }
        return m_block.at(position - m_from);
    }

private:
    static constexpr qsizetype Block = 1024;
    const TextBuffer &m_buffer;
    qsizetype m_start;
    qsizetype m_end;
    qsizetype m_from = 0;
    QString m_block;
};

} // namespace

// ----- moves -----

qsizetype TextView::nextCharacter(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype end = m_buffer.lineEnd(line);
    if (position >= end)
        return position < m_buffer.length() ? end + 2 : position;
    const LinePieces pieces = piecesOf(line);
    const qsizetype column = position - pieces.start;
    const qsizetype index = chunkIndexOf(pieces, column);
    const qsizetype chunkStart = chunk(pieces, index).start;
    const int next = layoutFor(pieces, index)->nextCursorPosition(int(column - chunkStart));
    return std::max(position + 1, pieces.start + chunkStart + next);
}

qsizetype TextView::previousCharacter(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype start = m_buffer.lineStart(line);
    if (position <= start)
        return line > 0 ? start - 2 : 0;
    const qsizetype column = position - start;
    const LinePieces pieces = piecesOf(line);
    qsizetype index = chunkIndexOf(pieces, column);
    if (index > 0 && column == chunk(pieces, index).start)
        --index;
    const qsizetype chunkStart = chunk(pieces, index).start;
    const int previous = layoutFor(pieces, index)->previousCursorPosition(int(column - chunkStart));
    return std::min(position - 1, start + chunkStart + previous);
}

std::pair<qsizetype, qsizetype> TextView::wordAt(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype start = m_buffer.lineStart(line);
    const qsizetype end = m_buffer.lineEnd(line);
    if (start == end)
        return { position, position };
    LineReader text(m_buffer, start, end);
    // At the end of a line, or after a word, the word before the position counts.
    qsizetype probe = position;
    if (probe >= end
        || (probe > start && classOf(text.at(probe)) == CharClass::Space
            && classOf(text.at(probe - 1)) != CharClass::Space))
        probe = std::max(start, probe - 1);
    const CharClass kind = classOf(text.at(probe));
    qsizetype from = probe;
    while (from > start && classOf(text.at(from - 1)) == kind)
        --from;
    qsizetype to = probe + 1;
    while (to < end && classOf(text.at(to)) == kind)
        ++to;
    return { from, to };
}

qsizetype TextView::nextWord(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype end = m_buffer.lineEnd(line);
    if (position >= end)
        return nextCharacter(position);
    LineReader text(m_buffer, m_buffer.lineStart(line), end);
    const CharClass kind = classOf(text.at(position));
    if (kind != CharClass::Space) {
        while (position < end && classOf(text.at(position)) == kind)
            ++position;
    }
    while (position < end && classOf(text.at(position)) == CharClass::Space)
        ++position;
    return position;
}

qsizetype TextView::previousWord(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype start = m_buffer.lineStart(line);
    if (position <= start)
        return previousCharacter(position);
    LineReader text(m_buffer, start, m_buffer.lineEnd(line));
    while (position > start && classOf(text.at(position - 1)) == CharClass::Space)
        --position;
    if (position > start) {
        const CharClass kind = classOf(text.at(position - 1));
        while (position > start && classOf(text.at(position - 1)) == kind)
            --position;
    }
    return position;
}

qsizetype TextView::lineMove(qsizetype position, qsizetype lines)
{
    if (m_preferredX < 0)
        m_preferredX = xOfPosition(position);
    if (m_wrap) {
        measureRows(position, lines);
        const qsizetype row = rowOfPosition(position);
        const qsizetype target = std::clamp<qsizetype>(row + lines, 0, m_rows.total() - 1);
        if (target == row && lines != 0)
            return lines < 0 ? 0 : m_buffer.length();
        return positionInRow(target, m_preferredX);
    }
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

// A trailing accent alone, so that it can be typed again; otherwise the whole cluster (a flag,
// an emoji sequence, a surrogate pair, a line break).
qsizetype TextView::backspaceStart(qsizetype position) const
{
    const qsizetype start = previousCharacter(position);
    if (position - start < 2 || m_buffer.at(position - 1).isSurrogate())
        return start;
    return m_buffer.at(position - 1).isMark() ? position - 1 : start;
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
            qsizetype lines = binding.target == NextLine ? 1
                : binding.target == PreviousLine         ? -1
                : binding.target == NextPage             ? page
                                                         : -page;
            if (binding.target == NextPage || binding.target == PreviousPage) {
                // The page turned and the page shown after it are real rows, not estimates
                // that would stop the turn short or take it to the end.
                if (m_wrap)
                    measureRows(topPosition(), lines > 0 ? 2 * lines : lines);
                const int top = topLine();
                verticalScrollBar()->setValue(top + int(lines));
                // As in QPlainTextEdit, the caret keeps its place on the screen when the text
                // ends before a whole page.
                if (m_wrap && topLine() != top)
                    lines = topLine() - top;
            }
            target = lineMove(m_caret, lines);
            keepX = true;
            break;
        }
        case LineStart:
        case LineEnd:
            target
                = binding.target == LineStart ? m_buffer.lineStart(line) : m_buffer.lineEnd(line);
            if (m_wrap) {
                const auto [start, end] = rowBounds(m_caret);
                target = binding.target == LineStart ? start : end;
            }
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
        if (!hasSelection())
            m_anchor = backspaceStart(m_caret);
        typeText(QString());
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A new line ends the undo step of the typing before it.
        typeText(u"\r\n"_s);
        m_buffer.breakUndoMerge();
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
    // A key whose action failed was still this view's key.
    bool handled = true;
    runUserAction([&] { handled = handleNavigation(event) || handleEditing(event); });
    event->setAccepted(handled);
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
        runUserAction([&] {
            if (event->replacementLength() > 0 || event->replacementStart() != 0) {
                const qsizetype from = m_buffer.snapped(m_caret + event->replacementStart());
                m_anchor = from;
                m_caret = m_buffer.snapped(from + event->replacementLength());
            }
            replaceSelection(event->commitString());
        });
    }
    m_preedit = event->preeditString();
    m_preeditCursor = int(m_preedit.size());
    m_preeditFormats.clear();
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            m_preeditCursor = attribute.start;
        } else if (attribute.type == QInputMethodEvent::TextFormat) {
            const QTextCharFormat format
                = qvariant_cast<QTextFormat>(attribute.value).toCharFormat();
            if (format.isValid())
                m_preeditFormats.append({ attribute.start, attribute.length, format });
        }
    }
    // Text not yet committed never looks committed, whatever the input method says.
    if (m_preeditFormats.isEmpty() && !m_preedit.isEmpty()) {
        QTextCharFormat underlined;
        underlined.setFontUnderline(true);
        m_preeditFormats.append({ 0, int(m_preedit.size()), underlined });
    }
    m_layouts.lineRedrawn(m_buffer.lineAt(m_caret));
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
