// The text as the editor sees it through the real text box: CR LF lines, lossless characters,
// selection positions that count a line break as two.
#include "editorfixture.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>

using namespace Qt::StringLiterals;

// A text may hold 2^31 characters or more (1 GiB of line feeds): nothing on the way may cut a
// position or a length to int.
using Getter = qsizetype (TextArea::*)() const;
using Setter = void (TextArea::*)(qsizetype);
static_assert(std::is_same_v<decltype(&TextArea::textLength), Getter>);
static_assert(std::is_same_v<decltype(&TextArea::selStart), Getter>);
static_assert(std::is_same_v<decltype(&TextArea::selLength), Getter>);
static_assert(std::is_same_v<decltype(&TextArea::setSelStart), Setter>);
static_assert(std::is_same_v<decltype(&TextArea::setSelLength), Setter>);

class TestTextArea : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void textRoundTrip_data();
    void textRoundTrip();
    void selectionAcrossLineBreaks_data();
    void selectionAcrossLineBreaks();
    void selTextReplacesTheSelection();
    void enterAndShiftEnterBreakTheLine();
    void negativeSizesAreRefused();
    void longLinesScrollInsteadOfWrapping();
    void failuresOfItsOwnActionsAreReported_data();
    void failuresOfItsOwnActionsAreReported();

private:
    EditorFixture *f = nullptr;
};

void TestTextArea::init()
{
    f = new EditorFixture;
    f->start();
}

void TestTextArea::cleanup()
{
    delete f;
    f = nullptr;
}

void TestTextArea::textRoundTrip_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("readBack");

    QTest::addRow("empty") << QString() << QString();
    QTest::addRow("crlf lines") << u"one\r\ntwo\r\n"_s << u"one\r\ntwo\r\n"_s;
    QTest::addRow("empty lines") << u"\r\n\r\nx"_s << u"\r\n\r\nx"_s;
    QTest::addRow("lone lf") << u"a\nb"_s << u"a\r\nb"_s;
    QTest::addRow("lone cr") << u"a\rb"_s << u"a\r\nb"_s;
    QTest::addRow("no-break space") << u"a\u00a0b"_s << u"a\u00a0b"_s;
    QTest::addRow("line separator") << u"a\u2028b"_s << u"a\u2028b"_s;
    QTest::addRow("non-ascii") << u"Grüße, 東京, emoji 😀"_s << u"Grüße, 東京, emoji 😀"_s;
    QTest::addRow("tabs and marks") << u"\t\"q\",\t"_s << u"\t\"q\",\t"_s;
}

void TestTextArea::textRoundTrip()
{
    QFETCH(QString, given);
    QFETCH(QString, readBack);
    f->text().setText(given);
    QCOMPARE(f->text().text(), readBack);
    QCOMPARE(f->text().textLength(), readBack.size());
    QVERIFY(!f->form.textChanged());
}

void TestTextArea::selectionAcrossLineBreaks_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("selected");

    // Three lines of 4, 0 and 7 characters, each followed by a line break, make 17 characters.
    QTest::addRow("first line") << 0 << 4 << u"abcd"_s;
    QTest::addRow("over one break") << 2 << 4 << u"cd\r\n"_s;
    QTest::addRow("over both breaks") << 3 << 6 << u"d\r\n\r\ne"_s;
    QTest::addRow("last line") << 8 << 7 << u"efghijk"_s;
    QTest::addRow("whole text") << 0 << 17 << u"abcd\r\n\r\nefghijk\r\n"_s;
    QTest::addRow("past the end") << 13 << 10 << u"jk\r\n"_s;
}

void TestTextArea::selectionAcrossLineBreaks()
{
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(QString, selected);

    f->text().setText(u"abcd\r\n\r\nefghijk\r\n"_s);
    QCOMPARE(f->text().textLength(), 17);
    f->text().setSelStart(start);
    QCOMPARE(f->text().selStart(), start);
    QCOMPARE(f->text().selLength(), 0);
    f->text().setSelLength(length);
    QCOMPARE(f->text().selStart(), start);
    QCOMPARE(f->text().selText(), selected);
    QCOMPARE(f->text().selLength(), selected.size());
}

void TestTextArea::selTextReplacesTheSelection()
{
    f->text().setText(u"one\r\ntwo\r\nthree"_s);
    f->text().setSelStart(3);
    f->text().setSelLength(5); // CR LF "two"
    f->text().setSelText(u" and\r\n2"_s);
    QCOMPARE(f->text().text(), u"one and\r\n2\r\nthree"_s);
    QCOMPARE(f->text().selStart(), 10);
    QCOMPARE(f->text().selLength(), 0);

    f->text().setSelText(u"+"_s); // nothing selected: inserted at the caret
    QCOMPARE(f->text().text(), u"one and\r\n2+\r\nthree"_s);
}

void TestTextArea::enterAndShiftEnterBreakTheLine()
{
    f->text().setText(u"ab"_s);
    f->text().setSelStart(1);
    QTest::keyClick(&f->text(), Qt::Key_Return);
    QTest::keyClick(&f->text(), Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(f->text().text(), u"a\r\n\r\nb"_s);
}

void TestTextArea::negativeSizesAreRefused()
{
    f->text().setWidth(3000);
    f->text().setHeight(2000);
    QVERIFY_THROWS_EXCEPTION(Failure, f->text().setWidth(-1));
    QVERIFY_THROWS_EXCEPTION(Failure, f->text().setHeight(-15));
    QCOMPARE(f->text().width(), 3000);
    QCOMPARE(f->text().height(), 2000);
    f->text().setWidth(0);
    QCOMPARE(f->text().width(), 0);
}

void TestTextArea::longLinesScrollInsteadOfWrapping()
{
    const QString line(2000, u'x');
    f->text().setText(line);
    QCOMPARE(f->text().text(), line);
    const QScrollBar *horizontal = f->text().horizontalScrollBar();
    QVERIFY(horizontal->maximum() > 0);
}

void TestTextArea::failuresOfItsOwnActionsAreReported_data()
{
    QTest::addColumn<QString>("action");
    for (const char *action : { "type", "undo", "redo", "menu paste", "middle paste", "drop" })
        QTest::addRow("%s", action) << QString::fromLatin1(action);
}

// Out of memory in the text box's own keys, menu, mouse and drops: reported as failure 7 like a
// menu command's, and the program goes on with its text, its undo steps whole.
void TestTextArea::failuresOfItsOwnActionsAreReported()
{
    QFETCH(QString, action);
    QtTextArea &area = f->text();
    QWidget *viewport = area.viewport();
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (action == u"middle paste" && !clipboard->supportsSelection())
        QSKIP("This platform has no selection clipboard.");
    area.setText(u"keep"_s);
    area.setSelStart(4);
    area.setFocus();
    clipboard->setText(u"+"_s);
    if (clipboard->supportsSelection())
        clipboard->setText(u"+"_s, QClipboard::Selection);
    if (action == u"undo" || action == u"redo")
        QTest::keyClick(&area, Qt::Key_X);
    if (action == u"redo")
        QTest::keyClick(&area, Qt::Key_Z, Qt::ControlModifier);

    // Every edit signals; the failure comes from there, inside the action.
    bool fail = true;
    const auto failing = QObject::connect(&area, &TextView::edited, [&fail] {
        if (std::exchange(fail, false))
            throw std::bad_alloc();
    });
    const QPoint end = area.caretRect().center();
    if (action == u"type") {
        QTest::keyClick(&area, Qt::Key_X);
    } else if (action == u"undo") {
        QTest::keyClick(&area, Qt::Key_Z, Qt::ControlModifier);
    } else if (action == u"redo") {
        QTest::keyClick(&area, Qt::Key_Y, Qt::ControlModifier);
    } else if (action == u"menu paste") {
        QContextMenuEvent request(QContextMenuEvent::Mouse, end, viewport->mapToGlobal(end));
        QApplication::sendEvent(viewport, &request);
        auto *menu = area.findChild<QMenu *>(u"textContextMenu"_s);
        QVERIFY(menu);
        menu->findChild<QAction *>(u"paste"_s)->trigger();
        menu->close();
    } else if (action == u"middle paste") {
        QTest::mouseClick(viewport, Qt::MiddleButton, {}, end);
    } else {
        QMimeData data;
        data.setText(u"+"_s);
        QDragEnterEvent enter(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QDropEvent drop(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
    }
    QObject::disconnect(failing);

    QCOMPARE(f->messageBoxes.calls.size(), 1);
    QCOMPARE(f->messageBoxes.calls[0].title, u"7"_s);
    QVERIFY(area.text().startsWith(u"keep"_s));
    // The text box goes on, and a new edit is a step of its own.
    const QString after = area.text();
    area.setSelText(u"!"_s);
    QTest::keyClick(&area, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(area.text(), after);
}

QTEST_MAIN(TestTextArea)
#include "tst_textarea.moc"
