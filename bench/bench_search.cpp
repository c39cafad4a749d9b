// Times Find, Replace All and its undo in the real text box on a comma-dense text (one short
// field per line, as Open makes of a spreadsheet export), against memmem over the same bytes.
//
//   bench_search [--mb SIZE] [--runs N] [--replace-only] [--expressions-only]
#include "benchclock.h"
#include "generatedfields.h"
#include "hugepages.h"
#include "qttextarea.h"
#include "textsearch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template<typename Work>
double millisecondsOf(int runs, Work work, double (*clock)() = cpuMs)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const double start = clock();
        work();
        times.push_back(clock() - start);
    }
    return median(times);
}

// The resident peak since the last reset, in MB.
double peakMegabytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
}

void resetPeak()
{
    QFile clear(u"/proc/self/clear_refs"_s);
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double residentMegabytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
}

void row(const char *name, double value, const char *unit, double target, const char *against)
{
    std::printf("%-44s %9.1f %-3s target %s %.1f %s: %s\n", name, value, unit, "<=", target,
                against, value <= target ? "met" : "NOT met");
}

// Replace All of a regular expression: its time per match on texts of growing size, which must
// stay flat, and against the plain pattern with the same matches.
void expressionRows(const QByteArray &bytes, QtTextArea &area, int runs)
{
    const auto replaceAll = [&](QByteArrayView text, const SearchRequest &request,
                                const QString &replaceWith, qint64 &matches) {
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            area.setText(QString::fromUtf8(text));
            const double start = cpuMs();
            matches = area.replaceAll(request, replaceWith);
            times.push_back(cpuMs() - start);
        }
        return median(times);
    };
    std::printf("Replace All of the regular expression \\b by \"\u00e9\" (every word's edges):\n");
    for (const double megabytes : { 0.3, 0.7, 1.3, 10.0 }) {
        const QByteArrayView text
            = QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), megabytes * (1 << 20)));
        qint64 matches = 0;
        const double time = replaceAll(text, { u"\\b"_s, true, false, true }, u"\u00e9"_s, matches);
        std::printf("  %5.1f MB: %8lld matches, %9.1f ms, %.3f us per match\n", megabytes,
                    qlonglong(matches), time, time * 1000 / double(std::max<qint64>(1, matches)));
    }
    // The search alone, which gathers the matches and their replacements: Replace All is this
    // and the walk that makes the new text, the same for both patterns.
    area.setText(QString::fromUtf8(bytes));
    const auto searchAlone = [&](const SearchRequest &request, const QString &replaceWith) {
        const TextSearch search(
            { request.pattern, request.matchCase, request.wholeWords, request.regularExpression });
        const auto text = searchableBytes(area.buffer());
        qint64 found = 0;
        const double time = millisecondsOf(runs, [&] {
            found = 0;
            search.findAll(*text, replaceWith, [&found](TextSearch::Range, const QString &) {
                ++found;
                return true;
            });
        });
        std::printf("  the search alone, %-24s %9.1f ms, %lld matches\n",
                    qPrintable(request.pattern), time, qlonglong(found));
        return time;
    };
    const double plainSearch = searchAlone({ u"ember"_s, true, false, false }, u"amber"_s);
    const double expressionSearch = searchAlone({ u"emb(e)r"_s, true, false, true }, u"amb\\1r"_s);
    qint64 plainMatches = 0, expressionMatches = 0;
    const double plain
        = replaceAll(bytes, { u"ember"_s, true, false, false }, u"amber"_s, plainMatches);
    std::printf("%-44s %9.1f ms, %lld matches\n", "Replace All of \"ember\", plain", plain,
                qlonglong(plainMatches));
    const double expression
        = replaceAll(bytes, { u"emb(e)r"_s, true, false, true }, u"amb\\1r"_s, expressionMatches);
    std::printf("Replace All of emb(e)r by amb\\1r: %lld matches\n", qlonglong(expressionMatches));
    row("  time", expression, "ms", 3 * plain, "ms (3x the plain pattern)");
    std::printf("  the walk (Replace All less the search): plain %.1f ms, expression %.1f ms\n",
                plain - plainSearch, expression - expressionSearch);
}

} // namespace

int main(int argc, char *argv[])
{
    // Measured as the program runs.
    restartWithHugePages(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const QString &name, int fallback) {
        const qsizetype at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
    };
    const int megabytes = option(u"--mb"_s, 100);
    const int runs = option(u"--runs"_s, 5);

    const QByteArray bytes = generatedFields(qint64(megabytes) * 1024 * 1024, true);
    QtTextArea area;
    area.setText(QString::fromUtf8(bytes));
    std::printf("comma-dense text: %.1f MB, %lld lines; processor time (Find and its floor: the "
                "clock), median of %d runs\n",
                double(bytes.size()) / (1024 * 1024), qlonglong(area.lineCount()), runs);

    if (args.contains(u"--expressions-only"_s)) {
        expressionRows(bytes, area, runs);
        return 0;
    }
    const bool finds = !args.contains(u"--replace-only"_s);
    const QByteArray absent = "zebra-quokka";
    // Find reads on two cores: it and its floor are timed on the clock.
    const double floor = millisecondsOf(
        finds ? runs : 1,
        [&] {
            const void *found = memmem(bytes.constData(), size_t(bytes.size()), absent.constData(),
                                       absent.size());
            if (found)
                std::printf("unexpected match\n");
        },
        clockMs);
    std::printf("%-44s %9.1f ms\n", "memmem of an absent string (floor)", floor);

    const auto findAbsent = [&](const SearchRequest &request) {
        return millisecondsOf(
            finds ? runs : 1,
            [&] {
                area.setSelStart(0);
                if (area.findNext(request, false, true) != TextArea::SearchOutcome::NotFound)
                    std::printf("unexpected match\n");
            },
            clockMs);
    };
    const QString pattern = QString::fromLatin1(absent);
    row("Find Next, absent, match case", findAbsent({ pattern, true, false, false }), "ms",
        2 * floor, "ms (2x memmem)");
    row("Find Next, absent, case-blind", findAbsent({ pattern, false, false, false }), "ms",
        5 * floor, "ms (5x memmem)");
    row("Find Next, absent, whole words", findAbsent({ pattern, true, true, false }), "ms",
        5 * floor, "ms (5x memmem)");
    row("Find Next, absent, whole words case-blind", findAbsent({ pattern, false, true, false }),
        "ms", 5 * floor, "ms (5x memmem)");
    row("Find Next, regular expression, no match",
        findAbsent({ u"zq[0-9]+x|quokka\\d"_s, true, false, true }), "ms", 1000, "ms");

    // Replace All of a field that one line in sixteen holds (about 1 M), then of a character
    // that one line in eight holds, by one of the same length and by a longer word, then of a
    // letter one byte in twenty holds (about 5 M); each undone.
    const auto replaceAll = [&](const QString &pattern, const QString &replaceWith) {
        // Each row starts from a freshly opened text with no history, and with the memory that
        // earlier rows freed given back, so that what it adds is its own. What the text takes
        // as stored (its UTF-8 and the tree's nodes) is measured on the way.
        area.setText(QString());
        malloc_trim(0);
        const double empty = residentMegabytes();
        area.setText(QString::fromUtf8(bytes));
        malloc_trim(0);
        const qint64 lengthBefore = area.textLength();
        const double before = residentMegabytes();
        const double stored = before - empty;
        resetPeak();
        QElapsedTimer clock;
        clock.start();
        double start = cpuMs();
        const qint64 replaced = area.replaceAll({ pattern, true, false, false }, replaceWith);
        const double time = cpuMs() - start;
        const double added = peakMegabytes() - before;
        std::printf("Replace All of \"%s\": %lld matches, %.1f ms on the clock\n",
                    qPrintable(pattern), qlonglong(replaced), double(clock.nsecsElapsed()) / 1e6);
        row("  time", time, "ms", 1000, "ms");
        row("  added peak memory", added, "MB", double(bytes.size()) / (1024 * 1024),
            "MB (1x the text)");
        std::printf("    %.2fx the %.1f MB the text takes as stored (UTF-8 and the tree's nodes);"
                    " the text grew by %.1f MB\n",
                    added / stored, stored,
                    double(area.textLength() - lengthBefore) / (1024 * 1024));
        malloc_trim(0);
        const double beforeUndo = residentMegabytes();
        resetPeak();
        start = cpuMs();
        area.undo();
        row("  undo", cpuMs() - start, "ms", 1000, "ms");
        std::printf("%-44s %9.1f MB  (no target)\n", "  added peak memory of undo",
                    peakMegabytes() - beforeUndo);
        if (area.textLength() != area.text().size() || area.text().toUtf8() != bytes)
            std::printf("undo did not restore the text\n");
    };
    replaceAll(u"ember"_s, u"amber"_s);
    replaceAll(u"7"_s, u"8"_s);
    replaceAll(u"7"_s, u"seven"_s);
    replaceAll(u"e"_s, u"E"_s);
    expressionRows(bytes, area, runs);
    return 0;
}
