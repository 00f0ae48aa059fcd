#include "job/stopwatch.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

using Parts = std::array<int64_t, 5>;  // days, hours, minutes, seconds, milliseconds

TEST(BreakDownTicks, SpansAtEveryKindOfFrequency) {
    const struct {
        int64_t earlier, later, frequency;
        Parts parts;
    } cases[] = {
        // The worked examples: 3,579,545 Hz rounds to 3,580 ticks a millisecond.
        {0, 1000000000, 3579545, {0, 0, 4, 39, 329}},
        {100, 100 + 900061234567, 10000000, {1, 1, 0, 6, 123}},
        // Millisecond and day edges at 10,000 ticks a millisecond.
        {0, 9999, 10000000, {0, 0, 0, 0, 0}},
        {0, 10000 * 1000 + 9999, 10000000, {0, 0, 0, 1, 0}},
        {0, 86400000LL * 10000 - 1, 10000000, {0, 23, 59, 59, 999}},
        {0, 35000LL * 86400000 * 10000, 10000000, {35000, 0, 0, 0, 0}},
        // Half up: 1,500 Hz is 2 ticks a millisecond, 1,499 Hz one.
        {0, 3000, 1500, {0, 0, 0, 1, 500}},
        {0, 3000, 1499, {0, 0, 0, 3, 0}},
        // Below 500 Hz a tick is longer than a millisecond: converted exactly;
        // a failed frequency query gives nothing to convert with.
        {0, 250, 100, {0, 0, 0, 2, 500}},
        {0, 1000, 0, {0, 0, 0, 0, 0}},
        {0, 1000, -3, {0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        ElapsedTime t = {-1, -1, -1, -1, -1};
        BreakDownTicksAt(c.earlier, c.later, c.frequency, &t);
        EXPECT_EQ((Parts{t.days, t.hours, t.minutes, t.seconds, t.milliseconds}), c.parts)
            << c.later - c.earlier << " ticks at " << c.frequency << " Hz";
    }
    // The widest span at 1 Hz saturates instead of overflowing.
    ElapsedTime wide = {};
    BreakDownTicksAt(INT64_MIN, INT64_MAX, 1, &wide);
    EXPECT_EQ(wide.days, INT64_MAX / 86400000);
    EXPECT_TRUE(wide.hours >= 0 && wide.hours <= 23 && wide.milliseconds <= 999);
}

}  // namespace
