#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>

// Bytes of a document file <-> characters, in the system's encoding.

// Decodes a whole file. A leading UTF-8 byte-order mark is skipped. Bytes that are not valid in
// the system's encoding (a truncated multi-byte tail included) make the whole file read as
// Latin-1, one character per byte, so that nothing is replaced or dropped.
QString decodeDocument(QByteArrayView bytes);

// Hands the encoded written form of one item to the sink, piece by piece in order: a mark, the
// text with each of its marks doubled, a mark, CR LF. A character the system's encoding cannot
// represent throws a Failure before the piece holding it reaches the sink; so does the sink.
void encodeItem(QStringView text, const std::function<void(QByteArrayView)> &sink);

// The same, gathered into one array.
QByteArray encodeItem(QStringView text);
