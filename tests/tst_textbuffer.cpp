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
    void undoStepsFollowTheTyping();
    void randomEditsMatchAPlainString();
};

void TestTextBuffer::setTextMakesEveryBreakCrLf_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("held");

    QTest::addRow("empty") << QString() << QString();
    QTest::addRow("lf cr is two breaks") << u"a\n\rb"_s << u"a\r\n\r\nb"_s;
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

    // The text after each undo, and where the undo put text back.
    const std::tuple<QString, qsizetype, qsizetype> undone[] {
        { u"xyzabcdgh"_s, 0, 3 }, { u"xyabcdgh"_s, 2, 0 }, { u"xabcdgh"_s, 1, 0 },
        { u"abcdgh"_s, 0, 0 },    { u"abcdg"_s, 5, 0 },    { u"abcd"_s, 4, 0 },
        { u"abcdef"_s, 4, 2 },    { u"ab"_s, 2, 0 }
    };
    for (const auto &[text, position, length] : undone) {
        const TextBuffer::Span span = buffer.undo();
        QVERIFY2(sameAs(buffer, text), qPrintable(text));
        QCOMPARE(span.position, position);
        QCOMPARE(span.length, length);
    }
    QVERIFY(!buffer.canUndo());
    const TextBuffer::Span span = buffer.redo();
    QCOMPARE(span.position, 2);
    QCOMPARE(span.length, 4);
    while (buffer.canRedo())
        buffer.redo();
    QVERIFY(sameAs(buffer, u"abcdghxyz"_s));
}

// Edits anywhere, also inside a line break and past the end, with breaks in every form, undone
// and redone at random.
void TestTextBuffer::randomEditsMatchAPlainString()
{
    // As given, and as held.
    const std::pair<QString, QString> pieces[] {
        { u"x"_s, u"x"_s },           { u"\r\n"_s, u"\r\n"_s },         { u"\n"_s, u"\r\n"_s },
        { u"\r"_s, u"\r\n"_s },       { u"word "_s, u"word "_s },       { u"é"_s, u"é"_s },
        { u"\n\r"_s, u"\r\n\r\n"_s }, { u"a\rb\n"_s, u"a\r\nb\r\n"_s }, {}
    };
    QRandomGenerator random(20240607);
    TextBuffer buffer;
    QString model;
    QStringList history { model };
    QStringList undone;
    // Clamped to the text and moved out of a CR LF pair.
    const auto snap = [&](qsizetype position) {
        position = std::clamp<qsizetype>(position, 0, model.size());
        return position - (position < model.size() && model.at(position) == u'\n');
    };
    for (int step = 0; step < 3000; ++step) {
        const int action = random.bounded(120);
        if (action < 10 && buffer.canUndo()) {
            buffer.undo();
            undone.append(history.takeLast());
            model = history.last();
        } else if (action < 20 && !undone.isEmpty()) {
            buffer.redo();
            model = undone.takeLast();
            history.append(model);
        } else {
            const qsizetype position = random.bounded(int(model.size()) + 6) - 2;
            const qsizetype count = action == 20 ? model.size() + 1
                : random.bounded(3) == 0         ? random.bounded(12) - 1
                                                 : 0;
            const auto &[given, held] = pieces[random.bounded(int(std::size(pieces)))];
            const qsizetype start = snap(position);
            const qsizetype end = std::max(start, snap(start + std::max<qsizetype>(count, 0)));
            QCOMPARE(buffer.snapped(position), start);
            QCOMPARE(buffer.replace(position, count, given,
                                    random.bounded(2) ? TextBuffer::Merge::Never
                                                      : TextBuffer::Merge::Typing),
                     start + held.size());
            buffer.breakUndoMerge();
            if (end > start || !held.isEmpty()) {
                model.replace(start, end - start, held);
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
    buffer.redo();
    buffer.setText(model); // forgets the history
    QVERIFY(!buffer.canUndo() && !buffer.canRedo());
}

QTEST_APPLESS_MAIN(TestTextBuffer)
#include "tst_textbuffer.moc"
