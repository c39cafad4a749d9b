#include "textview.h"

#include "textslicemimedata.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Closes the group on every way out, a failure included.
class UndoGroup
{
public:
    explicit UndoGroup(TextBuffer &buffer) : m_buffer(buffer) { m_buffer.beginUndoGroup(); }
    ~UndoGroup() { m_buffer.endUndoGroup(); }
    UndoGroup(const UndoGroup &) = delete;
    UndoGroup &operator=(const UndoGroup &) = delete;

private:
    TextBuffer &m_buffer;
};

} // namespace

// ----- mouse -----

void TextView::mousePressEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        // Pastes the text selected anywhere on the desktop, where the mouse is.
        runUserAction([&] {
            const TextSlice selected = TextSliceMimeData::clipboardText(QClipboard::Selection);
            if (!selected.isEmpty()) {
                m_anchor = m_caret = positionAt(point);
                replaceSelection(selected);
            }
        });
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
            runUserAction([this] { startDrag(); });
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
    const bool offerSelection = m_selecting && hasSelection();
    m_selecting = false;
    m_wordSelecting = false;
    if (offerSelection && QGuiApplication::clipboard()->supportsSelection()) {
        runUserAction([this] {
            QGuiApplication::clipboard()->setMimeData(selectionMimeData(), QClipboard::Selection);
        });
    }
}

// ----- drag and drop -----

QMimeData *TextView::selectionMimeData() const { return new TextSliceMimeData(selectedSlice()); }

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
    viewport()->update();
    if (!event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    qsizetype position = positionAt(event->position().toPoint());
    const bool fromHere = event->source() == this;
    if (fromHere && position >= selectionStart() && position <= selectionEnd()) {
        // Dropped onto itself: nothing moves.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    const bool move = fromHere && event->dropAction() == Qt::MoveAction;
    bool inserted = false;
    runUserAction([&] {
        // Another program's text becomes a slice here, which can run out of memory too.
        const TextSlice text = TextSliceMimeData::textOf(event->mimeData());
        const UndoGroup group(m_buffer);
        const qsizetype start = selectionStart();
        const qsizetype length = selectionEnd() - start;
        // Inserting first: should the removal fail, the moved text is there twice, not lost.
        edit(position, 0, text);
        inserted = true;
        if (move && position < start) {
            edit(start + text.length(), length, QString());
        } else if (move) {
            edit(start, length, QString());
            position -= length;
        }
        m_anchor = position;
        moveCaret(position + text.length(), Move::Select);
    });
    // A drop that took nothing must not let the source delete the text it offered.
    if (!inserted) {
        event->ignore();
        return;
    }
    event->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
}

// ----- context menu -----

QMenu *TextView::createContextMenu()
{
    auto *menu = new QMenu(this);
    menu->setObjectName(u"textContextMenu"_s);
    const auto add = [&](const QString &name, const QString &caption, QKeySequence::StandardKey key,
                         bool enabled, void (TextView::*slot)()) {
        QAction *action = menu->addAction(
            caption, this, [this, slot] { runUserAction([&] { (this->*slot)(); }); });
        action->setObjectName(name);
        action->setShortcut(QKeySequence(key));
        action->setShortcutVisibleInContextMenu(true);
        action->setEnabled(enabled);
    };
    const QClipboard *clipboard = QGuiApplication::clipboard();
    const TextSlice *own = TextSliceMimeData::sliceOf(clipboard->mimeData());
    const bool canPaste = own ? !own->isEmpty() : !clipboard->text().isEmpty();
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
