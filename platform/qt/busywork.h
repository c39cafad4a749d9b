#pragma once

#include <QElapsedTimer>
#include <QObject>

// Long work on the user-interface thread, run in slices: between slices the window repaints,
// the busy pointer shows once the work has taken 0.2 s, and Escape stops it. No other input
// reaches the program meanwhile, so nothing changes what the work is reading.
class BusyWork : public QObject
{
public:
    BusyWork();
    ~BusyWork() override;
    BusyWork(const BusyWork &) = delete;
    BusyWork &operator=(const BusyWork &) = delete;

    // Called between slices; false once the user pressed Escape.
    bool keepGoing();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QElapsedTimer m_clock;
    bool m_busyPointer = false;
    bool m_stopped = false;
};
