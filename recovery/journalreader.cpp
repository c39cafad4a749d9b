#include "journalreader.h"

#include "journalformat.h"
#include "statefolder.h"

#include <QStringDecoder>

using namespace JournalFormat;

namespace {

constexpr qint64 Piece = 1 << 20;
// The header and path records are small; anything larger is not one.
constexpr qint64 MostSmallRecord = 1 << 16;

// Reads the file through a window of a megabyte or so, so that many small records cost few
// reads of the file.
class Reader
{
public:
    Reader(StateFile &file) : m_file(file), m_size(file.size()) { }

    // The next record's kind and payload length, checked against the file; false at its end
    // or where a record could not be whole.
    bool next(quint32 &kind, qint64 &length)
    {
        if (m_size - m_at < HeadBytes + TailBytes)
            return false;
        const QByteArrayView head = bytes(m_at, HeadBytes);
        if (head.size() != HeadBytes)
            return false;
        kind = quint32(readNumber(head.data(), 4));
        const quint64 claimed = readNumber(head.data() + 4, 8);
        if (claimed > quint64(m_size - m_at - HeadBytes - TailBytes))
            return false;
        length = qint64(claimed);
        m_crc = crc32(head);
        m_payload = m_at + HeadBytes;
        return true;
    }
    // The payload in pieces; true when its checksum holds, and the reader then stands after it.
    bool payload(qint64 length, const std::function<void(QByteArrayView)> &piece)
    {
        for (qint64 at = 0; at < length;) {
            const QByteArrayView part = bytes(m_payload + at, std::min(Piece, length - at));
            if (part.isEmpty())
                return false;
            m_crc = crc32(part, m_crc);
            piece(part);
            at += part.size();
        }
        const QByteArrayView tail = bytes(m_payload + length, TailBytes);
        if (tail.size() != TailBytes || quint32(readNumber(tail.data(), TailBytes)) != m_crc)
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
    // Up to size bytes at the offset, from the window, which moves there when they are not in it;
    // fewer only at the end of the file.
    QByteArrayView bytes(qint64 offset, qint64 size)
    {
        if (offset < m_windowStart || offset + size > m_windowStart + m_window.size()) {
            m_window.resize(std::max(Piece, size));
            const qint64 got = m_file.readAt(offset, m_window.data(), m_window.size());
            m_window.resize(got);
            m_windowStart = offset;
        }
        const qint64 from = offset - m_windowStart;
        return QByteArrayView(m_window).sliced(from, std::min(size, m_window.size() - from));
    }

    StateFile &m_file;
    qint64 m_size;
    qint64 m_at = 0;
    qint64 m_payload = 0;
    quint32 m_crc = 0;
    QByteArray m_window;
    qint64 m_windowStart = 0;
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
    Utf8Check units;
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
        Utf8Check added;
        added.add(change.inserted);
        if (!added.finish())
            return contents;
        change.insertedUnits = added.units();
        const qint64 nextUnits = contents.units - change.removed + change.insertedUnits;
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
