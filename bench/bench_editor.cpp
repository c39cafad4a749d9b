// Times the editor on large files: the real window, text box, files and clipboard on the
// offscreen platform, with the file dialogs and message boxes answered by a script.
//
//   bench_editor [--runs N] [--dir FOLDER] [--only 1mb,10mb,100mb,line10mb] [--no-startup]
//
// Each file is measured in a child process of its own, so its peak memory is its own.
#include "commondialog.h"
#include "form1.h"
#include "qtform.h"
#include "qtsequentialfiles.h"
#include "qtservices.h"
#include "services.h"

#include <QApplication>
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
    else
        bytes = generatedSingleLine(10'000'000);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// ----- one file, in a child process -----

void printFigure(const char *name, const Figures &figures, bool withP99 = false)
{
    if (withP99)
        std::printf("%s %.3f %.3f %.3f\n", name, figures.median(), figures.max(),
                    figures.quantile(0.99));
    else
        std::printf("%s %.3f %.3f\n", name, figures.median(), figures.max());
}

int runScenario(const QString &path, const QString &folder, int runs)
{
    AnswerYes messageBoxes;
    ScriptedFileDialog dialog;
    QtClipboard clipboard;
    QtScreenPointer screen;
    QtSequentialFiles files;
    QtForm window(messageBoxes);
    Form1 form({ window, window.textBox(), dialog, clipboard, screen, messageBoxes, files });
    window.start(form.design());
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("the window was not shown");
    auto &text = window.textBox();
    QWidget *view = text.viewport();
    const QString savePath = folder + u"/saved.txt"_s;

    Figures open, peak, saveAs, writeFloor, keys, selectCopy, floor, floorPeak;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        // Every run starts from an empty text, so the last run's document is not in its peak.
        text.setText(QString());

        resetPeakRss();
        timer.start();
        QFile input(path);
        if (!input.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(path));
        // The encoding the document reader uses outside Windows.
        QString decoded = QStringDecoder(QStringDecoder::Utf8).decode(input.readAll());
        floor.add(msSince(timer));
        floorPeak.add(peakRssMb());
        input.close();
        decoded.clear();
        decoded.squeeze();

        resetPeakRss();
        dialog.answer = path;
        timer.start();
        form.File_Open_Click();
        window.repaint();
        open.add(msSince(timer));
        peak.add(peakRssMb());
        if (!window.caption().contains(u" FileSize : "_s))
            qFatal("Open did not finish: %s", qPrintable(window.caption()));

        dialog.answer = savePath;
        timer.start();
        form.File_Save_As_Click();
        saveAs.add(msSince(timer));
        if (!window.caption().contains(u" File Size : "_s))
            qFatal("Save As did not finish: %s", qPrintable(window.caption()));

        {
            const QString all = text.text();
            timer.start();
            QFile out(savePath);
            if (!out.open(QIODevice::WriteOnly))
                qFatal("cannot write %s", qPrintable(savePath));
            out.write(QStringEncoder(QStringEncoder::Utf8).encode(all));
            out.close();
            writeFloor.add(msSince(timer));
        }

        text.setFocus();
        // At the end of the last line that holds text: for the single-line file, the long line.
        const int end = text.textLength();
        text.setSelStart(text.text().endsWith(u"\r\n"_s) ? end - 2 : end);
        view->repaint();
        for (int key = 0; key < 200; ++key) {
            timer.start();
            QTest::keyClick(&text, char('a' + key % 26));
            view->repaint();
            keys.add(msSince(timer));
            if (qEnvironmentVariableIsSet("BENCH_DUMP_KEYS"))
                std::fprintf(stderr, "key %d %.3f\n", key, keys.values.back());
        }

        timer.start();
        form.Edit_SelectAll_Click();
        form.Edit_Copy_Click();
        view->repaint();
        selectCopy.add(msSince(timer));
        if (clipboard.text().size() != text.textLength())
            qFatal("Copy did not take the whole text");
        // The copy would otherwise keep the whole text alive through the next Open.
        clipboard.clear();
    }
    QFile::remove(savePath);

    printFigure("floor_ms", floor);
    printFigure("open_ms", open);
    printFigure("peak_rss_mb", peak);
    printFigure("floor_peak_rss_mb", floorPeak);
    printFigure("save_as_ms", saveAs);
    printFigure("write_floor_ms", writeFloor);
    printFigure("key_ms", keys, true);
    printFigure("select_all_copy_ms", selectCopy);
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

void printRow(const char *label, const std::vector<double> &values, const char *unit)
{
    std::printf("  %-24s median %9.1f %s   max %9.1f %s", label, values[0], unit, values[1], unit);
    if (values.size() > 2)
        std::printf("   p99 %7.2f %s", values[2], unit);
    std::printf("\n");
}

int runAll(const QString &self, const QString &folder, int runs, const QStringList &only,
           bool startup)
{
    QDir().mkpath(folder);
    const QStringList kinds
        = only.isEmpty() ? QStringList { u"1mb"_s, u"10mb"_s, u"100mb"_s, u"line10mb"_s } : only;
    for (const QString &kind : kinds) {
        const QString path = prepareFile(folder, kind);
        const double fileMb = double(QFileInfo(path).size()) / 1e6;
        std::printf("%s (%.1f MB), %d runs\n", qPrintable(kind), fileMb, runs);
        std::fflush(stdout);
        Results r = runChild(self, path, folder, runs);
        printRow("floor: read + decode", r[u"floor_ms"_s], "ms");
        printRow("Open", r[u"open_ms"_s], "ms");
        printRow("floor peak RSS", r[u"floor_peak_rss_mb"_s], "MB");
        printRow("peak RSS", r[u"peak_rss_mb"_s], "MB");
        printRow("write floor", r[u"write_floor_ms"_s], "ms");
        printRow("Save As", r[u"save_as_ms"_s], "ms");
        printRow("keystroke", r[u"key_ms"_s], "ms");
        printRow("Select All + Copy", r[u"select_all_copy_ms"_s], "ms");
        const double floorMs = r[u"floor_ms"_s][0];
        const double writeFloorMs = r[u"write_floor_ms"_s][0];
        std::printf("  ratios: Open/floor %.2f (max %.2f), peak/file %.2f (floor's %.2f), "
                    "Save As/write floor %.2f (max %.2f)\n",
                    r[u"open_ms"_s][0] / floorMs, r[u"open_ms"_s][1] / floorMs,
                    r[u"peak_rss_mb"_s][1] / fileMb, r[u"floor_peak_rss_mb"_s][1] / fileMb,
                    r[u"save_as_ms"_s][0] / writeFloorMs, r[u"save_as_ms"_s][1] / writeFloorMs);
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
