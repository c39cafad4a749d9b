// The bulk scanner against the item reader, and the stored form of loaded text against the same
// text counted one character at a time.
#include "itemruns.h"
#include "rope.h"
#include "storedform.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

class TestItemScanner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void againstItemReader_data();
    void againstItemReader();
    void randomAgainstItemReader();
    void storedForm_data();
    void storedForm();
};

namespace {

// Items of one to three bytes, so that a block of sixteen holds several of them.
QByteArray shortItems(int count, const char *delimiter)
{
    QByteArray file;
    for (int i = 0; i < count; ++i)
        file += QByteArray(1 + i % 3, char('a' + i % 26)) + delimiter;
    return file;
}

void compareWithItemReader(const QByteArray &file)
{
    const Gathered wanted = expected(readAll(file));
    for (const qsizetype readSize : { qsizetype(1) << 20, qsizetype(7), qsizetype(17) }) {
        for (const qsizetype runSize : { qsizetype(1) << 18, qsizetype(5), qsizetype(40) })
            QCOMPARE(scanned(file, readSize, runSize), wanted);
    }
}

// The counts of a text in CR LF form, one character at a time.
rope::Summary summaryOf(const QString &text)
{
    rope::Summary sum;
    sum.units = text.size();
    sum.bytes = text.toUtf8().size();
    const QStringList lines = text.split(u"\r\n"_s);
    sum.breaks = lines.size() - 1;
    sum.first = lines.first().size();
    sum.last = lines.last().size();
    for (qsizetype i = 1; i + 1 < lines.size(); ++i)
        sum.longest = std::max(sum.longest, qint64(lines[i].size()));
    return sum;
}

} // namespace

void TestItemScanner::againstItemReader_data()
{
    QTest::addColumn<QByteArray>("file");

    QTest::addRow("short items, commas") << shortItems(200, ",");
    QTest::addRow("short items, CR LF") << shortItems(200, "\r\n");
    QTest::addRow("short items, lone CR") << shortItems(200, "\r");
    QTest::addRow("short items, lone LF") << shortItems(200, "\n");
    QTest::addRow("short items, LF CR") << shortItems(200, "\n\r");
    QTest::addRow("empty items") << QByteArray(100, ',');
    QTest::addRow("CR as the 16th byte, LF after the block")
        << QByteArray(15, 'a') + "\r\n" + QByteArray(40, 'b') + "\r\n";
    QTest::addRow("CR as the 16th byte, no LF")
        << QByteArray(15, 'a') + "\rb" + QByteArray(40, 'c');
    QTest::addRow("ends with CR after blocks") << shortItems(30, ",") + "z\r";
    QTest::addRow("quoted item after short ones")
        << shortItems(20, ",") + "\"q,\"\"r\"\r\n" + shortItems(20, ",");
    QTest::addRow("quotation mark inside an unquoted item")
        << shortItems(10, ",") + "ab\"cd,e\"f" + shortItems(10, ",");
    QTest::addRow("every item quoted") << QByteArray("\"a\",").repeated(60);
    QTest::addRow("no delimiter for many blocks") << QByteArray(1000, 'x');
    QTest::addRow("no delimiter, then a comma") << QByteArray(100, 'x') + "," + QByteArray(3, 'y');
    QTest::addRow("two- and four-byte characters")
        << QByteArray("\xc3\xa9,\xf0\x9d\x84\x9e,").repeated(40) + "\xe2\x82\xac";
    QTest::addRow("four-byte characters across runs")
        << QByteArray("\xf0\x9d\x84\x9e").repeated(300) + "," + shortItems(50, ",");
    // Found by the random comparison: the byte after such a pair was looked at past the end.
    QTest::addRow("CR LF ends the last block, a quoted item in the next read")
        << QByteArray(15, 'a') + "\r\n\"q\"\r\n" + shortItems(20, ",");
    // Found by the fuzzer, under the address sanitizer: a short item near the end of the bytes
    // was copied with a load of sixteen bytes that reached past them.
    QTest::addRow("short items at the end of the bytes read") << QByteArray::fromPercentEncoding(
        "%01%EF%BB%BF%0D%0D%EF%BB%BB%00%0D%0D%0D%0D%01%EF%BB%BF%00%60");
    QTest::addRow("ends inside a quoted item") << shortItems(40, ",") + "\"open";
}

void TestItemScanner::againstItemReader()
{
    QFETCH(QByteArray, file);
    compareWithItemReader(file);
}

// Files of the format's own bytes and a few characters, in random order.
void TestItemScanner::randomAgainstItemReader()
{
    static const char *const pieces[]
        = { "a", "bc", ",", "\r", "\n", "\r\n", "\"", "\xc3\xa9", "\xf0\x9d\x84\x9e", "defghijk" };
    QRandomGenerator random(2026);
    for (int round = 0; round < 300; ++round) {
        QByteArray file;
        const int count = int(random.bounded(120));
        for (int i = 0; i < count; ++i)
            file += pieces[random.bounded(int(std::size(pieces)))];
        compareWithItemReader(file);
        if (QTest::currentTestFailed())
            qWarning() << "file:" << file.toPercentEncoding();
    }
}

void TestItemScanner::storedForm_data()
{
    QTest::addColumn<QString>("text");

    QTest::addRow("CR LF only") << u"ab\r\ncd\r\n"_s.repeated(20);
    QTest::addRow("lone LF in every block") << u"abcdefghij\n"_s.repeated(20);
    QTest::addRow("lone CR in every block") << u"abcdefghij\r"_s.repeated(20);
    QTest::addRow("LF CR") << u"abc\n\rdef"_s.repeated(20);
    QTest::addRow("CR CR LF") << u"x\r\r\ny"_s.repeated(20);
    QTest::addRow("breaks at both ends") << u"\n"_s + QString(40, u'a') + u"\r"_s;
    QTest::addRow("non-ASCII lines") << u"\u00e9\u20ac\U0001D11E\r\n"_s.repeated(400);
    QTest::addRow("lines across leaves") << (QString(97, u'q') + u"\n"_s).repeated(200);
}

// Appended in two parts cut at many places, the stored text has the counts of the text with
// every break made CR LF.
void TestItemScanner::storedForm()
{
    QFETCH(QString, text);
    const QByteArray bytes = text.toUtf8();
    const rope::Summary wanted = summaryOf(storedform::withCrLf(text));
    for (qsizetype cut = 0; cut <= bytes.size(); cut += 1 + cut / 7) {
        if (cut < bytes.size() && isUtf8Continuation(bytes[cut]))
            continue;
        rope::Builder builder;
        bool endedWithCr = false;
        storedform::appendUtf8(builder, bytes.constData(), cut, endedWithCr);
        storedform::appendUtf8(builder, bytes.constData() + cut, bytes.size() - cut, endedWithCr);
        const rope::NodePtr tree = builder.tree();
        QCOMPARE(rope::faultIn(tree), std::string());
        QCOMPARE(rope::summary(tree), wanted);
    }
}

QTEST_GUILESS_MAIN(TestItemScanner)
#include "tst_itemscanner.moc"
