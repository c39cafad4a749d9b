// The platform's sequential files on real files: numbers, failures, what is left on disk, and
// the safe replacement of a file (mode, owner, links, a locked folder, a killed save).
#include "documentfile.h"
#include "files.h"
#include "qtsequentialfiles.h"
#include "safefilewriter.h"

#include <csignal>
#include <optional>
#include <sys/wait.h>

using namespace Qt::StringLiterals;

namespace {

QString linkText(const QString &path)
{
    char buffer[4096];
    const ssize_t length = ::readlink(encoded(path).constData(), buffer, sizeof buffer);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(buffer, length));
}

struct stat statOf(const QString &path)
{
    struct stat info = {};
    ::stat(encoded(path).constData(), &info);
    return info;
}

int modeOf(const QString &path) { return int(statOf(path).st_mode & 07777); }

} // namespace

class TestSequentialFiles : public QObject, TestFolder
{
    Q_OBJECT

private Q_SLOTS:
    void init() { renew(); }
    void freeFile();
    void openFails_data();
    void openFails();
    void failuresOnNumbers();
    void outputReplacesOnlyOnClose();
    void documentRoundTrip_data();
    void documentRoundTrip();
    void attributesSurvive_data();
    void attributesSurvive();
    void linksSurvive_data();
    void linksSurvive();
    void inPlaceWhenTheFolderIsLocked_data();
    void inPlaceWhenTheFolderIsLocked();
    void killedSaveLeavesTheOldFile();
};

void TestSequentialFiles::freeFile()
{
    QtSequentialFiles files;
    const QString a = path(u"a.txt"_s);
    writeBytes(a, "a");
    files.openForInput(a, 1);
    files.openForInput(a, 3);
    QCOMPARE(files.freeFile(), 2);
    for (int i = 2; i < QtSequentialFiles::HighestNumber; ++i)
        files.openForInput(a, files.freeFile());
    QCOMPARE(failureOf([&] { files.freeFile(); }), int(FailureNumber::TooManyFiles));
    files.close(300);
    QCOMPARE(files.freeFile(), 300);
}

void TestSequentialFiles::openFails_data()
{
    QTest::addColumn<bool>("output");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");

    const struct
    {
        const char *name;
        int number;
        bool input, output;
    } rows[] = {
        { "missing.txt", FailureNumber::FileNotFound, true, false },
        { "nowhere/a.txt", FailureNumber::PathNotFound, true, true },
        { "plain.txt/a.txt", FailureNumber::PathNotFound, true, true },
        { "folder", FailureNumber::PathFileAccessError, true, true },
        { "", FailureNumber::BadFileNameOrNumber, true, true },
        { "loop", FailureNumber::PathFileAccessError, true, true },
        { "fifo", FailureNumber::PathFileAccessError, true, true },
        { "/dev/zero", FailureNumber::PathFileAccessError, true, true },
        { "huge.txt", FailureNumber::OutOfMemory, true, false },
        { "secret.txt", FailureNumber::PermissionDenied, true, false },
        { "locked/a.txt", FailureNumber::PermissionDenied, false, true },
    };
    for (const auto &row : rows) {
        if (row.input)
            QTest::addRow("input, %s", row.name)
                << false << QString::fromUtf8(row.name) << row.number;
        if (row.output)
            QTest::addRow("output, %s", row.name)
                << true << QString::fromUtf8(row.name) << row.number;
    }
}

// A failed open names the file, takes no number and changes nothing on disk.
void TestSequentialFiles::openFails()
{
    QFETCH(bool, output);
    QFETCH(QString, name);
    QFETCH(int, number);
    writeBytes(path(u"plain.txt"_s), "x");
    writeBytes(path(u"secret.txt"_s), "x");
    QVERIFY(QFile::setPermissions(path(u"secret.txt"_s), QFile::WriteOwner));
    QVERIFY(QDir(folder()).mkpath(u"folder"_s));
    QVERIFY(QDir(folder()).mkpath(u"locked"_s));
    QVERIFY(QFile::setPermissions(path(u"locked"_s), QFile::ReadOwner | QFile::ExeOwner));
    QCOMPARE(::symlink("loop", encoded(path(u"loop"_s)).constData()), 0);
    // A reader that opened this FIFO would wait for a writer forever.
    QCOMPARE(::mkfifo(encoded(path(u"fifo"_s)).constData(), 0600), 0);
    QFile huge(path(u"huge.txt"_s));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    QVERIFY(huge.resize(QtSequentialFiles::LargestInput + 1)); // sparse: costs no disk
    huge.close();
    const QString target = name.startsWith(u'/') || name.isEmpty() ? name : path(name);
    const QStringList before = entries(folder());

    QtSequentialFiles files;
    QString description;
    {
        std::optional<Unprivileged> unprivileged;
        if (number == FailureNumber::PermissionDenied)
            unprivileged.emplace();
        QCOMPARE(
            failureOf(
                [&] { output ? files.openForOutput(target, 1) : files.openForInput(target, 1); },
                &description),
            number);
    }
    QFile::setPermissions(path(u"locked"_s),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(files.freeFile(), 1);
    QVERIFY2(description.contains(QDir::toNativeSeparators(target)), qPrintable(description));
    QCOMPARE(fileBytes(path(u"plain.txt"_s)), QByteArray("x"));
    QCOMPARE(entries(folder()), before);
    QVERIFY(entries(path(u"locked"_s)).isEmpty());
}

// A failure on a number in use frees it; one on a number not in use changes nothing.
void TestSequentialFiles::failuresOnNumbers()
{
    QtSequentialFiles files;
    const QString a = path(u"a.txt"_s);
    writeBytes(a, "first,second\r\n");
    writeBytes(path(u"cut.txt"_s), "a\r\n\"b,\r\nc");
    const int bad = FailureNumber::BadFileNameOrNumber;
    QCOMPARE(failureOf([&] { files.openForInput(a, 0); }), bad);
    QCOMPARE(failureOf([&] { files.openForOutput(path(u"b.txt"_s), 512); }), bad);
    QVERIFY(!QFile::exists(path(u"b.txt"_s)));
    QCOMPARE(failureOf([&] { files.readItem(3); }), bad);
    QCOMPARE(failureOf([&] { files.close(3); }), bad);

    // A second open under a number in use leaves the first file where it was.
    files.openForInput(a, 1);
    QCOMPARE(files.readItem(1), u"first"_s);
    QCOMPARE(failureOf([&] { files.openForInput(a, 1); }), int(FailureNumber::FileAlreadyOpen));
    QCOMPARE(failureOf([&] { files.openForOutput(a, 1); }), int(FailureNumber::FileAlreadyOpen));
    QCOMPARE(files.readItem(1), u"second"_s);
    QVERIFY(files.atEnd(1));
    QCOMPARE(failureOf([&] { files.readItem(1); }), int(FailureNumber::InputPastEndOfFile));
    QVERIFY(!files.isOpen(1));

    files.openForInput(a, 1);
    QCOMPARE(failureOf([&] { files.writeItem(1, u"x"_s); }), int(FailureNumber::BadFileMode));
    QVERIFY(!files.isOpen(1));
    files.openForOutput(a, 2);
    QCOMPARE(failureOf([&] { files.readItem(2); }), int(FailureNumber::BadFileMode));
    QVERIFY(!files.isOpen(2));
    QCOMPARE(fileBytes(a), QByteArray("first,second\r\n"));

    files.openForInput(path(u"cut.txt"_s), 1);
    QCOMPARE(files.readItem(1), u"a"_s);
    QString description;
    QCOMPARE(failureOf([&] { files.readItem(1); }, &description),
             int(FailureNumber::InputPastEndOfFile));
    QVERIFY2(description.contains(QDir::toNativeSeparators(path(u"cut.txt"_s))),
             qPrintable(description));
    QVERIFY(!files.isOpen(1));
}

void TestSequentialFiles::outputReplacesOnlyOnClose()
{
    const QString doc = path(u"doc.txt"_s);
    const QByteArray old = "a much longer old content that must not survive as a tail";
    writeBytes(doc, old);
    QtSequentialFiles files;
    files.openForOutput(doc, 1);
    files.writeItem(1, u"hello"_s);
    files.writeItem(1, u"say \"hi\"\r\n\u00e9"_s);
    QCOMPARE(fileBytes(doc), old);
    files.close(1);
    QVERIFY(!files.isOpen(1));
    QCOMPARE(fileBytes(doc), QByteArray("\"hello\"\r\n\"say \"\"hi\"\"\r\n\xc3\xa9\"\r\n"));

    // Output never closed, or failed half-way, leaves the file and no temporary one.
    {
        QtSequentialFiles unclosed;
        unclosed.openForOutput(doc, 1);
        unclosed.writeItem(1, u"new"_s);
    }
    files.openForOutput(doc, 1);
    QString text(200000, u'x'); // several pieces reach the disk before the bad character
    text.append(QChar(0xD800));
    QCOMPARE(failureOf([&] { files.writeItem(1, text); }),
             int(FailureNumber::InvalidProcedureCall));
    QVERIFY(!files.isOpen(1));
    QCOMPARE(fileBytes(doc), QByteArray("\"hello\"\r\n\"say \"\"hi\"\"\r\n\xc3\xa9\"\r\n"));
    QCOMPARE(entries(folder()), QStringList { u"doc.txt"_s });
}

void TestSequentialFiles::documentRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addRow("lines, marks, non-ASCII")
        << u"one\r\n\"two\", \"\"\r\n\r\n\u00e9\u20ac\U0001F600\ufeff last \""_s;
    QTest::addRow("large") << QString(3 * 1024 * 1024, u'\u00e9');
}

// The document operations over real files; each gives its number back, failures included.
void TestSequentialFiles::documentRoundTrip()
{
    QFETCH(QString, text);
    QtSequentialFiles files;
    const QString doc = path(u"doc.txt"_s);
    writeBytes(doc, "old contents");
    writeDocument(files, files.freeFile(), doc, text);
    QCOMPARE(readItems(files, files.freeFile(), doc), QStringList { text });

    writeBytes(path(u"cut.txt"_s), "a,\"b");
    QCOMPARE(failureOf([&] { readItems(files, files.freeFile(), path(u"cut.txt"_s)); }),
             int(FailureNumber::InputPastEndOfFile));
    QCOMPARE(failureOf([&] { writeDocument(files, files.freeFile(), doc, text + QChar(0xDC00)); }),
             int(FailureNumber::InvalidProcedureCall));
    QCOMPARE(readItems(files, files.freeFile(), doc), QStringList { text });
    QCOMPARE(files.freeFile(), 1);
}

void TestSequentialFiles::attributesSurvive_data()
{
    QTest::addColumn<int>("mode"); // 0: a new file, made with the umask 027
    QTest::addRow("0640") << 0640;
    QTest::addRow("0755") << 0755;
    QTest::addRow("0444 saved as root") << 0444;
    QTest::addRow("new file") << 0;
}

// Mode bits, and as root owner and group, are what they were; a new file gets the usual mode.
void TestSequentialFiles::attributesSurvive()
{
    QFETCH(int, mode);
    if (mode == 0444 && !runningAsRoot())
        QSKIP("Only root may replace a read-only file.");
    const QString doc = path(u"doc.txt"_s);
    const QByteArray name = encoded(doc);
    if (mode) {
        writeBytes(doc, "old");
        QCOMPARE(::chmod(name.constData(), mode_t(mode)), 0);
        if (runningAsRoot())
            QCOMPARE(::chown(name.constData(), 4321, 1234), 0);
    }
    const mode_t umask = ::umask(027);
    QtSequentialFiles files;
    writeDocument(files, files.freeFile(), doc, u"new text"_s);
    ::umask(umask);

    QCOMPARE(fileBytes(doc), QByteArray("\"new text\"\r\n"));
    QCOMPARE(modeOf(doc), mode ? mode : 0640);
    if (mode && runningAsRoot()) {
        QCOMPARE(statOf(doc).st_uid, uid_t(4321));
        QCOMPARE(statOf(doc).st_gid, gid_t(1234));
    }
    QCOMPARE(entries(folder()), QStringList { u"doc.txt"_s });
}

void TestSequentialFiles::linksSurvive_data()
{
    QTest::addColumn<QStringList>("links"); // "name=>text" of each link, the first one saved to
    QTest::addColumn<QString>("target"); // the file that must receive the text

    QTest::addRow("relative link into another folder")
        << QStringList { u"link.txt=>other/real.txt"_s } << u"other/real.txt"_s;
    QTest::addRow("absolute link") << QStringList { u"link.txt=>@/real.txt"_s } << u"real.txt"_s;
    QTest::addRow("chain of two links")
        << QStringList { u"first.txt=>second.txt"_s, u"second.txt=>real.txt"_s } << u"real.txt"_s;
    QTest::addRow("dangling link creates its file")
        << QStringList { u"link.txt=>absent.txt"_s } << u"absent.txt"_s;
}

void TestSequentialFiles::linksSurvive()
{
    QFETCH(QStringList, links);
    QFETCH(QString, target);
    QVERIFY(QDir(folder()).mkpath(u"other"_s));
    writeBytes(path(u"real.txt"_s), "old");
    writeBytes(path(u"other/real.txt"_s), "old");
    for (QString &link : links) {
        link.replace(u'@', folder());
        const QStringList parts = link.split(u"=>"_s);
        QCOMPARE(
            ::symlink(encoded(parts.at(1)).constData(), encoded(path(parts.at(0))).constData()), 0);
    }

    QtSequentialFiles files;
    writeDocument(files, files.freeFile(), path(links.first().section(u"=>"_s, 0, 0)), u"through the link"_s);

    QCOMPARE(fileBytes(path(target)), QByteArray("\"through the link\"\r\n"));
    for (const QString &link : std::as_const(links)) {
        const QStringList parts = link.split(u"=>"_s);
        QCOMPARE(linkText(path(parts.at(0))), parts.at(1));
    }
}

void TestSequentialFiles::inPlaceWhenTheFolderIsLocked_data()
{
    QTest::addColumn<QString>("text");
    QTest::addRow("longer than before") << QString(100000, u'l');
    QTest::addRow("shorter than before") << u"s"_s;
}

// A writable file in a folder that takes no new file is still saved, over itself.
void TestSequentialFiles::inPlaceWhenTheFolderIsLocked()
{
    QFETCH(QString, text);
    const QString locked = path(u"locked"_s);
    QVERIFY(QDir(folder()).mkpath(u"locked"_s));
    const QString doc = locked + u"/doc.txt"_s;
    writeBytes(doc, QByteArray(1000, 'o'));
    QCOMPARE(::chmod(encoded(doc).constData(), 0666), 0);
    QCOMPARE(::chmod(encoded(locked).constData(), 0555), 0);
    const ino_t inode = statOf(doc).st_ino;

    bool inPlace = false;
    {
        Unprivileged unprivileged;
        SafeFileWriter writer(doc);
        writer.open();
        inPlace = writer.inPlace();
        writer.write("one ");
        writer.write(text.toUtf8());
        writer.commit();
    }
    ::chmod(encoded(locked).constData(), 0755);

    QVERIFY(inPlace);
    QCOMPARE(fileBytes(doc), "one " + text.toUtf8());
    QCOMPARE(statOf(doc).st_ino, inode);
    QCOMPARE(modeOf(doc), 0666);
    QCOMPARE(entries(locked), QStringList { u"doc.txt"_s });
}

void TestSequentialFiles::killedSaveLeavesTheOldFile()
{
    const QString doc = path(u"doc.txt"_s);
    writeBytes(doc, "old");
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        QtSequentialFiles files;
        files.openForOutput(doc, 1);
        for (int i = 0; i < 8; ++i)
            files.writeItem(1, QString(1 << 20, u'k'));
        ::kill(::getpid(), SIGKILL);
        ::_exit(3);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(fileBytes(doc), QByteArray("old"));
}

QTEST_GUILESS_MAIN(TestSequentialFiles)
#include "tst_sequentialfiles.moc"
