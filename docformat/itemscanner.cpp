#include "itemscanner.h"

#include "asciiblock.h"
#include "failure.h"

#include <QtAlgorithms>

#include <algorithm>
#include <cstring>
#include <optional>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUORVEX_SSE2
#endif

using namespace Qt::StringLiterals;

namespace {

// Room past the run size, so that an item that starts just below it rarely needs handing over in
// parts.
constexpr qsizetype Spare = 256;

// The fast scan copies at most this much of an item before it ends or is put in m_out,
constexpr qsizetype FastHeld = 64;
// and needs this much room in m_out for a step: that, 16 bytes of the block, a store of 16 bytes
// and a line break of at most 4.
constexpr qsizetype FastStepRoom = FastHeld + 16 + 16 + 4;

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
    if (m_lineBreak.size() <= qsizetype(sizeof m_lineBreakWord))
        std::memcpy(&m_lineBreakWord, m_lineBreak.constData(), size_t(m_lineBreak.size()));
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
        from = scanUnquotedFast(from, end);
        if (from == end || m_state == State::ItemStart)
            continue;
        const char *delimiter = findDelimiter(from, end);
        append(from, delimiter - from);
        if (delimiter == end)
            return end;
        from = endUnquoted(delimiter, end);
    }
    return from;
}

// Ends the item at its delimiter and returns where the next one starts: past a CR LF as one break.
const char *ItemScanner::endUnquoted(const char *delimiter, const char *end)
{
    endItem();
    m_state = State::ItemStart;
    const char *from = delimiter + 1;
    if (*delimiter == '\r') {
        if (from == end)
            m_state = State::AfterCr;
        else if (*from == '\n')
            ++from;
    }
    return from;
}

// Short items in a row are most of a comma-dense file: this takes the delimiters of sixteen bytes
// at once and copies each item with one store, with no call per item and no step waiting on the
// one before, while the bytes and the room in m_out allow. It stops at the start of a quoted item
// or of one it leaves unfinished, whose bytes so far are in m_out.
const char *ItemScanner::scanUnquotedFast(const char *from, const char *end)
{
#ifdef QUORVEX_SSE2
    if (m_lineBreak.size() > qsizetype(sizeof m_lineBreakWord)
        || m_used + FastStepRoom > m_runSize + Spare)
        return from;
    const qsizetype breakSize = m_lineBreak.size();
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    char *const out = m_out.data();
    // The counts and sizes stay in locals, which the compiler need neither store nor load again
    // after every copy into out (a char pointer, which may alias the members).
    const quint32 lineBreakWord = m_lineBreakWord;
    const qsizetype runSize = m_runSize;
    qsizetype used = m_used;
    qsizetype items = m_items;
    qsizetype itemsEnd = m_itemsEnd;
    const char *start = from; // of the item under way, whose bytes before it are in m_out
    const char *block = from;
    bool fresh = false; // start follows a delimiter: the item there may yet be quoted
    // Each block must have a byte after it, so that a CR at its end can look for its LF.
    for (; end - block > 16; block += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block));
        const __m128i hits
            = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, comma), _mm_cmpeq_epi8(bytes, cr)),
                           _mm_cmpeq_epi8(bytes, lf));
        for (uint mask = uint(_mm_movemask_epi8(hits)); mask != 0; mask &= mask - 1) {
            const char *delimiter = block + qCountTrailingZeroBits(mask);
            if (delimiter < start)
                continue; // the LF of a CR LF
            const qsizetype size = delimiter - start;
            // One store of sixteen bytes where they are all in the given bytes.
            if (size <= 16 && end - start >= 16)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + used),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(start)));
            else
                std::memcpy(out + used, start, size_t(size));
            used += size;
            std::memcpy(out + used, &lineBreakWord, sizeof lineBreakWord);
            used += breakSize;
            itemsEnd = used;
            ++items;
            start = delimiter + (*delimiter == '\r' && delimiter[1] == '\n' ? 2 : 1);
            fresh = true;
            if (used >= runSize) {
                m_used = used;
                handOver(used, items);
                used = m_used;
                items = m_items;
                itemsEnd = m_itemsEnd;
            }
            if (start < end && *start == '"')
                break;
        }
        if (fresh && start < end && *start == '"')
            break;
        // A long item goes into m_out as the blocks pass, so that what waits stays small.
        const char *next = block + 16;
        if (next - start > FastHeld) {
            std::memcpy(out + used, start, size_t(next - start));
            used += next - start;
            start = next;
            fresh = false;
        }
        if (used + FastStepRoom > runSize + Spare) {
            block = next;
            break;
        }
    }
    // What waits goes into m_out too: the caller goes on from where the blocks stopped.
    const char *stop = std::max(start, block);
    if (fresh && start < end && *start == '"')
        stop = start;
    if (stop > start) {
        std::memcpy(out + used, start, size_t(stop - start));
        used += stop - start;
    } else if (fresh) {
        m_state = State::ItemStart;
    }
    m_used = used;
    m_items = items;
    m_itemsEnd = itemsEnd;
    return stop;
#else
    return from;
#endif
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
    const char *from = bytes.data();
    const char *const end = from + bytes.size();
#ifdef QUORVEX_SSE2
    // As signed bytes, a continuation byte is below -64 and a four-byte lead at least -16. Each
    // match subtracts one from its byte's counter, summed before any counter can pass 255.
    const __m128i belowLead = _mm_set1_epi8(-65);
    const __m128i belowFour = _mm_set1_epi8(-17);
    const __m128i zero = _mm_setzero_si128();
    while (end - from >= 16) {
        // Text is mostly ASCII, one unit a byte: told 64 bytes at a time.
        if (end - from >= 64 && asciiBlock64(from)) {
            count += 64;
            from += 64;
            continue;
        }
        __m128i counters = zero;
        for (int step = 0; step < 4 && end - from >= 16; ++step, from += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
            const __m128i fours
                = _mm_and_si128(_mm_cmpgt_epi8(block, belowFour), _mm_cmplt_epi8(block, zero));
            counters = _mm_sub_epi8(counters, _mm_cmpgt_epi8(block, belowLead));
            counters = _mm_sub_epi8(counters, fours);
        }
        const __m128i sums = _mm_sad_epu8(counters, zero);
        count += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
    }
#endif
    for (; from < end; ++from)
        count += qint64(!isUtf8Continuation(*from)) + qint64(uchar(*from) >= 0xF0);
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
    std::optional<ItemScanner> scanner(std::in_place, lineBreak, sink, runSize);
    const TextEncoding encoding = readDocumentText(
        read, blockSize, [&scanner](QByteArrayView bytes) { scanner->scan(bytes); },
        [&] {
            scanner.emplace(lineBreak, sink, runSize);
            ItemRun run;
            run.restarted = true;
            sink(run);
        });
    scanner->finish();
    return encoding;
}
