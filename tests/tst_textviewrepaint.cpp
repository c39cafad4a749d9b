// An undo that lays out only its lines, and a long line drawn glyph by glyph, draw as a view that
// drew from nothing, or drew the whole line.
#include "support/shownimage.h"
#include "textview.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QTestEventList>

#include <memory>

using namespace Qt::StringLiterals;

class TestTextViewRepaint : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void undoDrawsAsAFreshView_data();
    void undoDrawsAsAFreshView();
    void longLineDrawsAsWhole_data();
    void longLineDrawsAsWhole();
    void changedRowsOnlyDrawAsWhole_data();
    void changedRowsOnlyDrawAsWhole();

private:
    static std::unique_ptr<TextView> shownView(const QString &text, bool wrap);
    static QImage drawn(TextView &view);
};

std::unique_ptr<TextView> TestTextViewRepaint::shownView(const QString &text, bool wrap)
{
    auto view = std::make_unique<TextView>();
    view->resize(400, 200);
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get()))
        return nullptr;
    view->setContents(text);
    view->setWordWrap(wrap);
    QApplication::processEvents(); // shows the scroll bars the text needs
    return view;
}

// Without the caret, which blinks.
QImage TestTextViewRepaint::drawn(TextView &view)
{
    view.clearFocus();
    return view.viewport()->grab().toImage();
}

namespace {

// Short lines around a paragraph of many rows, so that rows above it are counted exactly.
QString paragraphText()
{
    QString text;
    for (int line = 0; line < 8; ++line)
        text += u"line %1\r\n"_s.arg(line);
    for (int word = 0; text.size() < 3200; ++word)
        text += u"word%1 "_s.arg(word);
    return text + u"\r\nafter\r\nend"_s;
}

} // namespace

void TestTextViewRepaint::undoDrawsAsAFreshView_data()
{
    QTest::addColumn<bool>("wrap");
    QTest::addColumn<qsizetype>("at");
    QTest::addColumn<QString>("typed");
    const qsizetype inParagraph = 1500; // in the paragraph's second piece
    for (const bool wrap : { false, true }) {
        const char *way = wrap ? "wrapped" : "unwrapped";
        QTest::addRow("%s, a word in a paragraph", way) << wrap << inParagraph << u"xyzzy"_s;
        QTest::addRow("%s, lines in a paragraph", way)
            << wrap << inParagraph << u"one\r\ntwo\r\nthree "_s;
        QTest::addRow("%s, lines at the top", way) << wrap << qsizetype(3) << u"a\r\nb\r\n"_s;
        // Wrapped, going to the end may count the paragraph's rows otherwise than from the top.
        if (!wrap)
            QTest::addRow("%s, a word at the end", way) << wrap << qsizetype(-1) << u" tail"_s;
    }
}

void TestTextViewRepaint::undoDrawsAsAFreshView()
{
    QFETCH(bool, wrap);
    QFETCH(qsizetype, at);
    QFETCH(QString, typed);
    const QString text = paragraphText();
    auto edited = shownView(text, wrap);
    QVERIFY(edited);
    const qsizetype position = at < 0 ? text.size() : at;
    edited->setSelection(position, position);
    QApplication::processEvents();
    edited->viewport()->repaint(); // lays out what the undo must then forget
    edited->replaceSelection(typed);
    edited->viewport()->repaint();
    edited->undo();
    QCOMPARE(edited->buffer().text(), text);

    // The same steps but the edit and its undo.
    auto fresh = shownView(text, wrap);
    QVERIFY(fresh);
    fresh->setSelection(position, position);
    QApplication::processEvents();
    fresh->viewport()->repaint();
    QCOMPARE(edited->caretPosition(), position);
    const int top = edited->verticalScrollBar()->value();
    for (TextView *view : { edited.get(), fresh.get() }) {
        // Every line laid out, so that no row is an estimate.
        view->verticalScrollBar()->setValue(0);
        view->resize(400, 1400);
        view->viewport()->repaint();
        view->resize(400, 200);
        QApplication::processEvents();
        view->horizontalScrollBar()->setValue(0);
        view->verticalScrollBar()->setValue(top);
    }
    if (!wrap) // an edit in a wrapped paragraph can leave its rows miscounted, undone or not
        QCOMPARE(edited->verticalScrollBar()->maximum(), fresh->verticalScrollBar()->maximum());
    QCOMPARE(edited->caretRect(), fresh->caretRect());
    QCOMPARE(drawn(*edited), drawn(*fresh));
}

// A long line's first piece, scrolled and selected, drawn glyph by glyph as the screen shows it,
// against the same piece with a Hebrew letter far off screen, which is drawn whole.
void TestTextViewRepaint::longLineDrawsAsWhole_data()
{
    QTest::addColumn<int>("scroll");
    QTest::addColumn<qsizetype>("selectionStart");
    QTest::addColumn<qsizetype>("selectionEnd");
    QTest::addRow("at the start") << 0 << qsizetype(0) << qsizetype(0);
    QTest::addRow("at the start, selected") << 0 << qsizetype(5) << qsizetype(30);
    QTest::addRow("scrolled, selected across the left edge")
        << 1500 << qsizetype(150) << qsizetype(240);
    QTest::addRow("scrolled, selected to the next line")
        << 1500 << qsizetype(230) << qsizetype(3100);
}

void TestTextViewRepaint::longLineDrawsAsWhole()
{
    QFETCH(int, scroll);
    QFETCH(qsizetype, selectionStart);
    QFETCH(qsizetype, selectionEnd);
    QString line;
    for (int word = 0; line.size() < 3000; ++word)
        line += (word % 7 ? u"wörd%1 "_s : u"\tfi ffl%1 "_s).arg(word);
    QString marked = line;
    marked[900] = u'\u05d0';
    const QString after = u"\r\nnext line"_s;
    auto plain = shownView(line + after, false);
    auto whole = shownView(marked + after, false);
    QVERIFY(plain && whole);
    for (TextView *view : { plain.get(), whole.get() }) {
        view->setSelection(selectionStart, selectionEnd);
        view->horizontalScrollBar()->setValue(scroll);
        view->verticalScrollBar()->setValue(0);
    }
    QCOMPARE(plain->horizontalScrollBar()->value(), scroll);
    QCOMPARE(drawn(*plain), drawn(*whole));
}

// A move or an edit repaints only the rows it changed: the window then shows what a view drawn
// from nothing shows, caret included.
void TestTextViewRepaint::changedRowsOnlyDrawAsWhole_data()
{
    QTest::addColumn<bool>("wrap");
    QTest::addColumn<qsizetype>("at");
    QTest::addColumn<QTestEventList>("steps");
    QTest::addColumn<int>("paragraphs");
    const qsizetype inParagraph = 1000; // near the edge of its first two pieces
    for (const bool wrap : { false, true }) {
        const char *way = wrap ? "wrapped" : "unwrapped";
        QTestEventList moves;
        moves.addKeyClick(Qt::Key_Right);
        moves.addKeyClick(Qt::Key_Down);
        moves.addKeyClick(Qt::Key_Down);
        moves.addKeyClick(Qt::Key_Up);
        moves.addKeyClick(Qt::Key_End);
        QTest::addRow("%s, moves", way) << wrap << inParagraph << moves << 1;
        QTestEventList selecting;
        selecting.addKeyClick(Qt::Key_Right, Qt::ShiftModifier);
        selecting.addKeyClick(Qt::Key_Down, Qt::ShiftModifier);
        selecting.addKeyClick(Qt::Key_Up, Qt::ShiftModifier);
        selecting.addKeyClick(Qt::Key_Up, Qt::ShiftModifier);
        selecting.addKeyClick(Qt::Key_Left, Qt::ShiftModifier);
        selecting.addKeyClick(Qt::Key_Right);
        QTest::addRow("%s, a selection grown, shrunk and dropped", way)
            << wrap << inParagraph << selecting << 1;
        QTestEventList typing;
        typing.addKeyClicks(u"wide words "_s);
        for (int i = 0; i < 30; ++i)
            typing.addKeyClick(Qt::Key_Backspace);
        QTest::addRow("%s, typed and rubbed out across a piece's edge", way)
            << wrap << qsizetype(1030) << typing << 1;
        QTestEventList rowsMore;
        rowsMore.addKeyClicks(QString(70, u'm'));
        rowsMore.addKeyClick(Qt::Key_Backspace, Qt::ControlModifier);
        QTest::addRow("%s, a row's worth typed and rubbed out", way)
            << wrap << inParagraph << rowsMore << 1;
        QTestEventList joined;
        joined.addKeyClick(Qt::Key_Down);
        joined.addKeyClick(Qt::Key_Home);
        joined.addKeyClick(Qt::Key_Backspace); // joins two words, which move down
        joined.addKeyClick(Qt::Key_Space);
        QTest::addRow("%s, words joined at a row's start and parted", way)
            << wrap << qsizetype(600) << joined << 1;
        QTestEventList undoElsewhere;
        undoElsewhere.addKeyClick(Qt::Key_Down);
        undoElsewhere.addKeyClick(Qt::Key_End);
        undoElsewhere.addKeyClick(Qt::Key_Left);
        undoElsewhere.addKeyClicks(u"xyzxyz"_s); // the row's last word grows and moves down
        undoElsewhere.addKeyClick(Qt::Key_Down);
        undoElsewhere.addKeyClick(Qt::Key_Down);
        undoElsewhere.addKeyClick(Qt::Key_Z, Qt::ControlModifier);
        undoElsewhere.addKeyClick(Qt::Key_Z, Qt::ShiftModifier | Qt::ControlModifier);
        QTest::addRow("%s, undo and redo away from the caret", way)
            << wrap << qsizetype(600) << undoElsewhere << 1;
        QTestEventList pages; // from the picture of the screen below, drawn ahead
        for (const Qt::Key key : { Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageUp,
                                   Qt::Key_PageDown, Qt::Key_PageDown })
            pages.addKeyClick(key);
        QTest::addRow("%s, pages turned", way) << wrap << qsizetype(0) << pages << 12;
        QTestEventList lines;
        lines.addKeyClick(Qt::Key_Down, Qt::ShiftModifier);
        lines.addKeyClick(Qt::Key_Return);
        lines.addKeyClick(Qt::Key_Backspace);
        QTest::addRow("%s, a selection replaced by a line break, then joined", way)
            << wrap << qsizetype(20) << lines << 1;
    }
}

void TestTextViewRepaint::changedRowsOnlyDrawAsWhole()
{
    QFETCH(bool, wrap);
    QFETCH(qsizetype, at);
    QFETCH(QTestEventList, steps);
    QFETCH(int, paragraphs);
    QApplication::setCursorFlashTime(0); // the caret stays drawn
    auto view = shownView(paragraphText().repeated(paragraphs), wrap);
    QVERIFY(view);
    view->resize(400, 560); // the paragraph's first two pieces and the lines above it
    view->activateWindow();
    view->setFocus();
    QVERIFY(QTest::qWaitForWindowActive(view.get()));
    view->setSelection(at, at);
    QApplication::processEvents();
    view->viewport()->repaint();
    QCOMPARE(shownImage(view->viewport()), drawnWholeImage(view->viewport()));
    for (QTestEvent *step : steps) {
        step->simulate(view.get());
        const QImage shown = shownImage(view->viewport());
        QCOMPARE(shown, drawnWholeImage(view->viewport()));
        QApplication::processEvents(); // the screen below is drawn ahead
    }
}

QTEST_MAIN(TestTextViewRepaint)
#include "tst_textviewrepaint.moc"
