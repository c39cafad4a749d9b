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

ItemReader::ItemReader(QString text)
{
    if (!text.isEmpty())
        m_pieces.append(std::move(text));
}

ItemReader::ItemReader(QList<QString> pieces) : m_pieces(std::move(pieces))
{
    m_pieces.removeIf([](const QString &piece) { return piece.isEmpty(); });
}

QString ItemReader::next()
{
    if (atEnd()) {
        throw Failure(FailureNumber::InputPastEndOfFile,
                      u"Input past end of file: there is no item left to read."_s);
    }
    return current() == u'"' ? readQuoted() : readUnquoted();
}

void ItemReader::releasePiece()
{
    m_passed += m_pieces.constFirst().size();
    m_pieces.removeFirst();
    m_index = 0;
}

// Moves on within the first piece, and lets it go once it has been read to its end.
void ItemReader::advance(qsizetype count)
{
    m_index += count;
    if (m_index == m_pieces.constFirst().size())
        releasePiece();
}

// Steps over the delimiter at the reading position, and over the LF of a CR LF, which may start
// the next piece.
void ItemReader::skipDelimiter()
{
    const QChar c = current();
    advance(1);
    if (c == u'\r' && !atEnd() && current() == u'\n')
        advance(1);
}

QString ItemReader::readUnquoted()
{
    QString item;
    for (;;) {
        const QString &piece = m_pieces.constFirst();
        const qsizetype size = piece.size();
        const qsizetype end
            = findDelimiter(reinterpret_cast<const char16_t *>(piece.utf16()), m_index, size);
        if (item.isNull())
            item = QString(piece.constData() + m_index, end - m_index);
        else
            item.append(piece.constData() + m_index, end - m_index);
        if (end < size) {
            m_index = end;
            skipDelimiter();
            return item;
        }
        releasePiece();
        if (atEnd())
            return item;
    }
}

QString ItemReader::readQuoted()
{
    advance(1); // the opening mark
    QString item;
    while (!atEnd()) {
        const QStringView piece(m_pieces.constFirst());
        const qsizetype mark = piece.indexOf(u'"', m_index);
        if (mark < 0) {
            item += piece.sliced(m_index);
            releasePiece();
            continue;
        }
        item += piece.sliced(m_index, mark - m_index);
        m_index = mark;
        advance(1);
        if (atEnd())
            return item;
        if (isDelimiter(current().unicode())) {
            skipDelimiter();
            return item;
        }
        // Two marks in a row are one; a lone mark inside the item is one of its characters.
        item += u'"';
        if (current() == u'"')
            advance(1);
    }
    throw Failure(FailureNumber::InputPastEndOfFile,
                  u"Input past end of file: the file ends inside a quoted item."_s);
}
