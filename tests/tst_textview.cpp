// The text box's own behaviours: keys, mouse, undo, context menu, drops, input methods and
// accessibility, on the real widget under the offscreen platform.
#include "textview.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The text with '|' at the caret and '[' at the anchor when something is selected.
void setMarked(TextView &view, QString marked)
{
    const qsizetype caret = marked.indexOf(u'|');
    qsizetype anchor = marked.indexOf(u'[');
    marked.remove(u'|').remove(u'[');
    anchor = anchor < 0 ? caret : anchor - (anchor > caret);
    view.setContents(marked);
    view.setSelection(anchor, caret - (caret > anchor));
}

// What assistive tools were told: text changes and caret moves, with their positions.
QList<std::pair<QAccessible::Event, int>> accessibilityNews;

// A view whose accessibility news is heard, with no screen reader around.
class ListenedView : public TextView
{
protected:
    bool accessibilityActive() const override { return true; }
    void announce(QAccessibleEvent *event) override
    {
        const QAccessible::Event type = event->type();
        int at = -1;
        if (type == QAccessible::TextInserted)
            at = static_cast<QAccessibleTextInsertEvent *>(event)->changePosition();
        else if (type == QAccessible::TextRemoved)
            at = static_cast<QAccessibleTextRemoveEvent *>(event)->changePosition();
        else if (type == QAccessible::TextUpdated)
            at = static_cast<QAccessibleTextUpdateEvent *>(event)->changePosition();
        else if (type == QAccessible::TextCaretMoved)
            at = static_cast<QAccessibleTextCursorEvent *>(event)->cursorPosition();
        if (at >= 0)
            accessibilityNews.append({ type, at });
    }
};

QString marked(const TextView &view)
{
    QString text = view.buffer().text();
    const qsizetype caret = view.caretPosition();
    const qsizetype anchor = view.anchorPosition();
    if (anchor > caret)
        text.insert(anchor, u'[');
    text.insert(caret, u'|');
    if (anchor < caret)
        text.insert(anchor, u'[');
    return text;
}

} // namespace

class TestTextView : public QObject
{
    Q_OBJECT

    std::unique_ptr<TextView> view;
    QWidget *viewport() const { return view->viewport(); }
    QPoint pointOf(qsizetype position) const { return view->characterRect(position).center(); }
    void sendMouse(QEvent::Type type, const QPoint &point, Qt::MouseButton button,
                   Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, point, viewport()->mapToGlobal(point), button, buttons, {});
        QApplication::sendEvent(viewport(), &event);
    }

private Q_SLOTS:
    void init();
    void cleanup() { view.reset(); }
    void keys_data();
    void keys();
    void pageKeysMoveByAScreen();
    void doubleClickSelectsAWordAndTripleALine();
    void dragSelectsAndScrolls();
    void longLines_data();
    void longLines();
    void graphemesAtChunkEdges_data();
    void graphemesAtChunkEdges();
    void editsAcrossLinesLayTheLinesOutAgain();
    void horizontalRangeFollowsTheLongestLine();
    void contextMenuActions_data();
    void contextMenuActions();
    void dropInsertsText();
    void inputMethodPreeditAndCommit();
    void preeditDrawnWithItsFormats_data();
    void preeditDrawnWithItsFormats();
    void accessibleText();
    void accessibilityEvents_data();
    void accessibilityEvents();
};

void TestTextView::init()
{
    view = std::make_unique<TextView>();
    view->resize(400, 200);
    view->show();
    view->setFocus();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
}

void TestTextView::keys_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("after");

    QTest::addRow("right over a line break") << u"ab|\r\ncd"_s << u"Right"_s << u"ab\r\n|cd"_s;
    QTest::addRow("left over a line break") << u"ab\r\n|cd"_s << u"Left"_s << u"ab|\r\ncd"_s;
    QTest::addRow("left at the start stays") << u"|ab"_s << u"Left"_s << u"|ab"_s;
    QTest::addRow("right over a combining mark") << u"|e\u0301x"_s << u"Right"_s << u"e\u0301|x"_s;
    QTest::addRow("left collapses a selection") << u"a[b\r\nc|d"_s << u"Left"_s << u"a|b\r\ncd"_s;
    QTest::addRow("down keeps the column")
        << u"abc|d\r\nx\r\nabcd"_s << u"Down, Down"_s << u"abcd\r\nx\r\nabc|d"_s;
    QTest::addRow("up on the first line goes to its start")
        << u"a|b\r\ncd"_s << u"Up"_s << u"|ab\r\ncd"_s;
    QTest::addRow("down on the last line goes to its end")
        << u"ab\r\n|cd"_s << u"Down"_s << u"ab\r\ncd|"_s;
    QTest::addRow("home") << u"ab\r\nc|d"_s << u"Home"_s << u"ab\r\n|cd"_s;
    QTest::addRow("shift end selects to the line end")
        << u"|ab\r\ncd"_s << u"Shift+End"_s << u"[ab|\r\ncd"_s;
    QTest::addRow("ctrl shift home selects to the start")
        << u"ab\r\nc|d"_s << u"Ctrl+Shift+Home"_s << u"|ab\r\nc[d"_s;
    QTest::addRow("ctrl right to the next word")
        << u"|one two, x"_s << u"Ctrl+Right"_s << u"one |two, x"_s;
    QTest::addRow("ctrl right stops at punctuation")
        << u"one |two, x"_s << u"Ctrl+Right"_s << u"one two|, x"_s;
    QTest::addRow("ctrl left to the word start")
        << u"a, three|"_s << u"Ctrl+Left"_s << u"a, |three"_s;
    QTest::addRow("ctrl left over the line break")
        << u"ab\r\n|cd"_s << u"Ctrl+Left"_s << u"ab|\r\ncd"_s;

    QTest::addRow("backspace joins lines") << u"ab\r\n|cd"_s << u"Backspace"_s << u"ab|cd"_s;
    QTest::addRow("delete joins lines") << u"ab|\r\ncd"_s << u"Del"_s << u"ab|cd"_s;
    QTest::addRow("backspace takes a whole flag") << u"a🇫🇷|"_s << u"Backspace"_s << u"a|"_s;
    QTest::addRow("backspace takes an accent alone") << u"e\u0301|"_s << u"Backspace"_s << u"e|"_s;
    QTest::addRow("tab is a character") << u"|ab"_s << u"Tab"_s << u"\t|ab"_s;
    QTest::addRow("typing replaces the selection") << u"a[b\r\nc|d"_s << u"X"_s << u"ax|d"_s;
    QTest::addRow("ctrl backspace removes a word")
        << u"one two|"_s << u"Ctrl+Backspace"_s << u"one |"_s;
    QTest::addRow("escape changes nothing") << u"a|b"_s << u"Esc"_s << u"a|b"_s;
    QTest::addRow("ctrl z takes back the typing in one step")
        << u"a|b"_s << u"X, Y, Ctrl+Z"_s << u"a|b"_s;
    QTest::addRow("a new line ends the undo step")
        << u"|"_s << u"A, Return, B, Ctrl+Z"_s << u"a\r\n|"_s;
    QTest::addRow("ctrl shift z redoes") << u"a|b"_s << u"X, Ctrl+Z, Ctrl+Shift+Z"_s << u"ax|b"_s;
}

void TestTextView::keys()
{
    QFETCH(QString, before);
    QFETCH(QString, keys);
    QFETCH(QString, after);

    setMarked(*view, before);
    QTest::keySequence(view.get(), QKeySequence(keys));
    QCOMPARE(marked(*view), after);
    QVERIFY(view->hasFocus());
}

void TestTextView::pageKeysMoveByAScreen()
{
    view->setContents(u"line\r\n"_s.repeated(500));
    const TextBuffer &buffer = view->buffer();
    QTest::keyClick(view.get(), Qt::Key_PageDown);
    const qsizetype pageLine = buffer.lineAt(view->caretPosition());
    QVERIFY(pageLine > 3);
    QCOMPARE(view->verticalScrollBar()->value(), pageLine);
    QTest::keyClick(view.get(), Qt::Key_PageDown, Qt::ShiftModifier);
    QCOMPARE(buffer.lineAt(view->caretPosition()), 2 * pageLine);
    QCOMPARE(view->anchorPosition(), buffer.lineStart(pageLine));
    QTest::keyClick(view.get(), Qt::Key_PageUp);
    QCOMPARE(buffer.lineAt(view->caretPosition()), pageLine);
    QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(view->caretPosition(), buffer.length());
    QVERIFY(viewport()->rect().contains(view->caretRect()));
}

void TestTextView::doubleClickSelectsAWordAndTripleALine()
{
    view->setContents(u"alpha beta, gamma\r\nnext"_s);
    QTest::mouseDClick(viewport(), Qt::LeftButton, {}, pointOf(8));
    QCOMPARE(marked(*view), u"alpha [beta|, gamma\r\nnext"_s);
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, pointOf(8));
    QCOMPARE(marked(*view), u"[alpha beta, gamma\r\n|next"_s);
    // Past the end of a line the word before it is taken.
    QTest::mouseDClick(viewport(), Qt::LeftButton, {}, pointOf(17) + QPoint(30, 0));
    QCOMPARE(view->selectedText(), u"gamma"_s);
}

void TestTextView::dragSelectsAndScrolls()
{
    view->setContents(u"line\r\n"_s.repeated(300));
    const qsizetype inLine3 = view->buffer().lineStart(3) + 3;
    sendMouse(QEvent::MouseButtonPress, pointOf(2), Qt::LeftButton, Qt::LeftButton);
    sendMouse(QEvent::MouseMove, pointOf(inLine3), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(view->anchorPosition(), 2);
    QCOMPARE(view->caretPosition(), inLine3);

    // Held below the text, the selection goes on growing as the view scrolls.
    const QPoint below(pointOf(2).x(), viewport()->height() + 40);
    sendMouse(QEvent::MouseMove, below, Qt::NoButton, Qt::LeftButton);
    QTRY_VERIFY(view->verticalScrollBar()->value() > 20);
    sendMouse(QEvent::MouseButtonRelease, below, Qt::LeftButton, Qt::NoButton);
    const int scrolled = view->verticalScrollBar()->value();
    QCOMPARE(view->anchorPosition(), 2);
    QVERIFY(view->buffer().lineAt(view->caretPosition()) >= scrolled);
    QTest::qWait(0);
    QCOMPARE(view->verticalScrollBar()->value(), scrolled); // stopped with the release
}

void TestTextView::longLines_data()
{
    QTest::addColumn<int>("column");
    QTest::addRow("first") << 0;
    QTest::addRow("before a chunk edge") << 1023;
    QTest::addRow("on a chunk edge") << 1024;
    QTest::addRow("after a chunk edge") << 1025;
    QTest::addRow("far along") << 40000;
    QTest::addRow("end") << 100000;
}

// A click finds the character, and typing there keeps the caret on screen.
void TestTextView::longLines()
{
    QFETCH(int, column);
    QString line;
    for (int i = 0; i < 100000; ++i)
        line += QChar(u'a' + (i * 7) % 26);
    view->setContents(u"short\r\n"_s + line);
    const qsizetype position = 7 + column;
    view->setSelection(position - 1, position - 1);
    QVERIFY(viewport()->rect().contains(view->caretRect().center()));
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, pointOf(position) - QPoint(1, 0));
    QCOMPARE(view->caretPosition(), position);

    QTest::keyClicks(view.get(), u"new"_s);
    QCOMPARE(view->buffer().mid(position, 3), u"new"_s);
    QCOMPARE(view->buffer().length(), 100010);
    QVERIFY(viewport()->rect().contains(view->caretRect().center()));
}

void TestTextView::graphemesAtChunkEdges_data()
{
    QTest::addColumn<int>("at");
    QTest::addColumn<QString>("cluster");
    QTest::addColumn<QString>("action"); // keys, or a click
    QTest::addColumn<int>("caret"); // from the cluster's start
    QTest::addColumn<int>("removed"); // characters gone from there

    // Long lines are laid out in pieces of 1024 characters; each cluster straddles that edge.
    const QString accent = u"e\u0301"_s;
    const QString flag = u"🇫🇷"_s;
    for (const auto &[name, at, cluster] :
         { std::tuple(u"accent"_s, 1023, accent), std::tuple(u"flag"_s, 1022, flag) }) {
        const int size = int(cluster.size());
        QTest::addRow("%s: right", qPrintable(name)) << at << cluster << u"Right"_s << size << 0;
        QTest::addRow("%s: left", qPrintable(name)) << at << cluster << u"Left"_s << 0 << 0;
        QTest::addRow("%s: delete", qPrintable(name)) << at << cluster << u"Del"_s << 0 << size;
        QTest::addRow("%s: click", qPrintable(name)) << at << cluster << u"click"_s << size << 0;
    }
    QTest::addRow("accent: backspace") << 1023 << accent << u"Backspace"_s << 1 << 1;
    QTest::addRow("flag: backspace") << 1022 << flag << u"Backspace"_s << 0 << 4;
}

void TestTextView::graphemesAtChunkEdges()
{
    QFETCH(int, at);
    QFETCH(QString, cluster);
    QFETCH(QString, action);
    QFETCH(int, caret);
    QFETCH(int, removed);

    const QString line = QString(at, u'a') + cluster + QString(1500, u'b');
    view->setContents(line);
    const int end = at + int(cluster.size());
    const int from = action == u"Right" || action == u"Del" ? at : end;
    view->setSelection(from, from);
    if (action == u"click") {
        // Pieces off screen are placed by estimate until laid out: lay out the one before the
        // edge, then scroll by its measured width.
        view->characterRect(at);
        view->setSelection(0, 0);
        view->setSelection(end, end);
        const QRect after = view->characterRect(end);
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, after.topLeft() + QPoint(-1, 2));
    } else {
        QTest::keySequence(view.get(), QKeySequence(action));
    }
    QCOMPARE(view->caretPosition(), at + caret);
    QCOMPARE(view->buffer().text(), QString(line).remove(at + caret, removed));
}

void TestTextView::horizontalRangeFollowsTheLongestLine()
{
    setMarked(*view, u"short|\r\nline"_s);
    const int fitting = view->horizontalScrollBar()->maximum();
    view->replaceSelection(QString(20000, u'w'));
    QVERIFY(view->horizontalScrollBar()->maximum() > fitting + 20000);
    view->undo();
    QCOMPARE(view->horizontalScrollBar()->maximum(), fitting);
}

void TestTextView::editsAcrossLinesLayTheLinesOutAgain()
{
    view->setContents(u"a\r\nb\r\nc"_s);
    QVERIFY(view->characterRect(4).left() > view->characterRect(3).left()); // laid out once
    // The same number of lines, each of them changed.
    view->setSelection(0, 4);
    view->replaceSelection(u"wwww\r\nwwww"_s);
    QCOMPARE(view->buffer().text(), u"wwww\r\nwwww\r\nc"_s);
    QVERIFY(view->characterRect(10).left() > view->characterRect(7).left() + 5);
    QSignalSpy edits(view.get(), &TextView::edited); // undo and redo are edits like any other
    view->undo();
    view->characterRect(4);
    view->redo();
    QVERIFY(view->characterRect(10).left() > view->characterRect(7).left() + 5);
    QCOMPARE(edits.count(), 2);
    view->setContents(u"new"_s); // which has no history
    view->undo();
    QCOMPARE(view->buffer().text(), u"new"_s);
}

void TestTextView::contextMenuActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("clipboard");

    // "hello world" with "world" selected and "X" on the clipboard.
    QTest::addRow("cut") << u"cut"_s << u"hello |"_s << u"world"_s;
    QTest::addRow("copy") << u"copy"_s << u"hello [world|"_s << u"world"_s;
    QTest::addRow("paste") << u"paste"_s << u"hello X|"_s << u"X"_s;
    QTest::addRow("delete") << u"delete"_s << u"hello |"_s << u"X"_s;
    QTest::addRow("select all") << u"selectAll"_s << u"[hello world|"_s << u"X"_s;
    QTest::addRow("undo") << u"undo"_s << u"hello world!|"_s << u"X"_s;
}

void TestTextView::contextMenuActions()
{
    QFETCH(QString, action);
    QFETCH(QString, after);
    QFETCH(QString, clipboard);

    setMarked(*view, u"hello world!|"_s);
    QTest::keyClick(view.get(), Qt::Key_Backspace); // something to undo
    view->setSelection(6, 11);
    QGuiApplication::clipboard()->setText(u"X"_s);

    QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(10, 10),
                              viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(viewport(), &request);
    auto *menu = view->findChild<QMenu *>(u"textContextMenu"_s);
    QVERIFY(menu);
    auto *item = menu->findChild<QAction *>(action);
    QVERIFY(item && item->isEnabled());
    item->trigger();
    menu->close();

    QCOMPARE(marked(*view), after);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
}

void TestTextView::dropInsertsText()
{
    view->setContents(u"one\r\ntwo"_s);
    QMimeData data;
    data.setText(u"A\nB"_s);
    const QPoint at = pointOf(6) - QPoint(1, 0);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(marked(*view), u"one\r\nt[A\r\nB|wo"_s);

    QMimeData image;
    image.setData(u"image/png"_s, QByteArray("\x89PNG"));
    QDragEnterEvent refused(at, Qt::CopyAction, &image, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport(), &refused);
    QVERIFY(!refused.isAccepted());
}

void TestTextView::inputMethodPreeditAndCommit()
{
    setMarked(*view, u"a|b\r\ncd"_s);
    QCOMPARE(view->inputMethodQuery(Qt::ImSurroundingText).toString(), u"ab"_s);
    QCOMPARE(view->inputMethodQuery(Qt::ImCursorPosition).toInt(), 1);
    QVERIFY(view->inputMethodQuery(Qt::ImEnabled).toBool());

    QInputMethodEvent composing(u"ka"_s, {});
    QApplication::sendEvent(view.get(), &composing);
    QCOMPARE(marked(*view), u"a|b\r\ncd"_s); // not text until committed
    QInputMethodEvent commit;
    commit.setCommitString(u"か"_s);
    QApplication::sendEvent(view.get(), &commit);
    QCOMPARE(marked(*view), u"aか|b\r\ncd"_s);
    // A commit may replace text before the caret, as a correction.
    QInputMethodEvent correction;
    correction.setCommitString(u"カ"_s, -1, 1);
    QApplication::sendEvent(view.get(), &correction);
    QCOMPARE(marked(*view), u"aカ|b\r\ncd"_s);
}

void TestTextView::preeditDrawnWithItsFormats_data()
{
    QTest::addColumn<bool>("sendFormat");
    QTest::addColumn<QColor>("ink");
    QTest::addColumn<bool>("belowBaseline");

    // Letters without descenders: below their baseline only an underline leaves ink.
    QTest::addRow("none sent: underlined") << false << QColor(Qt::black) << true;
    QTest::addRow("sent: a background") << true << QColor(Qt::red) << false;
}

void TestTextView::preeditDrawnWithItsFormats()
{
    QFETCH(bool, sendFormat);
    QFETCH(QColor, ink);
    QFETCH(bool, belowBaseline);

    QPalette colors = view->palette();
    colors.setColor(QPalette::Text, Qt::black);
    colors.setColor(QPalette::Base, Qt::white);
    view->setPalette(colors);
    setMarked(*view, u"|"_s);
    QList<QInputMethodEvent::Attribute> attributes;
    if (sendFormat) {
        QTextCharFormat format;
        format.setBackground(Qt::red);
        attributes.append({ QInputMethodEvent::TextFormat, 0, 4, format });
    }
    QInputMethodEvent composing(u"mmmm"_s, attributes);
    QApplication::sendEvent(view.get(), &composing);

    const QImage image = viewport()->grab().toImage();
    const QRect line = view->characterRect(0);
    const int top
        = belowBaseline ? line.top() + QFontMetrics(view->font()).ascent() + 1 : line.top();
    int widest = 0; // the longest run of ink in a row; the caret is one pixel wide
    for (int y = top; y <= line.bottom(); ++y) {
        int inked = 0;
        for (int x = 0; x < image.width(); ++x)
            inked += image.pixelColor(x, y) == ink;
        widest = std::max(widest, inked);
    }
    QVERIFY2(widest >= 8, qPrintable(QString::number(widest)));
}

void TestTextView::accessibleText()
{
    view->setContents(u"first line\r\nsecond"_s);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(view.get());
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QCOMPARE(accessible->text(QAccessible::Value), u"first line\r\nsecond"_s);
    QAccessibleTextInterface *text = accessible->textInterface();
    QVERIFY(text);
    QCOMPARE(text->text(0, text->characterCount()), u"first line\r\nsecond"_s);
    int start = 0;
    int end = 0;
    QCOMPARE(text->textAtOffset(14, QAccessible::LineBoundary, &start, &end), u"second"_s);
    QCOMPARE(start, 12);
    QCOMPARE(text->textAtOffset(7, QAccessible::WordBoundary, &start, &end), u"line"_s);
    text->setSelection(0, 6, 10);
    QCOMPARE(marked(*view), u"first [line|\r\nsecond"_s);
    text->setCursorPosition(12);
    QCOMPARE(text->selectionCount(), 0);
    QCOMPARE(text->offsetAtPoint(viewport()->mapToGlobal(pointOf(3))), 3);

    // A large text is not copied whole for the value: the caret's line stands for it, cut to
    // its part around the caret when it is long.
    const QString longLine = QString(40000, u'a') + QString(40000, u'b');
    view->setContents(longLine + u"\r\nshort\r\n"_s + longLine);
    view->setSelection(80004, 80004);
    QCOMPARE(accessible->text(QAccessible::Value), u"short"_s);
    view->setSelection(80009, 80009);
    QCOMPARE(accessible->text(QAccessible::Value), longLine.left(65536));
    view->setSelection(view->buffer().length(), view->buffer().length());
    QCOMPARE(accessible->text(QAccessible::Value), longLine.right(65536));
}

void TestTextView::accessibilityEvents_data()
{
    QTest::addColumn<QString>("prepare"); // keys
    QTest::addColumn<QString>("action"); // keys, or an assistive tool's edit
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("changedAt");

    // From "ab|cd", with "XY" on the clipboard.
    QTest::addRow("typing") << QString() << u"X"_s << u"abx|cd"_s << 2;
    QTest::addRow("return") << QString() << u"Return"_s << u"ab\r\n|cd"_s << 2;
    QTest::addRow("backspace") << QString() << u"Backspace"_s << u"a|cd"_s << 1;
    QTest::addRow("paste") << QString() << u"Ctrl+V"_s << u"abXY|cd"_s << 2;
    QTest::addRow("undo") << u"X"_s << u"Ctrl+Z"_s << u"ab|cd"_s << 2;
    QTest::addRow("redo") << u"X, Ctrl+Z"_s << u"Ctrl+Y"_s << u"abx|cd"_s << 2;
    QTest::addRow("a new text") << QString() << u"new"_s << u"|new"_s << 0;
    QTest::addRow("inserted by a tool") << QString() << u"insert"_s << u"aZ|bcd"_s << 1;
    QTest::addRow("deleted by a tool") << QString() << u"delete"_s << u"|cd"_s << 0;
    QTest::addRow("replaced by a tool") << QString() << u"replace"_s << u"aQ|d"_s << 1;
}

// Screen readers hear of every change of the text and every move of the caret.
void TestTextView::accessibilityEvents()
{
    QFETCH(QString, prepare);
    QFETCH(QString, action);
    QFETCH(QString, after);
    QFETCH(int, changedAt);

    view = std::make_unique<ListenedView>();
    view->show();
    view->setFocus();
    setMarked(*view, u"ab|cd"_s);
    QGuiApplication::clipboard()->setText(u"XY"_s);
    QTest::keySequence(view.get(), QKeySequence(prepare));
    QAccessibleEditableTextInterface *tool
        = QAccessible::queryAccessibleInterface(view.get())->editableTextInterface();
    QVERIFY(tool);

    accessibilityNews.clear();
    if (action == u"new")
        view->setContents(u"new"_s);
    else if (action == u"insert")
        tool->insertText(1, u"Z"_s);
    else if (action == u"delete")
        tool->deleteText(0, 2);
    else if (action == u"replace")
        tool->replaceText(1, 3, u"Q"_s);
    else
        QTest::keySequence(view.get(), QKeySequence(action));

    QCOMPARE(marked(*view), after);
    const auto changed
        = std::find_if(accessibilityNews.cbegin(), accessibilityNews.cend(),
                       [](const auto &news) { return news.first != QAccessible::TextCaretMoved; });
    QVERIFY(changed != accessibilityNews.cend());
    QCOMPARE(changed->second, changedAt);
    QCOMPARE(accessibilityNews.last(),
             std::pair(QAccessible::TextCaretMoved, int(view->caretPosition())));
}

QTEST_MAIN(TestTextView)
#include "tst_textview.moc"
