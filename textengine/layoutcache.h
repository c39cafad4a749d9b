#pragma once

#include <QTextLayout>
#include <QtGlobal>

#include <list>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// The layouts of lines (and of the pieces of long lines) kept for painting, the least recently
// used going first past a few screens, and the pieces of long lines: where each starts and what
// was measured of it (its width, or its rows when lines wrap). It never reads the text: the view
// tells it what changed (lines replaced, pieces cut, a new width or font), so that wrapping is
// one more kind of change.
class LayoutCache
{
public:
    // The pieces of a long line. Their edges follow the text: an edit inside a piece moves the
    // pieces after it without changing them, so that their layouts are kept.
    struct PieceList
    {
        std::vector<qsizetype> starts; // columns; the first is 0 once cut
        std::vector<qreal> measures; // zero where not measured
        qsizetype length = 0; // of the line they were cut for
        // Where text not yet cut lies: before piece `gapAt`, from column `gapFrom`; -1 for none.
        qsizetype gapAt = -1;
        qsizetype gapFrom = 0;
        qsizetype gapRemoved = 0; // pieces the gap took whose layouts are still under their numbers
        int rightToLeft = -1; // the paragraph's direction, -1 until known
        bool wrapped = false; // cut for wrapped lines, whose first piece is longer
        // When wrapping, the rows before each piece, summed as far as piece `summed`: a look-up
        // in a line of thousands of pieces sums only what changed since the last one.
        std::vector<qsizetype> rowsBefore { 0 };
        qsizetype summed = 0;
        void rowsChanged(qsizetype piece) { summed = std::clamp<qsizetype>(piece, 0, summed); }
    };

    // The layout kept for a piece, made the most recently used; null when there is none.
    QTextLayout *find(qsizetype line, qsizetype piece);
    // The same without touching its age.
    const QTextLayout *peek(qsizetype line, qsizetype piece) const;
    // Keeps a new layout and returns it.
    QTextLayout *keep(qsizetype line, qsizetype piece, std::unique_ptr<QTextLayout> layout);
    // Layouts are numbered as they are kept: whether a piece's layout was kept before the one
    // numbered `serial`, that is, whether it is unchanged since nextSerial() gave that number.
    quint64 nextSerial() const { return m_nextSerial; }
    // Counts the changes that drop layouts for what they show (not for room): a picture drawn
    // from the layouts is still right while it stays the same.
    quint64 changes() const { return m_changes; }
    bool keptBefore(qsizetype line, qsizetype piece, quint64 serial) const;

    // The pieces of a long line, null when it was not cut yet.
    PieceList *pieces(qsizetype line);
    // Cuts a long line anew: its layouts go.
    PieceList &setPieces(qsizetype line, std::vector<qsizetype> starts, qsizetype length);
    void dropPieces(qsizetype line);

    // What an edit keeps of the pieces of the lines it replaced: of the first line, the pieces
    // before `head`; of the last, those from `tailFrom` on (none when -1), which move by
    // `tailShift` columns to the end of the last new line.
    struct Kept
    {
        qsizetype head = 0;
        qsizetype tailFrom = -1;
        qsizetype tailShift = 0;
    };
    // The lines first to oldLast were replaced, and those after them moved by delta. What lies
    // between the kept pieces is a gap of each new line's list, which fillGap() cuts.
    void linesReplaced(qsizetype first, qsizetype oldLast, qsizetype delta, const Kept &kept);
    // The gap of a line's pieces becomes the pieces starting at `starts` (its first at the
    // gap's start), taking in the `merged` pieces after it; the line is now `length` long.
    void fillGap(qsizetype line, const std::vector<qsizetype> &starts, qsizetype merged,
                 qsizetype length);

    // The first `count` pieces of a line become a gap to cut again; the line's layouts go.
    void reopenFront(qsizetype line, qsizetype count);
    // The layouts of one line go (text being composed in it), its measures stay.
    void lineRedrawn(qsizetype line);
    // Every layout and measure goes (a new width, font or way of wrapping); the pieces stay.
    void clearLayouts();
    // Everything goes: a new text.
    void clear();

private:
    struct Key
    {
        qsizetype line;
        qsizetype piece;
        auto operator<=>(const Key &) const = default;
    };
    struct Entry
    {
        std::unique_ptr<QTextLayout> layout;
        std::list<Key>::iterator age;
        quint64 serial = 0;
        qsizetype characters = 0;
    };
    // Ordered, so that a line's layouts are one range.
    using Layouts = std::map<Key, Entry>;
    using Lists = std::vector<std::pair<qsizetype, std::unique_ptr<PieceList>>>;
    Layouts::iterator erase(Layouts::iterator entry);
    Lists::iterator listAt(qsizetype line);
    // Takes out of a list what an edit within its line left between its kept pieces.
    static void cutOut(PieceList &list, const Kept &kept);
    // Moves the keys of the layouts for which `moved` gives a new key, and erases those for
    // which it gives a line of -1.
    template<typename Rekey>
    void rekey(const Rekey &moved);

    Layouts m_layouts;
    std::list<Key> m_ages; // the least recently used first
    // Ordered by line, so that an edit reaches only its lines' lists and the lines after an edit
    // move by one pass over plain numbers.
    Lists m_lists;
    quint64 m_nextSerial = 0;
    quint64 m_changes = 0;
    qsizetype m_characters = 0; // in the layouts kept
};
