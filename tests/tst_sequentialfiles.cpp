// The platform's sequential files on real files: numbers, failures, what is left on disk, and
// the safe replacement of a file (mode, owner, links, a locked folder, a killed save).
#include "documentfile.h"
#include "files.h"
#include "qtsequentialfiles.h"
#include "safefilewriter.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>

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

// Sparse files of this size cost no disk and fit in no memory.
constexpr qint64 HugeFile = qint64(1) << 42;

qint64 mappedBytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

} // namespace

class TestSequentialFiles : public QObject, TestFolder
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { useOwnCache(); }
    void init() { renew(); }
    void numbers();
    void openFails_data();
    void openFails();
    void refusedBeforeReading();
    void outputReplacesOnlyOnClose();
    void linksSurvive();
    void fileStaysItself_data();
    void fileStaysItself();
    void killedSaveLeavesAWholeFile_data();
    void killedSaveLeavesAWholeFile();
};

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
        { "nowhere/a.txt", FailureNumber::PathNotFound, true, false },
        { "plain.txt/a.txt", FailureNumber::PathNotFound, true, true },
        { "folder", FailureNumber::PathFileAccessError, true, true },
        { "", FailureNumber::BadFileNameOrNumber, true, true },
        { "loop", FailureNumber::PathFileAccessError, true, true },
        { "fifo", FailureNumber::PathFileAccessError, true, true },
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

// A failed open names the file, takes no number and changes nothing on disk (a missing file
// and a missing folder to save in are the file command tests').
void TestSequentialFiles::openFails()
{
    QFETCH(bool, output);
    QFETCH(QString, name);
    QFETCH(int, number);
    writeBytes(path(u"plain.txt"_s), "x");
    writeBytes(path(u"secret.txt"_s), "x");
    QVERIFY(QFile::setPermissions(path(u"secret.txt"_s), QFile::WriteOwner));
    QVERIFY(QDir(folder()).mkpath(u"folder"_s) && QDir(folder()).mkpath(u"locked"_s));
    QVERIFY(QFile::setPermissions(path(u"locked"_s), QFile::ReadOwner | QFile::ExeOwner));
    QCOMPARE(::symlink("loop", encoded(path(u"loop"_s)).constData()), 0);
    // A reader that opened this FIFO would wait for a writer forever.
    QCOMPARE(::mkfifo(encoded(path(u"fifo"_s)).constData(), 0600), 0);
    QFile huge(path(u"huge.txt"_s)); // sparse, larger than any memory: costs no disk
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(HugeFile));
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

// A file whose text cannot fit in the memory left under the address-space limit is refused when
// it is opened, with its size and that memory named; with the limit gone, it opens.
void TestSequentialFiles::refusedBeforeReading()
{
    const QString big = path(u"big.txt"_s);
    writeBytes(big, "x");
    QVERIFY(QFile::resize(big, 256 << 20)); // sparse: costs no disk
    const qint64 mapped = mappedBytes();
    QVERIFY(mapped > 0);
    QtSequentialFiles files;
    QString description;
    {
        const Limit limit(RLIMIT_AS, rlim_t(mapped + (64 << 20)));
        QVERIFY(limit.set());
        QCOMPARE(failureOf([&] { files.openForInput(big, 1); }, &description),
                 int(FailureNumber::OutOfMemory));
    }
    const QRegularExpression told(u"^Out of memory: (.+) holds 256 MB, and only (\\d+) MB of "
                                  "memory are available to read it\\.$"_s);
    const QRegularExpressionMatch match = told.match(description);
    QVERIFY2(match.hasMatch(), qPrintable(description));
    QCOMPARE(match.captured(1), QDir::toNativeSeparators(big));
    QVERIFY2(match.captured(2).toInt() <= 64, qPrintable(description));
    QCOMPARE(files.freeFile(), 1);
    files.openForInput(big, 1);
    files.close(1);
}

// Numbers are handed out lowest first up to the highest; a failure on a number in use frees it,
// one on a number not in use changes nothing.
void TestSequentialFiles::numbers()
{
    QtSequentialFiles files;
    const QString a = path(u"a.txt"_s);
    writeBytes(a, "first,second\r\n");
    writeBytes(path(u"cut.txt"_s), "a\r\n\"b,\r\nc");
    files.openForInput(a, 1);
    files.openForInput(a, 3);
    QCOMPARE(files.freeFile(), 2);
    for (int i = 2; i < QtSequentialFiles::HighestNumber; ++i)
        files.openForInput(a, files.freeFile());
    QCOMPARE(failureOf([&] { files.freeFile(); }), int(FailureNumber::TooManyFiles));
    files.close(300);
    QCOMPARE(files.freeFile(), 300);
    for (int i = 2; i < QtSequentialFiles::HighestNumber; ++i)
        files.close(i == 300 ? QtSequentialFiles::HighestNumber : i);

    const int bad = FailureNumber::BadFileNameOrNumber;
    QCOMPARE(failureOf([&] { files.openForInput(a, 0); }), bad);
    QCOMPARE(failureOf([&] { files.openForOutput(path(u"b.txt"_s), 512); }), bad);
    QVERIFY(!QFile::exists(path(u"b.txt"_s)));
    QCOMPARE(failureOf([&] { files.readItem(3); }), bad);
    QCOMPARE(failureOf([&] { files.close(3); }), bad);

    // A second open under a number in use leaves the first file where it was.
    QCOMPARE(files.readItem(1), u"first"_s);
    QCOMPARE(failureOf([&] { files.openForInput(a, 1); }), int(FailureNumber::FileAlreadyOpen));
    QCOMPARE(failureOf([&] { files.openForOutput(a, 1); }), int(FailureNumber::FileAlreadyOpen));
    QCOMPARE(files.readItem(1), u"second"_s);
    QVERIFY(files.atEnd(1));
    QCOMPARE(failureOf([&] { files.readItem(1); }), int(FailureNumber::InputPastEndOfFile));
    QVERIFY(!files.isOpen(1));

    files.openForInput(a, 1);
    QCOMPARE(failureOf([&] { files.writeItem(1, u"x"_s); }), int(FailureNumber::BadFileMode));
    files.openForOutput(a, 2);
    QCOMPARE(failureOf([&] { files.readItem(2); }), int(FailureNumber::BadFileMode));
    QVERIFY(!files.isOpen(1) && !files.isOpen(2));
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

// The old file stays whole until close; output never closed leaves it and no temporary file.
void TestSequentialFiles::outputReplacesOnlyOnClose()
{
    const QString doc = path(u"doc.txt"_s);
    const QByteArray old = "a much longer old content that must not survive as a tail";
    writeBytes(doc, old);
    for (const bool closed : { false, true }) {
        QtSequentialFiles files;
        files.openForOutput(doc, 1);
        files.writeItem(1, u"a"_s);
        files.writeItem(1, u"b"_s);
        QCOMPARE(fileBytes(doc), old);
        if (closed)
            files.close(1);
    }
    QCOMPARE(fileBytes(doc), QByteArray("\"a\"\r\n\"b\"\r\n"));
    QCOMPARE(entries(folder()), QStringList { u"doc.txt"_s });
}

// A save through a link replaces the file it finally leads to (a dangling one creates it) and
// leaves every link as it was.
void TestSequentialFiles::linksSurvive()
{
    QVERIFY(QDir(folder()).mkpath(u"other"_s));
    writeBytes(path(u"real.txt"_s), "old");
    writeBytes(path(u"other/real.txt"_s), "old");
    const QString links[][2] = { { u"relative"_s, u"other/real.txt"_s },
                                 { u"absolute"_s, path(u"real.txt"_s) },
                                 { u"chain"_s, u"absolute"_s },
                                 { u"dangling"_s, u"absent.txt"_s } };
    for (const auto &link : links)
        QCOMPARE(::symlink(encoded(link[1]).constData(), encoded(path(link[0])).constData()), 0);
    QtSequentialFiles files;
    for (const auto &[link, target] :
         { std::pair(u"relative"_s, u"other/real.txt"_s), std::pair(u"chain"_s, u"real.txt"_s),
           std::pair(u"dangling"_s, u"absent.txt"_s) }) {
        writeDocument(files, 1, path(link), link);
        QCOMPARE(fileBytes(path(target)), '"' + link.toUtf8() + "\"\r\n");
    }
    for (const auto &link : links)
        QCOMPARE(linkText(path(link[0])), link[1]);
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
    const auto has = [&](const char16_t *what) { return situation.contains(what); };
    const bool root = runningAsRoot();
    if (!root && (mode == 0444 || has(u"sticky") || has(u"mounted")))
        QSKIP("Needs root to act as another user or to mount.");
    const int folderMode = has(u"locked") ? 0555 : has(u"sticky") ? 01777 : 0;
    const QString where = folderMode ? path(u"shared"_s) : folder();
    QVERIFY(QDir().mkpath(where));
    const QString doc
        = where + u'/' + (has(u"250") ? QString(82, QChar(0x4E2D)) : u"doc"_s) + u".txt"_s;
    const QByteArray name = encoded(doc);
    if (mode) {
        writeBytes(doc, QByteArray(1000, 'o'));
        QCOMPARE(::chmod(name.constData(), mode_t(mode)), 0);
        QVERIFY(!root || ::chown(name.constData(), 4321, 1234) == 0);
    }
    if (has(u"hard link"))
        QCOMPARE(::link(name.constData(), encoded(path(u"link.txt"_s)).constData()), 0);
    std::optional<Mount> mounted; // as containers mount single files: no rename over it
    if (has(u"mounted") && !mounted.emplace(doc, doc).mounted())
        QSKIP("A file cannot be mounted here.");
    const ino_t inode = statOf(doc).st_ino;
    const QByteArray text = has(u"shorter") ? "s" : QByteArray(100000, 'n');

    bool tookPlace = false;
    {
        std::optional<Unprivileged> unprivileged;
        if (folderMode) {
            QCOMPARE(::chmod(encoded(where).constData(), mode_t(folderMode)), 0);
            unprivileged.emplace();
        }
        const mode_t umask = ::umask(027);
        std::unique_ptr<SafeFileWriter> writer = has(u"refused")
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
    QVERIFY(!inPlace || statOf(doc).st_ino == inode);
    QCOMPARE(int(statOf(doc).st_mode & 07777), mode ? mode : 0640);
    if (mode && root)
        QCOMPARE(std::pair(statOf(doc).st_uid, statOf(doc).st_gid), std::pair(4321u, 1234u));
    QStringList left { QFileInfo(doc).fileName() };
    if (has(u"hard link")) {
        QCOMPARE(fileBytes(path(u"link.txt"_s)), text);
        left.append(u"link.txt"_s);
    }
    QCOMPARE(entries(where), left);
    QCOMPARE(cacheKept(), QStringList());
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
        const pid_t child = ::fork();
        if (child == 0) {
            // SIGALRM ends the process on the spot, as a kill would.
            const struct itimerval when = { {}, { delay / 1000000, delay % 1000000 + 1 } };
            if (delay >= 0)
                ::setitimer(ITIMER_REAL, &when, nullptr);
            QtSequentialFiles files;
            ::_exit(failureOf([&] { writeDocument(files, 1, doc, text); }));
        }
        int status = -1;
        QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child && (delay >= 0 || status == 0));
    };

    QElapsedTimer clock;
    clock.start();
    saveKilledAfter(-1);
    QCOMPARE(fileBytes(doc), saved);
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

QTEST_GUILESS_MAIN(TestSequentialFiles)
#include "tst_sequentialfiles.moc"
