// The document format on its own: written bytes, how files split into items, the encoding, and
// the round trip of every text through the written form.
#include "documentcodec.h"
#include "failure.h"
#include "itemreader.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray bytes(const char *text) { return QByteArray(text); }

// The written form built the obvious way, to compare the streamed encoder with.
QByteArray expectedForm(const QString &text)
{
    QString doubled = text;
    doubled.replace(u'"', u"\"\""_s);
    return "\"" + doubled.toUtf8() + "\"\r\n";
}

struct ReadResult
{
    QStringList items;
    int failure = 0; // the number of the failure that ended the reading, 0 for none
};

ReadResult readAll(const QByteArray &file)
{
    ReadResult result;
    ItemReader reader(decodeDocument(file));
    try {
        while (!reader.atEnd())
            result.items.append(reader.next());
    } catch (const Failure &failure) {
        result.failure = failure.number();
        if (!reader.atEnd())
            result.failure = -1; // a failure must leave the reader at its end
    }
    return result;
}

QString fromCodes(std::initializer_list<char16_t> codes)
{
    QString text;
    for (char16_t c : codes)
        text.append(QChar(c));
    return text;
}

} // namespace

class TestDocFormat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writtenBytes_data();
    void writtenBytes();
    void writingLargeTextsInPieces_data();
    void writingLargeTextsInPieces();
    void unrepresentableCharacterFails_data();
    void unrepresentableCharacterFails();
    void decoding_data();
    void decoding();
    void reading_data();
    void reading();
    void readingPastTheEndFails();
    void delimiterAtEveryOffset_data();
    void delimiterAtEveryOffset();
    void roundTrip();
};

void TestDocFormat::writtenBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("written");

    QTest::addRow("hello") << u"hello"_s << bytes("\"hello\"\r\n");
    QTest::addRow("empty") << QString() << bytes("\"\"\r\n");
    QTest::addRow("marks inside") << u"He said \"hi\", then left"_s
                                  << bytes("\"He said \"\"hi\"\", then left\"\r\n");
    QTest::addRow("only a mark") << u"\""_s << bytes("\"\"\"\"\r\n");
    QTest::addRow("mark at a line end")
        << u"say \"x\"\r\nnext"_s << bytes("\"say \"\"x\"\"\r\nnext\"\r\n");
    QTest::addRow("CR LF inside") << u"one\r\ntwo\r\n"_s << bytes("\"one\r\ntwo\r\n\"\r\n");
    QTest::addRow("commas and tabs") << u"a,\tb"_s << bytes("\"a,\tb\"\r\n");
    QTest::addRow("non-ASCII") << u"caf\u00e9 \u20ac \U0001F600"_s
                               << bytes("\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"\r\n");
    QTest::addRow("NUL") << fromCodes({ u'a', 0, u'b' }) << QByteArray("\"a\0b\"\r\n", 7);
}

void TestDocFormat::writtenBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, written);
    QCOMPARE(encodeItem(text), written);
}

// The encoder works in pieces of 64K characters: marks, pairs and long runs must cross the
// boundaries unharmed.
void TestDocFormat::writingLargeTextsInPieces_data()
{
    QTest::addColumn<QString>("text");
    const qsizetype piece = 64 * 1024;

    QString pairOnBoundary(piece - 1, u'x');
    pairOnBoundary += u"\U0001F600"_s + u"tail"_s;
    QTest::addRow("surrogate pair across a piece boundary") << pairOnBoundary;

    QString markOnBoundary(piece - 1, u'x');
    markOnBoundary += u"\"\"y"_s;
    QTest::addRow("marks at a piece boundary") << markOnBoundary;

    QString manyMarks;
    for (int i = 0; i < piece; ++i)
        manyMarks += u"\"a"_s;
    QTest::addRow("a mark every other character") << manyMarks;
    QTest::addRow("only marks") << QString(3 * piece, u'"');
    QTest::addRow("three pieces of non-ASCII") << QString(3 * piece + 17, QChar(0x00e9));
}

void TestDocFormat::writingLargeTextsInPieces()
{
    QFETCH(QString, text);
    int pieces = 0;
    QByteArray streamed;
    encodeItem(text, [&](QByteArrayView piece) {
        ++pieces;
        streamed.append(piece);
    });
    QCOMPARE(streamed, expectedForm(text));
    QVERIFY2(pieces > 1, "a large text reaches the sink in several pieces");
}

void TestDocFormat::unrepresentableCharacterFails_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("where");

    QTest::addRow("lone high surrogate at the end")
        << fromCodes({ u'a', 0xD83D }) << u"at character 2"_s;
    QTest::addRow("lone low surrogate")
        << fromCodes({ u'a', u'b', 0xDE00, u'c' }) << u"at character 3"_s;
    QTest::addRow("reversed pair") << fromCodes({ 0xDE00, 0xD83D }) << u"at character 1"_s;
    QString late(100000, u'x');
    late.append(QChar(0xDC00));
    QTest::addRow("in a later piece") << late << u"at character 100001"_s;
}

void TestDocFormat::unrepresentableCharacterFails()
{
    QFETCH(QString, text);
    QFETCH(QString, where);
    try {
        encodeItem(text);
        QFAIL("the text was written with a character replaced");
    } catch (const Failure &failure) {
        QVERIFY2(failure.description().contains(where), qPrintable(failure.description()));
        QVERIFY(failure.description().contains(u"cannot represent"_s));
    }
}

void TestDocFormat::decoding_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("text");

    QTest::addRow("UTF-8") << bytes("caf\xc3\xa9") << u"caf\u00e9"_s;
    QTest::addRow("BOM skipped") << bytes("\xef\xbb\xbf"
                                          "a")
                                 << u"a"_s;
    QTest::addRow("only one BOM skipped") << bytes("\xef\xbb\xbf\xef\xbb\xbf"
                                                   "a")
                                          << u"\ufeffa"_s;
    QTest::addRow("Latin-1 byte") << bytes("caf\xe9") << u"caf\u00e9"_s;
    QTest::addRow("truncated sequence at the end") << bytes("ab\xc3") << u"ab\u00c3"_s;
    QTest::addRow("truncated four-byte sequence")
        << bytes("\xf0\x9f\x98") << u"\u00f0\u009f\u0098"_s;
    QTest::addRow("invalid after a BOM keeps the BOM bytes")
        << bytes("\xef\xbb\xbf\xff") << u"\u00ef\u00bb\u00bf\u00ff"_s;
    QTest::addRow("encoded surrogate") << bytes("\xed\xa0\x80") << u"\u00ed\u00a0\u0080"_s;
    QTest::addRow("NUL kept") << QByteArray("a\0b", 3) << fromCodes({ u'a', 0, u'b' });
    QTest::addRow("empty") << QByteArray() << QString();
}

void TestDocFormat::decoding()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, text);
    const QString decoded = decodeDocument(file);
    QCOMPARE(decoded, text);
}

void TestDocFormat::reading_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("failure");

    const int none = 0;
    const int pastEnd = FailureNumber::InputPastEndOfFile;
    QTest::addRow("a,b CR LF") << bytes("a,b\r\n") << QStringList { u"a"_s, u"b"_s } << none;
    QTest::addRow("quoted x") << bytes("\"x\"\r\n") << QStringList { u"x"_s } << none;
    QTest::addRow("quoted a,b without line end")
        << bytes("\"a,b\"") << QStringList { u"a,b"_s } << none;
    QTest::addRow("empty file") << QByteArray() << QStringList() << none;
    QTest::addRow("empty line between two")
        << bytes("one\r\n\r\ntwo\r\n") << QStringList { u"one"_s, QString(), u"two"_s } << none;
    QTest::addRow("LF only") << bytes("a\n\nb\n") << QStringList { u"a"_s, QString(), u"b"_s }
                             << none;
    QTest::addRow("CR only") << bytes("a\r\rb\r") << QStringList { u"a"_s, QString(), u"b"_s }
                             << none;
    QTest::addRow("LF CR is two line ends")
        << bytes("a\n\rb") << QStringList { u"a"_s, QString(), u"b"_s } << none;
    QTest::addRow("no line end at the end")
        << bytes("a\r\nb") << QStringList { u"a"_s, u"b"_s } << none;
    QTest::addRow("BOM") << bytes("\xef\xbb\xbf"
                                  "a,b")
                         << QStringList { u"a"_s, u"b"_s } << none;
    QTest::addRow("BOM before a quoted item")
        << bytes("\xef\xbb\xbf\"x\"") << QStringList { u"x"_s } << none;
    QTest::addRow("Latin-1") << bytes("caf\xe9,na\xefve\r\n")
                             << QStringList { u"caf\u00e9"_s, u"na\u00efve"_s } << none;
    QTest::addRow("UTF-8") << bytes("\xe2\x82\xac,\xf0\x9f\x98\x80")
                           << QStringList { u"\u20ac"_s, u"\U0001F600"_s } << none;
    QTest::addRow("comma at a line end gives an empty item")
        << bytes("a,\r\nb") << QStringList { u"a"_s, QString(), u"b"_s } << none;
    QTest::addRow("comma at the end of the file") << bytes("a,") << QStringList { u"a"_s } << none;
    QTest::addRow("spaces and tabs kept")
        << bytes("  a ,\tb\t\r\n") << QStringList { u"  a "_s, u"\tb\t"_s } << none;
    QTest::addRow("space before a mark: not quoted")
        << bytes(" \"a,b\"") << QStringList { u" \"a"_s, u"b\""_s } << none;
    QTest::addRow("mark inside an unquoted item")
        << bytes("5\" disk,x") << QStringList { u"5\" disk"_s, u"x"_s } << none;
    QTest::addRow("line ends inside quotes belong to the item")
        << bytes("\"one\r\ntwo\ntri\r\"\r\nnext")
        << QStringList { u"one\r\ntwo\ntri\r"_s, u"next"_s } << none;
    QTest::addRow("doubled marks")
        << bytes("\"a\"\"b\"\"\"\r\n") << QStringList { u"a\"b\""_s } << none;
    QTest::addRow("empty quoted items")
        << bytes("\"\",\"\"\r\n") << QStringList { QString(), QString() } << none;
    QTest::addRow("text after a closing mark stays in the item")
        << bytes("\"x\"y,z\"\r\n") << QStringList { u"x\"y,z"_s } << none;
    QTest::addRow("written with undoubled marks")
        << bytes("\"He said \"hi\", then left\"\r\n")
        << QStringList { u"He said \"hi"_s, u" then left\""_s } << none;
    QTest::addRow("undoubled mark at a line end")
        << bytes("\"say \"x\"\r\nnext\"\r\n") << QStringList { u"say \"x"_s, u"next\""_s } << none;
    QTest::addRow("NUL in an item")
        << QByteArray("a\0b,c", 5) << QStringList { fromCodes({ u'a', 0, u'b' }), u"c"_s } << none;
    QTest::addRow("unterminated quoted item after others")
        << bytes("a,b\r\n\"c,d\r\ne") << QStringList { u"a"_s, u"b"_s } << pastEnd;
    QTest::addRow("lone mark at the end") << bytes("a\r\n\"") << QStringList { u"a"_s } << pastEnd;
    QTest::addRow("doubled mark as the last thing") << bytes("\"x\"\"") << QStringList() << pastEnd;
}

void TestDocFormat::reading()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, items);
    QFETCH(int, failure);
    const ReadResult result = readAll(file);
    QCOMPARE(result.items, items);
    QCOMPARE(result.failure, failure);
}

void TestDocFormat::readingPastTheEndFails()
{
    ItemReader reader(u"a"_s);
    QCOMPARE(reader.next(), u"a"_s);
    QVERIFY(reader.atEnd());
    try {
        reader.next();
        QFAIL("a read past the end gave an item");
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), int(FailureNumber::InputPastEndOfFile));
    }
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
            if (!b.isEmpty()) {
                QCOMPARE(reader.next(), b);
            }
            QVERIFY(reader.atEnd());
        }
    }
}

// For every text the program can hold, reading its written form gives back exactly that text
// as the one item of the file.
void TestDocFormat::roundTrip()
{
    static const QString pieces[] = {
        u"\""_s,         u"\"\""_s,   u","_s,      u"\r"_s,     u"\n"_s,          u"\r\n"_s,
        u"\t"_s,         u" "_s,      u"a"_s,      u"word"_s,   u"\u00e9"_s,      u"\u20ac"_s,
        u"\U0001F600"_s, u"\ufeff"_s, u"\u2028"_s, u"\u00a0"_s, fromCodes({ 0 }), u"\",\r\n"_s,
    };
    QRandomGenerator random(20240613);
    for (int round = 0; round < 3000; ++round) {
        const bool isLong = round % 100 == 0;
        const int count = isLong ? 30000 + random.bounded(30000) : random.bounded(24);
        QString text;
        for (int i = 0; i < count; ++i)
            text += pieces[random.bounded(int(std::size(pieces)))];

        const ReadResult result = readAll(encodeItem(text));
        if (result.failure != 0 || result.items.size() != 1 || result.items.first() != text) {
            qWarning() << "round" << round << "text" << text.left(200);
            QCOMPARE(result.failure, 0);
            QCOMPARE(result.items.size(), 1);
            QCOMPARE(result.items.first(), text);
        }
    }
}

QTEST_APPLESS_MAIN(TestDocFormat)
#include "tst_docformat.moc"
