// Open, Save, Save As, New and Exit with the real window, text box and files, scripted dialogs
// and message boxes: what ends up on disk, in the caption and in the document state.
#include "editorfixture.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

const QString Prompt = u"Discard changes done ?"_s;
constexpr int PromptStyle = 292;
constexpr int FailureStyle = 64;

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList titles(const QList<ScriptedMessageBoxes::Call> &calls)
{
    QStringList result;
    for (const auto &call : calls)
        result.append(call.title);
    return result;
}

QStringList dialogTitles(const QList<ScriptedDialog::Show> &shows)
{
    QStringList result;
    for (const auto &show : shows)
        result.append(show.title);
    return result;
}

} // namespace

class TestFileCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void storeCommands_data();
    void storeCommands();
    void storeDialogsAndBoxes();
    void openStates_data();
    void openStates();
    void openedTextAndFigure_data();
    void openedTextAndFigure();
    void openReadsWhatSaveWrote();
    void secondOpenReplaces();
    void failedOpensNeverExhaustTheNumbers();
    void closingTheWindow_data();
    void closingTheWindow();
    void exitNeverAsksTwice_data();
    void exitNeverAsksTwice();

private:
    QString path(const QString &name) const { return m_folder->filePath(name); }
    // Resolves the names the tables use to paths in the test folder.
    QString resolve(const QString &name) const;
    // A started editor holding the text hello, with doc.txt as its file when hasFile.
    void prepare(EditorFixture &f, bool hasFile, bool changed);

    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestFileCommands::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

QString TestFileCommands::resolve(const QString &name) const
{
    if (name == u"doc")
        return path(u"doc.txt"_s);
    if (name == u"chosen")
        return path(u"chosen.txt"_s);
    if (name == u"missing")
        return path(u"missing/chosen.txt"_s);
    return name; // cancelled, or only spaces
}

void TestFileCommands::prepare(EditorFixture &f, bool hasFile, bool changed)
{
    f.start();
    if (hasFile) {
        writeBytes(path(u"doc.txt"_s), "\"old\"\r\n");
        f.dialog.fileAnswers = { path(u"doc.txt"_s) };
        f.form.File_Open_Click();
        QCOMPARE(f.form.currentFile(), path(u"doc.txt"_s));
    }
    f.text().setText(u"hello"_s);
    if (changed)
        f.form.Text1_KeyPress(u'o');
    QCOMPARE(f.form.textChanged(), changed);
    f.dialog.shows.clear();
    f.messageBoxes.calls.clear();
}

void TestFileCommands::storeCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("answer"); // the file dialog's answer; not used without a dialog
    QTest::addColumn<QList<int>>("replies"); // to the discard prompt
    QTest::addColumn<QString>("written"); // which file gets "hello"
    QTest::addColumn<QString>("file"); // CurrentFile afterwards
    QTest::addColumn<QString>("caption"); // same, saved or blank
    QTest::addColumn<bool>("changedAfter");
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QStringList>("boxes"); // message box titles in order
    QTest::addColumn<bool>("ended");

    const QList<int> none;
    const QList<int> yes { MessageBoxes::Yes };
    const QList<int> no { MessageBoxes::No };
    const QList<int> okThenYes { MessageBoxes::Ok, MessageBoxes::Yes };
    const QList<int> okThenNo { MessageBoxes::Ok, MessageBoxes::No };
    const QStringList noDialog;
    const QStringList save { u"Save"_s };
    const QStringList saveAs { u"Save As"_s };
    const QStringList noBox;
    const QStringList prompt { u"Quorvex"_s };
    const QStringList pathFailure { u"76"_s };
    const QStringList pathFailureThenPrompt { u"76"_s, u"Quorvex"_s };
    const QString cancel;

    // command  hasFile changed answer replies written file caption changedAfter dialogs boxes ended
    QTest::addRow("save, has a file, changed")
        << u"save"_s << true << true << cancel << none << u"doc"_s << u"doc"_s << u"saved"_s
        << false << noDialog << noBox << false;
    QTest::addRow("save, has a file, clean")
        << u"save"_s << true << false << cancel << none << QString() << u"doc"_s << u"same"_s
        << false << noDialog << noBox << false;
    QTest::addRow("save, no file, name chosen, changed")
        << u"save"_s << false << true << u"chosen"_s << none << u"chosen"_s << u"chosen"_s
        << u"saved"_s << false << save << noBox << false;
    QTest::addRow("save, no file, name chosen, clean")
        << u"save"_s << false << false << u"chosen"_s << none << QString() << u"chosen"_s
        << u"same"_s << false << save << noBox << false;
    QTest::addRow("save, no file, dialog cancelled")
        << u"save"_s << false << true << cancel << none << QString() << QString() << u"same"_s
        << true << save << noBox << false;
    QTest::addRow("save, no file, only spaces chosen")
        << u"save"_s << false << true << u"   "_s << none << QString() << QString() << u"same"_s
        << true << save << noBox << false;
    QTest::addRow("save as, dialog cancelled")
        << u"saveAs"_s << true << true << cancel << none << QString() << u"doc"_s << u"same"_s
        << true << saveAs << noBox << false;
    QTest::addRow("save as, has a file, clean, name chosen")
        << u"saveAs"_s << true << false << u"chosen"_s << none << u"chosen"_s << u"chosen"_s
        << u"saved"_s << false << saveAs << noBox << false;
    QTest::addRow("save as, no file, changed, name chosen")
        << u"saveAs"_s << false << true << u"chosen"_s << none << u"chosen"_s << u"chosen"_s
        << u"saved"_s << false << saveAs << noBox << false;
    QTest::addRow("save as, has a file, its own name")
        << u"saveAs"_s << true << false << u"doc"_s << none << u"doc"_s << u"doc"_s << u"saved"_s
        << false << saveAs << noBox << false;

    // A failed save keeps the name, the caption and the changes.
    QTest::addRow("save as, missing folder")
        << u"saveAs"_s << true << true << u"missing"_s << none << QString() << u"doc"_s << u"same"_s
        << true << saveAs << pathFailure << false;
    QTest::addRow("save, no file, missing folder")
        << u"save"_s << false << true << u"missing"_s << none << QString() << QString() << u"same"_s
        << true << save << pathFailure << false;

    QTest::addRow("new, clean") << u"new"_s << true << false << cancel << none << QString()
                                << QString() << u"blank"_s << false << noDialog << noBox << false;
    QTest::addRow("new, has a file, changed")
        << u"new"_s << true << true << cancel << none << u"doc"_s << QString() << u"blank"_s
        << false << noDialog << noBox << false;
    QTest::addRow("new, no file, name chosen")
        << u"new"_s << false << true << u"chosen"_s << none << u"chosen"_s << QString()
        << u"blank"_s << false << save << noBox << false;
    QTest::addRow("new, save cancelled, discard yes")
        << u"new"_s << false << true << cancel << yes << QString() << QString() << u"blank"_s
        << false << save << prompt << false;
    QTest::addRow("new, save cancelled, discard no")
        << u"new"_s << false << true << cancel << no << QString() << QString() << u"same"_s << true
        << save << prompt << false;
    QTest::addRow("new, save failed, discard no")
        << u"new"_s << false << true << u"missing"_s << okThenNo << QString() << QString()
        << u"same"_s << true << save << pathFailureThenPrompt << false;
    QTest::addRow("new, save failed, discard yes")
        << u"new"_s << false << true << u"missing"_s << okThenYes << QString() << QString()
        << u"blank"_s << false << save << pathFailureThenPrompt << false;

    QTest::addRow("exit, clean") << u"exit"_s << false << false << cancel << none << QString()
                                 << QString() << u"same"_s << false << noDialog << noBox << true;
    QTest::addRow("exit, has a file, changed")
        << u"exit"_s << true << true << cancel << none << u"doc"_s << u"doc"_s << u"saved"_s
        << false << noDialog << noBox << true;
    QTest::addRow("exit, no file, name chosen")
        << u"exit"_s << false << true << u"chosen"_s << none << u"chosen"_s << u"chosen"_s
        << u"saved"_s << false << save << noBox << true;
    QTest::addRow("exit, save cancelled, discard yes")
        << u"exit"_s << false << true << cancel << yes << QString() << QString() << u"same"_s
        << true << save << prompt << true;
    QTest::addRow("exit, save cancelled, discard no")
        << u"exit"_s << false << true << cancel << no << QString() << QString() << u"same"_s << true
        << save << prompt << false;
    QTest::addRow("exit, save failed, discard no")
        << u"exit"_s << false << true << u"missing"_s << okThenNo << QString() << QString()
        << u"same"_s << true << save << pathFailureThenPrompt << false;
    QTest::addRow("exit, save failed, discard yes")
        << u"exit"_s << false << true << u"missing"_s << okThenYes << QString() << QString()
        << u"same"_s << true << save << pathFailureThenPrompt << true;
}

void TestFileCommands::storeCommands()
{
    QFETCH(QString, command);
    QFETCH(bool, hasFile);
    QFETCH(bool, changed);
    QFETCH(QString, answer);
    QFETCH(QList<int>, replies);
    QFETCH(QString, written);
    QFETCH(QString, file);
    QFETCH(QString, caption);
    QFETCH(bool, changedAfter);
    QFETCH(QStringList, dialogs);
    QFETCH(QStringList, boxes);
    QFETCH(bool, ended);

    EditorFixture f;
    prepare(f, hasFile, changed);
    if (QTest::currentTestFailed())
        return;
    const QString captionBefore = f.window.caption();
    const QByteArray docBefore = fileBytes(path(u"doc.txt"_s));
    f.dialog.fileAnswers = { resolve(answer) };
    f.messageBoxes.replies = replies;

    if (command == u"save")
        f.form.File_Save_Click();
    else if (command == u"saveAs")
        f.form.File_Save_As_Click();
    else if (command == u"new")
        f.form.File_New_Click();
    else
        f.form.File_Exit_Click();

    QCOMPARE(fileBytes(path(u"doc.txt"_s)),
             written == u"doc" ? QByteArray("\"hello\"\r\n") : docBefore);
    QCOMPARE(fileBytes(path(u"chosen.txt"_s)),
             written == u"chosen" ? QByteArray("\"hello\"\r\n") : QByteArray("<missing>"));
    QCOMPARE(f.form.currentFile(), resolve(file));
    if (caption == u"same")
        QCOMPARE(f.window.caption(), captionBefore);
    else if (caption == u"blank")
        QCOMPARE(f.window.caption(), u"Quorvex - Blank.txt"_s);
    else
        QCOMPARE(f.window.caption(), u"Quorvex - "_s + resolve(file) + u" File Size : 6 Bytes ]"_s);
    QCOMPARE(f.text().text(), caption == u"blank" ? QString() : u"hello"_s);
    QCOMPARE(f.form.textChanged(), changedAfter);
    QCOMPARE(dialogTitles(f.dialog.shows), dialogs);
    QCOMPARE(titles(f.messageBoxes.calls), boxes);
    QCOMPARE(f.window.hasEnded(), ended);
    QCOMPARE(f.window.isVisible(), !ended);
    // No temporary file is left behind.
    for (const QString &name : QDir(path(QString())).entryList(QDir::Files | QDir::Hidden))
        QVERIFY2(name == u"doc.txt" || name == u"chosen.txt", qPrintable(name));
}

// The texts, styles and filters of what the store commands show.
void TestFileCommands::storeDialogsAndBoxes()
{
    EditorFixture f;
    prepare(f, false, true);
    f.dialog.fileAnswers = { path(u"missing/a.txt"_s), QString() };
    f.messageBoxes.replies = { MessageBoxes::Ok, MessageBoxes::No };
    f.form.File_New_Click();
    f.form.File_Save_As_Click();

    QCOMPARE(f.dialog.shows.size(), 2);
    for (const auto &show : f.dialog.shows) {
        QCOMPARE(show.kind, u"save"_s);
        QCOMPARE(show.filter, u"Text Documents (*.txt) | *.txt"_s);
    }
    QCOMPARE(f.messageBoxes.calls.size(), 2);
    const auto failure = f.messageBoxes.calls.at(0);
    QCOMPARE(failure.style, FailureStyle);
    QCOMPARE(failure.title, u"76"_s);
    QVERIFY2(failure.prompt.contains(QDir::toNativeSeparators(path(u"missing/a.txt"_s))),
             qPrintable(failure.prompt));
    const auto prompt = f.messageBoxes.calls.at(1);
    QCOMPARE(prompt.prompt, Prompt);
    QCOMPARE(prompt.style, PromptStyle);
    QCOMPARE(prompt.title, u"Quorvex"_s);
}

void TestFileCommands::openStates_data()
{
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QList<int>>("replies");
    QTest::addColumn<QString>("answer"); // a name in the test folder, or a path as it is
    QTest::addColumn<QString>("outcome"); // loaded, unchanged or partial
    QTest::addColumn<int>("failure");
    QTest::addColumn<int>("dialogs");

    const QList<int> none;
    const QList<int> yes { MessageBoxes::Yes };
    const QList<int> no { MessageBoxes::No };

    QTest::addRow("clean, loaded") << false << none << u"ab.txt"_s << u"loaded"_s << 0 << 1;
    QTest::addRow("changed, no to the prompt")
        << true << no << u"ab.txt"_s << u"unchanged"_s << 0 << 0;
    QTest::addRow("changed, yes, loaded") << true << yes << u"ab.txt"_s << u"loaded"_s << 0 << 1;
    QTest::addRow("changed, yes, dialog cancelled")
        << true << yes << QString() << u"unchanged"_s << 0 << 1;
    QTest::addRow("only spaces chosen") << false << none << u"  "_s << u"unchanged"_s << 0 << 1;
    QTest::addRow("missing file") << true << yes << u"none.txt"_s << u"unchanged"_s
                                  << int(FailureNumber::FileNotFound) << 1;
    QTest::addRow("missing folder") << false << none << u"nowhere/a.txt"_s << u"unchanged"_s
                                    << int(FailureNumber::PathNotFound) << 1;
    QTest::addRow("folder") << false << none << u"folder"_s << u"unchanged"_s
                            << int(FailureNumber::PathFileAccessError) << 1;
#ifdef Q_OS_UNIX
    QTest::addRow("FIFO") << false << none << u"fifo"_s << u"unchanged"_s
                          << int(FailureNumber::PathFileAccessError) << 1;
    QTest::addRow("/dev/zero") << false << none << u"/dev/zero"_s << u"unchanged"_s
                               << int(FailureNumber::PathFileAccessError) << 1;
    QTest::addRow("larger than can be held")
        << false << none << u"huge.txt"_s << u"unchanged"_s << int(FailureNumber::OutOfMemory) << 1;
#endif
    QTest::addRow("unterminated quoted item, changed")
        << true << yes << u"cut.txt"_s << u"partial"_s << int(FailureNumber::InputPastEndOfFile)
        << 1;
    QTest::addRow("unterminated quoted item, clean")
        << false << none << u"cut.txt"_s << u"partial"_s << int(FailureNumber::InputPastEndOfFile)
        << 1;
}

void TestFileCommands::openStates()
{
    QFETCH(bool, changed);
    QFETCH(QList<int>, replies);
    QFETCH(QString, answer);
    QFETCH(QString, outcome);
    QFETCH(int, failure);
    QFETCH(int, dialogs);

    writeBytes(path(u"ab.txt"_s), "a,b\r\n");
    writeBytes(path(u"cut.txt"_s), "a,b\r\n\"c,d\r\n");
    QVERIFY(QDir(path(QString())).mkpath(u"folder"_s));
#ifdef Q_OS_UNIX
    QCOMPARE(::mkfifo(QFile::encodeName(path(u"fifo"_s)).constData(), 0600), 0);
    QFile huge(path(u"huge.txt"_s));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    QVERIFY(huge.resize(QtSequentialFiles::LargestInput + 1)); // sparse: costs no disk
    huge.close();
#endif
    const QString chosen
        = answer.trimmed().isEmpty() || answer.startsWith(u'/') ? answer : path(answer);

    EditorFixture f;
    prepare(f, true, changed);
    if (QTest::currentTestFailed())
        return;
    const QString captionBefore = f.window.caption();
    f.dialog.fileAnswers = { chosen };
    f.messageBoxes.replies = replies;

    f.form.File_Open_Click();

    QCOMPARE(f.dialog.shows.size(), dialogs);
    if (dialogs) {
        QCOMPARE(f.dialog.shows.at(0).kind, u"open"_s);
        QCOMPARE(f.dialog.shows.at(0).title, u"Open a file (*.txt)"_s);
        QCOMPARE(f.dialog.shows.at(0).filter, u"Text Documents (*.txt) | *.txt"_s);
    }
    QStringList expectedBoxes;
    if (changed)
        expectedBoxes.append(u"Quorvex"_s);
    if (failure)
        expectedBoxes.append(QString::number(failure));
    QCOMPARE(titles(f.messageBoxes.calls), expectedBoxes);
    if (changed) {
        QCOMPARE(f.messageBoxes.calls.at(0).prompt, Prompt);
        QCOMPARE(f.messageBoxes.calls.at(0).style, PromptStyle);
    }
    if (failure) {
        const auto box = f.messageBoxes.calls.constLast();
        QCOMPARE(box.style, FailureStyle);
        QVERIFY2(box.prompt.contains(QDir::toNativeSeparators(chosen)), qPrintable(box.prompt));
    }

    if (outcome == u"loaded") {
        QCOMPARE(f.text().text(), u"a\r\nb\r\n"_s);
        QCOMPARE(f.form.currentFile(), chosen);
        QCOMPARE(f.window.caption(), u"Quorvex - "_s + chosen + u" FileSize : 4 Bytes ]"_s);
        QVERIFY(!f.form.textChanged());
    } else if (outcome == u"partial") {
        QCOMPARE(f.text().text(), u"a\r\nb\r\n"_s);
        QCOMPARE(f.window.caption(), u"Quorvex : Reading the file "_s + chosen + u"..."_s);
        QCOMPARE(f.form.currentFile(), path(u"doc.txt"_s));
        QCOMPARE(f.form.textChanged(), changed);
    } else {
        QCOMPARE(f.text().text(), u"hello"_s);
        QCOMPARE(f.window.caption(), captionBefore);
        QCOMPARE(f.form.currentFile(), path(u"doc.txt"_s));
        QCOMPARE(f.form.textChanged(), changed);
    }
    // The pointer is back whichever way the command ended, and no file is left open.
    QCOMPARE(f.screen.mousePointer(), int(ScreenPointer::Default));
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(f.files.freeFile(), 1);
}

void TestFileCommands::openedTextAndFigure_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("figure");

    QTest::addRow("a,b") << QByteArray("a,b\r\n") << u"a\r\nb\r\n"_s << 4;
    QTest::addRow("empty file") << QByteArray() << QString() << 0;
    QTest::addRow("items of 4, 0 and 7")
        << QByteArray("abcd\r\n\r\nefghijk\r\n") << u"abcd\r\n\r\nefghijk\r\n"_s << 14;
    QTest::addRow("quoted comma") << QByteArray("\"a,b\"\r\n") << u"a,b\r\n"_s << 4;
    QTest::addRow("no final line end") << QByteArray("x") << u"x\r\n"_s << 2;
}

void TestFileCommands::openedTextAndFigure()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(int, figure);
    const QString name = path(u"in.txt"_s);
    writeBytes(name, bytes);

    EditorFixture f;
    f.start();
    f.dialog.fileAnswers = { name };
    f.form.File_Open_Click();
    QCOMPARE(f.text().text(), text);
    QCOMPARE(f.window.caption(),
             u"Quorvex - %1 FileSize : %2 Bytes ]"_s.arg(name, QString::number(figure)));
    QCOMPARE(f.form.fileSize(), figure);
    QVERIFY(f.messageBoxes.calls.isEmpty());
    // Loading from code is not an edit, so the document is clean and can be left at once.
    QVERIFY(!f.form.textChanged());
}

void TestFileCommands::openReadsWhatSaveWrote()
{
    EditorFixture f;
    f.start();
    f.text().setText(u"hello"_s);
    f.form.Text1_KeyPress(u'o');
    f.dialog.fileAnswers = { path(u"hello.txt"_s), path(u"hello.txt"_s) };
    f.form.File_Save_Click();
    QCOMPARE(fileBytes(path(u"hello.txt"_s)), QByteArray("\"hello\"\r\n"));
    QCOMPARE(f.window.caption(),
             u"Quorvex - "_s + path(u"hello.txt"_s) + u" File Size : 6 Bytes ]"_s);

    f.form.File_Open_Click();
    QCOMPARE(f.text().text(), u"hello\r\n"_s);
    QCOMPARE(f.window.caption(),
             u"Quorvex - "_s + path(u"hello.txt"_s) + u" FileSize : 6 Bytes ]"_s);
}

void TestFileCommands::secondOpenReplaces()
{
    writeBytes(path(u"one.txt"_s), "first,file\r\n");
    writeBytes(path(u"two.txt"_s), "second\r\n");
    EditorFixture f;
    f.start();
    f.dialog.fileAnswers = { path(u"one.txt"_s), path(u"two.txt"_s) };
    f.form.File_Open_Click();
    QCOMPARE(f.text().text(), u"first\r\nfile\r\n"_s);
    f.form.File_Open_Click();
    QCOMPARE(f.text().text(), u"second\r\n"_s);
    QCOMPARE(f.form.fileSize(), 7);
    QCOMPARE(f.form.currentFile(), path(u"two.txt"_s));
}

void TestFileCommands::failedOpensNeverExhaustTheNumbers()
{
    writeBytes(path(u"cut.txt"_s), "\"never closed");
    writeBytes(path(u"good.txt"_s), "fine\r\n");
    QVERIFY(QDir(path(QString())).mkpath(u"folder"_s));
    const QStringList failing { path(u"cut.txt"_s), path(u"missing.txt"_s), path(u"folder"_s) };

    EditorFixture f;
    f.start();
    for (int i = 0; i < 600; ++i)
        f.dialog.fileAnswers.append(failing.at(i % failing.size()));
    f.dialog.fileAnswers.append(path(u"good.txt"_s));
    for (int i = 0; i < 600; ++i)
        f.form.File_Open_Click();
    QCOMPARE(f.messageBoxes.calls.size(), 600);
    QCOMPARE(f.files.freeFile(), 1);

    f.form.File_Open_Click();
    QCOMPARE(f.messageBoxes.calls.size(), 600);
    QCOMPARE(f.text().text(), u"fine\r\n"_s);
    QCOMPARE(f.window.caption(),
             u"Quorvex - "_s + path(u"good.txt"_s) + u" FileSize : 5 Bytes ]"_s);
    QCOMPARE(f.screen.mousePointer(), int(ScreenPointer::Default));
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestFileCommands::closingTheWindow_data()
{
    QTest::addColumn<bool>("changed");
    QTest::addColumn<int>("reply");
    QTest::addColumn<bool>("closes");

    QTest::addRow("clean: closes at once") << false << 0 << true;
    QTest::addRow("changed, no: stays") << true << int(MessageBoxes::No) << false;
    QTest::addRow("changed, yes: closes without saving") << true << int(MessageBoxes::Yes) << true;
}

void TestFileCommands::closingTheWindow()
{
    QFETCH(bool, changed);
    QFETCH(int, reply);
    QFETCH(bool, closes);

    EditorFixture f;
    prepare(f, true, changed);
    if (QTest::currentTestFailed())
        return;
    const QString captionBefore = f.window.caption();
    if (reply)
        f.messageBoxes.replies = { reply };

    QCOMPARE(f.window.close(), closes);

    QCOMPARE(f.window.isVisible(), !closes);
    QCOMPARE(f.messageBoxes.calls.size(), changed ? 1 : 0);
    if (changed) {
        QCOMPARE(f.messageBoxes.calls.at(0).prompt, Prompt);
        QCOMPARE(f.messageBoxes.calls.at(0).style, PromptStyle);
        QCOMPARE(f.messageBoxes.calls.at(0).title, u"Quorvex"_s);
    }
    // Closing never saves, and a window kept open keeps everything.
    QCOMPARE(fileBytes(path(u"doc.txt"_s)), QByteArray("\"old\"\r\n"));
    QCOMPARE(f.text().text(), u"hello"_s);
    QCOMPARE(f.form.textChanged(), changed);
    QCOMPARE(f.window.caption(), captionBefore);
    QVERIFY(f.dialog.shows.isEmpty());
}

void TestFileCommands::exitNeverAsksTwice_data()
{
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<int>("prompts");

    QTest::addRow("saved on the way out") << true << 0;
    QTest::addRow("save cancelled, discard yes") << false << 1;
}

// Ending the program closes the window; that close must not ask again.
void TestFileCommands::exitNeverAsksTwice()
{
    QFETCH(bool, hasFile);
    QFETCH(int, prompts);

    EditorFixture f;
    prepare(f, hasFile, true);
    if (QTest::currentTestFailed())
        return;
    f.dialog.fileAnswers = { QString() };
    f.messageBoxes.replies = { MessageBoxes::Yes, MessageBoxes::No, MessageBoxes::No };
    f.form.File_Exit_Click();
    QCOMPARE(f.messageBoxes.calls.size(), prompts);
    QVERIFY(f.window.hasEnded());
    QVERIFY(!f.window.isVisible());
    QVERIFY(f.window.close());
    QCOMPARE(f.messageBoxes.calls.size(), prompts);
}

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
