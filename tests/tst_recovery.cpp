// The recovery journal: the text back after a crash at any moment or damage, a private folder,
// and the editor offering what an earlier run left.
#include "editorfixture.h"
#include "files.h"
#include "journalformat.h"
#include "journalreader.h"
#include "journalwriter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// The sync interval here, and the age of a change sure to survive a kill (scaled down, with room).
constexpr int TestSync = 50;
constexpr qint64 SurvivesAfter = 1000;

// Random edits, the same for a seed; plain leaves out undo, redo and Replace All, which make more
// than one record or a new journal.
class EditScript
{
public:
    explicit EditScript(quint32 seed, bool plain = false) : m_random(seed), m_plain(plain) { }

    void play(QtTextArea &area)
    {
        area.setSelStart(m_random.bounded(int(area.textLength() + 1)));
        const int kind = m_random.bounded(m_plain ? 8 : 12);
        if (kind < 4) {
            area.setSelText(QStringList { u"word "_s, u"é"_s, u"\U0001F600"_s, u"\r\n"_s }[kind]);
        } else if (kind < 6) {
            area.setSelLength(m_random.bounded(40));
            area.setSelText(QString());
        } else if (kind < 8) {
            area.setSelText(u"pasted, with a comma and é \U0001F600\r\n"_s.repeated(200));
        } else if (kind < 10) {
            area.undo();
        } else if (kind < 11) {
            area.redo();
        } else {
            const bool toZero = m_random.bounded(2);
            area.replaceAll({ toZero ? u"o"_s : u"0"_s, true }, toZero ? u"0"_s : u"o"_s);
        }
    }

private:
    QRandomGenerator m_random;
    bool m_plain;
};

QStringList journalFiles(const QString &folder)
{
    return QDir(folder + u"/quorvex"_s).entryList({ u"journal-*"_s }, QDir::Files);
}

// A journal of a few plain edits (each a change of the text) as its bytes, and the text after
// the base and after each edit.
struct Recorded
{
    QByteArray bytes;
    QStringList texts;
};

Recorded recordJournal(const QString &path, int edits, const JournalFile &file = {})
{
    Recorded recorded;
    QTemporaryDir state;
    PosixStateFolder folder(state.path());
    QtTextArea area;
    QtRecoveryJournal journal(folder, area);
    journal.settle(path, file);
    EditScript script(7, true);
    QString last = area.text();
    while (recorded.texts.size() < edits) {
        script.play(area);
        if (area.text() != last) {
            last = area.text();
            recorded.texts.append(last);
        }
    }
    journal.flush();
    const QStringList files = journalFiles(state.path());
    if (files.size() == 1)
        recorded.bytes = fileBytes(state.path() + u"/quorvex/"_s + files.first());
    return recorded;
}

// Where each record of a journal ends.
QList<qsizetype> recordEnds(const QByteArray &bytes)
{
    QList<qsizetype> ends;
    for (qsizetype at = 0; at + JournalFormat::HeadBytes <= bytes.size();) {
        at += JournalFormat::HeadBytes + JournalFormat::TailBytes
            + qsizetype(JournalFormat::readNumber(bytes.constData() + at + 4, 8));
        ends.append(at);
    }
    return ends;
}

// A journal a program that ended left, in the state folder under base.
void leaveJournal(const QString &base, const QByteArray &bytes)
{
    QDir().mkpath(base + u"/quorvex"_s);
    QFile::setPermissions(base + u"/quorvex"_s, QFileDevice::Permissions(0x7700));
    writeBytes(base + u"/quorvex/journal-0123456789abcdef-1"_s, bytes);
}

// What reading the journal gives: the text and what it says of itself.
struct Read
{
    JournalContents contents;
    QString text;
};

Read readBack(const QString &base)
{
    Read read;
    PosixStateFolder folder(base);
    std::unique_ptr<StateFile> file = folder.claim(u"journal-0123456789abcdef-1"_s);
    if (!file)
        return read;
    QByteArray baseBytes;
    read.contents = readJournal(
        *file, 1 << 30, 1 << 30, [&](QByteArrayView piece) { baseBytes += piece; },
        [&](const JournalEdit &edit) {
            if (read.text.isNull())
                read.text = QString::fromUtf8(baseBytes);
            read.text.replace(edit.position, edit.removed, QString::fromUtf8(edit.inserted));
        });
    if (read.text.isNull())
        read.text = QString::fromUtf8(baseBytes);
    return read;
}

// ----- the child that is killed -----

int playUntilKilled(const QString &base, quint32 seed)
{
    JournalWriter::setSyncInterval(TestSync);
    PosixStateFolder folder(base);
    QtTextArea area;
    QtRecoveryJournal journal(folder, area);
    EditScript script(seed);
    QTextStream out(stdout);
    for (int edit = 1;; ++edit) {
        script.play(area);
        out << edit << Qt::endl;
        QThread::msleep(3);
    }
}

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { JournalWriter::setSyncInterval(TestSync); }
    void killedAtAnyMomentRecoversAPrefix();
    void textIsCheckedAsUtf8_data();
    void textIsCheckedAsUtf8();
    void damagedJournalGivesItsLastGoodText_data();
    void damagedJournalGivesItsLastGoodText();
    void folderIsPrivateAndNeverALink_data();
    void folderIsPrivateAndNeverALink();
    void failureIsToldOnceAndTheJournalTriedAgain();
    void liveJournalIsNotOffered();
    void startOffersWhatWasLeft_data();
    void startOffersWhatWasLeft();
    void saveAfterRecoveryAsksWhenTheFileChanged_data();
    void saveAfterRecoveryAsksWhenTheFileChanged();
    void journalGoesWhenTheTextIsSafe_data();
    void journalGoesWhenTheTextIsSafe();
};

// A child killed at a random moment: the text recovered is that after a prefix of its edits,
// holding every edit told more than the survival time before the kill.
void TestRecovery::killedAtAnyMomentRecoversAPrefix()
{
    QRandomGenerator random(20261207);
    for (quint32 seed = 1; seed <= 50; ++seed) {
        QTemporaryDir state;
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    { u"--play"_s, state.path(), QString::number(seed) });
        QVERIFY(child.waitForStarted());
        QElapsedTimer clock;
        clock.start();
        QList<qint64> toldAt { 0 }; // when each edit was told, on the clock
        const qint64 killAt = 100 + random.bounded(1200);
        while (clock.elapsed() < killAt) {
            child.waitForReadyRead(int(std::max<qint64>(1, killAt - clock.elapsed())));
            while (child.canReadLine()) {
                child.readLine();
                toldAt.append(clock.elapsed());
            }
        }
        child.kill();
        QVERIFY(child.waitForFinished());
        while (child.canReadLine()) {
            child.readLine();
            toldAt.append(clock.elapsed());
        }
        const qint64 killed = clock.elapsed();

        // The texts after each prefix of the edits told.
        QtTextArea model;
        EditScript script(seed);
        QStringList texts { model.text() };
        for (qsizetype edit = 1; edit < toldAt.size() + 1; ++edit) {
            script.play(model);
            texts.append(model.text());
        }
        QtTextArea area;
        PosixStateFolder folder(state.path());
        QtRecoveryJournal journal(folder, area);
        if (journal.findLeftOver())
            journal.recoverLeftOver();
        qsizetype survived = 0;
        while (survived + 1 < toldAt.size() && toldAt[survived + 1] < killed - SurvivesAfter)
            ++survived;
        const qsizetype prefix = texts.lastIndexOf(area.text());
        QVERIFY2(
            prefix >= survived,
            qPrintable(u"seed %1: the text of edit %2 of %3, %4 should have survived"_s.arg(seed)
                           .arg(prefix)
                           .arg(toldAt.size() - 1)
                           .arg(survived)));
    }
}

void TestRecovery::textIsCheckedAsUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("units"); // -1: not valid
    const QByteArray ascii(40, 'a');
    QTest::addRow("ASCII past a vector step") << ascii << qint64(40);
    QTest::addRow("two, three and four bytes")
        << (ascii + "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80") << qint64(44);
    QTest::addRow("a lone continuation byte") << (ascii + "\x80") << qint64(-1);
    QTest::addRow("an overlong slash") << QByteArray("\xc0\xaf") << qint64(-1);
    QTest::addRow("an overlong three bytes") << QByteArray("\xe0\x80\xaf") << qint64(-1);
    QTest::addRow("a surrogate") << QByteArray("\xed\xa0\x80") << qint64(-1);
    QTest::addRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << qint64(-1);
    QTest::addRow("cut inside a character") << (ascii + "\xe2\x82") << qint64(-1);
}

// Every way of cutting the text in two pieces gives the same answer.
void TestRecovery::textIsCheckedAsUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, units);
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
        JournalFormat::Utf8Check check;
        check.add(QByteArrayView(bytes).first(cut));
        check.add(QByteArrayView(bytes).sliced(cut));
        QCOMPARE(check.finish(), units >= 0);
        if (units >= 0)
            QCOMPARE(check.units(), units);
    }
}

void TestRecovery::damagedJournalGivesItsLastGoodText_data()
{
    QTest::addColumn<QString>("damage"); // cut, flip, length or version
    QTest::addColumn<int>("record"); // the record damaged, from 0 (the header)
    const int records = 3 + 6;
    for (int record = 0; record < records; ++record) {
        QTest::addRow("record %d cut at each byte", record) << u"cut"_s << record;
        QTest::addRow("record %d with a byte changed", record) << u"flip"_s << record;
    }
    QTest::addRow("an edit claiming a huge length") << u"length"_s << 5;
    QTest::addRow("a base claiming a huge length") << u"length"_s << 2;
    QTest::addRow("a newer format") << u"version"_s << 0;
}

// The base and each edit are records: damage to one leaves the text of the records before it,
// and nothing when it is one of the first three (header, file, base).
void TestRecovery::damagedJournalGivesItsLastGoodText()
{
    QFETCH(QString, damage);
    QFETCH(int, record);
    const Recorded recorded = recordJournal(u"/home/user/notes.txt"_s, 7);
    const QList<qsizetype> ends = recordEnds(recorded.bytes);
    QCOMPARE(ends.size(), 3 + 6); // the first edit starts the journal as its base
    QCOMPARE(ends.last(), recorded.bytes.size());
    const qsizetype start = record == 0 ? 0 : ends[record - 1];
    QList<QByteArray> damaged;
    if (damage == u"cut") {
        // Every byte of the last records; a few of the earlier ones, which are long.
        const qsizetype step = record >= 6 ? 1 : std::max<qsizetype>(1, (ends[record] - start) / 7);
        for (qsizetype cut = start + 1; cut < ends[record]; cut += step)
            damaged.append(recorded.bytes.left(cut));
    } else {
        QByteArray bytes = recorded.bytes;
        if (damage == u"flip")
            bytes[(start + ends[record]) / 2] = char(bytes[(start + ends[record]) / 2] ^ 0x20);
        else if (damage == u"length")
            bytes.replace(start + 4, 8, QByteArray::fromHex("0000000000000040"));
        else
            bytes[start + JournalFormat::HeadBytes] = char(JournalFormat::Version + 1);
        damaged.append(bytes);
    }
    for (const QByteArray &bytes : std::as_const(damaged)) {
        QTemporaryDir state;
        leaveJournal(state.path(), bytes);
        const Read read = readBack(state.path());
        QVERIFY(!read.contents.complete);
        QCOMPARE(read.contents.usable, record >= 3);
        if (record < 3)
            continue;
        QCOMPARE(read.contents.edits, record - 3);
        QCOMPARE(read.text, recorded.texts.at(record - 3));
        QCOMPARE(read.contents.path, u"/home/user/notes.txt"_s);
    }
}

void TestRecovery::folderIsPrivateAndNeverALink_data()
{
    QTest::addColumn<QString>("folder"); // what stands where the folder goes
    QTest::addColumn<int>("failure");
    QTest::addRow("none yet") << u"none"_s << 0;
    QTest::addRow("one open to all") << u"open"_s << 0;
    QTest::addRow("a link to a folder") << u"link"_s << int(FailureNumber::PermissionDenied);
    QTest::addRow("another user's") << u"other"_s << int(FailureNumber::PermissionDenied);
    QTest::addRow("a file") << u"file"_s << int(FailureNumber::PermissionDenied);
}

void TestRecovery::folderIsPrivateAndNeverALink()
{
    QFETCH(QString, folder);
    QFETCH(int, failure);
    QTemporaryDir base;
    const QString path = base.filePath(u"quorvex"_s);
    if (folder == u"open") {
        QVERIFY(QDir().mkdir(path));
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions(0x7777)));
    } else if (folder == u"link") {
        QVERIFY(QDir().mkdir(base.filePath(u"elsewhere"_s)));
        QVERIFY(QFile::link(base.filePath(u"elsewhere"_s), path));
    } else if (folder == u"other") {
        if (::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QVERIFY(QDir().mkdir(path));
        QCOMPARE(::chown(encoded(path).constData(), 65534, 65534), 0);
    } else if (folder == u"file") {
        writeBytes(path, "not a folder");
    }
    PosixStateFolder state(base.path());
    std::unique_ptr<StateFile> file;
    QCOMPARE(failureOf([&] { file = state.create(u"journal-0123456789abcdef-1"_s); }), failure);
    if (failure != 0) {
        QVERIFY(entries(base.filePath(u"elsewhere"_s)).isEmpty());
        return;
    }
    struct stat info;
    QCOMPARE(::lstat(encoded(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, 0700u);
    QCOMPARE(::stat(encoded(path + u"/journal-0123456789abcdef-1"_s).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, 0600u);
    // A FIFO or a folder under a journal's name is never read.
    QCOMPARE(::mkfifo(encoded(path + u"/journal-00000000000000ff-1"_s).constData(), 0600), 0);
    QVERIFY(QDir().mkdir(path + u"/journal-00000000000000fe-1"_s));
    QtTextArea area;
    QtRecoveryJournal journal(state, area);
    QVERIFY(!journal.findLeftOver());
}

// A journal that cannot be written is told once, however many changes follow; once the folder
// can be written again, a later change starts a new journal.
void TestRecovery::failureIsToldOnceAndTheJournalTriedAgain()
{
    QTemporaryDir base;
    const QString blocked = base.filePath(u"state"_s);
    writeBytes(blocked, "a file where the folder should be");
    PosixStateFolder folder(blocked);
    QtTextArea area;
    QtRecoveryJournal journal(folder, area);
    QList<Failure> told;
    journal.setFailureHandler([&](const Failure &failure) { told.append(failure); });
    for (int key = 0; key < 20; ++key) {
        area.setSelText(u"x"_s);
        journal.flush();
        QCoreApplication::processEvents();
    }
    QCOMPARE(told.size(), 1);
    QCOMPARE(told.first().number(), int(FailureNumber::PathNotFound));
    QVERIFY(told.first().description().contains(u"not protected"_s));
    QVERIFY(QFile::remove(blocked));
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            area.setSelText(u"y"_s);
            journal.flush();
            return !journalFiles(blocked).isEmpty();
        }(),
        5000);
    QCOMPARE(told.size(), 1);
}

// Two programs at once: neither offers the other's journal while it runs.
void TestRecovery::liveJournalIsNotOffered()
{
    QTemporaryDir state;
    PosixStateFolder folder(state.path());
    QtTextArea first;
    QtRecoveryJournal running(folder, first);
    first.setSelText(u"typed in the first"_s);
    running.flush();
    QCOMPARE(journalFiles(state.path()).size(), 1);
    PosixStateFolder sameFolder(state.path());
    QtTextArea second;
    QtRecoveryJournal starting(sameFolder, second);
    QVERIFY(!starting.findLeftOver());
}

void TestRecovery::startOffersWhatWasLeft_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<int>("answer");
    const QString file = u"/home/user/notes, draft.txt"_s;
    QTest::addRow("a file's text, Yes") << file << false << int(MessageBoxes::Yes);
    QTest::addRow("a new document's text, Yes") << QString() << false << int(MessageBoxes::Yes);
    QTest::addRow("a text cut short, Yes") << file << true << int(MessageBoxes::Yes);
    QTest::addRow("No") << file << false << int(MessageBoxes::No);
    QTest::addRow("Cancel") << QString() << false << int(MessageBoxes::Cancel);
}

void TestRecovery::startOffersWhatWasLeft()
{
    QFETCH(QString, path);
    QFETCH(bool, cut);
    QFETCH(int, answer);
    const Recorded recorded = recordJournal(path, 4);
    EditorFixture editor;
    const QByteArray left = cut ? recorded.bytes.chopped(3) : recorded.bytes;
    leaveJournal(editor.stateHome.path(), left);
    editor.messageBoxes.replies = { answer };
    editor.start();
    QTRY_COMPARE(editor.messageBoxes.calls.size(), 1);
    const ScriptedMessageBoxes::Call asked = editor.messageBoxes.calls.first();
    QCOMPARE(asked.prompt,
             u"The text of %1 was not saved when Quorvex last closed. %2"_s.arg(
                 path.isEmpty() ? u"a new document"_s : path,
                 cut ? u"Recover what could be read?"_s : u"Recover it?"_s));
    QCOMPARE(asked.style, MessageBoxes::YesNoCancel + MessageBoxes::Question);
    QCOMPARE(asked.title, u"Quorvex"_s);
    const QString expected = recorded.texts.at(cut ? 2 : 3);
    if (answer == MessageBoxes::Yes) {
        QCOMPARE(editor.text().text(), expected);
        QCOMPARE(editor.form.currentFile(), path);
        QVERIFY(editor.form.textChanged());
        QCOMPARE(editor.form.fileSize(), expected.size() + 1);
        QCOMPARE(editor.window.caption(),
                 path.isEmpty()
                     ? u"Quorvex - Blank.txt"_s
                     : u"Quorvex - %1 FileSize : %2 Bytes ]"_s.arg(path).arg(expected.size() + 1));
        // The journal goes on as this document's: the left one is replaced by a new one.
        editor.text().setSelStart(0);
        editor.text().setSelText(u"more "_s);
        editor.journal.flush();
        const QStringList files = journalFiles(editor.stateHome.path());
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first() != u"journal-0123456789abcdef-1"_s);
        return;
    }
    QCOMPARE(editor.text().text(), QString());
    QVERIFY(!editor.form.textChanged());
    QCOMPARE(journalFiles(editor.stateHome.path()).size(), answer == MessageBoxes::Cancel ? 1 : 0);
    if (answer == MessageBoxes::Cancel)
        QCOMPARE(fileBytes(editor.stateHome.path() + u"/quorvex/journal-0123456789abcdef-1"_s),
                 left);
}

void TestRecovery::saveAfterRecoveryAsksWhenTheFileChanged_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<bool>("asked");
    QTest::addRow("file as it was") << u"nothing"_s << false;
    QTest::addRow("file changed by another program") << u"changed"_s << true;
    QTest::addRow("file deleted") << u"deleted"_s << false;
}

// The journal keeps the stamp the file had, so Save after a recovery asks about a change made
// since the crash, as it does for one made since Open; and its encoding, which Save keeps.
void TestRecovery::saveAfterRecoveryAsksWhenTheFileChanged()
{
    QFETCH(QString, meanwhile);
    QFETCH(bool, asked);
    QTemporaryDir docs;
    const QString file = docs.filePath(u"notes.txt"_s);
    writeBytes(file, "\"hello\"\r\n");
    const Recorded recorded = recordJournal(
        file, 2, { QtSequentialFiles().fileStamp(file), TextEncoding::Utf8WithBom });
    if (meanwhile == u"changed")
        writeBytes(file, "\"other bytes\"\r\n");
    else if (meanwhile == u"deleted")
        QVERIFY(QFile::remove(file));
    const QByteArray before = fileBytes(file);
    EditorFixture editor;
    leaveJournal(editor.stateHome.path(), recorded.bytes);
    editor.messageBoxes.replies = { MessageBoxes::Yes, MessageBoxes::No };
    editor.start();
    QTRY_COMPARE(editor.messageBoxes.calls.size(), 1);
    QCOMPARE(editor.form.fileEncoding(), TextEncoding::Utf8WithBom);
    editor.form.File_Save_Click();
    QCOMPARE(editor.messageBoxes.calls.size(), asked ? 2 : 1);
    if (asked) {
        QVERIFY(editor.messageBoxes.calls.last().prompt.contains(u"changed by another program"_s));
        QCOMPARE(fileBytes(file), before);
        QVERIFY(editor.form.textChanged());
    } else {
        QCOMPARE(fileBytes(file), "\xef\xbb\xbf\"" + recorded.texts.last().toUtf8() + "\"\r\n");
        QVERIFY(!editor.form.textChanged());
    }
}

void TestRecovery::journalGoesWhenTheTextIsSafe_data()
{
    QTest::addColumn<QString>("command");
    QTest::addRow("Save") << u"save"_s;
    QTest::addRow("New, its changes dropped") << u"new"_s;
    QTest::addRow("Open, its changes dropped") << u"open"_s;
}

void TestRecovery::journalGoesWhenTheTextIsSafe()
{
    QFETCH(QString, command);
    QTemporaryDir docs;
    const QString file = docs.filePath(u"notes.txt"_s);
    writeBytes(file, "\"on disk\"\r\n");
    EditorFixture editor;
    editor.start();
    QTest::keyClicks(&editor.text(), u"typed"_s);
    editor.journal.flush();
    QCOMPARE(journalFiles(editor.stateHome.path()).size(), 1);
    editor.messageBoxes.replies = { MessageBoxes::Yes };
    editor.dialog.fileAnswers = { file };
    command == u"save"      ? editor.form.File_Save_Click()
        : command == u"new" ? editor.form.File_New_Click()
                            : editor.form.File_Open_Click();
    QVERIFY(!editor.form.textChanged());
    editor.journal.flush();
    QCOMPARE(journalFiles(editor.stateHome.path()), QStringList());
    // The next change starts a journal again.
    editor.text().setSelText(u"again"_s);
    editor.journal.flush();
    QCOMPARE(journalFiles(editor.stateHome.path()).size(), 1);
}

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--play") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return playUntilKilled(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toUInt());
    }
    QApplication app(argc, argv);
    TestRecovery test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recovery.moc"
