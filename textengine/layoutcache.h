#pragma once

#include <QTextLayout>
#include <QtGlobal>

#include <list>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

// The layouts of lines (and of the pieces of long lines) kept for painting, the least recently
// used going first past a few screens, and what was measured of the pieces of long lines: their
// widths, or their rows when lines wrap. It never reads the text: the view tells it what changed
// (lines replaced, pieces of a line changed, a new width or font), so that wrapping is one more
// kind of change.
class LayoutCache
{
public:
    // The layout kept for a piece, made the most recently used; null when there is none.
    QTextLayout *find(qsizetype line, qsizetype piece);
    // The same without touching its age.
    const QTextLayout *peek(qsizetype line, qsizetype piece) const;
    // Keeps a new layout and returns it.
    QTextLayout *keep(qsizetype line, qsizetype piece, std::unique_ptr<QTextLayout> layout);

    // What was measured of each piece of a long line, zero where nothing was; sized to its
    // pieces.
    std::vector<qreal> &measures(qsizetype line, qsizetype pieces);
    // Zero when not measured.
    qreal measure(qsizetype line, qsizetype piece) const;

    // The lines first to oldLast were replaced, and those after them moved by delta. The
    // measures of the first line stay: piecesChanged() says which no longer hold.
    void linesReplaced(qsizetype first, qsizetype oldLast, qsizetype delta);
    // The pieces of a line from `from` on changed; it now has `pieces`.
    void piecesChanged(qsizetype line, qsizetype from, qsizetype pieces);
    // The layouts of one line go (text being composed in it), its measures stay.
    void lineRedrawn(qsizetype line);
    // Everything goes: a new text, width, font or way of wrapping.
    void clear();

private:
    struct Key
    {
        qsizetype line;
        qsizetype piece;
        bool operator==(const Key &) const = default;
    };
    struct KeyHash
    {
        size_t operator()(const Key &key) const
        {
            return std::hash<qsizetype>()(key.line * 1000003 + key.piece);
        }
    };
    struct Entry
    {
        std::unique_ptr<QTextLayout> layout;
        std::list<Key>::iterator age;
    };
    using Layouts = std::unordered_map<Key, Entry, KeyHash>;
    Layouts::iterator erase(Layouts::iterator entry);

    Layouts m_layouts;
    std::list<Key> m_ages; // the least recently used first
    // Ordered, so that an edit within lines reaches only the measures of the lines it changed.
    std::map<qsizetype, std::vector<qreal>> m_measures;
};
