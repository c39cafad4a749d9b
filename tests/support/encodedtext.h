#pragma once

// Files in the encodings a document may be read in, made by hand rather than by the converters
// under test.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The text in UTF-16, after its byte-order mark.
inline QByteArray utf16(const QString &text, bool bigEndian)
{
    QByteArray bytes = bigEndian ? QByteArray("\xfe\xff") : QByteArray("\xff\xfe");
    for (const QChar c : text) {
        const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

// Every byte but the format's own marks: quotation mark, comma, CR and LF.
inline QByteArray everyByte()
{
    QByteArray bytes;
    for (int byte = 0; byte < 256; ++byte) {
        if (!QByteArrayView("\",\r\n").contains(char(byte)))
            bytes += char(byte);
    }
    return bytes;
}
