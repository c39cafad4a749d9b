// libFuzzer target for the document format. The first byte picks what the rest is:
// even - a text (UTF-16), written in the encoding the byte also picks and read back, which must
//        give exactly that text in that encoding;
// odd  - a file, decoded and read to its end, which must neither crash nor lose a byte, and
//        must read the same when taken in pieces, and the same again through the bulk scanner,
//        fed in small pieces and whole.
#include "itemruns.h"

#include <QStringEncoder>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void roundTrip(const QByteArray &input, TextEncoding encoding)
{
    QString text(input.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), input.constData(), size_t(text.size()) * 2);
    QByteArray written;
    try {
        written = encodeItem(text, encoding);
    } catch (const Failure &) {
        check(!text.isValidUtf16() || !canStore(encoding, wholeText(text)));
        return;
    }
    check(text.isValidUtf16() && canStore(encoding, wholeText(text)));
    TextEncoding read = TextEncoding::Utf8;
    decodeDocument(written, &read);
    // Single bytes that happen to be valid UTF-8 read as UTF-8: a guess, not a loss.
    if (read != encoding) {
        check(encoding == TextEncoding::Windows1252 && read == TextEncoding::Utf8);
        return;
    }
    const ReadResult items = readAll(written);
    check(items.failure == 0 && items.items == QStringList { text });
}

// The text in the encoding, without the mark.
QByteArray encoded(const QString &text, TextEncoding encoding)
{
    if (encoding == TextEncoding::Windows1252) {
        QByteArray bytes(text.size(), Qt::Uninitialized);
        toWindows1252(bytes.data(), text);
        return bytes;
    }
    return QStringEncoder(encoding == TextEncoding::Utf16LE       ? QStringConverter::Utf16LE
                              : encoding == TextEncoding::Utf16BE ? QStringConverter::Utf16BE
                                                                  : QStringConverter::Utf8)
        .encode(text);
}

void readFile(const QByteArray &file)
{
    TextEncoding encoding = TextEncoding::Utf8;
    const QString text = decodeDocument(file, &encoding);
    // Decoding keeps every byte: encoded again, the text gives the file back.
    check(byteOrderMark(encoding).toByteArray() + encoded(text, encoding) == file);

    // Whole, in pieces of a size the input picks, and through the bulk scanner in stretches of
    // a size it picks too: the same items at the same places, ended by no failure but one.
    const ReadResult whole = readAll(file);
    check(whole.failure == 0 || whole.failure == FailureNumber::InputPastEndOfFile);
    const qsizetype pieceSize = file.isEmpty() ? 1 : 1 + uchar(file.back()) % 16;
    check(readAll(file, pieceSize) == whole);
    check(scanned(file, pieceSize, pieceSize * 5) == expected(whole));
    // Read whole, so that the scanner's sixteen-byte steps run across the file.
    check(scanned(file, DocumentReadSize, pieceSize * 5) == expected(whole));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    if (data[0] % 2 == 0)
        roundTrip(rest, TextEncoding(data[0] / 2 % 5));
    else
        readFile(rest);
    return 0;
}
