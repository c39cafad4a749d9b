#pragma once

#include "editrecord.h"
#include "textchange.h"
#include "texthistory.h"
#include "textslice.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace rope {
struct Node;
class Builder;
} // namespace rope

// The text of the text box, exactly as the editor sees it: positions are UTF-16 units, and
// every line break is the pair CR LF, counted as two. Text given with a lone CR or LF has it
// turned into the pair, and positions that fall inside a pair (or inside a surrogate pair) are
// moved to before it.
//
// The text is kept as UTF-8 in the chunks of a balanced tree whose nodes carry their counts, so
// every look-up and edit costs O(log n) wherever it happens. Nodes never change once built: an
// edit builds new nodes along the path it changes, and the undo history keeps the text it
// removed as shared subtrees, never as a copy (a rewrite keeps the texts it replaced instead).
// Every edit is all-or-nothing: if memory runs out, std::bad_alloc leaves the text and the undo
// history as they were. A rewrite, its undo and its redo alone keep what they finished (see
// finishRewrite()).
//
// Every edit makes a record (see EditRecord): the history keeps it for undo, and the change
// listener is told it, so both follow one stream of changes. Consecutive typed insertions (or
// deletions) at the caret merge into one undo step until breakUndoMerge() is called or an edit of
// another kind comes.
class TextBuffer
{
public:
    using Merge = TextHistory::Merge;

    TextBuffer();
    ~TextBuffer();
    TextBuffer(const TextBuffer &) = delete;
    TextBuffer &operator=(const TextBuffer &) = delete;

    // Replaces the whole text and forgets the undo history.
    void setText(const QString &text);
    // The same with a text made elsewhere, whose chunks it takes over.
    void adopt(const TextSlice &text);
    // Add text at the end without undo records, for loading after setText({}). A CR at the
    // end of one call and an LF at the start of the next form one line break.
    void appendLoaded(QByteArrayView utf8); // valid UTF-8
    void appendLoaded(QStringView text);

    // Every change of the text from now on, as it is made (see TextChange).
    void setChangeListener(TextChangeListener listener) { m_listener = std::move(listener); }
    // Ends a load: the text as appended is told as a whole new text.
    void endLoad();

    QString text() const;
    // The whole text as it is now, sharing the chunks: O(1).
    TextSlice whole() const { return TextSlice(root()); }
    // The text handed to sink in pieces of up to about 64K units, decoded into one reused buffer,
    // so that the whole text is never held twice. No piece ends between the two halves of a
    // surrogate pair or between CR and LF.
    void readText(const std::function<void(QStringView)> &sink) const;
    qsizetype length() const;
    QChar at(qsizetype position) const;
    QString mid(qsizetype position, qsizetype count) const;
    // The text between two positions, moved out of pairs as an edit's are, sharing the chunks.
    TextSlice slice(qsizetype position, qsizetype count) const;

    qsizetype lineCount() const;
    qsizetype lineStart(qsizetype line) const;
    // The characters of the line, without its line break.
    qsizetype lineLength(qsizetype line) const { return lineEnd(line) - lineStart(line); }
    qsizetype lineEnd(qsizetype line) const;
    qsizetype lineAt(qsizetype position) const;
    QString lineText(qsizetype line) const { return mid(lineStart(line), lineLength(line)); }
    // The length of the longest line, in characters.
    qsizetype longestLine() const;

    // The nearest position at or before the given one that is not inside a CR LF pair.
    qsizetype snapped(qsizetype position) const;

    // The text as stored, in UTF-8.
    qint64 byteLength() const;
    qint64 byteOfPosition(qsizetype position) const;
    // The byte must start a character.
    qsizetype positionOfByte(qint64 byte) const;
    // Hands the stored chunks in order to visit, from the one holding fromByte (which may start
    // before it) until visit returns false. A chunk never ends inside a character or a CR LF.
    using ChunkVisitor = std::function<bool(QByteArrayView bytes, qint64 startByte)>;
    void forEachChunk(qint64 fromByte, const ChunkVisitor &visit) const;
    // The same backwards, from the chunk holding the byte before beforeByte.
    void forEachChunkBackward(qint64 beforeByte, const ChunkVisitor &visit) const;

    // Replaces count characters at position with text (lone CR or LF become CR LF). Positions
    // are clamped to the text. Returns the position after the inserted text.
    qsizetype replace(qsizetype position, qsizetype count, const QString &text,
                      Merge merge = Merge::Never);
    // The same with a slice, which goes in as it is: its chunks are shared, not copied.
    qsizetype replace(qsizetype position, qsizetype count, const TextSlice &text,
                      Merge merge = Merge::Never);
    // The same as no step of the history, which it leaves as it was (a text rebuilt from a
    // record of its changes).
    void apply(qsizetype position, qsizetype count, const TextSlice &text);
    // Where an undo or redo left the text: the span of text it put back (empty for a removal).
    struct Span
    {
        qsizetype position = 0;
        qsizetype length = 0;
    };
    // Replaces ranges of bytes given in order, the way a search finds them, as one undo step.
    // The ranges are gathered first, with the old text untouched, so a rewrite can be dropped
    // at any point. finishRewrite() then walks the text once, sharing every part without a range
    // and freeing the old chunks behind it as it goes, so that replacing in every chunk needs
    // little more memory than the text already takes. The undo step keeps the replaced and the
    // replacing texts, each once while they repeat, instead of the old text.
    class Rewrite
    {
    public:
        Rewrite(Rewrite &&) noexcept;
        ~Rewrite();
        // Ranges are sorted and disjoint, and begin and end at characters, never inside a
        // CR LF; a line break in the text may have any form.
        void replace(qint64 fromByte, qint64 toByte, const QString &text);

    private:
        friend class TextBuffer;
        struct State;
        explicit Rewrite(std::unique_ptr<State> state);
        std::unique_ptr<State> d;
    };
    Rewrite startRewrite() const;
    // Makes the rewrite the text, as one undo step of its own (even in a group). Returns the
    // position of the first change, or -1 when nothing changed (or the text was edited since
    // the rewrite started). When memory runs out part way, the ranges replaced so far stay, as
    // one undo step, and PartialRewrite is thrown; when it runs out before any, std::bad_alloc
    // leaves everything as it was. Undo and redo of the step work the same way: when they stop
    // part way, the changes done move to the other history and the rest stay where they were.
    // sliceDone is called, with the position of the first change and how many of the changes
    // are done, each time the text made so far has become the text; it must not throw.
    using RewriteSliceDone = std::function<void(qsizetype first, qint64 done, qint64 total)>;
    qsizetype finishRewrite(Rewrite rewrite, const RewriteSliceDone &sliceDone = {});
    struct PartialRewrite : std::bad_alloc
    {
        Span span; // from the first change to the end of the last one done
    };
    // Testing seam: how much of the old text a rewrite walks before the text it has made so far
    // becomes the current text, letting the old chunks go; 0 for the usual.
    static void setRewriteSlice(qint64 bytes);
    // Several edits that undo and redo as one step, between begin and end.
    void beginUndoGroup();
    void endUndoGroup();
    void breakUndoMerge() { m_history.breakMerge(); }
    void clearUndo() { m_history.clear(); }
    bool canUndo() const { return m_history.canUndo(); }
    bool canRedo() const { return m_history.canRedo(); }

    Span undo();
    Span redo();

    // Gives a line break in any form the CR LF form.
    static QString withCrLf(const QString &text);

private:
    using NodePtr = std::shared_ptr<const rope::Node>;
    struct Loading;
    // Where a position lies: its leaf, where the leaf starts, and the byte and unit of the
    // position's character in the leaf (inPair when the position is its second unit).
    struct Place
    {
        const rope::Node *leaf = nullptr;
        qint64 unitStart = 0;
        qint64 byteStart = 0;
        qint64 breaksBefore = 0;
        qint64 byte = 0;
        bool inPair = false;
        qint64 unit = 0;
    };

    const NodePtr &root() const;
    Place place(qsizetype position) const;
    void commit(NodePtr root);
    // How far a walk of a run got: to the change after the last one done, what the changes done
    // added to the length, and the byte where the last one ends in the text made.
    struct Walk
    {
        RewriteLog::Cursor reached;
        qint64 added = 0;
        qint64 end = 0;
    };
    Walk walkRun(const RewriteRun &run, bool forward, bool recordOld,
                 const std::function<void(qint64 changesDone)> &sliceDone = {});
    void appendLoading(const std::function<void(rope::Builder &, bool &endedWithCr)> &append,
                       qint64 mostBytes);
    Span replay(bool forward);
    Span replayRewrite(const RewriteRun &run, bool forward);
    void tell(const EditRecord &record) const;
    void tellRenewed() const;

    TextChangeListener m_listener;
    // Loading keeps the tree under construction and makes the whole tree of it only when it is
    // looked at.
    mutable NodePtr m_root;
    std::unique_ptr<Loading> m_loading;
    mutable bool m_loadingStale = false;
    // The last look-up, where the next one starts if it falls in the same leaf.
    mutable Place m_lastPlace;
    // The last line start found: the place of its leaf where the line starts (or the leaf's
    // start, with the breaks before it), and that line.
    struct LineHint : Place
    {
        qint64 line = 0;
    };
    mutable LineHint m_lastLine;

    TextHistory m_history;
};
