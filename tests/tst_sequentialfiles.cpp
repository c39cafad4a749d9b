// The platform's sequential files on real files: numbers, failures, and what is left on disk.
#include "documentfile.h"
#include "failure.h"
#include "qtsequentialfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Runs the operation and returns the number of the failure it raised, or 0.
template<typename Operation>
int failureOf(Operation operation, QString *description = nullptr)
{
    try {
        operation();
    } catch (const Failure &failure) {
        if (description)
            *description = failure.description();
        return failure.number();
    }
    return 0;
}

bool runningAsRoot()
{
#ifdef Q_OS_UNIX
    return ::geteuid() == 0;
#else
    return false;
#endif
}

} // namespace

class TestSequentialFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void freeFileGivesTheLowestUnused();
    void tooManyFiles();
    void openForInputFails_data();
    void openForInputFails();
    void unreadableFile();
    void openForOutputFails_data();
    void openForOutputFails();
    void outputIntoReadOnlyFolder();
    void manyFailuresLeaveNoNumberInUse();
    void badNumbers();
    void numberAlreadyOpen();
    void readsItemsThenFailsPastTheEnd();
    void unterminatedItemFreesTheNumber();
    void wrongModeFreesTheNumber();
    void writtenBytesOnDisk();
    void outputReplacesOnlyOnClose();
    void failedWriteLeavesTheOldFile();
    void unclosedOutputIsDiscarded();
    void documentRoundTrip_data();
    void documentRoundTrip();
    void documentOperationsFreeTheirNumber();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString folder() const { return m_dir->path(); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

// Each case, and each row, gets a folder of its own.
void TestSequentialFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSequentialFiles::freeFileGivesTheLowestUnused()
{
    QtSequentialFiles files;
    writeBytes(path(u"a.txt"_s), "a\r\n");
    QCOMPARE(files.freeFile(), 1);
    files.openForInput(path(u"a.txt"_s), 1);
    QCOMPARE(files.freeFile(), 2);
    files.openForInput(path(u"a.txt"_s), 2);
    files.openForInput(path(u"a.txt"_s), 5);
    QCOMPARE(files.freeFile(), 3);
    files.close(1);
    QCOMPARE(files.freeFile(), 1);
    QVERIFY(!files.isOpen(1));
    QVERIFY(files.isOpen(2));
}

void TestSequentialFiles::tooManyFiles()
{
    QtSequentialFiles files;
    writeBytes(path(u"a.txt"_s), "a");
    for (int i = QtSequentialFiles::LowestNumber; i <= QtSequentialFiles::HighestNumber; ++i)
        files.openForInput(path(u"a.txt"_s), files.freeFile());
    QCOMPARE(failureOf([&] { files.freeFile(); }), int(FailureNumber::TooManyFiles));
    files.close(300);
    QCOMPARE(files.freeFile(), 300);
}

void TestSequentialFiles::openForInputFails_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");

    QTest::addRow("missing file") << u"missing.txt"_s << int(FailureNumber::FileNotFound);
    QTest::addRow("missing folder") << u"nowhere/a.txt"_s << int(FailureNumber::PathNotFound);
    QTest::addRow("a file used as a folder")
        << u"plain.txt/a.txt"_s << int(FailureNumber::PathNotFound);
    QTest::addRow("folder") << u"folder"_s << int(FailureNumber::PathFileAccessError);
    QTest::addRow("empty name") << QString() << int(FailureNumber::BadFileNameOrNumber);
    QTest::addRow("dangling link") << u"dangling"_s << int(FailureNumber::FileNotFound);
#ifdef Q_OS_UNIX
    QTest::addRow("FIFO") << u"fifo"_s << int(FailureNumber::PathFileAccessError);
    QTest::addRow("/dev/zero") << u"/dev/zero"_s << int(FailureNumber::PathFileAccessError);
    QTest::addRow("/dev/null") << u"/dev/null"_s << int(FailureNumber::PathFileAccessError);
#endif
    QTest::addRow("larger than 1 GiB") << u"huge.txt"_s << int(FailureNumber::OutOfMemory);
}

void TestSequentialFiles::openForInputFails()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    writeBytes(path(u"plain.txt"_s), "x");
    QVERIFY(QDir(folder()).mkpath(u"folder"_s));
    QFile::link(path(u"gone.txt"_s), path(u"dangling"_s));
#ifdef Q_OS_UNIX
    // A reader that opened this FIFO would wait for a writer forever.
    ::mkfifo(QFile::encodeName(path(u"fifo"_s)).constData(), 0600);
#endif
    if (name == u"huge.txt"_s) {
        QFile huge(path(name));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.resize(QtSequentialFiles::LargestInput + 1)); // sparse: no real space used
    }
    const QString target = name.startsWith(u'/') || name.isEmpty() ? name : path(name);

    QtSequentialFiles files;
    const qint16 fileNumber = files.freeFile();
    QString description;
    QCOMPARE(failureOf([&] { files.openForInput(target, fileNumber); }, &description), number);
    QVERIFY(!files.isOpen(fileNumber));
    QCOMPARE(files.freeFile(), fileNumber);
    QVERIFY2(!description.isEmpty(), "a failure says what went wrong");
    if (!target.isEmpty())
        QVERIFY2(description.contains(QDir::toNativeSeparators(target)), qPrintable(description));
}

void TestSequentialFiles::unreadableFile()
{
    if (runningAsRoot())
        QSKIP("Running as root: permissions do not stop root from reading a file.");
    const QString name = path(u"secret.txt"_s);
    writeBytes(name, "secret");
    QVERIFY(QFile::setPermissions(name, QFileDevice::WriteOwner));
    QtSequentialFiles files;
    QCOMPARE(failureOf([&] { files.openForInput(name, 1); }), int(FailureNumber::PermissionDenied));
    QVERIFY(!files.isOpen(1));
}

void TestSequentialFiles::openForOutputFails_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");

    QTest::addRow("missing folder") << u"nowhere/a.txt"_s << int(FailureNumber::PathNotFound);
    QTest::addRow("a file used as a folder")
        << u"plain.txt/a.txt"_s << int(FailureNumber::PathNotFound);
    QTest::addRow("folder") << u"folder"_s << int(FailureNumber::PathFileAccessError);
    QTest::addRow("empty name") << QString() << int(FailureNumber::BadFileNameOrNumber);
#ifdef Q_OS_UNIX
    QTest::addRow("FIFO") << u"fifo"_s << int(FailureNumber::PathFileAccessError);
    QTest::addRow("/dev/null") << u"/dev/null"_s << int(FailureNumber::PathFileAccessError);
#endif
}

void TestSequentialFiles::openForOutputFails()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    writeBytes(path(u"plain.txt"_s), "x");
    QVERIFY(QDir(folder()).mkpath(u"folder"_s));
#ifdef Q_OS_UNIX
    ::mkfifo(QFile::encodeName(path(u"fifo"_s)).constData(), 0600);
#endif
    const QString target = name.startsWith(u'/') || name.isEmpty() ? name : path(name);

    QtSequentialFiles files;
    QCOMPARE(failureOf([&] { files.openForOutput(target, 7); }), number);
    QVERIFY(!files.isOpen(7));
    QCOMPARE(fileBytes(path(u"plain.txt"_s)), QByteArray("x"));
    QVERIFY(QFileInfo(path(u"folder"_s)).isDir());
}

void TestSequentialFiles::outputIntoReadOnlyFolder()
{
    if (runningAsRoot())
        QSKIP("Running as root: permissions do not stop root from writing into a folder.");
    QDir(folder()).mkpath(u"locked"_s);
    const QString locked = path(u"locked"_s);
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QtSequentialFiles files;
    const int number = failureOf([&] { files.openForOutput(locked + u"/a.txt"_s, 1); });
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(number, int(FailureNumber::PermissionDenied));
    QVERIFY(!files.isOpen(1));
}

void TestSequentialFiles::manyFailuresLeaveNoNumberInUse()
{
    QtSequentialFiles files;
    writeBytes(path(u"open.txt"_s), "\"never closed");
    for (int i = 0; i < 600; ++i) {
        const qint16 number = files.freeFile();
        QCOMPARE(number, 1);
        switch (i % 3) {
        case 0:
            QCOMPARE(failureOf([&] { files.openForInput(path(u"missing.txt"_s), number); }),
                     int(FailureNumber::FileNotFound));
            break;
        case 1:
            QCOMPARE(failureOf([&] { files.openForOutput(path(u"no/such.txt"_s), number); }),
                     int(FailureNumber::PathNotFound));
            break;
        default:
            files.openForInput(path(u"open.txt"_s), number);
            QCOMPARE(failureOf([&] { files.readItem(number); }),
                     int(FailureNumber::InputPastEndOfFile));
            break;
        }
        QVERIFY(!files.isOpen(number));
    }
}

void TestSequentialFiles::badNumbers()
{
    QtSequentialFiles files;
    writeBytes(path(u"a.txt"_s), "a");
    const int bad = FailureNumber::BadFileNameOrNumber;
    QCOMPARE(failureOf([&] { files.openForInput(path(u"a.txt"_s), 0); }), bad);
    QCOMPARE(failureOf([&] { files.openForInput(path(u"a.txt"_s), 512); }), bad);
    QCOMPARE(failureOf([&] { files.openForOutput(path(u"b.txt"_s), -1); }), bad);
    QVERIFY(!QFile::exists(path(u"b.txt"_s)));
    QCOMPARE(failureOf([&] { files.atEnd(3); }), bad);
    QCOMPARE(failureOf([&] { files.readItem(3); }), bad);
    QCOMPARE(failureOf([&] { files.writeItem(3, u"x"_s); }), bad);
    QCOMPARE(failureOf([&] { files.close(3); }), bad);
    QVERIFY(!files.isOpen(0));
    QVERIFY(!files.isOpen(512));
}

// A second open under a number in use fails and leaves the first file as it was.
void TestSequentialFiles::numberAlreadyOpen()
{
    QtSequentialFiles files;
    writeBytes(path(u"a.txt"_s), "first,second");
    files.openForInput(path(u"a.txt"_s), 1);
    QCOMPARE(files.readItem(1), u"first"_s);
    QCOMPARE(failureOf([&] { files.openForInput(path(u"a.txt"_s), 1); }),
             int(FailureNumber::FileAlreadyOpen));
    QCOMPARE(failureOf([&] { files.openForOutput(path(u"a.txt"_s), 1); }),
             int(FailureNumber::FileAlreadyOpen));
    QVERIFY(files.isOpen(1));
    QCOMPARE(files.readItem(1), u"second"_s);
    QCOMPARE(fileBytes(path(u"a.txt"_s)), QByteArray("first,second"));
}

void TestSequentialFiles::readsItemsThenFailsPastTheEnd()
{
    QtSequentialFiles files;
    writeBytes(path(u"a.txt"_s), "a,b\r\n");
    files.openForInput(path(u"a.txt"_s), 4);
    QVERIFY(!files.atEnd(4));
    QCOMPARE(files.readItem(4), u"a"_s);
    QCOMPARE(files.readItem(4), u"b"_s);
    QVERIFY(files.atEnd(4));
    QCOMPARE(failureOf([&] { files.readItem(4); }), int(FailureNumber::InputPastEndOfFile));
    QVERIFY(!files.isOpen(4));
}

void TestSequentialFiles::unterminatedItemFreesTheNumber()
{
    QtSequentialFiles files;
    const QString name = path(u"cut.txt"_s);
    writeBytes(name, "a\r\n\"b,\r\nc");
    files.openForInput(name, 1);
    QCOMPARE(files.readItem(1), u"a"_s);
    QString description;
    QCOMPARE(failureOf([&] { files.readItem(1); }, &description),
             int(FailureNumber::InputPastEndOfFile));
    QVERIFY2(description.contains(QDir::toNativeSeparators(name)), qPrintable(description));
    QVERIFY(!files.isOpen(1));
}

void TestSequentialFiles::wrongModeFreesTheNumber()
{
    QtSequentialFiles files;
    writeBytes(path(u"a.txt"_s), "old");
    files.openForInput(path(u"a.txt"_s), 1);
    QCOMPARE(failureOf([&] { files.writeItem(1, u"x"_s); }), int(FailureNumber::BadFileMode));
    QVERIFY(!files.isOpen(1));
    files.openForOutput(path(u"a.txt"_s), 2);
    QCOMPARE(failureOf([&] { files.readItem(2); }), int(FailureNumber::BadFileMode));
    QVERIFY(!files.isOpen(2));
    QCOMPARE(fileBytes(path(u"a.txt"_s)), QByteArray("old"));
}

void TestSequentialFiles::writtenBytesOnDisk()
{
    QtSequentialFiles files;
    const QString name = path(u"out.txt"_s);
    files.openForOutput(name, 1);
    files.writeItem(1, u"hello"_s);
    files.writeItem(1, u"say \"hi\"\r\n\u00e9"_s);
    files.close(1);
    QCOMPARE(fileBytes(name), QByteArray("\"hello\"\r\n\"say \"\"hi\"\"\r\n\xc3\xa9\"\r\n"));
    QVERIFY(!files.isOpen(1));
}

void TestSequentialFiles::outputReplacesOnlyOnClose()
{
    QtSequentialFiles files;
    const QString name = path(u"doc.txt"_s);
    writeBytes(name, "a much longer old content that must not survive as a tail");
    files.openForOutput(name, 1);
    files.writeItem(1, u"new"_s);
    QCOMPARE(fileBytes(name),
             QByteArray("a much longer old content that must not survive as a tail"));
    files.close(1);
    QCOMPARE(fileBytes(name), QByteArray("\"new\"\r\n"));
}

void TestSequentialFiles::failedWriteLeavesTheOldFile()
{
    QtSequentialFiles files;
    const QString name = path(u"doc.txt"_s);
    writeBytes(name, "old");
    files.openForOutput(name, 1);
    QString text(200000, u'x'); // several pieces reach the file before the bad character
    text.append(QChar(0xD800));
    QCOMPARE(failureOf([&] { files.writeItem(1, text); }),
             int(FailureNumber::InvalidProcedureCall));
    QVERIFY(!files.isOpen(1));
    QCOMPARE(fileBytes(name), QByteArray("old"));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList { u"doc.txt"_s });
}

void TestSequentialFiles::unclosedOutputIsDiscarded()
{
    const QString name = path(u"doc.txt"_s);
    writeBytes(name, "old");
    {
        QtSequentialFiles files;
        files.openForOutput(name, 1);
        files.writeItem(1, u"new"_s);
    }
    QCOMPARE(fileBytes(name), QByteArray("old"));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList { u"doc.txt"_s });
}

void TestSequentialFiles::documentRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addRow("empty") << QString();
    QTest::addRow("lines") << u"one\r\ntwo, three\r\n\r\n"_s;
    QTest::addRow("marks") << u"\"quoted\", \"\" and a last \""_s;
    QTest::addRow("non-ASCII") << u"\u00e9\u20ac\U0001F600\ufeff"_s;
    QTest::addRow("large") << QString(3 * 1024 * 1024, u'\u00e9');
}

void TestSequentialFiles::documentRoundTrip()
{
    QFETCH(QString, text);
    QtSequentialFiles files;
    const QString name = path(u"doc.txt"_s);
    writeBytes(name, "old contents");
    writeDocument(files, name, text);
    QCOMPARE(readItems(files, name), QStringList { text });
    QCOMPARE(files.freeFile(), 1);
}

void TestSequentialFiles::documentOperationsFreeTheirNumber()
{
    QtSequentialFiles files;
    writeBytes(path(u"cut.txt"_s), "a,\"b");
    QCOMPARE(failureOf([&] { readItems(files, path(u"cut.txt"_s)); }),
             int(FailureNumber::InputPastEndOfFile));
    QCOMPARE(failureOf([&] { readItems(files, path(u"missing.txt"_s)); }),
             int(FailureNumber::FileNotFound));
    QCOMPARE(failureOf([&] { writeDocument(files, path(u"no/doc.txt"_s), u"x"_s); }),
             int(FailureNumber::PathNotFound));
    QString bad = u"x"_s;
    bad.append(QChar(0xDC00));
    QCOMPARE(failureOf([&] { writeDocument(files, path(u"doc.txt"_s), bad); }),
             int(FailureNumber::InvalidProcedureCall));
    QVERIFY(!QFile::exists(path(u"doc.txt"_s)));
    QCOMPARE(files.freeFile(), 1);
}

QTEST_GUILESS_MAIN(TestSequentialFiles)
#include "tst_sequentialfiles.moc"
