// The document format on its own: written bytes, how files decode and split into items, and the
// round trip of every text through the written form.
#include "support/itemruns.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

class TestDocFormat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writtenBytes_data();
    void writtenBytes();
    void unrepresentableCharacterFails_data();
    void unrepresentableCharacterFails();
    void reading_data();
    void reading();
    void delimiterAtEveryOffset_data();
    void delimiterAtEveryOffset();
    void scannerMatchesReader();
    void roundTrip();
};

void TestDocFormat::writtenBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("written");

    QTest::addRow("hello") << u"hello"_s << "\"hello\"\r\n"_ba;
    QTest::addRow("empty") << QString() << "\"\"\r\n"_ba;
    QTest::addRow("marks inside") << u"He said \"hi\", then left"_s
                                  << "\"He said \"\"hi\"\", then left\"\r\n"_ba;
    QTest::addRow("CR LF inside") << u"one\r\ntwo\r\n"_s << "\"one\r\ntwo\r\n\"\r\n"_ba;
    QTest::addRow("non-ASCII") << u"caf\u00e9 \u20ac \U0001F600"_s
                               << "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"\r\n"_ba;

    // The encoder works in pieces of 64K characters: pairs and marks must cross them unharmed.
    const QString filler(64 * 1024 - 1, u'x');
    const QByteArray written = "\"" + filler.toUtf8();
    QTest::addRow("surrogate pair across a piece boundary")
        << filler + u"\U0001F600"_s << written + "\xf0\x9f\x98\x80\"\r\n";
    QTest::addRow("marks at a piece boundary")
        << filler + u"\"\"y"_s << written + "\"\"\"\"y\"\r\n";
    QTest::addRow("only marks, three pieces")
        << QString(3 * 64 * 1024, u'"') << "\"" + QByteArray(6 * 64 * 1024, '"') + "\"\r\n";
}

void TestDocFormat::writtenBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, written);
    QCOMPARE(encodeItem(text), written);
}

void TestDocFormat::unrepresentableCharacterFails_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("where");

    QTest::addRow("lone high surrogate at the end") << u"a\xD83D"_s << u"at character 2"_s;
    QTest::addRow("reversed pair") << u"\xDE00\xD83D"_s << u"at character 1"_s;
    QTest::addRow("in a later piece")
        << QString(100000, u'x') + QChar(0xDC00) << u"at character 100001"_s;
}

void TestDocFormat::unrepresentableCharacterFails()
{
    QFETCH(QString, text);
    QFETCH(QString, where);
    try {
        encodeItem(text);
        QFAIL("the text was written with a character replaced");
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), int(FailureNumber::InvalidProcedureCall));
        QVERIFY2(failure.description().contains(where), qPrintable(failure.description()));
        QVERIFY(failure.description().contains(u"cannot represent"_s));
    }
}

void TestDocFormat::reading_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("failure");

    const int pastEnd = FailureNumber::InputPastEndOfFile;
    const auto row = [](const char *name, const QByteArray &file, const QStringList &items,
                        int failure = 0) { QTest::addRow("%s", name) << file << items << failure; };
    row("a,b CR LF", "a,b\r\n"_ba, { u"a"_s, u"b"_s });
    row("quoted a,b without line end", "\"a,b\""_ba, { u"a,b"_s });
    row("empty file", QByteArray(), {});
    row("empty line between two", "one\r\n\r\ntwo\r\n"_ba, { u"one"_s, QString(), u"two"_s });
    row("LF only", "a\n\nb\n"_ba, { u"a"_s, QString(), u"b"_s });
    row("CR only", "a\r\rb\r"_ba, { u"a"_s, QString(), u"b"_s });
    row("LF CR is two line ends", "a\n\rb"_ba, { u"a"_s, QString(), u"b"_s });
    row("comma at a line end gives an empty item", "a,\r\nb"_ba, { u"a"_s, QString(), u"b"_s });
    row("comma at the end of the file", "a,"_ba, { u"a"_s });
    row("spaces, tabs and marks in unquoted items kept", "  a ,\t5\" b\t\r\n"_ba,
        { u"  a "_s, u"\t5\" b\t"_s });
    row("space before a mark: not quoted", " \"a,b\""_ba, { u" \"a"_s, u"b\""_s });
    row("line ends inside quotes belong to the item", "\"one\r\ntwo\ntri\r\"\r\nnext"_ba,
        { u"one\r\ntwo\ntri\r"_s, u"next"_s });
    row("empty quoted items", "\"\",\"\"\r\n"_ba, { QString(), QString() });
    row("text after a closing mark stays in the item", "\"x\"y,z\"\r\n"_ba, { u"x\"y,z"_s });
    row("written with undoubled marks", "\"He said \"hi\", then left\"\r\n"_ba,
        { u"He said \"hi"_s, u" then left\""_s });
    row("NUL in an item", QByteArray("a\0b,c", 5), { u"a\0b"_s, u"c"_s });
    row("unterminated quoted item after others", "a,b\r\n\"c,d\r\ne"_ba, { u"a"_s, u"b"_s },
        pastEnd);
    row("doubled mark as the last thing", "\"x\"\""_ba, {}, pastEnd);

    // Decoding: the system's encoding (UTF-8), else every byte as Latin-1.
    row("only one BOM skipped", "\xef\xbb\xbf\xef\xbb\xbfz"_ba, { u"\ufeffz"_s });
    row("invalid after a BOM keeps the BOM bytes", "\xef\xbb\xbf\xff"_ba,
        { u"\u00ef\u00bb\u00bf\u00ff"_s });
    row("doubled marks, delimiters quoted", "\"a\"\"b,\r\nc\"\"\",x"_ba,
        { u"a\"b,\r\nc\""_s, u"x"_s });
    row("marks before line ends", "\"x\"\r\n\"y\"\n"_ba, { u"x"_s, u"y"_s });
    row("two-, three- and four-byte characters", "\"\xc3\xa9\xe2\x82\xac\",\xf0\x9f\x98\x80\r\n"_ba,
        { u"\u00e9\u20ac"_s, u"\U0001F600"_s });
    row("BOM alone", "\xef\xbb\xbf"_ba, {});
    row("start of a BOM only", "\xef\xbb"_ba, { u"\u00ef\u00bb"_s });
    row("truncated three-byte character", "ab\xe2\x82"_ba, { u"ab\u00e2\u0082"_s });
    row("invalid late", "\xc3\xa9 abcdefgh\xff"_ba, { u"\u00c3\u00a9 abcdefgh\u00ff"_s });
    row("lead byte without its follower", "\xc3("_ba, { u"\u00c3("_s });
    row("stray continuation bytes", "a\x80\x80\x80\x80"_ba, { u"a\u0080\u0080\u0080\u0080"_s });
    row("encoded surrogate", "\xed\xa0\x80"_ba, { u"\u00ed\u00a0\u0080"_s });
    row("Latin-1 with marks", "\"caf\xe9\",x"_ba, { u"caf\u00e9"_s, u"x"_s });
}

void TestDocFormat::reading()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, items);
    QFETCH(int, failure);
    const ReadResult result = readAll(file);
    QCOMPARE(result.items, items);
    QCOMPARE(result.failure, failure);
    QCOMPARE(scanned(file), expected(result));
    for (qsizetype pieceSize = 1; pieceSize <= 7; ++pieceSize)
        QCOMPARE(readAll(file, pieceSize), result);
}

// Unquoted items are scanned several characters at a time: a delimiter must be found at any
// offset within a block, and a block that runs past the end of the text must not be read.
void TestDocFormat::delimiterAtEveryOffset_data()
{
    QTest::addColumn<QString>("delimiter");
    QTest::addRow("comma") << u","_s;
    QTest::addRow("CR") << u"\r"_s;
    QTest::addRow("LF") << u"\n"_s;
    QTest::addRow("CR LF") << u"\r\n"_s;
}

void TestDocFormat::delimiterAtEveryOffset()
{
    QFETCH(QString, delimiter);
    for (int first = 0; first < 40; ++first) {
        for (int second = 0; second < 20; ++second) {
            // Characters just above and below the delimiters, so that a wrong comparison shows.
            const QString a = QString(first, u'-') + u" "_s.repeated(first % 3);
            const QString b = QString(second, u'\x0b') + u"+"_s.repeated(second % 2);
            ItemReader reader(a + delimiter + b);
            QCOMPARE(reader.next(), a);
            if (!b.isEmpty())
                QCOMPARE(reader.next(), b);
            QVERIFY(reader.atEnd());
            QStringList items { a };
            if (!b.isEmpty())
                items.append(b);
            QCOMPARE(scanned((a + delimiter + b).toUtf8()), fromItems(items, Pilcrow, 0));
        }
    }
}

// The bulk reader and the reader of pieces give the items of the reader, whatever the file,
// however it is cut into reads, pieces and stretches: long items, quotes, delimiters, characters
// and invalid bytes across every edge.
void TestDocFormat::scannerMatchesReader()
{
    const QList<QByteArray> fragments
        = "\"|\"\"|,|\r|\n|\r\n|a|word |\xc3\xa9|\xe2\x82\xac|\xf0\x9f\x98\x80|\xef\xbb\xbf|\xb6"_ba
              .split('|');
    QRandomGenerator random(20261207);
    for (int round = 0; round < 4000; ++round) {
        QByteArray file;
        for (int i = random.bounded(60); i > 0; --i) {
            const QByteArray &fragment = fragments[random.bounded(int(fragments.size()))];
            file += random.bounded(12) == 0 ? fragment.repeated(1 + random.bounded(90)) : fragment;
        }
        if (round % 10 == 0)
            file.insert(random.bounded(int(file.size()) + 1),
                        round % 20 ? "\xff"_ba : "\xe2\x82"_ba);
        const qsizetype pieceSize = 1 + random.bounded(int(file.size()) + 2);
        const qsizetype runSize = 1 + random.bounded(200);
        const ReadResult whole = readAll(file);
        const bool same = scanned(file, pieceSize, runSize) == expected(whole)
            && readAll(file, pieceSize) == whole;
        QVERIFY2(same,
                 qPrintable(u"round %1, pieces of %2, runs of %3: %4"_s.arg(round)
                                .arg(pieceSize)
                                .arg(runSize)
                                .arg(QString::fromLatin1(file.toPercentEncoding()))));
    }
}

// For every text the program can hold, reading its written form gives back exactly that text
// as the one item of the file.
void TestDocFormat::roundTrip()
{
    static const QString pieces[] = {
        u"\""_s,         u"\"\""_s,   u","_s,      u"\r"_s,     u"\n"_s,     u"\r\n"_s,
        u"\t"_s,         u" "_s,      u"a"_s,      u"word"_s,   u"\u00e9"_s, u"\u20ac"_s,
        u"\U0001F600"_s, u"\ufeff"_s, u"\u2028"_s, u"\u00a0"_s, u"\0"_s,     u"\",\r\n"_s,
    };
    QRandomGenerator random(20240613);
    for (int round = 0; round < 3000; ++round) {
        const int count = round % 100 == 0 ? 30000 + random.bounded(30000) : random.bounded(24);
        QString text;
        for (int i = 0; i < count; ++i)
            text += pieces[random.bounded(int(std::size(pieces)))];
        const ReadResult result = readAll(encodeItem(text));
        QVERIFY2(result.failure == 0 && result.items == QStringList { text },
                 qPrintable(u"round %1: %2"_s.arg(round).arg(text.left(200))));
    }
}

QTEST_APPLESS_MAIN(TestDocFormat)
#include "tst_docformat.moc"
