// Reading a file in pieces: wherever the pieces are cut, the text and the items are those of the
// file read in one piece, and each piece is let go once the reading has passed it.
#include "documentcodec.h"
#include "editorfixture.h"
#include "failure.h"
#include "files.h"
#include "itemreader.h"
#include "itemruns.h"
#include "qtsequentialfiles.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

ReadBytes readFrom(const QByteArray &bytes)
{
    return [bytes](qint64 offset, char *buffer, qsizetype size) {
        const QByteArray piece = bytes.mid(offset, size);
        std::copy(piece.begin(), piece.end(), buffer);
        return piece.size();
    };
}

struct Reading
{
    QStringList items;
    QList<qsizetype> positions; // after each item
    int failure = 0;
    bool operator==(const Reading &) const = default;
};

Reading readAll(const QByteArray &file, qsizetype pieceSize)
{
    ItemReader reader(decodeDocument(readFrom(file), pieceSize));
    Reading result;
    try {
        while (!reader.atEnd()) {
            result.items.append(reader.next());
            result.positions.append(reader.position());
        }
    } catch (const Failure &failure) {
        result.failure = reader.atEnd() ? failure.number() : -1;
    }
    return result;
}

} // namespace

class TestChunkedReading : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pieces_data();
    void pieces();
    void sameAsOnePiece();
    void piecesLetGo();
    void files();
    void openInBulk_data();
    void openInBulk();
    void bulkAfterItemByItem();
};

// Pieces of 1 to 7 bytes put every delimiter, mark and byte of a character at a boundary.
void TestChunkedReading::pieces_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("failure");
    const auto row = [](const char *name, const QByteArray &file, const QStringList &items,
                        int failure = 0) { QTest::addRow("%s", name) << file << items << failure; };
    row("CR LF, empty line", "ab\r\n\r\ncd\r\n"_ba, { u"ab"_s, QString(), u"cd"_s });
    row("doubled marks, delimiters quoted", "\"a\"\"b,\r\nc\"\"\",x"_ba,
        { u"a\"b,\r\nc\""_s, u"x"_s });
    row("marks before line ends", "\"x\"\r\n\"y\"\n"_ba, { u"x"_s, u"y"_s });
    row("lone mark inside quotes", "\"a\"b\""_ba, { u"a\"b"_s });
    row("empty quoted item", "\"\""_ba, { QString() });
    row("unterminated", "a,\"b\"\""_ba, { u"a"_s }, FailureNumber::InputPastEndOfFile);
    row("two-, three- and four-byte characters", "\"\xc3\xa9\xe2\x82\xac\",\xf0\x9f\x98\x80\r\n"_ba,
        { u"\u00e9\u20ac"_s, u"\U0001F600"_s });
    row("BOM skipped", "\xef\xbb\xbf\xc3\xa9"_ba, { u"\u00e9"_s });
    row("BOM alone", "\xef\xbb\xbf"_ba, {});
    row("second BOM kept", "\xef\xbb\xbf\xef\xbb\xbf"_ba, { u"\ufeff"_s });
    row("start of a BOM only", "\xef\xbb"_ba, { u"\u00ef\u00bb"_s });
    row("truncated at the end", "ab\xe2\x82"_ba, { u"ab\u00e2\u0082"_s });
    row("invalid late", "\xc3\xa9 abcdefgh\xff"_ba, { u"\u00c3\u00a9 abcdefgh\u00ff"_s });
    row("lead byte without its follower", "\xc3("_ba, { u"\u00c3("_s });
    row("stray continuation bytes", "a\x80\x80\x80\x80"_ba, { u"a\u0080\u0080\u0080\u0080"_s });
    row("encoded surrogate", "\xed\xa0\x80"_ba, { u"\u00ed\u00a0\u0080"_s });
    row("Latin-1 with marks", "\"caf\xe9\",x"_ba, { u"caf\u00e9"_s, u"x"_s });
}

void TestChunkedReading::pieces()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, items);
    QFETCH(int, failure);
    for (qsizetype pieceSize = 1; pieceSize <= 7; ++pieceSize) {
        const Reading result = readAll(file, pieceSize);
        QCOMPARE(result.items, items);
        QCOMPARE(result.failure, failure);
    }
}

// Files made of the pieces that matter, cut anywhere: the same items and positions as in one piece.
void TestChunkedReading::sameAsOnePiece()
{
    const QList<QByteArray> fragments
        = "\"|\"\"|,|\r|\n|\r\n|a|word |\xc3\xa9|\xe2\x82\xac|\xf0\x9f\x98\x80|\xef\xbb\xbf"_ba
              .split('|');
    QRandomGenerator random(20261206);
    for (int round = 0; round < 3000; ++round) {
        QByteArray file;
        for (int i = random.bounded(40); i > 0; --i)
            file += fragments[random.bounded(int(fragments.size()))];
        if (round % 20 == 0)
            file.insert(random.bounded(int(file.size()) + 1),
                        round % 40 ? "\xff"_ba : "\xe2\x82"_ba);
        const qsizetype pieceSize = 1 + random.bounded(int(file.size()) + 2);
        QVERIFY2(readAll(file, pieceSize) == readAll(file, file.size() + 1),
                 qPrintable(u"round %1, pieces of %2: %3"_s.arg(round).arg(pieceSize).arg(
                     QString::fromLatin1(file.toPercentEncoding()))));
    }
}

void TestChunkedReading::piecesLetGo()
{
    const QStringList held = u"ab,c|d\r|\nef|,\"g|h\""_s.split(u'|');
    QList<QString> given;
    for (const QString &piece : held)
        given.append(piece); // each piece now has two owners: held and the reader
    ItemReader reader(given);
    given.clear();
    for (const QString expected : { u"ab"_s, u"cd"_s, u"ef"_s, u"gh"_s }) {
        QCOMPARE(reader.next(), expected);
        qsizetype end = 0;
        for (const QString &piece : held) {
            end += piece.size();
            QCOMPARE(piece.isDetached(), end <= reader.position());
        }
    }
    QVERIFY(reader.atEnd());
}

// Through the files: pieces of the real size, a character across their boundary, invalid bytes
// found only after the first piece, and a file grown past the limit after it was opened.
void TestChunkedReading::files()
{
    QTemporaryDir folder;
    const QByteArray filler(16 * DocumentReadSize - 1, 'x'); // a character across reads and pieces
    writeBytes(folder.filePath(u"across.txt"_s), filler + "\xe2\x82\xac\r\ny");
    writeBytes(folder.filePath(u"latin1.txt"_s), "\xc3\xa9" + filler + "\xe9");
    writeBytes(folder.filePath(u"grows.txt"_s), "a");
    QtSequentialFiles files;
    const auto items = [&files, &folder](const QString &name) {
        files.openForInput(folder.filePath(name), 1);
        QStringList read;
        while (!files.atEnd(1))
            read.append(files.readItem(1));
        files.close(1);
        return read;
    };
    const QString text = QString::fromLatin1(filler);
    QCOMPARE(items(u"across.txt"_s), QStringList({ text + u"\u20ac"_s, u"y"_s }));
    QCOMPARE(items(u"latin1.txt"_s), QStringList({ u"\u00c3\u00a9"_s + text + u"\u00e9"_s }));

    files.openForInput(folder.filePath(u"grows.txt"_s), 1);
    QVERIFY(QFile::resize(folder.filePath(u"grows.txt"_s), QtSequentialFiles::LargestInput + 1));
    QCOMPARE(failureOf([&] { files.atEnd(1); }), int(FailureNumber::OutOfMemory));
    QVERIFY(!files.isOpen(1));
    QVERIFY(QFile::resize(folder.filePath(u"grows.txt"_s), 1));
    files.openForInput(folder.filePath(u"grows.txt"_s), 1);
    QVERIFY(QFile::resize(folder.filePath(u"grows.txt"_s), QtSequentialFiles::LargestInput + 1));
    const auto ignore = [](const ItemRun &) {};
    QCOMPARE(failureOf([&] { files.readAllItems(1, u"\r\n"_s, ignore); }),
             int(FailureNumber::OutOfMemory));
    QVERIFY(!files.isOpen(1));
}

// Files whose delimiters, marks and characters sit across the edge of a read: the bulk reading
// gives what reading item by item gives, and Open shows it with its figure (or, after a failure,
// the whole items before it).
void TestChunkedReading::openInBulk_data()
{
    QTest::addColumn<QByteArray>("file");
    const QByteArray filler(DocumentReadSize - 1, 'x');
    QTest::addRow("CR LF across") << filler + "\r\nnext\r\n";
    QTest::addRow("mark across") << filler + ",\"a,b\"\r\n";
    QTest::addRow("doubled mark across") << "\"" + filler.sliced(2) + "\"\"x\",y";
    QTest::addRow("character across") << filler + "\xe2\x82\xac,\xf0\x9f\x98\x80";
    QTest::addRow("BOM, then items") << "\xef\xbb\xbf" + filler + ",\xc3\xa9\r\n";
    QTest::addRow("Latin-1 after a large valid prefix")
        << "a,b\r\n"_ba.repeated(DocumentReadSize) + "caf\xe9,\"x\"\r\n";
    QTest::addRow("long quoted item")
        << "\"" + "line, \"\"q\"\"\r\n"_ba.repeated(300000) + "\"\r\n";
    QTest::addRow("failure late in the file")
        << "a,\xc3\xa9\r\n"_ba.repeated(500000) + "\"" + filler + "\r\n";
}

void TestChunkedReading::openInBulk()
{
    QFETCH(QByteArray, file);
    QTemporaryDir folder;
    const QString path = folder.filePath(u"file.txt"_s);
    writeBytes(path, file);

    QtSequentialFiles files;
    QStringList items;
    const int failure = failureOf([&] {
        files.openForInput(path, 1);
        while (!files.atEnd(1))
            items.append(files.readItem(1));
        files.close(1);
    });
    const Gathered expected = fromItems(items, u"\r\n"_s, failure);
    Gatherer gatherer;
    files.openForInput(path, 1);
    QCOMPARE(gatherer.result(failureOf([&] { files.readAllItems(1, u"\r\n"_s, gatherer.sink()); })),
             expected);
    QCOMPARE(files.isOpen(1), failure == 0);

    EditorFixture f;
    f.start();
    f.dialog.fileAnswers = { path };
    f.form.File_Open_Click();
    QCOMPARE(f.text().text(), expected.text);
    QCOMPARE(f.messageBoxes.calls.size(), failure ? 1 : 0);
    if (failure == 0)
        QCOMPARE(f.form.fileSize(), expected.characters + expected.items);
}

// A file already read from item by item goes on in bulk from where it stands.
void TestChunkedReading::bulkAfterItemByItem()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(u"file.txt"_s);
    writeBytes(path, "a,\"b\r\nc\",\xc3\xa9");
    QtSequentialFiles files;
    files.openForInput(path, 1);
    QCOMPARE(files.readItem(1), u"a"_s);
    Gatherer gatherer;
    files.readAllItems(1, u"\r\n"_s, gatherer.sink());
    QCOMPARE(gatherer.result(0), fromItems({ u"b\r\nc"_s, u"\u00e9"_s }, u"\r\n"_s, 0));
    QVERIFY(files.atEnd(1));
}

QTEST_MAIN(TestChunkedReading)
#include "tst_chunkedreading.moc"
