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
    void captionComesFromTheDesign();
    void menuTreeMatchesTheDesign();
    void keyCodesReachKeyPress_data();
    void keyCodesReachKeyPress();
    void userEditsMarkTheDocumentChanged_data();
    void userEditsMarkTheDocumentChanged();
    void programChangesLeaveTheDocumentClean();
    void menuShortcutsGoBeforeTheTextBox_data();
    void menuShortcutsGoBeforeTheTextBox();
    void resizeFitsTheTextBox();
    void startFitsTheScreen_data();
    void startFitsTheScreen();
    void tinyWindowKeepsPreviousSize();
    void minimizeAndRestoreRefit();
    void untrappedFailureIsReportedAndTheProgramGoesOn();
};

void TestForm1::startsAsBlankDocument()
{
    EditorFixture f;
    f.start();
    QCOMPARE(f.window.caption(), u"Quorvex - Blank.txt"_s);
    QCOMPARE(f.form.appTitle(), u"Quorvex"_s);
    QCOMPARE(f.text().text(), QString());
    QVERIFY(!f.form.textChanged());
    QCOMPARE(f.form.currentFile(), QString());
    QVERIFY(f.window.isVisible());
}

void TestForm1::captionComesFromTheDesign()
{
    EditorFixture f;
    FormDesign design = f.form.design();
    design.caption = u"Scratch Pad"_s;
    f.start(design);
    QCOMPARE(f.window.caption(), u"Scratch Pad - Blank.txt"_s);

    // The saved caption and New's caption start with it too.
    QTest::keyClicks(&f.text(), u"x"_s);
    f.dialog.fileAnswers = { QString() };
    f.form.File_New_Click(); // the save is cancelled; the discard prompt answers Yes
    QCOMPARE(f.window.caption(), u"Scratch Pad - Blank.txt"_s);
    QCOMPARE(f.messageBoxes.calls.size(), 1);
    QCOMPARE(f.messageBoxes.calls.at(0).title, u"Scratch Pad"_s);
}

void TestForm1::menuTreeMatchesTheDesign()
{
    EditorFixture f;
    f.start();
    struct Row
    {
        QString name, caption, shortcut;
    };
    const QList<Row> file = {
        { u"File_New"_s, u"&New"_s, u"Ctrl+N"_s },
        { u"Sep_File_New_Open"_s, QString(), QString() },
        { u"File_Open"_s, u"&Open"_s, u"Ctrl+O"_s },
        { u"Sep_File_Open_Save"_s, QString(), QString() },
        { u"File_Save"_s, u"&Save"_s, u"Ctrl+S"_s },
        { u"File_Save_As"_s, u"&Save As"_s, QString() },
        { u"Sep_File_Save_Exit"_s, QString(), QString() },
        { u"File_Exit"_s, u"&Exit"_s, u"Ctrl+E"_s },
    };
    const QList<Row> edit = {
        { u"Edit_Copy"_s, u"&Copy"_s, u"Ctrl+C"_s },
        { u"Edit_Cut"_s, u"&Cut"_s, u"Ctrl+X"_s },
        { u"Edit_Paste"_s, u"&Paste"_s, u"Ctrl+V"_s },
        { u"Sep_Edit_Paste_SelectAll"_s, QString(), QString() },
        { u"Edit_SelectAll"_s, u"Select &All"_s, u"Ctrl+A"_s },
        { u"Sel_Edit_SelectAll_TextAppearence"_s, QString(), QString() },
        { u"Edit_TextAppearence"_s, u"Text Appearance..."_s, QString() },
    };
    const QList<Row> search = {
        { u"Search_Find"_s, u"&Find..."_s, u"Ctrl+F"_s },
        { u"Search_FindNext"_s, u"Find &Next"_s, u"F3"_s },
        { u"Search_FindPrevious"_s, u"Find &Previous"_s, u"Shift+F3"_s },
        { u"Search_Replace"_s, u"&Replace..."_s, u"Ctrl+H"_s },
        { u"Sep_Search_Replace_GoToLine"_s, QString(), QString() },
        { u"Search_GoToLine"_s, u"&Go To Line..."_s, u"Ctrl+G"_s },
    };
    const QList<QAction *> top = f.window.menuBar()->actions();
    QCOMPARE(top.size(), 3);
    QCOMPARE(top.at(0)->text(), u"&File"_s);
    QCOMPARE(top.at(1)->text(), u"&Edit"_s);
    QCOMPARE(top.at(2)->text(), u"&Search"_s);
    const QList<QList<Row>> menus = { file, edit, search };
    for (int m = 0; m < menus.size(); ++m) {
        const QList<QAction *> items = top.at(m)->menu()->actions();
        QCOMPARE(items.size(), menus.at(m).size());
        for (int i = 0; i < items.size(); ++i) {
            const Row &row = menus.at(m).at(i);
            QCOMPARE(items.at(i)->objectName(), row.name);
            QCOMPARE(items.at(i)->isSeparator(), row.caption.isEmpty());
            if (!row.caption.isEmpty())
                QCOMPARE(items.at(i)->text(), row.caption);
            QCOMPARE(items.at(i)->shortcut().toString(QKeySequence::PortableText), row.shortcut);
            QVERIFY(items.at(i)->isEnabled());
        }
    }
}

void TestForm1::keyCodesReachKeyPress_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code"); // -1: no key press event

    QTest::addRow("letter") << int(Qt::Key_A) << 0 << u"a"_s << 97;
    QTest::addRow("capital") << int(Qt::Key_A) << int(Qt::ShiftModifier) << u"A"_s << 65;
    QTest::addRow("non-ascii") << int(Qt::Key_Eacute) << 0 << u"é"_s << 0xE9;
    QTest::addRow("enter") << int(Qt::Key_Return) << 0 << u"\r"_s << 13;
    QTest::addRow("backspace") << int(Qt::Key_Backspace) << 0 << u"\b"_s << 8;
    QTest::addRow("tab") << int(Qt::Key_Tab) << 0 << u"\t"_s << 9;
    QTest::addRow("escape") << int(Qt::Key_Escape) << 0 << u"\x1b"_s << 27;
    QTest::addRow("ctrl+b") << int(Qt::Key_B) << int(Qt::ControlModifier) << u"\x02"_s << 2;
    QTest::addRow("left") << int(Qt::Key_Left) << 0 << QString() << -1;
    QTest::addRow("delete") << int(Qt::Key_Delete) << 0 << u"\x7f"_s << -1;
    QTest::addRow("f5") << int(Qt::Key_F5) << 0 << QString() << -1;
}

void TestForm1::keyCodesReachKeyPress()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(int, code);

    EditorFixture f;
    FormDesign design = f.form.design();
    QList<int> seen;
    const auto original = design.textBox.keyPress;
    design.textBox.keyPress = [&](qint16 keyAscii) {
        seen.append(keyAscii);
        original(keyAscii);
    };
    f.start(design);
    f.text().setText(u"ab"_s);
    f.text().setSelStart(1);

    QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
    QApplication::sendEvent(&f.text(), &press);
    QCOMPARE(seen, code < 0 ? QList<int>() : QList<int> { code });
    if (code >= 0)
        QVERIFY(f.form.textChanged());
}

void TestForm1::userEditsMarkTheDocumentChanged_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<bool>("changed");

    using L = QList<int>;
    QTest::addRow("arrows only") << u"abc"_s << 1 << L { Qt::Key_Left, Qt::Key_Right, Qt::Key_Down }
                                 << false;
    QTest::addRow("delete at the end") << u"abc"_s << 3 << L { Qt::Key_Delete } << false;
    QTest::addRow("delete in the middle") << u"abc"_s << 1 << L { Qt::Key_Delete } << true;
    QTest::addRow("escape changes nothing but marks")
        << u"abc"_s << 1 << L { Qt::Key_Escape } << true;
    QTest::addRow("home and end") << u"abc\r\ndef"_s << 4 << L { Qt::Key_Home, Qt::Key_End }
                                  << false;
}

void TestForm1::userEditsMarkTheDocumentChanged()
{
    QFETCH(QString, initial);
    QFETCH(int, caret);
    QFETCH(QList<int>, keys);
    QFETCH(bool, changed);

    EditorFixture f;
    f.start();
    f.text().setText(initial);
    f.text().setSelStart(caret);
    QVERIFY(!f.form.textChanged());
    for (int key : keys)
        QTest::keyClick(&f.text(), Qt::Key(key));
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
    QTest::addRow("select all") << u"Edit_SelectAll"_s << ctrl(Qt::Key_A);
    QTest::addRow("copy") << u"Edit_Copy"_s << ctrl(Qt::Key_C);
    QTest::addRow("cut") << u"Edit_Cut"_s << ctrl(Qt::Key_X);
    QTest::addRow("paste") << u"Edit_Paste"_s << ctrl(Qt::Key_V);
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

void TestForm1::resizeFitsTheTextBox()
{
    EditorFixture f;
    f.start();
    f.window.resize(600, 400);
    QTRY_COMPARE(f.window.size(), QSize(600, 400));
    f.form.Form_Resize();
    const QSize outer = f.window.frameGeometry().size();
    QCOMPARE(f.text().left(), 50);
    QCOMPARE(f.text().top(), 50);
    QCOMPARE(f.text().width(), f.window.width() - 250);
    QCOMPARE(f.text().height(), f.window.height() - 950);
    // At 96 dots per inch: 50 twips is about 3 pixels, 250 about 17 and 950 about 63.
    if (f.text().logicalDpiX() == 96) {
        QCOMPARE(f.text().geometry(), QRect(3, 3, outer.width() - 17, outer.height() - 63));
    }
}

void TestForm1::startFitsTheScreen_data()
{
    QTest::addColumn<double>("share"); // of the screen's available width and height
    QTest::addRow("smaller than the screen: as described") << 0.5;
    QTest::addRow("larger than the screen: fitted") << 1.5;
}

void TestForm1::startFitsTheScreen()
{
    QFETCH(double, share);

    EditorFixture f;
    const QRect available = f.window.screen()->availableGeometry();
    FormDesign design = f.form.design();
    design.clientWidth = Twips::fromPixelsX(&f.window, int(available.width() * share));
    design.clientHeight = Twips::fromPixelsY(&f.window, int(available.height() * share));
    f.start(design);
    QTRY_VERIFY(available.contains(f.window.frameGeometry()));
    if (share < 1) {
        QCOMPARE(f.window.centralWidget()->size(),
                 QSize(Twips::toPixelsX(&f.window, design.clientWidth),
                       Twips::toPixelsY(&f.window, design.clientHeight)));
    }
    // The resize rule still fitted the text box to the window.
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

void TestForm1::minimizeAndRestoreRefit()
{
    EditorFixture f;
    FormDesign design = f.form.design();
    int resizes = 0;
    const auto original = design.resize;
    design.resize = [&] {
        ++resizes;
        original();
    };
    f.start(design);
    QVERIFY(resizes >= 1); // on show
    resizes = 0;
    f.window.showMinimized();
    f.window.showNormal();
    QVERIFY(resizes >= 2);
    QCOMPARE(f.text().width(), f.window.width() - 250);
    QCOMPARE(f.text().height(), f.window.height() - 950);
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
