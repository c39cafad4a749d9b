// Saving never costs the file on disk: failures of every kind leave it byte-identical and the
// editor as it was; mode, owner, group and links survive a save; a killed save changes nothing.
#include "documentfile.h"
#include "editorfixture.h"
#include "safefilewriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr uid_t Nobody = 65534;
const QByteArray OldBytes = "\"old text, kept\"\r\n";

QByteArray encoded(const QString &path) { return QFile::encodeName(path); }

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

struct stat statOf(const QString &path, bool follow = true)
{
    struct stat info = {};
    if (follow)
        ::stat(encoded(path).constData(), &info);
    else
        ::lstat(encoded(path).constData(), &info);
    return info;
}

QString linkText(const QString &path)
{
    char buffer[4096];
    const ssize_t length = ::readlink(encoded(path).constData(), buffer, sizeof buffer);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(buffer, length));
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                  | QDir::NoDotAndDotDot);
}

bool runningAsRoot() { return ::geteuid() == 0; }

// While alive, file permissions are checked as for an ordinary user: as root, the effective
// user and groups become nobody's.
class Unprivileged
{
public:
    Unprivileged() : m_wasRoot(runningAsRoot())
    {
        if (!m_wasRoot)
            return;
        m_groupCount = ::getgroups(int(std::size(m_groups)), m_groups);
        const gid_t nobodyGroup = Nobody;
        const bool dropped
            = ::setgroups(1, &nobodyGroup) == 0 && ::setegid(Nobody) == 0 && ::seteuid(Nobody) == 0;
        if (!dropped)
            qFatal("Could not take the identity of an ordinary user.");
    }
    ~Unprivileged()
    {
        if (!m_wasRoot)
            return;
        if (::seteuid(0) != 0 || ::setegid(0) != 0
            || ::setgroups(size_t(qMax(m_groupCount, 0)), m_groups) != 0)
            qFatal("Could not take back the identity of root.");
    }
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

private:
    bool m_wasRoot;
    gid_t m_groups[64] = {};
    int m_groupCount = 0;
};

// A 64 KiB file system of its own, so that the disk can be filled.
class SmallDisk
{
public:
    explicit SmallDisk(const QString &folder) : m_folder(folder)
    {
        QDir().mkpath(folder);
        m_mounted
            = ::mount("tmpfs", encoded(folder).constData(), "tmpfs", 0, "size=64k,mode=0777") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(encoded(m_folder).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

    // Fills the disk, then frees `room` bytes again.
    bool fill(qint64 room)
    {
        const QByteArray name = encoded(m_folder + u"/filler"_s);
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'f');
        off_t size = 0;
        for (;;) {
            const ssize_t written = ::write(fd, block.constData(), size_t(block.size()));
            if (written <= 0)
                break;
            size += written;
        }
        const bool full = errno == ENOSPC;
        const bool freed = ::ftruncate(fd, qMax<off_t>(0, size - room)) == 0;
        ::close(fd);
        return full && freed;
    }

private:
    QString m_folder;
    bool m_mounted = false;
};

// Lowers the largest file this process may write, for as long as it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        struct rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_saved); }
    bool set() const { return m_set; }

private:
    struct rlimit m_saved = {};
    bool m_set = false;
};

QString bigText() { return QString(200 * 1024, u'n'); }

} // namespace

class TestSafeSave : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void failedSaveKeepsEverything_data();
    void failedSaveKeepsEverything();
    void attributesSurvive_data();
    void attributesSurvive();
    void ownerAndGroupSurvive();
    void newFileGetsTheCreationMode();
    void linksSurvive_data();
    void linksSurvive();
    void inPlaceWhenTheFolderIsLocked_data();
    void inPlaceWhenTheFolderIsLocked();
    void killedSaveLeavesTheOldFile();
    void unusualNamesRoundTrip_data();
    void unusualNamesRoundTrip();

private:
    QString path(const QString &name) const { return m_folder->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestSafeSave::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    // Reachable by the unprivileged user too.
    QCOMPARE(::chmod(encoded(m_folder->path()).constData(), 0755), 0);
}

void TestSafeSave::cleanup()
{
    ::chmod(encoded(m_folder->path()).constData(), 0755);
    ::chmod(encoded(path(u"disk"_s)).constData(), 0777);
    ::umount2(encoded(path(u"disk"_s)).constData(), MNT_DETACH);
    m_folder.reset();
}

void TestSafeSave::failedSaveKeepsEverything_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("number");

    QTest::addRow("read-only file") << u"read-only file"_s << int(FailureNumber::PermissionDenied);
    QTest::addRow("read-only folder, new name")
        << u"read-only folder"_s << int(FailureNumber::PermissionDenied);
    QTest::addRow("missing folder") << u"missing folder"_s << int(FailureNumber::PathNotFound);
    QTest::addRow("link loop") << u"link loop"_s << int(FailureNumber::PathFileAccessError);
    QTest::addRow("name of a folder") << u"folder"_s << int(FailureNumber::PathFileAccessError);
    QTest::addRow("file-size limit") << u"size limit"_s << int(FailureNumber::DiskFull);
    QTest::addRow("full disk, some room") << u"some room"_s << int(FailureNumber::DiskFull);
    QTest::addRow("full disk, no room") << u"no room"_s << int(FailureNumber::DiskFull);
    QTest::addRow("full disk, written in place") << u"in place"_s << int(FailureNumber::DiskFull);
}

void TestSafeSave::failedSaveKeepsEverything()
{
    QFETCH(QString, situation);
    QFETCH(int, number);

    const bool onSmallDisk
        = situation == u"some room" || situation == u"no room" || situation == u"in place";
    std::unique_ptr<SmallDisk> disk;
    QString folder = m_folder->path();
    if (onSmallDisk) {
        folder = path(u"disk"_s);
        disk = std::make_unique<SmallDisk>(folder);
        if (!disk->mounted())
            QSKIP("A small file system cannot be mounted here; the file-size limit row covers a "
                  "full disk.");
    }
    const QString doc = folder + u"/doc.txt"_s;
    writeBytes(doc, OldBytes);
    QVERIFY(QDir(folder).mkpath(u"sub"_s));

    EditorFixture f;
    f.start();
    f.dialog.fileAnswers = { doc };
    f.form.File_Open_Click();
    QCOMPARE(f.form.currentFile(), doc);
    const QString text = bigText();
    f.text().setText(text);
    f.form.Text1_KeyPress(u'n');
    const QString caption = f.window.caption();

    // Save writes to the document's own file; Save As is used where another name is needed.
    QString saveAsName;
    std::unique_ptr<Unprivileged> unprivileged;
    std::unique_ptr<FileSizeLimit> limit;
    if (situation == u"read-only file") {
        QCOMPARE(::chmod(encoded(doc).constData(), 0444), 0);
        QCOMPARE(::chmod(encoded(folder).constData(), 0777), 0);
        unprivileged = std::make_unique<Unprivileged>();
    } else if (situation == u"read-only folder") {
        QCOMPARE(::chmod(encoded(folder).constData(), 0555), 0);
        saveAsName = folder + u"/new.txt"_s;
        unprivileged = std::make_unique<Unprivileged>();
    } else if (situation == u"missing folder") {
        saveAsName = folder + u"/nowhere/new.txt"_s;
    } else if (situation == u"link loop") {
        QCOMPARE(::symlink("loop2", encoded(folder + u"/loop1"_s).constData()), 0);
        QCOMPARE(::symlink("loop1", encoded(folder + u"/loop2"_s).constData()), 0);
        saveAsName = folder + u"/loop1"_s;
    } else if (situation == u"folder") {
        saveAsName = folder + u"/sub"_s;
    } else if (situation == u"size limit") {
        limit = std::make_unique<FileSizeLimit>(64 * 1024);
        QVERIFY(limit->set());
    } else if (situation == u"some room") {
        QVERIFY(disk->fill(16 * 1024));
    } else if (situation == u"no room") {
        QVERIFY(disk->fill(0));
    } else if (situation == u"in place") {
        // Only the file may be written, not the folder: no temporary file can be made.
        QCOMPARE(::chmod(encoded(doc).constData(), 0666), 0);
        QVERIFY(disk->fill(0));
        QCOMPARE(::chmod(encoded(folder).constData(), 0755), 0);
        if (!runningAsRoot())
            QSKIP("Needs root to lock the folder of a file system it mounted.");
        unprivileged = std::make_unique<Unprivileged>();
    }
    const QStringList before = entries(folder);

    if (saveAsName.isEmpty()) {
        f.form.File_Save_Click();
    } else {
        f.dialog.fileAnswers = { saveAsName };
        f.form.File_Save_As_Click();
    }
    unprivileged.reset();
    limit.reset();

    QCOMPARE(f.messageBoxes.calls.size(), 1);
    const auto box = f.messageBoxes.calls.at(0);
    QCOMPARE(box.title, QString::number(number));
    QCOMPARE(box.style, int(MessageBoxes::Information));
    const QString named = saveAsName.isEmpty() ? doc : saveAsName;
    QVERIFY2(box.prompt.contains(QDir::toNativeSeparators(named)), qPrintable(box.prompt));

    QCOMPARE(fileBytes(doc), OldBytes);
    QCOMPARE(entries(folder), before);
    QCOMPARE(f.text().text(), text);
    QVERIFY(f.form.textChanged());
    QCOMPARE(f.form.currentFile(), doc);
    QCOMPARE(f.window.caption(), caption);
    QCOMPARE(f.files.freeFile(), 1);
    if (situation == u"link loop") {
        QCOMPARE(linkText(folder + u"/loop1"_s), u"loop2"_s);
        QCOMPARE(linkText(folder + u"/loop2"_s), u"loop1"_s);
    }
}

void TestSafeSave::attributesSurvive_data()
{
    QTest::addColumn<int>("mode");
    QTest::addRow("0640") << 0640;
    QTest::addRow("0600") << 0600;
    QTest::addRow("0755") << 0755;
    QTest::addRow("0604") << 0604;
    QTest::addRow("0444 saved as root") << 0444;
}

void TestSafeSave::attributesSurvive()
{
    QFETCH(int, mode);
    if ((mode & 0200) == 0 && !runningAsRoot())
        QSKIP("Only root may replace a read-only file.");
    const QString doc = path(u"doc.txt"_s);
    writeBytes(doc, OldBytes);
    QCOMPARE(::chmod(encoded(doc).constData(), mode_t(mode)), 0);

    QtSequentialFiles files;
    writeDocument(files, doc, u"new text"_s);

    QCOMPARE(fileBytes(doc), QByteArray("\"new text\"\r\n"));
    QCOMPARE(int(statOf(doc).st_mode & 07777), mode);
    QCOMPARE(entries(m_folder->path()), QStringList { u"doc.txt"_s });
}

void TestSafeSave::ownerAndGroupSurvive()
{
    if (!runningAsRoot())
        QSKIP("Only root can give a file to another owner and group.");
    const QString doc = path(u"doc.txt"_s);
    writeBytes(doc, OldBytes);
    QCOMPARE(::chown(encoded(doc).constData(), 4321, 1234), 0);
    QCOMPARE(::chmod(encoded(doc).constData(), 0664), 0);

    QtSequentialFiles files;
    writeDocument(files, doc, u"new text"_s);

    const struct stat info = statOf(doc);
    QCOMPARE(info.st_uid, uid_t(4321));
    QCOMPARE(info.st_gid, gid_t(1234));
    QCOMPARE(int(info.st_mode & 07777), 0664);
    QCOMPARE(fileBytes(doc), QByteArray("\"new text\"\r\n"));
}

void TestSafeSave::newFileGetsTheCreationMode()
{
    const mode_t saved = ::umask(027);
    QtSequentialFiles files;
    writeDocument(files, path(u"new.txt"_s), u"x"_s);
    ::umask(saved);
    QCOMPARE(int(statOf(path(u"new.txt"_s)).st_mode & 07777), 0640);
}

void TestSafeSave::linksSurvive_data()
{
    QTest::addColumn<QString>("saved"); // the name the save is given
    QTest::addColumn<QString>("target"); // the file that must receive the text
    QTest::addColumn<QStringList>("links"); // "name=>text" of each link that must stay

    QTest::addRow("relative link")
        << u"link.txt"_s << u"real.txt"_s << QStringList { u"link.txt=>real.txt"_s };
    QTest::addRow("link into another folder")
        << u"link.txt"_s << u"other/real.txt"_s << QStringList { u"link.txt=>other/real.txt"_s };
    QTest::addRow("chain of two links")
        << u"first.txt"_s << u"real.txt"_s
        << QStringList { u"first.txt=>second.txt"_s, u"second.txt=>real.txt"_s };
    QTest::addRow("dangling link creates its file")
        << u"link.txt"_s << u"absent.txt"_s << QStringList { u"link.txt=>absent.txt"_s };
    QTest::addRow("absolute link")
        << u"link.txt"_s << u"real.txt"_s << QStringList { u"link.txt=>@/real.txt"_s };
}

void TestSafeSave::linksSurvive()
{
    QFETCH(QString, saved);
    QFETCH(QString, target);
    QFETCH(QStringList, links);

    QVERIFY(QDir(m_folder->path()).mkpath(u"other"_s));
    writeBytes(path(u"real.txt"_s), OldBytes);
    writeBytes(path(u"other/real.txt"_s), OldBytes);
    for (QString &link : links) {
        link.replace(u'@', m_folder->path());
        const QStringList parts = link.split(u"=>"_s);
        QCOMPARE(
            ::symlink(encoded(parts.at(1)).constData(), encoded(path(parts.at(0))).constData()), 0);
    }

    QtSequentialFiles files;
    writeDocument(files, path(saved), u"through the link"_s);

    QCOMPARE(fileBytes(path(target)), QByteArray("\"through the link\"\r\n"));
    for (const QString &link : std::as_const(links)) {
        const QStringList parts = link.split(u"=>"_s);
        QVERIFY2(S_ISLNK(statOf(path(parts.at(0)), false).st_mode), qPrintable(parts.at(0)));
        QCOMPARE(linkText(path(parts.at(0))), parts.at(1));
    }
}

void TestSafeSave::inPlaceWhenTheFolderIsLocked_data()
{
    QTest::addColumn<QString>("text");
    QTest::addRow("longer than before") << QString(100000, u'l');
    QTest::addRow("shorter than before") << u"s"_s;
}

// A writable file in a folder that takes no new file is still saved, over itself.
void TestSafeSave::inPlaceWhenTheFolderIsLocked()
{
    QFETCH(QString, text);
    const QString folder = path(u"locked"_s);
    QVERIFY(QDir(m_folder->path()).mkpath(u"locked"_s));
    const QString doc = folder + u"/doc.txt"_s;
    writeBytes(doc, QByteArray(1000, 'o'));
    QCOMPARE(::chmod(encoded(doc).constData(), 0666), 0);
    QCOMPARE(::chmod(encoded(folder).constData(), 0555), 0);
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
    ::chmod(encoded(folder).constData(), 0755);

    QVERIFY(inPlace);
    QCOMPARE(fileBytes(doc), "one " + text.toUtf8());
    QCOMPARE(statOf(doc).st_ino, inode);
    QCOMPARE(int(statOf(doc).st_mode & 07777), 0666);
    QCOMPARE(entries(folder), QStringList { u"doc.txt"_s });
}

// A save killed half-way leaves the old file as it was.
void TestSafeSave::killedSaveLeavesTheOldFile()
{
    const QString doc = path(u"doc.txt"_s);
    writeBytes(doc, OldBytes);
    const QByteArray folder = encoded(m_folder->path()) + '/';
    const QByteArray docName = encoded(doc);

    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // Writes for as long as it is let, and never reaches the close.
        QtSequentialFiles files;
        files.openForOutput(doc, 1);
        const QString chunk(1 << 20, u'k');
        for (int i = 0; i < 512; ++i)
            files.writeItem(1, chunk);
        ::_exit(3);
    }

    // Wait until the child's temporary file holds a good part of the text, then kill it.
    const QByteArray fds = "/proc/" + QByteArray::number(child) + "/fd";
    bool caught = false;
    for (int tries = 0; tries < 20000 && !caught; ++tries) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child)
            QFAIL("The saving process ended before it could be killed.");
        for (const QString &fd :
             QDir(QFile::decodeName(fds))
                 .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
            const QByteArray link = fds + '/' + encoded(fd);
            char target[4096];
            const ssize_t length = ::readlink(link.constData(), target, sizeof target);
            if (length <= 0)
                continue;
            const QByteArray name(target, length);
            struct stat info;
            if (name.startsWith(folder) && name != docName && ::stat(link.constData(), &info) == 0
                && info.st_size >= 8 << 20) {
                caught = true;
                break;
            }
        }
        if (!caught)
            ::usleep(1000);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(caught, "The temporary file was never seen growing.");
    QVERIFY(WIFSIGNALED(status));

    QCOMPARE(fileBytes(doc), OldBytes);
    QVERIFY(entries(m_folder->path()).contains(u"doc.txt"_s));
}

void TestSafeSave::unusualNamesRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addRow("spaces at both ends") << u"  both ends.txt  "_s;
    QTest::addRow("leading space") << u" leading.txt"_s;
    QTest::addRow("non-ASCII") << u"na\u00efve \u20ac \u4e2d\u6587 \U0001F600.txt"_s;
    QTest::addRow("spaces and non-ASCII") << u" \u00e9t\u00e9 "_s;
}

void TestSafeSave::unusualNamesRoundTrip()
{
    QFETCH(QString, name);
    const QString full = path(name);

    EditorFixture f;
    f.start();
    f.text().setText(u"kept, exactly"_s);
    f.form.Text1_KeyPress(u'y');
    f.dialog.fileAnswers = { full, full };
    f.form.File_Save_Click();
    QVERIFY2(f.messageBoxes.calls.isEmpty(), qPrintable(f.messageBoxes.calls.value(0).prompt));
    QCOMPARE(entries(m_folder->path()), QStringList { name });
    QCOMPARE(f.window.caption(), u"Quorvex - "_s + full + u" File Size : 14 Bytes ]"_s);

    f.form.File_Open_Click();
    QVERIFY(f.messageBoxes.calls.isEmpty());
    QCOMPARE(f.text().text(), u"kept, exactly\r\n"_s);
    QCOMPARE(f.form.currentFile(), full);
    QCOMPARE(f.window.caption(), u"Quorvex - "_s + full + u" FileSize : 14 Bytes ]"_s);
}

QTEST_MAIN(TestSafeSave)
#include "tst_safesave.moc"
