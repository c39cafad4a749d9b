// The platform's sequential files on real files: numbers, failures, what is left on disk, and
// the safe replacement of a file (mode, owner, links, a locked folder, a killed save).
#include "documentfile.h"
#include "filefailures.h"
#include "files.h"
#include "posixstatefolder.h"
#include "qtsequentialfiles.h"
#include "safefilewriter.h"
#include "saveintent.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>

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

// A writer whose replacement may not take the old file's owner and group; one that ends the
// program, as a kill would, once a given number of its steps are recorded.
class OwnershipRefused : public SafeFileWriter
{
public:
    using SafeFileWriter::SafeFileWriter;

protected:
    bool carryOwnership(int, unsigned, unsigned) override { return false; }
};

constexpr int Stopped = 42;

template<typename Writer>
class StoppedAt : public Writer
{
public:
    StoppedAt(const QString &path, StateFolder *state, int step)
        : Writer(path, state), m_stopAt(step)
    {
    }

protected:
    void stepRecorded() override
    {
        if (++m_steps == m_stopAt)
            ::_exit(Stopped);
    }

private:
    int m_stopAt;
    int m_steps = 0;
};

// Runs the work in a child process: its exit code, or minus the signal that ended it.
int inChild(const std::function<int()> &work)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1000;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The ways a file is saved: replaced by a renamed temporary file, or written over itself because
// its owner cannot be carried over or because it has a second hard link.
enum class SavePath { Replaced, OverItself, HardLink };

// A save in a child, stopped after `step` steps (0: never) or killed after `delay` us (<0: never):
// Stopped, 0 when done, a failure number, or minus the signal.
int saveInChild(SavePath how, const QString &doc, const QByteArray &bytes, int step = 0,
                qint64 delay = -1)
{
    return inChild([&] {
        // SIGALRM ends the process on the spot, as a kill would.
        const struct itimerval when = { {}, { delay / 1000000, delay % 1000000 + 1 } };
        if (delay >= 0)
            ::setitimer(ITIMER_REAL, &when, nullptr);
        PosixStateFolder state;
        std::unique_ptr<SafeFileWriter> writer = how == SavePath::OverItself
            ? std::unique_ptr<SafeFileWriter>(new StoppedAt<OwnershipRefused>(doc, &state, step))
            : std::make_unique<StoppedAt<SafeFileWriter>>(doc, &state, step);
        return failureOf([&] {
            writer->open();
            writer->write(bytes);
            writer->commit();
        });
    });
}

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
    void saveStoppedAtEachStepIsRepaired_data();
    void saveStoppedAtEachStepIsRepaired();
    void repairLeavesOthersAlone();
    void longPathIsSaved_data();
    void longPathIsSaved();
    void failureNumbers_data();
    void failureNumbers();

private:
    void prepareSave(SavePath how, const QByteArray &old, bool backupTaken = false);
    void checkRepaired(const QByteArray &old, const QByteArray &saved);
};

const QByteArray OtherBackup = "another editor's backup";

// doc.txt holding `old`, with a second hard link where the save path needs one, and another
// editor's doc.txt~ beside it when the backup's name is taken.
void TestSequentialFiles::prepareSave(SavePath how, const QByteArray &old, bool backupTaken)
{
    for (const QString &name : entries(folder()))
        QVERIFY(QFile::remove(path(name)));
    writeBytes(path(u"doc.txt"_s), old);
    if (backupTaken)
        writeBytes(path(u"doc.txt~"_s), OtherBackup);
    if (how == SavePath::HardLink)
        QCOMPARE(::link(encoded(path(u"doc.txt"_s)).constData(),
                        encoded(path(u"link.txt"_s)).constData()),
                 0);
}

// After a save cut short, the repair leaves doc.txt old or new as its one message says, new text
// not put in place as "doc (new).txt", and nothing partial anywhere.
void TestSequentialFiles::checkRepaired(const QByteArray &old, const QByteArray &saved)
{
    const QStringList messages = QtSequentialFiles().recoverInterruptedSaves();
    const QByteArray now = fileBytes(path(u"doc.txt"_s));
    QVERIFY2(now == old || now == saved, qPrintable(u"doc.txt holds %1 bytes"_s.arg(now.size())));
    QStringList left = entries(folder());
    QVERIFY(left.removeAll(u"doc.txt"_s) == 1);
    if (left.removeAll(u"link.txt"_s))
        QCOMPARE(fileBytes(path(u"link.txt"_s)), now);
    if (left.removeAll(u"doc (new).txt"_s))
        QCOMPARE(fileBytes(path(u"doc (new).txt"_s)), saved);
    if (left.removeAll(u"doc.txt~"_s))
        QCOMPARE(fileBytes(path(u"doc.txt~"_s)), OtherBackup);
    QCOMPARE(left, QStringList());
    QCOMPARE(cacheKept(), QStringList());
    QCOMPARE(stateKept(), QStringList());
    QVERIFY2(messages.size() <= 1, qPrintable(messages.join(u'\n')));
    if (!messages.isEmpty()) {
        const QString &message = messages.first();
        QVERIFY2(message.contains(path(u"doc.txt"_s)), qPrintable(message));
        QCOMPARE(message.contains(u"holds the new contents"), now == saved);
        QVERIFY2(message.contains(u"(new).txt") == QFile::exists(path(u"doc (new).txt"_s)),
                 qPrintable(message));
    }
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
    writeBytes(path(u"huge.txt"_s), {}); // made sparse, larger than any memory: costs no disk
    QVERIFY(QFile::resize(path(u"huge.txt"_s), HugeFile));
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

// A saved file keeps mode, owner and group; one that cannot be replaced faithfully is rewritten
// over itself (same inode, every link). Nothing is left beside it or in the cache.
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

void TestSequentialFiles::saveStoppedAtEachStepIsRepaired_data()
{
    QTest::addColumn<SavePath>("how");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<bool>("backupTaken");
    QTest::addRow("replaced") << SavePath::Replaced << false << false;
    QTest::addRow("written over itself") << SavePath::OverItself << false << false;
    QTest::addRow("hard link") << SavePath::HardLink << false << false;
    QTest::addRow("hard link, rewrite cut in the middle") << SavePath::HardLink << true << false;
    QTest::addRow("hard link, backup in the cache") << SavePath::HardLink << true << true;
}

// A save stopped around each step it records, cut mid-rewrite, or killed at random: the next start
// finds the file old or new and nothing partial. A cache backup's name carries its folder.
void TestSequentialFiles::saveStoppedAtEachStepIsRepaired()
{
    QFETCH(SavePath, how);
    QFETCH(bool, damaged);
    QFETCH(bool, backupTaken);
    const QString escaped = QString(folder()).replace(u'!', u"!!"_s).replace(u'/', u'!');
    const QByteArray old = QByteArray("old\n").repeated(16 << 10);
    const QByteArray saved = QByteArray("new text\n").repeated(12 << 10);
    const QString doc = path(u"doc.txt"_s);
    int step = 1;
    for (;; ++step) {
        prepareSave(how, old, backupTaken);
        const int result = saveInChild(how, doc, saved, step);
        if (result == 0)
            break;
        QVERIFY2(result == Stopped, qPrintable(u"step %1: %2"_s.arg(step).arg(result)));
        // Stopped once the file holds the new text, before that is recorded: only half of the
        // rewrite is done.
        const QStringList records = stateKept();
        const bool recorded = !records.isEmpty()
            && fileBytes(stateFolder() + u'/' + records.first()).contains("\nrewritten\n");
        if (damaged && fileBytes(doc) == saved && !recorded) {
            QFile file(doc);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.resize(saved.size() / 2));
        }
        for (const QString &name : cacheKept())
            QVERIFY2(!name.endsWith(u'~') || name == escaped + u"!doc.txt~"_s, qPrintable(name));
        checkRepaired(old, saved);
        if (QTest::currentTestFailed()) {
            qDebug("stopped after step %d", step);
            return;
        }
    }
    // Before and after each line: the temporary file, its contents whole, and over itself the
    // backup's temporary and final names (each twice when NAME~ is taken) and the rewrite.
    QCOMPARE(step, how == SavePath::Replaced ? 5 : backupTaken ? 15 : 11);
    QCOMPARE(fileBytes(doc), saved);
    QCOMPARE(stateKept(), QStringList());
    if (damaged)
        return;

    // Killed at random moments of a save long enough to be cut while writing.
    const QByteArray large(8 << 20, 'n');
    QElapsedTimer clock;
    clock.start();
    prepareSave(how, old);
    QCOMPARE(saveInChild(how, doc, large), 0);
    QCOMPARE(fileBytes(doc), large);
    const qint64 whole = clock.nsecsElapsed() / 1000;
    for (int round = 0; round < 10; ++round) {
        prepareSave(how, old);
        const int result
            = saveInChild(how, doc, large, 0, QRandomGenerator::global()->bounded(whole + 1));
        QVERIFY(result == 0 || result == -SIGALRM);
        checkRepaired(old, large);
        if (QTest::currentTestFailed()) {
            qDebug("killed in round %d", round);
            return;
        }
    }
}

// The repair leaves alone a running save's files, another editor's NAME~, and a garbage record.
void TestSequentialFiles::repairLeavesOthersAlone()
{
    const QString doc = path(u"doc.txt"_s);
    writeBytes(doc, "damaged");
    writeBytes(doc + u'~', "another editor's backup");
    writeBytes(path(u"doc.txt.AbCdEf"_s), "partial");
    const QByteArray folderName = encoded(folder());
    PosixStateFolder state;
    // A record of the backup's name with another file's identity, its program gone.
    QCOMPARE(inChild([&] {
                 // Ends once the step is recorded.
                 SaveIntent intent(&state, folderName, "doc.txt", [calls = 0]() mutable {
                     if (++calls == 2)
                         ::_exit(0);
                 });
                 intent.backup(folderName, "doc.txt~", 1, 2, 3, 4);
                 return 1;
             }),
             0);
    writeBytes(stateFolder() + u"/save-garbage"_s, "quorvex-save 1\ntarget zz 00\n");
    QCOMPARE(stateKept().size(), 2);
    {
        // A save going on in a running program.
        SaveIntent running(&state, folderName, "doc.txt");
        running.temporary("doc.txt.AbCdEf");
        const QStringList messages = QtSequentialFiles().recoverInterruptedSaves();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().contains(u"still holds its old contents"),
                 qPrintable(messages.first()));
        QCOMPARE(stateKept().size(), 1);
    }
    QCOMPARE(stateKept(), QStringList());
    QCOMPARE(fileBytes(doc), "damaged"_ba);
    QCOMPARE(fileBytes(doc + u'~'), "another editor's backup"_ba);
    QCOMPARE(fileBytes(path(u"doc.txt.AbCdEf"_s)), "partial"_ba);
}

void TestSequentialFiles::longPathIsSaved_data()
{
    QTest::addColumn<SavePath>("how");
    QTest::addRow("new file") << SavePath::Replaced;
    QTest::addRow("hard-linked file") << SavePath::HardLink;
}

// A file whose path is as long as the system takes (4,095 bytes) is saved, though a temporary
// name beside it would be longer.
void TestSequentialFiles::longPathIsSaved()
{
    QFETCH(SavePath, how);
    QString where = folder();
    while (where.size() < 4095 - 250)
        where += u'/' + QString(qMin<qsizetype>(200, 4095 - 250 - where.size()), u'd');
    QVERIFY(QDir().mkpath(where));
    const QString doc = where + u'/' + QString(4095 - where.size() - 1, u'f');
    QCOMPARE(encoded(doc).size(), 4095);
    if (how == SavePath::HardLink) {
        writeBytes(doc, "old");
        QCOMPARE(::link(encoded(doc).constData(), encoded(path(u"link.txt"_s)).constData()), 0);
    }
    QtSequentialFiles files;
    QCOMPARE(failureOf([&] { writeDocument(files, 1, doc, u"long"_s); }), 0);
    QCOMPARE(fileBytes(doc), "\"long\"\r\n"_ba);
    QCOMPARE(entries(where).size(), 1);
    QVERIFY(how != SavePath::HardLink || fileBytes(path(u"link.txt"_s)) == "\"long\"\r\n");
    QCOMPARE(stateKept(), QStringList());
}

void TestSequentialFiles::failureNumbers_data()
{
    QTest::addColumn<int>("number");
    QTest::addRow("no place for a backup") << int(FailureNumber::PermissionDenied);
    QTest::addRow("out of memory, written in place") << int(FailureNumber::OutOfMemory);
}

// A hard-linked file in a locked folder, written over itself: with no place for a backup, or out
// of memory, the failure says the file was not changed, and it was not.
void TestSequentialFiles::failureNumbers()
{
    QFETCH(int, number);
    if (!runningAsRoot())
        QSKIP("Needs root to act as another user.");
    const bool memory = number == FailureNumber::OutOfMemory;
    const QString doc = path(u"locked/doc.txt"_s);
    QVERIFY(QDir(folder()).mkpath(u"locked"_s));
    writeBytes(doc, "old");
    QCOMPARE(::chmod(encoded(doc).constData(), 0666), 0);
    QCOMPARE(::link(encoded(doc).constData(), encoded(path(u"link.txt"_s)).constData()), 0);
    QCOMPARE(::chmod(encoded(path(u"locked"_s)).constData(), 0555), 0);
    // No cache folder can be made under a plain file.
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    writeBytes(path(u"plain"_s), "x");
    qputenv("XDG_CACHE_HOME", encoded(path(u"plain/cache"_s)));
    // The text takes twice the room the process is left: half to encode, half to gather.
    const QString text(memory ? 40 << 20 : 10, u'n');
    QString description;
    const int result = inChild([&] {
        const Unprivileged unprivileged;
        QtSequentialFiles files;
        std::optional<Limit> limit;
        if (memory && !limit.emplace(RLIMIT_AS, rlim_t(mappedBytes() + (32 << 20))).set())
            return 99;
        const int failure = failureOf([&] { writeDocument(files, 1, doc, text); }, &description);
        const bool noted = description.endsWith(FileFailures::unchangedNote());
        return failure == number && noted && files.freeFile() == 1 ? 0 : 1 + (failure == 0);
    });
    qputenv("XDG_CACHE_HOME", cache);
    ::chmod(encoded(path(u"locked"_s)).constData(), 0755);
    QCOMPARE(result, 0);
    QCOMPARE(fileBytes(doc), "old"_ba);
    QCOMPARE(entries(path(u"locked"_s)), QStringList { u"doc.txt"_s });
}

QTEST_GUILESS_MAIN(TestSequentialFiles)
#include "tst_sequentialfiles.moc"
