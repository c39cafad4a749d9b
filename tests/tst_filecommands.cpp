// Open, Save, Save As, New and Exit on real files: what ends up on disk, in the caption and the
// document state, and that no failed save costs the file on disk or the text.
#include "editorfixture.h"
#include "encodedtext.h"
#include "files.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// The boxes' titles ("Changed": a file changed on disk), marked where text or style is wrong.
QString boxes(const QList<ScriptedMessageBoxes::Call> &calls)
{
    QStringList titles;
    for (const auto &call : calls) {
        const bool changed = call.title == u"Quorvex"
            && call.prompt.endsWith(
                u" was changed by another program since it was opened. Replace it with this text?");
        const QString title = changed ? u"Changed"_s : call.title;
        const bool right = changed ? call.style == 308
            : title == u"Quorvex"  ? call.prompt == u"Discard changes done ?" && call.style == 292
                                   : call.style == 64;
        titles.append(right ? title : title + u" (wrong text or style)"_s);
    }
    return titles.join(u", ");
}

// The titles of the file dialogs shown, each marked where its kind or filter is wrong.
QString dialogs(const QList<ScriptedDialog::Show> &shows)
{
    QStringList titles;
    for (const auto &show : shows) {
        const bool right = show.filter == u"Text Documents (*.txt) | *.txt"
            && (show.kind == u"open") == show.title.startsWith(u"Open"_s);
        titles.append(right ? show.title : show.title + u" (wrong kind or filter)"_s);
    }
    return titles.join(u", ");
}

// "File Size" after a save, "FileSize" after an open.
QString caption(const QString &file, int figure, bool opened = false)
{
    return u"Quorvex - %1 %2 : %3 Bytes ]"_s.arg(file, opened ? u"FileSize"_s : u"File Size"_s)
        .arg(figure);
}

constexpr int Y = MessageBoxes::Yes, N = MessageBoxes::No, K = MessageBoxes::Ok;

// The files Open is given besides doc.txt: their bytes, and the text they load as with its figure.
const struct
{
    const char *name;
    QByteArray bytes;
    QString text;
    int figure;
} OpenFiles[] = {
    { "empty", "", QString(), 0 },
    { "items", "abcd\r\n\r\nefghijk", u"abcd\r\n\r\nefghijk\r\n"_s, 14 },
    { "cut", "a,b\r\n\"c,d\r\n", u"a\r\nb\r\n"_s, 0 }, // ends inside a quoted item
};

const char *const Open = "Open a file (*.txt)";

// Before: doc.txt as the file or none, changes, the dialog's answer ("" cancels), the replies.
// After: the file holding "hello", CurrentFile, the caption, changes, dialogs, boxes, ended.
struct CommandRow
{
    const char *name; // starts with the command
    bool hasFile, changed;
    const char *answer;
    QList<int> replies;
    const char *written, *file, *caption;
    bool changedAfter;
    const char *dialog, *boxes;
    bool ended;
    // What happens to doc.txt before the command (see changeOnDisk).
    const char *disk = "";
};

// clang-format off
const CommandRow CommandRows[] = {
    // name, hasFile, changed, answer, replies;
    //     written, file, caption, changedAfter, dialog, boxes, ended
    { "open, items of 4, 0 and 7", true, false, "items", {},
      "", "items", "opened", false, Open, "", false },
    { "open, changed, no to the prompt", true, true, "items", { N },
      "", "doc", "same", true, "", "Quorvex", false },
    { "open, changed, yes, loaded", true, true, "empty", { Y },
      "", "empty", "opened", false, Open, "Quorvex", false },
    { "open, changed, yes, dialog cancelled", true, true, "", { Y },
      "", "doc", "same", true, Open, "Quorvex", false },
    { "open, only spaces chosen", true, false, "  ", {}, "", "doc", "same", false, Open, "", false },
    { "open, missing file", true, true, "none", { Y },
      "", "doc", "same", true, Open, "Quorvex, 53", false },
    // Partial text belongs to no file and is no change of the user's.
    { "open, unterminated quoted item, changed", true, true, "cut", { Y },
      "", "", "reading", false, Open, "Quorvex, 62", false },
    { "save, has a file, clean", true, false, "", {}, "", "doc", "same", false, "", "", false },
    { "save, changed on disk, replace", true, true, "", { Y },
      "doc", "doc", "saved", false, "", "Changed", false, "changed" },
    { "save, touched on disk, keep", true, true, "", { N },
      "", "doc", "same", true, "", "Changed", false, "touched" },
    // Neither the size nor the modification time tells these from the file that was opened.
    { "save, same size, time set back, keep", true, true, "", { N },
      "", "doc", "same", true, "", "Changed", false, "time set back" },
    { "save, swapped for a link to a same file, keep", true, true, "", { N },
      "", "doc", "same", true, "", "Changed", false, "swapped" },
    { "save, deleted on disk", true, true, "", {},
      "doc", "doc", "saved", false, "", "", false, "deleted" },
    { "save, has a file, changed, saved before", true, true, "", {},
      "doc", "doc", "saved", false, "", "", false, "saved" },
    { "save, no file, name chosen, clean", false, false, "chosen", {},
      "", "chosen", "same", false, "Save", "", false },
    { "save, no file, only spaces chosen", false, true, "   ", {},
      "", "", "same", true, "Save", "", false },
    { "save as, dialog cancelled", true, true, "", {},
      "", "doc", "same", true, "Save As", "", false },
    { "save as, has a file, clean, name chosen", true, false, "chosen", {},
      "chosen", "chosen", "saved", false, "Save As", "", false },
    { "save as, its own name, changed on disk, keep", true, false, "doc", { N },
      "", "doc", "same", false, "Save As", "Changed", false, "changed" },
    { "save as, missing folder", true, true, "missing", {},
      "", "doc", "same", true, "Save As", "76", false },
    // After an Open that failed while reading, no command writes its partial text over doc.
    { "exit, typed after a failed open", true, true, "", { Y },
      "", "", "same", true, "Save", "Quorvex", true, "failed open" },
    { "new, clean", true, false, "", {}, "", "", "blank", false, "", "", false },
    { "new, no file, name chosen", false, true, "chosen", {},
      "chosen", "", "blank", false, "Save", "", false },
    { "new, save cancelled, discard no", false, true, "", { N },
      "", "", "same", true, "Save", "Quorvex", false },
    { "new, save failed, discard yes", false, true, "missing", { K, Y },
      "", "", "blank", false, "Save", "76, Quorvex", false },
    { "exit, clean", false, false, "", {}, "", "", "same", false, "", "", true },
    { "exit, no file, name chosen", false, true, "chosen", {},
      "chosen", "chosen", "saved", false, "Save", "", true },
    // Closing the window never saves.
    { "close, clean", true, false, "", {}, "", "doc", "same", false, "", "", true },
    { "close, changed, discard yes", true, true, "", { Y },
      "", "doc", "same", true, "", "Quorvex", true },
};
// clang-format on

} // namespace

class TestFileCommands : public QObject, TestFolder
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { useOwnCache(); }
    void init() { renew(); }
    void commands_data();
    void commands();
    void failedSaveKeepsEverything_data();
    void failedSaveKeepsEverything();
    void saveThenOpen_data();
    void saveThenOpen();
    void encodingKept_data();
    void encodingKept();
    void unstorableAsked_data();
    void unstorableAsked();
    void dropped_data();
    void dropped();

private:
    // What a file changed now gets as its change time, in nanoseconds.
    qint64 changeTimeNow()
    {
        const QString probe = path(u"probe"_s);
        writeBytes(probe, "p");
        struct stat info = {};
        ::stat(encoded(probe).constData(), &info);
        QFile::remove(probe);
        return info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec;
    }
    // The names the tables use, as paths in the test folder.
    QString resolve(const QString &name) const
    {
        return name.trimmed().isEmpty() ? name // cancelled, or only spaces
            : name == u"missing"        ? path(u"missing/chosen.txt"_s)
                                        : path(name + u".txt"_s);
    }
    void changeOnDisk(EditorFixture &f, const QString &how)
    {
        const QByteArray doc = encoded(path(u"doc.txt"_s));
        struct stat before = {};
        ::stat(doc.constData(), &before);
        if (how == u"changed") {
            writeBytes(path(u"doc.txt"_s), "\"another program\"\r\n");
        } else if (how == u"touched" || how == u"time set back" || how == u"swapped") {
            // Touched: 1 ns later; otherwise the change time (which nobody can set) must move on.
            QTRY_VERIFY(how == u"touched"
                        || changeTimeNow()
                            != before.st_ctim.tv_sec * 1'000'000'000LL + before.st_ctim.tv_nsec);
            const QString other = how == u"swapped" ? path(u"other.txt"_s) : path(u"doc.txt"_s);
            writeBytes(other, "\"OLD\"\r\n");
            struct timespec times[2] = { before.st_atim, before.st_mtim };
            if (how == u"touched" && ++times[1].tv_nsec == 1'000'000'000)
                times[1] = { times[1].tv_sec + 1, 0 };
            QCOMPARE(::utimensat(AT_FDCWD, encoded(other).constData(), times, 0), 0);
            if (how == u"swapped") {
                QVERIFY(QFile::remove(path(u"doc.txt"_s)));
                QVERIFY(QFile::link(u"other.txt"_s, path(u"doc.txt"_s)));
            }
        } else if (how == u"deleted") {
            QVERIFY(QFile::remove(path(u"doc.txt"_s)));
        } else if (how == u"saved") {
            f.form.File_Save_Click();
            f.form.Text1_KeyPress(u'o');
        } else if (how == u"failed open") {
            f.dialog.fileAnswers = { path(u"cut.txt"_s) };
            f.messageBoxes.replies = { Y, K };
            f.form.File_Open_Click();
            QCOMPARE(f.text().text(), u"a\r\nb\r\n"_s);
            f.form.Text1_KeyPress(u'o');
            f.dialog.shows.clear();
            f.messageBoxes.calls.clear();
        }
    }
    // A started editor holding `text`, with `doc` (doc.txt when empty) as its file when hasFile.
    void prepare(EditorFixture &f, bool hasFile, bool changed, const QString &text = u"hello"_s,
                 QString doc = {})
    {
        f.start();
        if (hasFile) {
            doc = doc.isEmpty() ? path(u"doc.txt"_s) : doc;
            writeBytes(doc, "\"old\"\r\n");
            f.dialog.fileAnswers = { doc };
            f.form.File_Open_Click();
            QCOMPARE(f.form.currentFile(), doc);
        }
        f.text().setText(text);
        if (changed)
            f.form.Text1_KeyPress(u'o');
        QCOMPARE(f.form.textChanged(), changed);
        f.dialog.shows.clear();
        f.messageBoxes.calls.clear();
    }
};

void TestFileCommands::commands_data()
{
    QTest::addColumn<int>("row");
    for (int row = 0; row < int(std::size(CommandRows)); ++row)
        QTest::addRow("%s", CommandRows[row].name) << row;
}

void TestFileCommands::commands()
{
    QFETCH(int, row);
    const CommandRow &r = CommandRows[row];
    const QString command = QString::fromUtf8(r.name).section(u',', 0, 0);
    const QString shown = QString::fromUtf8(r.caption);
    const QString answer = resolve(QString::fromUtf8(r.answer));
    QString opened; // the text the chosen file loads as
    int figure = 0;
    for (const auto &file : OpenFiles) {
        writeBytes(path(QString::fromUtf8(file.name) + u".txt"_s), file.bytes);
        if (file.name == QByteArray(r.answer))
            std::tie(opened, figure) = std::tie(file.text, file.figure);
    }

    EditorFixture f;
    prepare(f, r.hasFile, r.changed);
    if (QTest::currentTestFailed())
        return;
    changeOnDisk(f, QString::fromUtf8(r.disk));
    const QStringList entriesBefore = entries(folder());
    const QString captionBefore = f.window.caption();
    const QString textBefore = f.text().text();
    const QByteArray docBefore = fileBytes(path(u"doc.txt"_s));
    f.dialog.fileAnswers = { answer };
    f.messageBoxes.replies = r.replies;

    if (command == u"open")
        f.form.File_Open_Click();
    else if (command == u"save")
        f.form.File_Save_Click();
    else if (command == u"save as")
        f.form.File_Save_As_Click();
    else if (command == u"new")
        f.form.File_New_Click();
    else if (command == u"exit")
        f.form.File_Exit_Click();
    else
        QCOMPARE(f.window.close(), r.ended);

    const QByteArray hello = "\"hello\"\r\n";
    QCOMPARE(fileBytes(path(u"doc.txt"_s)), r.written == "doc"_ba ? hello : docBefore);
    QCOMPARE(fileBytes(path(u"chosen.txt"_s)), r.written == "chosen"_ba ? hello : "<missing>"_ba);
    const QString file = resolve(QString::fromUtf8(r.file));
    QCOMPARE(f.form.currentFile(), file);
    QCOMPARE(f.window.caption(),
             shown == u"same"          ? captionBefore
                 : shown == u"blank"   ? u"Quorvex - Blank.txt"_s
                 : shown == u"opened"  ? caption(file, figure, true)
                 : shown == u"reading" ? u"Quorvex : Reading the file %1..."_s.arg(answer)
                                       : caption(file, 6));
    QCOMPARE(f.text().text(),
             shown == u"blank"                               ? QString()
                 : shown == u"opened" || shown == u"reading" ? opened
                                                             : textBefore);
    QCOMPARE(f.form.textChanged(), r.changedAfter);
    QCOMPARE(dialogs(f.dialog.shows), QString::fromUtf8(r.dialog));
    QCOMPARE(boxes(f.messageBoxes.calls), QString::fromUtf8(r.boxes));
    for (const auto &call : std::as_const(f.messageBoxes.calls)) // a failure names the file
        QVERIFY2(call.title.toInt() == 0 || call.prompt.contains(QDir::toNativeSeparators(answer)),
                 qPrintable(call.prompt));
    QCOMPARE(f.window.hasEnded(), r.ended);
    QCOMPARE(f.window.isVisible(), !r.ended);
    // Once the program has ended, closing the window does not ask again.
    const qsizetype shownBoxes = f.messageBoxes.calls.size();
    QVERIFY(!r.ended || (f.window.close() && f.messageBoxes.calls.size() == shownBoxes));
    // No temporary file is left behind, no file open, and the pointer is back.
    for (const QString &name : entries(folder()))
        QVERIFY2(entriesBefore.contains(name) || name == u"chosen.txt" || name == u"doc.txt",
                 qPrintable(name));
    QCOMPARE(f.files.freeFile(), 1);
    QCOMPARE(f.stateKept(), QStringList());
    QCOMPARE(f.screen.mousePointer(), int(ScreenPointer::Default));
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestFileCommands::failedSaveKeepsEverything_data()
{
    QTest::addColumn<int>("number");
    QTest::addRow("read-only file") << int(FailureNumber::PermissionDenied);
    QTest::addRow("file-size limit") << int(FailureNumber::DiskFull);
    QTest::addRow("full disk, written in place") << int(FailureNumber::DiskFull);
    QTest::addRow("too many open files") << int(FailureNumber::TooManyFiles);
    QTest::addRow("too many open files, deleted on disk") << int(FailureNumber::TooManyFiles);
}

// The message box names the file; the file on disk, the folder and the editor stay as they were.
void TestFileCommands::failedSaveKeepsEverything()
{
    QFETCH(int, number);
    const QString situation = QString::fromUtf8(QTest::currentDataTag());
    const bool fullDisk = situation.startsWith(u"full disk");
    if (fullDisk && !runningAsRoot())
        QSKIP("Needs root to mount a small disk and lock its folder.");
    const QString where = fullDisk ? path(u"disk"_s) : folder();
    std::optional<Mount> disk;
    if (fullDisk && !disk.emplace(u"tmpfs"_s, where, "tmpfs", "size=64k,mode=0777").mounted())
        QSKIP("A small file system cannot be mounted here.");
    const QString doc = where + u"/doc.txt"_s;

    // A locked folder takes no temporary file, so the full disk is met writing over the file; the
    // mode is set before Open, as a change of mode is a change on disk.
    const bool locked = situation == u"read-only file" || fullDisk;
    if (locked) {
        writeBytes(doc, {});
        QCOMPARE(::chmod(encoded(doc).constData(), fullDisk ? 0666 : 0444), 0);
    }
    EditorFixture f;
    const QString text(200 * 1024, u'n');
    prepare(f, true, true, text, doc);
    const QString captionBefore = f.window.caption();
    if (situation.endsWith(u"deleted on disk"))
        QVERIFY(QFile::remove(doc));
    const QByteArray old = fileBytes(doc);

    std::optional<Unprivileged> unprivileged;
    std::optional<Limit> limit;
    if (locked) {
        QCOMPARE(::chmod(encoded(where).constData(), fullDisk ? 0755 : 0777), 0);
        QVERIFY(!fullDisk || disk->fill());
        unprivileged.emplace();
    } else if (situation == u"file-size limit") {
        QVERIFY(limit.emplace(RLIMIT_FSIZE, 64 * 1024).set());
    }
    const QStringList before = entries(where);
    if (situation.startsWith(u"too many open files")) {
        const int next = ::open("/dev/null", O_RDONLY); // the first descriptor to be refused
        QVERIFY(next > 0 && ::close(next) == 0 && limit.emplace(RLIMIT_NOFILE, next).set());
    }

    f.form.File_Save_Click();
    unprivileged.reset();
    limit.reset();
    ::chmod(encoded(where).constData(), 0755);

    QCOMPARE(boxes(f.messageBoxes.calls), QString::number(number));
    QVERIFY2(f.messageBoxes.calls.at(0).prompt.contains(QDir::toNativeSeparators(doc)),
             qPrintable(f.messageBoxes.calls.at(0).prompt));
    QCOMPARE(fileBytes(doc), old);
    QCOMPARE(entries(where), before);
    QCOMPARE(cacheKept(), QStringList());
    // Nor a record of the save's steps, which the next start would take for a save cut short.
    QCOMPARE(f.stateKept(), QStringList());
    QCOMPARE(f.text().text(), text);
    QVERIFY(f.form.textChanged());
    QCOMPARE(f.form.currentFile(), doc);
    QCOMPARE(f.window.caption(), captionBefore);
    QCOMPARE(f.files.freeFile(), 1);

    // The next Save does not ask about a change on disk (the failed save put the bytes back), and
    // writes the text where the cause is gone.
    f.form.File_Save_Click();
    const QString number2 = QString::number(number);
    QCOMPARE(boxes(f.messageBoxes.calls), fullDisk ? number2 + u", "_s + number2 : number2);
    QCOMPARE(fileBytes(doc), fullDisk ? old : '"' + text.toLatin1() + "\"\r\n");
}

void TestFileCommands::saveThenOpen_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addRow("spaces at both ends") << u"  both ends.txt  "_s << u"hello"_s;
    QTest::addRow("non-ASCII") << u"na\u00efve \u20ac \u4e2d\u6587 \U0001F600.txt"_s << u"hello"_s;
    // Written in many pieces: marks, pairs and a U+FEFF fall at their edges somewhere.
    QTest::addRow("text of many pieces")
        << u"large.txt"_s << u"say \"hi\" \U0001F600\r\n\ufeff\u00e9,"_s.repeated(40000);
}

// What Save writes, Open reads back, under the name exactly as chosen.
void TestFileCommands::saveThenOpen()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    const QString full = path(name);
    EditorFixture f;
    prepare(f, false, true, text);
    f.dialog.fileAnswers = { full, full };
    f.form.File_Save_Click();
    QCOMPARE(entries(folder()), QStringList { name });
    const QByteArray marksDoubled = QString(text).replace(u"\""_s, u"\"\""_s).toUtf8();
    QVERIFY(fileBytes(full) == "\"" + marksDoubled + "\"\r\n");
    QCOMPARE(f.window.caption(), caption(full, text.size() + 1));

    f.form.File_Open_Click();
    QVERIFY(f.messageBoxes.calls.isEmpty());
    QVERIFY(f.text().text() == text + u"\r\n"_s);
    QCOMPARE(f.form.currentFile(), full);
    QCOMPARE(f.window.caption(), caption(full, text.size() + 1, true));
}

void TestFileCommands::encodingKept_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("saved"); // once a letter is typed at the end of the text
    QTest::addColumn<bool>("saveAs");

    const QByteArray bom = "\xef\xbb\xbf";
    QTest::addRow("UTF-8") << "caf\xc3\xa9"_ba
                           << "\"caf\xc3\xa9\r\nz\"\r\n"_ba << false;
    QTest::addRow("UTF-8 with BOM") << bom + "caf\xc3\xa9" << bom + "\"caf\xc3\xa9\r\nz\"\r\n"
                                    << false;
    QTest::addRow("UTF-16 BE, save as")
        << utf16(u"\U0001F600"_s, true) << utf16(u"\"\U0001F600\r\nz\"\r\n"_s, true) << true;
    const QByteArray all = everyByte();
    QTest::addRow("every byte") << all << '"' + all + "\r\nz\"\r\n" << false;
    // Read as UTF-8 until a byte past the first read that is not: read again, only once.
    const QByteArray late = "caf\xc3\xa9 " + QByteArray(1 << 20, 'a') + "\x93";
    QTest::addRow("Windows-1252 found late") << late << '"' + late + "\r\nz\"\r\n" << false;
}

// Save and Save As write the text in the encoding the file was read in.
void TestFileCommands::encodingKept()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, saved);
    QFETCH(bool, saveAs);
    writeBytes(path(u"doc.txt"_s), file);
    EditorFixture f;
    f.start();
    f.dialog.fileAnswers = { path(u"doc.txt"_s), path(u"other.txt"_s) };
    f.form.File_Open_Click();
    f.text().setSelStart(f.text().textLength());
    f.text().setSelText(u"z"_s);
    f.form.Text1_KeyPress(u'z');
    saveAs ? f.form.File_Save_As_Click() : f.form.File_Save_Click();
    QCOMPARE(boxes(f.messageBoxes.calls), QString());
    QCOMPARE(fileBytes(path(saveAs ? u"other.txt"_s : u"doc.txt"_s)), saved);
}

void TestFileCommands::unstorableAsked_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<int>>("replies");
    QTest::addColumn<bool>("written"); // in UTF-8

    QTest::addRow("save, no") << u"save"_s << QList<int> { N } << false;
    QTest::addRow("save, yes") << u"save"_s << QList<int> { Y } << true;
    QTest::addRow("save as, yes") << u"save as"_s << QList<int> { Y } << true;
    QTest::addRow("new, no, then keep the changes") << u"new"_s << QList<int> { N, N } << false;
}

// A character the file's encoding cannot store: Yes writes and keeps UTF-8; No writes nothing.
void TestFileCommands::unstorableAsked()
{
    QFETCH(QString, command);
    QFETCH(QList<int>, replies);
    QFETCH(bool, written);
    const QString doc = path(u"doc.txt"_s);
    const QString target = command == u"save as" ? path(u"other.txt"_s) : doc;
    writeBytes(doc, "caf\xe9");
    EditorFixture f;
    f.start();
    f.dialog.fileAnswers = { doc, target };
    f.form.File_Open_Click();
    QCOMPARE(f.form.fileEncoding(), TextEncoding::Windows1252);
    const QString text = u"caf\u00e9 \u4e2d\r\n"_s;
    f.text().setText(text);
    f.form.Text1_KeyPress(u'x');
    const QString captionBefore = f.window.caption();
    f.messageBoxes.replies = replies;

    command == u"save"      ? f.form.File_Save_Click()
        : command == u"new" ? f.form.File_New_Click()
                            : f.form.File_Save_As_Click();

    QVERIFY(!f.messageBoxes.calls.isEmpty());
    const auto &asked = f.messageBoxes.calls.first();
    QCOMPARE(asked.prompt,
             target + u" holds characters that Windows-1252 cannot store. Save it as UTF-8?"_s);
    QCOMPARE(asked.style, 308);
    QCOMPARE(asked.title, u"Quorvex"_s);
    QCOMPARE(f.messageBoxes.calls.size(), replies.size());
    QCOMPARE(fileBytes(target), written ? '"' + text.toUtf8() + "\"\r\n" : "caf\xe9"_ba);
    QVERIFY(target == doc || fileBytes(doc) == "caf\xe9"_ba);
    QCOMPARE(f.form.textChanged(), !written);
    QCOMPARE(f.form.fileEncoding(), written ? TextEncoding::Utf8 : TextEncoding::Windows1252);
    QCOMPARE(f.window.caption(), written ? caption(target, text.size() + 1) : captionBefore);
    QCOMPARE(f.text().text(), text);
}

void TestFileCommands::dropped_data()
{
    QTest::addColumn<QString>("url"); // a file of the test folder, or an address as it is
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QList<int>>("replies");
    QTest::addColumn<QString>("text"); // the text box's text afterwards

    const QString opened = u"a\r\nb\r\n"_s;
    QTest::addRow("file") << u"dropped.txt"_s << false << QList<int>() << opened;
    QTest::addRow("file, changed, discard")
        << u"dropped.txt"_s << true << QList<int> { Y } << opened;
    QTest::addRow("file, changed, keep")
        << u"dropped.txt"_s << true << QList<int> { N } << u"hello"_s;
    QTest::addRow("missing file") << u"missing.txt"_s << false << QList<int> { K } << u"hello"_s;
    // The address goes in as text at the drop point, the end of the short text.
    QTest::addRow("web address") << u"https://example.org/a.txt"_s << false << QList<int>()
                                 << u"hellohttps://example.org/a.txt"_s;
    QTest::addRow("text") << QString() << false << QList<int>() << u"hellodropped text"_s;
}

// A dropped file opens as Open does, after the discard question; text and addresses go in.
void TestFileCommands::dropped()
{
    QFETCH(QString, url);
    QFETCH(bool, changed);
    QFETCH(QList<int>, replies);
    QFETCH(QString, text);
    writeBytes(path(u"dropped.txt"_s), "a,b");
    EditorFixture f;
    prepare(f, false, changed);
    f.messageBoxes.replies = replies;
    const bool isFile = url.endsWith(u".txt") && !url.contains(u':');
    QMimeData data;
    if (!url.isEmpty())
        data.setUrls({ isFile ? QUrl::fromLocalFile(path(url)) : QUrl(url) });
    data.setText(url.isEmpty() ? u"dropped text"_s : isFile ? path(url) : url);

    QWidget *const viewport = f.text().viewport();
    const QPoint at = viewport->rect().center();
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    const auto send = [&](QDropEvent &&event) {
        QApplication::sendEvent(viewport, &event);
        QVERIFY(event.isAccepted());
        QCOMPARE(event.dropAction(), Qt::CopyAction);
    };
    send(QDragEnterEvent(at, actions, &data, Qt::LeftButton, Qt::NoModifier));
    send(QDragMoveEvent(at, actions, &data, Qt::LeftButton, Qt::NoModifier));
    send(QDropEvent(at, actions, &data, Qt::LeftButton, Qt::NoModifier));

    QTRY_COMPARE(f.messageBoxes.calls.size(), replies.size());
    QTRY_COMPARE(f.text().text(), text);
    const bool opened = text.startsWith(u'a');
    QCOMPARE(f.form.currentFile(), opened ? path(url) : QString());
    QCOMPARE(f.form.textChanged(), !opened && (changed || !isFile));
}

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
