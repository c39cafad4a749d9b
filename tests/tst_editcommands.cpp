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

using Clip = std::optional<QString>; // no value: the clipboard holds no text
Q_DECLARE_METATYPE(Clip)

namespace {

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

Clip clipboardContent()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText() ? Clip(data->text()) : std::nullopt;
}

// Readable in a failure message: quoted, with line break characters spelled out.
QString describe(const Clip &clip)
{
    if (!clip)
        return u"(no text)"_s;
    return u'"' + QString(*clip).replace(u'\r', u"\\r"_s).replace(u'\n', u"\\n"_s) + u'"';
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
    const QKeyCombination handler;
    const auto ctrl = [](Qt::Key key) { return QKeyCombination(Qt::ControlModifier, key); };
    const auto shift = [](Qt::Key key) { return QKeyCombination(Qt::ShiftModifier, key); };

    // Copy and Cut clear the clipboard first; only Cut with a selection changes the document.
    QTest::addRow("copy nothing selected empties the clipboard")
        << Copy << handler << hello << 3 << 0 << old << hello << 3 << 0 << none << false;
    QTest::addRow("copy selection") << Copy << handler << hello << 6 << 5 << old << hello << 6 << 5
                                    << Clip(u"world"_s) << false;
    QTest::addRow("copy across a line break") << Copy << handler << lines << 1 << 4 << none << lines
                                              << 1 << 4 << Clip(u"b\r\nc"_s) << false;
    QTest::addRow("copy keeps a no-break space")
        << Copy << handler << u"x\u00a0y"_s << 0 << 3 << none << u"x\u00a0y"_s << 0 << 3
        << Clip(u"x\u00a0y"_s) << false;
    QTest::addRow("cut nothing selected empties the clipboard, text unchanged")
        << Cut << handler << hello << 5 << 0 << old << hello << 5 << 0 << none << false;
    QTest::addRow("cut selection") << Cut << handler << hello << 5 << 6 << old << u"Hello"_s << 5
                                   << 0 << Clip(u" world"_s) << true;
    QTest::addRow("cut a line break alone") << Cut << handler << lines << 2 << 2 << old
                                            << u"abcd\r\nef"_s << 2 << 0 << Clip(u"\r\n"_s) << true;

    // Paste replaces the selection or inserts at the caret, and always marks the document changed.
    QTest::addRow("paste at the caret") << Paste << handler << hello << 5 << 0 << Clip(u","_s)
                                        << u"Hello, world"_s << 6 << 0 << Clip(u","_s) << true;
    QTest::addRow("paste replaces the selection")
        << Paste << handler << hello << 6 << 5 << Clip(u"there"_s) << u"Hello there"_s << 11 << 0
        << Clip(u"there"_s) << true;
    QTest::addRow("paste with no text on the clipboard removes the selection")
        << Paste << handler << hello << 5 << 6 << none << u"Hello"_s << 5 << 0 << none << true;
    QTest::addRow("paste with no text and nothing selected still marks changed")
        << Paste << handler << hello << 2 << 0 << none << hello << 2 << 0 << none << true;
    QTest::addRow("paste line breaks") << Paste << handler << u"ab"_s << 1 << 0 << Clip(u"x\r\ny"_s)
                                       << u"ax\r\nyb"_s << 5 << 0 << Clip(u"x\r\ny"_s) << true;
    QTest::addRow("paste bare line feeds as line breaks")
        << Paste << handler << u"ab"_s << 1 << 0 << Clip(u"x\ny"_s) << u"ax\r\nyb"_s << 5 << 0
        << Clip(u"x\ny"_s) << true;

    QTest::addRow("select all counts every line break")
        << SelectAll << handler << lines << 5 << 0 << old << lines << 0 << 10 << old << false;

    // Keys, each with an outcome that the text box's own edit keys would not give.
    QTest::addRow("ctrl+c with nothing selected empties the clipboard")
        << Copy << ctrl(Qt::Key_C) << hello << 2 << 0 << old << hello << 2 << 0 << none << false;
    QTest::addRow("ctrl+insert with nothing selected empties the clipboard")
        << Copy << ctrl(Qt::Key_Insert) << hello << 2 << 0 << old << hello << 2 << 0 << none
        << false;
    QTest::addRow("ctrl+x with nothing selected empties the clipboard")
        << Cut << ctrl(Qt::Key_X) << hello << 2 << 0 << old << hello << 2 << 0 << none << false;
    QTest::addRow("shift+delete with nothing selected empties the clipboard")
        << Cut << shift(Qt::Key_Delete) << hello << 2 << 0 << old << hello << 2 << 0 << none
        << false;
    QTest::addRow("ctrl+v with no text on the clipboard removes the selection")
        << Paste << ctrl(Qt::Key_V) << hello << 0 << 6 << none << u"world"_s << 0 << 0 << none
        << true;
    QTest::addRow("shift+insert with no text on the clipboard removes the selection")
        << Paste << shift(Qt::Key_Insert) << hello << 0 << 6 << none << u"world"_s << 0 << 0 << none
        << true;
    QTest::addRow("ctrl+a selects everything") << SelectAll << ctrl(Qt::Key_A) << lines << 4 << 0
                                               << old << lines << 0 << 10 << old << false;
}

void TestEditCommands::commands()
{
    QFETCH(Command, command);
    QFETCH(QKeyCombination, keys);
    QFETCH(QString, text);
    QFETCH(int, selStart);
    QFETCH(int, selLength);
    QFETCH(Clip, clipboard);
    QFETCH(QString, expectedText);
    QFETCH(int, expectedStart);
    QFETCH(int, expectedLength);
    QFETCH(Clip, expectedClipboard);
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
    f.text().setText(text);
    f.text().setSelStart(selStart);
    f.text().setSelLength(selLength);
    QCOMPARE(f.text().selLength(), selLength);
    QGuiApplication::clipboard()->clear();
    if (clipboard)
        QGuiApplication::clipboard()->setText(*clipboard);

    if (byKey) {
        f.text().setFocus();
        QTRY_VERIFY(f.text().hasFocus());
        QTest::keyClick(&f.text(), keys.key(), keys.keyboardModifiers());
        QCOMPARE(triggered.size(), 1);
    } else {
        (f.form.*run.handler)();
    }

    QCOMPARE(f.text().text(), expectedText);
    QCOMPARE(f.text().textLength(), expectedText.size());
    QCOMPARE(f.text().selStart(), expectedStart);
    QCOMPARE(f.text().selLength(), expectedLength);
    QCOMPARE(describe(clipboardContent()), describe(expectedClipboard));
    QCOMPARE(f.form.textChanged(), changed);
    QCOMPARE(f.window.caption(), caption);
}

QTEST_MAIN(TestEditCommands)
#include "tst_editcommands.moc"
