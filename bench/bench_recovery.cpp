// The recovery journal on a large text: what it adds to each key typed, the longest the user-
// interface thread works for it (the first change after a load, Replace All), the bytes and syncs
// it costs the disk while typing, and how long a recovery and a start with no journal take.
// Usage: bench_recovery [megabytes, default 100]
#include "benchclock.h"
#include "generatedfields.h"
#include "journalreader.h"
#include "journalwriter.h"
#include "posixstatefolder.h"
#include "qtrecoveryjournal.h"
#include "qttextarea.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

double at(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

void load(QtTextArea &area, const QByteArray &bytes)
{
    area.beginLoad();
    area.appendLoaded(bytes);
    area.keepLoaded();
    area.endLoad();
}

// CPU time of the calling thread for one action, in milliseconds.
template<typename Action>
double cpuOf(Action action)
{
    const double start = cpuMs();
    action();
    return cpuMs() - start;
}

void typeKey(QtTextArea &area, qsizetype at)
{
    area.setSelStart(at);
    area.setSelText(u"k"_s);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 100;
    const QByteArray bytes = generatedFields(megabytes * 1000 * 1000, true);
    QTemporaryDir state;
    PosixStateFolder folder(state.path());
    QtTextArea plain; // without a journal
    QtTextArea journaled;
    QtRecoveryJournal journal(folder, journaled);
    load(plain, bytes);
    load(journaled, bytes);
    std::printf("text: %.1f MB, %lld lines\n", double(bytes.size()) / 1e6,
                qlonglong(journaled.lineCount()));

    // The first change after a load starts the journal with the whole text as its base.
    const double first = cpuOf([&] { typeKey(journaled, 0); });
    QElapsedTimer wall;
    wall.start();
    journal.flush();
    std::printf("first key after the load:          %7.3f ms CPU; its base on the disk after "
                "%.0f ms\n",
                first, double(wall.elapsed()));

    // Keys at places spread over the text, in each text box in turn, the first of the two
    // alternating so that neither gains from the other's warm caches.
    std::vector<double> with, without;
    QRandomGenerator random(5);
    const auto before = journal.figures();
    QElapsedTimer typing;
    typing.start();
    for (int key = 0; key < 1000; ++key) {
        const qsizetype place = random.bounded(int(journaled.textLength()));
        if (key % 2) {
            without.push_back(cpuOf([&] { typeKey(plain, place); }));
            with.push_back(cpuOf([&] { typeKey(journaled, place); }));
        } else {
            with.push_back(cpuOf([&] { typeKey(journaled, place); }));
            without.push_back(cpuOf([&] { typeKey(plain, place); }));
        }
        QThread::msleep(5);
    }
    const double typedFor = double(typing.elapsed()) / 1e3;
    const auto after = journal.figures();
    journal.flush();
    const auto flushed = journal.figures();
    const double addedMedian = at(with, 0.5) - at(without, 0.5);
    std::printf("key, without the journal:          median %7.4f ms  p99 %7.4f ms\n",
                at(without, 0.5), at(without, 0.99));
    std::printf("key, with the journal:             median %7.4f ms  p99 %7.4f ms  (+%.4f ms; "
                "target +0.05, p99 < 2)\n",
                at(with, 0.5), at(with, 0.99), addedMedian);
    std::printf("disk while typing 1000 keys over %.1f s: %.1f bytes a key (target 64 + 1 typed), "
                "%lld syncs (%.2f a second; target 1)\n",
                typedFor, double(flushed.bytes - before.bytes) / 1000,
                qlonglong(after.syncs - before.syncs),
                double(after.syncs - before.syncs) / typedFor);

    // Replace All of every "e": the journal starts again from the text it makes.
    const double replacedWith = cpuOf([&] { journaled.replaceAll({ u"e"_s, true }, u"E"_s); });
    const double replacedWithout = cpuOf([&] { plain.replaceAll({ u"e"_s, true }, u"E"_s); });
    wall.restart();
    journal.flush();
    std::printf("Replace All e by E: %7.1f ms with the journal, %7.1f ms without; its base on the "
                "disk after %.0f ms\n",
                replacedWith, replacedWithout, double(wall.elapsed()));
    std::printf("longest the journal took the user-interface thread, over all of the above: %.3f "
                "ms (target 16)\n",
                double(journal.figures().longestCall) / 1e6);

    // A journal of 100,000 edits, recovered as the next start would.
    for (int key = 0; key < 100000; ++key)
        typeKey(journaled, random.bounded(int(journaled.textLength())));
    journal.flush();
    const QString kept = QDir(state.path() + u"/quorvex"_s).entryList({ u"journal-*"_s }).value(0);
    QTemporaryDir next;
    QDir().mkpath(next.path() + u"/quorvex"_s);
    QFile::copy(state.path() + u"/quorvex/"_s + kept, next.path() + u"/quorvex/"_s + kept);
    // Until the question (the text is rebuilt while it is asked), and from the answer.
    struct Times
    {
        double asked = 0;
        double recovered = 0;
    };
    const auto recover = [](const QString &base, QtTextArea &into) {
        PosixStateFolder nextFolder(base);
        QtRecoveryJournal nextJournal(nextFolder, into);
        QElapsedTimer clock;
        clock.start();
        Times times;
        const bool found = nextJournal.findLeftOver().has_value();
        times.asked = double(clock.nsecsElapsed()) / 1e6;
        clock.restart();
        if (found)
            nextJournal.recoverLeftOver();
        times.recovered = double(clock.nsecsElapsed()) / 1e6;
        nextJournal.discardLeftOver();
        return times;
    };
    {
        PosixStateFolder nextFolder(next.path());
        std::unique_ptr<StateFile> file = nextFolder.claim(kept);
        QElapsedTimer clock;
        clock.start();
        readJournal(*file, qint64(1) << 40, qint64(1) << 40);
        std::printf("reading the journal, every record checked: %7.1f ms\n",
                    double(clock.nsecsElapsed()) / 1e6);
    }
    QtTextArea recovered;
    const Times recoveredMs = recover(next.path(), recovered);
    std::printf("recovery of %.1f MB with 100000 edits: %7.1f ms to the question, %7.1f ms from "
                "the answer (target 1000); the same text: %s\n",
                double(bytes.size()) / 1e6, recoveredMs.asked, recoveredMs.recovered,
                recovered.textLength() == journaled.textLength()
                        && recovered.text() == journaled.text()
                    ? "yes"
                    : "NO");

    // Start-up: one listing of a folder with no journal, and the recovery of a small one.
    QTemporaryDir empty;
    QtTextArea none;
    std::printf("start with no journal:            %7.3f ms\n", recover(empty.path(), none).asked);
    QTemporaryDir small;
    {
        PosixStateFolder smallFolder(small.path());
        QtTextArea area;
        QtRecoveryJournal smallJournal(smallFolder, area);
        for (int line = 0; line < 40; ++line)
            area.setSelText(u"a line of about twenty\r\n"_s);
        smallJournal.flush();
        QDir().mkpath(next.path() + u"/small/quorvex"_s);
        const QString name
            = QDir(small.path() + u"/quorvex"_s).entryList({ u"journal-*"_s }).value(0);
        QFile::copy(small.path() + u"/quorvex/"_s + name,
                    next.path() + u"/small/quorvex/"_s + name);
    }
    QtTextArea smallArea;
    const Times smallTimes = recover(next.path() + u"/small"_s, smallArea);
    std::printf("recovery of a 1 KB text:          %7.3f ms (target 50)\n",
                smallTimes.asked + smallTimes.recovered);
    return 0;
}
