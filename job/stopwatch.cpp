#include "job/stopwatch.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

StopwatchMarks stopwatchMarks;

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kMsPerHour = 3600000;
constexpr int64_t kMsPerMinute = 60000;

#if defined(_WIN32)

bool OnNtPlatform() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExA(&info);
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Counters of different processors need not agree on old multi-processor
// machines, so every reading is taken on the first processor.
int64_t PinnedQuery(BOOL(WINAPI* query)(LARGE_INTEGER*)) {
    DWORD_PTR previous = 0;
    if (OnNtPlatform()) previous = SetThreadAffinityMask(GetCurrentThread(), 1);
    LARGE_INTEGER value;
    value.QuadPart = 0;
    const BOOL ok = query(&value);
    // previous is 0 when pinning failed: nothing to restore then.
    if (OnNtPlatform() && previous != 0) SetThreadAffinityMask(GetCurrentThread(), previous);
    return ok ? value.QuadPart : 0;
}

#endif

void Clear(ElapsedTime* out) {
    out->days = 0;
    out->hours = 0;
    out->minutes = 0;
    out->seconds = 0;
    out->milliseconds = 0;
}

int ElapsedFromStartTo(int64_t later, ElapsedTime* out) {
    const int64_t start = stopwatchMarks.startMark.load(std::memory_order_relaxed);
    if (start < later) {
        BreakDownTicks(start, later, out);
        return 0;
    }
    Clear(out);
    return 1;
}

}  // namespace

#if defined(_WIN32)

int64_t ReadCounter() { return PinnedQuery(QueryPerformanceCounter); }
int64_t ReadCounterFrequency() { return PinnedQuery(QueryPerformanceFrequency); }

#else  // A monotonic clock in nanoseconds stands in for the counter.

int64_t ReadCounter() {
    timespec t;
    if (clock_gettime(CLOCK_MONOTONIC, &t) != 0) return 0;
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t ReadCounterFrequency() { return 1000000000; }

#endif

void MarkStart() { stopwatchMarks.startMark.store(ReadCounter(), std::memory_order_relaxed); }
void MarkEnd() { stopwatchMarks.endMark.store(ReadCounter(), std::memory_order_relaxed); }

int ElapsedStartToEnd(ElapsedTime* out) {
    return ElapsedFromStartTo(stopwatchMarks.endMark.load(std::memory_order_relaxed), out);
}

int ElapsedStartToNow(ElapsedTime* out) {
    const int64_t now = ReadCounter();
    stopwatchMarks.nowMark.store(now, std::memory_order_relaxed);
    return ElapsedFromStartTo(now, out);
}

void BreakDownTicks(int64_t earlier, int64_t later, ElapsedTime* out) {
    BreakDownTicksAt(earlier, later, ReadCounterFrequency(), out);
}

void BreakDownTicksAt(int64_t earlier, int64_t later, int64_t frequency, ElapsedTime* out) {
    Clear(out);
    if (frequency <= 0 || later <= earlier) return;
    // The difference of two signed readings can exceed the signed range.
    const uint64_t span = static_cast<uint64_t>(later) - static_cast<uint64_t>(earlier);
    const int64_t ticksPerMs = frequency / 1000 + (frequency % 1000 >= 500 ? 1 : 0);
    int64_t ms;
    if (ticksPerMs > 0) {
        ms = static_cast<int64_t>(span / static_cast<uint64_t>(ticksPerMs));
    } else {
        const unsigned __int128 exact =
            static_cast<unsigned __int128>(span) * 1000 / static_cast<uint64_t>(frequency);
        ms = exact > static_cast<unsigned __int128>(INT64_MAX) ? INT64_MAX
                                                               : static_cast<int64_t>(exact);
    }
    out->days = ms / kMsPerDay;
    int64_t rest = ms - out->days * kMsPerDay;
    out->hours = rest / kMsPerHour;
    rest -= out->hours * kMsPerHour;
    out->minutes = rest / kMsPerMinute;
    rest -= out->minutes * kMsPerMinute;
    out->seconds = rest / 1000;
    out->milliseconds = rest - out->seconds * 1000;
}
