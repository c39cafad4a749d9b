#pragma once

#include "sequentialfiles.h"

#include <QByteArrayView>
#include <QStringView>
#include <QtGlobal>

#include <functional>

inline bool isUtf8Continuation(char byte) { return (uchar(byte) & 0xC0) == 0x80; }

// Where UTF-8 bytes can be cut without splitting a character: before a last sequence that its
// first byte says is not whole, else at their end. Invalid bytes are left to the decoder.
qsizetype utf8Boundary(QByteArrayView bytes);

// Reads up to size bytes of the file, from offset bytes after its start, into buffer; returns how
// many, 0 at the end of the file. Throws a Failure when the file cannot be read.
using ReadBytes = std::function<qsizetype(qint64 offset, char *buffer, qsizetype size)>;

// The mark a file in the encoding starts with; empty for those without one.
QByteArrayView byteOrderMark(TextEncoding encoding);

// Whether the bytes are well-formed UTF-8 (no overlong form, no surrogate, nothing above
// U+10FFFF, no sequence cut short), and whether they are all ASCII.
enum class Utf8Check { Ascii, Valid, Invalid };
Utf8Check checkUtf8(QByteArrayView bytes);

// How the file's text is stored, read blockSize bytes at a time: the form its byte-order mark
// names when every byte after it is valid in that form, else UTF-8 when every byte is valid
// UTF-8, else Windows-1252, in which any byte is a character.
TextEncoding detectEncoding(const ReadBytes &read, qsizetype blockSize);

// Reads the text after the encoding's mark, blockSize bytes at a time, and hands it to take as
// UTF-8 in blocks cut between characters. Returns false at the first bytes that are not valid in
// the encoding, once the blocks before them are handed over. Without take, it only checks.
bool readAsUtf8(const ReadBytes &read, TextEncoding encoding, qsizetype blockSize,
                const std::function<void(QByteArrayView)> &take = {});

// Windows-1252 as files use it: the five bytes the code page leaves unassigned (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) stand for the characters of the same codes, so that every byte reads and writes
// back as itself.
// The index of the first character the code page cannot store, or -1.
qsizetype firstUnstorableIn1252(QStringView text);
// Writes the characters one byte each and returns the end of what it wrote, or null at the first
// it cannot store.
char *toWindows1252(char *out, QStringView text);

// Reads the file's text once, blockSize bytes at a time, and hands it to take as UTF-8 in blocks
// cut between characters; returns the encoding it was read in, the one detectEncoding tells. The
// mark, or its absence, says how to read it; bytes found invalid in that form make it
// Windows-1252. Text read as ASCII without a mark reads the same in it, so the reading goes on;
// anything else handed over is void: restart() is called, and the file is read again from its
// start. Throws a Failure when the file cannot be read.
TextEncoding readDocumentText(const ReadBytes &read, qsizetype blockSize,
                              const std::function<void(QByteArrayView)> &take,
                              const std::function<void()> &restart);
