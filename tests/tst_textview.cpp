// The text box's own behaviours: keys, mouse, undo, context menu, drops, input methods and
// accessibility, on the real widget under the offscreen platform.
#include "support/shownimage.h"
#include "textsearch.h"
#include "textview.h"
#include "visualrows.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QTextBoundaryFinder>
#include <QTextLayout>

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

// What assistive tools were told of the last action, and the longest text a change carried.
QList<std::pair<QAccessible::Event, int>> accessibilityNews;
qsizetype longestNews = 0;

// Changes too long for an event's text, as told: "inserted AT LENGTH, TOLD told".
QStringList longNews;

// A view whose accessibility news is heard, with no screen reader around.
class ListenedView : public TextView
{
protected:
    bool accessibilityActive() const override { return true; }
    void announceLongChange(AccessibleTextChange change, int offset, int length,
                            const QString &start) override
    {
        longestNews = std::max(longestNews, start.size());
        accessibilityNews.append({ change == AccessibleTextChange::Inserted
                                       ? QAccessible::TextInserted
                                       : QAccessible::TextRemoved,
                                   offset });
        longNews.append(u"%1 %2 %3, %4 told"_s.arg(
            change == AccessibleTextChange::Inserted ? u"inserted"_s : u"removed"_s,
            QString::number(offset), QString::number(length), QString::number(start.size())));
    }
    void announce(QAccessibleEvent *event) override
    {
        const auto news = [event](int at, const QString &inserted, const QString &removed) {
            longestNews = std::max({ longestNews, inserted.size(), removed.size() });
            accessibilityNews.append({ event->type(), at });
        };
        if (const auto *e = dynamic_cast<QAccessibleTextInsertEvent *>(event))
            news(e->changePosition(), e->textInserted(), {});
        else if (const auto *e = dynamic_cast<QAccessibleTextRemoveEvent *>(event))
            news(e->changePosition(), {}, e->textRemoved());
        else if (const auto *e = dynamic_cast<QAccessibleTextUpdateEvent *>(event))
            news(e->changePosition(), e->textInserted(), e->textRemoved());
        else if (event->type() == QAccessible::TextCaretMoved)
            news(static_cast<QAccessibleTextCursorEvent *>(event)->cursorPosition(), {}, {});
    }
};

// The text of each piece a line is laid out in.
QStringList pieceTexts(const TextView &view, qsizetype line)
{
    const QString text = view.buffer().lineText(line);
    const std::vector<qsizetype> starts = view.pieceStarts(line);
    QStringList pieces;
    for (size_t i = 0; i < starts.size(); ++i)
        pieces.append(
            text.mid(starts[i], (i + 1 < starts.size() ? starts[i + 1] : text.size()) - starts[i]));
    return pieces;
}

// Every piece starts between clusters, after the one before it, and none is much too long.
bool piecesHold(const TextView &view)
{
    for (qsizetype line = 0; line < view.buffer().lineCount(); ++line) {
        const QString text = view.buffer().lineText(line);
        const std::vector<qsizetype> starts = view.pieceStarts(line);
        QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
        for (size_t i = 0; i < starts.size(); ++i) {
            const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : text.size();
            clusters.setPosition(int(starts[i]));
            if (text.isEmpty())
                break;
            if ((i == 0) != (starts[i] == 0) || end <= starts[i] || end - starts[i] > 1700
                || !clusters.isAtBoundary()) {
                qWarning() << "line" << line << "piece" << i << "at" << starts[i] << "to" << end;
                return false;
            }
        }
    }
    return true;
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
    void perform(const QString &action);
    std::unique_ptr<QPlainTextEdit> wrappedBesideAPlainEdit(const QStringList &lines);

private Q_SLOTS:
    void init();
    void cleanup() { view.reset(); }
    void actions_data();
    void actions();
    void pageKeysMoveByAScreen();
    void dragSelectsAndScrolls();
    void horizontalRangeFollowsTheLongestLine();
    void longLinesAreCutBetweenWords_data();
    void longLinesAreCutBetweenWords();
    void piecesFollowTheirText_data();
    void piecesFollowTheirText();
    void randomStepsOverLongMixedLines_data();
    void randomStepsOverLongMixedLines();
    void paragraphsReadInTheirDirection_data();
    void paragraphsReadInTheirDirection();
    void wrappedMovesAsInQPlainTextEdit_data();
    void wrappedMovesAsInQPlainTextEdit();
    void wrapKeepsTheTextInView_data();
    void wrapKeepsTheTextInView();
    void wrapKeepsTheCaretInView();
    void rowsSumOverLines();
    void wrappedRowsAgreeWithAFullCount();
    void preeditDrawnWithItsFormats();
    void whatToolsRead();
    void longChangesToldWhole_data();
    void longChangesToldWhole();
};

void TestTextView::init()
{
    view = std::make_unique<ListenedView>();
    view->resize(400, 200);
    view->show();
    view->setFocus();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
}

// Keys, "menu ITEM", "[double ]click N[+D]" (1 pixel left of N, D right), "drop N TEXT|image",
// "preedit TEXT", "commit TEXT [FROM LENGTH]", "set TEXT", "tool insert|delete|replace ARGS".
void TestTextView::perform(const QString &action)
{
    const QStringList words = action.split(u' ');
    const QString &verb = words.first();
    accessibilityNews.clear();
    if (verb == u"tool") {
        auto *tool = QAccessible::queryAccessibleInterface(view.get())->editableTextInterface();
        QVERIFY(tool);
        if (words[1] == u"insert")
            tool->insertText(words[2].toInt(), words[3]);
        else if (words[1] == u"delete")
            tool->deleteText(words[2].toInt(), words[3].toInt());
        else
            tool->replaceText(words[2].toInt(), words[3].toInt(), words[4]);
    } else if (verb == u"menu") {
        QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(10, 10),
                                  viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(viewport(), &request);
        // The newest: those closed before are deleted only later.
        const auto menus = view->findChildren<QMenu *>(u"textContextMenu"_s);
        QVERIFY(!menus.isEmpty());
        auto *item = menus.last()->findChild<QAction *>(words[1]);
        QVERIFY(item && item->isEnabled());
        item->trigger();
        menus.last()->close();
    } else if (verb == u"click" || action.startsWith(u"double click ")) {
        const QStringList place = words.last().split(u'+');
        const qsizetype position = place[0].toLongLong();
        // Pieces are placed by estimate until laid out: lay out the one before, and scroll again.
        view->characterRect(std::max<qsizetype>(0, position - 1));
        view->setSelection(view->anchorPosition(), view->caretPosition());
        const QPoint point
            = view->characterRect(position).topLeft() + QPoint(place.value(1).toInt() - 1, 2);
        if (verb == u"click")
            QTest::mouseClick(viewport(), Qt::LeftButton, {}, point);
        else
            QTest::mouseDClick(viewport(), Qt::LeftButton, {}, point);
    } else if (verb == u"drop") {
        QMimeData data;
        if (words[2] == u"image")
            data.setData(u"image/png"_s, QByteArray("\x89PNG"));
        else
            data.setText(action.section(u' ', 2));
        const QPoint at = view->characterRect(words[1].toLongLong()).topLeft() + QPoint(-1, 2);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport(), &enter);
        QCOMPARE(enter.isAccepted(), data.hasText());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        if (enter.isAccepted())
            QVERIFY(QApplication::sendEvent(viewport(), &drop) && drop.isAccepted());
    } else if (verb == u"preedit" || verb == u"commit") {
        QInputMethodEvent event(verb == u"preedit" ? words[1] : QString(), {});
        if (verb == u"commit")
            event.setCommitString(words[1], words.value(2).toInt(), words.value(3).toInt());
        QApplication::sendEvent(view.get(), &event);
    } else if (verb == u"set") {
        view->setContents(action.section(u' ', 1));
    } else {
        QTest::keySequence(view.get(), QKeySequence(action));
    }
}

void TestTextView::actions_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("actions"); // separated by "; "
    QTest::addColumn<QStringList>("after"); // after each of the last actions
    QTest::addColumn<int>("changedAt"); // where assistive tools hear the last action changed text
    QTest::addColumn<QString>("clipboard"); // "X" before
    const auto row
        = [](const QByteArray &name, const QString &before, const QString &actions,
             const QStringList &after, int changedAt = -1, const QString &clipboard = u"X"_s) {
              QTest::addRow("%s", name.constData())
                  << before << actions << after << changedAt << clipboard;
          };

    row("over a line break and back", u"ab\r\nc|d"_s,
        u"Home; Ctrl+Left; Right; Left; Down; Ctrl+Shift+Home"_s,
        { u"ab\r\n|cd"_s, u"ab|\r\ncd"_s, u"ab\r\n|cd"_s, u"ab|\r\ncd"_s, u"ab\r\ncd|"_s,
          u"|ab\r\ncd["_s });
    row("left collapses a selection, up on the first line goes to its start", u"a[b\r\nc|d"_s,
        u"Left; Up; Left; Shift+End"_s,
        { u"a|b\r\ncd"_s, u"|ab\r\ncd"_s, u"|ab\r\ncd"_s, u"[ab|\r\ncd"_s });
    row("down keeps the column, then goes to the end", u"abc|d\r\nx\r\nabcd"_s,
        u"Down, Down; Down"_s, { u"abcd\r\nx\r\nabc|d"_s, u"abcd\r\nx\r\nabcd|"_s });
    row("a click in the right half of a flag lands after it", u"|ab🇫🇷cd"_s, u"click 6"_s,
        { u"ab🇫🇷|cd"_s });
    row("ctrl right, backspace and left by words and punctuation", u"|one two, x"_s,
        u"Ctrl+Right; Ctrl+Right; Ctrl+Backspace; End; Ctrl+Left"_s,
        { u"one |two, x"_s, u"one two|, x"_s, u"one |, x"_s, u"one , x|"_s, u"one , |x"_s });

    // Edits, each laid out as a fresh view lays it out, and told to assistive tools.
    row("return and shift return split the line", u"|a\r\nbb|b\r\nc"_s, u"Return, Shift+Return"_s,
        { u"\r\n\r\n|a\r\nbbb\r\nc"_s }, 0);
    row("backspace and delete join lines", u"ab\r\n|cd\r\neee"_s, u"Backspace; Return; Left; Del"_s,
        { u"ab|cd\r\neee"_s, u"ab\r\n|cd\r\neee"_s, u"ab|\r\ncd\r\neee"_s, u"ab|cd\r\neee"_s }, 2);
    row("backspace takes a whole flag; over a combining mark, the accent alone", u"a🇫🇷|e\u0301x"_s,
        u"Backspace; Right; Backspace"_s, { u"a|e\u0301x"_s, u"ae\u0301|x"_s, u"ae|x"_s }, 2);
    row("escape changes nothing, tab is a character, ctrl v pastes", u"|ab"_s,
        u"Esc; Tab; Ctrl+V"_s, { u"|ab"_s, u"\t|ab"_s, u"\tX|ab"_s }, 1);
    row("typing replaces the selection", u"a[b\r\nc|d\r\ne"_s, u"X"_s, { u"ax|d\r\ne"_s }, 1);
    row("typing replaces lines, undone and redone", u"[a\r\nb|\r\nc"_s,
        u"W, W, W, Return; W, W, W, W; Ctrl+Z, Ctrl+Z; Ctrl+Y, Ctrl+Shift+Z"_s,
        { u"www\r\n|\r\nc"_s, u"www\r\nwwww|\r\nc"_s, u"a\r\nb|\r\nc"_s, u"www\r\nwwww|\r\nc"_s },
        0);
    row("a new line ends the undo step", u"|"_s, u"A, Return, B; Ctrl+Z"_s, { u"a\r\n|"_s }, 3);
    // Deletions merge with each other, not with the typing; a moved caret starts a new step.
    row("undo steps follow the typing", u"a|b"_s,
        u"X, Y, Z; Backspace, Backspace, Del; Left, W; Ctrl+Z; Ctrl+Z; Ctrl+Z; Ctrl+Y"_s,
        { u"ax|"_s, u"aw|x"_s, u"a|x"_s, u"axyzb|"_s, u"a|b"_s, u"axyz|b"_s }, 1);
    row("a new text has no history", u"a|b"_s, u"X; set new; Ctrl+Z; set wwww\r\nw\r\nwww"_s,
        { u"|new"_s, u"|new"_s, u"|wwww\r\nw\r\nwww"_s }, 0);
    row("inserted, deleted and replaced by a tool", u"ab|cd"_s,
        u"tool insert 1 Z; tool delete 0 2; tool replace 1 2 Q"_s,
        { u"aZ|bcd"_s, u"|bcd"_s, u"bQ|d"_s }, 1);

    // Each item of the context menu; a paste shows what the copy or cut before it took.
    row("context menu", u"hello [world|"_s,
        u"menu copy; Del; menu paste; menu selectAll; menu cut; menu paste; Backspace; "
        "menu undo; menu selectAll; menu delete"_s,
        { u"hello [world|"_s, u"hello |"_s, u"hello world|"_s, u"[hello world|"_s, u"|"_s,
          u"hello world|"_s, u"hello worl|"_s, u"hello world|"_s, u"[hello world|"_s, u"|"_s },
        0, u"hello world"_s);

    const QString words = u"|alpha beta, gamma\r\nnext"_s;
    row("double, then triple click", words, u"double click 8; click 8"_s,
        { u"alpha [beta|, gamma\r\nnext"_s, u"[alpha beta, gamma\r\n|next"_s });
    row("double click past the line end takes the word before", words, u"double click 17+30"_s,
        { u"alpha beta, [gamma|\r\nnext"_s });
    row("drop of a picture is refused, of text inserts it", u"|one\r\ntwo"_s,
        u"drop 2 image; drop 6 A\nB"_s, { u"|one\r\ntwo"_s, u"one\r\nt[A\r\nB|wo"_s }, 6);
    row("preedit is not text until committed", u"a|b\r\ncd"_s,
        u"preedit ka; commit か; commit カ -1 1"_s,
        { u"a|b\r\ncd"_s, u"aか|b\r\ncd"_s, u"aカ|b\r\ncd"_s }, 1);

    // Pieces of 1024 characters: a click finds the character there, typing keeps the caret shown.
    QString line;
    for (int i = 0; i < 100000; ++i)
        line += QChar(u'a' + (i * 7) % 26);
    const QString text = u"short\r\n"_s + line;
    for (const qsizetype column : { 0, 1023, 1024, 1025, 40000, 100000 }) {
        const qsizetype at = 7 + column;
        const qsizetype caret = column > 0 ? at - 1 : at + 1;
        row("long line: " + QByteArray::number(column), QString(text).insert(caret, u'|'),
            u"click %1; N, E, W"_s.arg(at), { QString(text).insert(at, u"new|"_s) }, int(at));
    }
    // ...and clusters that straddle an edge stay whole.
    const QString b(1500, u'b');
    for (const auto &[name, at, cluster, backspaced] :
         { std::tuple("accent", 1023, u"e\u0301"_s, u"e|"_s), { "flag", 1022, u"🇫🇷"_s, u"|"_s } }) {
        const QString a(at, u'a');
        const QString before = a + u'|' + cluster + b;
        const QString after = a + cluster + u'|' + b;
        const QByteArray prefix = name + ": "_ba;
        row(prefix + "click, left, delete", a + cluster + u"bbb|"_s + b.mid(3),
            u"click %1; Left; Del"_s.arg(at + cluster.size()), { after, before, a + u'|' + b }, at);
        row(prefix + "right, backspace", before, u"Right; Backspace"_s,
            { after, a + backspaced + b }, at + backspaced.size() - 1);
    }
    // A run of flags pairs from its start, however far before the edge that is.
    const QString flags = u"🇫🇷"_s.repeated(300);
    const QString a(102, u'a');
    const auto caretAt = [&](qsizetype at) { return QString(a + flags).insert(at, u'|'); };
    row("a run of flags across an edge", caretAt(1022), u"Right; Right; Left; Del"_s,
        { caretAt(1026), caretAt(1030), caretAt(1026),
          QString(a + flags).remove(1026, 4).insert(1026, u'|') },
        1026);
}

void TestTextView::actions()
{
    QFETCH(QString, before);
    QFETCH(QString, actions);
    QFETCH(QStringList, after);
    QFETCH(int, changedAt);
    QFETCH(QString, clipboard);

    setMarked(*view, before);
    const auto placed = [](const TextView &view) {
        QList<QRect> rects; // every line laid out, in a text short enough to be one piece
        for (qsizetype at = 0; view.buffer().length() <= 1000 && at <= view.buffer().length(); ++at)
            rects.append(view.characterRect(at));
        return rects;
    };
    placed(*view);
    QGuiApplication::clipboard()->setText(u"X"_s);
    const QStringList steps = actions.split(u"; "_s);
    for (qsizetype i = 0, checked = steps.size() - after.size(); i < steps.size(); ++i) {
        perform(steps[i]);
        if (QTest::currentTestFailed())
            return;
        if (i >= checked)
            QCOMPARE(steps[i].left(50) + u": "_s + marked(*view),
                     steps[i].left(50) + u": "_s + after[i - checked]);
    }
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    QVERIFY(view->hasFocus());
    QVERIFY(viewport()->rect().contains(view->caretRect().center()));

    // Screen readers hear of the change and then of the caret.
    const auto changed
        = std::find_if(accessibilityNews.cbegin(), accessibilityNews.cend(),
                       [](const auto &news) { return news.first != QAccessible::TextCaretMoved; });
    QCOMPARE(changed == accessibilityNews.cend() ? -1 : changed->second, changedAt);
    if (changedAt >= 0) {
        QCOMPARE(accessibilityNews.last(),
                 std::pair(QAccessible::TextCaretMoved, int(view->caretPosition())));
        // Layouts kept across the edit place every line as a fresh view does.
        TextView fresh;
        fresh.resize(view->size());
        fresh.setContents(view->buffer().text());
        QCOMPARE(placed(*view), placed(fresh));
    }
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

void TestTextView::horizontalRangeFollowsTheLongestLine()
{
    setMarked(*view, u"short|\r\nline"_s);
    const int fitting = view->horizontalScrollBar()->maximum();
    view->replaceSelection(QString(20000, u'w'));
    QVERIFY(view->horizontalScrollBar()->maximum() > fitting + 20000);
    view->undo();
    QCOMPARE(view->horizontalScrollBar()->maximum(), fitting);
}

// A long line's pieces begin after a space, else at a break opportunity, never inside a cluster.
enum class Cut { AfterSpace, BreakOpportunity, Cluster };

void TestTextView::longLinesAreCutBetweenWords_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<Cut>("cut");
    QTest::addRow("arabic words") << u"مرحبا بالعالم "_s.repeated(300) << Cut::AfterSpace;
    QTest::addRow("latin words, a mark after some spaces")
        << u"word  \u0301x "_s.repeated(600) << Cut::AfterSpace;
    QTest::addRow("ideographs") << u"漢字かな"_s.repeated(1000) << Cut::BreakOpportunity;
    QTest::addRow("accented letters") << u"e\u0301\u0302"_s.repeated(1500) << Cut::Cluster;
    QTest::addRow("a run of flags") << u"a"_s + u"🇫🇷"_s.repeated(1500) << Cut::Cluster;
}

void TestTextView::longLinesAreCutBetweenWords()
{
    QFETCH(QString, line);
    QFETCH(Cut, cut);
    view->setContents(u"short\r\n"_s + line);
    const std::vector<qsizetype> starts = view->pieceStarts(1);
    QVERIFY(starts.size() >= 4);
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, line);
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, line);
    for (size_t i = 1; i < starts.size(); ++i) {
        const qsizetype at = starts[i];
        QVERIFY(at > starts[i - 1]);
        clusters.setPosition(int(at));
        QVERIFY2(clusters.isAtBoundary(), qPrintable(QString::number(at)));
        breaks.setPosition(int(at));
        if (cut != Cut::Cluster)
            QVERIFY(breaks.boundaryReasons() & QTextBoundaryFinder::BreakOpportunity);
        if (cut == Cut::AfterSpace)
            QCOMPARE(line.at(at - 1), u' ');
    }
}

// An edit inside a long line cuts again only the pieces it touched, keeping the others' layouts.
void TestTextView::piecesFollowTheirText_data()
{
    QTest::addColumn<int>("piece"); // the caret at that piece's start
    QTest::addColumn<int>("offset"); // plus this
    QTest::addColumn<int>("selected"); // units selected before the caret
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("keptBefore"); // pieces kept at the start of the first line
    QTest::addColumn<int>("keptFrom"); // and from this one on, at the end of the last
    QTest::addRow("a key inside a piece") << 2 << 10 << 0 << u"x"_s << 2 << 3;
    QTest::addRow("a key at a piece's start") << 3 << 0 << 0 << u"x"_s << 2 << 4;
    QTest::addRow("Backspace at a piece's start") << 3 << 0 << 0 << u"Backspace"_s << 2 << 4;
    QTest::addRow("Return inside a piece") << 2 << 10 << 0 << u"Return"_s << 2 << 3;
    QTest::addRow("an edge deleted with its words") << 2 << 3 << 6 << u"Delete"_s << 1 << 3;
    QTest::addRow("a typed word undone") << 2 << 10 << 0 << u"w,o,r,d,Left,Ctrl+Z"_s << 2 << 3;
}

void TestTextView::piecesFollowTheirText()
{
    QFETCH(int, piece);
    QFETCH(int, offset);
    QFETCH(int, selected);
    QFETCH(QString, keys);
    QFETCH(int, keptBefore);
    QFETCH(int, keptFrom);
    QString line;
    for (int word = 0; line.size() < 8000; ++word)
        line += u"w%1 "_s.arg(word * 7919 % 100000);
    view->setContents(line);
    const QStringList before = pieceTexts(*view, 0);
    QVERIFY(before.size() >= 6);
    const qsizetype at = view->pieceStarts(0)[size_t(piece)] + offset;
    view->setSelection(at - selected, at);
    for (const QString &key : keys.split(u','))
        QTest::keySequence(view.get(), QKeySequence(key));
    viewport()->repaint();

    QVERIFY(piecesHold(*view));
    const QStringList first = pieceTexts(*view, 0);
    const QStringList last = pieceTexts(*view, view->buffer().lineCount() - 1);
    QCOMPARE(first.first(keptBefore), before.first(keptBefore));
    const qsizetype tail = before.size() - keptFrom;
    QCOMPARE(last.last(tail), before.last(tail));

    // Wrapped, a line's first piece is longer; the pieces after it stay.
    const std::vector<qsizetype> unwrapped = view->pieceStarts(0);
    view->setWordWrap(true);
    QVERIFY(piecesHold(*view));
    const std::vector<qsizetype> wrapped = view->pieceStarts(0);
    for (const qsizetype start : unwrapped)
        QVERIFY(start < 1536 || std::count(wrapped.begin(), wrapped.end(), start) == 1);
    view->setWordWrap(false);
    QVERIFY(piecesHold(*view));
}

// Random keys, clicks, edits and long matches over mixed scripts: no crash, caret between clusters,
// and what the window shows after repainting only what changed is the view drawn whole.
void TestTextView::randomStepsOverLongMixedLines_data()
{
    QTest::addColumn<bool>("wrap");
    QTest::addRow("unwrapped") << false;
    QTest::addRow("wrapped") << true;
}

void TestTextView::randomStepsOverLongMixedLines()
{
    QFETCH(bool, wrap);
    view->setWordWrap(wrap);
    QRandomGenerator random(20261207);
    const QStringList parts { u"مرحبا بالعالم "_s, u"😀"_s,         u"\u2028"_s, u"\u202e"_s,
                              u"🇫🇷🇩🇪"_s,           u"e\u0301"_s,   u"word "_s,  u"\t"_s,
                              u"漢字"_s,           u"abcdefghij"_s };
    QString text;
    for (int line = 0; line < 60; ++line) {
        const int length = int(random.bounded(line % 3 ? 4000 : 40));
        while (text.size() % 5000 < length) // lines start at multiples of 5000 or so
            text += parts.at(random.bounded(int(parts.size())));
        text += u"\r\n"_s;
    }
    view->setContents(text);
    const QList<QKeyCombination> keys {
        Qt::Key_Left,   Qt::Key_Right,     Qt::Key_Up,       Qt::Key_Down,
        Qt::Key_Home,   Qt::Key_End,       Qt::Key_PageDown, Qt::Key_PageUp,
        Qt::Key_Delete, Qt::Key_Backspace, Qt::Key_X,        Qt::ControlModifier | Qt::Key_Z
    };
    const TextSearch search({ u".{1000}"_s, false, false, true });
    for (int step = 0; step < 300; ++step) {
        const int kind = int(random.bounded(4));
        if (kind == 0) {
            const auto bytes = searchableBytes(view->buffer());
            const TextSearch::Range selection { bytes->byteOfPosition(view->selectionStart()),
                                                bytes->byteOfPosition(view->selectionEnd()) };
            const auto direction = random.bounded(2) ? TextSearch::Direction::Forward
                                                     : TextSearch::Direction::Backward;
            const auto found = search.findNext(*bytes, selection, direction, true).match;
            if (found.found())
                view->setSelection(bytes->positionOfByte(found.start),
                                   bytes->positionOfByte(found.end));
        } else if (kind == 1) {
            const QPoint point(int(random.bounded(viewport()->width())),
                               int(random.bounded(viewport()->height())));
            QTest::mouseClick(viewport(), Qt::LeftButton, {}, point);
        } else {
            const QKeyCombination key = keys.at(random.bounded(int(keys.size())));
            // A match may end inside a cluster; Left and Right then go to its ends.
            const bool fromSelection = view->hasSelection();
            QTest::keyClick(view.get(), key.key(), key.keyboardModifiers());
            if ((key.key() == Qt::Key_Left || key.key() == Qt::Key_Right) && !fromSelection) {
                const TextBuffer &buffer = view->buffer();
                const qsizetype line = buffer.lineAt(view->caretPosition());
                const QString lineText = buffer.lineText(line);
                const qsizetype column = view->caretPosition() - buffer.lineStart(line);
                QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, lineText);
                clusters.setPosition(int(column));
                QVERIFY2(column == 0 || column == lineText.size() || clusters.isAtBoundary(),
                         qPrintable(QString::number(step)));
            }
        }
        const QImage shown = shownImage(viewport());
        // A stale caret, row or selection differs by many more pixels than smoothing does.
        QVERIFY2(differingPixels(shown, drawnWholeImage(viewport())) <= 4,
                 qPrintable(QString::number(step)));
        QVERIFY(view->caretPosition() >= 0 && view->caretPosition() <= view->buffer().length());
        view->caretRect();
        if (step % 20 == 0)
            QVERIFY2(piecesHold(*view), qPrintable(QString::number(step)));
    }
}

// Direction from the first strong character; a long line's pieces sit where the whole line's would.
void TestTextView::paragraphsReadInTheirDirection_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("rightToLeft");
    QTest::addRow("arabic, five pieces") << u"مرحبا بالعالم "_s.repeated(300) << true;
    QTest::addRow("arabic, one piece") << u"مرحبا بالعالم"_s << true;
    QTest::addRow("digits, then hebrew") << u"123 שלום עולם abc"_s << true;
    QTest::addRow("latin with arabic words") << u"abc مرحبا def"_s << false;
}

void TestTextView::paragraphsReadInTheirDirection()
{
    QFETCH(QString, line);
    QFETCH(bool, rightToLeft);
    view->setContents(line);
    QTextLayout whole(line, view->font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    option.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
    whole.setTextOption(option);
    whole.beginLayout();
    QTextLine wholeLine = whole.createLine();
    wholeLine.setLineWidth(1e9);
    whole.endLayout();

    // Where the caret stands in the text, whatever the scrolling.
    const auto caretX = [&](qsizetype position) {
        view->setSelection(position, position);
        return view->caretRect().x() + view->horizontalScrollBar()->value();
    };
    const int start = caretX(0);
    for (qsizetype at = 0; at <= line.size(); at += line.size() > 100 ? 97 : 1) {
        while (line.size() > 100 && at > 0 && at < line.size() && line.at(at - 1) != u' ')
            ++at;
        const int x = caretX(at);
        const qreal expected = wholeLine.cursorToX(int(at)) - wholeLine.cursorToX(0);
        QVERIFY2(qAbs(x - start - expected) <= 2,
                 qPrintable(u"%1: %2, not %3"_s.arg(at).arg(x - start).arg(expected)));
    }
    // The line's start side is at the view's side, but for the margin.
    const int right = viewport()->width() + view->horizontalScrollBar()->maximum();
    const qreal fromSide = rightToLeft
        ? right - start - (wholeLine.naturalTextWidth() - wholeLine.cursorToX(0))
        : start - wholeLine.cursorToX(0);
    QVERIFY2(fromSide >= 0 && fromSide <= 8, qPrintable(QString::number(fromSide)));
}

// The view wrapping the lines beside a QPlainTextEdit of the same size, font and text.
std::unique_ptr<QPlainTextEdit> TestTextView::wrappedBesideAPlainEdit(const QStringList &lines)
{
    view->resize(320, 240);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view->setWordWrap(true);
    view->setContents(lines.join(u"\r\n"_s));
    auto edit = std::make_unique<QPlainTextEdit>();
    edit->setFont(view->font());
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit->setPlainText(lines.join(u'\n'));
    edit->resize(view->size());
    edit->show();
    return edit;
}

// Wrapped, keys move by rows as in QPlainTextEdit of the same width and font; up from a thumb
// at the bottom into paragraphs never laid out goes to their last row, not their first; a row
// that breaks a word too long for it ends after its last character.
void TestTextView::wrappedMovesAsInQPlainTextEdit_data()
{
    QTest::addColumn<bool>("fromBottom");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("longWord");
    QTest::addRow("from the top") << false
                                  << u"Down Down End Down Home Down Down Down End Down Down Up "
                                     "Down Down Down Down End Down Home Up PgDown PgDown Up PgUp "
                                     "PgDown PgDown PgDown PgUp PgUp"_s
                                  << false;
    QTest::addRow("up from the thumb at the bottom")
        << true << u"Up "_s.repeated(60).trimmed() << false;
    QTest::addRow("a word longer than a row")
        << false << u"Down Down End End Home Down End Up Left Down Down End"_s << true;
}

void TestTextView::wrappedMovesAsInQPlainTextEdit()
{
    QFETCH(bool, fromBottom);
    QFETCH(QString, keys);
    QFETCH(bool, longWord);
    QString paragraph;
    for (int word = 0; word < (fromBottom ? 160 : 120); ++word)
        paragraph += QString(1 + (word * (fromBottom ? 5 : 7)) % (fromBottom ? 9 : 11),
                             QChar(u'a' + word % 26))
            + u' ';
    if (longWord)
        paragraph = u"ab "_s + QString(300, u'x') + u" tail"_s;
    const QStringList lines = fromBottom ? QStringList(30, paragraph)
        : longWord                       ? QStringList { paragraph }
                   : QStringList { paragraph, u"short"_s, paragraph.repeated(2) };
    const auto edit = wrappedBesideAPlainEdit(lines);
    QVERIFY(QTest::qWaitForWindowExposed(edit.get()));
    // Its text is one unit shorter per line break.
    const auto editPosition = [&] {
        const QTextCursor cursor = edit->textCursor();
        return cursor.position() + cursor.blockNumber();
    };
    const auto placeEdit = [&](qsizetype position) {
        QTextCursor same = edit->textCursor();
        same.setPosition(int(position - view->buffer().lineAt(position)));
        edit->setTextCursor(same);
    };
    if (fromBottom) {
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
        viewport()->repaint();
        const qsizetype top = view->positionAt(QPoint(20, 4));
        view->setSelection(top, top);
        placeEdit(top);
    } else {
        // Assistive tools read rows as lines, as QPlainTextEdit tells them.
        const auto rowAt = [](QObject *editor, int offset) {
            int start = 0;
            int end = 0;
            const QString row
                = QAccessible::queryAccessibleInterface(editor)->textInterface()->textAtOffset(
                    offset, QAccessible::LineBoundary, &start, &end);
            return u"%1-%2 %3"_s.arg(start).arg(end).arg(row);
        };
        for (const int offset : { 0, 38, 39, 40, 100, 250, int(paragraph.size()) - 1 })
            QCOMPARE(rowAt(view.get(), offset), rowAt(edit.get(), offset));
    }
    const QStringList steps = keys.split(u' ');
    for (qsizetype i = 0; i < steps.size(); ++i) {
        QTest::keySequence(view.get(), QKeySequence(steps[i]));
        QTest::keySequence(edit.get(), QKeySequence(steps[i]));
        const QString where = u"key %1: %2, not %3"_s.arg(i).arg(view->caretPosition());
        if (!steps[i].startsWith(u"Pg")) {
            QVERIFY2(view->caretPosition() == editPosition(),
                     qPrintable(where.arg(editPosition())));
            continue;
        }
        // QPlainTextEdit pages by pixels, its margin scrolling away: one row of leeway.
        QVERIFY2(qAbs(view->verticalScrollBar()->value() - edit->verticalScrollBar()->value()) <= 1,
                 qPrintable(where.arg(editPosition())));
        QVERIFY2(qAbs(view->caretRect().y() - edit->cursorRect().y()) < view->caretRect().height(),
                 qPrintable(where.arg(editPosition())));
        placeEdit(view->caretPosition());
        edit->verticalScrollBar()->setValue(view->verticalScrollBar()->value());
    }
}

// Wrapped, what the user looks at stays in view, however the rows above were estimated.
enum class WrapStep { CtrlEnd, ThumbAtBottom, Narrower, Font, Off, Typed };

void TestTextView::wrapKeepsTheTextInView_data()
{
    QTest::addColumn<WrapStep>("step");
    QTest::addRow("ctrl+end") << WrapStep::CtrlEnd;
    QTest::addRow("thumb at the bottom") << WrapStep::ThumbAtBottom;
    QTest::addRow("narrower") << WrapStep::Narrower;
    QTest::addRow("larger font") << WrapStep::Font;
    QTest::addRow("wrap turned off") << WrapStep::Off;
    QTest::addRow("returns typed above the top") << WrapStep::Typed;
}

void TestTextView::wrapKeepsTheTextInView()
{
    QFETCH(WrapStep, step);
    QString text;
    for (int paragraph = 0; paragraph < 300; ++paragraph)
        text += u"paragraph %1 "_s.arg(paragraph)
            + u"of words that wrap "_s.repeated(paragraph % 7 * 4) + u"\r\n"_s;
    text += QString(3000, u'w'); // one word wider than the view
    view->setWordWrap(true);
    view->setContents(text);
    QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
    QVERIFY(!view->horizontalScrollBar()->isVisible());
    const auto shown = [&](qsizetype position) {
        return viewport()->rect().contains(view->characterRect(position).center());
    };
    if (step == WrapStep::CtrlEnd || step == WrapStep::ThumbAtBottom) {
        if (step == WrapStep::CtrlEnd)
            QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
        else
            view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
        viewport()->repaint();
        QVERIFY(shown(view->buffer().length()));
        QVERIFY(view->characterRect(view->buffer().length()).bottom()
                >= viewport()->height() - 3 * view->characterRect(0).height());
        return;
    }
    // A paragraph's start at the top, the caret off screen.
    const qsizetype top = view->buffer().lineStart(150);
    QScrollBar *vertical = view->verticalScrollBar();
    int low = 0;
    for (int high = vertical->maximum(); low < high;) {
        vertical->setValue((low + high) / 2);
        if (view->positionAt(QPoint(4, 3)) < top)
            low = vertical->value() + 1;
        else
            high = vertical->value();
    }
    vertical->setValue(low);
    for (int tries = 0; tries < 20 && view->positionAt(QPoint(4, 3)) != top; ++tries)
        vertical->setValue(vertical->value() + (view->positionAt(QPoint(4, 3)) < top ? 1 : -1));
    QCOMPARE(view->positionAt(QPoint(4, 3)), top);
    if (step == WrapStep::Narrower) {
        view->resize(view->width() - 90, view->height());
    } else if (step == WrapStep::Font) {
        QFont font = view->font();
        font.setPointSizeF(font.pointSizeF() * 1.5);
        view->setFont(font);
    } else if (step == WrapStep::Off) {
        view->setWordWrap(false);
        QVERIFY(view->horizontalScrollBar()->maximum() > 0);
    } else {
        view->setSelection(0, 0);
        view->verticalScrollBar()->setValue(0);
        QTest::keyClick(view.get(), Qt::Key_Return);
        QTest::keyClick(view.get(), Qt::Key_Return);
        view->setSelection(top + 4, top + 4);
        QCOMPARE(view->positionAt(QPoint(4, view->caretRect().center().y())) <= top + 4, true);
        return;
    }
    viewport()->repaint();
    QCOMPARE(view->positionAt(QPoint(4, 3)), top);
}

// Wrap turned on with the caret on the bottom line in view keeps it in view.
void TestTextView::wrapKeepsTheCaretInView()
{
    view->setContents(
        (u"words that wrap at the width of the view "_s.repeated(3) + u"\r\n"_s).repeated(300));
    view->verticalScrollBar()->setValue(100);
    const qsizetype caret = view->positionAt(QPoint(4, viewport()->height() - 8));
    view->setSelection(caret, caret);
    QCOMPARE(view->verticalScrollBar()->value(), 100);
    view->setWordWrap(true);
    viewport()->repaint();
    QVERIFY(viewport()->rect().contains(view->caretRect().center()));
}

// The rows of lines, summed, against a plain list of every line's rows.
void TestTextView::rowsSumOverLines()
{
    QRandomGenerator random(7);
    VisualRows rows;
    std::vector<qsizetype> model(5000, 1);
    rows.reset(qsizetype(model.size()));
    for (int step = 0; step < 400; ++step) {
        const qsizetype line = random.bounded(int(model.size()));
        if (step % 5 == 4) {
            const qsizetype last = std::min<qsizetype>(line + random.bounded(3), model.size() - 1);
            const qsizetype delta = random.bounded(-2, 3);
            const qsizetype replaced = last - line + 1 + delta;
            if (replaced < 0 || qsizetype(model.size()) + delta < 1)
                continue;
            model.erase(model.begin() + line, model.begin() + last + 1);
            model.insert(model.begin() + line, size_t(replaced), 1);
            rows.linesReplaced(line, last, delta);
        } else {
            model[size_t(line)] = 1 + random.bounded(6);
            rows.setRows(line, model[size_t(line)]);
        }
        qsizetype row = 0;
        for (qsizetype at = 0; at < qsizetype(model.size()); row += model[size_t(at++)]) {
            if (at % 97 && at + 1 < qsizetype(model.size()))
                continue;
            QCOMPARE(rows.rowOfLine(at), row);
            const VisualRows::Place place = rows.placeOfRow(row + model[size_t(at)] - 1);
            QCOMPARE(place.line, at);
            QCOMPARE(place.row, model[size_t(at)] - 1);
        }
        QCOMPARE(rows.total(), row);
    }
}

// Wrapped, the scroll bar's rows after edits are those of every piece laid out afresh.
void TestTextView::wrappedRowsAgreeWithAFullCount()
{
    view->resize(320, 240);
    view->setWordWrap(true);
    QRandomGenerator random(2112);
    QStringList lines;
    for (int line = 0; line < 14; ++line) {
        QString text;
        const int length = int(random.bounded(line % 4 ? 3000 : 60));
        while (text.size() < length)
            text += QString(1 + int(random.bounded(9)), QChar(u'a' + int(random.bounded(26))))
                + (random.bounded(9) ? u" "_s : u"e\u0301 "_s);
        lines.append(text);
    }
    view->setContents(lines.join(u"\r\n"_s));
    const qreal width = viewport()->width() - 8; // the margins
    const auto fullCount = [&] {
        qsizetype rows = 0;
        for (qsizetype line = 0; line < view->buffer().lineCount(); ++line) {
            for (const QString &piece : pieceTexts(*view, line)) {
                QTextLayout layout(piece, view->font());
                QTextOption option;
                option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
                layout.setTextOption(option);
                layout.beginLayout();
                for (QTextLine row = layout.createLine(); row.isValid(); row = layout.createLine())
                    row.setLineWidth(width);
                layout.endLayout();
                rows += std::max(1, layout.lineCount());
            }
        }
        return rows;
    };
    const int lineHeight = int(std::ceil(QFontMetricsF(view->font()).lineSpacing()));
    const int screenRows = (viewport()->height() - 2) / lineHeight;
    const auto counted = [&] { return view->verticalScrollBar()->maximum() + screenRows; };
    // Every line laid out once, so that no count is an estimate.
    for (int page = 0; page < 400 && view->caretPosition() < view->buffer().length(); ++page) {
        QTest::keyClick(view.get(), Qt::Key_PageDown);
        viewport()->repaint();
    }
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(counted(), fullCount());
    const QStringList keys { u"x"_s,      u"Space"_s,  u"Return"_s, u"Backspace"_s,
                             u"Delete"_s, u"Ctrl+Z"_s, u"Down"_s,   u"Down"_s,
                             u"Right"_s,  u"PgDown"_s, u"PgUp"_s,   u"Ctrl+Shift+Right"_s };
    for (int step = 0; step < 300; ++step) {
        QTest::keySequence(view.get(), QKeySequence(keys.at(random.bounded(int(keys.size())))));
        viewport()->repaint();
        QVERIFY2(counted() == fullCount(),
                 qPrintable(u"step %1: %2, not %3"_s.arg(step).arg(counted()).arg(fullCount())));
    }
}

// Text being composed is drawn underlined, or with the format sent with it (a background).
void TestTextView::preeditDrawnWithItsFormats()
{
    QPalette colors = view->palette();
    colors.setColor(QPalette::Text, Qt::black);
    colors.setColor(QPalette::Base, Qt::white);
    view->setPalette(colors);
    setMarked(*view, u"|"_s);
    QTextCharFormat format;
    format.setBackground(Qt::red);
    for (const bool sendFormat : { false, true }) {
        QList<QInputMethodEvent::Attribute> attributes;
        if (sendFormat)
            attributes.append({ QInputMethodEvent::TextFormat, 0, 4, format });
        QInputMethodEvent composing(u"mmmm"_s, attributes);
        QApplication::sendEvent(view.get(), &composing);

        // Letters without descenders: below their baseline only an underline leaves ink.
        const QImage image = viewport()->grab().toImage();
        const QRect line = view->characterRect(0);
        const QColor ink = sendFormat ? Qt::red : Qt::black;
        int widest = 0; // the longest run of ink in a row; the caret is one pixel wide
        for (int y = sendFormat ? line.top() : line.top() + view->fontMetrics().ascent() + 1;
             y <= line.bottom(); ++y) {
            int inked = 0;
            for (int x = 0; x < image.width(); ++x)
                inked += image.pixelColor(x, y) == ink;
            widest = std::max(widest, inked);
        }
        QVERIFY2(widest >= 8, qPrintable(QString::number(widest)));
    }
}

// What assistive tools and input methods read of the text.
void TestTextView::whatToolsRead()
{
    setMarked(*view, u"first line\r\nse|cond"_s);
    QCOMPARE(view->inputMethodQuery(Qt::ImSurroundingText).toString(), u"second"_s);
    QCOMPARE(view->inputMethodQuery(Qt::ImCursorPosition).toInt(), 2);
    QVERIFY(view->inputMethodQuery(Qt::ImEnabled).toBool());

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

    // A large text's value is the caret's line, cut around the caret when long: never the whole.
    const QString longLine = QString(40000, u'a') + QString(40000, u'b');
    view->setContents(longLine + u"\r\nshort\r\n"_s + longLine);
    for (const auto &[caret, value] :
         { std::pair(80004, u"short"_s), std::pair(80009, longLine.left(65536)),
           std::pair(160011, longLine.right(65536)) }) {
        view->setSelection(caret, caret);
        QCOMPARE(accessible->text(QAccessible::Value), value);
    }
}

// A long change is told with its true extent and a start never ending in half a surrogate pair.
void TestTextView::longChangesToldWhole_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("told");
    const QString letters(300000, u'x');
    const QString faces = u"\U0001F600"_s.repeated(150000);
    QTest::addRow("paste") << u"ab"_s << u"paste"_s << letters
                           << QStringList { u"inserted 1 300000, 4096 told"_s };
    QTest::addRow("paste ending a screenful in a pair")
        << u"ab"_s << u"paste"_s << u"x"_s + faces
        << QStringList { u"inserted 1 300001, 4095 told"_s };
    QTest::addRow("select all, delete") << letters << u"delete all"_s << QString()
                                        << QStringList { u"removed 0 300000, 4096 told"_s };
    QTest::addRow("its undo") << letters << u"delete all, undo"_s << QString()
                              << QStringList { u"inserted 0 300000, 4096 told"_s };
    QTest::addRow("a whole new text")
        << u"abc"_s << u"set"_s << letters
        << QStringList { u"removed 0 3, 3 told"_s, u"inserted 0 300000, 4096 told"_s };
    QTest::addRow("a short edit") << letters << u"paste"_s << u"yz"_s << QStringList();
}

void TestTextView::longChangesToldWhole()
{
    QFETCH(QString, before);
    QFETCH(QString, action);
    QFETCH(QString, text);
    QFETCH(QStringList, told);

    view->setContents(before);
    longNews.clear();
    longestNews = 0;
    if (action == u"paste") {
        view->setSelection(1, 1);
        view->replaceSelection(text);
    } else if (action == u"set") {
        view->setContents(text);
    } else {
        view->selectAll();
        view->deleteSelection();
        if (action.endsWith(u"undo")) {
            longNews.clear();
            view->undo();
        }
    }
    QCOMPARE(longNews, told);
    QVERIFY(longestNews <= 4096);
}

QTEST_MAIN(TestTextView)
#include "tst_textview.moc"
