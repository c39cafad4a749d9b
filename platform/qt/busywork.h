#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <chrono>

class QtForm;

// Long work on the user-interface thread, run in slices: between slices the window repaints,
// the busy pointer shows once the work has taken 0.2 s, and Escape stops it. No other input
// reaches the program meanwhile, so nothing changes what the work is reading. Work that tells its
// share done shows it in the window once it has taken half a second.
class BusyWork : public QObject
{
public:
    struct Pace
    {
        std::chrono::milliseconds quiet { 200 }; // before the pointer and the first repaint
        std::chrono::milliseconds progress { 500 }; // before the share done shows
        // Between two rounds of events: each repaints, which would slow the work if done for
        // every slice, while Escape and repaints still come well within a tenth of a second.
        std::chrono::milliseconds events { 40 };
    };

    BusyWork();
    explicit BusyWork(Pace pace);
    ~BusyWork() override;
    BusyWork(const BusyWork &) = delete;
    BusyWork &operator=(const BusyWork &) = delete;

    // Called between slices; false once the user pressed Escape.
    bool keepGoing();
    // The same, with how far the work has come (total 0 when unknown).
    bool keepGoing(qint64 done, qint64 total);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showShare(qint64 done, qint64 total);

    Pace m_pace;
    QElapsedTimer m_clock;
    qint64 m_lastEvents = -1; // when events were last taken, on m_clock
    QPointer<QtForm> m_window; // showing the share done
    bool m_busyPointer = false;
    bool m_stopped = false;
};
