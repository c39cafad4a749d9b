// The text as the editor sees it through the real text box: CR LF lines, lossless characters,
// selection positions that count a line break as two.
#include "editorfixture.h"
#include "marked.h"
#include "rope.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
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

    std::unique_ptr<EditorFixture> f;

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<EditorFixture>();
        f->start();
    }
    void cleanup() { f.reset(); }
    void text_data();
    void text();
    void failuresOfItsOwnActionsAreReported_data();
    void failuresOfItsOwnActionsAreReported();
    void mouseActionsOutOfMemoryAreReported_data();
    void mouseActionsOutOfMemoryAreReported();
};

void TestTextArea::text_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("after"); // the selection in brackets
    QTest::addColumn<int>("selStart"); // with selLength, set when not negative
    QTest::addColumn<int>("selLength");
    QTest::addColumn<QString>("keys"); // typed last
    QTest::addColumn<QString>("selText"); // set when not null
    const auto row = [](const char *name, const QString &given, const QString &after,
                        int selStart = -1, int selLength = 0, const QString &keys = {},
                        const QString &selText = {}) {
        QTest::addRow("%s", name) << given << after << selStart << selLength << keys << selText;
    };

    row("empty", QString(), u"[]"_s);
    row("crlf and empty lines, lone lf and cr", u"\r\n\r\na\nb\rc\r\n"_s,
        u"[]\r\n\r\na\r\nb\r\nc\r\n"_s);
    const QString kept = u"a\u00a0b\u2028Grüße, 東京 😀"_s;
    row("characters kept as they are", kept, u"[]"_s + kept);

    // Lines of 4, 0 and 7 characters, each followed by a line break, make 17 characters.
    const QString lines = u"abcd\r\n\r\nefghijk\r\n"_s;
    row("over one break", lines, u"ab[cd\r\n]\r\nefghijk\r\n"_s, 2, 4);
    row("over both breaks", lines, u"abc[d\r\n\r\ne]fghijk\r\n"_s, 3, 6);
    row("past the end", lines, u"abcd\r\n\r\nefghi[jk\r\n]"_s, 13, 10);

    row("selText over a line break", u"one\r\ntwo\r\nthree"_s, u"one and\r\n2[]\r\nthree"_s, 3, 5,
        {}, u" and\r\n2"_s);
    // Undo is the user's own edit, even of a change the program made.
    row("a program's edit undone by the user", u"one\r\ntwo"_s, u"one[]\r\ntwo"_s, 3, 0,
        u"Ctrl+Z"_s, u"!"_s);
}

void TestTextArea::text()
{
    QFETCH(QString, given);
    QFETCH(QString, after);
    QFETCH(int, selStart);
    QFETCH(int, selLength);
    QFETCH(QString, keys);
    QFETCH(QString, selText);

    QtTextArea &area = f->text();
    area.setText(given);
    if (selStart >= 0) {
        area.setSelStart(selStart);
        QCOMPARE(area.selLength(), 0);
        area.setSelLength(selLength);
    }
    if (!selText.isNull())
        area.setSelText(selText);
    QTest::keySequence(&area, QKeySequence(keys));
    QCOMPARE(marked(area), after);
    QCOMPARE(area.selText(), area.text().mid(area.selStart(), area.selLength()));
    QCOMPARE(area.textLength(), area.text().size());
    QCOMPARE(f->form.textChanged(), !keys.isEmpty()); // only the user's edits count
}

// Out of memory in the text box's own keys, menu, mouse and drops: reported as failure 7 like a
// menu command's, and the program goes on with its text, its undo steps whole.
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
    for (const auto mode : { QClipboard::Clipboard, QClipboard::Selection })
        clipboard->setText(u"+"_s, mode);
    QTest::keySequence(&area, QKeySequence(prepare));

    // Every edit signals; the failure comes from there, inside the action.
    bool fail = true;
    const auto failing = QObject::connect(&area, &TextView::edited, [&fail] {
        if (std::exchange(fail, false))
            throw std::bad_alloc();
    });
    const QPoint end = area.caretRect().center();
    QMimeData data;
    data.setText(u"+"_s);
    QDragEnterEvent enter(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QContextMenuEvent request(QContextMenuEvent::Mouse, end, viewport->mapToGlobal(end));
    if (action == u"menu paste") {
        QApplication::sendEvent(viewport, &request);
        auto *menu = area.findChild<QMenu *>(u"textContextMenu"_s);
        QVERIFY(menu);
        menu->findChild<QAction *>(u"paste"_s)->trigger();
        menu->close();
    } else if (action == u"middle paste") {
        QTest::mouseClick(viewport, Qt::MiddleButton, {}, end);
    } else if (action == u"drop") {
        QApplication::sendEvent(viewport, &enter);
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

void TestTextArea::mouseActionsOutOfMemoryAreReported_data()
{
    QTest::addColumn<QString>("action");
    for (const char *action : { "drop from another program", "drag", "release a selection" })
        QTest::addRow("%s", action) << QString::fromLatin1(action);
}

// The mouse's own actions that make text (a foreign drop into a slice, the data of a drag or of
// the selection clipboard) run out of memory as the storage would: failure 7, the text kept, and
// a foreign move is refused so that its source keeps its text.
void TestTextArea::mouseActionsOutOfMemoryAreReported()
{
    QFETCH(QString, action);
    QtTextArea &area = f->text();
    QWidget *viewport = area.viewport();
    if (action.startsWith(u"release") && !QGuiApplication::clipboard()->supportsSelection())
        QSKIP("This platform has no selection clipboard (run under xcb for this row).");
    const QString text = u"one two three\r\nfour five six"_s;
    area.setText(text);
    area.setFocus();
    const int lineHeight = area.caretRect().height();
    const QPoint start(2, lineHeight / 2);
    const QPoint end(start.x() + 60, start.y());
    QMimeData data;
    data.setText(u"foreign"_s);
    QDragEnterEvent enter(end, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(end, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    if (action == u"drag") {
        area.setSelStart(4);
        area.setSelLength(3); // "two"
        const QPoint inside = area.caretRect().center() - QPoint(4, 0);
        QTest::mousePress(viewport, Qt::LeftButton, {}, inside);
        rope::failAllocationAfter(0);
        QMouseEvent moved(QEvent::MouseMove, inside + QPoint(40, 0), viewport->mapToGlobal(inside),
                          Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &moved);
    } else if (action.startsWith(u"release")) {
        QTest::mousePress(viewport, Qt::LeftButton, {}, start);
        QMouseEvent moved(QEvent::MouseMove, end, viewport->mapToGlobal(end), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &moved);
        rope::failAllocationAfter(0);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, end);
    } else {
        QApplication::sendEvent(viewport, &enter);
        rope::failAllocationAfter(0);
        QApplication::sendEvent(viewport, &drop);
        QVERIFY(!drop.isAccepted());
    }
    rope::failAllocationAfter(-1);

    QCOMPARE(f->messageBoxes.calls.size(), 1);
    QCOMPARE(f->messageBoxes.calls[0].title, u"7"_s);
    QCOMPARE(area.text(), text);
}

QTEST_MAIN(TestTextArea)
#include "tst_textarea.moc"
