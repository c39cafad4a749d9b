#include "visualrows.h"

#include <algorithm>

void VisualRows::reset(qsizetype lineCount)
{
    m_lineCount = std::max<qsizetype>(1, lineCount);
    m_extra.clear();
    rebuild();
}

void VisualRows::rebuild()
{
    const size_t blocks = size_t((m_lineCount + BlockLines - 1) / BlockLines);
    m_blocks.assign(blocks + 1, 0);
    for (const auto &[line, extra] : m_extra)
        m_blocks[size_t(line / BlockLines) + 1] += extra;
    // Each node takes in its range's sum in one pass.
    for (size_t i = 1; i <= blocks; ++i) {
        const size_t parent = i + (i & (~i + 1));
        if (parent <= blocks)
            m_blocks[parent] += m_blocks[i];
    }
}

qsizetype VisualRows::prefix(size_t blocks) const
{
    qsizetype sum = 0;
    for (size_t i = std::min(blocks, m_blocks.size() - 1); i > 0; i -= i & (~i + 1))
        sum += m_blocks[i];
    return sum;
}

void VisualRows::add(size_t block, qsizetype extra)
{
    for (size_t i = block + 1; i < m_blocks.size(); i += i & (~i + 1))
        m_blocks[i] += extra;
}

// Only the replaced lines' counts go; the lines after them keep theirs under their new
// numbers. An edit within lines (delta 0) touches nothing else, so that a key costs O(log n).
void VisualRows::linesReplaced(qsizetype first, qsizetype oldLast, qsizetype delta)
{
    auto entry = m_extra.lower_bound(first);
    while (entry != m_extra.end() && entry->first <= oldLast) {
        if (delta == 0)
            add(size_t(entry->first / BlockLines), -entry->second);
        entry = m_extra.erase(entry);
    }
    if (delta == 0)
        return;
    m_lineCount = std::max<qsizetype>(1, m_lineCount + delta);
    std::vector<decltype(m_extra)::node_type> moved;
    while (entry != m_extra.end())
        moved.push_back(m_extra.extract(entry++));
    for (auto &node : moved) {
        node.key() += delta;
        if (node.key() < m_lineCount)
            m_extra.insert(m_extra.end(), std::move(node));
    }
    rebuild();
}

qsizetype VisualRows::setRows(qsizetype line, qsizetype rows)
{
    if (line < 0 || line >= m_lineCount)
        return 0;
    const qsizetype extra = std::max<qsizetype>(1, rows) - 1;
    const auto found = m_extra.find(line);
    const qsizetype old = found == m_extra.end() ? 0 : found->second;
    if (extra == old)
        return 0;
    if (extra == 0)
        m_extra.erase(found);
    else
        m_extra[line] = extra;
    add(size_t(line / BlockLines), extra - old);
    return extra - old;
}

qsizetype VisualRows::rowsOf(qsizetype line) const
{
    const auto found = m_extra.find(line);
    return found == m_extra.end() ? 1 : found->second + 1;
}

qsizetype VisualRows::rowOfLine(qsizetype line) const
{
    line = std::clamp<qsizetype>(line, 0, m_lineCount);
    const qsizetype block = line / BlockLines;
    qsizetype extra = prefix(size_t(block));
    for (auto it = m_extra.lower_bound(block * BlockLines); it != m_extra.end() && it->first < line;
         ++it)
        extra += it->second;
    return line + extra;
}

VisualRows::Place VisualRows::placeOfRow(qsizetype row) const
{
    row = std::clamp<qsizetype>(row, 0, total() - 1);
    // The last block that starts at or before the row, descending the tree.
    size_t block = 0;
    qsizetype rowsBefore = 0; // rows of the blocks before `block`
    size_t step = 1;
    while (step * 2 < m_blocks.size())
        step *= 2;
    for (; step > 0; step /= 2) {
        const size_t next = block + step;
        if (next >= m_blocks.size())
            continue;
        const qsizetype rows = qsizetype(step) * BlockLines + m_blocks[next];
        if (rowsBefore + rows <= row) {
            block = next;
            rowsBefore += rows;
        }
    }
    // Within the block, line by line past the lines of several rows.
    qsizetype line = qsizetype(block) * BlockLines;
    qsizetype at = rowsBefore;
    for (auto it = m_extra.lower_bound(line); it != m_extra.end(); ++it) {
        if (row < at + (it->first - line))
            break;
        at += it->first - line;
        line = it->first;
        if (row <= at + it->second)
            return { line, row - at };
        at += it->second + 1;
        ++line;
    }
    line += row - at;
    return { std::min(line, m_lineCount - 1), 0 };
}
