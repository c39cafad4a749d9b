// The platform's sequential files on real files: numbers, failures, what is left on disk, and
// the safe replacement of a file (mode, owner, links, a locked folder, a killed save).
#include "documentfile.h"
#include "files.h"
#include "qtsequentialfiles.h"
#include "safefilewriter.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <functional>
#include <optional>
#include <sys/time.h>
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

// A writer whose replacement may not take the old file's owner and group.
class OwnershipRefused : public SafeFileWriter
{
public:
    using SafeFileWriter::SafeFileWriter;

protected:
    bool carryOwnership(int, unsigned, unsigned) override { return false; }
};

// Saves the text as doc in a child process once `prepare` has run there; the child's status, or -1.
int saveInChild(const QString &doc, const QString &text, const std::function<void()> &prepare)
{
    const pid_t child = ::fork();
    if (child == 0) {
        prepare();
        QtSequentialFiles files;
        ::_exit(failureOf([&] { writeDocument(files, 1, doc, text); }));
    }
    int status = -1;
    return child > 0 && ::waitpid(child, &status, 0) == child ? status : -1;
}

} // namespace

class TestSequentialFiles : public QObject, TestFolder
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_cache.create(); }
    void init() { renew(); }
    void freeFile();
    void openFails_data();
    void openFails();
    void failuresOnNumbers();
    void outputReplacesOnlyOnClose();
    void linksSurvive_data();
    void linksSurvive();
    void fileStaysItself_data();
    void fileStaysItself();
    void killedSaveLeavesAWholeFile_data();
    void killedSaveLeavesAWholeFile();
    void saveFailureNumbers_data();
    void saveFailureNumbers();

private:
    TestCache m_cache;
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

    // Output never closed leaves the file and no temporary one.
    {
        QtSequentialFiles unclosed;
        unclosed.openForOutput(doc, 1);
        unclosed.writeItem(1, u"new"_s);
    }
    QCOMPARE(fileBytes(doc), QByteArray("\"hello\"\r\n\"say \"\"hi\"\"\r\n\xc3\xa9\"\r\n"));
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
    writeDocument(files, files.freeFile(), path(links.first().section(u"=>"_s, 0, 0)),
                  u"through the link"_s);

    QCOMPARE(fileBytes(path(target)), QByteArray("\"through the link\"\r\n"));
    for (const QString &link : std::as_const(links)) {
        const QStringList parts = link.split(u"=>"_s);
        QCOMPARE(linkText(path(parts.at(0))), parts.at(1));
    }
}

void TestSequentialFiles::fileStaysItself_data()
{
    QTest::addColumn<int>("mode"); // 0: a new file, made with the umask 027
    QTest::addColumn<bool>("inPlace");

    QTest::addRow("0755") << 0755 << false;
    QTest::addRow("0444 saved as root") << 0444 << false;
    QTest::addRow("new file") << 0 << false;
    QTest::addRow("name of 250 bytes") << 0640 << false;
    QTest::addRow("owner and group refused") << 0640 << true;
    QTest::addRow("second hard link") << 0640 << true;
    QTest::addRow("locked folder, longer text") << 0666 << true;
    QTest::addRow("locked folder, shorter text") << 0666 << true;
    QTest::addRow("another user's file in a sticky folder") << 0666 << true;
    QTest::addRow("file mounted on itself") << 0640 << true;
}

// The saved file keeps its mode, and as root its owner and group; one that cannot be replaced
// faithfully is rewritten over itself (same inode, every link). Nothing is left beside it or in
// the cache folder.
void TestSequentialFiles::fileStaysItself()
{
    QFETCH(int, mode);
    QFETCH(bool, inPlace);
    const QString situation = QString::fromUtf8(QTest::currentDataTag());
    const bool root = runningAsRoot();
    if (!root && (mode == 0444 || situation.contains(u"sticky") || situation.contains(u"mounted")))
        QSKIP("Needs root to act as another user or to mount.");

    QString where = folder();
    if (situation.contains(u"locked") || situation.contains(u"sticky")) {
        where = path(u"shared"_s);
        QVERIFY(QDir().mkpath(where));
    }
    const QString doc = where
        + (situation.contains(u"250") ? u"/"_s + QString(82, QChar(0x4E2D)) + u".txt"_s
                                      : u"/doc.txt"_s);
    const QByteArray name = encoded(doc);
    const bool foreign = situation.contains(u"sticky");
    if (mode) {
        writeBytes(doc, QByteArray(1000, 'o'));
        QCOMPARE(::chmod(name.constData(), mode_t(mode)), 0);
        if (root)
            QCOMPARE(::chown(name.constData(), 4321, 1234), 0);
    }
    if (situation.contains(u"hard link"))
        QCOMPARE(::link(name.constData(), encoded(path(u"link.txt"_s)).constData()), 0);
    std::optional<Mount> mounted; // as containers mount single files: no rename over it
    if (situation.contains(u"mounted") && !mounted.emplace(doc, doc).mounted())
        QSKIP("A file cannot be mounted here.");
    const ino_t inode = statOf(doc).st_ino;
    const QByteArray text = situation.contains(u"shorter") ? "s" : QByteArray(100000, 'n');

    bool tookPlace = false;
    {
        std::optional<Unprivileged> unprivileged;
        if (situation.contains(u"locked")) {
            QCOMPARE(::chmod(encoded(where).constData(), 0555), 0);
            unprivileged.emplace();
        } else if (foreign) {
            QCOMPARE(::chmod(encoded(where).constData(), 01777), 0);
            unprivileged.emplace();
        }
        const mode_t umask = ::umask(027);
        std::unique_ptr<SafeFileWriter> writer = situation.contains(u"refused")
            ? std::make_unique<OwnershipRefused>(doc)
            : std::make_unique<SafeFileWriter>(doc);
        const int failure = failureOf([&] {
            writer->open();
            writer->write(text);
            writer->commit();
        });
        ::umask(umask);
        QCOMPARE(failure, 0);
        tookPlace = writer->inPlace();
    }
    ::chmod(encoded(where).constData(), 0755);
    mounted.reset();

    QCOMPARE(fileBytes(doc), text);
    QCOMPARE(tookPlace, inPlace);
    if (inPlace)
        QCOMPARE(statOf(doc).st_ino, inode);
    if (situation.contains(u"hard link"))
        QCOMPARE(fileBytes(path(u"link.txt"_s)), text);
    QCOMPARE(int(statOf(doc).st_mode & 07777), mode ? mode : 0640);
    if (mode && root) {
        QCOMPARE(statOf(doc).st_uid, uid_t(4321));
        QCOMPARE(statOf(doc).st_gid, gid_t(1234));
    }
    QStringList left { QFileInfo(doc).fileName() };
    if (situation.contains(u"hard link"))
        left.append(u"link.txt"_s);
    QCOMPARE(entries(where), left);
    QCOMPARE(m_cache.kept(), QStringList());
}

void TestSequentialFiles::killedSaveLeavesAWholeFile_data()
{
    QTest::addColumn<bool>("inPlace");
    QTest::addRow("replaced") << false;
    QTest::addRow("written over itself") << true;
}

// A save killed at random moments leaves the old file or the new one whole, or the backup
// holds the old one whole.
void TestSequentialFiles::killedSaveLeavesAWholeFile()
{
    QFETCH(bool, inPlace);
    const QString doc = path(u"doc.txt"_s);
    const QString backup = doc + u'~';
    const QByteArray old(8 << 20, 'o');
    const QString text(8 << 20, u'n');
    const QByteArray saved = '"' + text.toLatin1() + "\"\r\n";
    // Runs one save in a child that is killed after `delay` microseconds, or never.
    const auto saveKilledAfter = [&](qint64 delay) {
        QFile::remove(backup);
        QFile::remove(path(u"link.txt"_s));
        writeBytes(doc, old);
        if (inPlace)
            QCOMPARE(::link(encoded(doc).constData(), encoded(path(u"link.txt"_s)).constData()), 0);
        const int status = saveInChild(doc, text, [delay] {
            // SIGALRM ends the process on the spot, as a kill would.
            const struct itimerval when = { {}, { delay / 1000000, delay % 1000000 + 1 } };
            if (delay >= 0)
                ::setitimer(ITIMER_REAL, &when, nullptr);
        });
        QVERIFY(status != -1 && (delay >= 0 || status == 0));
    };

    QElapsedTimer clock;
    clock.start();
    saveKilledAfter(-1);
    QCOMPARE(fileBytes(doc), saved);
    if (inPlace) // the one file under both names
        QCOMPARE(fileBytes(path(u"link.txt"_s)), saved);
    const qint64 whole = clock.nsecsElapsed() / 1000;
    int killed = 0;
    for (int round = 0; round < 12; ++round) {
        saveKilledAfter(QRandomGenerator::global()->bounded(whole + 1));
        if (QTest::currentTestFailed())
            return;
        const QByteArray now = fileBytes(doc);
        const bool intact = now == old || now == saved || (inPlace && fileBytes(backup) == old);
        QVERIFY2(intact,
                 qPrintable(u"round %1: the file holds %2 bytes"_s.arg(round).arg(now.size())));
        killed += now != saved;
    }
    qDebug("%d of 12 saves were cut short", killed);
}

void TestSequentialFiles::saveFailureNumbers_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<int>("number");
    QTest::addRow("no free inodes") << false << int(FailureNumber::DiskFull);
    QTest::addRow("too many open files, new file") << false << int(FailureNumber::TooManyFiles);
    QTest::addRow("too many open files, existing file") << true << int(FailureNumber::TooManyFiles);
}

// Each failure of a save keeps the system's reason, in a child where the limits are lowered.
void TestSequentialFiles::saveFailureNumbers()
{
    QFETCH(bool, existing);
    QFETCH(int, number);
    const bool inodes = QByteArray(QTest::currentDataTag()).contains("inodes");
    std::optional<SmallDisk> disk;
    QString doc = path(u"doc.txt"_s);
    if (inodes) {
        disk.emplace(path(u"disk"_s), "size=64k,nr_inodes=1,mode=0777");
        if (!disk->mounted())
            QSKIP("A file system with few inodes needs root and mount.");
        doc = path(u"disk/doc.txt"_s);
    }
    if (existing)
        writeBytes(doc, "old");

    const int status = saveInChild(doc, u"new"_s, [inodes] {
        if (!inodes) {
            // The next descriptor is the first one refused.
            const int next = ::dup(0);
            ::close(next);
            const struct rlimit limit = { rlim_t(next), rlim_t(next) };
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
    QVERIFY(status != -1 && WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), number);
    QCOMPARE(fileBytes(doc), existing ? QByteArray("old") : QByteArray("<missing>"));
}

QTEST_GUILESS_MAIN(TestSequentialFiles)
#include "tst_sequentialfiles.moc"
