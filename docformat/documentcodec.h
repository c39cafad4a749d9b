#pragma once

#include "text.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <functional>

// Bytes of a document file <-> characters, in the system's encoding.

inline bool isUtf8Continuation(char byte) { return (uchar(byte) & 0xC0) == 0x80; }

// Where UTF-8 bytes can be cut without splitting a character: before a last sequence that its
// first byte says is not whole, else at their end. Invalid bytes are left to the decoder.
qsizetype utf8Boundary(QByteArrayView bytes);

// Decodes a whole file. A leading UTF-8 byte-order mark is skipped. Bytes that are not valid in
// the system's encoding (a truncated multi-byte tail included) make the whole file read as
// Latin-1, one character per byte, so that nothing is replaced or dropped.
QString decodeDocument(QByteArrayView bytes);

// Reads up to size bytes of the file, from offset bytes after its start, into buffer; returns how
// many, 0 at the end of the file. Throws a Failure when the file cannot be read.
using ReadBytes = std::function<qsizetype(qint64 offset, char *buffer, qsizetype size)>;

constexpr qsizetype DocumentReadSize = 1 << 20;

// The text of 16 reads, which takes a little over 32 MB: allocators map blocks that large on
// their own (glibc never keeps one in its heap), so a piece that has been read past goes back to
// the system at once, instead of staying in the heap while the text built from it grows elsewhere.
constexpr qsizetype DocumentPieceLength = 16 * DocumentReadSize + (64 << 10);

// The same decoding for a file read DocumentReadSize bytes at a time, so that its bytes are never
// held whole: the text comes back in pieces of at most pieceLength characters, none of them
// empty. The Latin-1 case reads the file again from its start.
QList<QString> decodeDocument(const ReadBytes &read, qsizetype pieceLength = DocumentPieceLength);

// Hands the encoded written form of one item to the sink, piece by piece in order: a mark, the
// text with each of its marks doubled, a mark, CR LF. The text is encoded as its source hands it
// over, so neither it nor the encoded form is ever held whole. A character the system's encoding
// cannot represent throws a Failure before the piece holding it reaches the sink; so does the sink.
void encodeItem(const TextSource &text, const std::function<void(QByteArrayView)> &sink);
inline void encodeItem(QStringView text, const std::function<void(QByteArrayView)> &sink)
{
    encodeItem(wholeText(text), sink);
}

// The same, gathered into one array.
QByteArray encodeItem(QStringView text);
