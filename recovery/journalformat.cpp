#include "journalformat.h"

#include <array>

namespace JournalFormat {

namespace {

// Eight tables, so that eight bytes are folded in per step.
using Tables = std::array<std::array<quint32, 256>, 8>;

constexpr Tables makeTables()
{
    Tables tables {};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][i] = c;
    }
    for (quint32 i = 0; i < 256; ++i) {
        for (int t = 1; t < 8; ++t)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
    }
    return tables;
}

constexpr Tables tables = makeTables();

} // namespace

quint32 crc32(QByteArrayView bytes, quint32 crc)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    qsizetype size = bytes.size();
    crc = ~crc;
    for (; size >= 8; size -= 8, p += 8) {
        const quint32 low = crc
            ^ (quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF]
            ^ tables[4][low >> 24] ^ tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]]
            ^ tables[0][p[7]];
    }
    for (; size > 0; --size, ++p)
        crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void appendNumber(QByteArray &to, quint64 value)
{
    for (int i = 0; i < 8; ++i)
        to.append(char((value >> (8 * i)) & 0xFF));
}

void appendTail(QByteArray &to, quint32 crc)
{
    for (int i = 0; i < 4; ++i)
        to.append(char((crc >> (8 * i)) & 0xFF));
}

QByteArray head(Kind kind, qint64 payloadBytes)
{
    QByteArray bytes;
    bytes.reserve(HeadBytes);
    for (int i = 0; i < 4; ++i)
        bytes.append(char((quint32(kind) >> (8 * i)) & 0xFF));
    appendNumber(bytes, quint64(payloadBytes));
    return bytes;
}

QByteArray record(Kind kind, QByteArrayView payload)
{
    QByteArray bytes = head(kind, payload.size());
    bytes.reserve(HeadBytes + payload.size() + TailBytes);
    bytes.append(payload);
    appendTail(bytes, crc32(bytes));
    return bytes;
}

void appendVarint(QByteArray &to, quint64 value)
{
    do {
        to.append(char((value & 0x7F) | (value > 0x7F ? 0x80 : 0)));
        value >>= 7;
    } while (value);
}

bool readVarint(QByteArrayView from, qsizetype &offset, quint64 &value)
{
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (offset >= from.size())
            return false;
        const uchar byte = uchar(from[offset++]);
        value |= quint64(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

quint64 readNumber(const char *bytes, int size)
{
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value |= quint64(uchar(bytes[i])) << (8 * i);
    return value;
}

} // namespace JournalFormat
