// Copy, Cut, Paste and Select All with the real text box and the real clipboard, run from the
// handlers and from the keyboard.
#include "editorfixture.h"
#include "marked.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString noText = u"(no text)"_s; // the clipboard holds no text

enum Command { Copy, Cut, Paste, SelectAll };

const struct
{
    void (Form1::*handler)();
    const char16_t *item;
    QKeySequence::StandardKey keys;
} handlers[] = {
    { &Form1::Edit_Copy_Click, u"Edit_Copy", QKeySequence::Copy },
    { &Form1::Edit_Cut_Click, u"Edit_Cut", QKeySequence::Cut },
    { &Form1::Edit_Paste_Click, u"Edit_Paste", QKeySequence::Paste },
    { &Form1::Edit_SelectAll_Click, u"Edit_SelectAll", QKeySequence::SelectAll },
};

QString clipboardText()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return noText;
    // Other programs ask for bytes: they must get the same text.
    const QString text = data->text();
    return QString::fromUtf8(data->data(u"text/plain"_s)) == text ? text : u"(bytes differ)"_s;
}

} // namespace

Q_DECLARE_METATYPE(Command)

class TestEditCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commands_data();
    void commands();
    void cutTextOutlivesTheTextBox();
};

void TestEditCommands::initTestCase()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText(u"probe"_s);
    if (clipboard->text() != u"probe"_s)
        QSKIP("this platform offers no clipboard to the tests");
}

void TestEditCommands::commands_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QKeyCombination>("keys"); // none: the handler is called directly
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<QString>("expectedClipboard");
    QTest::addColumn<bool>("changed");

    const auto row = [](const char *name, Command command, QKeyCombination keys,
                        const QString &text, const QString &clipboard, const QString &expectedText,
                        const QString &expectedClipboard, bool changed) {
        QTest::addRow("%s", name) << command << keys << text << clipboard << expectedText
                                  << expectedClipboard << changed;
    };
    const QKeyCombination handler;
    const auto ctrl = [](Qt::Key key) { return QKeyCombination(Qt::ControlModifier, key); };
    const auto shift = [](Qt::Key key) { return QKeyCombination(Qt::ShiftModifier, key); };
    const QString old = u"old"_s;

    // Copy and Cut clear the clipboard first; only Cut with a selection changes the document.
    row("copy nothing selected empties the clipboard", Copy, handler, u"Hel[]lo"_s, old,
        u"Hel[]lo"_s, noText, false);
    row("copy selection", Copy, handler, u"Hello [world]"_s, old, u"Hello [world]"_s, u"world"_s,
        false);
    row("copy across a line break", Copy, handler, u"a[b\r\nc]d"_s, noText, u"a[b\r\nc]d"_s,
        u"b\r\nc"_s, false);
    row("copy keeps a no-break space and a surrogate pair", Copy, handler,
        u"[x\u00a0\U0001F600y]"_s, noText, u"[x\u00a0\U0001F600y]"_s, u"x\u00a0\U0001F600y"_s,
        false);
    row("cut nothing selected empties the clipboard, text unchanged", Cut, handler, u"Hello[]"_s,
        old, u"Hello[]"_s, noText, false);
    row("cut selection", Cut, handler, u"Hello[ world]"_s, old, u"Hello[]"_s, u" world"_s, true);
    row("cut a line break alone", Cut, handler, u"ab[\r\n]cd"_s, old, u"ab[]cd"_s, u"\r\n"_s, true);

    // Paste replaces the selection or inserts at the caret, and always marks the document changed.
    row("paste at the caret", Paste, handler, u"Hello[] world"_s, u","_s, u"Hello,[] world"_s,
        u","_s, true);
    row("paste replaces the selection", Paste, handler, u"Hello [world]"_s, u"there"_s,
        u"Hello there[]"_s, u"there"_s, true);
    row("paste with no text on the clipboard removes the selection", Paste, handler,
        u"Hello[ world]"_s, noText, u"Hello[]"_s, noText, true);
    row("paste with no text and nothing selected still marks changed", Paste, handler, u"He[]llo"_s,
        noText, u"He[]llo"_s, noText, true);
    row("paste line breaks", Paste, handler, u"a[]b"_s, u"x\r\ny"_s, u"ax\r\ny[]b"_s, u"x\r\ny"_s,
        true);
    row("paste bare line feeds as line breaks", Paste, handler, u"a[]b"_s, u"x\ny"_s,
        u"ax\r\ny[]b"_s, u"x\ny"_s, true);

    row("select all counts every line break", SelectAll, handler, u"ab\r\nc[]d\r\nef"_s, old,
        u"[ab\r\ncd\r\nef]"_s, old, false);

    // Keys, each with an outcome that the text box's own edit keys would not give.
    row("ctrl+c with nothing selected empties the clipboard", Copy, ctrl(Qt::Key_C), u"He[]llo"_s,
        old, u"He[]llo"_s, noText, false);
    row("ctrl+insert with nothing selected empties the clipboard", Copy, ctrl(Qt::Key_Insert),
        u"He[]llo"_s, old, u"He[]llo"_s, noText, false);
    row("ctrl+x with nothing selected empties the clipboard", Cut, ctrl(Qt::Key_X), u"He[]llo"_s,
        old, u"He[]llo"_s, noText, false);
    row("shift+delete with nothing selected empties the clipboard", Cut, shift(Qt::Key_Delete),
        u"He[]llo"_s, old, u"He[]llo"_s, noText, false);
    row("ctrl+v with no text on the clipboard removes the selection", Paste, ctrl(Qt::Key_V),
        u"[Hello ]world"_s, noText, u"[]world"_s, noText, true);
    row("shift+insert with no text on the clipboard removes the selection", Paste,
        shift(Qt::Key_Insert), u"[Hello ]world"_s, noText, u"[]world"_s, noText, true);
    row("ctrl+a selects everything", SelectAll, ctrl(Qt::Key_A), u"ab\r\n[]cd"_s, old,
        u"[ab\r\ncd]"_s, old, false);
}

void TestEditCommands::commands()
{
    QFETCH(Command, command);
    QFETCH(QKeyCombination, keys);
    QFETCH(QString, text);
    QFETCH(QString, clipboard);
    QFETCH(QString, expectedText);
    QFETCH(QString, expectedClipboard);
    QFETCH(bool, changed);

    const auto &run = handlers[command];
    const bool byKey = keys != QKeyCombination();
    if (byKey && !QKeySequence::keyBindings(run.keys).contains(QKeySequence(keys)))
        QSKIP("this platform has no such key for the command");

    EditorFixture f;
    f.start();
    auto *action = f.window.findChild<QAction *>(QString::fromUtf16(run.item));
    QVERIFY(action);
    QSignalSpy triggered(action, &QAction::triggered);
    const QString caption = f.window.caption();
    setMarked(f.text(), text);
    QCOMPARE(marked(f.text()), text);
    QGuiApplication::clipboard()->clear();
    if (clipboard != noText)
        QGuiApplication::clipboard()->setText(clipboard);

    if (byKey) {
        f.text().setFocus();
        QTRY_VERIFY(f.text().hasFocus());
        QTest::keyClick(&f.text(), keys.key(), keys.keyboardModifiers());
        QCOMPARE(triggered.size(), 1);
    } else {
        (f.form.*run.handler)();
    }

    QCOMPARE(marked(f.text()), expectedText);
    QCOMPARE(f.text().textLength(), f.text().text().size());
    QCOMPARE(clipboardText(), expectedClipboard);
    QCOMPARE(f.form.textChanged(), changed);
    QCOMPARE(f.window.caption(), caption);
}

// The clipboard holds what was cut, not a view of the text: edits after it, a paste of it and
// the end of the window leave it as it was.
void TestEditCommands::cutTextOutlivesTheTextBox()
{
    const QString cut = u"b\r\nc\U0001F600"_s;
    {
        EditorFixture f;
        f.start();
        setMarked(f.text(), u"a[b\r\nc\U0001F600]d"_s);
        f.form.Edit_Cut_Click();
        f.form.Edit_SelectAll_Click();
        QTest::keyClick(&f.text(), Qt::Key_X);
        QCOMPARE(clipboardText(), cut);
        f.form.Edit_Paste_Click();
        f.form.Edit_Paste_Click();
        QCOMPARE(marked(f.text()), u"x"_s + cut + cut + u"[]"_s);
        QCOMPARE(f.text().lineCount(), 3);
        QTest::keyClick(&f.text(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(marked(f.text()), u"x"_s + cut + u"[]"_s);
    }
    QCOMPARE(clipboardText(), cut);
}

QTEST_MAIN(TestEditCommands)
#include "tst_editcommands.moc"
