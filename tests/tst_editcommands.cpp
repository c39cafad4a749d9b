// Copy, Cut, Paste and Select All with the real text box and the real clipboard, run from the
// handlers and from the keyboard.
#include "editorfixture.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

using Clip = std::optional<QString>; // no value: the clipboard holds no text

void putOnClipboard(const Clip &content)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    if (content)
        clipboard->setText(*content);
}

Clip clipboardContent()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

// Readable in a failure message: quoted, with line break characters spelled out.
QString describe(const Clip &clip)
{
    if (!clip)
        return u"(no text)"_s;
    QString shown = *clip;
    shown.replace(u'\r', u"\\r"_s).replace(u'\n', u"\\n"_s);
    return u'"' + shown + u'"';
}

enum class Command { Copy, Cut, Paste, SelectAll };

void run(Form1 &form, Command command)
{
    switch (command) {
    case Command::Copy:
        form.Edit_Copy_Click();
        break;
    case Command::Cut:
        form.Edit_Cut_Click();
        break;
    case Command::Paste:
        form.Edit_Paste_Click();
        break;
    case Command::SelectAll:
        form.Edit_SelectAll_Click();
        break;
    }
}

void select(TextArea &text, int start, int length)
{
    text.setSelStart(start);
    text.setSelLength(length);
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
    void shortcutsRunTheHandlers_data();
    void shortcutsRunTheHandlers();
    void pasteTwiceInsertsTwice();
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
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selLength");
    QTest::addColumn<Clip>("clipboard");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<int>("expectedStart");
    QTest::addColumn<int>("expectedLength");
    QTest::addColumn<Clip>("expectedClipboard");
    QTest::addColumn<bool>("changed");

    const Clip none;
    const Clip old = u"old"_s;
    const QString hello = u"Hello world"_s;
    const QString lines = u"ab\r\ncd\r\nef"_s;

    // Copy: the clipboard is cleared first, and the document never changes.
    QTest::addRow("copy nothing selected empties the clipboard")
        << Command::Copy << hello << 3 << 0 << old << hello << 3 << 0 << none << false;
    QTest::addRow("copy selection")
        << Command::Copy << hello << 6 << 5 << old << hello << 6 << 5 << Clip(u"world"_s) << false;
    QTest::addRow("copy across a line break") << Command::Copy << lines << 1 << 4 << none << lines
                                              << 1 << 4 << Clip(u"b\r\nc"_s) << false;
    QTest::addRow("copy the whole text with a trailing line break")
        << Command::Copy << u"a\r\nb\r\n"_s << 0 << 6 << old << u"a\r\nb\r\n"_s << 0 << 6
        << Clip(u"a\r\nb\r\n"_s) << false;
    QTest::addRow("copy keeps a no-break space")
        << Command::Copy << u"x\u00a0y"_s << 0 << 3 << none << u"x\u00a0y"_s << 0 << 3
        << Clip(u"x\u00a0y"_s) << false;

    // Cut: cleared first; only a selection changes the text and the document.
    QTest::addRow("cut nothing selected empties the clipboard, text unchanged")
        << Command::Cut << hello << 5 << 0 << old << hello << 5 << 0 << none << false;
    QTest::addRow("cut nothing selected in an empty text")
        << Command::Cut << QString() << 0 << 0 << old << QString() << 0 << 0 << none << false;
    QTest::addRow("cut selection") << Command::Cut << hello << 5 << 6 << old << u"Hello"_s << 5 << 0
                                   << Clip(u" world"_s) << true;
    QTest::addRow("cut a line break alone") << Command::Cut << lines << 2 << 2 << old
                                            << u"abcd\r\nef"_s << 2 << 0 << Clip(u"\r\n"_s) << true;
    QTest::addRow("cut across two line breaks")
        << Command::Cut << lines << 1 << 7 << none << u"aef"_s << 1 << 0 << Clip(u"b\r\ncd\r\n"_s)
        << true;
    QTest::addRow("cut everything")
        << Command::Cut << lines << 0 << 10 << old << QString() << 0 << 0 << Clip(lines) << true;

    // Paste: replaces the selection or inserts at the caret; always marks the document changed.
    QTest::addRow("paste at the caret") << Command::Paste << hello << 5 << 0 << Clip(u","_s)
                                        << u"Hello, world"_s << 6 << 0 << Clip(u","_s) << true;
    QTest::addRow("paste replaces the selection")
        << Command::Paste << hello << 6 << 5 << Clip(u"there"_s) << u"Hello there"_s << 11 << 0
        << Clip(u"there"_s) << true;
    QTest::addRow("paste with no text on the clipboard removes the selection")
        << Command::Paste << hello << 5 << 6 << none << u"Hello"_s << 5 << 0 << none << true;
    QTest::addRow("paste with no text and nothing selected still marks changed")
        << Command::Paste << hello << 2 << 0 << none << hello << 2 << 0 << none << true;
    QTest::addRow("paste empty text removes the selection")
        << Command::Paste << hello << 0 << 6 << Clip(QString()) << u"world"_s << 0 << 0
        << Clip(QString()) << true;
    QTest::addRow("paste line breaks") << Command::Paste << u"ab"_s << 1 << 0 << Clip(u"x\r\ny"_s)
                                       << u"ax\r\nyb"_s << 5 << 0 << Clip(u"x\r\ny"_s) << true;
    QTest::addRow("paste bare line feeds as line breaks")
        << Command::Paste << u"ab"_s << 1 << 0 << Clip(u"x\ny"_s) << u"ax\r\nyb"_s << 5 << 0
        << Clip(u"x\ny"_s) << true;
    QTest::addRow("paste over a selection across lines")
        << Command::Paste << lines << 1 << 4 << Clip(u"-"_s) << u"a-d\r\nef"_s << 2 << 0
        << Clip(u"-"_s) << true;
    QTest::addRow("paste into an empty text")
        << Command::Paste << QString() << 0 << 0 << Clip(u"new"_s) << u"new"_s << 3 << 0
        << Clip(u"new"_s) << true;
    QTest::addRow("paste at the end after a line break")
        << Command::Paste << u"a\r\n"_s << 3 << 0 << Clip(u"b"_s) << u"a\r\nb"_s << 4 << 0
        << Clip(u"b"_s) << true;

    // Select All: selects from 0 to the end; touches neither clipboard nor document state.
    QTest::addRow("select all in an empty text")
        << Command::SelectAll << QString() << 0 << 0 << old << QString() << 0 << 0 << old << false;
    QTest::addRow("select all from the caret")
        << Command::SelectAll << lines << 5 << 0 << old << lines << 0 << 10 << old << false;
    QTest::addRow("select all from a selection")
        << Command::SelectAll << hello << 3 << 4 << none << hello << 0 << 11 << none << false;
    QTest::addRow("select all counts every line break")
        << Command::SelectAll << u"\r\n\r\n"_s << 2 << 0 << old << u"\r\n\r\n"_s << 0 << 4 << old
        << false;
}

void TestEditCommands::commands()
{
    QFETCH(Command, command);
    QFETCH(QString, text);
    QFETCH(int, selStart);
    QFETCH(int, selLength);
    QFETCH(Clip, clipboard);
    QFETCH(QString, expectedText);
    QFETCH(int, expectedStart);
    QFETCH(int, expectedLength);
    QFETCH(Clip, expectedClipboard);
    QFETCH(bool, changed);

    EditorFixture f;
    f.start();
    const QString caption = f.window.caption();
    f.text().setText(text);
    select(f.text(), selStart, selLength);
    QCOMPARE(f.text().selStart(), selStart);
    QCOMPARE(f.text().selLength(), selLength);
    putOnClipboard(clipboard);
    QVERIFY(!f.form.textChanged());

    run(f.form, command);

    QCOMPARE(f.text().text(), expectedText);
    QCOMPARE(f.text().textLength(), expectedText.size());
    QCOMPARE(f.text().selStart(), expectedStart);
    QCOMPARE(f.text().selLength(), expectedLength);
    QCOMPARE(describe(clipboardContent()), describe(expectedClipboard));
    QCOMPARE(f.form.textChanged(), changed);
    QCOMPARE(f.window.caption(), caption);
}

void TestEditCommands::shortcutsRunTheHandlers_data()
{
    QTest::addColumn<QKeyCombination>("keys");
    QTest::addColumn<int>("standard");
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selLength");
    QTest::addColumn<Clip>("clipboard");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<Clip>("expectedClipboard");
    QTest::addColumn<bool>("changed");

    const QString text = u"one\r\ntwo"_s;
    const auto ctrl = [](Qt::Key key) { return QKeyCombination(Qt::ControlModifier, key); };
    const auto shift = [](Qt::Key key) { return QKeyCombination(Qt::ShiftModifier, key); };
    const int copy = QKeySequence::Copy;
    const int cut = QKeySequence::Cut;
    const int paste = QKeySequence::Paste;
    const int selectAll = QKeySequence::SelectAll;
    // Each row has an outcome that the text box's own edit keys would not give.
    QTest::addRow("ctrl+c with nothing selected empties the clipboard")
        << ctrl(Qt::Key_C) << copy << u"Edit_Copy"_s << 2 << 0 << Clip(u"old"_s) << text << Clip()
        << false;
    QTest::addRow("ctrl+c copies with CR LF") << ctrl(Qt::Key_C) << copy << u"Edit_Copy"_s << 1 << 5
                                              << Clip() << text << Clip(u"ne\r\nt"_s) << false;
    QTest::addRow("ctrl+x with nothing selected empties the clipboard")
        << ctrl(Qt::Key_X) << cut << u"Edit_Cut"_s << 2 << 0 << Clip(u"old"_s) << text << Clip()
        << false;
    QTest::addRow("ctrl+x cuts across the line break")
        << ctrl(Qt::Key_X) << cut << u"Edit_Cut"_s << 2 << 4 << Clip() << u"onwo"_s
        << Clip(u"e\r\nt"_s) << true;
    QTest::addRow("ctrl+v with no text on the clipboard removes the selection")
        << ctrl(Qt::Key_V) << paste << u"Edit_Paste"_s << 0 << 5 << Clip() << u"two"_s << Clip()
        << true;
    QTest::addRow("ctrl+v with no text and no selection marks changed")
        << ctrl(Qt::Key_V) << paste << u"Edit_Paste"_s << 0 << 0 << Clip() << text << Clip()
        << true;
    QTest::addRow("ctrl+a selects everything")
        << ctrl(Qt::Key_A) << selectAll << u"Edit_SelectAll"_s << 4 << 0 << Clip(u"old"_s) << text
        << Clip(u"old"_s) << false;
    // The platform's other keys for the same commands.
    QTest::addRow("ctrl+insert with nothing selected empties the clipboard")
        << ctrl(Qt::Key_Insert) << copy << u"Edit_Copy"_s << 2 << 0 << Clip(u"old"_s) << text
        << Clip() << false;
    QTest::addRow("ctrl+insert copies with CR LF")
        << ctrl(Qt::Key_Insert) << copy << u"Edit_Copy"_s << 1 << 5 << Clip() << text
        << Clip(u"ne\r\nt"_s) << false;
    QTest::addRow("shift+delete with nothing selected empties the clipboard")
        << shift(Qt::Key_Delete) << cut << u"Edit_Cut"_s << 2 << 0 << Clip(u"old"_s) << text
        << Clip() << false;
    QTest::addRow("shift+insert with no text on the clipboard removes the selection")
        << shift(Qt::Key_Insert) << paste << u"Edit_Paste"_s << 0 << 5 << Clip() << u"two"_s
        << Clip() << true;
}

void TestEditCommands::shortcutsRunTheHandlers()
{
    QFETCH(QKeyCombination, keys);
    QFETCH(int, standard);
    QFETCH(QString, item);
    QFETCH(int, selStart);
    QFETCH(int, selLength);
    QFETCH(Clip, clipboard);
    QFETCH(QString, expectedText);
    QFETCH(Clip, expectedClipboard);
    QFETCH(bool, changed);

    if (!QKeySequence::keyBindings(QKeySequence::StandardKey(standard))
             .contains(QKeySequence(keys)))
        QSKIP("this platform has no such key for the command");

    EditorFixture f;
    f.start();
    auto *action = f.window.findChild<QAction *>(item);
    QVERIFY(action);
    QSignalSpy triggered(action, &QAction::triggered);
    f.text().setText(u"one\r\ntwo"_s);
    select(f.text(), selStart, selLength);
    putOnClipboard(clipboard);
    f.text().setFocus();
    QTRY_VERIFY(f.text().hasFocus());

    QTest::keyClick(&f.text(), keys.key(), keys.keyboardModifiers());

    QCOMPARE(triggered.size(), 1);
    QCOMPARE(f.text().text(), expectedText);
    QCOMPARE(describe(clipboardContent()), describe(expectedClipboard));
    QCOMPARE(f.form.textChanged(), changed);
    if (item == u"Edit_SelectAll"_s) {
        QCOMPARE(f.text().selStart(), 0);
        QCOMPARE(f.text().selLength(), 8);
    }
}

void TestEditCommands::pasteTwiceInsertsTwice()
{
    // The caret ends after the pasted text, so a second paste follows the first.
    EditorFixture f;
    f.start();
    f.text().setText(u"[]"_s);
    select(f.text(), 1, 0);
    putOnClipboard(u"a\r\nb"_s);
    f.form.Edit_Paste_Click();
    f.form.Edit_Paste_Click();
    QCOMPARE(f.text().text(), u"[a\r\nba\r\nb]"_s);
    QCOMPARE(f.text().selStart(), 9);

    // Cut then paste puts the text back where it was.
    select(f.text(), 1, 8);
    f.form.Edit_Cut_Click();
    QCOMPARE(f.text().text(), u"[]"_s);
    f.form.Edit_Paste_Click();
    QCOMPARE(f.text().text(), u"[a\r\nba\r\nb]"_s);
}

QTEST_MAIN(TestEditCommands)
#include "tst_editcommands.moc"
