#include "bytesource.h"

#include <algorithm>
#include <cstring>

namespace {

bool continuation(char byte) { return (uchar(byte) & 0xC0) == 0x80; }

// UTF-16 units of a run of UTF-8 bytes that starts and ends at character boundaries. Mostly
// ASCII, so eight bytes at a time while none has its high bit set.
qint64 utf16Units(QByteArrayView bytes)
{
    const char *at = bytes.data();
    const char *const end = at + bytes.size();
    qint64 units = 0;
    while (at < end) {
        if (end - at >= 8) {
            quint64 word;
            std::memcpy(&word, at, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                units += 8;
                at += 8;
                continue;
            }
        }
        const uchar byte = uchar(*at++);
        if ((byte & 0xC0) != 0x80)
            units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

} // namespace

Utf8Chunks::Utf8Chunks(QByteArray utf8, qsizetype chunkSize) : m_bytes(std::move(utf8))
{
    const qint64 size = m_bytes.size();
    const qint64 step = std::max<qsizetype>(chunkSize, 4);
    qint64 start = 0;
    qint64 position = 0;
    while (start < size) {
        m_starts.push_back(start);
        m_positions.push_back(position);
        qint64 end = std::min(size, start + step);
        while (end < size && (continuation(m_bytes.at(end)) || m_bytes.at(end) == '\n'))
            ++end;
        position += utf16Units(QByteArrayView(m_bytes).sliced(start, end - start));
        start = end;
    }
    m_starts.push_back(size);
    m_positions.push_back(position);
}

size_t Utf8Chunks::chunkOfByte(qint64 byte) const
{
    const auto after = std::upper_bound(m_starts.begin(), m_starts.end() - 1, byte);
    return size_t(std::max<qint64>(0, after - m_starts.begin() - 1));
}

QByteArrayView Utf8Chunks::chunk(size_t index) const
{
    return QByteArrayView(m_bytes).sliced(m_starts[index], m_starts[index + 1] - m_starts[index]);
}

void Utf8Chunks::forEachChunk(qint64 fromByte, const Visitor &visit) const
{
    for (size_t i = chunkOfByte(std::max<qint64>(0, fromByte)); i + 1 < m_starts.size(); ++i) {
        if (!visit(chunk(i), m_starts[i]))
            return;
    }
}

void Utf8Chunks::forEachChunkBackward(qint64 beforeByte, const Visitor &visit) const
{
    if (m_starts.size() < 2 || beforeByte <= 0)
        return;
    for (size_t i = chunkOfByte(beforeByte - 1) + 1; i-- > 0;) {
        if (!visit(chunk(i), m_starts[i]))
            return;
    }
}

qint64 Utf8Chunks::positionOfByte(qint64 byte) const
{
    byte = std::clamp<qint64>(byte, 0, m_bytes.size());
    const size_t index = chunkOfByte(byte);
    return m_positions[index] + utf16Units(chunk(index).first(byte - m_starts[index]));
}

qint64 Utf8Chunks::byteOfPosition(qint64 position) const
{
    position = std::clamp<qint64>(position, 0, m_positions.back());
    const auto after = std::upper_bound(m_positions.begin(), m_positions.end() - 1, position);
    const size_t index = size_t(std::max<qint64>(0, after - m_positions.begin() - 1));
    qint64 units = m_positions[index];
    qint64 byte = m_starts[index];
    for (; units < position && byte < m_bytes.size(); ++byte) {
        const char c = m_bytes.at(byte);
        if (!continuation(c))
            units += uchar(c) >= 0xF0 ? 2 : 1;
    }
    while (byte < m_bytes.size() && continuation(m_bytes.at(byte)))
        ++byte;
    return byte;
}
