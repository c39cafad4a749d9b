// The text storage on its own: loading a large text of short lines, then single edits at its
// two ends, a large paste, Select All + Delete + Undo and a Replace All, with the time of each
// and the memory the process holds.
//
//   bench_textbuffer [--mb 100]
#include "textbuffer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Resident and peak resident memory of the process, in MB.
std::pair<double, double> memoryMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return { 0, 0 };
    double resident = 0, peak = 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const auto kb = [&] { return line.mid(6).trimmed().split(' ').first().toDouble() / 1024; };
        if (line.startsWith("VmRSS:"))
            resident = kb();
        else if (line.startsWith("VmHWM:"))
            peak = kb();
    }
    return { resident, peak };
}

double msSince(const QElapsedTimer &timer) { return double(timer.nsecsElapsed()) / 1e6; }

// Times each of count runs of one edit and prints the median, the 99th percentile and the worst.
void timeEach(const char *row, int count, const std::function<void(int)> &edit)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer timer;
        timer.start();
        edit(i);
        times.push_back(msSince(timer));
    }
    std::sort(times.begin(), times.end());
    const auto at = [&](double share) { return times[size_t(share * double(times.size() - 1))]; };
    std::printf("| %s | %d | %.3f | %.3f | %.3f |\n", row, count, at(0.5), at(0.99), times.back());
}

void timeOnce(const char *row, const std::function<void()> &work)
{
    timeEach(row, 1, [&](int) { work(); });
}

// Short words of three to seven letters, one line each, one in fifty with an accent.
QByteArray linesOf(qint64 bytes, QRandomGenerator &random)
{
    QByteArray text;
    text.reserve(bytes + 16);
    while (text.size() < bytes) {
        const int letters = 3 + int(random.bounded(5));
        for (int i = 0; i < letters; ++i)
            text += char('a' + random.bounded(26));
        if (random.bounded(50) == 0)
            text += "\xc3\xa9";
        text += "\r\n";
    }
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype mbAt = args.indexOf(QStringLiteral("--mb"));
    const qint64 megabytes
        = mbAt > 0 && mbAt + 1 < args.size() ? args.at(mbAt + 1).toLongLong() : 100;
    QRandomGenerator random(11);

    // The floor: the same pieces copied into one block of memory.
    {
        QElapsedTimer timer;
        qint64 copying = 0;
        QByteArray all;
        for (qint64 loaded = 0; loaded < megabytes << 20;) {
            const QByteArray bytes = linesOf(1 << 20, random);
            timer.start();
            all.append(bytes);
            copying += timer.nsecsElapsed();
            loaded += bytes.size();
        }
        std::printf("floor: plain copy of the pieces into one block: %.1f ms\n",
                    double(copying) / 1e6);
    }
    random.seed(11);

    // The peak is counted from here on.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
    clearRefs.close();
    TextBuffer buffer;
    const double before = memoryMb().first;
    QElapsedTimer timer;
    timer.start();
    qint64 generating = 0;
    for (qint64 loaded = 0; loaded < megabytes << 20;) {
        QElapsedTimer piece;
        piece.start();
        const QByteArray bytes = linesOf(1 << 20, random);
        generating += piece.nsecsElapsed();
        buffer.appendLoaded(QByteArrayView(bytes));
        loaded += bytes.size();
    }
    const double loadMs = (double(timer.nsecsElapsed()) - double(generating)) / 1e6;
    const double textMb = double(buffer.byteLength()) / (1 << 20);
    const auto [resident, peak] = memoryMb();
    std::printf("text: %.1f MB, %lld lines, longest line %lld\n\n", textMb,
                qint64(buffer.lineCount()), qint64(buffer.longestLine()));
    std::printf("| row | edits | median ms | p99 ms | worst ms |\n|---|---:|---:|---:|---:|\n");
    std::printf("| load in pieces of 1 MB (without making them) | 1 | %.1f | | |\n", loadMs);

    timeEach("insert at the top", 200,
             [&](int) { buffer.replace(0, 0, QStringLiteral("a"), TextBuffer::Merge::Typing); });
    timeEach("line break at the top", 200,
             [&](int) { buffer.replace(0, 0, QStringLiteral("\n"), TextBuffer::Merge::Typing); });
    timeEach("insert at the end, then at the start", 200, [&](int i) {
        buffer.breakUndoMerge();
        buffer.replace(i % 2 ? 0 : buffer.length(), 0, QStringLiteral("b"),
                       TextBuffer::Merge::Typing);
    });
    timeEach("undo of one typed word", 100, [&](int) { buffer.undo(); });
    timeEach("line look-up in the middle", 1000, [&](int i) {
        const qsizetype line = buffer.lineAt(buffer.length() / 2 + i * 97);
        buffer.lineText(line);
    });

    QString paste;
    const QByteArray pasteBytes = linesOf(1 << 20, random);
    paste = QString::fromUtf8(pasteBytes);
    timeOnce("1 MB multi-line paste in the middle",
             [&] { buffer.replace(buffer.length() / 2, 0, paste); });
    timeOnce("select all + delete", [&] { buffer.replace(0, buffer.length(), QString()); });
    timeOnce("undo of the delete", [&] { buffer.undo(); });

    // In bytes, as a search finds them.
    std::vector<std::pair<qint64, qint64>> ranges;
    for (qsizetype at = 0; ranges.size() < 1000000 && at + 3 < buffer.length(); at += 100) {
        ranges.emplace_back(buffer.byteOfPosition(buffer.snapped(at)),
                            buffer.byteOfPosition(buffer.snapped(at + 3)));
    }
    timeOnce("replace 1 M ranges", [&] {
        TextBuffer::Rewrite rewrite = buffer.startRewrite();
        const QString xyz = QStringLiteral("xyz");
        for (const auto &[from, to] : ranges)
            rewrite.replace(from, to, xyz);
        buffer.finishRewrite(std::move(rewrite));
    });
    timeOnce("undo of the replace", [&] { buffer.undo(); });

    const auto [residentAtEnd, peakAtEnd] = memoryMb();
    std::printf("\nmemory: %.0f MB before loading; after loading %.0f MB held, peak %.0f MB (%.2fx "
                "the text); at the end %.0f MB held, peak %.0f MB\n",
                before, resident, peak, (peak - before) / textMb, residentAtEnd, peakAtEnd);
    return 0;
}
