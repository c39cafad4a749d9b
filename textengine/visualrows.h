#pragma once

#include <QtGlobal>

#include <map>
#include <vector>

// How many rows of the screen each line of the text takes when lines wrap, summed so that the row
// of a line and the line of a row are found in O(log n) over millions of lines. A line not yet
// laid out counts as one row, an estimate corrected when it is measured. Only lines of more
// than one row are kept, so a text of short lines costs almost nothing.
class VisualRows
{
public:
    // Every line back to one row.
    void reset(qsizetype lineCount);
    // The lines first to oldLast were replaced by lines first to first + (oldLast - first) + delta,
    // which are not measured yet; the lines after them move by delta.
    void linesReplaced(qsizetype first, qsizetype oldLast, qsizetype delta);
    // Sets a measured line's rows; returns how many rows that added (negative when fewer).
    qsizetype setRows(qsizetype line, qsizetype rows);

    qsizetype rowsOf(qsizetype line) const;
    qsizetype lineCount() const { return m_lineCount; }
    qsizetype total() const { return m_lineCount + prefix(m_blocks.size()); }
    // The first row of a line.
    qsizetype rowOfLine(qsizetype line) const;
    struct Place
    {
        qsizetype line = 0;
        qsizetype row = 0; // within the line
    };
    // The line a row falls in, held to the text.
    Place placeOfRow(qsizetype row) const;

private:
    // Small enough that walking a block's lines of several rows is short, large enough that the
    // tree of a text of 14 M lines stays near a megabyte.
    static constexpr qsizetype BlockLines = 128;
    // Sums of extra rows (rows - 1) over blocks of lines, as a Fenwick tree.
    qsizetype prefix(size_t blocks) const;
    void add(size_t block, qsizetype extra);
    void rebuild();

    qsizetype m_lineCount = 0;
    std::map<qsizetype, qsizetype> m_extra; // line -> rows - 1, for lines of several rows
    std::vector<qsizetype> m_blocks = { 0 }; // Fenwick tree, 1-based
};
