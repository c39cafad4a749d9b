// The text box's own behaviours: keys, mouse, undo, context menu, drops, input methods and
// accessibility, on the real widget under the offscreen platform.
#include "editorfixture.h"
#include "textview.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Shown
{
    Shown()
    {
        view.resize(400, 200);
        view.show();
        view.setFocus();
    }
    bool exposed() { return QTest::qWaitForWindowExposed(&view); }
    QWidget *viewport() { return view.viewport(); }
    QPoint pointOf(qsizetype position) { return view.characterRect(position).center(); }

    TextView view;
};

void sendMouse(QWidget *target, QEvent::Type type, const QPoint &point, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, point, target->mapToGlobal(point), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

QString numberedLines(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append(u"line %1"_s.arg(i));
    return lines.join(u"\r\n"_s);
}

} // namespace

class TestTextView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keysMoveTheCaret_data();
    void keysMoveTheCaret();
    void keysEditTheText_data();
    void keysEditTheText();
    void pageKeysMoveByAScreen();
    void doubleClickSelectsAWordAndTripleALine();
    void dragSelectsAndScrolls();
    void clickInLongLinesFindsTheCharacter_data();
    void clickInLongLinesFindsTheCharacter();
    void typingAtTheEndOfALongLineScrollsAlong();
    void editsAcrossLinesLayTheLinesOutAgain();
    void undoAndRedoAreUserEdits();
    void contextMenuActions_data();
    void contextMenuActions();
    void dropInsertsText();
    void inputMethodPreeditAndCommit();
    void accessibleText();
};

void TestTextView::keysMoveTheCaret_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("newAnchor");
    QTest::addColumn<int>("newCaret");

    using K = QKeySequence;
    const QString two = u"ab\r\ncd"_s;
    QTest::addRow("right over a line break") << two << 2 << 2 << K(Qt::Key_Right) << 4 << 4;
    QTest::addRow("left over a line break") << two << 4 << 4 << K(Qt::Key_Left) << 2 << 2;
    QTest::addRow("left at the start stays") << two << 0 << 0 << K(Qt::Key_Left) << 0 << 0;
    QTest::addRow("right over a surrogate pair")
        << u"a😀b"_s << 1 << 1 << K(Qt::Key_Right) << 3 << 3;
    QTest::addRow("right over a combining mark")
        << u"e\u0301x"_s << 0 << 0 << K(Qt::Key_Right) << 2 << 2;
    QTest::addRow("left collapses a selection") << two << 1 << 5 << K(Qt::Key_Left) << 1 << 1;
    QTest::addRow("shift right extends") << two << 1 << 1 << K(Qt::SHIFT | Qt::Key_Right) << 1 << 2;
    QTest::addRow("down keeps the column")
        << u"abcd\r\nx\r\nabcd"_s << 3 << 3 << K(Qt::Key_Down, Qt::Key_Down) << 12 << 12;
    QTest::addRow("up on the first line goes to its start")
        << two << 1 << 1 << K(Qt::Key_Up) << 0 << 0;
    QTest::addRow("down on the last line goes to its end")
        << two << 4 << 4 << K(Qt::Key_Down) << 6 << 6;
    QTest::addRow("home") << two << 5 << 5 << K(Qt::Key_Home) << 4 << 4;
    QTest::addRow("end") << two << 4 << 4 << K(Qt::Key_End) << 6 << 6;
    QTest::addRow("shift end selects to the line end")
        << two << 0 << 0 << K(Qt::SHIFT | Qt::Key_End) << 0 << 2;
    QTest::addRow("ctrl end") << two << 0 << 0 << K(Qt::CTRL | Qt::Key_End) << 6 << 6;
    QTest::addRow("ctrl home") << two << 5 << 5 << K(Qt::CTRL | Qt::Key_Home) << 0 << 0;
    QTest::addRow("ctrl shift home selects to the start")
        << two << 5 << 5 << K(Qt::CTRL | Qt::SHIFT | Qt::Key_Home) << 5 << 0;
    const QString words = u"one two, three"_s;
    QTest::addRow("ctrl right to the next word")
        << words << 0 << 0 << K(Qt::CTRL | Qt::Key_Right) << 4 << 4;
    QTest::addRow("ctrl right stops at punctuation")
        << words << 4 << 4 << K(Qt::CTRL | Qt::Key_Right) << 7 << 7;
    QTest::addRow("ctrl left to the word start")
        << words << 11 << 11 << K(Qt::CTRL | Qt::Key_Left) << 9 << 9;
    QTest::addRow("ctrl left over the line break")
        << two << 4 << 4 << K(Qt::CTRL | Qt::Key_Left) << 2 << 2;
}

void TestTextView::keysMoveTheCaret()
{
    QFETCH(QString, text);
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(QKeySequence, keys);
    QFETCH(int, newAnchor);
    QFETCH(int, newCaret);

    Shown s;
    QVERIFY(s.exposed());
    s.view.setContents(text);
    s.view.setSelection(anchor, caret);
    for (int i = 0; i < keys.count(); ++i)
        QTest::keyClick(&s.view, keys[i].key(), keys[i].keyboardModifiers());
    QCOMPARE(s.view.anchorPosition(), newAnchor);
    QCOMPARE(s.view.caretPosition(), newCaret);
    QCOMPARE(s.view.buffer().text(), text);
}

void TestTextView::keysEditTheText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("newCaret");

    using K = QKeySequence;
    const QString two = u"ab\r\ncd"_s;
    QTest::addRow("backspace joins lines")
        << two << 4 << 4 << K(Qt::Key_Backspace) << u"abcd"_s << 2;
    QTest::addRow("delete joins lines") << two << 2 << 2 << K(Qt::Key_Delete) << u"abcd"_s << 2;
    QTest::addRow("backspace takes a whole surrogate pair")
        << u"a😀"_s << 3 << 3 << K(Qt::Key_Backspace) << u"a"_s << 1;
    QTest::addRow("enter breaks the line")
        << two << 1 << 1 << K(Qt::Key_Return) << u"a\r\nb\r\ncd"_s << 3;
    QTest::addRow("tab is a character") << two << 0 << 0 << K(Qt::Key_Tab) << u"\tab\r\ncd"_s << 1;
    QTest::addRow("typing replaces the selection")
        << two << 1 << 5 << K(Qt::Key_X) << u"axd"_s << 2;
    QTest::addRow("ctrl backspace removes a word")
        << u"one two"_s << 7 << 7 << K(Qt::CTRL | Qt::Key_Backspace) << u"one "_s << 4;
    QTest::addRow("escape changes nothing") << two << 1 << 1 << K(Qt::Key_Escape) << two << 1;
}

void TestTextView::keysEditTheText()
{
    QFETCH(QString, text);
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(QKeySequence, keys);
    QFETCH(QString, result);
    QFETCH(int, newCaret);

    Shown s;
    QVERIFY(s.exposed());
    s.view.setContents(text);
    s.view.setSelection(anchor, caret);
    for (int i = 0; i < keys.count(); ++i)
        QTest::keyClick(&s.view, keys[i].key(), keys[i].keyboardModifiers());
    QCOMPARE(s.view.buffer().text(), result);
    QCOMPARE(s.view.caretPosition(), newCaret);
    QVERIFY(s.view.hasFocus());
}

void TestTextView::pageKeysMoveByAScreen()
{
    Shown s;
    QVERIFY(s.exposed());
    s.view.setContents(numberedLines(500));
    const TextBuffer &buffer = s.view.buffer();
    QTest::keyClick(&s.view, Qt::Key_PageDown);
    const qsizetype pageLine = buffer.lineAt(s.view.caretPosition());
    QVERIFY(pageLine > 3);
    QCOMPARE(s.view.verticalScrollBar()->value(), pageLine);
    QTest::keyClick(&s.view, Qt::Key_PageDown, Qt::ShiftModifier);
    QCOMPARE(buffer.lineAt(s.view.caretPosition()), 2 * pageLine);
    QCOMPARE(s.view.anchorPosition(), buffer.lineStart(pageLine));
    QTest::keyClick(&s.view, Qt::Key_PageUp);
    QCOMPARE(buffer.lineAt(s.view.caretPosition()), pageLine);
    QTest::keyClick(&s.view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(s.view.caretPosition(), buffer.length());
    // The last line is on screen.
    QVERIFY(s.view.caretRect().bottom() <= s.viewport()->height());
    QVERIFY(s.view.caretRect().top() >= 0);
}

void TestTextView::doubleClickSelectsAWordAndTripleALine()
{
    Shown s;
    QVERIFY(s.exposed());
    s.view.setContents(u"alpha beta, gamma\r\nnext"_s);
    QTest::mouseDClick(s.viewport(), Qt::LeftButton, {}, s.pointOf(8));
    QCOMPARE(s.view.selectedText(), u"beta"_s);
    // A third click right after takes the whole line with its break.
    QTest::mouseClick(s.viewport(), Qt::LeftButton, {}, s.pointOf(8));
    QCOMPARE(s.view.selectedText(), u"alpha beta, gamma\r\n"_s);
    // At the end of a line the word before it is taken.
    QTest::mouseDClick(s.viewport(), Qt::LeftButton, {}, s.pointOf(17) + QPoint(30, 0));
    QCOMPARE(s.view.selectedText(), u"gamma"_s);
}

void TestTextView::dragSelectsAndScrolls()
{
    Shown s;
    QVERIFY(s.exposed());
    s.view.setContents(numberedLines(300));
    QWidget *viewport = s.viewport();
    const QPoint start = s.pointOf(2);
    sendMouse(viewport, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    sendMouse(viewport, QEvent::MouseMove, s.pointOf(s.view.buffer().lineStart(3) + 3),
              Qt::NoButton, Qt::LeftButton);
    QCOMPARE(s.view.anchorPosition(), 2);
    QCOMPARE(s.view.caretPosition(), s.view.buffer().lineStart(3) + 3);

    // Held below the text, the selection goes on growing as the view scrolls.
    sendMouse(viewport, QEvent::MouseMove, QPoint(start.x(), viewport->height() + 40), Qt::NoButton,
              Qt::LeftButton);
    QTRY_VERIFY(s.view.verticalScrollBar()->value() > 20);
    sendMouse(viewport, QEvent::MouseButtonRelease, QPoint(start.x(), viewport->height() + 40),
              Qt::LeftButton, Qt::NoButton);
    const int scrolled = s.view.verticalScrollBar()->value();
    QCOMPARE(s.view.anchorPosition(), 2);
    QVERIFY(s.view.buffer().lineAt(s.view.caretPosition()) >= scrolled);
    QTest::qWait(0);
    QCOMPARE(s.view.verticalScrollBar()->value(), scrolled); // stopped with the release
}

void TestTextView::clickInLongLinesFindsTheCharacter_data()
{
    QTest::addColumn<int>("column");
    QTest::addRow("first") << 0;
    QTest::addRow("before a chunk edge") << 1023;
    QTest::addRow("on a chunk edge") << 1024;
    QTest::addRow("after a chunk edge") << 1025;
    QTest::addRow("far along") << 40000;
    QTest::addRow("last") << 99999;
}

void TestTextView::clickInLongLinesFindsTheCharacter()
{
    QFETCH(int, column);
    Shown s;
    QVERIFY(s.exposed());
    QString line;
    for (int i = 0; i < 100000; ++i)
        line += QChar(u'a' + (i * 7) % 26);
    s.view.setContents(u"short\r\n"_s + line);
    const qsizetype position = 7 + column;
    s.view.setSelection(position, position);
    const QRect caret = s.view.caretRect();
    QVERIFY(s.viewport()->rect().contains(caret.center()));
    QTest::mouseClick(s.viewport(), Qt::LeftButton, {}, s.pointOf(position) - QPoint(1, 0));
    QCOMPARE(s.view.caretPosition(), position);
}

void TestTextView::typingAtTheEndOfALongLineScrollsAlong()
{
    Shown s;
    QVERIFY(s.exposed());
    s.view.setContents(QString(200000, u'x'));
    s.view.setSelection(200000, 200000);
    QTest::keyClicks(&s.view, u"end"_s);
    QCOMPARE(s.view.buffer().length(), 200003);
    QCOMPARE(s.view.buffer().mid(199999, 4), u"xend"_s);
    QVERIFY(s.view.horizontalScrollBar()->value() > 0);
    QVERIFY(s.viewport()->rect().contains(s.view.caretRect().center()));
}

void TestTextView::editsAcrossLinesLayTheLinesOutAgain()
{
    Shown s;
    QVERIFY(s.exposed());
    s.view.setContents(u"a\r\nb\r\nc"_s);
    QVERIFY(s.view.characterRect(4).left() > s.view.characterRect(3).left()); // laid out once
    // The same number of lines, each of them changed.
    s.view.setSelection(0, 4);
    s.view.replaceSelection(u"wwww\r\nwwww"_s);
    QCOMPARE(s.view.buffer().text(), u"wwww\r\nwwww\r\nc"_s);
    QVERIFY(s.view.characterRect(10).left() > s.view.characterRect(7).left() + 5);
    s.view.undo();
    s.view.characterRect(4);
    s.view.redo();
    QVERIFY(s.view.characterRect(10).left() > s.view.characterRect(7).left() + 5);
}

void TestTextView::undoAndRedoAreUserEdits()
{
    EditorFixture f;
    FormDesign design = f.form.design();
    int userEdits = 0;
    const auto original = design.textBox.userEdit;
    design.textBox.userEdit = [&] {
        ++userEdits;
        original();
    };
    f.start(design);
    QtTextArea &text = f.text();
    text.setText(u"start"_s);
    text.setSelStart(5);
    QCOMPARE(userEdits, 0);

    QTest::keyClicks(&text, u" typed"_s);
    const int afterTyping = userEdits;
    QVERIFY(afterTyping > 0);
    // The typing goes back in one step.
    QTest::keyClick(&text, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(text.text(), u"start"_s);
    QCOMPARE(userEdits, afterTyping + 1);
    QTest::keyClick(&text, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(text.text(), u"start typed"_s);
    QTest::keyClick(&text, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(&text, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(text.text(), u"start typed"_s);
    QCOMPARE(userEdits, afterTyping + 4);

    // Program changes are undone too, but are not user edits themselves.
    text.setSelText(u"!"_s);
    QCOMPARE(userEdits, afterTyping + 4);
    text.setText(u"fresh"_s);
    QTest::keyClick(&text, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(text.text(), u"fresh"_s); // a new text has no history
}

void TestTextView::contextMenuActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("userEdit");

    // "hello world" with "world" selected and "X" on the clipboard.
    QTest::addRow("cut") << u"cut"_s << u"hello "_s << u"world"_s << QString() << true;
    QTest::addRow("copy") << u"copy"_s << u"hello world"_s << u"world"_s << u"world"_s << false;
    QTest::addRow("paste") << u"paste"_s << u"hello X"_s << u"X"_s << QString() << true;
    QTest::addRow("delete") << u"delete"_s << u"hello "_s << u"X"_s << QString() << true;
    QTest::addRow("select all") << u"selectAll"_s << u"hello world"_s << u"X"_s << u"hello world"_s
                                << false;
    QTest::addRow("undo") << u"undo"_s << u"hello world!"_s << u"X"_s << QString() << true;
}

void TestTextView::contextMenuActions()
{
    QFETCH(QString, action);
    QFETCH(QString, result);
    QFETCH(QString, clipboard);
    QFETCH(QString, selected);
    QFETCH(bool, userEdit);

    EditorFixture f;
    FormDesign design = f.form.design();
    int userEdits = 0;
    design.textBox.userEdit = [&] { ++userEdits; };
    f.start(design);
    QtTextArea &text = f.text();
    text.setText(u"hello world!"_s);
    text.setSelStart(12);
    QTest::keyClick(&text, Qt::Key_Backspace); // something to undo
    userEdits = 0;
    text.setSelStart(6);
    text.setSelLength(5);
    QGuiApplication::clipboard()->setText(u"X"_s);

    QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(10, 10),
                              text.viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(text.viewport(), &request);
    auto *menu = text.findChild<QMenu *>(u"textContextMenu"_s);
    QVERIFY(menu);
    auto *item = menu->findChild<QAction *>(action);
    QVERIFY(item);
    QVERIFY(item->isEnabled());
    item->trigger();
    menu->close();

    QCOMPARE(text.text(), result);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    QCOMPARE(text.selText(), selected);
    QCOMPARE(userEdits > 0, userEdit);
}

void TestTextView::dropInsertsText()
{
    Shown s;
    QVERIFY(s.exposed());
    int edits = 0;
    connect(&s.view, &TextView::edited, &s.view, [&] { ++edits; });
    s.view.setContents(u"one\r\ntwo"_s);
    edits = 0;
    QMimeData data;
    data.setText(u"A\nB"_s);
    const QPoint at = s.pointOf(6) - QPoint(1, 0);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(s.view.buffer().text(), u"one\r\ntA\r\nBwo"_s);
    QCOMPARE(s.view.selectedText(), u"A\r\nB"_s);
    QCOMPARE(edits, 1);

    QMimeData image;
    image.setData(u"image/png"_s, QByteArray("\x89PNG"));
    QDragEnterEvent refused(at, Qt::CopyAction, &image, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.viewport(), &refused);
    QVERIFY(!refused.isAccepted());
}

void TestTextView::inputMethodPreeditAndCommit()
{
    Shown s;
    QVERIFY(s.exposed());
    s.view.setContents(u"ab\r\ncd"_s);
    s.view.setSelection(1, 1);
    QCOMPARE(s.view.inputMethodQuery(Qt::ImSurroundingText).toString(), u"ab"_s);
    QCOMPARE(s.view.inputMethodQuery(Qt::ImCursorPosition).toInt(), 1);
    QVERIFY(s.view.inputMethodQuery(Qt::ImEnabled).toBool());

    QInputMethodEvent composing(u"ka"_s, {});
    QApplication::sendEvent(&s.view, &composing);
    QCOMPARE(s.view.buffer().text(), u"ab\r\ncd"_s); // not text until committed

    QInputMethodEvent commit;
    commit.setCommitString(u"か"_s);
    QApplication::sendEvent(&s.view, &commit);
    QCOMPARE(s.view.buffer().text(), u"aかb\r\ncd"_s);
    QCOMPARE(s.view.caretPosition(), 2);

    // A commit may replace text before the caret, as a correction.
    QInputMethodEvent correction;
    correction.setCommitString(u"カ"_s, -1, 1);
    QApplication::sendEvent(&s.view, &correction);
    QCOMPARE(s.view.buffer().text(), u"aカb\r\ncd"_s);
}

void TestTextView::accessibleText()
{
    Shown s;
    QVERIFY(s.exposed());
    s.view.setContents(u"first line\r\nsecond"_s);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&s.view);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QVERIFY(accessible->state().multiLine);
    QAccessibleTextInterface *text = accessible->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), 18);
    QCOMPARE(text->text(0, 18), u"first line\r\nsecond"_s);
    QCOMPARE(accessible->text(QAccessible::Value), u"first line\r\nsecond"_s);

    int start = 0;
    int end = 0;
    QCOMPARE(text->textAtOffset(14, QAccessible::LineBoundary, &start, &end), u"second"_s);
    QCOMPARE(start, 12);
    QCOMPARE(text->textAtOffset(7, QAccessible::WordBoundary, &start, &end), u"line"_s);
    QCOMPARE(text->textBeforeOffset(14, QAccessible::LineBoundary, &start, &end),
             u"first line\r\n"_s);

    text->setSelection(0, 6, 10);
    QCOMPARE(s.view.selectedText(), u"line"_s);
    QCOMPARE(text->selectionCount(), 1);
    text->setCursorPosition(12);
    QCOMPARE(text->cursorPosition(), 12);
    QCOMPARE(text->selectionCount(), 0);
    QCOMPARE(text->offsetAtPoint(s.viewport()->mapToGlobal(s.pointOf(3))), 3);
}

QTEST_MAIN(TestTextView)
#include "tst_textview.moc"
