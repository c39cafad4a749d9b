// The Search menu and the find dialog with the real window; the line number prompt is scripted.
#include "busywork.h"
#include "editorfixture.h"
#include "marked.h"
#include "rope.h"
#include "textbuffer.h"

#include <QAccessible>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

enum Command {
    FindButton,
    ReplaceButton,
    ReplaceAllButton,
    FindNextKey,
    FindPreviousKey,
    DialogF3,
    DialogShiftF3,
    OpenFind, // replaceWith is what "Find what" holds once the dialog is open
    OpenReplace,
    GoToLine // the pattern is the line number given, none a cancel
};
enum Flag { Plain = 0, Case = 1, Words = 2, Expression = 4, Up = 8, NoWrap = 16 };

template<typename Widget>
Widget *child(QtForm &window, const char16_t *name)
{
    auto *widget = window.findDialog().findChild<Widget *>(QString::fromUtf16(name));
    if (!widget)
        qFatal("the find dialog has no %s", qPrintable(QString::fromUtf16(name)));
    return widget;
}

void fill(QtForm &window, const QString &pattern, const QString &replaceWith, int flags)
{
    child<QLineEdit>(window, u"findWhat")->setText(pattern);
    child<QLineEdit>(window, u"replaceWith")->setText(replaceWith);
    child<QCheckBox>(window, u"matchCase")->setChecked(flags & Case);
    child<QCheckBox>(window, u"wholeWords")->setChecked(flags & Words);
    child<QCheckBox>(window, u"regularExpression")->setChecked(flags & Expression);
    child<QCheckBox>(window, u"wrapAround")->setChecked(!(flags & NoWrap));
    child<QRadioButton>(window, flags & Up ? u"up" : u"down")->setChecked(true);
}

QString messageOf(QtForm &window) { return child<QLabel>(window, u"message")->text(); }

// What assistive tools read of a message: a notification named by its text, as they announce
// it when it appears (the real-window accessibility test listens to that).
QString toolsRead(QWidget *message)
{
    QAccessibleInterface *tool = QAccessible::queryAccessibleInterface(message);
    if (!tool || tool->role() != QAccessible::Notification)
        return u"not a notification"_s;
    const QAccessibleTextInterface *text = tool->textInterface();
    const QString name = tool->text(QAccessible::Name);
    if (!text || text->text(0, text->characterCount()) != name)
        return u"a text that is not its name"_s;
    return name;
}

// A text long enough for Replace All to go in several slices, with the Replace dialog open and
// set to replace its 300 "word"s.
QString startReplacingWords(EditorFixture &f)
{
    QString text;
    for (int i = 0; i < 300; ++i)
        text += u"word %1\r\n"_s.arg(i);
    f.start();
    f.text().setText(text);
    f.form.Search_Replace_Click();
    fill(f.window, u"word"_s, u"w"_s, Case);
    TextBuffer::setRewriteSlice(500);
    return text;
}

} // namespace

Q_DECLARE_METATYPE(Command)

class TestSearchCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commands_data();
    void commands();
    void tabReachesTheCheckedDirection_data();
    void tabReachesTheCheckedDirection();
    void longWorkShowsBusyAndStopsOnEscape();
    void replaceAllShowsEachSlice();
    void replaceAllOutOfMemoryKeepsWhatItDid();
};

void TestSearchCommands::commands_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("replaceWith");
    QTest::addColumn<int>("flags");
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("message");

    // The message and the replacement last, as most rows have none.
    const auto row = [](const char *name, const QString &text, const QString &pattern, int flags,
                        Command command, const QString &expected, const QString &message = {},
                        const QString &replaceWith = {}) {
        QTest::addRow("%s", name) << text << pattern << replaceWith << flags << command << expected
                                  << message;
    };
    const QString notFound = u"Not found"_s;
    row("find selects the match", u"a[]b cd cd"_s, u"cd"_s, Plain, FindButton, u"ab [cd] cd"_s);
    row("not found", u"ab[]c"_s, u"x"_s, Plain, FindButton, u"ab[]c"_s, notFound);
    row("wraps around", u"cd a[]b"_s, u"cd"_s, Plain, FindButton, u"[cd] ab"_s);
    row("no wrap", u"cd a[]b"_s, u"cd"_s, NoWrap, FindButton, u"cd a[]b"_s, notFound);
    row("up", u"cd cd [cd]"_s, u"cd"_s, Up, FindButton, u"cd [cd] cd"_s);
    row("F3 goes down whatever the direction", u"[cd] cd"_s, u"cd"_s, Up, FindNextKey,
        u"cd [cd]"_s);
    row("F3 not found, a note at the caret", u"cd a[]b"_s, u"cd"_s, NoWrap, FindNextKey,
        u"cd a[]b"_s, notFound);
    row("Shift+F3 goes up", u"cd cd [cd]"_s, u"cd"_s, Plain, FindPreviousKey, u"cd [cd] cd"_s);
    row("F3 in the dialog goes down", u"[cd] cd"_s, u"cd"_s, Up, DialogF3, u"cd [cd]"_s);
    row("Shift+F3 in the dialog goes up", u"cd cd [cd]"_s, u"cd"_s, Plain, DialogShiftF3,
        u"cd [cd] cd"_s);
    row("invalid expression", u"a(b[]"_s, u"a(b"_s, Expression, FindButton, u"a(b[]"_s,
        u"Invalid regular expression at position 3: missing closing parenthesis"_s);
    row("replace the match and find the next", u"[cd] cd"_s, u"cd"_s, Plain, ReplaceButton,
        u"x [cd]"_s, {}, u"x"_s);
    row("replace finds first when the selection is no match", u"[ab] cd"_s, u"cd"_s, Plain,
        ReplaceButton, u"ab [cd]"_s, {}, u"x"_s);
    row("replace with groups", u"[a1] b2"_s, u"(\\w)(\\d)"_s, Expression, ReplaceButton,
        u"1a [b2]"_s, {}, u"\\2\\1"_s);
    row("replace the last match", u"[cd]"_s, u"cd"_s, NoWrap, ReplaceButton, u"x[]"_s, notFound,
        u"x"_s);
    row("replace all", u"cd [cd] xcd"_s, u"cd"_s, Case | Words, ReplaceAllButton, u"[]x x xcd"_s,
        u"2 replacements"_s, u"x"_s);
    row("replace all of one", u"a[]b"_s, u"b"_s, Plain, ReplaceAllButton, u"a[]c"_s,
        u"1 replacement"_s, u"c"_s);
    row("replace all of nothing", u"a[]b"_s, u"x"_s, Plain, ReplaceAllButton, u"a[]b"_s,
        u"0 replacements"_s, u"y"_s);
    row("find, seeded from the selection", u"a [bc] d"_s, u"last"_s, Plain, OpenFind, u"a [bc] d"_s,
        {}, u"bc"_s);
    row("replace, a selection over lines keeps the last text", u"a[b\r\nc]"_s, u"last"_s, Plain,
        OpenReplace, u"a[b\r\nc]"_s, {}, u"last"_s);
    const QString lines = u"a\r\nb[]\r\nc"_s;
    row("go to line 3", lines, u"3"_s, Plain, GoToLine, u"a\r\nb\r\n[]c"_s);
    row("go to line cancelled", lines, {}, Plain, GoToLine, lines);
}

void TestSearchCommands::commands()
{
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QFETCH(QString, replaceWith);
    QFETCH(int, flags);
    QFETCH(Command, command);
    QFETCH(QString, expected);
    QFETCH(QString, message);

    EditorFixture f;
    f.start();
    const QString caption = f.window.caption();
    setMarked(f.text(), text);
    f.form.Search_Replace_Click();
    fill(f.window, pattern, replaceWith, flags);
    switch (command) {
    case FindButton:
    case ReplaceButton:
    case ReplaceAllButton: {
        const char16_t *buttons[] { u"findNext", u"replace", u"replaceAll" };
        QTest::mouseClick(child<QPushButton>(f.window, buttons[command]), Qt::LeftButton);
        break;
    }
    case FindNextKey:
    case FindPreviousKey:
        f.window.findDialog().hide();
        f.window.activateWindow();
        f.text().setFocus();
        QTRY_VERIFY(f.text().hasFocus());
        QTest::keyClick(&f.text(), Qt::Key_F3,
                        command == FindPreviousKey ? Qt::ShiftModifier : Qt::NoModifier);
        break;
    case DialogF3:
    case DialogShiftF3:
        f.window.findDialog().activateWindow();
        QTRY_VERIFY(f.window.findDialog().isActiveWindow());
        QTest::keyClick(child<QLineEdit>(f.window, u"findWhat"), Qt::Key_F3,
                        command == DialogShiftF3 ? Qt::ShiftModifier : Qt::NoModifier);
        break;
    case OpenFind:
    case OpenReplace: {
        QtFindDialog &dialog = f.window.findDialog();
        dialog.hide();
        command == OpenFind ? f.form.Search_Find_Click() : f.form.Search_Replace_Click();
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.windowTitle(), command == OpenFind ? u"Find"_s : u"Replace"_s);
        QCOMPARE(child<QPushButton>(f.window, u"replaceAll")->isVisible(), command == OpenReplace);
        auto *findWhat = child<QLineEdit>(f.window, u"findWhat");
        QCOMPARE(findWhat->text(), replaceWith);
        QTRY_VERIFY(findWhat->hasFocus());
        for (QWidget *widget : dialog.findChildren<QWidget *>()) {
            if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QAbstractButton *>(widget))
                QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
        }
        // Escape hides the dialog; it keeps its text for the next time.
        QTest::keyClick(findWhat, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(findWhat->text(), replaceWith);
        break;
    }
    case GoToLine:
        if (!pattern.isEmpty())
            f.numberInput.answers = { pattern.toLongLong() };
        f.form.Search_GoToLine_Click();
        QCOMPARE(f.numberInput.asked.size(), 1);
        const auto &asked = f.numberInput.asked.at(0);
        QCOMPARE(asked.title, u"Go To Line"_s);
        // From 1 to the number of lines, starting at the caret's line.
        QCOMPARE(QList({ asked.minimum, asked.maximum, asked.value }), QList<qint64>({ 1, 3, 2 }));
        break;
    }
    QCOMPARE(marked(f.text()), expected);
    QCOMPARE(messageOf(f.window), message);
    // Only a hidden dialog's message needs the note, which must outlive the key's release. It
    // sits just below the caret's line.
    const bool hidden = command == FindNextKey || command == FindPreviousKey;
    const auto *note = f.text().findChild<QLabel *>(u"note"_s);
    QCOMPARE(note && note->isVisible() ? note->text() : QString(), hidden ? message : QString());
    if (note) {
        const QRect caret = f.text().caretRect();
        QCOMPARE(note->pos(), f.text().viewport()->mapToGlobal(caret.bottomLeft() + QPoint(0, 1)));
        QCOMPARE(toolsRead(const_cast<QLabel *>(note)), message);
    }
    QCOMPARE(toolsRead(child<QLabel>(f.window, u"message")), message);
    // A replacement, one or all, is an edit of the document and one step of undo; a search is
    // neither.
    const QString given = QString(text).remove(u'[').remove(u']');
    QCOMPARE(f.form.textChanged(), f.text().text() != given);
    QCOMPARE(f.window.caption(), caption);
    QVERIFY(f.messageBoxes.calls.isEmpty());
    QTest::keyClick(&f.text(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(f.text().text(), given);
}

// The direction group is one stop of Tab, at its checked button, as in other dialogs; the
// arrows choose within it.
void TestSearchCommands::tabReachesTheCheckedDirection_data()
{
    QTest::addColumn<QString>("checked");
    QTest::addColumn<QString>("arrow"); // a key pressed on the group
    QTest::addColumn<QString>("reached");
    QTest::addRow("arrow to up") << u"down"_s << u"Left"_s << u"up"_s;
    QTest::addRow("arrow to down") << u"up"_s << u"Right"_s << u"down"_s;
}

void TestSearchCommands::tabReachesTheCheckedDirection()
{
    QFETCH(QString, checked);
    QFETCH(QString, arrow);
    QFETCH(QString, reached);

    EditorFixture f;
    f.start();
    f.form.Search_Replace_Click();
    QtFindDialog &dialog = f.window.findDialog();
    dialog.findChild<QRadioButton *>(checked)->setChecked(true);
    dialog.activateWindow();
    QTRY_VERIFY(dialog.isActiveWindow());
    auto *wrapAround = child<QCheckBox>(f.window, u"wrapAround");
    auto *findNext = child<QPushButton>(f.window, u"findNext");
    const auto tabFrom = [&](QWidget *from, bool back) {
        from->setFocus();
        QTest::keyClick(from, Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
        return dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString();
    };
    QCOMPARE(tabFrom(wrapAround, false), checked);
    QTest::keySequence(dialog.focusWidget(), QKeySequence(arrow));
    QCOMPARE(dialog.up(), reached == u"up"_s);
    QCOMPARE(tabFrom(wrapAround, false), reached);
    QCOMPARE(tabFrom(dialog.focusWidget(), false), u"findNext"_s);
    QCOMPARE(tabFrom(findNext, true), reached);
}

void TestSearchCommands::longWorkShowsBusyAndStopsOnEscape()
{
    EditorFixture f;
    f.start();
    f.text().setText(u"kept"_s);
    f.text().setFocus();
    {
        BusyWork work;
        QVERIFY(work.keepGoing());
        QVERIFY(!QGuiApplication::overrideCursor());
        QElapsedTimer clock;
        clock.start();
        while (!QGuiApplication::overrideCursor() && clock.elapsed() < 5000)
            QVERIFY(work.keepGoing());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        // Keys meanwhile change nothing; Escape stops the work.
        QTest::keyClick(&f.text(), Qt::Key_X);
        QVERIFY(work.keepGoing());
        QTest::keyClick(&f.text(), Qt::Key_Escape);
        QVERIFY(!work.keepGoing());
    }
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(f.text().text(), u"kept"_s);
    QVERIFY(!f.form.textChanged());
}

// Replace All makes its text a slice at a time, and the text box follows each slice, so that the
// window can repaint meanwhile; the changes it reports add up to the whole change.
void TestSearchCommands::replaceAllShowsEachSlice()
{
    EditorFixture f;
    const QString text = startReplacingWords(f);
    f.text().setSelStart(text.size());
    int slices = 0;
    qsizetype reported = 0;
    connect(&f.text(), &TextView::edited, [&](qsizetype, qsizetype removed, qsizetype added) {
        ++slices;
        reported += added - removed;
        QVERIFY(f.text().selStart() <= f.text().textLength());
    });
    QTest::mouseClick(child<QPushButton>(f.window, u"replaceAll"), Qt::LeftButton);
    TextBuffer::setRewriteSlice(0);
    QCOMPARE(messageOf(f.window), u"300 replacements"_s);
    QVERIFY(slices > 1);
    QCOMPARE(reported, f.text().textLength() - text.size());
}

// Memory running out part way through Replace All: failure 7 is told, the replacements made so
// far stay as one undo step, and the document counts as changed, so that closing asks to save.
void TestSearchCommands::replaceAllOutOfMemoryKeepsWhatItDid()
{
    EditorFixture f;
    const QString text = startReplacingWords(f);
    for (int allowed = 0;; ++allowed) {
        f.text().setText(text);
        f.messageBoxes.calls.clear();
        rope::failAllocationAfter(allowed);
        QTest::mouseClick(child<QPushButton>(f.window, u"replaceAll"), Qt::LeftButton);
        rope::failAllocationAfter(-1);
        QCOMPARE(f.messageBoxes.calls.size(), 1);
        QCOMPARE(f.messageBoxes.calls[0].title, u"7"_s);
        const QString after = f.text().text();
        QCOMPARE(f.form.textChanged(), after != text);
        if (after == text)
            continue;
        QCOMPARE(f.text().selStart(), 0);
        QVERIFY(after.startsWith(u"w 0\r\nw 1\r\n"_s) && after.endsWith(u"word 299\r\n"_s));
        QTest::keyClick(&f.text(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f.text().text(), text);
        break;
    }
    TextBuffer::setRewriteSlice(0);
}

QTEST_MAIN(TestSearchCommands)
#include "tst_searchcommands.moc"
