// Open, Save, Save As, New and Exit with the real window, text box and files, scripted dialogs
// and message boxes: what ends up on disk, in the caption and in the document state, and that
// no failed save costs the file on disk or the text.
#include "editorfixture.h"
#include "files.h"

#include <QGuiApplication>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QString Filter = u"Text Documents (*.txt) | *.txt"_s;

// The titles of the message boxes shown, each marked where it is not the discard prompt
// (style 292), the question about a file changed on disk (308, shown as "Changed") or a
// failure (style 64).
QStringList boxes(const QList<ScriptedMessageBoxes::Call> &calls)
{
    QStringList titles;
    for (const auto &call : calls) {
        QString title = call.title;
        bool right = call.style == 64;
        if (title == u"Quorvex") {
            const bool changed = call.prompt.endsWith(
                u" was changed by another program since it was opened. Replace it with this text?");
            title = changed ? u"Changed"_s : title;
            right = changed ? call.style == 308
                            : call.prompt == u"Discard changes done ?" && call.style == 292;
        }
        titles.append(right ? title : title + u" (wrong text or style)"_s);
    }
    return titles;
}

// The titles of the file dialogs shown, each marked where its kind or filter is wrong.
QStringList dialogs(const QList<ScriptedDialog::Show> &shows)
{
    QStringList titles;
    for (const auto &show : shows) {
        const bool right
            = show.filter == Filter && (show.kind == u"open") == show.title.startsWith(u"Open"_s);
        titles.append(right ? show.title : show.title + u" (wrong kind or filter)"_s);
    }
    return titles;
}

QString savedCaption(const QString &file, int figure)
{
    return u"Quorvex - %1 File Size : %2 Bytes ]"_s.arg(file).arg(figure);
}

QString openedCaption(const QString &file, int figure)
{
    return u"Quorvex - %1 FileSize : %2 Bytes ]"_s.arg(file).arg(figure);
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
    { "ab", "a,b\r\n", u"a\r\nb\r\n"_s, 4 },
    { "empty", "", QString(), 0 },
    { "items", "abcd\r\n\r\nefghijk", u"abcd\r\n\r\nefghijk\r\n"_s, 14 },
    { "cut", "a,b\r\n\"c,d\r\n", u"a\r\nb\r\n"_s, 0 }, // ends inside a quoted item
};

const char *const Open = "Open a file (*.txt)";

// A row of the table of Open, Save, Save As, New, Exit and closing the window. Before: doc.txt as
// the document's file or none, unsaved changes or not, the dialog's answer ("" cancels), the
// replies to the message boxes. After: the file that holds "hello", CurrentFile, the caption
// (same, saved, blank, opened, or reading for an Open that failed half-way), whether changes
// remain, the dialog and the message boxes shown (titles), and whether the program ended.
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
    // What happens to doc.txt before the command: changed, touched (same size, 1 ns later),
    // deleted by another program, saved by this one after a new edit; or an Open failed while
    // reading another file (and the user typed after it).
    const char *disk = "";
};

// clang-format off
const CommandRow CommandRows[] = {
    // name, hasFile, changed, answer, replies;
    //     written, file, caption, changedAfter, dialog, boxes, ended
    { "open, empty file", true, false, "empty", {}, "", "empty", "opened", false, Open, "", false },
    { "open, items of 4, 0 and 7", true, false, "items", {},
      "", "items", "opened", false, Open, "", false },
    { "open, changed, no to the prompt", true, true, "ab", { N },
      "", "doc", "same", true, "", "Quorvex", false },
    { "open, changed, yes, loaded", true, true, "ab", { Y },
      "", "ab", "opened", false, Open, "Quorvex", false },
    { "open, changed, yes, dialog cancelled", true, true, "", { Y },
      "", "doc", "same", true, Open, "Quorvex", false },
    { "open, only spaces chosen", true, false, "  ", {}, "", "doc", "same", false, Open, "", false },
    { "open, missing file", true, true, "none", { Y },
      "", "doc", "same", true, Open, "Quorvex, 53", false },
    { "open, folder", true, false, "folder", {}, "", "doc", "same", false, Open, "75", false },
    // Partial text belongs to no file and is no change of the user's.
    { "open, unterminated quoted item, changed", true, true, "cut", { Y },
      "", "", "reading", false, Open, "Quorvex, 62", false },
    { "save, has a file, changed", true, true, "", {},
      "doc", "doc", "saved", false, "", "", false },
    { "save, has a file, clean", true, false, "", {}, "", "doc", "same", false, "", "", false },
    { "save, changed on disk, replace", true, true, "", { Y },
      "doc", "doc", "saved", false, "", "Changed", false, "changed" },
    { "save, touched on disk, keep", true, true, "", { N },
      "", "doc", "same", true, "", "Changed", false, "touched" },
    { "save, deleted on disk", true, true, "", {},
      "doc", "doc", "saved", false, "", "", false, "deleted" },
    { "save, saved before", true, true, "", {},
      "doc", "doc", "saved", false, "", "", false, "saved" },
    { "save, no file, name chosen, changed", false, true, "chosen", {},
      "chosen", "chosen", "saved", false, "Save", "", false },
    { "save, no file, name chosen, clean", false, false, "chosen", {},
      "", "chosen", "same", false, "Save", "", false },
    { "save, no file, only spaces chosen", false, true, "   ", {},
      "", "", "same", true, "Save", "", false },
    { "save as, dialog cancelled", true, true, "", {},
      "", "doc", "same", true, "Save As", "", false },
    { "save as, has a file, clean, name chosen", true, false, "chosen", {},
      "chosen", "chosen", "saved", false, "Save As", "", false },
    { "save as, has a file, its own name", true, false, "doc", {},
      "doc", "doc", "saved", false, "Save As", "", false },
    { "save as, its own name, changed on disk, keep", true, false, "doc", { N },
      "", "doc", "same", false, "Save As", "Changed", false, "changed" },
    { "save as, missing folder", true, true, "missing", {},
      "", "doc", "same", true, "Save As", "76", false },
    // After an Open that failed while reading, no command writes its partial text over doc.
    { "save, after a failed open", true, true, "", {},
      "", "", "same", false, "Save", "", false, "failed open" },
    { "exit, typed after a failed open", true, true, "", { Y },
      "", "", "same", true, "Save", "Quorvex", true, "failed open, typed" },
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
    { "exit, changed on disk, keep, discard no", true, true, "", { N, N },
      "", "doc", "same", true, "", "Changed, Quorvex", false, "changed" },
    { "exit, save cancelled, discard yes", false, true, "", { Y },
      "", "", "same", true, "Save", "Quorvex", true },
    // Closing the window never saves.
    { "close, clean", true, false, "", {}, "", "doc", "same", false, "", "", true },
    { "close, changed, discard no", true, true, "", { N },
      "", "doc", "same", true, "", "Quorvex", false },
    { "close, changed, discard yes", true, true, "", { Y },
      "", "doc", "same", true, "", "Quorvex", true },
};
// clang-format on

} // namespace

class TestFileCommands : public QObject, TestFolder
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_cache.create(); }
    void init() { renew(); }
    void commands_data();
    void commands();
    void failedSaveKeepsEverything_data();
    void failedSaveKeepsEverything();
    void saveThenOpen_data();
    void saveThenOpen();

private:
    TestCache m_cache;
    // The names the tables use, as paths in the test folder.
    QString resolve(const QString &name) const
    {
        return name.trimmed().isEmpty() ? name // cancelled, or only spaces
            : name == u"missing"        ? path(u"missing/chosen.txt"_s)
            : name == u"folder"         ? path(name)
                                        : path(name + u".txt"_s);
    }
    void changeOnDisk(EditorFixture &f, const QString &how)
    {
        const QByteArray doc = encoded(path(u"doc.txt"_s));
        struct stat before = {};
        ::stat(doc.constData(), &before);
        if (how == u"changed") {
            writeBytes(path(u"doc.txt"_s), "\"another program\"\r\n");
        } else if (how == u"touched") {
            writeBytes(path(u"doc.txt"_s), "\"OLD\"\r\n");
            struct timespec times[2] = { before.st_atim, before.st_mtim };
            if (++times[1].tv_nsec == 1'000'000'000)
                times[1] = { times[1].tv_sec + 1, 0 };
            QCOMPARE(::utimensat(AT_FDCWD, doc.constData(), times, 0), 0);
        } else if (how == u"deleted") {
            QVERIFY(QFile::remove(path(u"doc.txt"_s)));
        } else if (how == u"saved") {
            f.form.File_Save_Click();
            f.form.Text1_KeyPress(u'o');
        } else if (how.startsWith(u"failed open")) {
            f.dialog.fileAnswers = { path(u"cut.txt"_s) };
            f.messageBoxes.replies = { Y, K };
            f.form.File_Open_Click();
            QCOMPARE(f.text().text(), u"a\r\nb\r\n"_s);
            if (how.endsWith(u"typed"))
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
    const QString caption = QString::fromUtf8(r.caption);
    const QString answer = resolve(QString::fromUtf8(r.answer));
    QString opened; // the text the chosen file loads as
    int figure = 0;
    for (const auto &file : OpenFiles) {
        writeBytes(path(QString::fromUtf8(file.name) + u".txt"_s), file.bytes);
        if (file.name == QByteArray(r.answer))
            std::tie(opened, figure) = std::tie(file.text, file.figure);
    }
    QVERIFY(QDir(folder()).mkpath(u"folder"_s));

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

    QCOMPARE(fileBytes(path(u"doc.txt"_s)),
             r.written == "doc"_ba ? QByteArray("\"hello\"\r\n") : docBefore);
    QCOMPARE(fileBytes(path(u"chosen.txt"_s)),
             r.written == "chosen"_ba ? QByteArray("\"hello\"\r\n") : QByteArray("<missing>"));
    const QString file = resolve(QString::fromUtf8(r.file));
    QCOMPARE(f.form.currentFile(), file);
    QCOMPARE(f.window.caption(),
             caption == u"same"          ? captionBefore
                 : caption == u"blank"   ? u"Quorvex - Blank.txt"_s
                 : caption == u"opened"  ? openedCaption(file, figure)
                 : caption == u"reading" ? u"Quorvex : Reading the file %1..."_s.arg(answer)
                                         : savedCaption(file, 6));
    QCOMPARE(f.text().text(),
             caption == u"blank"                                 ? QString()
                 : caption == u"opened" || caption == u"reading" ? opened
                                                                 : textBefore);
    QCOMPARE(f.form.textChanged(), r.changedAfter);
    QCOMPARE(::dialogs(f.dialog.shows).join(u", "), QString::fromUtf8(r.dialog));
    QCOMPARE(::boxes(f.messageBoxes.calls).join(u", "), QString::fromUtf8(r.boxes));
    // A failure names the file.
    for (const auto &call : std::as_const(f.messageBoxes.calls)) {
        if (call.title.toInt() > 0)
            QVERIFY2(call.prompt.contains(QDir::toNativeSeparators(answer)),
                     qPrintable(call.prompt));
    }
    QCOMPARE(f.window.hasEnded(), r.ended);
    QCOMPARE(f.window.isVisible(), !r.ended);
    // Once the program has ended, closing the window does not ask again.
    if (r.ended) {
        const qsizetype shown = f.messageBoxes.calls.size();
        QVERIFY(f.window.close());
        QCOMPARE(f.messageBoxes.calls.size(), shown);
    }
    // No temporary file is left behind, no file open, and the pointer is back.
    for (const QString &name : entries(folder()))
        QVERIFY2(entriesBefore.contains(name) || name == u"chosen.txt" || name == u"doc.txt",
                 qPrintable(name));
    QCOMPARE(f.files.freeFile(), 1);
    QCOMPARE(f.screen.mousePointer(), int(ScreenPointer::Default));
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestFileCommands::failedSaveKeepsEverything_data()
{
    QTest::addColumn<int>("number");
    QTest::addRow("read-only file") << int(FailureNumber::PermissionDenied);
    for (const char *full : { "file-size limit", "full disk, some room", "full disk, no room",
                              "full disk, written in place" })
        QTest::addRow("%s", full) << int(FailureNumber::DiskFull);
}

// The message box names the file; the file on disk, the folder and the editor stay as they were.
void TestFileCommands::failedSaveKeepsEverything()
{
    QFETCH(int, number);
    const QString situation = QString::fromUtf8(QTest::currentDataTag());

    std::optional<SmallDisk> disk;
    QString where = folder();
    if (situation.startsWith(u"full disk")) {
        where = path(u"disk"_s);
        disk.emplace(where);
        if (!disk->mounted())
            QSKIP("A small file system cannot be mounted here; the file-size limit row covers a "
                  "full disk.");
    }
    const QString doc = where + u"/doc.txt"_s;

    EditorFixture f;
    const QString text(200 * 1024, u'n');
    prepare(f, true, true, text, doc);
    const QString caption = f.window.caption();

    std::optional<Unprivileged> unprivileged;
    std::optional<FileSizeLimit> limit;
    if (situation == u"read-only file") {
        // The folder would take a temporary file: only the file's own mode may stop the save.
        QCOMPARE(::chmod(encoded(doc).constData(), 0444), 0);
        QCOMPARE(::chmod(encoded(where).constData(), 0777), 0);
        unprivileged.emplace();
    } else if (situation == u"file-size limit") {
        QVERIFY(limit.emplace(64 * 1024).set());
    } else if (situation.endsWith(u"in place")) {
        // Only the file may be written, not the folder: no temporary file can be made.
        if (!runningAsRoot())
            QSKIP("Needs root to lock the folder of a file system it mounted.");
        QCOMPARE(::chmod(encoded(doc).constData(), 0666), 0);
        QCOMPARE(::chmod(encoded(where).constData(), 0755), 0);
        QVERIFY(disk->fill(0));
        unprivileged.emplace();
    } else {
        QVERIFY(disk->fill(situation.endsWith(u"some room") ? 16 * 1024 : 0));
    }
    const QStringList before = entries(where);

    f.form.File_Save_Click();
    unprivileged.reset();
    limit.reset();
    ::chmod(encoded(where).constData(), 0755);

    QCOMPARE(::boxes(f.messageBoxes.calls), QStringList { QString::number(number) });
    QVERIFY2(f.messageBoxes.calls.at(0).prompt.contains(QDir::toNativeSeparators(doc)),
             qPrintable(f.messageBoxes.calls.at(0).prompt));
    QCOMPARE(fileBytes(doc), QByteArray("\"old\"\r\n"));
    QCOMPARE(entries(where), before);
    QCOMPARE(m_cache.kept(), QStringList());
    QCOMPARE(f.text().text(), text);
    QVERIFY(f.form.textChanged());
    QCOMPARE(f.form.currentFile(), doc);
    QCOMPARE(f.window.caption(), caption);
    QCOMPARE(f.files.freeFile(), 1);
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
    prepare(f, false, true);
    f.text().setText(text);
    f.dialog.fileAnswers = { full, full };
    f.form.File_Save_Click();
    QVERIFY(f.messageBoxes.calls.isEmpty());
    QCOMPARE(entries(folder()), QStringList { name });
    const QByteArray marksDoubled = QString(text).replace(u"\""_s, u"\"\""_s).toUtf8();
    QVERIFY(fileBytes(full) == "\"" + marksDoubled + "\"\r\n");
    QCOMPARE(f.window.caption(), savedCaption(full, text.size() + 1));

    f.form.File_Open_Click();
    QVERIFY(f.messageBoxes.calls.isEmpty());
    QVERIFY(f.text().text() == text + u"\r\n"_s);
    QCOMPARE(f.form.currentFile(), full);
    QCOMPARE(f.window.caption(), openedCaption(full, text.size() + 1));
}

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
