// Matching over UTF-8 chunks: every case runs on chunks of a few bytes (so that matches cross
// chunk edges) and on large ones.
#include "bytesource.h"
#include "textbuffer.h"
#include "textsearch.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

enum Flag { Plain = 0, Case = 1, Words = 2, Expression = 4, Up = 8, Wrap = 16 };

TextSearch::Query query(const QString &pattern, int flags)
{
    return { pattern, bool(flags & Case), bool(flags & Words), bool(flags & Expression) };
}

const qsizetype chunkSizes[] = { 4, 64 * 1024 };

} // namespace

class TestTextSearch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findNext_data();
    void findNext();
    void replaceAll_data();
    void replaceAll();
    void stopsWhenAsked();
    void tellsTheShareRead_data();
    void tellsTheShareRead();
    void stopsBetweenMatches_data();
    void stopsBetweenMatches();
};

void TestTextSearch::findNext_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selEnd");
    QTest::addColumn<int>("start"); // -1: not found
    QTest::addColumn<int>("end");

    const auto row = [](const char *name, const QString &text, const QString &pattern, int flags,
                        int selStart, int selEnd, int start, int end) {
        QTest::addRow("%s", name) << text << pattern << flags << selStart << selEnd << start << end;
    };
    row("pattern longer than a chunk", u"abcdefghijk"_s, u"cdefghij"_s, Case, 0, 0, 2, 10);
    row("starts after the selection", u"ab ab ab"_s, u"ab"_s, Case, 0, 2, 3, 5);
    row("case differs", u"Hello WORLD"_s, u"world"_s, Case, 0, 0, -1, -1);
    row("case blind beyond ascii", u"x ÉTÉ été"_s, u"été"_s, Plain, 0, 0, 2, 5);
    row("whole words see letters beyond ascii", u"écat cat"_s, u"cat"_s, Words, 0, 0, 5, 8);
    row("not after the end", u"abc"_s, u"abc"_s, Case, 3, 3, -1, -1);
    row("wrap finds the selection itself", u"xa"_s, u"a"_s, Wrap, 1, 2, 1, 2);
    row("up before the selection", u"a1 a2 a3"_s, u"a"_s, Up, 6, 7, 3, 4);
    row("up wraps to the end", u"a1 a2 a3"_s, u"a"_s, Up | Wrap, 0, 0, 6, 7);
    row("a typed line feed is the line break", u"ab\r\ncd"_s, u"b\ncd"_s, Plain, 0, 0, 1, 6);
    row("line end is before the CR", u"ab\r\ncd"_s, u"$"_s, Expression, 0, 0, 2, 2);
    row("empty match at the caret moves on", u"ab\r\ncd"_s, u"^"_s, Expression, 0, 0, 4, 4);
    row("empty match at the very end", u"ab"_s, u"$"_s, Expression, 1, 1, 2, 2);
    row("expression up", u"a1 a2 a3"_s, u"a\\d"_s, Expression | Up, 8, 8, 6, 8);
    row("expression case blind", u"xx ÉTÉ"_s, u"é+t"_s, Expression, 0, 0, 3, 5);
    row("expression whole words", u"a12 12"_s, u"\\d+"_s, Expression | Words, 0, 0, 4, 6);
    // Deep in a chunk, bytes are sifted many at a time: a match in the second half of a sift.
    const QString dashes(100, u'-');
    row("plain deep in a chunk", QString(dashes).replace(20, 6, u"needle"_s), u"needle"_s, Case, 0,
        0, 20, 26);
    row("case blind deep in a chunk", QString(dashes).replace(53, 6, u"NEEDLE"_s), u"needle"_s,
        Plain, 0, 0, 53, 59);
    row("invalid expression finds nothing", u"ab(c"_s, u"ab(c"_s, Expression | Wrap, 0, 0, -1, -1);

    // Windows of lines: context on a long line, and a match across a window's edge.
    const QString longLine = QString(200'000, u'x') + u"y"_s;
    row("long line", longLine, u"^x+y$"_s, Expression, 0, 0, 0, 200'001);
    row("long line from inside", longLine, u"xy"_s, Expression, 150'000, 150'000, 199'999, 200'001);
    QString lines;
    while (lines.size() < 4'700'000)
        lines += u"abc\r\n"_s;
    const int q = int(4 * 1024 * 1024 - 1);
    lines.replace(q, 5, u"Q\r\nRS"_s);
    row("match across a window edge", lines, u"Q\\nR"_s, Expression, 0, 0, q, q + 4);
    // A match that starts in a window's share and runs far past its end.
    const int s = q - 8;
    lines[s] = u'S';
    lines[s + 200'000] = lines[s + 400'000] = u'E';
    row("lazy match far past a window", lines, u"S[\\s\\S]*?E"_s, Expression, 0, 0, s, s + 200'001);
    row("greedy match far past a window", lines, u"S[^!]*E"_s, Expression, 0, 0, s, s + 400'001);

    // Bytes are searched two slices at a time, the second on another thread.
    const int slice = int(TextSearch::SliceBytes);
    QString slices(2 * slice + 100, u'-');
    const auto with = [&](std::initializer_list<int> at) {
        QString text = slices;
        for (const int needle : at)
            text.replace(needle, 6, u"needle"_s);
        return text;
    };
    row("only in the slice read ahead", with({ slice + 50 }), u"needle"_s, Case, 0, 0, slice + 50,
        slice + 56);
    row("before the slice read ahead", with({ 10, slice + 50 }), u"needle"_s, Case, 0, 0, 10, 16);
    row("across the edge of the two", with({ slice - 3, slice + 50 }), u"needle"_s, Case, 0, 0,
        slice - 3, slice + 3);
    row("in the next two", with({ 2 * slice + 10 }), u"NEEDLE"_s, Plain, 0, 0, 2 * slice + 10,
        2 * slice + 16);
}

void TestTextSearch::findNext()
{
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QFETCH(int, flags);
    QFETCH(int, selStart);
    QFETCH(int, selEnd);
    QFETCH(int, start);
    QFETCH(int, end);

    const TextSearch search(query(pattern, flags));
    for (const qsizetype chunkSize : chunkSizes) {
        const Utf8Chunks chunks(text.toUtf8(), chunkSize);
        const TextSearch::Range selection { chunks.byteOfPosition(selStart),
                                            chunks.byteOfPosition(selEnd) };
        const auto result = search.findNext(chunks, selection,
                                            flags & Up ? TextSearch::Direction::Backward
                                                       : TextSearch::Direction::Forward,
                                            flags & Wrap);
        QVERIFY(!result.stopped);
        const auto at
            = [&](qint64 byte) { return result.match.found() ? chunks.positionOfByte(byte) : -1; };
        QCOMPARE(at(result.match.start), start);
        QCOMPARE(at(result.match.end), end);
    }
}

void TestTextSearch::replaceAll_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("replaceWith");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const QString &text, const QString &pattern, int flags,
                        const QString &replaceWith, const QString &expected) {
        QTest::addRow("%s", name) << text << pattern << flags << replaceWith << expected;
    };
    row("no overlaps", u"aaaa"_s, u"aa"_s, Case, u"b"_s, u"bb"_s);
    row("case blind", u"Ab aB"_s, u"ab"_s, Plain, u"x"_s, u"x x"_s);
    row("whole words", u"cat concat cat"_s, u"cat"_s, Words, u"dog"_s, u"dog concat dog"_s);
    row("plain keeps backslashes", u"a.b"_s, u"."_s, Case, u"\\1"_s, u"a\\1b"_s);
    row("groups", u"a1 b2"_s, u"(\\w)(\\d)"_s, Expression, u"\\2\\1"_s, u"1a 2b"_s);
    row("empty matches never loop", u"abc"_s, u"x*"_s, Expression, u"-"_s, u"-a-b-c-"_s);
    row("empty matches around a surrogate pair", u"😀"_s, u"(?:)"_s, Expression, u"-"_s, u"-😀-"_s);
    row("line breaks replaced", u"a\r\nb\r\nc"_s, u"\\n"_s, Expression, u","_s, u"a,b,c"_s);
    row("line breaks inserted", u"a,b"_s, u","_s, Expression, u"\\n"_s, u"a\r\nb"_s);
    row("plain line breaks inserted", u"a,b"_s, u","_s, Plain, u"\n"_s, u"a\r\nb"_s);
    row("captured line break", u"a\r\nb"_s, u"(\\n)"_s, Expression, u"\\1\\1"_s, u"a\r\n\r\nb"_s);
    row("every line start", u"a\r\n\r\nb"_s, u"^"_s, Expression, u"> "_s, u"> a\r\n> \r\n> b"_s);
    // Between matches, characters of every width (and line breaks) are walked many at a time.
    const QString mixed = u"ab é€😀\r\n😀😀 cd,xé"_s.repeated(40);
    row("characters of every width between matches", mixed, u"x(.)"_s, Expression, u"<\\1>"_s,
        QString(mixed).replace(u"xé"_s, u"<é>"_s));
}

void TestTextSearch::replaceAll()
{
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QFETCH(int, flags);
    QFETCH(QString, replaceWith);
    QFETCH(QString, expected);

    // Found in chunks of every size, rewritten in the storage as Replace All does.
    const TextSearch search(query(pattern, flags));
    for (const qsizetype chunkSize : chunkSizes) {
        TextBuffer buffer;
        buffer.setText(text);
        TextBuffer::Rewrite rewrite = buffer.startRewrite();
        QVERIFY(search.findAll(Utf8Chunks(text.toUtf8(), chunkSize), replaceWith,
                               [&](TextSearch::Range match, const QString &replacement) {
                                   rewrite.replace(match.start, match.end, replacement);
                                   return true;
                               }));
        buffer.finishRewrite(std::move(rewrite));
        QCOMPARE(buffer.text(), expected);
        buffer.undo();
        QCOMPARE(buffer.text(), text);
    }
}

void TestTextSearch::stopsWhenAsked()
{
    const Utf8Chunks chunks(QByteArray(3 * TextSearch::SliceBytes, 'a'));
    int asked = 0;
    const auto stop = [&](qint64, qint64) { return ++asked < 2; };
    const TextSearch search(query(u"b"_s, Case));
    const auto result = search.findNext(chunks, {}, TextSearch::Direction::Forward, true, stop);
    QVERIFY(result.stopped);
    QVERIFY(!result.match.found());
    QCOMPARE(asked, 2);
    asked = 0;
    QVERIFY(!search.findAll(
        chunks, u"c"_s, [](auto, auto) { return true; }, stop));
}

void TestTextSearch::tellsTheShareRead_data()
{
    QTest::addColumn<int>("flags"); // Up and Wrap for Find; -1 for Replace All
    QTest::addColumn<int>("slices"); // where the selection stands, in slices
    QTest::addColumn<int>("expectedSlices"); // what is to be read, in slices

    QTest::addRow("down from the middle") << int(Case) << 1 << 2;
    QTest::addRow("down, wrapping") << int(Case | Wrap) << 1 << 3;
    QTest::addRow("up from the middle") << int(Case | Up) << 1 << 1;
    QTest::addRow("up, wrapping") << int(Case | Up | Wrap) << 2 << 3;
    QTest::addRow("Replace All") << -1 << 0 << 3;
}

// The bytes read so far grow with every call and end at the bytes to read, which the selection
// and the wrapping decide; a bar drawn from them goes neither back nor past its end.
void TestTextSearch::tellsTheShareRead()
{
    QFETCH(int, flags);
    QFETCH(int, slices);
    QFETCH(int, expectedSlices);
    const qint64 slice = TextSearch::SliceBytes;
    const Utf8Chunks chunks(QByteArray(3 * slice - 1, 'a'));
    const qint64 end = chunks.byteLength() + 1; // an empty match may stand at the very end
    QList<qint64> told;
    qint64 totalTold = -1;
    bool sameTotal = true;
    const auto note = [&](qint64 done, qint64 total) {
        sameTotal = sameTotal && (totalTold < 0 || total == totalTold);
        totalTold = total;
        told.append(done);
        return true;
    };
    const TextSearch search(query(u"b"_s, Case));
    if (flags < 0) {
        QVERIFY(search.findAll(
            chunks, u"c"_s, [](auto, auto) { return true; }, note));
    } else {
        const TextSearch::Range selection { slices * slice, slices * slice };
        search.findNext(chunks, selection,
                        flags & Up ? TextSearch::Direction::Backward
                                   : TextSearch::Direction::Forward,
                        flags & Wrap, note);
    }
    QVERIFY(sameTotal);
    QCOMPARE(totalTold, std::min(end, expectedSlices * slice));
    QVERIFY(!told.isEmpty());
    QVERIFY2(std::is_sorted(told.begin(), told.end()), "the share went back");
    QVERIFY(told.first() > 0);
    QCOMPARE(told.last(), totalTold);
}

void TestTextSearch::stopsBetweenMatches_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("replace");
    QTest::addRow("Replace All, plain") << int(Case) << true;
    QTest::addRow("Replace All, expression") << int(Expression) << true;
    QTest::addRow("Find Previous, expression") << int(Expression | Up) << false;
}

// Many matches in one slice: past the polling interval, the next match asks whether to go on
// (two million matches outlast the interval on any machine).
void TestTextSearch::stopsBetweenMatches()
{
    QFETCH(int, flags);
    QFETCH(bool, replace);
    const Utf8Chunks chunks(QByteArray("a ").repeated(replace ? 200000 : 2000000));
    const TextSearch search(query(flags & Expression ? u"\\ba"_s : u"a"_s, flags));
    int asked = 0;
    const auto stop = [&asked](qint64, qint64) { return ++asked == 0; };
    if (!replace) {
        const auto result = search.findNext(chunks, { chunks.byteLength(), chunks.byteLength() },
                                            TextSearch::Direction::Backward, false, stop);
        QVERIFY(result.stopped);
        QVERIFY(!result.match.found());
        QCOMPARE(asked, 1);
        return;
    }
    int visited = 0;
    QVERIFY(!search.findAll(
        chunks, u"b"_s,
        [&visited](auto, auto) {
            if (++visited == 1) {
                QElapsedTimer clock;
                clock.start();
                while (clock.elapsed() <= TextSearch::PollMilliseconds) { }
            }
            return true;
        },
        stop));
    QCOMPARE(asked, 1);
    QVERIFY2(visited <= 256, qPrintable(QString::number(visited)));
}

QTEST_MAIN(TestTextSearch)
#include "tst_textsearch.moc"
