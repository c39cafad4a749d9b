// Times the editor on large files: the real window, text box, files and clipboard on the
// offscreen platform, with the file dialogs and message boxes answered by a script.
//
//   bench_editor [--runs N] [--dir FOLDER] [--no-startup]
//                [--only 1mb,10mb,100mb,line10mb,csv10mb,csv100mb]
//
// Each file is measured in a child process of its own, so its peak memory is its own.
#include "commondialog.h"
#include "form1.h"
#include "generatedfields.h"
#include "posixstatefolder.h"
#include "qtform.h"
#include "qtrecoveryjournal.h"
#include "qtsequentialfiles.h"
#include "qtservices.h"
#include "qttextarea.h"
#include "services.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

class AnswerYes : public MessageBoxes
{
public:
    int msgBox(const QString &prompt, int style, const QString &title) override
    {
        if ((style & 0x70) == Information)
            std::fprintf(stderr, "message box: %s (%s)\n", qPrintable(prompt), qPrintable(title));
        return Yes;
    }
};

class ScriptedFileDialog : public CommonDialog
{
public:
    void showOpen() override { setFileName(answer); }
    void showSave() override { setFileName(answer); }
    void showFont() override { }
    QString answer;
};

struct Figures
{
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    double quantile(double q) const
    {
        if (values.empty())
            return 0;
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const auto index = size_t(q * double(sorted.size() - 1) + 0.5);
        return sorted[std::min(index, sorted.size() - 1)];
    }
    double median() const { return quantile(0.5); }
    double max() const
    {
        return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    }
};

double msSince(const QElapsedTimer &timer) { return double(timer.nsecsElapsed()) / 1e6; }

// Peak resident memory since the last reset, in MB.
double peakRssMb()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

void resetPeakRss()
{
    QFile clearRefs(u"/proc/self/clear_refs"_s);
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

// ----- the files -----

QByteArray generatedLines(qint64 size)
{
    static const char *const words[]
        = { "alpha",  "river",  "stone",  "quiet", "lantern", "north",   "copper", "meadow",
            "signal", "harbor", "velvet", "ember", "orbit",   "thistle", "cobalt", "willow" };
    QRandomGenerator random(7);
    QByteArray out;
    out.reserve(size + 256);
    while (out.size() < size) {
        int lineLength = 0;
        const int target = 80 + int(random.bounded(41));
        const bool withComma = random.bounded(4) == 0;
        while (lineLength < target) {
            const char *word = words[random.bounded(16)];
            out += word;
            lineLength += int(qstrlen(word));
            if (withComma && lineLength > target / 2 && lineLength < target / 2 + 8)
                out += ',';
            out += ' ';
            ++lineLength;
        }
        out += "\r\n";
    }
    return out;
}

QByteArray generatedSingleLine(qint64 size)
{
    QByteArray out = generatedLines(size);
    out.replace("\r\n", " ");
    out.replace(',', ' ');
    return out.left(size);
}

QString prepareFile(const QString &folder, const QString &kind)
{
    const QString path = folder + u'/' + kind + u".txt"_s;
    if (QFile::exists(path))
        return path;
    QByteArray bytes;
    if (kind == u"1mb")
        bytes = generatedLines(1'000'000);
    else if (kind == u"10mb")
        bytes = generatedLines(10'000'000);
    else if (kind == u"100mb")
        bytes = generatedLines(100'000'000);
    else if (kind == u"csv10mb")
        bytes = generatedFields(10'000'000);
    else if (kind == u"csv100mb")
        bytes = generatedFields(100'000'000);
    else
        bytes = generatedSingleLine(10'000'000);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// ----- one file, in a child process -----

// Every figure of one file, keyed by the name the parent reads back.
using Samples = std::map<QString, Figures>;

// A multi-line text of about a megabyte, for the paste in the middle.
QString pastedText()
{
    QString text;
    for (int line = 0; text.size() < 1'000'000; ++line)
        text += u"pasted line %1, with a comma\r\n"_s.arg(line);
    return text;
}

class Scenario
{
public:
    Scenario(const QString &path, const QString &folder)
        : m_path(path), m_savePath(folder + u"/saved.txt"_s), m_window(m_messageBoxes),
          m_stateFolder(folder + u"/state"_s), m_journal(m_stateFolder, m_window.textBox()),
          m_form({ m_window, m_window.textBox(), m_dialog, m_clipboard, m_screen, m_messageBoxes,
                   m_files, m_window.findDialog(), m_numberInput, m_journal }),
          m_text(m_window.textBox())
    {
        m_window.start(m_form.design());
        if (!QTest::qWaitForWindowExposed(&m_window))
            qFatal("the window was not shown");
    }
    ~Scenario() { QFile::remove(m_savePath); }

    void run(Samples &samples)
    {
        // Every run starts from an empty text, so the last run's document is not in its peak.
        m_text.setText(QString());
        readFloor(samples);
        open(samples);
        saveAs(samples);
        m_text.setFocus();
        keysAtTop(samples[u"key_top_ms"_s], Qt::Key_A);
        keysAtTop(samples[u"return_top_ms"_s], Qt::Key_Return);
        undoTypedWord(samples[u"undo_word_ms"_s]);
        jumpAndType(samples[u"jump_type_ms"_s]);
        pasteInMiddle(samples[u"paste_1mb_ms"_s]);
        pageDown(samples[u"page_down_ms"_s]);
        deleteAllAndUndo(samples);
        selectAllAndCopy(samples[u"select_all_copy_ms"_s]);
    }

private:
    // Times one piece of work followed by a repaint of the text, as the user would see it.
    template<typename Work>
    double timed(Work work)
    {
        QElapsedTimer timer;
        timer.start();
        work();
        m_text.viewport()->repaint();
        return msSince(timer);
    }

    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(&m_text, key, modifiers);
    }

    void readFloor(Samples &samples)
    {
        resetPeakRss();
        QElapsedTimer timer;
        timer.start();
        QFile input(m_path);
        if (!input.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(m_path));
        // The encoding the document reader uses outside Windows.
        QString decoded = QStringDecoder(QStringDecoder::Utf8).decode(input.readAll());
        samples[u"floor_ms"_s].add(msSince(timer));
        samples[u"floor_peak_rss_mb"_s].add(peakRssMb());
    }

    void open(Samples &samples)
    {
        resetPeakRss();
        m_dialog.answer = m_path;
        QElapsedTimer timer;
        timer.start();
        m_form.File_Open_Click();
        m_window.repaint();
        samples[u"open_ms"_s].add(msSince(timer));
        samples[u"peak_rss_mb"_s].add(peakRssMb());
        if (!m_window.caption().contains(u" FileSize : "_s))
            qFatal("Open did not finish: %s", qPrintable(m_window.caption()));
    }

    void saveAs(Samples &samples)
    {
        m_dialog.answer = m_savePath;
        QElapsedTimer timer;
        timer.start();
        m_form.File_Save_As_Click();
        samples[u"save_as_ms"_s].add(msSince(timer));
        if (!m_window.caption().contains(u" File Size : "_s))
            qFatal("Save As did not finish: %s", qPrintable(m_window.caption()));

        const QString all = m_text.text();
        timer.start();
        QFile out(m_savePath);
        if (!out.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(m_savePath));
        out.write(QStringEncoder(QStringEncoder::Utf8).encode(all));
        out.close();
        samples[u"write_floor_ms"_s].add(msSince(timer));
    }

    // 200 of the same key at the start of the text, where every later line moves.
    void keysAtTop(Figures &figures, Qt::Key which)
    {
        key(Qt::Key_Home, Qt::ControlModifier);
        for (int i = 0; i < 200; ++i)
            figures.add(timed([&] { key(which); }));
    }

    void undoTypedWord(Figures &figures)
    {
        for (int i = 0; i < 20; ++i) {
            key(Qt::Key_Home, Qt::ControlModifier);
            const qsizetype before = m_text.textLength();
            QTest::keyClicks(&m_text, u"word"_s);
            key(Qt::Key_Space);
            figures.add(timed([&] { key(Qt::Key_Z, Qt::ControlModifier); }));
            if (m_text.textLength() != before)
                qFatal("Undo did not take the typed word back");
        }
    }

    // The caret jumps between the two ends of the text, a letter typed at each.
    void jumpAndType(Figures &figures)
    {
        for (int i = 0; i < 100; ++i) {
            for (const Qt::Key end : { Qt::Key_End, Qt::Key_Home }) {
                figures.add(timed([&] {
                    key(end, Qt::ControlModifier);
                    key(Qt::Key_X);
                }));
            }
        }
    }

    void pasteInMiddle(Figures &figures)
    {
        QGuiApplication::clipboard()->setText(pastedText());
        m_text.setSelStart(m_text.textLength() / 2);
        figures.add(timed([&] { m_form.Edit_Paste_Click(); }));
        m_clipboard.clear();
    }

    // Pages at the top, in the middle and at the end of the text: the whole way down would take
    // hundreds of thousands of pages in the largest files.
    void pageDown(Figures &figures)
    {
        const qsizetype length = m_text.textLength();
        for (const qsizetype from :
             { qsizetype(0), length / 2, std::max<qsizetype>(0, length - 200 * 80) }) {
            m_text.setSelStart(from);
            for (int page = 0; page < 100; ++page)
                figures.add(timed([&] { key(Qt::Key_PageDown); }));
        }
    }

    void deleteAllAndUndo(Samples &samples)
    {
        resetPeakRss();
        samples[u"delete_undo_ms"_s].add(timed([&] {
            m_form.Edit_SelectAll_Click();
            key(Qt::Key_Delete);
            key(Qt::Key_Z, Qt::ControlModifier);
        }));
        samples[u"delete_undo_peak_rss_mb"_s].add(peakRssMb());
        if (m_text.textLength() == 0)
            qFatal("Undo did not bring the text back");
    }

    void selectAllAndCopy(Figures &figures)
    {
        figures.add(timed([&] {
            m_form.Edit_SelectAll_Click();
            m_form.Edit_Copy_Click();
        }));
        // Outside the timing: the copy is only turned into characters here.
        if (QGuiApplication::clipboard()->text().size() != m_text.textLength())
            qFatal("Copy did not take the whole text");
        // The copy would otherwise keep the whole text alive through the next Open.
        m_clipboard.clear();
    }

    QString m_path;
    QString m_savePath;
    AnswerYes m_messageBoxes;
    ScriptedFileDialog m_dialog;
    QtClipboard m_clipboard;
    QtScreenPointer m_screen;
    QtSequentialFiles m_files;
    QtNumberInput m_numberInput;
    QtForm m_window;
    PosixStateFolder m_stateFolder;
    QtRecoveryJournal m_journal;
    Form1 m_form;
    QtTextArea &m_text;
};

int runScenario(const QString &path, const QString &folder, int runs)
{
    Samples samples;
    {
        Scenario scenario(path, folder);
        for (int run = 0; run < runs; ++run)
            scenario.run(samples);
    }
    for (const auto &[name, figures] : samples)
        std::printf("%s %.3f %.3f %.3f\n", qPrintable(name), figures.median(), figures.max(),
                    figures.quantile(0.99));
    std::fflush(stdout);
    return 0;
}

// ----- the parent: files, children, start-up, the table -----

using Results = std::map<QString, std::vector<double>>;

Results runChild(const QString &self, const QString &path, const QString &folder, int runs)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(self,
                { u"--scenario"_s, path, u"--dir"_s, folder, u"--runs"_s, QString::number(runs) });
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        qFatal("the run on %s failed", qPrintable(path));
    Results results;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3)
            continue;
        std::vector<double> values;
        for (qsizetype i = 1; i < fields.size(); ++i)
            values.push_back(fields[i].toDouble());
        results[QString::fromLatin1(fields[0])] = values;
    }
    return results;
}

Figures startupTimes(const QString &program, int runs)
{
    Figures figures;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"QUORVEX_EXIT_AFTER_SHOW"_s, u"1"_s);
    for (int run = 0; run < runs; ++run) {
        QProcess process;
        process.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        process.start(program, {});
        if (!process.waitForFinished(30000) || process.exitCode() != 0)
            qFatal("%s did not start and quit", qPrintable(program));
        figures.add(msSince(timer));
    }
    return figures;
}

struct Row
{
    const char *label;
    const char *key;
    const char *unit;
};

const Row Rows[] = {
    { "floor: read + decode", "floor_ms", "ms" },
    { "Open", "open_ms", "ms" },
    { "floor peak RSS", "floor_peak_rss_mb", "MB" },
    { "peak RSS of Open", "peak_rss_mb", "MB" },
    { "write floor", "write_floor_ms", "ms" },
    { "Save As", "save_as_ms", "ms" },
    { "key at the top", "key_top_ms", "ms" },
    { "Return at the top", "return_top_ms", "ms" },
    { "undo of a typed word", "undo_word_ms", "ms" },
    { "Ctrl+End/Home + key", "jump_type_ms", "ms" },
    { "paste 1 MB in middle", "paste_1mb_ms", "ms" },
    { "PageDown, per page", "page_down_ms", "ms" },
    { "Select All+Del+Undo", "delete_undo_ms", "ms" },
    { "  its peak RSS", "delete_undo_peak_rss_mb", "MB" },
    { "Select All + Copy", "select_all_copy_ms", "ms" },
};

void printRow(const char *label, const std::vector<double> &values, const char *unit)
{
    std::printf("  %-24s median %9.1f %s   max %9.1f %s", label, values[0], unit, values[1], unit);
    if (values.size() > 2)
        std::printf("   p99 %7.2f %s", values[2], unit);
    std::printf("\n");
}

void printTarget(const char *what, double figure, const char *limitText, double limit)
{
    std::printf("  target %-34s %8.2f  %-10s %s\n", what, figure, limitText,
                figure <= limit ? "met" : "NOT met");
}

// The targets: Open against the floor and its peak memory for the two 100 MB files; the
// single edits, the paste and the page moves in the comma-dense one (14 M lines).
void printTargets(const QString &kind, Results &r, double fileMb)
{
    const auto median = [&r](const char *key) { return r[QString::fromLatin1(key)][0]; };
    const auto p99 = [&r](const char *key) { return r[QString::fromLatin1(key)][2]; };
    const bool dense = kind == u"csv100mb";
    if (kind == u"100mb" || dense) {
        const double limit = dense ? 3 : 2;
        printTarget("Open / floor (median)", median("open_ms") / median("floor_ms"),
                    dense ? "<= 3x" : "<= 2x", limit);
        printTarget("peak RSS of Open / file size", median("peak_rss_mb") / fileMb, "<= 2x", 2);
    }
    if (!dense)
        return;
    for (const char *key : { "key_top_ms", "return_top_ms", "undo_word_ms", "jump_type_ms" })
        printTarget(qPrintable(QString::fromLatin1(key) + u" p99"_s), p99(key), "< 2 ms", 2);
    printTarget("paste_1mb_ms (median)", median("paste_1mb_ms"), "< 20 ms", 20);
    printTarget("page_down_ms p99", p99("page_down_ms"), "< 5 ms", 5);
}

int runAll(const QString &self, const QString &folder, int runs, const QStringList &only,
           bool startup)
{
    QDir().mkpath(folder);
    const QStringList kinds
        = only.isEmpty() ? QStringList { u"1mb"_s,      u"10mb"_s,    u"100mb"_s,
                                         u"line10mb"_s, u"csv10mb"_s, u"csv100mb"_s }
                         : only;
    for (const QString &kind : kinds) {
        const QString path = prepareFile(folder, kind);
        const double fileMb = double(QFileInfo(path).size()) / 1e6;
        std::printf("%s (%.1f MB), %d runs\n", qPrintable(kind), fileMb, runs);
        std::fflush(stdout);
        Results r = runChild(self, path, folder, runs);
        for (const Row &row : Rows)
            printRow(row.label, r[QString::fromLatin1(row.key)], row.unit);
        printTargets(kind, r, fileMb);
        std::fflush(stdout);
    }
    if (startup) {
        const QString dir = QCoreApplication::applicationDirPath();
        const QString quorvex = QString::fromUtf8(QUORVEX_EXECUTABLE);
        const QString bare = dir + u"/bench_bare_window"_s;
        startupTimes(bare, 2); // warm the caches for both
        startupTimes(quorvex, 2);
        Figures bareTimes, quorvexTimes;
        for (int run = 0; run < std::max(runs, 20); ++run) {
            bareTimes.add(startupTimes(bare, 1).values[0]);
            quorvexTimes.add(startupTimes(quorvex, 1).values[0]);
        }
        std::printf("start-up to a shown window, %d runs\n", std::max(runs, 20));
        printRow("bare QMainWindow", { bareTimes.median(), bareTimes.max() }, "ms");
        printRow("quorvex", { quorvexTimes.median(), quorvexTimes.max() }, "ms");
        std::printf("  ratio quorvex/bare %.2f\n", quorvexTimes.median() / bareTimes.median());
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    int runs = 5;
    QString folder = QDir::tempPath() + u"/quorvex-bench"_s;
    QString scenario;
    QStringList only;
    bool startup = true;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (arg == u"--runs")
            runs = std::max(1, next.toInt()), ++i;
        else if (arg == u"--dir")
            folder = next, ++i;
        else if (arg == u"--scenario")
            scenario = next, ++i;
        else if (arg == u"--only")
            only = next.split(u','), ++i;
        else if (arg == u"--no-startup")
            startup = false;
    }
    if (!scenario.isEmpty())
        return runScenario(scenario, folder, runs);
    return runAll(QCoreApplication::applicationFilePath(), folder, runs, only, startup);
}
