#include "storedform.h"

#include <QtAlgorithms>

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace storedform {

// Lines are short in the texts where this matters most, so it counts sixteen bytes at a time
// rather than calling memchr per line.
const char *nthLineFeed(const char *from, const char *end, qint64 n)
{
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n');
    for (; end - from >= 16; from += 16) {
        uint found = uint(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(from)), lf)));
        for (; found != 0; found &= found - 1) {
            if (--n == 0)
                return from + qCountTrailingZeroBits(found);
        }
    }
#endif
    for (;; ++from) {
        if (*from == '\n' && --n == 0)
            return from;
    }
}

namespace {

bool isLoneBreak(const char *data, qint64 at, qint64 size)
{
    if (data[at] == '\r')
        return at + 1 == size || data[at + 1] != '\n';
    return data[at] == '\n' && (at == 0 || data[at - 1] != '\r');
}

// The first CR that no LF follows or LF that no CR precedes, at or after from, or size. Text read
// from a file is mostly in CR LF form already, so this looks for the exceptions sixteen bytes at
// a time rather than stopping at every break.
qint64 nextLoneBreak(const char *data, qint64 from, qint64 size)
{
#ifdef __SSE2__
    if (from == 0 && size > 0 && !isLoneBreak(data, 0, size))
        from = 1;
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    // Each block is loaded with the byte before it and the byte after it.
    for (; from > 0 && from + 17 <= size; from += 16) {
        const auto at = [&](qint64 offset) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + from + offset));
        };
        const __m128i chars = at(0);
        const __m128i loneCr
            = _mm_andnot_si128(_mm_cmpeq_epi8(at(1), lf), _mm_cmpeq_epi8(chars, cr));
        const __m128i loneLf
            = _mm_andnot_si128(_mm_cmpeq_epi8(at(-1), cr), _mm_cmpeq_epi8(chars, lf));
        if (const uint found = uint(_mm_movemask_epi8(_mm_or_si128(loneCr, loneLf))))
            return from + qCountTrailingZeroBits(found);
    }
#endif
    for (; from < size; ++from) {
        if (isLoneBreak(data, from, size))
            return from;
    }
    return size;
}

} // namespace

void appendUtf8(rope::Builder &builder, const char *data, qint64 size, bool &endedWithCr)
{
    if (size == 0)
        return;
    qint64 run = endedWithCr && data[0] == '\n' ? 1 : 0;
    for (qint64 at = nextLoneBreak(data, run, size); at < size;
         at = nextLoneBreak(data, run, size)) {
        builder.appendBytes(data + run, at - run);
        builder.appendBytes("\r\n", 2);
        run = at + 1;
    }
    builder.appendBytes(data + run, size - run);
    endedWithCr = data[size - 1] == '\r';
}

// UTF-16 goes in as UTF-8 a piece at a time, never cutting a surrogate pair.
void appendUtf16(rope::Builder &builder, QStringView text, bool &endedWithCr)
{
    constexpr qsizetype Piece = 1 << 16;
    for (qsizetype from = 0; from < text.size();) {
        qsizetype count = std::min(Piece, text.size() - from);
        if (from + count < text.size() && text.at(from + count - 1).isHighSurrogate())
            --count;
        const QByteArray bytes = text.sliced(from, count).toUtf8();
        appendUtf8(builder, bytes.constData(), bytes.size(), endedWithCr);
        from += count;
    }
}

rope::NodePtr treeOf(QStringView text)
{
    rope::Builder builder;
    bool endedWithCr = false;
    appendUtf16(builder, text, endedWithCr);
    return builder.tree();
}

QString withCrLf(const QString &text)
{
    const QStringView view(text);
    if (!view.contains(u'\r') && !view.contains(u'\n'))
        return text;
    QString result;
    result.reserve(text.size() + text.size() / 8 + 2);
    const qsizetype size = text.size();
    const char16_t *in = view.utf16();
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = in[i];
        if (c != u'\r' && c != u'\n')
            continue;
        result.append(QStringView(in + runStart, i - runStart));
        result.append(u"\r\n");
        if (c == u'\r' && i + 1 < size && in[i + 1] == u'\n')
            ++i;
        runStart = i + 1;
    }
    result.append(QStringView(in + runStart, size - runStart));
    return result;
}

} // namespace storedform
