// The text view alone on a large text of short lines, or on one long line: the time of each
// page turned with PageDown and of each single edit (a key, a Return, a jump and a key, an undo
// step), painted; and of a caret move with and without the status bar's count of its place.
// With --wrap, lines wrap: turning wrap on, Ctrl+End right after, a step of a resize and steps of
// dragging the thumb are timed too, and --prose gives paragraphs of 200 to 5,000 characters.
// --status times only the rows of the status bar, and a whole text selected and counted.
// Each step is painted as the event loop paints it next: what the view asked to repaint. With
// --full-repaint, the whole view is repainted after each step instead. Between steps the event
// loop runs, as between a user's keys; its work there is shown apart ("between").
// Usage: bench_view [megabytes, default 100] [--line | --prose] [--wrap] [--status]
//                   [--full-repaint]
#include "benchclock.h"
#include "textview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

struct Figures
{
    const char *name;
    std::vector<double> ms; // CPU time
    std::vector<double> between = {}; // the event loop's work before each step

    void print() const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double share) {
            return sorted[std::min(sorted.size() - 1, size_t(share * double(sorted.size())))];
        };
        std::printf("%-34s n=%4zu  CPU median %7.3f ms  p99 %7.3f ms  max %7.3f ms", name,
                    sorted.size(), at(0.5), at(0.99), sorted.back());
        if (!between.empty()) {
            std::vector<double> idle = between;
            std::sort(idle.begin(), idle.end());
            std::printf("  (between: median %.3f, max %.3f)", idle[idle.size() / 2], idle.back());
        }
        std::printf("\n");
    }
};

// Lines of five characters, as a comma-separated export becomes once each field is a line; or
// one line of such words between spaces, as a long paragraph or a minified file.
QString generatedText(qint64 megabytes, bool oneLine, bool prose)
{
    if (prose) {
        QString text;
        const qint64 size = megabytes * 1000 * 1000;
        text.reserve(size + 8000);
        for (qint64 paragraph = 0; text.size() < size; ++paragraph) {
            const qint64 length = 200 + (paragraph * 7919) % 4801;
            const qsizetype end = text.size() + length;
            for (qint64 word = paragraph; text.size() < end; ++word)
                text += QStringLiteral("word%1 ").arg(word % 1000);
            text += QStringLiteral("\r\n");
        }
        return text;
    }
    const QString form = oneLine ? QStringLiteral("w%1 ") : QStringLiteral("f%1\r\n");
    QString text;
    const qint64 size = megabytes * 1000 * 1000;
    text.reserve(size + 16);
    for (qint64 piece = 0; text.size() < size; ++piece)
        text += form.arg(piece % 10000, 4, 10, QLatin1Char('0'));
    return text;
}

double msSince(const QElapsedTimer &timer) { return double(timer.nsecsElapsed()) / 1e6; }

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const bool line = args.contains(u"--line"_qs);
    const bool prose = args.contains(u"--prose"_qs);
    const bool wrap = args.contains(u"--wrap"_qs);
    const bool statusOnly = args.contains(u"--status"_qs);
    const bool fullRepaint = args.contains(u"--full-repaint"_qs);
    qint64 megabytes = line ? 10 : 100;
    for (const QString &arg : args.sliced(1))
        if (arg.toLongLong() > 0)
            megabytes = arg.toLongLong();

    TextView view;
    view.resize(900, 700);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        qFatal("the view was not shown");
    view.setFocus();

    // The window's pending repaint, done now as the event loop would do it next.
    const auto paint = [&] {
        if (fullRepaint) {
            view.viewport()->repaint();
            return;
        }
        QEvent request(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(&view, &request);
    };

    QElapsedTimer timer;
    {
        const QString text = generatedText(megabytes, line, prose);
        timer.start();
        view.setContents(text);
    }
    std::printf("%lld MB, %lld lines, set in %.0f ms\n", megabytes,
                qint64(view.buffer().lineCount()), msSince(timer));

    if (wrap) {
        const auto once = [&](const char *name, const auto &work) {
            const double start = cpuMs();
            work();
            paint();
            std::printf("%-34s CPU %7.3f ms\n", name, cpuMs() - start);
        };
        once("wrap turned on", [&] { view.setWordWrap(true); });
        once("Ctrl+End right after",
             [&] { QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier); });
        once("wrap turned off", [&] { view.setWordWrap(false); });
        once("wrap turned on again", [&] { view.setWordWrap(true); });
        once("a step of a resize", [&] { view.resize(880, 700); });
        Figures thumb { "a step of dragging the thumb", {} };
        QScrollBar *vertical = view.verticalScrollBar();
        for (int i = 0; i <= 60; ++i) {
            const double start = cpuMs();
            vertical->setValue(int(qint64(vertical->maximum()) * ((i * 37) % 61) / 60));
            paint();
            thumb.ms.push_back(cpuMs() - start);
        }
        thumb.print();
    }

    const auto timeKeys = [&](Figures &figures, int times, const auto &before, Qt::Key key,
                              Qt::KeyboardModifiers modifiers = {}) {
        for (int i = 0; i < times; ++i) {
            const double idle = cpuMs();
            QCoreApplication::processEvents();
            figures.between.push_back(cpuMs() - idle);
            const double start = cpuMs();
            before(i); // timed with the key: a jump and a key are one frame
            QTest::keyClick(&view, key, modifiers);
            paint();
            figures.ms.push_back(cpuMs() - start);
            if (qEnvironmentVariableIsSet("BENCH_VIEW_DUMP")
                && figures.ms.back() > qEnvironmentVariableIntValue("BENCH_VIEW_DUMP"))
                std::fprintf(stderr, "%s %d: %.1f ms\n", figures.name, i, figures.ms.back());
        }
        figures.print();
    };
    const auto nothing = [](int) {};
    const auto jump = [&](int i) {
        view.setSelection(0, 0);
        if (i % 2)
            view.setSelection(view.buffer().length(), view.buffer().length());
    };

    Figures pageDown { "PageDown from the top", {} };
    view.setSelection(0, 0); // Ctrl+End above left the caret at the end
    if (!statusOnly)
        timeKeys(pageDown, 300, nothing, Qt::Key_PageDown);
    if (!statusOnly) {
        Figures pageDownMiddle { "PageDown in the middle", {} };
        view.setSelection(view.buffer().length() / 2, view.buffer().length() / 2);
        timeKeys(pageDownMiddle, 300, nothing, Qt::Key_PageDown);
        Figures keysTop { "a key typed at the top", {} };
        view.setSelection(0, 0);
        timeKeys(keysTop, 200, nothing, Qt::Key_A);
        Figures returnsTop { "Return typed at the top", {} };
        timeKeys(returnsTop, 200, nothing, Qt::Key_Return);
        Figures alternate { "a key at the end, then at the top", {} };
        timeKeys(alternate, 200, jump, Qt::Key_B);
        Figures undo { "Ctrl+Z of a typed word", {} };
        view.setSelection(view.buffer().length() / 3, view.buffer().length() / 3);
        for (int word = 0; word < 100; ++word) {
            QTest::keyClicks(&view, QStringLiteral("word"));
            view.setSelection(view.caretPosition(), view.caretPosition()); // ends the step
        }
        timeKeys(undo, 100, nothing, Qt::Key_Z, Qt::ControlModifier);
    }

    // The status bar's work on each move: the caret's place, counted and written out. The
    // first move into the middle of a long line counts the line up to there once.
    QString status;
    Figures right { "Right in the middle", {} };
    const qsizetype middle = view.buffer().length() / 2;
    view.setSelection(middle, middle);
    timeKeys(right, 300, nothing, Qt::Key_Right);
    QObject::connect(&view, &TextView::caretMoved, &view, [&] {
        const TextView::CaretPlace place = view.caretPlace();
        status = QStringLiteral("Ln %1, Col %2").arg(place.line).arg(place.column);
    });
    Figures rightShown { "Right in the middle, place shown", {} };
    view.setSelection(0, 0);
    const double firstStart = cpuMs();
    view.setSelection(middle, middle);
    std::printf("%-34s CPU %.3f ms\n", "first move to the middle, shown", cpuMs() - firstStart);
    timeKeys(rightShown, 300, nothing, Qt::Key_Right);
    // A selection of the whole text, counted as the status bar counts it on the move.
    const double selectionStart = cpuMs();
    const ClusterCounter::Progress all
        = view.countClusters(0, view.buffer().length(), view.buffer().length());
    std::printf("%-34s CPU %.3f ms (%lld of %lld units)\n", "the whole text selected, counted",
                cpuMs() - selectionStart, qint64(all.reached), qint64(view.buffer().length()));
    return 0;
}
