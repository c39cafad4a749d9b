// Columns and counts of what the user sees as characters, against the boundary finder, over
// texts whose plain runs, marks, pairs and line breaks fall across the storage's chunks.
#include "clustercount.h"
#include "textbuffer.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

class TestClusterCount : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void countsAsTheBoundaryFinder_data();
    void countsAsTheBoundaryFinder();
};

namespace {

qsizetype graphemes(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

} // namespace

void TestClusterCount::countsAsTheBoundaryFinder_data()
{
    QTest::addColumn<QStringList>("parts");
    QTest::addRow("ascii and a mark now and then")
        << QStringList { u"abcdefgh"_s, u"ij "_s, u"k"_s, u"e\u0301"_s };
    QTest::addRow("two-byte letters before marks")
        << QStringList { u"\u00e9\u00e9"_s, u"\u02ff"_s, u"\u0301"_s, u"x"_s, u"\u0300"_s };
    QTest::addRow("pairs, flags and tabs")
        << QStringList { u"abc"_s, u"\U0001F600"_s, u"\U0001F1EB\U0001F1F7"_s, u"\t"_s };
    QTest::addRow("short lines") << QStringList { u"ab"_s, u"\r\n"_s, u"\u00e9"_s, u"\u0301"_s };
}

void TestClusterCount::countsAsTheBoundaryFinder()
{
    QFETCH(QStringList, parts);
    QRandomGenerator random(11);
    QString text;
    while (text.size() < 30000) // several chunks of the storage
        text += parts.at(random.bounded(int(parts.size())));
    TextBuffer buffer;
    buffer.setText(text);
    ClusterCounter counter(buffer);
    const QString stored = buffer.text();
    for (int step = 0; step < 60; ++step) {
        qsizetype position = buffer.snapped(random.bounded(int(stored.size()) + 1));
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, stored);
        finder.setPosition(int(position));
        if (!finder.isAtBoundary())
            position = finder.toPreviousBoundary();
        const qsizetype line = buffer.lineStart(buffer.lineAt(position));
        QCOMPARE(counter.column(position), graphemes(stored.mid(line, position - line)));
        const ClusterCounter::Progress whole = counter.count(0, position, stored.size());
        QCOMPARE(whole.reached, position);
        QCOMPARE(whole.clusters, graphemes(stored.left(position)));
        // A small budget stops at a boundary, with the clusters before it.
        const ClusterCounter::Progress part = counter.count(0, position, 100);
        QVERIFY(part.reached <= position);
        QCOMPARE(part.clusters, graphemes(stored.left(part.reached)));
    }
}

QTEST_MAIN(TestClusterCount)
#include "tst_clustercount.moc"
