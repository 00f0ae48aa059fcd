#include "job/stopwatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace {

struct Breakdown {
    int64_t days, hours, minutes, seconds, milliseconds;
};

Breakdown At(int64_t earlier, int64_t later, int64_t frequency) {
    ElapsedTime t = {-1, -1, -1, -1, -1};
    BreakDownTicksAt(earlier, later, frequency, &t);
    return {t.days, t.hours, t.minutes, t.seconds, t.milliseconds};
}

void ExpectBreakdown(const Breakdown& got, const Breakdown& want) {
    EXPECT_EQ(got.days, want.days);
    EXPECT_EQ(got.hours, want.hours);
    EXPECT_EQ(got.minutes, want.minutes);
    EXPECT_EQ(got.seconds, want.seconds);
    EXPECT_EQ(got.milliseconds, want.milliseconds);
}

TEST(BreakDownTicks, WorkedExamples) {
    // 3,579,545 Hz rounds to 3,580 ticks a millisecond.
    ExpectBreakdown(At(0, 1000000000, 3579545), {0, 0, 4, 39, 329});
    ExpectBreakdown(At(100, 100 + 900061234567, 10000000), {1, 1, 0, 6, 123});
}

TEST(BreakDownTicks, MillisecondEdges) {
    const int64_t f = 10000000;  // 10,000 ticks a millisecond
    ExpectBreakdown(At(0, 9999, f), {0, 0, 0, 0, 0});
    ExpectBreakdown(At(0, 10000, f), {0, 0, 0, 0, 1});
    ExpectBreakdown(At(0, 10000 * 1000 + 9999, f), {0, 0, 0, 1, 0});
    ExpectBreakdown(At(0, 86400000LL * 10000, f), {1, 0, 0, 0, 0});
    ExpectBreakdown(At(0, 86400000LL * 10000 - 1, f), {0, 23, 59, 59, 999});
    ExpectBreakdown(At(0, 35000LL * 86400000 * 10000, f), {35000, 0, 0, 0, 0});
    // Readings on either side of zero.
    ExpectBreakdown(At(-5000, 5000, 1000), {0, 0, 0, 10, 0});
}

TEST(BreakDownTicks, FrequencyRoundsToWholeTicksPerMillisecondHalfUp) {
    ExpectBreakdown(At(0, 3000, 1500), {0, 0, 0, 1, 500});  // 2 ticks a ms
    ExpectBreakdown(At(0, 3000, 1499), {0, 0, 0, 3, 0});    // 1 tick a ms
}

TEST(BreakDownTicks, SlowOrMissingCounterNeverDividesByZero) {
    // Below 500 Hz a tick is longer than a millisecond: converted exactly.
    ExpectBreakdown(At(0, 250, 100), {0, 0, 0, 2, 500});
    ExpectBreakdown(At(0, 7, 1), {0, 0, 0, 7, 0});
    // A failed frequency query gives nothing to convert with.
    ExpectBreakdown(At(0, 1000, 0), {0, 0, 0, 0, 0});
    ExpectBreakdown(At(0, 1000, -3), {0, 0, 0, 0, 0});
    // The widest span at 1 Hz saturates instead of overflowing.
    const Breakdown wide = At(INT64_MIN, INT64_MAX, 1);
    EXPECT_EQ(wide.days, INT64_MAX / 86400000);
    EXPECT_GE(wide.hours, 0);
    EXPECT_LE(wide.hours, 23);
    EXPECT_LE(wide.milliseconds, 999);
}

TEST(Stopwatch, MarksNotInOrderGiveZeroAndOne) {
    ElapsedTime t = {7, 7, 7, 7, 7};
    stopwatchMarks.startMark = 5000;
    stopwatchMarks.endMark = 5000;
    EXPECT_EQ(ElapsedStartToEnd(&t), 1);
    EXPECT_EQ(t.days + t.hours + t.minutes + t.seconds + t.milliseconds, 0);
    t = {7, 7, 7, 7, 7};
    stopwatchMarks.endMark = 4999;
    EXPECT_EQ(ElapsedStartToEnd(&t), 1);
    EXPECT_EQ(t.days + t.hours + t.minutes + t.seconds + t.milliseconds, 0);
}

TEST(Stopwatch, MarksAroundARealPauseMeasureIt) {
    MarkStart();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    MarkEnd();
    ElapsedTime t = {};
    ASSERT_EQ(ElapsedStartToEnd(&t), 0);
    const int64_t ms =
        ((t.days * 24 + t.hours) * 60 + t.minutes) * 60000 + t.seconds * 1000 + t.milliseconds;
    EXPECT_GE(ms, 20);
    EXPECT_LT(t.hours, 24);

    ElapsedTime now = {};
    EXPECT_EQ(ElapsedStartToNow(&now), 0);
    EXPECT_GE(stopwatchMarks.nowMark.load(), stopwatchMarks.endMark.load());
    EXPECT_GT(ReadCounterFrequency(), 0);
}

}  // namespace
