#include "clustercount.h"

#include "ropeclusters.h"
#include "textbuffer.h"

#include <algorithm>
#include <limits>

namespace {

// The text is decoded and counted in pieces of this many units, and a long line keeps a count
// at about every piece.
constexpr qsizetype PieceLength = 4096;
// Ranges longer than this are counted from the storage's counts (a few leaves' text at their
// ends); shorter ones from their text alone.
constexpr qsizetype SpanWorth = 4 * PieceLength;

// Below the first combining mark, every character is a cluster of its own (but CR LF).
bool plain(QChar c) { return c.unicode() < 0x300; }

} // namespace

ClusterCounter::Progress ClusterCounter::countText(QStringView text, bool whole)
{
    const qsizetype n = text.size();
    const auto knownBoundary = [&](qsizetype k) {
        return plain(text[k - 1]) && plain(text[k]) && !(text[k - 1] == u'\r' && text[k] == u'\n');
    };
    Progress progress;
    qsizetype i = 0;
    while (i < n) {
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') {
            ++progress.clusters;
            i += 2;
            progress.reached = i;
            continue;
        }
        if (i + 1 < n && knownBoundary(i + 1)) {
            ++progress.clusters;
            progress.reached = ++i;
            continue;
        }
        // Marks, surrogates, joiners and scripts above the marks: the boundary finder decides,
        // between two places known to be boundaries.
        qsizetype k = i + 1;
        while (k < n && !knownBoundary(k))
            ++k;
        if (k == n && !whole)
            break;
        progress.clusters += rope::graphemes(text.sliced(i, k - i));
        i = progress.reached = k;
    }
    return progress;
}

namespace {

// The length of a character below the combining marks (one unit, one cluster when what follows
// is such a character too) from its first stored byte; 0 for any other, CR included.
int plainLength(uchar lead)
{
    if (lead < 0x80)
        return lead == '\r' ? 0 : 1;
    return lead >= 0xc2 && lead <= 0xcb ? 2 : 0;
}

} // namespace

// A run of plain characters is one cluster a unit: it is counted on the stored bytes, with no
// decoding, up to the first character that is not plain or that one may join.
qsizetype ClusterCounter::plainRun(qsizetype from, qsizetype to, qsizetype budget) const
{
    const qint64 first = m_buffer.byteOfPosition(from);
    const qint64 end = m_buffer.byteOfPosition(to);
    qsizetype units = 0;
    int pending = 0; // the last plain character seen, counted once the next one is known
    m_buffer.forEachChunk(first, [&](QByteArrayView bytes, qint64 start) {
        for (qint64 at = std::max(first, start); at < end; at += pending) {
            if (at - start >= bytes.size())
                return true; // the next chunk says whether the pending character joins
            const int length = plainLength(uchar(bytes[at - start]));
            if (pending > 0 && length > 0)
                ++units;
            pending = length;
            if (length == 0 || units >= budget)
                return false;
        }
        if (pending > 0) // cut by `to`, it counts as one
            ++units;
        pending = 0;
        return false;
    });
    return units;
}

ClusterCounter::Progress ClusterCounter::count(qsizetype from, qsizetype to, qsizetype budget)
{
    if (to - from > SpanWorth) {
        const TextSlice::ClusterSpan span = m_buffer.whole().clusterSpan(from, to);
        if (span.to > span.from) {
            const qsizetype all = std::numeric_limits<qsizetype>::max();
            return { scan(from, span.from, all).clusters + span.clusters
                         + scan(span.to, to, all).clusters,
                     to };
        }
    }
    return scan(from, to, budget);
}

ClusterCounter::Progress ClusterCounter::scan(qsizetype from, qsizetype to, qsizetype budget) const
{
    Progress progress { 0, from };
    qsizetype piece = PieceLength;
    while (progress.reached < to && budget > 0) {
        const qsizetype plain = plainRun(progress.reached, to, budget);
        progress.clusters += plain;
        progress.reached += plain;
        budget -= plain;
        if (progress.reached >= to || budget <= 0)
            break;
        const qsizetype length = std::min(piece, to - progress.reached);
        const QString text = m_buffer.mid(progress.reached, length);
        if (text.isEmpty())
            break;
        const Progress part = countText(text, progress.reached + length >= to);
        if (part.reached == 0) {
            // One cluster longer than the piece.
            piece *= 2;
            continue;
        }
        progress.clusters += part.clusters;
        progress.reached += part.reached;
        budget -= part.reached;
        piece = PieceLength;
    }
    return progress;
}

qsizetype ClusterCounter::column(qsizetype position)
{
    const qsizetype lineStart = m_buffer.lineStart(m_buffer.lineAt(position));
    if (lineStart != m_lineStart) {
        m_lineStart = lineStart;
        m_marks.clear();
    }
    const qsizetype offset = position - lineStart;
    auto after = std::upper_bound(m_marks.begin(), m_marks.end(), offset,
                                  [](qsizetype at, const auto &mark) { return at < mark.first; });
    qsizetype from = 0;
    qsizetype clusters = 0;
    if (after != m_marks.begin()) {
        from = std::prev(after)->first;
        clusters = std::prev(after)->second;
    }
    const auto keep = [&] {
        if (from < offset)
            after = std::next(m_marks.emplace(after, from, clusters));
    };
    if (offset - from > SpanWorth) {
        const TextSlice::ClusterSpan span
            = m_buffer.whole().clusterSpan(lineStart + from, position);
        if (span.to > span.from) {
            clusters
                += scan(lineStart + from, span.from, std::numeric_limits<qsizetype>::max()).clusters
                + span.clusters;
            from = span.to - lineStart;
            keep();
        }
    }
    // Piece by piece, so that the count reached after each is kept.
    while (from < offset) {
        const Progress step
            = scan(lineStart + from, position, std::min(offset - from, PieceLength));
        if (step.reached == lineStart + from)
            break;
        from = step.reached - lineStart;
        clusters += step.clusters;
        keep();
    }
    return clusters;
}

void ClusterCounter::changed(qsizetype position)
{
    if (position < m_lineStart) {
        m_lineStart = -1;
        m_marks.clear();
        return;
    }
    const qsizetype offset = position - m_lineStart;
    m_marks.erase(std::lower_bound(m_marks.begin(), m_marks.end(), offset,
                                   [](const auto &mark, qsizetype at) { return mark.first < at; }),
                  m_marks.end());
}
