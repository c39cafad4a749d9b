#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// The bytes of a recovery journal. A journal is a series of records, each
//   kind (4 bytes) | payload length (8 bytes) | payload | CRC-32 of all that comes before (4 bytes)
// with numbers little-endian. A journal starts with a header, the document's file and the base
// (the whole text in UTF-8, line breaks as CR LF); each edit after it replaces a range of the
// text, counted in UTF-16 units as the text box counts them. A record that is cut short or does
// not match its checksum ends what can be read.
namespace JournalFormat {

enum Kind : quint32 {
    Header = 0x4a565851, // "QXVJ": a file that is not a journal does not start with it
    Path = 2,
    Base = 3,
    Edit = 4,
};

constexpr int Version = 1;
constexpr qint64 HeadBytes = 12;
constexpr qint64 TailBytes = 4;

// CRC-32C (Castagnoli), continued from an earlier value.
quint32 crc32(QByteArrayView bytes, quint32 crc = 0);

// The first twelve bytes of a record.
QByteArray head(Kind kind, qint64 payloadBytes);
// A whole record, its checksum included.
QByteArray record(Kind kind, QByteArrayView payload);
void appendNumber(QByteArray &to, quint64 value);
void appendTail(QByteArray &to, quint32 crc);

// Numbers as variable-length groups of seven bits, the lowest first.
void appendVarint(QByteArray &to, quint64 value);
// Reads one at the offset, which moves past it; false when the bytes end first or it is too long.
bool readVarint(QByteArrayView from, qsizetype &offset, quint64 &value);

quint64 readNumber(const char *bytes, int size);

// Counts the UTF-16 units of UTF-8 given in pieces (which may end inside a character), and
// tells whether all of it is valid.
class Utf8Check
{
public:
    void add(QByteArrayView bytes);
    // False when the bytes were not valid UTF-8, or ended inside a character.
    bool finish() const { return m_valid && m_need == 0; }
    qint64 units() const { return m_units; }

private:
    qint64 m_units = 0;
    int m_need = 0; // continuation bytes still to come
    uint m_code = 0; // the character so far
    int m_length = 0; // of the character under way
    bool m_valid = true;
};

} // namespace JournalFormat
