// The document format on its own: written bytes, and how files decode and split into items; the
// fuzzer tries the round trip of every text and the readers against each other.
#include "support/encodedtext.h"
#include "support/files.h"
#include "support/itemruns.h"

#include <QTest>

Q_DECLARE_METATYPE(TextEncoding)

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
    void encodings_data();
    void encodings();
    void utf8CheckAgreesWithQt();
    void unstorable_data();
    void unstorable();
};

// The written form, from the text and from its UTF-8.
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
}

void TestDocFormat::writtenBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, written);
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
    encodeItem({ wholeText(text).read, bytes }, TextEncoding::Utf8,
               [&fromBytes](QByteArrayView piece) { fromBytes.append(piece); });
    QCOMPARE(fromBytes, written);
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

    // Decoding: UTF-8, else every byte as a character of Windows-1252.
    row("only one BOM skipped", "\xef\xbb\xbf\xef\xbb\xbfz"_ba, { u"\ufeffz"_s });
    row("doubled marks, delimiters quoted", "\"a\"\"b,\r\nc\"\"\",x"_ba,
        { u"a\"b,\r\nc\""_s, u"x"_s });
    row("marks before line ends", "\"x\"\r\n\"y\"\n"_ba, { u"x"_s, u"y"_s });
    row("BOM alone", "\xef\xbb\xbf"_ba, {});
    row("truncated three-byte character", "ab\xe2\x82"_ba, { u"ab\u00e2\u201a"_s });
    row("invalid late", "\xc3\xa9 abcdefgh\xff"_ba, { u"\u00c3\u00a9 abcdefgh\u00ff"_s });
    row("encoded surrogate", "\xed\xa0\x80"_ba, { u"\u00ed\u00a0\u20ac"_s });
    // UTF-16: delimiters and marks are characters like any other, whatever their bytes.
    row("UTF-16 LE items", "\xff\xfe\"\0a\0,\0b\0\"\0\r\0\n\0c\0,\0"_ba, { u"a,b"_s, u"c"_s });
    row("UTF-16 BE, a comma's byte inside a character", "\xfe\xff\x00z\x2c\x00\x00,\x00y"_ba,
        { u"z\u2c00"_s, u"y"_s });
    row("UTF-16 LE, unterminated", "\xff\xfe\"\0a\0"_ba, {}, pastEnd);
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

// One item's file: the encoding told, the item, and the bytes written back in that encoding;
// invalid forms fall back to Windows-1252, which keeps every byte.
void TestDocFormat::encodings_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QByteArray>("written");

    const auto row = [](const char *name, const QByteArray &file, TextEncoding encoding,
                        const QString &item, const QByteArray &written = {}) {
        QTest::addRow("%s", name) << file << encoding << item
                                  << (written.isNull() ? file : written);
    };
    const QString text = u"\"caf\u00e9\" \u20ac\U0001F600\r\nx"_s;
    const QString form = u"\"\"\"caf\u00e9\"\" \u20ac\U0001F600\r\nx\"\r\n"_s;
    row("UTF-8", form.toUtf8(), TextEncoding::Utf8, text);
    row("UTF-8 with BOM", "\xef\xbb\xbf" + form.toUtf8(), TextEncoding::Utf8WithBom, text);
    row("UTF-16 LE", utf16(form, false), TextEncoding::Utf16LE, text);
    row("UTF-16 BE", utf16(form, true), TextEncoding::Utf16BE, text);
    row("Windows-1252", "\"\x93hi\x94 \x80 \x81\x8d\x8f\x90\x9d \xff\"\r\n"_ba,
        TextEncoding::Windows1252,
        u"\u201chi\u201d \u20ac \u0081\u008d\u008f\u0090\u009d \u00ff"_s);
    const QByteArray all = everyByte();
    // Its item (null here) is checked by its length: one character a byte.
    row("every byte", '"' + all + "\"\r\n", TextEncoding::Windows1252, QString());
    row("UTF-16 LE of an odd length", "\xff\xfez\0y"_ba, TextEncoding::Windows1252,
        u"\u00ff\u00fez\0y"_s, "\"\xff\xfez\0y\"\r\n"_ba);
    row("UTF-16 LE, lone surrogate", "\xff\xfe\x3d\xd8z\0"_ba, TextEncoding::Windows1252,
        u"\u00ff\u00fe=\u00d8z\0"_s, "\"\xff\xfe\x3d\xd8z\0\"\r\n"_ba);
    row("UTF-16 BE, pair cut at the end", "\xfe\xff\xd8\x3d"_ba, TextEncoding::Windows1252,
        u"\u00fe\u00ff\u00d8="_s, "\"\xfe\xff\xd8\x3d\"\r\n"_ba);
    row("UTF-8 with BOM, invalid later", "\xef\xbb\xbf\xc3("_ba, TextEncoding::Windows1252,
        u"\u00ef\u00bb\u00bf\u00c3("_s, "\"\xef\xbb\xbf\xc3(\"\r\n"_ba);
    // The file is read once: what was handed over as UTF-8 before the first invalid byte is
    // read again when it reads otherwise in Windows-1252, and kept when it is ASCII.
    row("UTF-8, invalid after a character", "\"caf\xc3\xa9 \x80\"\r\n"_ba,
        TextEncoding::Windows1252, u"caf\u00c3\u00a9 \u20ac"_s);
    row("ASCII, then invalid", "\"ab,c \x93\xc3\xa9\"\r\n"_ba, TextEncoding::Windows1252,
        u"ab,c \u201c\u00c3\u00a9"_s);
    row("UTF-8, a character cut at the end", "\xc3\xa9\xc3"_ba, TextEncoding::Windows1252,
        u"\u00c3\u00a9\u00c3"_s, "\"\xc3\xa9\xc3\"\r\n"_ba);
    row("ASCII, a character cut at the end", "ab\xc3"_ba, TextEncoding::Windows1252, u"ab\u00c3"_s,
        "\"ab\xc3\"\r\n"_ba);
}

void TestDocFormat::encodings()
{
    QFETCH(QByteArray, file);
    QFETCH(TextEncoding, encoding);
    QFETCH(QString, item);
    QFETCH(QByteArray, written);
    TextEncoding decoded = TextEncoding::Utf8;
    ItemReader reader(decodeDocument(file, &decoded));
    QCOMPARE(decoded, encoding);
    if (item.isNull()) {
        item = reader.next();
        QCOMPARE(item.size(), file.size() - 4);
    } else {
        QCOMPARE(reader.next(), item);
    }
    QVERIFY(reader.atEnd());
    // Reads of every size cut characters and marks anywhere.
    for (qsizetype readSize = 1; readSize <= 5; ++readSize) {
        QCOMPARE(readAll(file, readSize).items, QStringList { item });
        Gathered bulk;
        QCOMPARE(scanDocument(
                     readFrom(file, readSize), Pilcrow,
                     [&bulk](const ItemRun &run) {
                         if (run.restarted)
                             bulk = Gathered();
                         bulk.text += QString::fromUtf8(run.text);
                         bulk.items += run.items;
                         bulk.characters += run.characters;
                     },
                     4 * readSize),
                 encoding);
        QCOMPARE(bulk, fromItems({ item }, Pilcrow, 0));
    }
    QCOMPARE(encodeItem(item, encoding), written);
}

// The file's bytes are checked sixteen at a time: every sequence of the bytes at the edges of the
// valid ranges, at every place of a block, is valid exactly when Qt says so.
void TestDocFormat::utf8CheckAgreesWithQt()
{
    const uchar edges[] = { 0x00, 0x7f, 0x80, 0x8f, 0x90, 0x9f, 0xa0, 0xbf, 0xc0, 0xc1, 0xc2,
                            0xdf, 0xe0, 0xe1, 0xed, 0xee, 0xef, 0xf0, 0xf1, 0xf4, 0xf5, 0xff };
    int valid = 0;
    for (const uchar a : edges) {
        for (const uchar b : edges) {
            for (const uchar c : edges) {
                for (const uchar d : edges) {
                    const char sequence[] = { char(a), char(b), char(c), char(d) };
                    for (const int before : { 0, 13, 14, 15, 16, 17 }) {
                        const QByteArray bytes = QByteArray(before, 'a') + QByteArray(sequence, 4)
                            + QByteArray(before % 5 * 4, 'z');
                        const Utf8Check check = checkUtf8(bytes);
                        if ((check != Utf8Check::Invalid) != bytes.isValidUtf8()
                            || (check == Utf8Check::Ascii)
                                != (a < 0x80 && b < 0x80 && c < 0x80 && d < 0x80)) {
                            QFAIL(qPrintable(
                                u"%1 after %2 bytes"_s
                                    .arg(QString::fromLatin1(QByteArray(sequence, 4).toHex(' ')))
                                    .arg(before)));
                        }
                        valid += check == Utf8Check::Valid;
                    }
                }
            }
        }
    }
    QVERIFY(valid > 0);
}

void TestDocFormat::unstorable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<int>("at"); // the character the writing fails at, from 1; 0 when it works

    QTest::addRow("euro sign and U+0081 in Windows-1252")
        << u"\u20ac\u0081\u00ff"_s << TextEncoding::Windows1252 << 0;
    QTest::addRow("U+0080 in Windows-1252") << u"ab\u0080"_s << TextEncoding::Windows1252 << 3;
    QTest::addRow("CJK in a later piece of Windows-1252")
        << QString(70000, u'x') + u"\u4e2d"_s << TextEncoding::Windows1252 << 70001;
    QTest::addRow("CJK in UTF-16 BE") << u"\u4e2d"_s << TextEncoding::Utf16BE << 0;
    QTest::addRow("lone surrogate in UTF-16 LE") << u"a\xdc00"_s << TextEncoding::Utf16LE << 2;
    QTest::addRow("lone high surrogate at the end") << u"a\xD83D"_s << TextEncoding::Utf8 << 2;
    QTest::addRow("reversed pair") << u"\xDE00\xD83D"_s << TextEncoding::Utf8 << 1;
    QTest::addRow("lone surrogate in a later piece")
        << QString(100000, u'x') + QChar(0xDC00) << TextEncoding::Utf8 << 100001;
}

// What an encoding cannot store is told before writing, and writing it fails saying where; a
// lone surrogate, which no encoding stores, is found only when writing.
void TestDocFormat::unstorable()
{
    QFETCH(QString, text);
    QFETCH(TextEncoding, encoding);
    QFETCH(int, at);
    QCOMPARE(canStore(encoding, wholeText(text)), at == 0 || !text.isValidUtf16());
    QString description;
    QCOMPARE(failureOf([&] { encodeItem(text, encoding); }, &description),
             at ? int(FailureNumber::InvalidProcedureCall) : 0);
    if (at) {
        QVERIFY2(description.contains(u"%1 cannot represent"_s.arg(encodingName(encoding)))
                     && description.contains(u"at character %1)"_s.arg(at)),
                 qPrintable(description));
    }
}

QTEST_APPLESS_MAIN(TestDocFormat)
#include "tst_docformat.moc"
