// Long Open, Save and Replace All show their share, and Escape stops them losing nothing: the
// file on disk, the text read so far, the text before Replace All.
#include "editorfixture.h"
#include "files.h"
#include "textbuffer.h"

#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Lines of words, one item each: about 4 MB, four reads of the file.
QString longText()
{
    QString text;
    for (int line = 0; line < 60'000; ++line)
        text += u"line %1 of words that fill the file up to its size\r\n"_s.arg(line, 6);
    return text;
}

// Plays the user: watches the window's progress strip and presses Escape once it shows the
// share given (never when negative). Records every share shown.
struct EscapeAt
{
    EscapeAt(EditorFixture &f, int percent) : f(f)
    {
        // Every slice takes events and shows its share, so that the test decides where it stops.
        f.files.setPace({ 0ms, 0ms, 0ms });
        f.text().setPace({ 0ms, 0ms, 0ms });
        f.window.showProgress(0);
        f.window.hideProgress();
        bar = f.window.findChild<QProgressBar *>(f.window.objectName() + u"_Progress"_s);
        if (!bar)
            qFatal("the window has no progress strip");
        QObject::connect(bar, &QProgressBar::valueChanged, bar, [this, percent](int value) {
            shares.append(value);
            shownWhileWorking = shownWhileWorking && bar->isVisible();
            if (percent >= 0 && value >= percent && !pressed) {
                pressed = true;
                QTest::keyClick(&this->f.text(), Qt::Key_Escape);
            }
        });
    }

    // Shown while working, never going back nor past the end, hidden at the end.
    bool shownRight() const
    {
        return !shares.isEmpty() && shownWhileWorking
            && std::is_sorted(shares.begin(), shares.end()) && shares.last() <= 100
            && bar->isHidden();
    }

    EditorFixture &f;
    QProgressBar *bar = nullptr;
    QList<int> shares;
    bool shownWhileWorking = true;
    bool pressed = false;
};

QString described(const QList<ScriptedMessageBoxes::Call> &calls)
{
    QStringList shown;
    for (const auto &call : calls)
        shown.append(call.title + u": "_s + call.prompt);
    return shown.join(u" | "_s);
}

// One failure box, numbered as a stop by the user, naming the file.
bool reportedStop(const QList<ScriptedMessageBoxes::Call> &calls, const QString &path)
{
    return calls.size() == 1 && calls[0].title == u"18"_s
        && calls[0].prompt.startsWith(u"User interrupt occurred: "_s)
        && calls[0].prompt.contains(QDir::toNativeSeparators(path));
}

} // namespace

class TestProgress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void escapeStopsOpen_data();
    void escapeStopsOpen();
    void escapeStopsSave_data();
    void escapeStopsSave();
    void replaceAllShowsItsShare_data();
    void replaceAllShowsItsShare();
};

void TestProgress::escapeStopsOpen_data()
{
    QTest::addColumn<int>("escapeAt"); // share at which Escape is pressed; -1 never
    QTest::addColumn<bool>("textKept"); // some of the file's text was handed over before it

    // The file is read once: the items of the reads before the first share shown stay.
    QTest::addRow("Escape at the first share") << 0 << true;
    QTest::addRow("Escape half way through the items") << 75 << true;
    QTest::addRow("no Escape: the Open ends") << -1 << true;
}

void TestProgress::escapeStopsOpen()
{
    QFETCH(int, escapeAt);
    QFETCH(bool, textKept);

    QTemporaryDir folder;
    const QString path = folder.filePath(u"long.txt"_s);
    const QString text = longText();
    writeBytes(path, text.toUtf8());
    EditorFixture f;
    f.start();
    f.text().setText(u"earlier document"_s);
    EscapeAt user(f, escapeAt);
    f.dialog.fileAnswers = { path };

    f.form.File_Open_Click();

    const bool stopped = escapeAt >= 0;
    QVERIFY2(user.shownRight(), qPrintable(QString::number(user.shares.size())));
    QCOMPARE(user.pressed, stopped);
    const QString shown = f.text().text();
    QCOMPARE(!shown.isEmpty(), textKept);
    QVERIFY2(text.startsWith(shown), "the text kept is not what the file begins with");
    QVERIFY(f.text().textLength() > 0 || !textKept);
    QCOMPARE(shown.size() < text.size(), stopped);
    if (!stopped) {
        QCOMPARE(f.messageBoxes.calls.size(), 0);
        QCOMPARE(f.form.currentFile(), path);
        return;
    }
    // The failed-Open state: the text belongs to no file, and nothing asks to save it.
    QVERIFY2(reportedStop(f.messageBoxes.calls, path), qPrintable(described(f.messageBoxes.calls)));
    QCOMPARE(f.form.currentFile(), QString());
    QVERIFY(!f.form.textChanged());
    QCOMPARE(f.window.caption(), u"Quorvex : Reading the file %1..."_s.arg(path));
    QCOMPARE(fileBytes(path), text.toUtf8());
    // The number was given back: the next Open runs.
    f.files.setPace({});
    f.dialog.fileAnswers = { path };
    f.form.File_Open_Click();
    QCOMPARE(f.form.currentFile(), path);
    QCOMPARE(f.text().textLength(), text.size());
}

void TestProgress::escapeStopsSave_data()
{
    QTest::addColumn<bool>("saveAs"); // to a new file rather than over the document's own
    QTest::addColumn<int>("escapeAt");

    QTest::addRow("Save, Escape at once") << false << 0;
    QTest::addRow("Save, Escape half way") << false << 50;
    QTest::addRow("Save As a new file, Escape half way") << true << 50;
    QTest::addRow("Save, no Escape") << false << -1;
}

void TestProgress::escapeStopsSave()
{
    QFETCH(bool, saveAs);
    QFETCH(int, escapeAt);

    QTemporaryDir folder;
    const QString path = folder.filePath(u"doc.txt"_s);
    const QString target = saveAs ? folder.filePath(u"new.txt"_s) : path;
    const QByteArray before = "\"short\"\r\n"_ba;
    writeBytes(path, before);
    EditorFixture f;
    f.start();
    f.dialog.fileAnswers = { path };
    f.form.File_Open_Click();
    QCOMPARE(f.form.currentFile(), path);
    const QString text = longText() + u"é and 😀 cost more bytes than characters"_s;
    f.text().setText(text);
    f.form.Text1_KeyPress(qint16('x'));
    QVERIFY(f.form.textChanged());
    const QString captionBefore = f.window.caption();
    const QStringList entriesBefore = QDir(folder.path()).entryList(QDir::Files);
    EscapeAt user(f, escapeAt);

    if (saveAs) {
        f.dialog.fileAnswers = { target };
        f.form.File_Save_As_Click();
    } else {
        f.form.File_Save_Click();
    }

    QVERIFY2(user.shownRight(), qPrintable(QString::number(user.shares.size())));
    if (escapeAt < 0) {
        // The share follows what was handed over of the whole, and so reaches the end.
        QVERIFY2(user.shares.last() >= 95, qPrintable(QString::number(user.shares.last())));
        QCOMPARE(f.messageBoxes.calls.size(), 0);
        QVERIFY(!f.form.textChanged());
        QCOMPARE(fileBytes(path).size(), f.text().text().toUtf8().size() + 4);
        return;
    }
    QVERIFY2(reportedStop(f.messageBoxes.calls, target),
             qPrintable(described(f.messageBoxes.calls)));
    // Nothing on disk changed, nothing was left beside the file, and the document still holds
    // its changes under its own name.
    QCOMPARE(fileBytes(path), before);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), entriesBefore);
    QVERIFY(f.form.textChanged());
    QCOMPARE(f.form.currentFile(), path);
    QCOMPARE(f.window.caption(), captionBefore);
    QVERIFY(f.text().text().startsWith(text));
}

void TestProgress::replaceAllShowsItsShare_data()
{
    QTest::addColumn<bool>("expression");
    QTest::addColumn<int>("escapeAt");

    QTest::addRow("plain, Escape at the first share") << false << 0;
    QTest::addRow("plain, no Escape") << false << -1;
    QTest::addRow("expression, Escape at the first share") << true << 0;
    QTest::addRow("expression, no Escape") << true << -1;
}

// One bar for the whole of it: the search's share first, while the text is as it was, then the
// walk's as the new text is made, each slice of it shown.
void TestProgress::replaceAllShowsItsShare()
{
    QFETCH(bool, expression);
    QFETCH(int, escapeAt);

    // Three slices of the search, and many of the walk.
    const QString text = u"fields, and more of them\r\n"_s.repeated(800'000);
    TextBuffer::setRewriteSlice(256 * 1024);
    EditorFixture f;
    f.start();
    f.text().setText(text);
    EscapeAt user(f, escapeAt);
    QList<bool> changedWhenShown;
    QObject::connect(user.bar, &QProgressBar::valueChanged, user.bar,
                     [&] { changedWhenShown.append(f.text().textLength() != text.size()); });

    const qint64 count
        = f.text().replaceAll({ expression ? u"an(d)"_s : u"and"_s, true, false, expression },
                              expression ? u"plus\\1"_s : u"plus"_s);
    TextBuffer::setRewriteSlice(0);

    QVERIFY2(user.shownRight(), qPrintable(QString::number(user.shares.size())));
    if (escapeAt >= 0) {
        QCOMPARE(count, -1);
        QVERIFY(!changedWhenShown.contains(true));
        QVERIFY(f.text().text() == text);
        return;
    }
    QCOMPARE(count, 800'000);
    QVERIFY(f.text().text()
            == QString(text).replace(u"and"_s, expression ? u"plusd"_s : u"plus"_s));
    // Shares came from the search and from the walk, and the last is near the end.
    QVERIFY(changedWhenShown.contains(false));
    QVERIFY(changedWhenShown.count(true) >= 2);
    QVERIFY2(user.shares.last() >= 95, qPrintable(QString::number(user.shares.last())));
}

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
