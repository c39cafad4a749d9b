#include "textsearch.h"

#include "textbuffer.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>
#include <future>
#include <optional>
#include <system_error>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// Context read before and after a window of lines, so that a long line is never decoded whole.
constexpr qint64 Context = 64 * 1024;
// Text decoded at once for a regular expression.
constexpr qint64 WindowBytes = 4 * 1024 * 1024;

bool continuation(char byte) { return (uchar(byte) & 0xC0) == 0x80; }

QByteArray bytesBetween(const ByteSource &text, qint64 from, qint64 to)
{
    QByteArray bytes;
    if (to <= from)
        return bytes;
    bytes.reserve(to - from);
    text.forEachChunk(from, [&](QByteArrayView chunk, qint64 start) {
        const qint64 begin = std::max(from, start);
        const qint64 end = std::min(to, start + chunk.size());
        if (end > begin)
            bytes.append(chunk.sliced(begin - start, end - begin));
        return start + chunk.size() < to;
    });
    return bytes;
}

char32_t decodeFirst(QByteArrayView bytes)
{
    const QString decoded = QString::fromUtf8(bytes.first(std::min<qsizetype>(4, bytes.size())));
    return decoded.isEmpty() ? 0 : decoded.toUcs4().value(0);
}

bool isWordCharacter(char32_t c) { return QChar::isLetterOrNumber(c); }

// Characters of a window up to a byte offset, counted as the window reads them (CR dropped).
qsizetype windowOffset(QByteArrayView bytes)
{
    qsizetype units = 0;
    for (const char byte : bytes) {
        if (byte != '\r' && !continuation(byte))
            units += uchar(byte) >= 0xF0 ? 2 : 1;
    }
    return units;
}

// The bytes without their CRs, written to out, which has room for them and 16 bytes more; returns
// how many were written. A line break comes every few bytes in a comma-dense text, too often for
// a branch per byte to be guessed right: the bytes between two CRs go in one store.
qsizetype withoutCr(QByteArrayView bytes, char *out)
{
    const char *in = bytes.data();
    const qsizetype size = bytes.size();
    char *const begin = out;
    qsizetype i = 0;
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi8('\r');
    // The stores between CRs read up to 16 bytes past the block.
    for (; i + 32 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        uint crs = uint(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
        if (crs == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v);
            out += 16;
            continue;
        }
        const char *block = in + i;
        int from = 0;
        for (; crs != 0; crs &= crs - 1) {
            const int at = qCountTrailingZeroBits(crs);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + from)));
            out += at - from;
            from = at + 1;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + from)));
        out += 16 - from;
    }
#endif
    for (; i < size; ++i) {
        if (in[i] != '\r')
            *out++ = in[i];
    }
    return out - begin;
}

// The bytes a UTF-16 unit of a window stands for in the storage: a line break is CR LF, and each
// half of a surrogate pair counts half of its four bytes.
int unitBytes(char16_t c)
{
    const bool pairHalf = c >= 0xD800 && c <= 0xDFFF;
    return 1 + (c >= 0x80) + (c >= 0x800 && !pairHalf) + (c == u'\n');
}

// Walks a decoded window forwards, turning its character offsets back into bytes. Matches come
// every few dozen characters in a dense Replace All, so the walk takes eight units at a time.
class ByteMap
{
public:
    ByteMap(const QString &window, qint64 startByte)
        : m_units(reinterpret_cast<const char16_t *>(window.constData())), m_byte(startByte)
    {
    }

    qint64 byteAt(qsizetype offset)
    {
#ifdef __SSE2__
        const auto splat = [](int value) { return _mm_set1_epi16(short(value)); };
        // Unsigned comparisons of units, as signed ones with the top bit flipped.
        const __m128i flip = splat(0x8000);
        const __m128i above7F = splat(0x7F ^ 0x8000);
        const __m128i above7FF = splat(0x7FF ^ 0x8000);
        __m128i extra = _mm_setzero_si128(); // minus the bytes beyond one per unit, in 32 bits
        for (; m_offset + 8 <= offset; m_offset += 8) {
            const __m128i units
                = _mm_loadu_si128(reinterpret_cast<const __m128i *>(m_units + m_offset));
            const __m128i flipped = _mm_xor_si128(units, flip);
            const __m128i pairHalf
                = _mm_cmpeq_epi16(_mm_and_si128(units, splat(0xF800)), splat(0xD800));
            const __m128i lanes = _mm_add_epi16(
                _mm_add_epi16(_mm_cmpgt_epi16(flipped, above7F),
                              _mm_andnot_si128(pairHalf, _mm_cmpgt_epi16(flipped, above7FF))),
                _mm_cmpeq_epi16(units, splat(u'\n')));
            extra = _mm_add_epi32(extra, _mm_madd_epi16(lanes, splat(1)));
            m_byte += 8;
        }
        extra = _mm_add_epi32(extra, _mm_shuffle_epi32(extra, _MM_SHUFFLE(1, 0, 3, 2)));
        extra = _mm_add_epi32(extra, _mm_shuffle_epi32(extra, _MM_SHUFFLE(2, 3, 0, 1)));
        m_byte -= _mm_cvtsi128_si32(extra);
#endif
        for (; m_offset < offset; ++m_offset)
            m_byte += unitBytes(m_units[m_offset]);
        return m_byte;
    }

private:
    const char16_t *m_units;
    qsizetype m_offset = 0;
    qint64 m_byte;
};

// A replacement split once into its literal runs and the groups it refers to ("\1" and the like
// for a regular expression), so that each match only copies them into a string kept for the
// next. Line breaks take the CR LF form.
class Expansion
{
public:
    Expansion(const QString &replaceWith, bool expression)
    {
        QString literal;
        for (qsizetype i = 0; i < replaceWith.size(); ++i) {
            const QChar c = replaceWith.at(i);
            if (!expression || c != u'\\' || i + 1 == replaceWith.size()) {
                literal.append(c);
                continue;
            }
            const QChar next = replaceWith.at(++i);
            if (next.isDigit() && next.unicode() < 0x80) {
                m_parts.append({ literal, next.unicode() - u'0' });
                literal.clear();
            } else if (next == u'n') {
                literal.append(u'\n');
            } else if (next == u't') {
                literal.append(u'\t');
            } else if (next == u'\\') {
                literal.append(u'\\');
            } else {
                literal.append(c).append(next);
            }
        }
        m_parts.append({ literal, -1 });
        for (const Part &part : m_parts)
            m_breaks = m_breaks || part.literal.contains(u'\r') || part.literal.contains(u'\n');
        if (m_parts.size() == 1)
            m_text = TextBuffer::withCrLf(literal);
    }

    // The same for every match.
    bool fixed() const { return m_parts.size() == 1; }

    const QString &expand(const QRegularExpressionMatch &match)
    {
        if (fixed())
            return m_text;
        m_text.resize(0);
        bool breaks = m_breaks;
        for (const Part &part : m_parts) {
            m_text.append(part.literal);
            if (part.group >= 0) {
                const QStringView captured = match.capturedView(part.group);
                breaks = breaks || captured.contains(u'\n');
                m_text.append(captured);
            }
        }
        if (breaks)
            m_text = TextBuffer::withCrLf(m_text);
        return m_text;
    }

private:
    struct Part
    {
        QString literal; // before the group
        int group = -1;
    };
    QList<Part> m_parts;
    bool m_breaks = false; // in the literal runs
    QString m_text;
};

// Asks keepGoing between matches once PollMilliseconds have passed, so that a slice with many
// matches (each with its replacement to make) is stopped as soon as one without. The clock is
// read only every so many matches: they can come every few hundred nanoseconds.
class MatchPacer
{
public:
    explicit MatchPacer(const TextSearch::KeepGoing &keepGoing) : m_keepGoing(keepGoing)
    {
        m_clock.start();
    }
    bool keepGoing(qint64 done, qint64 total)
    {
        if (!m_keepGoing || ++m_matches % 256 != 0
            || m_clock.elapsed() < TextSearch::PollMilliseconds)
            return true;
        m_clock.restart();
        return m_keepGoing(done, total);
    }

private:
    const TextSearch::KeepGoing &m_keepGoing;
    QElapsedTimer m_clock;
    quint32 m_matches = 0;
};

} // namespace

TextSearch::TextSearch(const Query &query) : m_query(query)
{
    for (int i = 0; i < 256; ++i)
        m_fold[i] = uchar(i >= 'A' && i <= 'Z' ? i - 'A' + 'a' : i);

    const QString pattern = TextBuffer::withCrLf(query.pattern);
    bool ascii = true;
    for (const QChar c : pattern)
        ascii = ascii && c.unicode() < 0x80;

    QRegularExpression::PatternOptions options = QRegularExpression::MultilineOption;
    if (!query.matchCase)
        options |= QRegularExpression::CaseInsensitiveOption;
    if (query.regularExpression) {
        m_kind = Kind::Expression;
        m_expression = QRegularExpression(query.pattern, options);
    } else if (query.matchCase || ascii) {
        m_kind = query.matchCase ? Kind::Bytes : Kind::FoldedBytes;
        m_needle = pattern.toUtf8();
        if (m_kind == Kind::FoldedBytes) {
            for (char &c : m_needle)
                c = char(m_fold[uchar(c)]);
        }
    } else {
        // Case-blind matching beyond ASCII needs Unicode's case rules: the decoded windows.
        m_kind = Kind::Expression;
        QString lines = pattern;
        lines.replace(u"\r\n"_s, u"\n"_s);
        m_expression = QRegularExpression(QRegularExpression::escape(lines), options);
    }
    if (m_kind == Kind::Expression) {
        m_valid = m_expression.isValid();
        m_expression.optimize();
    }
}

qint64 TextSearch::locate(QByteArrayView haystack, qint64 from) const
{
    const qint64 m = m_needle.size();
    const qint64 n = haystack.size();
    if (from < 0 || n - from < m)
        return -1;
    const auto *h = reinterpret_cast<const uchar *>(haystack.data());
    const auto *needle = reinterpret_cast<const uchar *>(m_needle.constData());
    const bool folded = m_kind == Kind::FoldedBytes;
    const auto matchesAt = [&](qint64 at) {
        if (!folded)
            return std::memcmp(h + at, needle, size_t(m)) == 0;
        for (qint64 i = 0; i < m; ++i) {
            if (m_fold[h[at + i]] != needle[i])
                return false;
        }
        return true;
    };
    qint64 at = from;
#ifdef __SSE2__
    // Candidates by the needle's first and last bytes, 32 at a time (a chunk is too short for
    // memmem's set-up to pay); when folding, setting bit 5 folds ASCII letters and lets through a
    // few other bytes, which the full comparison rejects.
    const auto folding
        = [folded](uchar c) { return char(folded && c >= 'a' && c <= 'z' ? 0x20 : 0); };
    const __m128i firstFold = _mm_set1_epi8(folding(needle[0]));
    const __m128i lastFold = _mm_set1_epi8(folding(needle[m - 1]));
    const __m128i first = _mm_set1_epi8(char(needle[0]));
    const __m128i last = _mm_set1_epi8(char(needle[m - 1]));
    const auto sweep = [&](auto fold, qint64 step) -> qint64 {
        const auto load = [&](qint64 offset, __m128i bits) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + offset));
            if constexpr (decltype(fold)::value)
                return _mm_or_si128(v, bits);
            else
                return v;
        };
        const auto hits = [&](qint64 offset) {
            return uint(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(load(offset, firstFold), first),
                              _mm_cmpeq_epi8(load(offset + m - 1, lastFold), last))));
        };
        for (; at + m - 1 + step <= n; at += step) {
            uint candidates = hits(at);
            if (step == 32)
                candidates |= hits(at + 16) << 16;
            for (; candidates != 0; candidates &= candidates - 1) {
                const qint64 candidate = at + qCountTrailingZeroBits(candidates);
                if (matchesAt(candidate))
                    return candidate;
            }
        }
        return -1;
    };
    for (const qint64 step : { 32, 16 }) {
        const qint64 found
            = folded ? sweep(std::true_type {}, step) : sweep(std::false_type {}, step);
        if (found >= 0)
            return found;
    }
#endif
    // The last bytes of each chunk, and the few across two: most fail at their first byte, which
    // costs less to compare than a call.
    const uchar lead = needle[0];
    for (; at + m <= n; ++at) {
        if ((folded ? m_fold[h[at]] : h[at]) == lead && matchesAt(at))
            return at;
    }
    return -1;
}

bool TextSearch::wholeWordAt(const ByteSource &text, Range range) const
{
    QByteArray before;
    text.forEachChunkBackward(range.start, [&](QByteArrayView chunk, qint64 start) {
        const qint64 end = std::min<qint64>(range.start, start + chunk.size());
        before.prepend(chunk.first(end - start).last(std::min<qint64>(4, end - start)));
        return before.size() < 4 && start > 0;
    });
    qsizetype lead = before.size();
    while (lead > 0 && continuation(before.at(lead - 1)))
        --lead;
    if (lead > 0 && isWordCharacter(decodeFirst(QByteArrayView(before).sliced(lead - 1))))
        return false;
    const QByteArray after = bytesBetween(text, range.end, range.end + 4);
    return after.isEmpty() || !isWordCharacter(decodeFirst(after));
}

QString TextSearch::plainReplacement(const QString &replaceWith) const
{
    return TextBuffer::withCrLf(replaceWith);
}

bool TextSearch::scan(const ByteSource &text, qint64 from, qint64 until, const QString *replaceWith,
                      const OnMatch &onMatch) const
{
    if (!m_valid || m_query.pattern.isEmpty() || from >= until)
        return true;
    if (m_kind == Kind::Expression)
        return scanExpression(text, from, until, replaceWith, onMatch);
    return scanBytes(text, from, until, replaceWith, onMatch);
}

bool TextSearch::scanBytes(const ByteSource &text, qint64 from, qint64 until,
                           const QString *replaceWith, const OnMatch &onMatch) const
{
    const qint64 m = m_needle.size();
    const QString replacement = replaceWith ? plainReplacement(*replaceWith) : QString();
    // The last m - 1 bytes seen: a match may start there and end in the next chunk.
    // Reused buffers: a chunk is only a few kilobytes, so an allocation per chunk would cost
    // more than the search itself.
    std::vector<char> carry;
    std::vector<char> joined;
    carry.reserve(size_t(2 * m));
    joined.reserve(size_t(2 * m));
    qint64 carryStart = from;
    qint64 next = from; // matches do not overlap
    bool goOn = true;
    const auto consider = [&](qint64 start) {
        if (start < next)
            return true;
        if (start >= until)
            return false;
        const Range range { start, start + m };
        if (m_query.wholeWords && !wholeWordAt(text, range))
            return true;
        next = range.end;
        goOn = onMatch(range, replacement);
        return goOn;
    };
    text.forEachChunk(from, [&](QByteArrayView chunk, qint64 chunkStart) {
        const qint64 skip = std::max<qint64>(0, from - chunkStart);
        if (skip >= chunk.size())
            return true;
        const QByteArrayView part = chunk.sliced(skip);
        const qint64 partStart = chunkStart + skip;
        if (!carry.empty()) {
            const QByteArrayView head = part.first(std::min<qint64>(m - 1, part.size()));
            joined.assign(carry.begin(), carry.end());
            joined.insert(joined.end(), head.begin(), head.end());
            const QByteArrayView across(joined.data(), qsizetype(joined.size()));
            const qint64 carried = qint64(carry.size());
            for (qint64 i = locate(across, 0); i >= 0 && i < carried; i = locate(across, i + 1)) {
                if (!consider(carryStart + i))
                    return false;
            }
        }
        for (qint64 i = locate(part, std::max<qint64>(0, next - partStart)); i >= 0;
             i = locate(part, std::max<qint64>(i + 1, next - partStart))) {
            if (!consider(partStart + i))
                return false;
        }
        const qint64 partEnd = partStart + part.size();
        if (partEnd - (m - 1) >= until)
            return false;
        if (part.size() >= m - 1) {
            const QByteArrayView tail = part.last(m - 1);
            carry.assign(tail.begin(), tail.end());
        } else {
            carry.insert(carry.end(), part.begin(), part.end());
            if (qint64(carry.size()) > m - 1)
                carry.erase(carry.begin(), carry.end() - (m - 1));
        }
        carryStart = partEnd - qint64(carry.size());
        return true;
    });
    return goOn;
}

bool TextSearch::scanExpression(const ByteSource &text, qint64 from, qint64 until,
                                const QString *replaceWith, const OnMatch &onMatch) const
{
    const qint64 size = text.byteLength();
    QByteArray lines; // a window's bytes without their CRs, kept for the next window
    std::optional<Expansion> expansion;
    if (replaceWith)
        expansion.emplace(*replaceWith, m_query.regularExpression);
    const QString none;
    qint64 position = from;
    qint64 reach = Context;
    qint64 growTo = 0; // a match touched the window's end: the next window reaches this far
    while (position < until && position <= size) {
        // The window starts at the line start, or a little before the position on a long line.
        const qint64 contextStart = std::max<qint64>(0, position - Context);
        const QByteArray before = bytesBetween(text, contextStart, position);
        qsizetype lineStart = before.lastIndexOf('\n') + 1;
        if (lineStart == 0 && contextStart > 0) {
            while (lineStart < before.size()
                   && (continuation(before.at(lineStart)) || before.at(lineStart) == '\n'))
                ++lineStart;
        }
        const qint64 windowStart = contextStart + lineStart;

        // It takes the matches that start in its share of the slice, and reads on to the line
        // break after some context, so that a match across the share's end is seen whole.
        const qint64 target
            = std::min(size, std::max(std::min(until, position + WindowBytes), growTo));
        const qint64 limit = std::min(size, target + Context + reach);
        // A few bytes more tell whether limit falls inside a character.
        QByteArray bytes = bytesBetween(text, windowStart, std::min(size, limit + 4));
        qint64 windowEnd = limit;
        const qsizetype lf
            = bytes.indexOf('\n', std::min<qint64>(limit, target + Context) - 1 - windowStart);
        if (lf >= 0) {
            windowEnd = windowStart + lf + 1;
        } else if (limit < size) {
            while (windowEnd > target && continuation(bytes.at(windowEnd - windowStart)))
                --windowEnd;
            if (windowEnd > windowStart && bytes.at(windowEnd - 1 - windowStart) == '\r')
                --windowEnd;
        }
        bytes.truncate(windowEnd - windowStart);
        qsizetype offset = windowOffset(QByteArrayView(bytes).first(position - windowStart));
        // Line breaks read as "\n": the CRs go from the bytes, which costs less than from the
        // characters.
        lines.resize(bytes.size() + 16);
        const QString window = QString::fromUtf8(lines.data(), withoutCr(bytes, lines.data()));
        bytes.clear();
        const bool more = windowEnd < size;
        const qint64 share = more ? target : size + 1;

        ByteMap map(window, windowStart);
        bool grow = false;
        // Where more text could change a match (or make one), the match stops at the window's
        // end as a partial one, which grows the window instead of missing the match.
        const auto matchType
            = more ? QRegularExpression::PartialPreferFirstMatch : QRegularExpression::NormalMatch;
        while (offset <= window.size()) {
            // The window came from valid UTF-8, so it is valid UTF-16: checked again at every
            // match, it would cost the rest of the window each time.
            const QRegularExpressionMatch match = m_expression.match(
                window, offset, matchType, QRegularExpression::DontCheckSubjectStringMatchOption);
            if (!match.hasMatch() && !match.hasPartialMatch())
                break;
            const qsizetype start16 = match.capturedStart();
            const qsizetype end16 = match.capturedEnd();
            const qint64 startByte = map.byteAt(start16);
            if (startByte >= until)
                return true;
            if (startByte >= share)
                break;
            if (match.hasPartialMatch() || (more && end16 == window.size())) {
                // It may go on past the window, or be an anchor at its edge.
                grow = true;
                position = startByte;
                break;
            }
            const Range range { startByte, map.byteAt(end16) };
            if (!m_query.wholeWords || wholeWordAt(text, range)) {
                if (!onMatch(range, expansion ? expansion->expand(match) : none))
                    return false;
            }
            offset = end16;
            if (end16 == start16) {
                if (offset == window.size())
                    break;
                offset += window.at(offset).isHighSurrogate() ? 2 : 1;
            }
            position = map.byteAt(std::min(offset, window.size()));
        }
        if (grow) {
            growTo = windowEnd + reach;
            reach *= 4;
            continue;
        }
        reach = Context;
        growTo = 0;
        if (!more)
            return true;
        position = std::max(position, target);
    }
    return true;
}

TextSearch::Result TextSearch::findNext(const ByteSource &text, Range selection,
                                        Direction direction, bool wrap,
                                        const KeepGoing &keepGoing) const
{
    Result result;
    if (!m_valid || m_query.pattern.isEmpty())
        return result;
    const qint64 end = text.byteLength() + 1; // an empty match may stand at the very end
    // The share done counts the bytes of every slice read, whichever way and wherever it went.
    const qint64 before = direction == Direction::Forward ? end - selection.end : selection.start;
    const qint64 total = wrap ? end : before;
    qint64 read = 0;
    MatchPacer pacer(keepGoing);
    // After each slice: a match ends the search, and so does the user stopping it.
    const auto sliceDone = [&](qint64 sliceBytes) {
        read += sliceBytes;
        if (result.match.found() || result.stopped)
            return true;
        result.stopped = keepGoing && !keepGoing(read, total);
        return result.stopped;
    };

    const auto forward = [&](qint64 from, qint64 until, bool skipSelection) {
        const auto firstIn = [&](qint64 start, qint64 end) {
            Range first;
            scan(text, start, end, nullptr, [&](Range match, const QString &) {
                if (skipSelection && match == selection)
                    return true;
                first = match;
                return false;
            });
            return first;
        };
        for (qint64 slice = from; slice < until;) {
            const qint64 sliceEnd = std::min(until, slice + SliceBytes);
            // Bytes are searched two slices at a time, the second on another core: on a text of
            // gigabytes the walk waits on memory for every leaf, and two walks wait together.
            // Nothing changes the text meanwhile, and reading the bytes changes nothing.
            qint64 reached = std::min(until, sliceEnd + SliceBytes);
            std::future<Range> ahead;
            if (m_kind != Kind::Expression && sliceEnd < until) {
                try {
                    ahead = std::async(std::launch::async, firstIn, sliceEnd, reached);
                } catch (const std::system_error &) {
                    // No thread to be had: one slice at a time.
                }
            }
            result.match = firstIn(slice, sliceEnd);
            if (ahead.valid()) {
                const Range next = ahead.get();
                if (!result.match.found())
                    result.match = next;
            } else {
                reached = sliceEnd;
            }
            if (sliceDone(reached - slice))
                return true;
            slice = reached;
        }
        return false;
    };
    const auto backward = [&](qint64 from, qint64 until) {
        for (qint64 sliceEnd = until; sliceEnd > from; sliceEnd -= SliceBytes) {
            const qint64 slice = std::max(from, sliceEnd - SliceBytes);
            scan(text, slice, sliceEnd, nullptr, [&](Range match, const QString &) {
                // Every match of the slice is read to find its last one.
                result.match = match;
                if (pacer.keepGoing(read + match.start - slice, total))
                    return true;
                result = { {}, true };
                return false;
            });
            if (sliceDone(sliceEnd - slice))
                return true;
        }
        return false;
    };

    if (direction == Direction::Forward) {
        if (!forward(selection.end, end, true) && wrap)
            forward(0, std::min(end, selection.end), false);
    } else {
        if (!backward(0, selection.start) && wrap)
            backward(selection.start, end);
    }
    return result;
}

bool TextSearch::matchesExactly(const ByteSource &text, Range range, const QString &replaceWith,
                                QString *replacement) const
{
    bool exact = false;
    scan(text, range.start, range.start + 1, &replaceWith,
         [&](Range match, const QString &expanded) {
             exact = match == range;
             if (exact && replacement)
                 *replacement = expanded;
             return false;
         });
    return exact;
}

bool TextSearch::findAll(const ByteSource &text, const QString &replaceWith,
                         const MatchVisitor &visit, const KeepGoing &keepGoing) const
{
    const qint64 end = text.byteLength() + 1;
    Range previous;
    bool goOn = true;
    MatchPacer pacer(keepGoing);
    for (qint64 slice = 0; slice < end && goOn; slice += SliceBytes) {
        // A match may run into the next slice; the next one starts after it.
        const qint64 from = std::max(slice, previous.end);
        goOn = scan(text, from, std::min(end, slice + SliceBytes), &replaceWith,
                    [&](Range match, const QString &replacement) {
                        if (match == previous)
                            return true;
                        previous = match;
                        return visit(match, replacement) && pacer.keepGoing(match.end, end);
                    });
        if (goOn && keepGoing && !keepGoing(std::min(end, slice + SliceBytes), end))
            return false;
    }
    return goOn;
}

namespace {

class BufferBytes : public ByteSource
{
public:
    explicit BufferBytes(const TextBuffer &buffer) : m_buffer(buffer) { }
    qint64 byteLength() const override { return m_buffer.byteLength(); }
    void forEachChunk(qint64 fromByte, const Visitor &visit) const override
    {
        m_buffer.forEachChunk(fromByte, visit);
    }
    void forEachChunkBackward(qint64 beforeByte, const Visitor &visit) const override
    {
        m_buffer.forEachChunkBackward(beforeByte, visit);
    }
    qint64 byteOfPosition(qint64 position) const override
    {
        return m_buffer.byteOfPosition(position);
    }
    qint64 positionOfByte(qint64 byte) const override { return m_buffer.positionOfByte(byte); }

private:
    const TextBuffer &m_buffer;
};

} // namespace

std::unique_ptr<ByteSource> searchableBytes(const TextBuffer &buffer)
{
    return std::make_unique<BufferBytes>(buffer);
}
