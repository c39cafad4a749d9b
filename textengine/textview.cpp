#include "textview.h"

#include "textslicemimedata.h"
#include "textviewaccessible.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>

#include <algorithm>

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
    m_buffer.setChangeListener([this](const TextChange &change) {
        noteChange(change);
        if (m_changeListener)
            m_changeListener(change);
    });
    updateMetrics();
    forgetRows();
    updateScrollBars();
}

TextView::~TextView() = default;

// ----- contents and selection -----

void TextView::setContents(const QString &text)
{
    const qsizetype oldLength = m_buffer.length();
    m_buffer.setText(text);
    showNewContents(oldLength);
}

void TextView::setContents(const TextSlice &text)
{
    const qsizetype oldLength = m_buffer.length();
    m_buffer.adopt(text);
    showNewContents(oldLength);
}

void TextView::beginLoad()
{
    setContents(QString());
    m_loadKept = 0;
}

void TextView::endLoad()
{
    const qsizetype length = m_buffer.length();
    if (length > m_loadKept)
        m_buffer.replace(m_loadKept, length - m_loadKept, QString());
    m_buffer.endLoad();
    showNewContents(0);
}

void TextView::showNewContents(qsizetype oldLength)
{
    m_caret = m_anchor = 0;
    m_preferredX = -1;
    m_clusters.changed(0);
    m_layouts.clear();
    forgetRows();
    m_widestMeasured = 0;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    repaintAll();
    notifyAccessibility(0, oldLength, m_buffer.length());
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

TextView::CaretPlace TextView::caretPlace() const
{
    return { m_buffer.lineAt(m_caret) + 1, m_clusters.column(m_caret) + 1 };
}

TextSlice TextView::selectedSlice() const
{
    return m_buffer.slice(selectionStart(), selectionEnd() - selectionStart());
}

void TextView::replaceSelection(const QString &text)
{
    edit(selectionStart(), selectionEnd() - selectionStart(), text);
}

void TextView::replaceSelection(const TextSlice &text)
{
    edit(selectionStart(), selectionEnd() - selectionStart(), text);
}

void TextView::edit(qsizetype position, qsizetype count, const TextSlice &text,
                    TextBuffer::Merge merge)
{
    const qsizetype start = m_buffer.snapped(position);
    const qsizetype end = std::max(start, m_buffer.snapped(start + count));
    const qsizetype linesBefore = m_buffer.lineCount();
    beginEditRepaint();
    const qsizetype after = m_buffer.replace(start, end - start, text, merge);
    if (after == start && end == start)
        return;
    m_caret = m_anchor = after;
    m_preferredX = -1;
    afterEdit(start, end - start, after - start, linesBefore);
}

void TextView::afterEdit(qsizetype position, qsizetype removed, qsizetype added,
                         qsizetype linesBefore)
{
    const qsizetype line = m_buffer.lineAt(position);
    // The line's rows as counted before, and the layouts kept from before the edit.
    const qsizetype oldRows = m_wrap ? m_rows.rowsOf(line) : 1;
    const quint64 serial = m_layouts.nextSerial();
    const qsizetype delta = linesBefore < 0 ? -1 : m_buffer.lineCount() - linesBefore;
    // An undo step may have changed several places.
    m_clusters.changed(linesBefore < 0 ? 0 : position);
    if (linesBefore < 0) {
        m_layouts.clear();
        if (m_wrap)
            forgetRows();
        m_editRepaint = {};
    } else {
        const qsizetype newLast = m_buffer.lineAt(position + added);
        const qsizetype oldLast = newLast - delta;
        m_layouts.linesReplaced(line, oldLast, delta,
                                keptPieces(line, oldLast, newLast, position, added));
        cutGap(line);
        if (newLast != line)
            cutGap(newLast);
        if (m_wrap) {
            m_rows.linesReplaced(line, oldLast, delta);
            recountRows(line, newLast);
        }
    }
    updateScrollBars();
    ensureCaretVisible();
    restartBlink();
    repaintEdit(position, delta, oldRows, serial);
    notifyAccessibility(position, removed, added);
    Q_EMIT edited(position, removed, added);
    Q_EMIT caretMoved();
}

bool TextView::rewrite(const std::function<bool(TextBuffer::Rewrite &)> &fill,
                       const std::function<void(qint64 done, qint64 total)> &betweenSlices)
{
    TextBuffer::Rewrite rewrite = m_buffer.startRewrite();
    if (!fill(rewrite))
        return false;
    qsizetype shownLength = m_buffer.length(); // the length the view last followed
    const auto shown = [&](qsizetype first) {
        m_caret = m_anchor = first;
        m_preferredX = -1;
        const qsizetype removed = shownLength - first;
        shownLength = m_buffer.length();
        afterEdit(first, removed, shownLength - first, -1);
    };
    // Between slices the view follows the text made so far, so that the window can repaint.
    // A failure there must not stop the rewrite: the view follows again at its end.
    const auto sliceDone = [&](qsizetype first, qint64 done, qint64 total) {
        try {
            shown(first);
            if (betweenSlices)
                betweenSlices(done, total);
        } catch (...) {
        }
    };
    qsizetype first = -1;
    try {
        first = m_buffer.finishRewrite(std::move(rewrite), sliceDone);
    } catch (const TextBuffer::PartialRewrite &partial) {
        shown(partial.span.position);
        throw;
    }
    if (first >= 0)
        shown(first);
    return true;
}

void TextView::typeText(const QString &text)
{
    edit(selectionStart(), selectionEnd() - selectionStart(), text, TextBuffer::Merge::Typing);
}

void TextView::undo()
{
    if (m_buffer.canUndo())
        historyStep(&TextBuffer::undo);
}

void TextView::redo()
{
    if (m_buffer.canRedo())
        historyStep(&TextBuffer::redo);
}

// A step of a rewrite that memory stopped part way has changed the text as far as it got.
void TextView::historyStep(TextBuffer::Span (TextBuffer::*step)())
{
    const qsizetype lengthBefore = m_buffer.length();
    const qsizetype linesBefore = m_buffer.lineCount();
    m_step = { true, false, lengthBefore, -1, lengthBefore };
    beginEditRepaint();
    TextBuffer::Span span;
    try {
        span = (m_buffer.*step)();
    } catch (const TextBuffer::PartialRewrite &partial) {
        m_step.gathering = false;
        afterHistoryStep(partial.span, lengthBefore, -1);
        throw;
    }
    m_step.gathering = false;
    afterHistoryStep(span, lengthBefore, linesBefore);
}

void TextView::noteChange(const TextChange &change)
{
    if (!m_step.gathering)
        return;
    const auto *replaced = std::get_if<TextReplaced>(&change);
    if (!replaced) {
        m_step.whole = true;
        return;
    }
    const qsizetype added = replaced->inserted.length();
    m_step.length += added - replaced->removed;
    m_step.first
        = m_step.first < 0 ? replaced->position : std::min(m_step.first, replaced->position);
    m_step.tail = std::min(m_step.tail, m_step.length - replaced->position - added);
}

// The caret goes after the text the step put back. Only what lies between the step's first and
// last changes is laid out again.
void TextView::afterHistoryStep(const TextBuffer::Span &span, qsizetype lengthBefore,
                                qsizetype linesBefore)
{
    m_anchor = m_caret = span.position + span.length;
    if (linesBefore >= 0 && !m_step.whole && m_step.first >= 0
        && m_step.length == m_buffer.length()) {
        const qsizetype first = m_step.first;
        const qsizetype tail = std::max<qsizetype>(0, m_step.tail);
        afterEdit(first, std::max<qsizetype>(0, lengthBefore - tail - first),
                  std::max<qsizetype>(0, m_buffer.length() - tail - first), linesBefore);
        return;
    }
    const qsizetype removed = lengthBefore - (m_buffer.length() - span.length);
    afterEdit(span.position, std::max<qsizetype>(0, removed), span.length, -1);
}

void TextView::copy()
{
    if (hasSelection())
        QGuiApplication::clipboard()->setMimeData(selectionMimeData());
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
    const TextSlice text = TextSliceMimeData::clipboardText();
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
    repaintMarks();
    notifyAccessibility(m_caret, 0, 0);
    Q_EMIT caretMoved();
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
    } else if (event->timerId() == m_aheadTimer.timerId()) {
        m_aheadTimer.stop();
        layOutAhead();
    } else if (event->timerId() == m_scrollTimer.timerId()) {
        autoScroll();
    } else if (event->timerId() == m_tripleClickTimer.timerId()) {
        m_tripleClickTimer.stop();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}
