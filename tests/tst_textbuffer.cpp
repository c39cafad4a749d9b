// The text box's buffer: CR LF text, the line index kept through edits, undo and redo.
#include "textbuffer.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Compares every view of the buffer with the plain text it should hold.
void compareWith(const TextBuffer &buffer, const QString &expected)
{
    QList<qsizetype> starts { 0 };
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (expected.at(i) == u'\n')
            starts.append(i + 1);
    }
    QCOMPARE(buffer.length(), expected.size());
    QCOMPARE(buffer.lineCount(), starts.size());
    // Line by line before text(), which closes the gap.
    for (qsizetype line = 0; line < starts.size(); ++line) {
        const qsizetype start = starts[line];
        const qsizetype end = line + 1 < starts.size() ? starts[line + 1] - 2 : expected.size();
        QCOMPARE(buffer.lineStart(line), start);
        QCOMPARE(buffer.lineText(line), expected.mid(start, end - start));
        if (end > start)
            QCOMPARE(buffer.at(end - 1), expected.at(end - 1));
        QCOMPARE(buffer.lineAt(start), line);
        QCOMPARE(buffer.lineAt(end), line);
        QVERIFY(buffer.longestLine() >= end - start);
    }
    QCOMPARE(buffer.text(), expected);
}

bool sameAs(const TextBuffer &buffer, const QString &expected)
{
    compareWith(buffer, expected);
    return !QTest::currentTestFailed();
}

} // namespace

class TestTextBuffer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void setTextMakesEveryBreakCrLf_data();
    void setTextMakesEveryBreakCrLf();
    void editsKeepTheLineIndex_data();
    void editsKeepTheLineIndex();
    void positionsInsideALineBreakMoveBeforeIt();
    void undoStepsFollowTheTyping();
    void randomEditsMatchAPlainString();
};

void TestTextBuffer::setTextMakesEveryBreakCrLf_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("held");

    QTest::addRow("empty") << QString() << QString();
    QTest::addRow("crlf kept") << u"a\r\nb\r\n"_s << u"a\r\nb\r\n"_s;
    QTest::addRow("lone lf") << u"a\nb"_s << u"a\r\nb"_s;
    QTest::addRow("lone cr") << u"a\rb"_s << u"a\r\nb"_s;
    QTest::addRow("lf cr is two breaks") << u"a\n\rb"_s << u"a\r\n\r\nb"_s;
    QTest::addRow("mixed after crlf") << u"a\r\nb\nc\rd"_s << u"a\r\nb\r\nc\r\nd"_s;
    QTest::addRow("trailing cr") << u"ab\r"_s << u"ab\r\n"_s;
    QTest::addRow("only breaks") << u"\r\n\n\r"_s << u"\r\n\r\n\r\n"_s;
    QTest::addRow("line separator kept") << u"a\u2028b\u00a0"_s << u"a\u2028b\u00a0"_s;
    // The scan for breaks goes eight characters at a time: a break at every place in and
    // across those steps.
    for (int offset = 0; offset < 20; ++offset) {
        const QString a(offset, u'a');
        const QString tail = u"bcdefghijk"_s.left(offset % 10);
        QTest::addRow("pair after %d", offset) << a + u"\r\n"_s + tail << a + u"\r\n"_s + tail;
        QTest::addRow("pairs then cr after %d", offset)
            << a + u"\r\n\r\n"_s + a + u"\r"_s + tail << a + u"\r\n\r\n"_s + a + u"\r\n"_s + tail;
        QTest::addRow("pair then lf after %d", offset)
            << a + u"\r\n"_s + a + u"\n"_s << a + u"\r\n"_s + a + u"\r\n"_s;
    }
}

void TestTextBuffer::setTextMakesEveryBreakCrLf()
{
    QFETCH(QString, given);
    QFETCH(QString, held);
    TextBuffer buffer;
    buffer.setText(given);
    QVERIFY(sameAs(buffer, held));
}

// Edges the random comparison is unlikely to reach.
void TestTextBuffer::editsKeepTheLineIndex_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("result");

    const QString three = u"one\r\ntwo\r\nthree"_s;
    QTest::addRow("insert a lone lf at the end")
        << three << 15 << 0 << u"\n"_s << u"one\r\ntwo\r\nthree\r\n"_s;
    QTest::addRow("insert lone breaks")
        << three << 5 << 0 << u"\r\na\rb\n"_s << u"one\r\n\r\na\r\nb\r\ntwo\r\nthree"_s;
    QTest::addRow("remove all") << three << 0 << 15 << QString() << QString();
    QTest::addRow("count past the end") << three << 10 << 100 << QString() << u"one\r\ntwo\r\n"_s;
    QTest::addRow("position past the end")
        << three << 99 << 0 << u"z"_s << u"one\r\ntwo\r\nthreez"_s;
    QTest::addRow("into empty") << QString() << 0 << 0 << u"a\r\n"_s << u"a\r\n"_s;
    QTest::addRow("insert inside a break") << u"ab\r\ncd"_s << 3 << 0 << u"x"_s << u"abx\r\ncd"_s;
    QTest::addRow("remove up to inside a break")
        << u"abx\r\ncd"_s << 1 << 3 << QString() << u"a\r\ncd"_s;
}

void TestTextBuffer::editsKeepTheLineIndex()
{
    QFETCH(QString, initial);
    QFETCH(int, position);
    QFETCH(int, count);
    QFETCH(QString, inserted);
    QFETCH(QString, result);

    TextBuffer buffer;
    buffer.setText(initial);
    buffer.replace(position, count, inserted);
    QVERIFY(sameAs(buffer, result));
    buffer.undo();
    QVERIFY(sameAs(buffer, initial));
    buffer.redo();
    QVERIFY(sameAs(buffer, result));
}

void TestTextBuffer::positionsInsideALineBreakMoveBeforeIt()
{
    TextBuffer buffer;
    buffer.setText(u"ab\r\ncd"_s);
    QCOMPARE(buffer.snapped(3), 2);
    QCOMPARE(buffer.snapped(4), 4);
    QCOMPARE(buffer.snapped(-5), 0);
    QCOMPARE(buffer.snapped(50), 6);
    QCOMPARE(buffer.replace(3, 0, u"x"_s), 3);
}

// Typing at the caret merges into one step; a moved caret, typing elsewhere, a program edit,
// or deleting after typing starts a new one; a group is one step.
void TestTextBuffer::undoStepsFollowTheTyping()
{
    TextBuffer buffer;
    buffer.setText(u"ab"_s);
    const auto type = [&](qsizetype position, qsizetype count, const QString &text) {
        return buffer.replace(position, count, text, TextBuffer::Merge::Typing);
    };
    qsizetype caret = 2;
    for (QChar c : u"cdef"_s)
        caret = type(caret, 0, c);
    caret = type(caret - 1, 1, {});
    type(caret - 1, 1, {});
    type(4, 0, u"g"_s);
    buffer.breakUndoMerge();
    type(5, 0, u"h"_s);
    type(0, 0, u"x"_s);
    buffer.replace(1, 0, u"y"_s);
    type(2, 0, u"z"_s);
    buffer.beginUndoGroup(); // text dragged to another place
    buffer.replace(0, 3, {});
    buffer.replace(6, 0, u"xyz"_s);
    buffer.endUndoGroup();
    QVERIFY(sameAs(buffer, u"abcdghxyz"_s));

    struct Step
    {
        QString text;
        qsizetype position;
        qsizetype length;
    };
    const Step undone[] { { u"xyzabcdgh"_s, 0, 3 }, { u"xyabcdgh"_s, 2, 0 }, { u"xabcdgh"_s, 1, 0 },
                          { u"abcdgh"_s, 0, 0 },    { u"abcdg"_s, 5, 0 },    { u"abcd"_s, 4, 0 },
                          { u"abcdef"_s, 4, 2 },    { u"ab"_s, 2, 0 } };
    for (const Step &step : undone) {
        const TextBuffer::Span span = buffer.undo();
        QVERIFY2(sameAs(buffer, step.text), qPrintable(step.text));
        QCOMPARE(span.position, step.position);
        QCOMPARE(span.length, step.length);
    }
    QVERIFY(!buffer.canUndo());
    const TextBuffer::Span span = buffer.redo();
    QCOMPARE(span.position, 2);
    QCOMPARE(span.length, 4);
    while (buffer.canRedo())
        buffer.redo();
    QVERIFY(sameAs(buffer, u"abcdghxyz"_s));
}

void TestTextBuffer::randomEditsMatchAPlainString()
{
    QRandomGenerator random(20240607);
    const QStringList pieces { u"x"_s,  u"\r\n"_s, u"\n"_s,       u"word "_s,
                               u"\r"_s, u"é"_s,    u"\r\n\r\n"_s, QString() };
    TextBuffer buffer;
    QString model = u"start\r\nof the\r\ntext"_s;
    buffer.setText(model);
    QStringList history { model };
    QStringList undone;
    for (int step = 0; step < 3000; ++step) {
        const int action = random.bounded(12);
        if (action == 0 && buffer.canUndo()) {
            buffer.undo();
            undone.append(history.takeLast());
            model = history.last();
        } else if (action == 1 && !undone.isEmpty()) {
            buffer.redo();
            model = undone.takeLast();
            history.append(model);
        } else {
            qsizetype position = buffer.snapped(random.bounded(int(model.size()) + 1));
            qsizetype end
                = buffer.snapped(position + (random.bounded(3) == 0 ? random.bounded(12) : 0));
            end = std::max(end, position);
            const QString piece = pieces.at(random.bounded(int(pieces.size())));
            const QString inserted = TextBuffer::withCrLf(piece);
            QCOMPARE(buffer.replace(position, end - position, piece,
                                    random.bounded(2) ? TextBuffer::Merge::Never
                                                      : TextBuffer::Merge::Typing),
                     position + inserted.size());
            model.replace(position, end - position, inserted);
            buffer.breakUndoMerge();
            if (end > position || !piece.isEmpty()) {
                history.append(model);
                undone.clear();
            }
        }
        QCOMPARE(buffer.canRedo(), !undone.isEmpty());
        if (step % 97 == 0 || step > 2990)
            QVERIFY2(sameAs(buffer, model), qPrintable(u"after step %1"_s.arg(step)));
        else
            QCOMPARE(buffer.length(), model.size());
    }
    while (buffer.canUndo())
        buffer.undo();
    QVERIFY(sameAs(buffer, history.first()));
}

QTEST_APPLESS_MAIN(TestTextBuffer)
#include "tst_textbuffer.moc"
