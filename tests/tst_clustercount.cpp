// Columns and counts of what the user sees as characters against the boundary finder, across the
// storage's chunks and edits, and the character kinds the storage's counts rely on.
#include "clustercount.h"
#include "rope.h"
#include "ropeclusters.h"
#include "textbuffer.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

class TestClusterCount : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void editedTextsCountAsTheBoundaryFinder_data();
    void editedTextsCountAsTheBoundaryFinder();
    void kindsAgreeWithTheBoundaryFinder();
    void leafSyncsHoldWhateverPrecedes();
    void columnsAsTheUserSeesThem_data();
    void columnsAsTheUserSeesThem();
};

namespace {

// The boundary finder on the whole text, with the scripts it tailors given their default rules.
qsizetype graphemes(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, rope::untailored(text));
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

QString randomText(const QStringList &parts, qsizetype length, QRandomGenerator &random)
{
    QString text;
    while (text.size() < length)
        text += parts.at(random.bounded(int(parts.size())));
    return text;
}

} // namespace

namespace {

// Each piece is one of the cases where whether a cluster starts depends on what precedes.
const QStringList tricky { u"a"_s,
                           u"bc "_s,
                           u"\t"_s,
                           u"\r\n"_s,
                           u"e\u0301"_s,
                           u"\u0301"_s,
                           u"\u0301\u0302"_s,
                           u"\U0001F1EB"_s,
                           u"\U0001F1EB\U0001F1F7"_s,
                           u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s,
                           u"\u200D"_s,
                           u"\U0001F600"_s,
                           u"\U0001F44D\U0001F3FD"_s,
                           u"\u1100"_s,
                           u"\u1161"_s,
                           u"\u11A8"_s,
                           u"\uAC00"_s,
                           u"\uD55C"_s,
                           u"\u0600"_s,
                           u"\u0915\u094D\u0937"_s,
                           u"\u0E01\u0E33"_s,
                           u"\u0E40"_s,
                           u"\u0628\u064E"_s,
                           u"\u4E2D"_s,
                           u"\u0416"_s,
                           u"\u00E9"_s,
                           u"\u00A9"_s,
                           u"\uFE0F"_s,
                           u"\u0903"_s,
                           u"\u00AD"_s,
                           u"\U000110BD"_s };

QString codes(const QString &text)
{
    QString out;
    for (const char32_t code : text.toUcs4())
        out += u"U+%1 "_s.arg(quint32(code), 4, 16, QChar(u'0'));
    return out;
}

qsizetype boundariesBetween(QTextBoundaryFinder &finder, qsizetype from, qsizetype to)
{
    qsizetype count = 0;
    finder.setPosition(int(from));
    for (qsizetype at = finder.isAtBoundary() ? from : finder.toNextBoundary(); at >= 0 && at < to;
         at = finder.toNextBoundary())
        ++count;
    return count;
}

} // namespace

void TestClusterCount::editedTextsCountAsTheBoundaryFinder_data()
{
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<bool>("spans"); // whether the storage's counts must be of use
    QTest::addRow("ascii and a mark now and then")
        << QStringList { u"abcdefgh"_s, u"ij "_s, u"k"_s, u"e\u0301"_s } << false;
    QTest::addRow("two-byte letters before marks")
        << QStringList { u"\u00e9\u00e9"_s, u"\u02ff"_s, u"\u0301"_s, u"x"_s, u"\u0300"_s }
        << false;
    QTest::addRow("pairs, flags and tabs")
        << QStringList { u"abc"_s, u"\U0001F600"_s, u"\U0001F1EB\U0001F1F7"_s, u"\t"_s } << false;
    QTest::addRow("short lines") << QStringList { u"ab"_s, u"\r\n"_s, u"\u00e9"_s, u"\u0301"_s }
                                 << false;
    QTest::addRow("every tricky piece") << tricky << true;
    QTest::addRow("mostly prose, one line")
        << (QStringList { u"The quick brown fox "_s, u"jumps "_s, u"\u0416\u0416 "_s,
                          u"\u4E2D\u6587"_s, u"\u0540\u0561\u0575 "_s, u"\u10D0\u10D1 "_s,
                          u"\u1200\u1201"_s }
            + tricky.mid(4, 20))
        << true;
    QTest::addRow("flag runs") << QStringList { u"\U0001F1EB"_s, u"\U0001F1EB"_s, u"\U0001F1F7"_s,
                                                u"\U0001F1EB"_s, u"ab"_s }
                               << false;
    QTest::addRow("joined emoji") << QStringList { u"\U0001F468"_s, u"\u200D"_s, u"\U0001F469"_s,
                                                   u"\U0001F3FD"_s, u"\u00A9"_s, u"x "_s }
                                  << true;
    QTest::addRow("hangul jamo and syllables")
        << QStringList { u"\u1100"_s, u"\u1161"_s, u"\u11A8"_s, u"\uAC00"_s, u"\uAC01"_s, u" "_s }
        << true;
    QTest::addRow("marks on letters") << QStringList { u"\u0301"_s, u"\u0302\u0303"_s, u"o"_s,
                                                       u"\u0628"_s, u"\u064E"_s,       u"\u0600"_s }
                                      << true;
}

// Counts over long ranges, mostly from the nodes' counts, equal the boundary finder's, before and
// after every edit; a small budget stops at a boundary with the clusters before it.
void TestClusterCount::editedTextsCountAsTheBoundaryFinder()
{
    QFETCH(QStringList, parts);
    QFETCH(bool, spans);
    QRandomGenerator random(21);
    TextBuffer buffer;
    buffer.setText(randomText(parts, 40000, random));
    ClusterCounter counter(buffer);
    int spansFound = 0;
    for (int step = 0; step < 40; ++step) {
        const qsizetype at = random.bounded(int(buffer.length()) + 1);
        if (step > 0) {
            buffer.replace(at, random.bounded(40), randomText(parts, random.bounded(30), random));
            counter.changed(std::min(at, buffer.length()));
        }
        QCOMPARE(buffer.whole().treeFault(), QString());
        const QString stored = buffer.text();
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, rope::untailored(stored));
        const auto boundaryAtOrBefore = [&](qsizetype position) {
            finder.setPosition(int(position));
            return finder.isAtBoundary() ? position : finder.toPreviousBoundary();
        };
        for (int range = 0; range < 4; ++range) {
            const qsizetype from = boundaryAtOrBefore(random.bounded(int(stored.size()) + 1));
            const qsizetype to = from + random.bounded(int(stored.size() - from) + 1);
            const TextSlice::ClusterSpan span = buffer.whole().clusterSpan(from, to);
            if (span.to > span.from) {
                ++spansFound;
                QVERIFY(from <= span.from && span.to <= to);
                QCOMPARE(boundaryAtOrBefore(span.from), span.from);
                QCOMPARE(boundaryAtOrBefore(span.to), span.to);
                QCOMPARE(span.clusters, graphemes(stored.mid(span.from, span.to - span.from)));
            }
            const ClusterCounter::Progress counted = counter.count(from, to, stored.size());
            QCOMPARE(counted.reached, to);
            QCOMPARE(counted.clusters, graphemes(stored.mid(from, to - from)));
            const ClusterCounter::Progress part = counter.count(from, to, 100);
            QVERIFY(part.reached <= to);
            QCOMPARE(part.clusters, graphemes(stored.mid(from, part.reached - from)));
        }
        const qsizetype position = boundaryAtOrBefore(random.bounded(int(stored.size()) + 1));
        const qsizetype line = buffer.lineStart(buffer.lineAt(position));
        QCOMPARE(counter.column(position), graphemes(stored.mid(line, position - line)));
    }
    // Leaves of a few bytes mostly hold no sync at all but in plain text.
    if (spans && rope::LeafBytes >= 64)
        QVERIFY(spansFound > 0);
}

// A leaf's counts are its text's, and its first and last syncs start a cluster whatever text
// comes before the leaf, with the same clusters after them as in the leaf alone.
void TestClusterCount::leafSyncsHoldWhateverPrecedes()
{
    const QStringList before { u""_s,       u"a"_s,           u"\u0600"_s,
                               u"\u1100"_s, u"\U0001F1EB"_s,  u"\U0001F600\u200D"_s,
                               u"\r"_s,     u"\u0915\u094D"_s };
    QRandomGenerator random(31);
    for (int round = 0; round < 3000; ++round) {
        const QString text = randomText(tricky, 1 + random.bounded(12), random);
        const QByteArray bytes = text.toUtf8();
        if (bytes.startsWith('\n') || bytes.endsWith('\r'))
            continue;
        const rope::NodePtr leaf = rope::makeLeaf(bytes.constData(), bytes.size());
        const rope::Clusters &clusters = leaf->clusters;
        QVERIFY2(clusters.count == graphemes(text), qPrintable(codes(text)));
        if (clusters.firstUnit < 0)
            continue;
        QVERIFY(clusters.firstUnit <= clusters.lastUnit && clusters.lastUnit < text.size());
        QCOMPARE(qint64(text.left(clusters.firstUnit).toUtf8().size()), qint64(clusters.firstByte));
        QCOMPARE(qint64(text.left(clusters.lastUnit).toUtf8().size()), qint64(clusters.lastByte));
        for (const QString &p : before) {
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, rope::untailored(p + text));
            const qsizetype first = p.size() + clusters.firstUnit;
            const qsizetype last = p.size() + clusters.lastUnit;
            const qsizetype end = p.size() + text.size();
            finder.setPosition(int(first));
            QVERIFY2(finder.isAtBoundary(), qPrintable(p + text));
            finder.setPosition(int(last));
            QVERIFY2(finder.isAtBoundary(), qPrintable(p + text));
            QCOMPARE(qint64(boundariesBetween(finder, first, end)), clusters.count - clusters.head);
            QCOMPARE(qint64(boundariesBetween(finder, last, end)), qint64(clusters.tail));
        }
    }
}

// What the storage takes for sure of each kind of character must hold for the boundary finder:
// a starter starts a cluster after anything but a prefix (and behaves as a letter for what
// follows), a syllable the same but after a leading jamo, a mark never does but after a
// control, a control always does, and whatever is not unsafe lets a letter start a cluster.
void TestClusterCount::kindsAgreeWithTheBoundaryFinder()
{
    const QStringList before { u"a"_s,          u"\u0301"_s,     u"\u200D"_s,
                               u"\U0001F600"_s, u"\U0001F1EB"_s, u"\uAC00"_s,
                               u"\u1161"_s,     u"\u11A8"_s,     u"\u0903"_s,
                               u"\t"_s,         u"\u00A9"_s,     u"\U0001F600\u200D"_s,
                               u"\U0001F3FB"_s, u"\U000E0061"_s, u"\U00020000"_s,
                               u"\U0001D167"_s };
    const QStringList after { u"\u0301"_s, u"\u200D"_s, u"\U0001F1EB"_s, u"\U0001F600"_s,
                              u"a"_s,      u"\u1161"_s, u"\u11A8"_s,     u"\u0903"_s };
    using rope::CharKind;
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (c == u'\r' || c == u'\n')
            continue;
        const CharKind kind = rope::charKind(c);
        if (kind == CharKind::Unsafe)
            continue;
        const QString one { QChar(char16_t(c)) };
        const auto fail = [](const QString &text) {
            QByteArray codes;
            for (const char32_t code : text.toUcs4())
                codes += "U+" + QByteArray::number(quint32(code), 16) + ' ';
            return codes;
        };
        // A letter after it starts a cluster: it is no prefix.
        QVERIFY2(graphemes(one + u"a"_s) == 2 && graphemes(one + u"\uAC00"_s) == 2,
                 fail(one).constData());
        switch (kind) {
        case CharKind::Starter:
        case CharKind::Syllable:
            for (const QString &p : before)
                QVERIFY2(graphemes(p + one) == graphemes(p) + 1, fail(p + one).constData());
            if (kind == CharKind::Starter) {
                for (const QString &q : after)
                    QVERIFY2(graphemes(one + q) == graphemes(u"x"_s + q),
                             fail(one + q).constData());
            }
            break;
        case CharKind::Mark:
            QVERIFY2(graphemes(u"a"_s + one) == 1 && graphemes(u"\U0001F1EB"_s + one) == 1
                         && graphemes(u"\t"_s + one) == 2,
                     fail(one).constData());
            break;
        case CharKind::Control:
            QVERIFY2(graphemes(u"a"_s + one + u"\u0301"_s) == 3, fail(one).constData());
            break;
        default:
            break;
        }
    }
}

void TestClusterCount::columnsAsTheUserSeesThem_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<qsizetype>("clusters");
    QTest::addRow("a tab") << u"a\tb"_s << qsizetype(3);
    QTest::addRow("a surrogate pair") << u"a\U0001F600b"_s << qsizetype(3);
    QTest::addRow("a letter and its marks") << u"e\u0301\u0323x"_s << qsizetype(2);
    QTest::addRow("two flags and a half")
        << u"\U0001F1EB\U0001F1F7\U0001F1EB\U0001F1F7\U0001F1EBx"_s << qsizetype(4);
    QTest::addRow("a joined family")
        << u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s << qsizetype(1);
    QTest::addRow("hangul jamo") << u"\u1100\u1161\u11A8\uAC00"_s << qsizetype(2);
    // Qt's finder tailors Thai runs and splits what follows a Thai letter: the pair, the flag.
    QTest::addRow("a pair after a thai letter") << u"\u0E01\u0E33\U0001F600"_s << qsizetype(2);
    QTest::addRow("a flag after a thai letter") << u"\u0E01\U0001F1EB\U0001F1F7"_s << qsizetype(2);
    QTest::addRow("a flag after devanagari") << u"\u0915\U0001F1EB\U0001F1F7"_s << qsizetype(2);
}

// The column after a line, on a line long enough that the storage's counts give most of it.
void TestClusterCount::columnsAsTheUserSeesThem()
{
    QFETCH(QString, line);
    QFETCH(qsizetype, clusters);
    const int repeats = 5000;
    TextBuffer buffer;
    buffer.setText(u"x\r\n"_s + line.repeated(repeats));
    ClusterCounter counter(buffer);
    QCOMPARE(counter.column(buffer.length()), clusters * repeats);
    QCOMPARE(counter.column(3 + line.size()), clusters);
}

QTEST_MAIN(TestClusterCount)
#include "tst_clustercount.moc"
