#include "textviewaccessible.h"

#include "textview.h"

#include <QAccessibleWidget>

// The text, the caret and the selection, readable and settable by assistive tools.
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

QAccessibleInterface *accessibleTextView(const QString &className, QObject *object)
{
    if (className == u"TextView" && object && object->isWidgetType())
        return new TextViewAccessible(static_cast<TextView *>(object));
    return nullptr;
}
