#pragma once

#include <QStringView>
#include <QtGlobal>

#include <utility>
#include <vector>

class TextBuffer;

// Counts what the user sees as one character (a grapheme cluster: a letter with its marks, a
// surrogate pair, a flag, a CR LF) between positions of a text. A long range is counted from the
// counts the storage's nodes keep, in O(log n), and only its ends from the text. Counts taken
// along the line last asked about are kept, so that moving about a line counts only from the
// nearest one.
class ClusterCounter
{
public:
    explicit ClusterCounter(const TextBuffer &buffer) : m_buffer(buffer) { }

    // The clusters from the start of the position's line to the position.
    qsizetype column(qsizetype position);

    // Counting stopped at `reached`, a cluster boundary, having found `clusters` before it.
    struct Progress
    {
        qsizetype clusters = 0;
        qsizetype reached = 0;
    };
    // The clusters from `from` (a cluster boundary) towards `to`, looking at about `budget`
    // units of text at most where the storage's counts do not tell; a cluster that `to` cuts
    // counts as one.
    Progress count(qsizetype from, qsizetype to, qsizetype budget);

    // The text changed from position on: counts kept beyond it no longer hold.
    void changed(qsizetype position);

    // The clusters of a text that starts at a cluster boundary; unless `whole`, the count stops
    // before the last place not known to be a boundary, where the text may go on.
    static Progress countText(QStringView text, bool whole);

private:
    Progress scan(qsizetype from, qsizetype to, qsizetype budget) const;
    qsizetype plainRun(qsizetype from, qsizetype to, qsizetype budget) const;

    const TextBuffer &m_buffer;
    // The line whose counts are kept (its start, or -1), and at places along it the clusters
    // before them, in order.
    qsizetype m_lineStart = -1;
    std::vector<std::pair<qsizetype, qsizetype>> m_marks;
};
