#include "documentcodec.h"

#include "failure.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

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

// Without an early exit, so that the compiler checks many units a step.
bool hasSurrogate(QStringView text)
{
    const char16_t *units = text.utf16();
    bool found = false;
    for (qsizetype i = 0; i < text.size(); ++i)
        found |= (units[i] & 0xF800) == 0xD800;
    return found;
}

qsizetype firstUnstorable(TextEncoding encoding, QStringView text)
{
    return encoding == TextEncoding::Windows1252 ? firstUnstorableIn1252(text)
                                                 : firstLoneSurrogate(text);
}

Failure unrepresentable(TextEncoding encoding, QStringView text, qsizetype offset)
{
    const qsizetype at = firstUnstorable(encoding, text);
    const QString code = u"%1"_s.arg(text[at].unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return Failure(FailureNumber::InvalidProcedureCall,
                   u"The text holds a character that %1 cannot represent (U+%2 at character %3), "
                   "so it was not written."_s.arg(encodingName(encoding), code)
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

void keepPiece(QList<QString> &pieces, QString &piece, qsizetype used)
{
    if (used > 0) {
        piece.truncate(used);
        pieces.append(std::move(piece));
    }
    piece = QString();
}

} // namespace

QString decodeDocument(QByteArrayView bytes, TextEncoding *encoding)
{
    const ReadBytes read = [bytes](qint64 offset, char *buffer, qsizetype size) {
        const qsizetype count = std::min(size, bytes.size() - qsizetype(offset));
        std::copy_n(bytes.data() + offset, count, buffer);
        return count;
    };
    QList<QString> pieces = decodeDocument(read, std::max(bytes.size(), qsizetype(1)), encoding);
    return pieces.size() == 1 ? std::move(pieces.first()) : pieces.join(QString());
}

// The text as UTF-8 goes into pieces of at most pieceLength characters; each block of it goes into
// one piece whole.
QList<QString> decodeDocument(const ReadBytes &read, qsizetype pieceLength, TextEncoding *encoding)
{
    // A mark that the encoding did not take as its own is a character of the text.
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless
                               | QStringConverter::Flag::ConvertInitialBom);
    QList<QString> pieces;
    QString piece;
    qsizetype used = 0; // characters of piece decoded so far
    const TextEncoding found = readDocumentText(
        read, std::min(pieceLength, DocumentReadSize),
        [&](QByteArrayView bytes) {
            const qsizetype space = decoder.requiredSpace(bytes.size());
            if (piece.size() - used < space) {
                keepPiece(pieces, piece, used);
                piece = QString(std::max(pieceLength, space), Qt::Uninitialized);
                used = 0;
            }
            used = decoder.appendToBuffer(piece.data() + used, bytes) - piece.constData();
        },
        [&] {
            pieces.clear();
            piece = QString();
            used = 0;
        });
    keepPiece(pieces, piece, used);
    if (encoding)
        *encoding = found;
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

// Writes the characters and returns the end of what it wrote, or null when one of them cannot be
// stored.
using Encode = std::function<char *(char *out, QStringView text)>;

// The written form from characters, through encode.
void encodeChars(const TextSource &text, TextEncoding encoding, const Encode &encode,
                 const std::function<void(QByteArrayView)> &sink)
{
    static constexpr char16_t Mark[] = u"\"";
    static constexpr char16_t Closing[] = u"\"\r\n";
    // A piece of n characters becomes at most 2n with its marks doubled, plus the enclosing form,
    // and a character takes at most three bytes.
    QByteArray buffer(3 * (2 * PieceLength + 4), Qt::Uninitialized);
    char *const begin = buffer.data();
    char *out = encode(begin, Mark);
    qint64 offset = 0; // characters of the text before the given piece

    text([&](QStringView given) {
        for (qsizetype start = 0; start < given.size();) {
            const qsizetype end = pieceEnd(given, start);
            const QStringView piece = given.sliced(start, end - start);
            qsizetype from = 0;
            for (qsizetype mark; out && (mark = piece.indexOf(u'"', from)) >= 0; from = mark + 1) {
                out = encode(out, piece.sliced(from, mark + 1 - from));
                out = out ? encode(out, Mark) : out;
            }
            out = out ? encode(out, piece.sliced(from)) : out;
            if (!out)
                throw unrepresentable(encoding, piece, offset + start);
            sink(QByteArrayView(begin, out - begin));
            out = begin;
            start = end;
        }
        offset += given.size();
    });
    out = encode(out, Closing);
    sink(QByteArrayView(begin, out - begin));
}

QStringConverter::Encoding converterFor(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf16LE:
        return QStringConverter::Utf16LE;
    case TextEncoding::Utf16BE:
        return QStringConverter::Utf16BE;
    default:
        return QStringConverter::Utf8;
    }
}

} // namespace

void encodeItem(const TextSource &text, TextEncoding encoding,
                const std::function<void(QByteArrayView)> &sink)
{
    const QByteArrayView mark = byteOrderMark(encoding);
    if (!mark.isEmpty())
        sink(mark);
    const bool utf8 = encoding == TextEncoding::Utf8 || encoding == TextEncoding::Utf8WithBom;
    if (utf8 && text.readUtf8) {
        encodeUtf8Item(text.readUtf8, sink);
    } else if (encoding == TextEncoding::Windows1252) {
        encodeChars(text, encoding, toWindows1252, sink);
    } else {
        // The UTF-8 converter reports lone surrogates, the UTF-16 ones copy them.
        QStringEncoder encoder(converterFor(encoding), QStringConverter::Flag::Stateless);
        const Encode encode = [&encoder, utf8](char *out, QStringView piece) {
            if (!utf8 && hasSurrogate(piece) && firstLoneSurrogate(piece) >= 0)
                return static_cast<char *>(nullptr);
            out = encoder.appendToBuffer(out, piece);
            return encoder.hasError() ? nullptr : out;
        };
        encodeChars(text, encoding, encode, sink);
    }
}

QByteArray encodeItem(QStringView text, TextEncoding encoding)
{
    QByteArray bytes;
    bytes.reserve(text.size() + 4);
    encodeItem(text, encoding, [&bytes](QByteArrayView piece) { bytes.append(piece); });
    return bytes;
}

bool canStore(TextEncoding encoding, const TextSource &text)
{
    if (encoding != TextEncoding::Windows1252)
        return true;
    bool storable = true;
    text([&storable](QStringView piece) {
        storable = storable && firstUnstorableIn1252(piece) < 0;
    });
    return storable;
}
