// libFuzzer target for the document format. The first byte picks what the rest is:
// even - a text (UTF-16), written and read back, which must give exactly that text;
// odd  - a file, decoded and read to its end, which must neither crash nor lose a byte, and
//        must read the same when taken in pieces, and the same again through the bulk scanner.
#include "itemruns.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void roundTrip(const QByteArray &input)
{
    QString text(input.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), input.constData(), size_t(text.size()) * 2);
    QByteArray written;
    try {
        written = encodeItem(text);
    } catch (const Failure &) {
        check(!text.isValidUtf16());
        return;
    }
    check(text.isValidUtf16());
    const ReadResult read = readAll(written);
    check(read.failure == 0 && read.items == QStringList { text });
}

void readFile(const QByteArray &file)
{
    const QString text = decodeDocument(file);
    // Decoding keeps every byte: either as valid UTF-8 or one character per byte.
    const QByteArray bom("\xEF\xBB\xBF");
    const QByteArray body = file.startsWith(bom) ? file.sliced(3) : file;
    check(text.toUtf8() == body || text == QString::fromLatin1(file));

    // Whole, in pieces of a size the input picks, and through the bulk scanner in stretches of
    // a size it picks too: the same items at the same places, ended by no failure but one.
    const ReadResult whole = readAll(file);
    check(whole.failure == 0 || whole.failure == FailureNumber::InputPastEndOfFile);
    const qsizetype pieceSize = file.isEmpty() ? 1 : 1 + uchar(file.back()) % 16;
    check(readAll(file, pieceSize) == whole);
    check(scanned(file, pieceSize, pieceSize * 5) == expected(whole));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    if (data[0] % 2 == 0)
        roundTrip(rest);
    else
        readFile(rest);
    return 0;
}
