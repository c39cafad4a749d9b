// The text box's buffer: CR LF text, the line index kept through edits, undo and redo.
#include "textbuffer.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The line starts a plain scan of the text finds.
QList<qsizetype> expectedLineStarts(const QString &text)
{
    QList<qsizetype> starts { 0 };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'\n')
            starts.append(i + 1);
    }
    return starts;
}

QList<qsizetype> lineStarts(const TextBuffer &buffer)
{
    QList<qsizetype> starts;
    for (qsizetype line = 0; line < buffer.lineCount(); ++line)
        starts.append(buffer.lineStart(line));
    return starts;
}

// Compares every view of the buffer with the plain text it should hold.
void compareWith(const TextBuffer &buffer, const QString &expected)
{
    QCOMPARE(buffer.length(), expected.size());
    QCOMPARE(buffer.text(), expected);
    const QList<qsizetype> starts = expectedLineStarts(expected);
    QCOMPARE(lineStarts(buffer), starts);
    for (qsizetype line = 0; line < starts.size(); ++line) {
        const qsizetype end = line + 1 < starts.size() ? starts[line + 1] - 2 : expected.size();
        QCOMPARE(buffer.lineLength(line), end - starts[line]);
        QCOMPARE(buffer.lineAt(starts[line]), line);
        QCOMPARE(buffer.lineAt(end), line);
        QVERIFY(buffer.longestLine() >= end - starts[line]);
    }
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
    void breaksAreFoundAtEveryOffset();
    void editsKeepTheLineIndex_data();
    void editsKeepTheLineIndex();
    void positionsInsideALineBreakMoveBeforeIt();
    void midAcrossTheGap();
    void typingUndoesAsOneStep();
    void undoStepsBreakWhereTheyShould();
    void groupedEditsUndoTogether();
    void redoIsDroppedByANewEdit();
    void setTextForgetsTheHistory();
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
}

void TestTextBuffer::setTextMakesEveryBreakCrLf()
{
    QFETCH(QString, given);
    QFETCH(QString, held);
    TextBuffer buffer;
    buffer.setText(given);
    QVERIFY(sameAs(buffer, held));
}

void TestTextBuffer::breaksAreFoundAtEveryOffset()
{
    // The scan for line breaks goes eight characters at a time: try a break at every place in
    // and across those steps, as a pair and alone.
    for (int offset = 0; offset < 20; ++offset) {
        const QString head(offset, u'a');
        const QString tail = u"bcdefghijk"_s.left(offset % 10);
        TextBuffer buffer;
        buffer.setText(head + u"\r\n"_s + tail);
        QVERIFY2(sameAs(buffer, head + u"\r\n"_s + tail), qPrintable(QString::number(offset)));
        buffer.setText(head + u"\r\n\r\n"_s + head + u"\r"_s + tail);
        QVERIFY2(sameAs(buffer, head + u"\r\n\r\n"_s + head + u"\r\n"_s + tail),
                 qPrintable(QString::number(offset)));
        buffer.setText(head + u"\r\n"_s + head + u"\n"_s);
        QVERIFY2(sameAs(buffer, head + u"\r\n"_s + head + u"\r\n"_s),
                 qPrintable(QString::number(offset)));
    }
}

void TestTextBuffer::editsKeepTheLineIndex_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("result");

    const QString three = u"one\r\ntwo\r\nthree"_s;
    QTest::addRow("insert at start") << three << 0 << 0 << u"x"_s << u"xone\r\ntwo\r\nthree"_s;
    QTest::addRow("insert at end") << three << 15 << 0 << u"!"_s << u"one\r\ntwo\r\nthree!"_s;
    QTest::addRow("insert break at end")
        << three << 15 << 0 << u"\n"_s << u"one\r\ntwo\r\nthree\r\n"_s;
    QTest::addRow("insert lines in middle")
        << three << 5 << 0 << u"\r\na\rb"_s << u"one\r\n\r\na\r\nbtwo\r\nthree"_s;
    QTest::addRow("remove a break") << three << 3 << 2 << QString() << u"onetwo\r\nthree"_s;
    QTest::addRow("remove all") << three << 0 << 15 << QString() << QString();
    QTest::addRow("replace across lines")
        << three << 1 << 8 << u"N\r\nO"_s << u"oN\r\nO\r\nthree"_s;
    QTest::addRow("count past the end") << three << 10 << 100 << QString() << u"one\r\ntwo\r\n"_s;
    QTest::addRow("position past the end")
        << three << 99 << 0 << u"z"_s << u"one\r\ntwo\r\nthreez"_s;
    QTest::addRow("into empty") << QString() << 0 << 0 << u"a\r\n"_s << u"a\r\n"_s;
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
    // Inserting between CR and LF would split the pair.
    QCOMPARE(buffer.replace(3, 0, u"x"_s), 3);
    QVERIFY(sameAs(buffer, u"abx\r\ncd"_s));
    // A removal that ends inside the pair leaves the pair whole.
    buffer.replace(1, 3, QString());
    QVERIFY(sameAs(buffer, u"a\r\ncd"_s));
}

void TestTextBuffer::midAcrossTheGap()
{
    TextBuffer buffer;
    buffer.setText(u"0123456789"_s);
    buffer.replace(5, 0, u"-"_s); // the gap now sits after the dash
    QCOMPARE(buffer.mid(3, 5), u"34-56"_s);
    QCOMPARE(buffer.mid(0, 6), u"01234-"_s);
    QCOMPARE(buffer.mid(6, 20), u"56789"_s);
    QCOMPARE(buffer.at(5), QChar(u'-'));
    QCOMPARE(buffer.at(6), QChar(u'5'));
    QCOMPARE(buffer.lineText(0), u"01234-56789"_s);
}

void TestTextBuffer::typingUndoesAsOneStep()
{
    TextBuffer buffer;
    buffer.setText(u"ab"_s);
    qsizetype caret = 2;
    for (QChar c : u"cdef"_s)
        caret = buffer.replace(caret, 0, QString(c), TextBuffer::Merge::Typing);
    // Backspaces merge with each other, not with the typing before them.
    caret = buffer.replace(caret - 1, 1, QString(), TextBuffer::Merge::Typing);
    buffer.replace(caret - 1, 1, QString(), TextBuffer::Merge::Typing);
    QVERIFY(sameAs(buffer, u"abcd"_s));

    TextBuffer::Span span = buffer.undo();
    QVERIFY(sameAs(buffer, u"abcdef"_s));
    QCOMPARE(span.position, 4);
    QCOMPARE(span.length, 2);
    span = buffer.undo();
    QVERIFY(sameAs(buffer, u"ab"_s));
    QCOMPARE(span.position, 2);
    QCOMPARE(span.length, 0);
    QVERIFY(!buffer.canUndo());
    span = buffer.redo();
    QVERIFY(sameAs(buffer, u"abcdef"_s));
    QCOMPARE(span.position, 2);
    QCOMPARE(span.length, 4);
}

void TestTextBuffer::undoStepsBreakWhereTheyShould()
{
    TextBuffer buffer;
    buffer.setText(QString());
    buffer.replace(0, 0, u"a"_s, TextBuffer::Merge::Typing);
    buffer.replace(1, 0, u"b"_s, TextBuffer::Merge::Typing);
    buffer.breakUndoMerge(); // the caret was moved
    buffer.replace(2, 0, u"c"_s, TextBuffer::Merge::Typing);
    buffer.replace(0, 0, u"x"_s, TextBuffer::Merge::Typing); // not where typing left off
    buffer.replace(4, 0, u"d"_s); // a program edit never merges
    buffer.replace(5, 0, u"e"_s, TextBuffer::Merge::Typing);

    const QStringList states { u"xabcd"_s, u"xabc"_s, u"abc"_s, u"ab"_s, QString() };
    for (const QString &state : states) {
        buffer.undo();
        QVERIFY2(sameAs(buffer, state), qPrintable(state));
    }
    QVERIFY(!buffer.canUndo());
}

void TestTextBuffer::groupedEditsUndoTogether()
{
    TextBuffer buffer;
    buffer.setText(u"move me\r\nhere:"_s);
    // A text dragged to another place: removed and inserted in one step.
    buffer.beginUndoGroup();
    buffer.replace(0, 5, QString());
    buffer.replace(9, 0, u"move "_s);
    buffer.endUndoGroup();
    QVERIFY(sameAs(buffer, u"me\r\nhere:move "_s));
    buffer.undo();
    QVERIFY(sameAs(buffer, u"move me\r\nhere:"_s));
    QVERIFY(!buffer.canUndo());
    buffer.redo();
    QVERIFY(sameAs(buffer, u"me\r\nhere:move "_s));
}

void TestTextBuffer::redoIsDroppedByANewEdit()
{
    TextBuffer buffer;
    buffer.setText(u"a"_s);
    buffer.replace(1, 0, u"b"_s);
    buffer.undo();
    QVERIFY(buffer.canRedo());
    buffer.replace(0, 0, u"c"_s);
    QVERIFY(!buffer.canRedo());
    buffer.redo();
    QVERIFY(sameAs(buffer, u"ca"_s));
}

void TestTextBuffer::setTextForgetsTheHistory()
{
    TextBuffer buffer;
    buffer.replace(0, 0, u"typed"_s);
    buffer.setText(u"loaded"_s);
    QVERIFY(!buffer.canUndo());
    buffer.undo();
    QVERIFY(sameAs(buffer, u"loaded"_s));
}

void TestTextBuffer::randomEditsMatchAPlainString()
{
    QRandomGenerator random(20240607);
    const QStringList pieces { u"x"_s,  u"\r\n"_s, u"\n"_s,       u"word "_s,
                               u"\r"_s, u"é"_s,    u"\r\n\r\n"_s, QString() };
    TextBuffer buffer;
    QString model = u"start\r\nof the\r\ntext"_s;
    buffer.setText(model);
    QList<QString> history { model };
    for (int step = 0; step < 3000; ++step) {
        const int action = random.bounded(10);
        if (action == 0 && buffer.canUndo()) {
            buffer.undo();
            history.removeLast();
            model = history.last();
        } else {
            qsizetype position = buffer.snapped(random.bounded(int(model.size()) + 1));
            qsizetype end
                = buffer.snapped(position + (random.bounded(3) == 0 ? random.bounded(12) : 0));
            end = std::max(end, position);
            const QString piece = pieces.at(random.bounded(int(pieces.size())));
            buffer.replace(position, end - position, piece,
                           random.bounded(2) ? TextBuffer::Merge::Never
                                             : TextBuffer::Merge::Typing);
            model.replace(position, end - position, TextBuffer::withCrLf(piece));
            buffer.breakUndoMerge();
            if (end > position || !piece.isEmpty())
                history.append(model);
        }
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
