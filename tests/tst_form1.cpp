// Form1's start-up, window description, keys and resize rule, with the real window and text box.
#include "editorfixture.h"
#include "files.h"
#include "twips.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestForm1 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsAsBlankDocument();
    void keys_data();
    void keys();
    void textBoxFitsTheWindow_data();
    void textBoxFitsTheWindow();
    void untrappedFailureIsReportedAndTheProgramGoesOn();
    void wordWrapItemWrapsTheTextBox();
    void statusBarTakesTheBottom();
    void statusBarTellsTheEncoding();
    void statusBarCountsWhatTheUserSees_data();
    void statusBarCountsWhatTheUserSees();

private:
    // The fixture started with `click` run by the menu item `item` in place of its handler.
    static void startWith(EditorFixture &f, const QString &item, std::function<void()> click,
                          FormDesign design)
    {
        for (MenuItemDesign &entry : design.menus)
            entry.click = entry.name == item ? click : entry.click;
        f.start(design);
    }
};

// The caption comes from the design; the file command tests hold the one designed.
void TestForm1::startsAsBlankDocument()
{
    EditorFixture f;
    FormDesign design = f.form.design();
    const QString appTitle = design.caption = u"Scratch Pad"_s;
    f.start(design);
    QCOMPARE(f.window.caption(), appTitle + u" - Blank.txt"_s);
    QCOMPARE(f.text().text(), QString());
    QVERIFY(!f.form.textChanged());
    QCOMPARE(f.form.currentFile(), QString());
    QVERIFY(f.window.isVisible());

    // Captions and separators ("-"), each menu on a line, "[ ]" after an item that takes a mark;
    // the shortcuts are tried below.
    QStringList menus;
    for (const QAction *menu : f.window.menuBar()->actions()) {
        QStringList items { menu->text() };
        for (const QAction *item : menu->menu()->actions())
            items << (item->isSeparator()
                          ? u"-"_s
                          : item->text() + (item->isCheckable() ? u"[ ]"_s : u""_s));
        menus << items.join(u'|');
    }
    QCOMPARE(menus,
             QStringList({ u"&File|&New|-|&Open|-|&Save|&Save As|-|&Exit"_s,
                           u"&Edit|&Copy|&Cut|&Paste|-|Select &All|-|Text Appearance..."_s,
                           u"&Search|&Find...|Find &Next|Find &Previous|&Replace...|-|"
                           "&Go To Line..."_s,
                           u"&View|&Word Wrap[ ]|&Status Bar[ ]"_s }));

    // New's caption and the prompt's title take it too.
    QTest::keyClicks(&f.text(), u"x"_s);
    f.dialog.fileAnswers = { QString() };
    f.form.File_New_Click(); // the save is cancelled; the discard prompt answers Yes
    QCOMPARE(f.window.caption(), appTitle + u" - Blank.txt"_s);
    QCOMPARE(f.messageBoxes.calls.size(), 1);
    QCOMPARE(f.messageBoxes.calls.at(0).title, appTitle);
}

// Each key reaches KeyPress with its code (-1: none) and only edits or KeyPress mark a change; a
// menu's shortcut runs its item and goes no further.
void TestForm1::keys_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QKeyCombination>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("item");
    const auto row = [](const char *name, QKeyCombination key, const QString &text, int code,
                        bool changed, const QString &initial = u"ab"_s, int caret = 1) {
        QTest::addRow("%s", name) << initial << caret << key << text << code << changed
                                  << QString();
    };
    row("letter", Qt::Key_A, u"a"_s, 97, true);
    row("capital", Qt::ShiftModifier | Qt::Key_A, u"A"_s, 65, true);
    row("non-ascii", Qt::Key_Eacute, u"é"_s, 0xE9, true);
    row("enter", Qt::Key_Return, u"\r"_s, 13, true);
    row("backspace", Qt::Key_Backspace, u"\b"_s, 8, true);
    row("tab", Qt::Key_Tab, u"\t"_s, 9, true);
    row("escape changes nothing but marks", Qt::Key_Escape, u"\x1b"_s, 27, true);
    row("ctrl+b", Qt::ControlModifier | Qt::Key_B, u"\x02"_s, 2, true);
    row("left", Qt::Key_Left, QString(), -1, false);
    row("delete in the middle", Qt::Key_Delete, u"\x7f"_s, -1, true);
    row("delete at the end", Qt::Key_Delete, u"\x7f"_s, -1, false, u"ab"_s, 2);
    row("end", Qt::Key_End, QString(), -1, false, u"abc\r\ndef"_s, 4);

    // Text widgets often take Ctrl+H as Backspace.
    for (const auto &[item, keys] : { std::pair("File_New", "Ctrl+N"),
                                      { "File_Open", "Ctrl+O" },
                                      { "File_Save", "Ctrl+S" },
                                      { "File_Exit", "Ctrl+E" },
                                      { "Search_Find", "Ctrl+F" },
                                      { "Search_Replace", "Ctrl+H" },
                                      { "Search_GoToLine", "Ctrl+G" } }) {
        QTest::addRow("%s", item) << u"some text"_s << 4
                                  << QKeySequence::fromString(QString::fromLatin1(keys))[0]
                                  << QString() << -1 << false << QString::fromLatin1(item);
    }
}

void TestForm1::keys()
{
    QFETCH(QString, initial);
    QFETCH(int, caret);
    QFETCH(QKeyCombination, key);
    QFETCH(QString, text);
    QFETCH(int, code);
    QFETCH(bool, changed);
    QFETCH(QString, item);

    EditorFixture f;
    FormDesign design = f.form.design();
    QList<int> seen;
    const auto original = design.textBox.keyPress;
    design.textBox.keyPress = [&](qint16 keyAscii) {
        seen.append(keyAscii);
        original(keyAscii);
    };
    int runs = 0;
    startWith(
        f, item, [&runs] { ++runs; }, design);
    f.text().setText(initial);
    f.text().setFocus();
    QTRY_VERIFY(f.text().hasFocus());
    f.text().setSelStart(caret);
    QVERIFY(!f.form.textChanged());

    QTest::sendKeyEvent(QTest::Click, &f.text(), key.key(), text, key.keyboardModifiers());
    QCOMPARE(seen, code < 0 ? QList<int>() : QList<int> { code });
    QCOMPARE(f.form.textChanged(), changed);
    QCOMPARE(runs, item.isEmpty() ? 0 : 1);
    if (runs)
        QCOMPARE(f.text().text(), initial);
}

// Every way the window gets its size refits the text box to it; a window then made too small for
// a positive size leaves the text box as it was.
enum class Sizing { Resized, StartedSmall, MinimizedAndRestored };

void TestForm1::textBoxFitsTheWindow_data()
{
    QTest::addColumn<Sizing>("sizing");
    QTest::addRow("resized, then too small") << Sizing::Resized;
    QTest::addRow("smaller than the screen: as described") << Sizing::StartedSmall;
    QTest::addRow("minimized and restored") << Sizing::MinimizedAndRestored;
}

void TestForm1::textBoxFitsTheWindow()
{
    QFETCH(Sizing, sizing);

    EditorFixture f;
    const QRect available = f.window.screen()->availableGeometry();
    FormDesign design = f.form.design();
    if (sizing == Sizing::StartedSmall) {
        design.clientWidth = Twips::fromPixelsX(&f.window, available.width() / 2);
        design.clientHeight = Twips::fromPixelsY(&f.window, available.height() / 2);
    }
    int resizes = 0;
    const auto original = design.resize;
    design.resize = [&] {
        ++resizes;
        original();
    };
    f.start(design);
    QVERIFY(resizes >= 1); // on show
    QTRY_VERIFY(available.contains(f.window.frameGeometry()));
    if (sizing == Sizing::StartedSmall) {
        QCOMPARE(f.window.centralWidget()->size(),
                 QSize(Twips::toPixelsX(&f.window, design.clientWidth),
                       Twips::toPixelsY(&f.window, design.clientHeight)));
    } else if (sizing == Sizing::MinimizedAndRestored) {
        resizes = 0;
        f.window.showMinimized();
        f.window.showNormal();
        QVERIFY(resizes >= 2);
    } else {
        f.window.resize(600, 400);
        QTRY_COMPARE(f.window.size(), QSize(600, 400));
        f.form.Form_Resize();
        // At 96 dots per inch: 50 twips is about 3 pixels, 250 about 17 and 950 about 63.
        const QSize outer = f.window.frameGeometry().size();
        if (f.text().logicalDpiX() == 96)
            QCOMPARE(f.text().geometry(), QRect(3, 3, outer.width() - 17, outer.height() - 63));
    }
    QCOMPARE(QList<int>({ f.text().left(), f.text().top(), f.text().width(), f.text().height() }),
             QList<int>({ 50, 50, f.window.width() - 250, f.window.height() - 950 }));
    if (sizing == Sizing::Resized) {
        const QRect before = f.text().geometry();
        f.window.setMinimumSize(1, 1);
        f.window.resize(10, 20);
        QTRY_VERIFY(f.window.QWidget::width() <= 10);
        QVERIFY(f.window.width() < 250);
        QCOMPARE(f.text().geometry(), before);
    }
}

void TestForm1::untrappedFailureIsReportedAndTheProgramGoesOn()
{
    EditorFixture f;
    startWith(
        f, u"Edit_Copy"_s,
        [] { throw Failure(FailureNumber::DeviceIOError, u"Device I/O error"_s); },
        f.form.design());
    f.text().setText(u"kept"_s);
    f.window.findChild<QAction *>(u"Edit_Copy"_s)->trigger();
    QCOMPARE(f.messageBoxes.calls.size(), 1);
    QCOMPARE(f.messageBoxes.calls.at(0).prompt, u"Device I/O error"_s);
    QCOMPARE(f.messageBoxes.calls.at(0).title, u"57"_s);
    QCOMPARE(f.text().text(), u"kept"_s);
}

// The item's mark and the text box's wrapping go together; unwrapped, the box has its
// horizontal scroll bar again.
void TestForm1::wordWrapItemWrapsTheTextBox()
{
    EditorFixture f;
    f.start();
    QAction *item = f.window.findChild<QAction *>(u"View_WordWrap"_s);
    QVERIFY(item && !f.text().wordWrap());
    f.text().setText(u"word "_s.repeated(400));
    for (const bool wrapped : { true, false }) {
        item->trigger();
        QCOMPARE(item->isChecked(), wrapped);
        QCOMPARE(f.text().wordWrap(), wrapped);
        QCOMPARE(f.text().horizontalScrollBarPolicy(),
                 wrapped ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
        QCOMPARE(f.text().horizontalScrollBar()->maximum() > 0, !wrapped);
    }
}

// The bar comes and goes with its menu item's mark; while shown, the text box ends where the bar
// begins, and the resize rule still places the rest.
void TestForm1::statusBarTakesTheBottom()
{
    EditorFixture f;
    f.start();
    QAction *item = f.window.findChild<QAction *>(u"View_StatusBar"_s);
    QVERIFY(item && !f.window.findChild<QStatusBar *>());
    const QRect unwrappedRule = f.text().geometry();

    for (const QSize size : { QSize(), QSize(640, 420) }) {
        if (size.isValid()) {
            f.window.resize(size);
            QTRY_COMPARE(f.window.size(), size);
        } else {
            item->trigger();
        }
        QVERIFY(item->isChecked());
        QVERIFY(f.window.statusBar()->isVisible());
        const int clientBottom = f.window.centralWidget()->height();
        QVERIFY(qAbs(f.text().geometry().bottom() + 1 - clientBottom) <= 1);
        QCOMPARE(f.text().top(), 50);
        QCOMPARE(f.text().width(), f.window.width() - 250);
    }

    f.window.resize(unwrappedRule.size() + QSize(17, 63));
    item->trigger();
    QVERIFY(!item->isChecked());
    QVERIFY(!f.window.statusBar()->isVisible());
    QCOMPARE(f.text().height(), f.window.height() - 950);
}

// The file's encoding as it was read, shown the moment the bar is, and a new document's after New.
void TestForm1::statusBarTellsTheEncoding()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(u"unicode.txt"_s);
    writeBytes(path, QByteArray("\xff\xfe\"\0a\0\"\0\r\0\n\0", 12));
    EditorFixture f;
    f.start();
    f.dialog.fileAnswers = { path };
    f.form.File_Open_Click();
    QCOMPARE(f.text().text(), u"a\r\n"_s);
    f.window.findChild<QAction *>(u"View_StatusBar"_s)->trigger();
    const QLabel *encoding = f.window.findChild<QLabel *>(u"Form1_Encoding"_s);
    QVERIFY(encoding);
    QCOMPARE(encoding->text(), u"UTF-16 LE"_s);
    f.form.File_New_Click();
    QCOMPARE(encoding->text(), u"UTF-8"_s);
}

// '|' marks the caret; the keys move it, or type the row's text when Key_unknown. Counted in what
// the user sees as characters (the counting itself is the cluster count tests').
void TestForm1::statusBarCountsWhatTheUserSees_data()
{
    QTest::addColumn<QString>("marked");
    QTest::addColumn<QList<QKeyCombination>>("keys");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("status");
    const auto row = [](const char *name, const QString &marked,
                        std::initializer_list<QKeyCombination> keys, const QString &status,
                        const QString &typed = QString()) {
        QTest::addRow("%s", name) << marked << QList<QKeyCombination>(keys) << typed << status;
    };
    const Qt::Key end = Qt::Key_End;
    const Qt::Key left = Qt::Key_Left;
    const QKeyCombination selectHome = Qt::ShiftModifier | Qt::Key_Home;
    row("start", u"|ab"_s, {}, u"Ln 1, Col 1"_s);
    row("after a pair and a mark", u"|a\U0001F600e\u0301\tb"_s, { end, left }, u"Ln 1, Col 5"_s);
    row("second line", u"ab\r\n\U0001F600|c"_s, {}, u"Ln 2, Col 2"_s);
    row("selection over a line break", u"a\U0001F600|\r\ne\u0301\tb"_s,
        { Qt::ShiftModifier | Qt::ControlModifier | Qt::Key_End }, u"Ln 2, Col 4, 4 selected"_s);
    row("selection back to the line start", u"e\u0301e\u0301|x"_s, { selectHome },
        u"Ln 1, Col 1, 2 selected"_s);
    // A long line keeps counts along it; an edit before them must drop them.
    row("long line edited before its kept counts", u"|"_s + u"ab"_s.repeated(40000),
        { end, Qt::Key_Home, Qt::Key_unknown, end }, u"Ln 1, Col 80002"_s, u"e\u0301"_s);
    // Past the part counted at once, the rest is counted between events.
    row("long selection", u"ab"_s.repeated(40000) + u"e\u0301|"_s, { selectHome },
        u"Ln 1, Col 1, 80001 selected"_s);
}

void TestForm1::statusBarCountsWhatTheUserSees()
{
    QFETCH(QString, marked);
    QFETCH(QList<QKeyCombination>, keys);
    QFETCH(QString, typed);
    QFETCH(QString, status);

    EditorFixture f;
    f.start();
    f.window.findChild<QAction *>(u"View_StatusBar"_s)->trigger();
    const QLabel *bar = f.window.statusBar()->findChild<QLabel *>(u"StatusBar_Caret"_s);
    QVERIFY(bar);
    const qsizetype caret = marked.indexOf(u'|');
    f.text().setText(marked.remove(u'|'));
    f.text().setSelStart(caret);
    for (const QKeyCombination key : keys) {
        if (key.key() == Qt::Key_unknown)
            f.text().setSelText(typed);
        else
            QTest::keyClick(&f.text(), key.key(), key.keyboardModifiers());
    }
    QTRY_COMPARE(bar->text(), status);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
