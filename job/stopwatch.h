// Times the multiplication loop with the high-resolution counter and breaks a
// span of ticks down into days .. milliseconds for the reports.
#pragma once

#include <atomic>
#include <cstdint>

#include "job/elapsed_time.h"

// Counter readings. The worker writes the start and end marks, the UI thread
// the now mark; the UI thread also reads the start mark while the job runs.
// They keep their last values between jobs.
struct StopwatchMarks {
    std::atomic<int64_t> endMark;
    std::atomic<int64_t> startMark;
    std::atomic<int64_t> nowMark;
};

extern StopwatchMarks stopwatchMarks;

void MarkStart();
void MarkEnd();

// Fill `out` with the span from the start mark to the end (or a fresh now)
// mark and return 0; when that mark is not later than the start, all zero and 1.
int ElapsedStartToEnd(ElapsedTime* out);
int ElapsedStartToNow(ElapsedTime* out);

// Breaks later - earlier (later > earlier) down at the counter's frequency.
void BreakDownTicks(int64_t earlier, int64_t later, ElapsedTime* out);

// The arithmetic of BreakDownTicks for a given frequency in ticks per second.
// The frequency is rounded to whole ticks per millisecond, half up. A counter
// slower than 500 ticks a second has less than one tick per millisecond: its
// span is converted exactly instead. No frequency (0 or less: the query
// failed) gives all zero.
void BreakDownTicksAt(int64_t earlier, int64_t later, int64_t frequency, ElapsedTime* out);

// Pinned readings of the counter and its frequency (ticks per second).
int64_t ReadCounter();
int64_t ReadCounterFrequency();
