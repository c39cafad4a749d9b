// Reading a file in pieces through the files: each piece is let go once the reading has passed it,
// and reading in bulk gives what reading item by item gives.
#include "documentcodec.h"
#include "editorfixture.h"
#include "failure.h"
#include "files.h"
#include "itemreader.h"
#include "itemruns.h"
#include "qtsequentialfiles.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestChunkedReading : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void piecesLetGo();
    void grownPastTheLimit();
    void openInBulk_data();
    void openInBulk();
};

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

// A file grown past the memory there is after it was opened fails at the next reading, item by
// item or in bulk, and is closed.
void TestChunkedReading::grownPastTheLimit()
{
    QTemporaryDir folder;
    const QString grows = folder.filePath(u"grows.txt"_s);
    QtSequentialFiles files;
    for (const bool bulk : { false, true }) {
        writeBytes(grows, "a");
        files.openForInput(grows, 1);
        QVERIFY(QFile::resize(grows, qint64(1) << 42)); // sparse: costs no disk
        QCOMPARE(failureOf([&] {
                     bulk ? files.readAllItems(1, u"\r\n"_s, [](const ItemRun &) {})
                          : void(files.atEnd(1));
                 }),
                 int(FailureNumber::OutOfMemory));
        QVERIFY(!files.isOpen(1));
    }
}

// An item across many reads, a failure after many items: bulk reading (from the start or after an
// item) gives what item-by-item reading gives, and Open shows it with its figure.
void TestChunkedReading::openInBulk_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addRow("long quoted item")
        << "\"" + "line, \"\"q\"\"\r\n"_ba.repeated(300000) + "\"\r\n";
    QTest::addRow("failure late in the file")
        << "a,\xc3\xa9\r\n"_ba.repeated(500000) + "\"" + QByteArray(DocumentReadSize, 'x') + "\r\n";
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
    // In bulk from the start, and from where reading item by item left the file.
    for (const qsizetype skip : { 0, 1 }) {
        files.openForInput(path, 1);
        if (skip)
            QCOMPARE(files.readItem(1), items.first());
        QCOMPARE(gathered([&](const ItemSink &sink) { files.readAllItems(1, u"\r\n"_s, sink); }),
                 fromItems(items.mid(skip), u"\r\n"_s, failure));
        QCOMPARE(files.isOpen(1), failure == 0);
        if (files.isOpen(1))
            files.close(1);
    }
    const Gathered expected = fromItems(items, u"\r\n"_s, failure);

    EditorFixture f;
    f.start();
    f.dialog.fileAnswers = { path };
    f.form.File_Open_Click();
    QCOMPARE(f.text().text(), expected.text);
    QCOMPARE(f.messageBoxes.calls.size(), failure ? 1 : 0);
    if (failure == 0)
        QCOMPARE(f.form.fileSize(), expected.characters + expected.items);
}

QTEST_MAIN(TestChunkedReading)
#include "tst_chunkedreading.moc"
