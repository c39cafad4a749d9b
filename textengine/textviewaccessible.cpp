#include "textviewaccessible.h"

#include "textview.h"

#include <QAccessibleWidget>

#include <algorithm>
#include <climits>
#include <new>

namespace {

// Assistive tools count in int; a text beyond that is offered up to where int reaches, and
// what lies beyond is not there for them.
int clampedOffset(qsizetype position) { return int(std::min<qsizetype>(position, INT_MAX)); }

} // namespace

// The text, the caret and the selection, readable and settable by assistive tools.
class TextViewAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface
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
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
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
            return value();
        return QAccessibleWidget::text(t);
    }

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && m_view->hasSelection()) {
            *startOffset = clampedOffset(m_view->selectionStart());
            *endOffset = clampedOffset(m_view->selectionEnd());
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
    int cursorPosition() const override { return clampedOffset(m_view->caretPosition()); }
    void setCursorPosition(int position) override { m_view->setSelection(position, position); }
    QString text(int startOffset, int endOffset) const override
    {
        // A tool may ask for gigabytes at once; without the memory it gets nothing, and the
        // program goes on.
        try {
            return m_view->buffer().mid(startOffset, endOffset - startOffset);
        } catch (const std::bad_alloc &) {
            return {};
        }
    }
    int characterCount() const override { return clampedOffset(m_view->buffer().length()); }
    QRect characterRect(int offset) const override
    {
        const QRect local = m_view->characterRect(offset);
        return QRect(m_view->viewport()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return clampedOffset(m_view->positionAt(m_view->viewport()->mapFromGlobal(point)));
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
        *start = clampedOffset(s);
        *end = clampedOffset(e);
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
        return textAtOffset(clampedOffset(unitStart - 1), type, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                            int *end) const override
    {
        const qsizetype unitEnd = unitAt(offset, type).second;
        if (unitEnd >= std::min<qsizetype>(m_view->buffer().length(), INT_MAX)) {
            *start = *end = -1;
            return QString();
        }
        return textAtOffset(clampedOffset(unitEnd), type, start, end);
    }

    // Edits by assistive tools are the user's edits, undone like typing.
    void deleteText(int startOffset, int endOffset) override
    {
        replaceText(startOffset, endOffset, QString());
    }
    void insertText(int offset, const QString &text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString &text) override
    {
        m_view->runUserAction([&] {
            const qsizetype from = std::min(startOffset, endOffset);
            m_view->edit(from, std::abs(endOffset - startOffset), text);
        });
    }

private:
    // Qt's own editors give their whole text as the value. A large document would be copied
    // whole at every question, so past this length the value is the caret's line, or as much
    // of it around the caret; the text interface reaches every part.
    static constexpr qsizetype ValueLength = 1 << 16;

    QString value() const
    {
        const TextBuffer &buffer = m_view->buffer();
        if (buffer.length() <= ValueLength)
            return buffer.text();
        const qsizetype caret = m_view->caretPosition();
        const qsizetype line = buffer.lineAt(caret);
        const qsizetype end
            = std::min(buffer.lineEnd(line),
                       std::max(caret + ValueLength / 2, buffer.lineStart(line) + ValueLength));
        const qsizetype start = std::max(buffer.lineStart(line), end - ValueLength);
        return buffer.mid(start, end - start);
    }

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
        case QAccessible::LineBoundary:
            // Lines are rows of the screen when they wrap, as in Qt's own editors.
            if (m_view->wordWrap())
                return m_view->rowBounds(offset);
            [[fallthrough]];
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

QAccessibleInterface *accessibleTextView(const QString &className, QObject *object)
{
    if (className == u"TextView" && object && object->isWidgetType())
        return new TextViewAccessible(static_cast<TextView *>(object));
    return nullptr;
}

// Tells assistive tools what changed and where the caret is. The old text is gone, so it is
// given as spaces, as Qt's own editors do. A change carries at most the start of its text, about
// a screenful: a whole new text of 100 MB would otherwise be copied into the news, at twice its
// size; the tool reads the rest through the text interface. A longer change is told by its true
// extent all the same, so that a tool that keeps a copy of the text stays right.
void TextView::notifyAccessibility(qsizetype position, qsizetype removed, qsizetype added)
{
    if (!accessibilityActive())
        return;
    constexpr qsizetype MostTold = 4096;
    try {
        const int at = clampedOffset(position);
        const QString oldText(std::min(removed, MostTold), u' ');
        QString newText = m_buffer.mid(position, std::min(added, MostTold));
        if (added > MostTold && newText.back().isHighSurrogate())
            newText.chop(1);
        if (removed > MostTold || added > MostTold) {
            if (removed > 0)
                announceLongChange(AccessibleTextChange::Removed, at, clampedOffset(removed),
                                   oldText);
            if (added > 0)
                announceLongChange(AccessibleTextChange::Inserted, at, clampedOffset(added),
                                   newText);
        } else if (removed > 0 && added > 0) {
            QAccessibleTextUpdateEvent updated(this, at, oldText, newText);
            announce(&updated);
        } else if (removed > 0) {
            QAccessibleTextRemoveEvent gone(this, at, oldText);
            announce(&gone);
        } else if (added > 0) {
            QAccessibleTextInsertEvent inserted(this, at, newText);
            announce(&inserted);
        }
        QAccessibleTextCursorEvent moved(this, clampedOffset(m_caret));
        announce(&moved);
        if (hasSelection()) {
            QAccessibleTextSelectionEvent selected(this, clampedOffset(selectionStart()),
                                                   clampedOffset(selectionEnd()));
            announce(&selected);
        }
    } catch (const std::bad_alloc &) {
        // The edit is done; only the news of it is lost.
    }
}

// Where there is no AT-SPI bridge to tell the extent, the start of the text is all that is told.
void TextView::announceLongChange(AccessibleTextChange change, int offset, int length,
                                  const QString &start)
{
    if (tellLongTextChange(QAccessible::queryAccessibleInterface(this), change, offset, length,
                           start))
        return;
    if (change == AccessibleTextChange::Removed) {
        QAccessibleTextRemoveEvent gone(this, offset, start);
        announce(&gone);
    } else {
        QAccessibleTextInsertEvent inserted(this, offset, start);
        announce(&inserted);
    }
}

bool TextView::accessibilityActive() const { return QAccessible::isActive(); }

void TextView::announce(QAccessibleEvent *event) { QAccessible::updateAccessibility(event); }
