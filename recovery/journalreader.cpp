#include "journalreader.h"

#include "journalformat.h"
#include "statefolder.h"

#include <QStringDecoder>

using namespace JournalFormat;

namespace {

constexpr qint64 Piece = 1 << 20;
// The header and path records are small; anything larger is not one.
constexpr qint64 MostSmallRecord = 1 << 16;

// Counts the UTF-16 units of UTF-8 text given in pieces, and whether it is valid.
class Utf8Units
{
public:
    void add(QByteArrayView bytes)
    {
        m_buffer.resize(bytes.size() + 2);
        QChar *end = m_decoder.appendToBuffer(m_buffer.data(), bytes);
        m_units += end - m_buffer.constData();
    }
    bool finish()
    {
        // A sequence cut at the end is an error once no more bytes come.
        QChar tail[4];
        m_units += m_decoder.appendToBuffer(tail, QByteArrayView()) - tail;
        return !m_decoder.hasError();
    }
    qint64 units() const { return m_units; }

private:
    // Pieces may end inside a character: the decoder carries it to the next. A mark at the start
    // is a character of the text like any other.
    QStringDecoder m_decoder { QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom };
    QString m_buffer;
    qint64 m_units = 0;
};

class Reader
{
public:
    Reader(StateFile &file) : m_file(file), m_size(file.size()) { }

    // The next record's kind and payload length, checked against the file; false at its end
    // or where a record could not be whole.
    bool next(quint32 &kind, qint64 &length)
    {
        char head[HeadBytes];
        if (m_size - m_at < HeadBytes + TailBytes
            || m_file.readAt(m_at, head, HeadBytes) != HeadBytes)
            return false;
        kind = quint32(readNumber(head, 4));
        const quint64 claimed = readNumber(head + 4, 8);
        if (claimed > quint64(m_size - m_at - HeadBytes - TailBytes))
            return false;
        length = qint64(claimed);
        m_crc = crc32(QByteArrayView(head, HeadBytes));
        m_payload = m_at + HeadBytes;
        return true;
    }
    // The payload in pieces; true when its checksum holds, and the reader then stands after it.
    bool payload(qint64 length, const std::function<void(QByteArrayView)> &piece)
    {
        QByteArray buffer;
        for (qint64 at = 0; at < length;) {
            const qint64 size = std::min(Piece, length - at);
            buffer.resize(size);
            if (m_file.readAt(m_payload + at, buffer.data(), size) != size)
                return false;
            m_crc = crc32(buffer, m_crc);
            piece(buffer);
            at += size;
        }
        char tail[TailBytes];
        if (m_file.readAt(m_payload + length, tail, TailBytes) != TailBytes
            || quint32(readNumber(tail, TailBytes)) != m_crc)
            return false;
        m_at = m_payload + length + TailBytes;
        return true;
    }
    bool whole(qint64 length, QByteArray &into)
    {
        into.clear();
        into.reserve(length);
        return payload(length, [&](QByteArrayView piece) { into += piece; });
    }
    bool atEnd() const { return m_at == m_size; }

private:
    StateFile &m_file;
    qint64 m_size;
    qint64 m_at = 0;
    qint64 m_payload = 0;
    quint32 m_crc = 0;
};

bool readPath(QByteArrayView payload, JournalContents &contents)
{
    qsizetype at = 0;
    quint64 hasFile = 0;
    quint64 pathBytes = 0;
    if (!readVarint(payload, at, hasFile) || !readVarint(payload, at, pathBytes)
        || pathBytes > quint64(payload.size() - at))
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString path = decoder(payload.sliced(at, qsizetype(pathBytes)));
    if (decoder.hasError() || (hasFile != 0) == path.isEmpty())
        return false;
    contents.path = path;
    contents.stamp = payload.sliced(at + qsizetype(pathBytes)).toByteArray();
    return true;
}

} // namespace

JournalContents readJournal(StateFile &file, qint64 mostBytes, qint64 mostUnits,
                            const std::function<void(QByteArrayView)> &base,
                            const std::function<void(const JournalEdit &)> &edit)
{
    JournalContents contents;
    Reader reader(file);
    quint32 kind = 0;
    qint64 length = 0;
    QByteArray payload;

    // The header, of a format this program knows.
    if (!reader.next(kind, length) || kind != Header || length > MostSmallRecord
        || !reader.whole(length, payload))
        return contents;
    qsizetype at = 0;
    quint64 version = 0, generation = 0, created = 0;
    if (!readVarint(payload, at, version) || version != quint64(Version)
        || !readVarint(payload, at, generation) || !readVarint(payload, at, created))
        return contents;
    contents.generation = qint64(generation);
    contents.created = qint64(created);

    // The document's file.
    if (!reader.next(kind, length) || kind != Path || length > MostSmallRecord
        || !reader.whole(length, payload) || !readPath(payload, contents))
        return contents;

    // The base, handed over as it is read.
    if (!reader.next(kind, length) || kind != Base)
        return contents;
    if (length > mostBytes) {
        contents.tooLarge = true;
        return contents;
    }
    Utf8Units units;
    if (!reader.payload(length,
                        [&](QByteArrayView piece) {
                            units.add(piece);
                            if (base)
                                base(piece);
                        })
        || !units.finish() || units.units() > mostUnits)
        return contents;
    contents.usable = true;
    contents.units = units.units();

    // The edits, each whole and checked before it is used; a change of file between them.
    JournalEdit change;
    while (reader.next(kind, length)) {
        if (kind == Path) {
            JournalContents moved = contents;
            if (length > MostSmallRecord || !reader.whole(length, payload)
                || !readPath(payload, moved))
                return contents;
            contents = moved;
            continue;
        }
        if (kind != Edit)
            return contents;
        if (length > mostBytes + MostSmallRecord) {
            contents.tooLarge = true;
            return contents;
        }
        if (!reader.whole(length, payload))
            return contents;
        qsizetype offset = 0;
        quint64 position = 0, removed = 0;
        if (!readVarint(payload, offset, position) || !readVarint(payload, offset, removed)
            || position > quint64(contents.units) || removed > quint64(contents.units) - position)
            return contents;
        change.position = qint64(position);
        change.removed = qint64(removed);
        change.inserted = payload.sliced(offset);
        Utf8Units added;
        added.add(change.inserted);
        if (!added.finish())
            return contents;
        const qint64 nextUnits = contents.units - change.removed + added.units();
        if (nextUnits > mostUnits) {
            contents.tooLarge = true;
            return contents;
        }
        contents.units = nextUnits;
        ++contents.edits;
        if (edit)
            edit(change);
    }
    contents.complete = reader.atEnd();
    return contents;
}
