// libFuzzer target for the document format. The first byte picks what the rest is:
// even - a text (UTF-16), written and read back, which must give exactly that text;
// odd  - a file, decoded and read to its end, which must neither crash nor lose a byte, and
//        must read the same when taken in pieces, and the same again through the bulk scanner.
#include "documentcodec.h"
#include "failure.h"
#include "itemreader.h"
#include "itemscanner.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

bool hasLoneSurrogate(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return true;
    }
    return false;
}

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
        check(hasLoneSurrogate(text));
        return;
    }
    check(!hasLoneSurrogate(text));
    ItemReader reader(decodeDocument(written));
    check(!reader.atEnd());
    check(reader.next() == text);
    check(reader.atEnd());
}

void readFile(const QByteArray &file)
{
    const QString text = decodeDocument(file);
    // Decoding keeps every byte: either as valid UTF-8 or one character per byte.
    const QByteArray bom("\xEF\xBB\xBF");
    const QByteArray body = file.startsWith(bom) ? file.sliced(3) : file;
    check(text.toUtf8() == body || text == QString::fromLatin1(file));

    ItemReader reader(text);
    qsizetype characters = 0;
    try {
        while (!reader.atEnd()) {
            const qsizetype before = reader.position();
            characters += reader.next().size();
            check(reader.position() > before);
        }
    } catch (const Failure &failure) {
        check(failure.number() == FailureNumber::InputPastEndOfFile);
        check(reader.atEnd());
    }
    check(characters <= text.size());

    // Read in pieces of a size the input picks, the file gives the same items at the same places.
    const qsizetype pieceSize = file.isEmpty() ? 1 : 1 + uchar(file.back()) % 16;
    const ReadBytes read = [&file](qint64 offset, char *buffer, qsizetype size) {
        const QByteArray piece = file.mid(offset, size);
        std::memcpy(buffer, piece.constData(), size_t(piece.size()));
        return piece.size();
    };
    ItemReader whole(text);
    ItemReader inPieces(decodeDocument(read, pieceSize));
    QString wholeItems; // each followed by a line break
    qint64 itemCharacters = 0, items = 0;
    int endFailure = 0; // 0 when the reading ended after a whole item
    for (;;) {
        const bool atEnd = whole.atEnd();
        QString expected, item;
        int expectedFailure = 0, failure = 0;
        try {
            expected = whole.next();
        } catch (const Failure &f) {
            expectedFailure = f.number();
        }
        try {
            item = inPieces.next();
        } catch (const Failure &f) {
            failure = f.number();
        }
        check(item == expected && failure == expectedFailure);
        check(inPieces.position() == whole.position() && inPieces.atEnd() == whole.atEnd());
        if (expectedFailure != 0) {
            endFailure = atEnd ? 0 : expectedFailure;
            break;
        }
        wholeItems += expected + u'\n';
        itemCharacters += expected.size();
        ++items;
    }

    // The bulk scanner, in stretches of a size the input picks: the same items, the same figure.
    QByteArray all, kept;
    qint64 scannedCharacters = 0, scannedItems = 0;
    const auto sink = [&](const ItemRun &run) {
        check(run.text.isValidUtf8());
        all += run.text;
        if (run.items > 0)
            kept = all;
        scannedItems += run.items;
        scannedCharacters += run.characters;
    };
    int scanFailure = 0;
    try {
        scanDocument(read, u"\n", sink, pieceSize * 5);
    } catch (const Failure &f) {
        scanFailure = f.number();
    }
    check(scanFailure == endFailure && (scanFailure != 0 || all == kept));
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    check(QString(utf8.decode(kept)) == wholeItems);
    check(scannedItems == items && scannedCharacters == itemCharacters);
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
