#include "itemscanner.h"

#include "failure.h"

#include <QtAlgorithms>

#include <algorithm>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUORVEX_SSE2
#endif

using namespace Qt::StringLiterals;

namespace {

// Room past the run size, so that an item that starts just below it rarely needs handing over in
// parts.
constexpr qsizetype Spare = 64;

inline bool isDelimiter(char c) { return c == ',' || c == '\n' || c == '\r'; }

// The first comma, CR or LF in [from, end), or end: sixteen bytes per step where the processor
// allows, since in text full of short items this loop is most of the reading.
const char *findDelimiter(const char *from, const char *end)
{
#ifdef QUORVEX_SSE2
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; end - from >= 16; from += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
        const __m128i hits
            = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, comma), _mm_cmpeq_epi8(block, cr)),
                           _mm_cmpeq_epi8(block, lf));
        if (const uint mask = uint(_mm_movemask_epi8(hits)))
            return from + qCountTrailingZeroBits(mask);
    }
#endif
    while (from < end && !isDelimiter(*from))
        ++from;
    return from;
}

const char *findMark(const char *from, const char *end)
{
    const void *mark = std::memchr(from, '"', size_t(end - from));
    return mark ? static_cast<const char *>(mark) : end;
}

} // namespace

ItemScanner::ItemScanner(QStringView lineBreak, Sink sink, qsizetype runSize)
    : m_lineBreak(lineBreak.toUtf8()), m_lineBreakCharacters(lineBreak.size()),
      m_sink(std::move(sink)), m_runSize(runSize),
      m_out(runSize + Spare + m_lineBreak.size(), Qt::Uninitialized)
{
}

void ItemScanner::scan(QByteArrayView bytes)
{
    const char *from = bytes.data();
    const char *const end = from + bytes.size();
    while (from < end) {
        switch (m_state) {
        case State::AfterCr:
            if (*from == '\n')
                ++from;
            m_state = State::ItemStart;
            break;
        case State::ItemStart:
        case State::Unquoted:
            from = scanUnquoted(from, end);
            break;
        case State::Quoted:
        case State::QuotedMark:
            from = scanQuoted(from, end);
            break;
        }
    }
}

// Unquoted items one after the other, until a quoted one starts or the bytes end.
const char *ItemScanner::scanUnquoted(const char *from, const char *end)
{
    while (from < end) {
        if (m_state == State::ItemStart) {
            if (*from == '"') {
                m_state = State::Quoted;
                return from + 1;
            }
            m_state = State::Unquoted;
        }
        const char *delimiter = findDelimiter(from, end);
        append(from, delimiter - from);
        if (delimiter == end)
            return end;
        endItem();
        m_state = *delimiter == '\r' ? State::AfterCr : State::ItemStart;
        from = delimiter + 1;
        if (m_state == State::AfterCr) {
            if (from == end)
                return end;
            if (*from == '\n')
                ++from;
            m_state = State::ItemStart;
        }
    }
    return from;
}

// Inside a quoted item: a mark followed by a delimiter or the end closes it, two marks are one,
// any other mark is kept.
const char *ItemScanner::scanQuoted(const char *from, const char *end)
{
    while (from < end) {
        if (m_state == State::QuotedMark) {
            const char c = *from;
            if (isDelimiter(c)) {
                endItem();
                m_state = c == '\r' ? State::AfterCr : State::ItemStart;
                return from + 1;
            }
            append("\"", 1);
            if (c == '"')
                ++from;
            m_state = State::Quoted;
            continue;
        }
        const char *mark = findMark(from, end);
        append(from, mark - from);
        if (mark == end)
            return end;
        m_state = State::QuotedMark;
        from = mark + 1;
    }
    return from;
}

void ItemScanner::append(const char *bytes, qsizetype count)
{
    if (m_used + count > m_runSize + Spare) {
        appendLong(bytes, count);
        return;
    }
    std::memcpy(m_out.data() + m_used, bytes, size_t(count));
    m_used += count;
}

// Part of an item that does not fit: the whole items before it go first, then the item in parts.
void ItemScanner::appendLong(const char *bytes, qsizetype count)
{
    while (count > 0) {
        if (m_used == m_runSize + Spare)
            handOverPart();
        const qsizetype taken = std::min(count, m_runSize + Spare - m_used);
        std::memcpy(m_out.data() + m_used, bytes, size_t(taken));
        m_used += taken;
        bytes += taken;
        count -= taken;
    }
}

void ItemScanner::endItem()
{
    std::memcpy(m_out.data() + m_used, m_lineBreak.constData(), size_t(m_lineBreak.size()));
    m_used += m_lineBreak.size();
    m_itemsEnd = m_used;
    ++m_items;
    if (m_used >= m_runSize)
        handOver(m_used, m_items);
}

// Hands over the first size bytes of m_out, which end right after the last of their items, and
// keeps the rest.
void ItemScanner::handOver(qsizetype size, qsizetype items)
{
    QByteArrayView text(m_out.constData(), size);
    ItemRun run;
    run.items = items;
    run.characters = characters(text) + m_partCharacters;
    if (items > 0) {
        run.characters -= items * m_lineBreakCharacters;
        m_partCharacters = 0;
    } else {
        m_partCharacters = run.characters;
        run.characters = 0;
    }
    run.text = text;
    m_sink(run);
    std::memmove(m_out.data(), m_out.constData() + size, size_t(m_used - size));
    m_used -= size;
    m_itemsEnd = 0;
    m_items = 0;
}

// m_out is full inside an item: the whole items go, then as much of the item as ends on a
// character boundary.
void ItemScanner::handOverPart()
{
    if (m_items > 0)
        handOver(m_itemsEnd, m_items);
    const QByteArrayView part(m_out.constData(), m_used);
    handOver(utf8Boundary(part), 0);
}

// UTF-16 units of the bytes: one per character, two for one outside the basic plane.
qint64 ItemScanner::characters(QByteArrayView bytes)
{
    qint64 count = 0;
    for (const char c : bytes)
        count += qint64(!isUtf8Continuation(c)) + qint64(uchar(c) >= 0xF0);
    return count;
}

void ItemScanner::finish()
{
    switch (m_state) {
    case State::Unquoted:
    case State::QuotedMark:
        endItem();
        break;
    case State::Quoted:
        if (m_items > 0)
            handOver(m_itemsEnd, m_items);
        throw Failure(FailureNumber::InputPastEndOfFile,
                      u"Input past end of file: the file ends inside a quoted item."_s);
    case State::ItemStart:
    case State::AfterCr:
        break;
    }
    m_state = State::ItemStart;
    if (m_used > 0)
        handOver(m_used, m_items);
}

TextEncoding scanDocument(const ReadBytes &read, QStringView lineBreak,
                          const ItemScanner::Sink &sink, qsizetype runSize)
{
    // A few stretches' worth per read: the whole read size for the usual stretches.
    const qsizetype blockSize = std::min(DocumentReadSize, 4 * runSize);
    ItemScanner scanner(lineBreak, sink, runSize);
    const TextEncoding encoding = readDocumentText(
        read, blockSize, [&scanner](QByteArrayView bytes) { scanner.scan(bytes); });
    scanner.finish();
    return encoding;
}
