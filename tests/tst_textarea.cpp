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
    void outOfMemoryInItsOwnActionsIsReported_data();
    void outOfMemoryInItsOwnActionsIsReported();
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

// Out of memory in the text box's own keys, menu, mouse and drops is failure 7, and the program
// goes on with its text and undo steps whole; a foreign move is refused so its source keeps it.
void TestTextArea::outOfMemoryInItsOwnActionsIsReported_data()
{
    QTest::addColumn<QString>("prepare"); // keys
    QTest::addColumn<QString>("action"); // keys, or what the mouse does
    QTest::addColumn<bool>("storageFails"); // else the edit's signal throws
    QTest::addRow("type") << QString() << u"X"_s << false;
    QTest::addRow("undo") << u"X"_s << u"Ctrl+Z"_s << false;
    QTest::addRow("redo") << u"X, Ctrl+Z"_s << u"Ctrl+Y"_s << false;
    for (const char *action : { "menu paste", "middle paste", "drop" })
        QTest::addRow("%s", action) << QString() << QString::fromLatin1(action) << false;
    for (const char *action : { "foreign move", "drag", "release a selection" })
        QTest::addRow("%s", action) << QString() << QString::fromLatin1(action) << true;
}

void TestTextArea::outOfMemoryInItsOwnActionsIsReported()
{
    QFETCH(QString, prepare);
    QFETCH(QString, action);
    QFETCH(bool, storageFails);
    QtTextArea &area = f->text();
    QWidget *viewport = area.viewport();
    QClipboard *clipboard = QGuiApplication::clipboard();
    if ((action == u"middle paste" || action.startsWith(u"release"))
        && !clipboard->supportsSelection())
        QSKIP("This platform has no selection clipboard (run under xcb for this row).");
    const QString text = u"one two three\r\nfour five six"_s;
    setMarked(area, text + u"[]"_s);
    area.setFocus();
    for (const auto mode : { QClipboard::Clipboard, QClipboard::Selection })
        clipboard->setText(u"+"_s, mode);
    QTest::keySequence(&area, QKeySequence(prepare));

    bool fail = !storageFails;
    const auto failing = QObject::connect(&area, &TextView::edited, [&fail] {
        if (std::exchange(fail, false))
            throw std::bad_alloc();
    });
    const QPoint end = area.caretRect().center();
    const QPoint inFirstLine(62, end.y() - area.caretRect().height());
    QMimeData data;
    data.setText(u"+"_s);
    const auto dropAction = storageFails ? Qt::MoveAction : Qt::CopyAction;
    const QPoint dropAt = storageFails ? inFirstLine : end;
    QDragEnterEvent enter(dropAt, dropAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(dropAt, dropAction, &data, Qt::LeftButton, Qt::NoModifier);
    if (action == u"menu paste") {
        QContextMenuEvent request(QContextMenuEvent::Mouse, end, viewport->mapToGlobal(end));
        QApplication::sendEvent(viewport, &request);
        auto *menu = area.findChild<QMenu *>(u"textContextMenu"_s);
        QVERIFY(menu);
        menu->findChild<QAction *>(u"paste"_s)->trigger();
        menu->close();
    } else if (action == u"middle paste") {
        QTest::mouseClick(viewport, Qt::MiddleButton, {}, end);
    } else if (action.endsWith(u"drop") || action.endsWith(u"move")) {
        QApplication::sendEvent(viewport, &enter);
        rope::failAllocationAfter(storageFails ? 0 : -1);
        QApplication::sendEvent(viewport, &drop);
    } else if (storageFails) {
        const bool drag = action == u"drag";
        area.setSelStart(4);
        area.setSelLength(drag ? 3 : 0); // "two", to drag
        const QPoint from = area.caretRect().center() - QPoint(4, 0);
        const QPoint to = from + QPoint(40, 0);
        QTest::mousePress(viewport, Qt::LeftButton, {}, from);
        rope::failAllocationAfter(drag ? 0 : -1);
        QMouseEvent moved(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &moved);
        if (!drag) {
            rope::failAllocationAfter(0);
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
        }
    } else {
        QTest::keySequence(&area, QKeySequence(action));
    }
    rope::failAllocationAfter(-1);
    QObject::disconnect(failing);

    QCOMPARE(f->messageBoxes.calls.size(), 1);
    QCOMPARE(f->messageBoxes.calls[0].title, u"7"_s);
    QVERIFY(storageFails ? area.text() == text : area.text().startsWith(text));
    if (action == u"foreign move")
        QVERIFY(!drop.isAccepted());
    // The text box goes on, and a new edit is a step of its own.
    const QString after = area.text();
    area.setSelText(u"!"_s);
    QTest::keyClick(&area, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(area.text(), after);
}

QTEST_MAIN(TestTextArea)
#include "tst_textarea.moc"
