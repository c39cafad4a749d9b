// Times the document format on generated files of 1, 10 and 100 MB, side by side with the floor
// of the same work: reading all items against a plain read and QString::fromUtf8 of the same
// file, writing the document against a plain write of the same bytes.
//
//   bench_docformat [--sizes 1,10,100] [--runs N] [--dir FOLDER] [--open [--keep]]
//   bench_docformat --read FILE [--runs N]
//
// --open times only what Open does with the bytes (items read in bulk into the text storage) on
// a comma-dense file and a file of long lines, against Python's read and decode of the same file;
// --keep leaves those files in the folder. --read times that work on one file, runs times in this
// process, for a profiler to look at.
//
// Each measurement runs in a child process of its own (Linux), so the peak memory printed is
// that of the measured work alone: "peak" is the process's high-water mark during the work,
// "added" what the work took on top of what the process held when it started (its input).
#include "documentcodec.h"
#include "generatedfields.h"
#include "hugepages.h"
#include "qtsequentialfiles.h"
#include "storedform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/wait.h>
#endif

using namespace Qt::StringLiterals;

namespace {

struct Sample
{
    double milliseconds = 0;
    double peakMB = -1;
    double addedMB = -1;
};

double statusFieldMB(const char *field)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// Restarts the high-water mark, so the peak read afterwards belongs to what follows.
void resetPeakMemory()
{
    QFile clear(u"/proc/self/clear_refs"_s);
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

Sample measure(const std::function<void()> &work)
{
    Sample sample;
    const double before = statusFieldMB("VmRSS");
    resetPeakMemory();
    QElapsedTimer timer;
    timer.start();
    work();
    sample.milliseconds = timer.nsecsElapsed() / 1e6;
    sample.peakMB = statusFieldMB("VmHWM");
    if (before >= 0 && sample.peakMB >= 0)
        sample.addedMB = std::max(0.0, sample.peakMB - before);
    return sample;
}

// Runs prepare-then-measure in a child process and brings the figures back.
Sample inChild(const std::function<Sample()> &run)
{
#ifdef Q_OS_LINUX
    int channel[2];
    if (::pipe(channel) != 0)
        return run();
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        const Sample sample = run();
        const ssize_t written = ::write(channel[1], &sample, sizeof sample);
        ::_exit(written == ssize_t(sizeof sample) ? 0 : 1);
    }
    ::close(channel[1]);
    Sample sample;
    const bool received = child > 0 && ::read(channel[0], &sample, sizeof sample) == sizeof sample;
    ::close(channel[0]);
    int status = 0;
    if (child > 0)
        ::waitpid(child, &status, 0);
    if (!received) {
        std::fprintf(stderr, "a measurement failed\n");
        return Sample { -1, -1, -1 };
    }
    return sample;
#else
    return run();
#endif
}

// Lines of about 100 characters; one in three holds commas, one in eight a non-ASCII word.
QByteArray generateFile(qint64 bytes)
{
    static const char *const words[]
        = { "the",   "quick", "brown", "fox",  "jumps",  "over",  "lazy", "dog",  "lorem",
            "ipsum", "dolor", "sit",   "amet", "editor", "plain", "text", "file", "window" };
    QRandomGenerator random(42);
    QByteArray file;
    file.reserve(bytes + 200);
    for (int line = 0; file.size() < bytes; ++line) {
        const qsizetype start = file.size();
        while (file.size() - start < 95) {
            if (file.size() > start)
                file += (line % 3 == 0 && random.bounded(6) == 0) ? ", " : " ";
            file += words[random.bounded(int(std::size(words)))];
            if (line % 8 == 0 && random.bounded(10) == 0)
                file += " caf\xc3\xa9";
        }
        file += "\r\n";
    }
    return file;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qsizetype sink = 0; // keeps the compiler from dropping work whose result is unused

Sample readItems(const QString &path)
{
    return measure([&] {
        QtSequentialFiles files;
        const qint16 number = files.freeFile();
        files.openForInput(path, number);
        qsizetype items = 0;
        while (!files.atEnd(number)) {
            sink += files.readItem(number).size();
            ++items;
        }
        files.close(number);
        sink += items;
    });
}

// The bulk reading Open uses: stretches of UTF-8 with a line break after each item, no strings.
Sample readItemsInBulk(const QString &path)
{
    return measure([&] {
        QtSequentialFiles files;
        const qint16 number = files.freeFile();
        files.openForInput(path, number);
        files.readAllItems(number, u"\r\n"_s,
                           [](const ItemRun &run) { sink += run.text.size() + run.items; });
        files.close(number);
    });
}

// Open's work without the view: the items in bulk, stored as the text box stores them. The text
// outlives the timing, as Open's does.
Sample readIntoStorage(const QString &path)
{
    rope::NodePtr text;
    return measure([&] {
        QtSequentialFiles files;
        const qint16 number = files.freeFile();
        files.openForInput(path, number);
        rope::Builder builder;
        bool endedWithCr = false;
        files.readAllItems(number, u"\r\n"_s, [&](const ItemRun &run) {
            if (run.restarted) {
                builder = rope::Builder();
                endedWithCr = false;
            }
            storedform::appendUtf8(builder, run.text.data(), run.text.size(), endedWithCr);
        });
        files.close(number);
        text = builder.tree();
        sink += rope::bytes(text);
    });
}

// The yardstick: a read and a UTF-8 decode in Python, timed by Python itself so that its start-up
// is left out, and run as users run it, without the huge pages this program asks for. Time only;
// -1 without python3.
Sample pythonDecode(const QString &path)
{
    QProcess python;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"GLIBC_TUNABLES"_s);
    python.setProcessEnvironment(environment);
    python.start(u"python3"_s,
                 { u"-c"_s,
                   u"import sys,time\nt=time.perf_counter()\n"
                   "open(sys.argv[1],'rb').read().decode('utf-8')\n"
                   "print((time.perf_counter()-t)*1000)"_s,
                   path });
    Sample sample { -1, -1, -1 };
    if (python.waitForFinished(60000) && python.exitCode() == 0)
        sample.milliseconds = python.readAllStandardOutput().trimmed().toDouble();
    return sample;
}

Sample plainDecode(const QString &path)
{
    return measure([&] {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QString text = QString::fromUtf8(file.readAll());
        sink += text.size();
    });
}

Sample writeDocument(const QString &source, const QString &target)
{
    const QString text = QString::fromUtf8(readFile(source));
    return measure([&] {
        QtSequentialFiles files;
        const qint16 number = files.freeFile();
        files.openForOutput(target, number);
        files.writeItem(number, text);
        files.close(number);
    });
}

#ifdef Q_OS_UNIX
// A file with a second link is rewritten over itself, behind a synced backup of its old contents.
Sample writeDocumentInPlace(const QString &source, const QString &target)
{
    const QByteArray link = QFile::encodeName(target + u".link"_s);
    ::unlink(link.constData());
    if (::link(QFile::encodeName(target).constData(), link.constData()) != 0)
        return Sample {};
    const Sample sample = writeDocument(source, target);
    ::unlink(link.constData());
    return sample;
}
#endif

Sample plainWrite(const QString &source, const QString &target)
{
    const QByteArray bytes = encodeItem(QString::fromUtf8(readFile(source)));
    return measure([&] {
        QFile file(target);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    });
}

// A save must reach the disk before it reports success, so the fair floor for it syncs too.
Sample plainWriteSynced(const QString &source, const QString &target)
{
    const QByteArray bytes = encodeItem(QString::fromUtf8(readFile(source)));
    return measure([&] {
        QFile file(target);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(bytes);
            file.flush();
#ifdef Q_OS_UNIX
            ::fsync(file.handle());
#endif
        }
    });
}

// The format's own share of a save: the written form encoded, nothing written.
Sample encodeOnly(const QString &source)
{
    const QString text = QString::fromUtf8(readFile(source));
    return measure([&] {
        encodeItem(text, TextEncoding::Utf8, [](QByteArrayView piece) { sink += piece.size(); });
    });
}

// The fastest of the runs, and the largest peak among them.
Sample best(int runs, const std::function<Sample()> &run)
{
    Sample result { 1e300, -1, -1 };
    for (int i = 0; i < runs; ++i) {
#ifdef Q_OS_UNIX
        ::sync(); // earlier writes still going out would slow this run down
#endif
        const Sample sample = inChild(run);
        result.milliseconds = std::min(result.milliseconds, sample.milliseconds);
        result.peakMB = std::max(result.peakMB, sample.peakMB);
        result.addedMB = std::max(result.addedMB, sample.addedMB);
    }
    return result;
}

void printRow(const char *size, const char *what, const Sample &sample, const Sample *floor)
{
    std::printf("%-7s %-28s %10.1f %10.1f %10.1f", size, what, sample.milliseconds, sample.peakMB,
                sample.addedMB);
    if (floor)
        std::printf("   %5.2fx", sample.milliseconds / floor->milliseconds);
    std::printf("\n");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The rows of --open for one size.
bool timeOpen(const QTemporaryDir &dir, qint64 megabytes, int runs, bool keep)
{
    const QString fields = dir.filePath(u"fields-%1mb.txt"_s.arg(megabytes));
    const QString lines = dir.filePath(u"lines-%1mb.txt"_s.arg(megabytes));
    const QString lines1252 = dir.filePath(u"lines-%1mb-1252.txt"_s.arg(megabytes));
    const QString lines16 = dir.filePath(u"lines-%1mb-utf16.txt"_s.arg(megabytes));
    const QByteArray utf8 = generateFile(megabytes * 1000 * 1000);
    const QString text = QString::fromUtf8(utf8);
    if (!writeFile(fields, generatedFields(megabytes * 1000 * 1000)) || !writeFile(lines, utf8)
        || !writeFile(lines1252, QByteArray(utf8).replace("\xc3\xa9", "\xe9"))
        || !writeFile(
            lines16,
            "\xff\xfe"
                + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2))) {
        std::fprintf(stderr, "cannot write the files\n");
        return false;
    }
    const QByteArray label = QByteArray::number(megabytes) + " MB";
    const auto python = [runs](const QString &path) {
        Sample result { 1e300, -1, -1 };
        for (int i = 0; i < runs; ++i)
            result.milliseconds = std::min(result.milliseconds, pythonDecode(path).milliseconds);
        return result;
    };
    const Sample fieldsPython = python(fields);
    const Sample fieldsOpen = best(runs, [&] { return readIntoStorage(fields); });
    const Sample linesPython = python(lines);
    const Sample linesOpen = best(runs, [&] { return readIntoStorage(lines); });
    const Sample open1252 = best(runs, [&] { return readIntoStorage(lines1252); });
    const Sample open16 = best(runs, [&] { return readIntoStorage(lines16); });
    printRow(label.constData(), "comma-dense: Python decode", fieldsPython, nullptr);
    printRow(label.constData(), "comma-dense: into storage", fieldsOpen, &fieldsPython);
    printRow(label.constData(), "long lines: Python decode", linesPython, nullptr);
    printRow(label.constData(), "long lines: into storage", linesOpen, &linesPython);
    printRow(label.constData(), "lines, Windows-1252", open1252, &linesOpen);
    printRow(label.constData(), "lines, UTF-16 (2x bytes)", open16, &linesOpen);
    std::fflush(stdout);
    for (const QString &path : { fields, lines, lines1252, lines16 }) {
        if (!keep)
            QFile::remove(path);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // Measured as the program runs.
    restartWithHugePages(argv);
    QCoreApplication app(argc, argv);
    QStringList sizes { u"1"_s, u"10"_s, u"100"_s };
    int runs = 3;
    QString folder;
    QStringList args = app.arguments();
    const bool openOnly = args.removeAll(u"--open"_s) > 0;
    const bool keep = args.removeAll(u"--keep"_s) > 0;
    QString readOnly;
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--read"_s)
            readOnly = args[i + 1];
        else if (args[i] == u"--sizes"_s)
            sizes = args[i + 1].split(u',');
        else if (args[i] == u"--runs"_s)
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == u"--dir"_s)
            folder = args[i + 1];
    }
    if (!readOnly.isEmpty()) {
        for (int run = 0; run < runs; ++run)
            std::printf("%s: %.1f ms\n", qPrintable(readOnly),
                        readIntoStorage(readOnly).milliseconds);
        return 0;
    }
    QTemporaryDir dir(folder.isEmpty() ? QDir::tempPath() + u"/bench_docformat-XXXXXX"_s
                                       : folder + u"/bench_docformat-XXXXXX"_s);
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    if (keep) {
        dir.setAutoRemove(false);
        std::printf("Files kept in %s\n", qPrintable(dir.path()));
    }

    std::printf("Best of %d runs; memory in MB (peak: high-water mark during the work; added: on "
                "top of the input held before it).\n",
                runs);
    std::printf("%-7s %-28s %10s %10s %10s   %s\n", "file", "work", "time ms", "peak MB",
                "added MB", "vs floor");
    std::printf(
        "(floors: reading vs plain read + fromUtf8; the other encodings in bulk vs UTF-8 in "
        "bulk; encoding vs plain write; writing the document, which syncs, vs plain write "
        "+ fsync)\n");
    for (const QString &size : sizes) {
        const qint64 megabytes = size.toLongLong();
        if (megabytes <= 0)
            continue;
        if (openOnly) {
            if (!timeOpen(dir, megabytes, runs, keep))
                return 1;
            continue;
        }
        const QString source = dir.filePath(u"doc-%1mb.txt"_s.arg(megabytes));
        const QString target = dir.filePath(u"out-%1mb.txt"_s.arg(megabytes));
        {
            QFile file(source);
            if (!file.open(QIODevice::WriteOnly) || file.write(generateFile(megabytes << 20)) < 0) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
                return 1;
            }
        }
        // The same text in the other encodings Open reads: Windows-1252 (its accented letters
        // one byte each, so the file is not UTF-8) and UTF-16 LE with its mark.
        const QString source1252 = dir.filePath(u"doc-%1mb-1252.txt"_s.arg(megabytes));
        const QString source16 = dir.filePath(u"doc-%1mb-utf16.txt"_s.arg(megabytes));
        {
            const QByteArray utf8 = readFile(source);
            QFile file1252(source1252);
            QFile file16(source16);
            const QString text = QString::fromUtf8(utf8);
            const QByteArray utf16 = "\xff\xfe"
                + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
            if (!file1252.open(QIODevice::WriteOnly) || !file16.open(QIODevice::WriteOnly)
                || file1252.write(QByteArray(utf8).replace("\xc3\xa9", "\xe9")) < 0
                || file16.write(utf16) < 0) {
                std::fprintf(stderr, "cannot write the other encodings\n");
                return 1;
            }
        }
        const QByteArray label = (size + u" MB"_s).toUtf8();
        const Sample decode = best(runs, [&] { return plainDecode(source); });
        const Sample items = best(runs, [&] { return readItems(source); });
        const Sample bulk = best(runs, [&] { return readItemsInBulk(source); });
        const Sample bulk1252 = best(runs, [&] { return readItemsInBulk(source1252); });
        const Sample bulk16 = best(runs, [&] { return readItemsInBulk(source16); });
        const Sample write = best(runs, [&] { return plainWrite(source, target); });
        const Sample synced = best(runs, [&] { return plainWriteSynced(source, target); });
        const Sample encode = best(runs, [&] { return encodeOnly(source); });
        const Sample document = best(runs, [&] { return writeDocument(source, target); });
#ifdef Q_OS_UNIX
        const Sample inPlace = best(runs, [&] { return writeDocumentInPlace(source, target); });
#endif
        // What Open meets most: a file this program wrote, one quoted item.
        const Sample writtenDecode = best(runs, [&] { return plainDecode(target); });
        const Sample writtenItems = best(runs, [&] { return readItems(target); });
        const Sample writtenBulk = best(runs, [&] { return readItemsInBulk(target); });
        printRow(label.constData(), "plain read + fromUtf8", decode, nullptr);
        printRow(label.constData(), "read all items", items, &decode);
        printRow(label.constData(), "read all items in bulk", bulk, &decode);
        printRow(label.constData(), "in bulk, Windows-1252", bulk1252, &bulk);
        printRow(label.constData(), "in bulk, UTF-16 (2x the bytes)", bulk16, &bulk);
        printRow(label.constData(), "plain write", write, nullptr);
        printRow(label.constData(), "plain write + fsync", synced, nullptr);
        printRow(label.constData(), "encode written form only", encode, &write);
        printRow(label.constData(), "write document (synced)", document, &synced);
#ifdef Q_OS_UNIX
        printRow(label.constData(), "write document in place", inPlace, &synced);
#endif
        printRow(label.constData(), "written: read + fromUtf8", writtenDecode, nullptr);
        printRow(label.constData(), "written: read its one item", writtenItems, &writtenDecode);
        printRow(label.constData(), "written: its item in bulk", writtenBulk, &writtenDecode);
        std::fflush(stdout);
        QFile::remove(source);
        QFile::remove(source1252);
        QFile::remove(source16);
        QFile::remove(target);
    }
    return sink == -1 ? 1 : 0;
}
