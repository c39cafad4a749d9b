#include "itemreader.h"

#include "failure.h"

#include <QtAlgorithms>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUORVEX_SSE2
#endif

using namespace Qt::StringLiterals;

namespace {

inline bool isDelimiter(char16_t c)
{
    // Every delimiter sorts at or below the comma: one test settles most characters.
    return c <= u',' && (c == u',' || c == u'\n' || c == u'\r');
}

// The index of the first comma, CR or LF at or after from, or size. Unquoted items are most of
// a plain text file, so this loop is most of the reading time: eight characters per step where
// the processor allows.
qsizetype findDelimiter(const char16_t *data, qsizetype from, qsizetype size)
{
#ifdef QUORVEX_SSE2
    const __m128i comma = _mm_set1_epi16(u',');
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i lf = _mm_set1_epi16(u'\n');
    for (; from + 8 <= size; from += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + from));
        const __m128i hits
            = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(chunk, comma), _mm_cmpeq_epi16(chunk, cr)),
                           _mm_cmpeq_epi16(chunk, lf));
        if (const uint mask = uint(_mm_movemask_epi8(hits)))
            return from + qCountTrailingZeroBits(mask) / 2;
    }
#endif
    while (from < size && !isDelimiter(data[from]))
        ++from;
    return from;
}

} // namespace

ItemReader::ItemReader(QString text) : m_text(std::move(text)) { }

QString ItemReader::next()
{
    if (atEnd()) {
        throw Failure(FailureNumber::InputPastEndOfFile,
                      u"Input past end of file: there is no item left to read."_s);
    }
    return m_text.at(m_position) == u'"' ? readQuoted() : readUnquoted();
}

QString ItemReader::readUnquoted()
{
    const char16_t *const data = reinterpret_cast<const char16_t *>(m_text.utf16());
    const qsizetype size = m_text.size();
    const qsizetype start = m_position;
    const qsizetype end = findDelimiter(data, start, size);
    QString item(m_text.constData() + start, end - start);
    skipDelimiterAt(end);
    return item;
}

QString ItemReader::readQuoted()
{
    const QStringView text(m_text);
    const qsizetype size = text.size();
    QString item;
    qsizetype segment = m_position + 1; // first character not yet copied into the item
    qsizetype from = segment;
    for (;;) {
        const qsizetype mark = text.indexOf(u'"', from);
        if (mark < 0) {
            m_position = size;
            throw Failure(FailureNumber::InputPastEndOfFile,
                          u"Input past end of file: the file ends inside a quoted item."_s);
        }
        const qsizetype after = mark + 1;
        if (after < size && text[after] == u'"') {
            item += text.sliced(segment, after - segment); // keeps one of the two
            segment = from = after + 1;
        } else if (after == size || isDelimiter(text[after].unicode())) {
            const qsizetype start = m_position;
            skipDelimiterAt(after);
            if (start == 0 && item.isEmpty() && m_position == size)
                return takeWholeText(mark);
            item += text.sliced(segment, mark - segment);
            return item;
        } else {
            from = after; // a lone mark inside the item is one of its characters
        }
    }
}

// A file this program wrote is one quoted item: it is cut out of the text in place rather than
// copied, which spares a second copy of a large document.
QString ItemReader::takeWholeText(qsizetype closingMark)
{
    QString item = std::move(m_text);
    m_text = QString();
    item.truncate(closingMark);
    item.remove(0, 1);
    return item;
}

void ItemReader::skipDelimiterAt(qsizetype index)
{
    const qsizetype size = m_text.size();
    if (index >= size) {
        m_position = size;
        return;
    }
    const QChar c = m_text.at(index);
    m_position = index + 1;
    if (c == u'\r' && m_position < size && m_text.at(m_position) == u'\n')
        ++m_position;
}
