#pragma once

#include <ctime>

// Times in ms. The machine is shared: work on one thread is timed in that thread's processor
// time, which waiting for a core does not inflate; work spread over threads on the clock.
inline double millisecondsOn(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

inline double cpuMs() { return millisecondsOn(CLOCK_THREAD_CPUTIME_ID); }
inline double clockMs() { return millisecondsOn(CLOCK_MONOTONIC); }
