#include "documentcodec.h"

#include "failure.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

// Characters encoded per piece: large enough to keep the sink calls rare, small enough to stay in
// the cache and to keep a save of a large document from holding a second copy of it.
constexpr qsizetype PieceLength = 64 * 1024;

// The first UTF-16 unit that is not part of a well-formed surrogate pair, or -1.
qsizetype firstLoneSurrogate(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size()
            && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i;
        } else if (QChar::isSurrogate(c)) {
            return i;
        }
    }
    return -1;
}

Failure unrepresentable(QStringView text, qsizetype offset)
{
    const qsizetype at = firstLoneSurrogate(text);
    if (at < 0) {
        return Failure(FailureNumber::InvalidProcedureCall,
                       u"The text holds a character that the system's encoding cannot represent, "
                       "so it was not written."_s);
    }
    const QString code = u"%1"_s.arg(text[at].unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return Failure(FailureNumber::InvalidProcedureCall,
                   u"The text holds a character that the system's encoding cannot represent "
                   "(U+%1 at character %2), so it was not written."_s.arg(code)
                       .arg(offset + at + 1));
}

// Never ends a piece between the two halves of a surrogate pair, so that each piece can be
// encoded on its own and a lone half anywhere is reported.
qsizetype pieceEnd(QStringView text, qsizetype start)
{
    qsizetype end = std::min(start + PieceLength, text.size());
    if (end < text.size() && text[end - 1].isHighSurrogate())
        --end;
    return end;
}

// Qt takes the system's 8-bit encoding to be UTF-8 everywhere but on Windows; naming it outright
// selects Qt's fast UTF-8 converter instead of the generic locale one (three times slower here,
// and twice the memory while decoding).
constexpr QStringConverter::Encoding SystemEncoding =
#ifdef Q_OS_WIN
    QStringConverter::System;
#else
    QStringConverter::Utf8;
#endif

void keepPiece(QList<QString> &pieces, QString &piece, qsizetype used)
{
    if (used > 0) {
        piece.truncate(used);
        pieces.append(std::move(piece));
    }
    piece = QString();
}

// Decodes the file into pieces of at most pieceLength characters, or fails at the first bytes
// that are not valid in the encoding. Each read is cut before a character it does not hold whole
// (the converter is stateless: an incomplete sequence is an error, not held back), and that tail
// starts the next read. The cut assumes UTF-8, the only multi-byte encoding read here.
bool decodePieces(const ReadBytes &read, qsizetype pieceLength, QStringConverter::Encoding encoding,
                  QList<QString> &pieces)
{
    static constexpr QByteArrayView Bom("\xEF\xBB\xBF");
    const bool utf8 = encoding != QStringConverter::Latin1;
    QStringDecoder decoder(
        encoding, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const qsizetype readSize = std::min(pieceLength, DocumentReadSize);
    QByteArray buffer(readSize + 3, Qt::Uninitialized);
    QString piece;
    qsizetype used = 0; // characters of piece decoded so far
    qint64 offset = 0;
    qsizetype carried = 0;
    bool atStart = utf8;
    for (;;) {
        const qsizetype count = read(offset, buffer.data() + carried, readSize);
        offset += count;
        QByteArrayView bytes(buffer.constData(), carried + count);
        if (count == 0) {
            if (carried > 0)
                return false; // the file ends inside a character
            break;
        }
        if (atStart) {
            if (bytes.size() < Bom.size() && Bom.startsWith(bytes)) {
                carried = bytes.size();
                continue;
            }
            atStart = false;
            if (bytes.startsWith(Bom))
                bytes = bytes.sliced(Bom.size());
        }
        const qsizetype cut = utf8 ? utf8Boundary(bytes) : bytes.size();
        if (cut > 0) {
            const qsizetype space = decoder.requiredSpace(cut);
            if (piece.size() - used < space) {
                keepPiece(pieces, piece, used);
                piece = QString(std::max(pieceLength, space), Qt::Uninitialized);
                used = 0;
            }
            used
                = decoder.appendToBuffer(piece.data() + used, bytes.first(cut)) - piece.constData();
            if (decoder.hasError())
                return false;
        }
        carried = bytes.size() - cut;
        std::memmove(buffer.data(), bytes.data() + cut, size_t(carried));
    }
    keepPiece(pieces, piece, used);
    return true;
}

} // namespace

qsizetype utf8Boundary(QByteArrayView bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype i = size - 1; i >= 0 && i >= size - 4; --i) {
        if (isUtf8Continuation(bytes[i]))
            continue;
        const uchar lead = uchar(bytes[i]);
        const qsizetype length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        return i + length > size ? i : size;
    }
    return size;
}

QString decodeDocument(QByteArrayView bytes)
{
    const ReadBytes read = [bytes](qint64 offset, char *buffer, qsizetype size) {
        const qsizetype count = std::min(size, bytes.size() - qsizetype(offset));
        std::copy_n(bytes.data() + offset, count, buffer);
        return count;
    };
    QList<QString> pieces = decodeDocument(read, std::max(bytes.size(), qsizetype(1)));
    return pieces.size() == 1 ? std::move(pieces.first()) : pieces.join(QString());
}

QList<QString> decodeDocument(const ReadBytes &read, qsizetype pieceLength)
{
    QList<QString> pieces;
    if (!decodePieces(read, pieceLength, SystemEncoding, pieces)) {
        // Not valid in the encoding: every byte of the file becomes the character of that code.
        pieces = QList<QString>();
        decodePieces(read, pieceLength, QStringConverter::Latin1, pieces);
    }
    return pieces;
}

namespace {

// The written form from a text already in UTF-8: only the marks are doubled, and the bytes are
// gathered into writes of about PieceLength.
void encodeUtf8Item(const std::function<void(const Utf8Sink &)> &text,
                    const std::function<void(QByteArrayView)> &sink)
{
    QByteArray buffer;
    buffer.reserve(2 * PieceLength);
    const auto append = [&](QByteArrayView bytes) {
        if (buffer.size() + bytes.size() > 2 * PieceLength) {
            sink(buffer);
            buffer.clear();
        }
        buffer.append(bytes);
    };
    append("\"");
    text([&](QByteArrayView given) {
        for (qsizetype from = 0;;) {
            const qsizetype mark = given.indexOf('"', from);
            if (mark < 0) {
                append(given.sliced(from));
                break;
            }
            append(given.sliced(from, mark + 1 - from));
            append("\"");
            from = mark + 1;
        }
    });
    append("\"\r\n");
    sink(buffer);
}

} // namespace

void encodeItem(const TextSource &text, const std::function<void(QByteArrayView)> &sink)
{
    if (SystemEncoding == QStringConverter::Utf8 && text.readUtf8) {
        encodeUtf8Item(text.readUtf8, sink);
        return;
    }
    QStringEncoder encoder(SystemEncoding, QStringConverter::Flag::Stateless);
    static constexpr char16_t Mark[] = u"\"";
    static constexpr char16_t Closing[] = u"\"\r\n";
    // A piece of n characters becomes at most 2n with its marks doubled, plus the enclosing form.
    QByteArray buffer(encoder.requiredSpace(2 * PieceLength + 4), Qt::Uninitialized);
    char *const begin = buffer.data();
    char *out = encoder.appendToBuffer(begin, Mark);
    qint64 offset = 0; // characters of the text before the given piece

    text([&](QStringView given) {
        for (qsizetype start = 0; start < given.size();) {
            const qsizetype end = pieceEnd(given, start);
            const QStringView piece = given.sliced(start, end - start);
            qsizetype from = 0;
            for (qsizetype mark; (mark = piece.indexOf(u'"', from)) >= 0; from = mark + 1) {
                out = encoder.appendToBuffer(out, piece.sliced(from, mark + 1 - from));
                out = encoder.appendToBuffer(out, Mark);
            }
            out = encoder.appendToBuffer(out, piece.sliced(from));
            if (encoder.hasError())
                throw unrepresentable(piece, offset + start);
            sink(QByteArrayView(begin, out - begin));
            out = begin;
            start = end;
        }
        offset += given.size();
    });
    out = encoder.appendToBuffer(out, Closing);
    sink(QByteArrayView(begin, out - begin));
}

QByteArray encodeItem(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size() + 4);
    encodeItem(text, [&bytes](QByteArrayView piece) { bytes.append(piece); });
    return bytes;
}
