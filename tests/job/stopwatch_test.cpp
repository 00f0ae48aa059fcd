#include "job/stopwatch.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <thread>

namespace {

using Parts = std::array<int64_t, 5>;  // days, hours, minutes, seconds, milliseconds

Parts At(int64_t earlier, int64_t later, int64_t frequency) {
    ElapsedTime t = {-1, -1, -1, -1, -1};
    BreakDownTicksAt(earlier, later, frequency, &t);
    return {t.days, t.hours, t.minutes, t.seconds, t.milliseconds};
}

TEST(BreakDownTicks, WorkedExamples) {
    // 3,579,545 Hz rounds to 3,580 ticks a millisecond.
    EXPECT_EQ(At(0, 1000000000, 3579545), (Parts{0, 0, 4, 39, 329}));
    EXPECT_EQ(At(100, 100 + 900061234567, 10000000), (Parts{1, 1, 0, 6, 123}));
}

TEST(BreakDownTicks, MillisecondEdges) {
    const int64_t f = 10000000;  // 10,000 ticks a millisecond
    EXPECT_EQ(At(0, 9999, f), (Parts{0, 0, 0, 0, 0}));
    EXPECT_EQ(At(0, 10000, f), (Parts{0, 0, 0, 0, 1}));
    EXPECT_EQ(At(0, 10000 * 1000 + 9999, f), (Parts{0, 0, 0, 1, 0}));
    EXPECT_EQ(At(0, 86400000LL * 10000, f), (Parts{1, 0, 0, 0, 0}));
    EXPECT_EQ(At(0, 86400000LL * 10000 - 1, f), (Parts{0, 23, 59, 59, 999}));
    EXPECT_EQ(At(0, 35000LL * 86400000 * 10000, f), (Parts{35000, 0, 0, 0, 0}));
    // Readings on either side of zero.
    EXPECT_EQ(At(-5000, 5000, 1000), (Parts{0, 0, 0, 10, 0}));
}

TEST(BreakDownTicks, FrequencyRoundsToWholeTicksPerMillisecondHalfUp) {
    EXPECT_EQ(At(0, 3000, 1500), (Parts{0, 0, 0, 1, 500}));  // 2 ticks a ms
    EXPECT_EQ(At(0, 3000, 1499), (Parts{0, 0, 0, 3, 0}));    // 1 tick a ms
}

TEST(BreakDownTicks, SlowOrMissingCounterNeverDividesByZero) {
    // Below 500 Hz a tick is longer than a millisecond: converted exactly.
    EXPECT_EQ(At(0, 250, 100), (Parts{0, 0, 0, 2, 500}));
    EXPECT_EQ(At(0, 7, 1), (Parts{0, 0, 0, 7, 0}));
    // A failed frequency query gives nothing to convert with.
    EXPECT_EQ(At(0, 1000, 0), (Parts{0, 0, 0, 0, 0}));
    EXPECT_EQ(At(0, 1000, -3), (Parts{0, 0, 0, 0, 0}));
    // The widest span at 1 Hz saturates instead of overflowing.
    const Parts wide = At(INT64_MIN, INT64_MAX, 1);
    EXPECT_EQ(wide[0], INT64_MAX / 86400000);
    EXPECT_TRUE(wide[1] >= 0 && wide[1] <= 23 && wide[4] <= 999);
}

TEST(Stopwatch, MarksNotInOrderGiveZeroAndOne) {
    stopwatchMarks.startMark = 5000;
    for (int64_t end : {5000, 4999}) {
        stopwatchMarks.endMark = end;
        ElapsedTime t = {7, 7, 7, 7, 7};
        EXPECT_EQ(ElapsedStartToEnd(&t), 1) << end;
        EXPECT_EQ(t.days + t.hours + t.minutes + t.seconds + t.milliseconds, 0) << end;
    }
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
