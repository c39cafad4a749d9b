#include "encodings.h"

#include "asciiblock.h"
#include "failure.h"

#include <QByteArray>
#include <QList>
#include <QStringEncoder>
#include <QtEndian>

#include <array>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUORVEX_SSE2
#endif

using namespace Qt::StringLiterals;

namespace {

// Windows-1252 from 0x80 to 0x9F; above, the code page agrees with Latin-1.
constexpr char16_t High1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct Utf8Char
{
    char bytes[3];
    quint8 size;
};

// Every byte of the code page as UTF-8, so that reading costs one look-up a byte.
constexpr std::array<Utf8Char, 256> Utf8Of1252 = [] {
    std::array<Utf8Char, 256> table {};
    for (int byte = 0; byte < 256; ++byte) {
        const char16_t c = byte >= 0x80 && byte < 0xA0 ? High1252[byte - 0x80] : char16_t(byte);
        Utf8Char &to = table[byte];
        if (c < 0x80) {
            to = { { char(c) }, 1 };
        } else if (c < 0x800) {
            to = { { char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F)) }, 2 };
        } else {
            to = { { char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)),
                     char(0x80 | (c & 0x3F)) },
                   3 };
        }
    }
    return table;
}();

// The byte for the character, or -1.
int byteIn1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < 32; ++i) {
        if (High1252[i] == c)
            return 0x80 + i;
    }
    return -1;
}

// Where a reading of blocks stopped: at the end of the file, or, when take refused a block, at
// the offset of that block's first byte (nothing of it was taken).
struct Stop
{
    bool atEnd = true;
    qint64 offset = 0;
};

// Hands the bytes from offset on to take, blockSize at a time, each cut where cut says (the rest
// starts the next block); stops when take refuses a block. A file that ends inside what cut held
// back stops there too, as a refused block.
Stop readBlocks(const ReadBytes &read, qint64 offset, qsizetype blockSize,
                const std::function<qsizetype(QByteArrayView)> &cut,
                const std::function<bool(QByteArrayView)> &take)
{
    // Room for what a block may carry over: a UTF-8 character but its last byte, or an odd byte
    // and the first half of a UTF-16 surrogate pair.
    QByteArray buffer(blockSize + 3, Qt::Uninitialized);
    qsizetype carried = 0;
    for (;;) {
        const qsizetype count = read(offset, buffer.data() + carried, blockSize);
        offset += count;
        if (count == 0)
            return { carried == 0, offset - carried };
        const QByteArrayView bytes(buffer.constData(), carried + count);
        const qsizetype end = cut(bytes);
        if (end > 0 && !take(bytes.first(end)))
            return { false, offset - bytes.size() };
        carried = bytes.size() - end;
        std::memmove(buffer.data(), bytes.data() + end, size_t(carried));
    }
}

// One UTF-8 sequence starting with a byte above 0x7F at from: its length when it is well formed
// (no overlong form, no surrogate, nothing above U+10FFFF), else 0.
qsizetype sequenceAt(const uchar *from, const uchar *end)
{
    const uchar lead = from[0];
    const qsizetype length = lead >= 0xC2 && lead <= 0xDF ? 2
        : lead >= 0xE0 && lead <= 0xEF                    ? 3
        : lead >= 0xF0 && lead <= 0xF4                    ? 4
                                                          : 0;
    if (length == 0 || end - from < length)
        return 0;
    // The second byte's range depends on the lead; the others are plain continuations.
    uchar low = 0x80, high = 0xBF;
    if (lead == 0xE0)
        low = 0xA0;
    else if (lead == 0xED)
        high = 0x9F;
    else if (lead == 0xF0)
        low = 0x90;
    else if (lead == 0xF4)
        high = 0x8F;
    if (from[1] < low || from[1] > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (!isUtf8Continuation(char(from[i])))
            return 0;
    }
    return length;
}

// Reads the text as UTF-8 from offset, checking each block as it goes; ascii stays true while
// every block taken was ASCII.
Stop readUtf8(const ReadBytes &read, qint64 offset, qsizetype blockSize,
              const std::function<void(QByteArrayView)> &take, bool &ascii)
{
    return readBlocks(read, offset, blockSize, utf8Boundary, [&](QByteArrayView bytes) {
        const Utf8Check check = checkUtf8(bytes);
        if (check == Utf8Check::Invalid)
            return false;
        ascii = ascii && check == Utf8Check::Ascii;
        if (take)
            take(bytes);
        return true;
    });
}

Stop readUtf16(const ReadBytes &read, bool bigEndian, qsizetype blockSize,
               const std::function<void(QByteArrayView)> &take)
{
    QList<char16_t> units;
    // Whole units, and never the first half of a pair without the second.
    const auto cut = [&](QByteArrayView bytes) {
        const qsizetype count = bytes.size() / 2;
        units.resize(count);
        if (bigEndian)
            qFromBigEndian<char16_t>(bytes.data(), count, units.data());
        else
            qFromLittleEndian<char16_t>(bytes.data(), count, units.data());
        const bool pairCut = count > 0 && QChar::isHighSurrogate(units.at(count - 1));
        return 2 * (count - qsizetype(pairCut));
    };
    // The UTF-8 converter reports lone surrogates: checked and converted in one pass.
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QByteArray utf8;
    return readBlocks(read, 2, blockSize, cut, [&](QByteArrayView bytes) {
        const QStringView text(units.constData(), bytes.size() / 2);
        if (!take)
            return text.isValidUtf16();
        utf8.resize(encoder.requiredSpace(text.size()));
        const char *end = encoder.appendToBuffer(utf8.data(), text);
        if (encoder.hasError())
            return false;
        take(QByteArrayView(utf8.constData(), end - utf8.constData()));
        return true;
    });
}

void read1252(const ReadBytes &read, qint64 offset, qsizetype blockSize,
              const std::function<void(QByteArrayView)> &take)
{
    QByteArray utf8;
    const auto whole = [](QByteArrayView bytes) { return bytes.size(); };
    readBlocks(read, offset, blockSize, whole, [&](QByteArrayView bytes) {
        utf8.resize(3 * bytes.size());
        char *to = utf8.data();
        const char *from = bytes.data();
        const char *const end = from + bytes.size();
        while (from < end) {
#ifdef QUORVEX_SSE2
            // Such files are mostly ASCII, which is the same in UTF-8: sixteen bytes at a time.
            if (end - from >= 16) {
                const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
                if (_mm_movemask_epi8(chars) == 0) {
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(to), chars);
                    from += 16;
                    to += 16;
                    continue;
                }
            }
#endif
            const Utf8Char &c = Utf8Of1252[uchar(*from++)];
            to[0] = c.bytes[0];
            to[1] = c.bytes[1];
            to[2] = c.bytes[2];
            to += c.size;
        }
        take(QByteArrayView(utf8.constData(), to - utf8.constData()));
        return true;
    });
}

// The encoding the file's first bytes name by their mark, else UTF-8.
TextEncoding markedEncoding(const ReadBytes &read)
{
    char head[3];
    qsizetype size = 0;
    for (qsizetype count = 1; size < 3 && count > 0; size += count)
        count = read(size, head + size, 3 - size);
    const QByteArrayView start(head, size);
    for (const TextEncoding marked :
         { TextEncoding::Utf8WithBom, TextEncoding::Utf16LE, TextEncoding::Utf16BE }) {
        if (start.startsWith(byteOrderMark(marked)))
            return marked;
    }
    return TextEncoding::Utf8;
}

} // namespace

qsizetype utf8Boundary(QByteArrayView bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype i = size - 1; i >= 0 && i >= size - 4; --i) {
        if (isUtf8Continuation(bytes[i]))
            continue;
        const uchar lead = uchar(bytes[i]);
        const qsizetype length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        return i + length > size ? i : size;
    }
    return size;
}

QByteArrayView byteOrderMark(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8WithBom:
        return "\xEF\xBB\xBF";
    case TextEncoding::Utf16LE:
        return "\xFF\xFE";
    case TextEncoding::Utf16BE:
        return "\xFE\xFF";
    case TextEncoding::Utf8:
    case TextEncoding::Windows1252:
        break;
    }
    return {};
}

Utf8Check checkUtf8(QByteArrayView bytes)
{
    const auto *from = reinterpret_cast<const uchar *>(bytes.data());
    const auto *const end = from + bytes.size();
    Utf8Check check = Utf8Check::Ascii;
    while (from < end) {
        // Runs of ASCII go 64 or 16 bytes at a time; other bytes one sequence at a time.
#ifdef QUORVEX_SSE2
        if (end - from >= 64 && asciiBlock64(from)) {
            from += 64;
            continue;
        }
        if (end - from >= 16) {
            const uint high
                = uint(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(from))));
            if (high == 0) {
                from += 16;
                continue;
            }
            from += qCountTrailingZeroBits(high);
        }
#endif
        if (*from < 0x80) {
            ++from;
            continue;
        }
        const qsizetype length = sequenceAt(from, end);
        if (length == 0)
            return Utf8Check::Invalid;
        check = Utf8Check::Valid;
        from += length;
    }
    return check;
}

bool readAsUtf8(const ReadBytes &read, TextEncoding encoding, qsizetype blockSize,
                const std::function<void(QByteArrayView)> &take)
{
    bool ascii = true;
    switch (encoding) {
    case TextEncoding::Utf8:
    case TextEncoding::Utf8WithBom:
        return readUtf8(read, byteOrderMark(encoding).size(), blockSize, take, ascii).atEnd;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        return readUtf16(read, encoding == TextEncoding::Utf16BE, blockSize, take).atEnd;
    case TextEncoding::Windows1252:
        if (take)
            read1252(read, 0, blockSize, take);
        return true;
    }
    return false;
}

TextEncoding detectEncoding(const ReadBytes &read, qsizetype blockSize)
{
    const TextEncoding marked = markedEncoding(read);
    return readAsUtf8(read, marked, blockSize) ? marked : TextEncoding::Windows1252;
}

TextEncoding readDocumentText(const ReadBytes &read, qsizetype blockSize,
                              const std::function<void(QByteArrayView)> &take,
                              const std::function<void()> &restart)
{
    const TextEncoding marked = markedEncoding(read);
    bool taken = false;
    const auto taking = [&](QByteArrayView bytes) {
        taken = true;
        take(bytes);
    };
    Stop stop;
    bool ascii = true;
    if (marked == TextEncoding::Utf16LE || marked == TextEncoding::Utf16BE)
        stop = readUtf16(read, marked == TextEncoding::Utf16BE, blockSize, taking);
    else
        stop = readUtf8(read, byteOrderMark(marked).size(), blockSize, taking, ascii);
    if (stop.atEnd)
        return marked;
    // ASCII reads the same in Windows-1252: without a mark, the reading goes on from where it
    // stopped. Anything else taken was read otherwise and is read again.
    if (marked == TextEncoding::Utf8 && ascii) {
        read1252(read, stop.offset, blockSize, take);
    } else {
        if (taken)
            restart();
        read1252(read, 0, blockSize, take);
    }
    return TextEncoding::Windows1252;
}

qsizetype firstUnstorableIn1252(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (byteIn1252(text[i].unicode()) < 0)
            return i;
    }
    return -1;
}

char *toWindows1252(char *out, QStringView text)
{
    for (const QChar c : text) {
        const int byte = byteIn1252(c.unicode());
        if (byte < 0)
            return nullptr;
        *out++ = char(byte);
    }
    return out;
}
