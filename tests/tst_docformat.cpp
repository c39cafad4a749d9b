// The document format on its own: written bytes, and how files decode and split into items; the
// fuzzer tries the round trip of every text and the readers against each other.
#include "support/itemruns.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestDocFormat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writtenBytes_data();
    void writtenBytes();
    void reading_data();
    void reading();
    void delimiterAtEveryOffset();
};

// The written form, or where the failure for a character that cannot be written points.
void TestDocFormat::writtenBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("written");
    const auto row = [](const char *name, const QString &text, const QByteArray &written) {
        QTest::addRow("%s", name) << text << written;
    };
    row("hello", u"hello"_s, "\"hello\"\r\n"_ba);
    row("empty", QString(), "\"\"\r\n"_ba);
    row("marks inside", u"He said \"hi\", then left"_s, "\"He said \"\"hi\"\", then left\"\r\n"_ba);
    row("CR LF inside", u"one\r\ntwo\r\n"_s, "\"one\r\ntwo\r\n\"\r\n"_ba);
    row("non-ASCII", u"caf\u00e9 \u20ac \U0001F600"_s,
        "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"\r\n"_ba);

    // The encoder works in pieces of 64K characters: pairs and marks must cross them unharmed.
    const QString filler(64 * 1024 - 1, u'x');
    const QByteArray written = "\"" + filler.toUtf8();
    row("surrogate pair across a piece boundary", filler + u"\U0001F600"_s,
        written + "\xf0\x9f\x98\x80\"\r\n");
    row("marks at a piece boundary", filler + u"\"\"y"_s, written + "\"\"\"\"y\"\r\n");
    row("only marks, three pieces", QString(3 * 64 * 1024, u'"'),
        "\"" + QByteArray(6 * 64 * 1024, '"') + "\"\r\n");

    row("lone high surrogate at the end", u"a\xD83D"_s, "at character 2");
    row("reversed pair", u"\xDE00\xD83D"_s, "at character 1");
    row("in a later piece", QString(100000, u'x') + QChar(0xDC00), "at character 100001");
}

void TestDocFormat::writtenBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, written);
    try {
        QCOMPARE(encodeItem(text), written);
        // A text kept as UTF-8 hands over its bytes, in pieces that end between characters.
        const QByteArray utf8 = text.toUtf8();
        const auto bytes = [&utf8](const Utf8Sink &sink) {
            for (qsizetype from = 0, to; from < utf8.size(); from = to) {
                for (to = std::min(from + 1000, utf8.size()); to < utf8.size(); ++to) {
                    if ((utf8[to] & 0xC0) != 0x80)
                        break;
                }
                sink(QByteArrayView(utf8).sliced(from, to - from));
            }
        };
        QByteArray fromBytes;
        encodeItem({ wholeText(text).read, bytes },
                   [&fromBytes](QByteArrayView piece) { fromBytes.append(piece); });
        QCOMPARE(fromBytes, written);
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), int(FailureNumber::InvalidProcedureCall));
        const QString where = QString::fromLatin1(written);
        QVERIFY2(written.startsWith("at ") && failure.description().contains(where),
                 qPrintable(failure.description()));
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
    row("truncated three-byte character", "ab\xe2\x82"_ba, { u"ab\u00e2\u0082"_s });
    row("invalid late", "\xc3\xa9 abcdefgh\xff"_ba, { u"\u00c3\u00a9 abcdefgh\u00ff"_s });
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
    // In pieces, and in reads with stretches shorter and longer than they are.
    for (qsizetype pieceSize = 1; pieceSize <= 7; ++pieceSize) {
        QCOMPARE(readAll(file, pieceSize), result);
        QCOMPARE(scanned(file, pieceSize, 8 - pieceSize), expected(result));
    }
}

// Unquoted items are scanned several characters at a time: a delimiter must be found at any
// offset within a block, and a block that runs past the end of the text must not be read.
void TestDocFormat::delimiterAtEveryOffset()
{
    for (const QString delimiter : { u","_s, u"\r"_s, u"\n"_s, u"\r\n"_s }) {
        for (int first = 0; first < 40; ++first) {
            for (int second = 0; second < 20; ++second) {
                // Characters just above and below the delimiters, so that a wrong comparison
                // shows.
                const QString a = QString(first, u'-') + u" "_s.repeated(first % 3);
                const QString b = QString(second, u'\x0b') + u"+"_s.repeated(second % 2);
                const QStringList items = b.isEmpty() ? QStringList { a } : QStringList { a, b };
                const QByteArray file = (a + delimiter + b).toUtf8();
                QCOMPARE(readAll(file).items, items);
                QCOMPARE(scanned(file), fromItems(items, Pilcrow, 0));
            }
        }
    }
}

QTEST_APPLESS_MAIN(TestDocFormat)
#include "tst_docformat.moc"
