// Form1's start-up, window description, keys and resize rule, with the real window and text box.
#include "editorfixture.h"
#include "twips.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTest>

using namespace Qt::StringLiterals;

class TestForm1 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsAsBlankDocument();
    void menuTreeMatchesTheDesign();
    void keyCodesReachKeyPress_data();
    void keyCodesReachKeyPress();
    void programChangesLeaveTheDocumentClean();
    void menuShortcutsGoBeforeTheTextBox_data();
    void menuShortcutsGoBeforeTheTextBox();
    void textBoxFitsTheWindow_data();
    void textBoxFitsTheWindow();
    void tinyWindowKeepsPreviousSize();
    void untrappedFailureIsReportedAndTheProgramGoesOn();
};

// The caption comes from the design; the file command tests hold the one designed.
void TestForm1::startsAsBlankDocument()
{
    EditorFixture f;
    FormDesign design = f.form.design();
    const QString appTitle = design.caption = u"Scratch Pad"_s;
    f.start(design);
    QCOMPARE(f.window.caption(), appTitle + u" - Blank.txt"_s);
    QCOMPARE(f.form.appTitle(), appTitle);
    QCOMPARE(f.text().text(), QString());
    QVERIFY(!f.form.textChanged());
    QCOMPARE(f.form.currentFile(), QString());
    QVERIFY(f.window.isVisible());

    // New's caption and the prompt's title take it too.
    QTest::keyClicks(&f.text(), u"x"_s);
    f.dialog.fileAnswers = { QString() };
    f.form.File_New_Click(); // the save is cancelled; the discard prompt answers Yes
    QCOMPARE(f.window.caption(), appTitle + u" - Blank.txt"_s);
    QCOMPARE(f.messageBoxes.calls.size(), 1);
    QCOMPARE(f.messageBoxes.calls.at(0).title, appTitle);
}

void TestForm1::menuTreeMatchesTheDesign()
{
    EditorFixture f;
    f.start();
    // Each menu's caption, then its items as "name|caption|shortcut"; a bare name is a separator.
    const QList<QStringList> menus = {
        { u"&File"_s, u"File_New|&New|Ctrl+N"_s, u"Sep_File_New_Open"_s,
          u"File_Open|&Open|Ctrl+O"_s, u"Sep_File_Open_Save"_s, u"File_Save|&Save|Ctrl+S"_s,
          u"File_Save_As|&Save As|"_s, u"Sep_File_Save_Exit"_s, u"File_Exit|&Exit|Ctrl+E"_s },
        { u"&Edit"_s, u"Edit_Copy|&Copy|Ctrl+C"_s, u"Edit_Cut|&Cut|Ctrl+X"_s,
          u"Edit_Paste|&Paste|Ctrl+V"_s, u"Sep_Edit_Paste_SelectAll"_s,
          u"Edit_SelectAll|Select &All|Ctrl+A"_s, u"Sel_Edit_SelectAll_TextAppearence"_s,
          u"Edit_TextAppearence|Text Appearance...|"_s },
        { u"&Search"_s, u"Search_Find|&Find...|Ctrl+F"_s, u"Search_FindNext|Find &Next|F3"_s,
          u"Search_FindPrevious|Find &Previous|Shift+F3"_s, u"Search_Replace|&Replace...|Ctrl+H"_s,
          u"Sep_Search_Replace_GoToLine"_s, u"Search_GoToLine|&Go To Line...|Ctrl+G"_s },
    };
    const QList<QAction *> top = f.window.menuBar()->actions();
    QCOMPARE(top.size(), menus.size());
    for (int m = 0; m < menus.size(); ++m) {
        QCOMPARE(top.at(m)->text(), menus.at(m).first());
        const QList<QAction *> items = top.at(m)->menu()->actions();
        QCOMPARE(items.size(), menus.at(m).size() - 1);
        for (int i = 0; i < items.size(); ++i) {
            const QStringList row = menus.at(m).at(i + 1).split(u'|');
            QCOMPARE(items.at(i)->objectName(), row.at(0));
            QCOMPARE(items.at(i)->isSeparator(), row.size() == 1);
            if (row.size() > 1)
                QCOMPARE(items.at(i)->text(), row.at(1));
            QCOMPARE(items.at(i)->shortcut().toString(QKeySequence::PortableText), row.value(2));
            QVERIFY(items.at(i)->isEnabled());
        }
    }
}

// Each key reaches KeyPress with its code (-1: none), and only those that edit, or reach
// KeyPress, mark the document changed.
void TestForm1::keyCodesReachKeyPress_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("changed");

    const auto row = [](const char *name, int key, int modifiers, const QString &text, int code,
                        bool changed, const QString &initial = u"ab"_s, int caret = 1) {
        QTest::addRow("%s", name) << initial << caret << key << modifiers << text << code
                                  << changed;
    };
    row("letter", Qt::Key_A, 0, u"a"_s, 97, true);
    row("capital", Qt::Key_A, Qt::ShiftModifier, u"A"_s, 65, true);
    row("non-ascii", Qt::Key_Eacute, 0, u"é"_s, 0xE9, true);
    row("enter", Qt::Key_Return, 0, u"\r"_s, 13, true);
    row("backspace", Qt::Key_Backspace, 0, u"\b"_s, 8, true);
    row("tab", Qt::Key_Tab, 0, u"\t"_s, 9, true);
    row("escape changes nothing but marks", Qt::Key_Escape, 0, u"\x1b"_s, 27, true);
    row("ctrl+b", Qt::Key_B, Qt::ControlModifier, u"\x02"_s, 2, true);
    row("left", Qt::Key_Left, 0, QString(), -1, false);
    row("delete in the middle", Qt::Key_Delete, 0, u"\x7f"_s, -1, true);
    row("delete at the end", Qt::Key_Delete, 0, u"\x7f"_s, -1, false, u"ab"_s, 2);
    row("f5", Qt::Key_F5, 0, QString(), -1, false);
    row("home", Qt::Key_Home, 0, QString(), -1, false, u"abc\r\ndef"_s, 4);
    row("end", Qt::Key_End, 0, QString(), -1, false, u"abc\r\ndef"_s, 4);
}

void TestForm1::keyCodesReachKeyPress()
{
    QFETCH(QString, initial);
    QFETCH(int, caret);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(int, code);
    QFETCH(bool, changed);

    EditorFixture f;
    FormDesign design = f.form.design();
    QList<int> seen;
    const auto original = design.textBox.keyPress;
    design.textBox.keyPress = [&](qint16 keyAscii) {
        seen.append(keyAscii);
        original(keyAscii);
    };
    f.start(design);
    f.text().setText(initial);
    f.text().setSelStart(caret);
    QVERIFY(!f.form.textChanged());

    QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
    QApplication::sendEvent(&f.text(), &press);
    QCOMPARE(seen, code < 0 ? QList<int>() : QList<int> { code });
    QCOMPARE(f.form.textChanged(), changed);
}

void TestForm1::programChangesLeaveTheDocumentClean()
{
    EditorFixture f;
    f.start();
    f.text().setText(u"one\r\ntwo"_s);
    f.text().setSelStart(3);
    f.text().setSelText(u"!"_s);
    f.text().setFontBold(true);
    f.text().setForeColor(0x0000ff);
    QVERIFY(!f.form.textChanged());

    // Undo is the user's own edit, even of a change the program made.
    QTest::keyClick(&f.text(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(f.text().text(), u"one\r\ntwo"_s);
    QVERIFY(f.form.textChanged());
}

void TestForm1::menuShortcutsGoBeforeTheTextBox_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QKeyCombination>("keys");
    const auto ctrl = [](Qt::Key key) { return QKeyCombination(Qt::ControlModifier, key); };
    QTest::addRow("new") << u"File_New"_s << ctrl(Qt::Key_N);
    QTest::addRow("find") << u"Search_Find"_s << ctrl(Qt::Key_F);
    QTest::addRow("find next") << u"Search_FindNext"_s << QKeyCombination(Qt::Key_F3);
    QTest::addRow("find previous")
        << u"Search_FindPrevious"_s << QKeyCombination(Qt::ShiftModifier, Qt::Key_F3);
    // Text widgets often take Ctrl+H as Backspace.
    QTest::addRow("replace") << u"Search_Replace"_s << ctrl(Qt::Key_H);
    QTest::addRow("go to line") << u"Search_GoToLine"_s << ctrl(Qt::Key_G);
}

void TestForm1::menuShortcutsGoBeforeTheTextBox()
{
    QFETCH(QString, item);
    QFETCH(QKeyCombination, keys);

    EditorFixture f;
    FormDesign design = f.form.design();
    int runs = 0;
    for (MenuItemDesign &entry : design.menus) {
        if (entry.name == item)
            entry.click = [&runs] { ++runs; };
    }
    f.start(design);
    f.text().setText(u"some text"_s);
    f.text().setFocus();
    QTRY_VERIFY(f.text().hasFocus());
    f.text().setSelStart(4);
    QTest::keyClick(&f.text(), keys.key(), keys.keyboardModifiers());
    QCOMPARE(runs, 1);
    // The text box's own handling did not run as well.
    QCOMPARE(f.text().text(), u"some text"_s);
}

// Every way the window gets its size refits the text box to it.
enum class Sizing { Resized, StartedSmall, StartedLarge, MinimizedAndRestored };

void TestForm1::textBoxFitsTheWindow_data()
{
    QTest::addColumn<Sizing>("sizing");
    QTest::addRow("resized") << Sizing::Resized;
    QTest::addRow("smaller than the screen: as described") << Sizing::StartedSmall;
    QTest::addRow("larger than the screen: fitted") << Sizing::StartedLarge;
    QTest::addRow("minimized and restored") << Sizing::MinimizedAndRestored;
}

void TestForm1::textBoxFitsTheWindow()
{
    QFETCH(Sizing, sizing);

    EditorFixture f;
    const QRect available = f.window.screen()->availableGeometry();
    FormDesign design = f.form.design();
    const double share = sizing == Sizing::StartedLarge ? 1.5 : 0.5; // of the available space
    if (sizing == Sizing::StartedSmall || sizing == Sizing::StartedLarge) {
        design.clientWidth = Twips::fromPixelsX(&f.window, int(available.width() * share));
        design.clientHeight = Twips::fromPixelsY(&f.window, int(available.height() * share));
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
    } else if (sizing == Sizing::Resized) {
        f.window.resize(600, 400);
        QTRY_COMPARE(f.window.size(), QSize(600, 400));
        f.form.Form_Resize();
        // At 96 dots per inch: 50 twips is about 3 pixels, 250 about 17 and 950 about 63.
        const QSize outer = f.window.frameGeometry().size();
        if (f.text().logicalDpiX() == 96)
            QCOMPARE(f.text().geometry(), QRect(3, 3, outer.width() - 17, outer.height() - 63));
    }
    QCOMPARE(f.text().left(), 50);
    QCOMPARE(f.text().top(), 50);
    QCOMPARE(f.text().width(), f.window.width() - 250);
    QCOMPARE(f.text().height(), f.window.height() - 950);
}

void TestForm1::tinyWindowKeepsPreviousSize()
{
    EditorFixture f;
    f.start();
    f.window.resize(500, 300);
    QTRY_COMPARE(f.window.QWidget::width(), 500);
    const int width = f.text().width();
    const int height = f.text().height();
    f.window.setMinimumSize(1, 1);
    f.window.resize(10, 20); // too small for a positive width and height
    QTRY_VERIFY(f.window.QWidget::width() <= 10);
    QVERIFY(f.window.width() < 250);
    QCOMPARE(f.text().width(), width);
    QCOMPARE(f.text().height(), height);
    QCOMPARE(f.text().left(), 50);
}

void TestForm1::untrappedFailureIsReportedAndTheProgramGoesOn()
{
    EditorFixture f;
    FormDesign design = f.form.design();
    for (MenuItemDesign &entry : design.menus) {
        if (entry.name == u"Edit_Copy"_s)
            entry.click
                = [] { throw Failure(FailureNumber::DeviceIOError, u"Device I/O error"_s); };
    }
    f.start(design);
    f.text().setText(u"kept"_s);
    f.window.findChild<QAction *>(u"Edit_Copy"_s)->trigger();
    QCOMPARE(f.messageBoxes.calls.size(), 1);
    QCOMPARE(f.messageBoxes.calls.at(0).prompt, u"Device I/O error"_s);
    QCOMPARE(f.messageBoxes.calls.at(0).title, u"57"_s);
    QCOMPARE(f.text().text(), u"kept"_s);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
