#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <functional>
#include <vector>

// Read access to a text stored as UTF-8 in chunks, with CR LF between lines: what the search
// needs of a storage. Chunks never split a UTF-8 sequence or a CR LF pair.
class ByteSource
{
public:
    // Returns false to stop the walk.
    using Visitor = std::function<bool(QByteArrayView bytes, qint64 startByte)>;

    virtual ~ByteSource() = default;
    virtual qint64 byteLength() const = 0;
    // From the chunk holding fromByte onwards; the first chunk may start before fromByte.
    virtual void forEachChunk(qint64 fromByte, const Visitor &visit) const = 0;
    // From the chunk that ends at or after beforeByte backwards.
    virtual void forEachChunkBackward(qint64 beforeByte, const Visitor &visit) const = 0;
    // Positions count UTF-16 units; bytes lie at character boundaries.
    virtual qint64 byteOfPosition(qint64 position) const = 0;
    virtual qint64 positionOfByte(qint64 byte) const = 0;
};

// A ByteSource over one block of UTF-8 bytes (CR LF breaks) served in chunks of about the given
// size, with a position at the start of each chunk so that conversions stay local.
class Utf8Chunks : public ByteSource
{
public:
    explicit Utf8Chunks(QByteArray utf8, qsizetype chunkSize = 64 * 1024);

    qint64 byteLength() const override { return m_bytes.size(); }
    void forEachChunk(qint64 fromByte, const Visitor &visit) const override;
    void forEachChunkBackward(qint64 beforeByte, const Visitor &visit) const override;
    qint64 byteOfPosition(qint64 position) const override;
    qint64 positionOfByte(qint64 byte) const override;

private:
    size_t chunkOfByte(qint64 byte) const;
    QByteArrayView chunk(size_t index) const;

    QByteArray m_bytes;
    std::vector<qint64> m_starts; // byte where each chunk starts, and the end
    std::vector<qint64> m_positions; // position where each chunk starts, and the end
};
