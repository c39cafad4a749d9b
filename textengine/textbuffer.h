#pragma once

#include <QString>
#include <QStringView>

#include <vector>

// The text of the text box: one gap buffer of UTF-16 code units holding the text exactly as the
// editor sees it, with CR LF between lines, plus an index of where each line starts.
//
// Every line break is the pair CR LF: text given with a lone CR or LF has it turned into the
// pair, and positions that fall between the CR and the LF of a pair are moved to before the CR.
// Loading is one pass over the text; a text already in that form is kept without a copy.
//
// Edits are recorded for undo. Consecutive typed insertions (or deletions) at the caret merge
// into one step until breakUndoMerge() is called or an edit of another kind comes.
class TextBuffer
{
public:
    enum class Merge { Never, Typing };

    TextBuffer();

    // Replaces the whole text and forgets the undo history.
    void setText(const QString &text);
    // The whole text; cheap when nothing was edited since the last call.
    QString text() const;
    qsizetype length() const { return m_length; }
    QChar at(qsizetype position) const;
    QString mid(qsizetype position, qsizetype count) const;

    qsizetype lineCount() const { return qsizetype(m_lineStarts.size()); }
    qsizetype lineStart(qsizetype line) const;
    // The characters of the line, without its line break.
    qsizetype lineLength(qsizetype line) const;
    qsizetype lineEnd(qsizetype line) const { return lineStart(line) + lineLength(line); }
    qsizetype lineAt(qsizetype position) const;
    QString lineText(qsizetype line) const { return mid(lineStart(line), lineLength(line)); }
    // At least the length of the longest line, in characters; it may stay above the true
    // figure after lines were shortened, until the next setText().
    qsizetype longestLine() const { return m_longestLine; }

    // The nearest position at or before the given one that is not inside a CR LF pair.
    qsizetype snapped(qsizetype position) const;

    // Replaces count characters at position with text (lone CR or LF become CR LF). Positions
    // are clamped to the text. Returns the position after the inserted text.
    qsizetype replace(qsizetype position, qsizetype count, const QString &text,
                      Merge merge = Merge::Never);

    // Several edits that undo and redo as one step, between begin and end.
    void beginUndoGroup();
    void endUndoGroup();
    void breakUndoMerge() { m_mergeOpen = false; }
    void clearUndo();
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }

    // Where an undo or redo left the text: the span of text it put back (empty for a removal).
    struct Span
    {
        qsizetype position = 0;
        qsizetype length = 0;
    };
    Span undo();
    Span redo();

    // Gives a line break in any form the CR LF form.
    static QString withCrLf(const QString &text);

private:
    struct Edit
    {
        qsizetype position;
        QString removed;
        QString inserted;
    };
    using Step = std::vector<Edit>;

    void apply(qsizetype position, qsizetype count, const QString &text);
    void moveGap(qsizetype position) const;
    void reserveGap(qsizetype needed);
    const char16_t *storage() const
    {
        return reinterpret_cast<const char16_t *>(m_data.constData());
    }
    qsizetype rawIndex(qsizetype position) const
    {
        return position < m_gapStart ? position : position + m_gapLength;
    }
    void settleLinesAt(qsizetype line);
    void record(Edit edit, Merge merge);
    Span applyStep(const Step &step, bool forward);
    Span moveStep(std::vector<Step> &from, std::vector<Step> &to, bool forward);

    // Mutable so that text() can close the gap and hand out the storage itself.
    mutable QString m_data;
    mutable qsizetype m_gapStart = 0;
    mutable qsizetype m_gapLength = 0;
    qsizetype m_length = 0;

    // m_lineStarts[i] is exact for i <= m_deltaLine; later entries lack m_delta, which edits at
    // one place keep adding to instead of shifting every later line.
    std::vector<qsizetype> m_lineStarts;
    qsizetype m_deltaLine = 0;
    qsizetype m_delta = 0;
    qsizetype m_longestLine = 0;

    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    int m_groupDepth = 0;
    bool m_groupStarted = false;
    bool m_mergeOpen = false;
};
