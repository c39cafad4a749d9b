#pragma once

#include "encodings.h"
#include "text.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <functional>

// Bytes of a document file <-> characters, in the file's encoding (see encodings.h).

// Decodes a whole file, in the encoding its bytes tell, its byte-order mark skipped; nothing is
// replaced or dropped. The encoding goes to encoding when given.
QString decodeDocument(QByteArrayView bytes, TextEncoding *encoding = nullptr);

constexpr qsizetype DocumentReadSize = 1 << 20;

// The text of 16 reads, which takes a little over 32 MB: allocators map blocks that large on
// their own (glibc never keeps one in its heap), so a piece that has been read past goes back to
// the system at once, instead of staying in the heap while the text built from it grows elsewhere.
constexpr qsizetype DocumentPieceLength = 16 * DocumentReadSize + (64 << 10);

// The same decoding for a file read DocumentReadSize bytes at a time, so that its bytes are never
// held whole: the text comes back in pieces of at most pieceLength characters, none of them
// empty. The file is read once, but again for one that turns out not to be in the form its first
// bytes suggested (readDocumentText). Throws a Failure when it cannot be read.
QList<QString> decodeDocument(const ReadBytes &read, qsizetype pieceLength = DocumentPieceLength,
                              TextEncoding *encoding = nullptr);

// Hands the written form of one item in the encoding to the sink, piece by piece in order: the
// encoding's byte-order mark if it has one, a quotation mark, the text with each of its marks
// doubled, a mark, CR LF. The text is encoded as its source hands it over, so neither it nor the
// encoded form is ever held whole. A character the encoding cannot store throws a Failure
// before the piece holding it reaches the sink; so does the sink.
void encodeItem(const TextSource &text, TextEncoding encoding,
                const std::function<void(QByteArrayView)> &sink);
inline void encodeItem(QStringView text, TextEncoding encoding,
                       const std::function<void(QByteArrayView)> &sink)
{
    encodeItem(wholeText(text), encoding, sink);
}

// The same, gathered into one array.
QByteArray encodeItem(QStringView text, TextEncoding encoding = TextEncoding::Utf8);

// Whether the encoding can store every character of the text: only Windows-1252 lacks some. A
// lone half of a surrogate pair, which no encoding stores, is reported where it is written.
bool canStore(TextEncoding encoding, const TextSource &text);
