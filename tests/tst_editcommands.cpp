// Copy, Cut, Paste and Select All with the real text box and the real clipboard, run from the
// menu items and from the keyboard.
#include "editorfixture.h"
#include "marked.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString noText = u"(no text)"_s; // the clipboard holds no text

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
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("keys"); // none: the menu item is triggered
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("after"); // null: the text and selection as they were
    QTest::addColumn<QString>("afterClipboard");
    const auto row
        = [](const char *name, const char16_t *item, const QString &text, const QString &clipboard,
             const QString &after, const QString &afterClipboard, const QString &keys = {}) {
              QTest::addRow("%s", name) << u"Edit_"_s + QString::fromUtf16(item) << keys << text
                                        << clipboard << after << afterClipboard;
          };
    const QString old = u"old"_s, same;

    // Copy and Cut clear the clipboard first; only Cut with a selection changes the document.
    row("copy nothing selected", u"Copy", u"Hel[]lo"_s, old, same, noText);
    row("copy across a line break", u"Copy", u"a[b\r\nc]d"_s, noText, same, u"b\r\nc"_s);
    row("copy keeps a no-break space and a surrogate pair", u"Copy", u"[x\u00a0\U0001F600y]"_s,
        noText, same, u"x\u00a0\U0001F600y"_s);
    row("cut nothing selected", u"Cut", u"Hello[]"_s, old, same, noText);
    row("cut a line break alone", u"Cut", u"ab[\r\n]cd"_s, old, u"ab[]cd"_s, u"\r\n"_s);
    // Paste replaces the selection or inserts at the caret, and always marks the document changed.
    row("paste replaces the selection", u"Paste", u"Hello [world]"_s, u"there"_s,
        u"Hello there[]"_s, u"there"_s);
    row("paste no text, nothing selected", u"Paste", u"He[]llo"_s, noText, same, noText);
    row("paste line breaks, bare line feeds made whole", u"Paste", u"a[]b"_s, u"x\r\ny\nz"_s,
        u"ax\r\ny\r\nz[]b"_s, u"x\r\ny\nz"_s);
    row("select all counts every line break", u"SelectAll", u"ab\r\nc[]d\r\nef"_s, old,
        u"[ab\r\ncd\r\nef]"_s, old);

    // Keys, each with an outcome that the text box's own edit keys would not give.
    for (const auto &[keys, item] : { std::pair(u"Ctrl+C"_s, u"Copy"),
                                      { u"Ctrl+Ins"_s, u"Copy" },
                                      { u"Ctrl+X"_s, u"Cut" },
                                      { u"Shift+Del"_s, u"Cut" } })
        row(qPrintable(keys), item, u"He[]llo"_s, old, same, noText, keys);
    for (const QString &keys : { u"Ctrl+V"_s, u"Shift+Ins"_s })
        row(qPrintable(keys), u"Paste", u"[Hello ]world"_s, noText, u"[]world"_s, noText, keys);
    row("Ctrl+A", u"SelectAll", u"ab\r\n[]cd"_s, old, u"[ab\r\ncd]"_s, old, u"Ctrl+A"_s);
}

void TestEditCommands::commands()
{
    QFETCH(QString, item);
    QFETCH(QString, keys);
    QFETCH(QString, text);
    QFETCH(QString, clipboard);
    QFETCH(QString, after);
    QFETCH(QString, afterClipboard);

    const auto bound = [](const QKeySequence &keys) {
        return std::ranges::any_of(
            QList { QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
                    QKeySequence::SelectAll },
            [&](auto command) { return QKeySequence::keyBindings(command).contains(keys); });
    };
    if (!keys.isEmpty() && !bound(QKeySequence(keys)))
        QSKIP("this platform has no such key for an edit command");

    EditorFixture f;
    f.start();
    auto *action = f.window.findChild<QAction *>(item);
    QVERIFY(action);
    QSignalSpy triggered(action, &QAction::triggered);
    const QString caption = f.window.caption();
    setMarked(f.text(), text);
    QGuiApplication::clipboard()->clear();
    if (clipboard != noText)
        QGuiApplication::clipboard()->setText(clipboard);

    if (keys.isEmpty()) {
        action->trigger();
    } else {
        f.text().setFocus();
        QTRY_VERIFY(f.text().hasFocus());
        QTest::keySequence(&f.text(), QKeySequence(keys));
        QCOMPARE(triggered.size(), 1);
    }

    after = after.isNull() ? text : after;
    QCOMPARE(marked(f.text()), after);
    QCOMPARE(f.text().textLength(), f.text().text().size());
    QCOMPARE(clipboardText(), afterClipboard);
    QCOMPARE(f.form.textChanged(),
             item == u"Edit_Paste"_s || f.text().text() != QString(text).remove(u'[').remove(u']'));
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
