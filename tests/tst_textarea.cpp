// The text as the editor sees it through the real text box: CR LF lines, lossless characters,
// selection positions that count a line break as two.
#include "editorfixture.h"
#include "marked.h"

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
static_assert(
    std::is_same_v<
        decltype(&TextArea::textLength),
        Getter> && std::is_same_v<decltype(&TextArea::selStart), Getter> && std::is_same_v<decltype(&TextArea::selLength), Getter> && std::is_same_v<decltype(&TextArea::setSelStart), Setter> && std::is_same_v<decltype(&TextArea::setSelLength), Setter>);

class TestTextArea : public QObject
{
    Q_OBJECT

    std::unique_ptr<EditorFixture> f;

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<EditorFixture>();
        f->start();
    }
    void cleanup() { f.reset(); }
    void textRoundTrip_data();
    void textRoundTrip();
    void selectionAcrossLineBreaks_data();
    void selectionAcrossLineBreaks();
    void edits_data();
    void edits();
    void negativeSizesAreRefused();
    void longLinesScrollInsteadOfWrapping();
    void failuresOfItsOwnActionsAreReported_data();
    void failuresOfItsOwnActionsAreReported();
};

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

void TestTextArea::edits_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("selText"); // set when not null
    QTest::addColumn<QString>("after");

    QTest::addRow("selText over a line break") << u"one[\r\ntwo]\r\nthree"_s << QString()
                                               << u" and\r\n2"_s << u"one and\r\n2[]\r\nthree"_s;
    QTest::addRow("selText with nothing selected")
        << u"one and\r\n2[]\r\nthree"_s << QString() << u"+"_s << u"one and\r\n2+[]\r\nthree"_s;
    QTest::addRow("enter and shift enter break the line")
        << u"a[]b"_s << u"Return, Shift+Return"_s << QString() << u"a\r\n\r\n[]b"_s;
}

void TestTextArea::edits()
{
    QFETCH(QString, before);
    QFETCH(QString, keys);
    QFETCH(QString, selText);
    QFETCH(QString, after);

    setMarked(f->text(), before);
    QTest::keySequence(&f->text(), QKeySequence(keys));
    if (!selText.isNull())
        f->text().setSelText(selText);
    QCOMPARE(marked(f->text()), after);
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
    f->text().setText(QString(2000, u'x'));
    QVERIFY(f->text().horizontalScrollBar()->maximum() > 0);
}

void TestTextArea::failuresOfItsOwnActionsAreReported_data()
{
    QTest::addColumn<QString>("prepare"); // keys
    QTest::addColumn<QString>("action"); // keys, or what the mouse does

    QTest::addRow("type") << QString() << u"X"_s;
    QTest::addRow("undo") << u"X"_s << u"Ctrl+Z"_s;
    QTest::addRow("redo") << u"X, Ctrl+Z"_s << u"Ctrl+Y"_s;
    for (const char *action : { "menu paste", "middle paste", "drop" })
        QTest::addRow("%s", action) << QString() << QString::fromLatin1(action);
}

// Out of memory in the text box's own keys, menu, mouse and drops: reported as failure 7 like a
// menu command's, and the program goes on with its text, its undo steps whole.
void TestTextArea::failuresOfItsOwnActionsAreReported()
{
    QFETCH(QString, prepare);
    QFETCH(QString, action);
    QtTextArea &area = f->text();
    QWidget *viewport = area.viewport();
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (action == u"middle paste" && !clipboard->supportsSelection())
        QSKIP("This platform has no selection clipboard.");
    setMarked(area, u"keep[]"_s);
    area.setFocus();
    clipboard->setText(u"+"_s);
    if (clipboard->supportsSelection())
        clipboard->setText(u"+"_s, QClipboard::Selection);
    QTest::keySequence(&area, QKeySequence(prepare));

    // Every edit signals; the failure comes from there, inside the action.
    bool fail = true;
    const auto failing = QObject::connect(&area, &TextView::edited, [&fail] {
        if (std::exchange(fail, false))
            throw std::bad_alloc();
    });
    const QPoint end = area.caretRect().center();
    if (action == u"menu paste") {
        QContextMenuEvent request(QContextMenuEvent::Mouse, end, viewport->mapToGlobal(end));
        QApplication::sendEvent(viewport, &request);
        auto *menu = area.findChild<QMenu *>(u"textContextMenu"_s);
        QVERIFY(menu);
        menu->findChild<QAction *>(u"paste"_s)->trigger();
        menu->close();
    } else if (action == u"middle paste") {
        QTest::mouseClick(viewport, Qt::MiddleButton, {}, end);
    } else if (action == u"drop") {
        QMimeData data;
        data.setText(u"+"_s);
        QDragEnterEvent enter(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QDropEvent drop(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
    } else {
        QTest::keySequence(&area, QKeySequence(action));
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
