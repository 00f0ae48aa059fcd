// Where the accumulator runs out of room, its memory, the digit count at the
// powers of ten, and the size estimates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/limb_groups.h"
#include "engine/multiply_dispatch.h"
#include "engine/row_team.h"
#include "engine/size_estimates.h"

namespace {

// One page of memory: a factorial must run out of room at exactly the first
// k whose k! needs a 513th limb, one multiplier at a time or in blocks.
TEST(Accumulator, OnePageRunsOutOfRoomAtTheExactMultiplier) {
    uint64_t first = 2;
    while (static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(first))) <= 512 * 18) ++first;
    std::vector<uint64_t> block(512, 0xDEADBEEF);
    AccSetUp(block.data(), 4096);
    for (uint64_t k = 1; k < first; ++k) ASSERT_EQ(AccMultiply(k), kAccOk) << k;
    EXPECT_EQ(AccMultiply(first), kAccNoRoom);
    EXPECT_EQ(AccTopIndex(), 511u);

    // In blocks of up to eight groups, cut into parts of 16 limbs.
    RowTeamStart(1, {nullptr, nullptr, 16});
    AccSetUp(block.data(), 4096);
    uint64_t k = 1, reached = 0;
    int status = kAccOk;
    for (; status == kAccOk; k = reached + 1) {
        status = AccMultiplyGroup(k, AccBlockEnd(k, 1000000), &reached);
    }
    RowTeamStop();
    EXPECT_EQ(status, kAccNoRoom);
    EXPECT_EQ(reached, first);
    EXPECT_EQ(AccTopIndex(), 511u);
}

// 2^18 * 5^18 is 10^18, where a lazy pass's estimate comes out one short: a top limb of 2^18 is
// left at the base itself, and normalizing turns it into a limb of its own above a zero one.
TEST(Accumulator, ALazyTopLimbAtTheBaseNormalizesIntoANewLimb) {
    if (!GroupKernelOf(BestMultiplyVariant()).lazy) GTEST_SKIP() << "no lazy kernel here";
    constexpr uint64_t kFive18 = 3814697265625ULL;
    alignas(64) uint64_t block[32] = {};
    AccSetUp(block, sizeof block);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(AccMultiply(kLimbBase - 1), kAccOk);
    ASSERT_EQ(AccTopIndex(), 15u);  // sixteen limbs, none zero
    std::fill(block, block + 15, 1);
    block[15] = 1 << 18;
    uint64_t reached = 0;
    ASSERT_EQ(AccMultiplyGroup(kFive18, kFive18, &reached), kAccOk);
    AccNormalize();
    std::vector<uint64_t> expected(15, kFive18);
    expected.insert(expected.end(), {0, 1});
    EXPECT_EQ(std::vector<uint64_t>(block, block + AccTopIndex() + 1), expected);
}

TEST(LimbGroups, DigitCountAtEveryPowerOfTen) {
    // Every power of ten and the number below it, in a number's only limb and
    // in the top one of two.
    uint64_t limbs[2] = {};
    for (const uint64_t top : {0u, 1u}) {
        AccSetUp(limbs, sizeof limbs);
        ASSERT_EQ(top ? AccMultiply(kLimbBase) : kAccOk, kAccOk);
        uint64_t power = 1;
        for (uint64_t digits = 1; digits <= 18; ++digits, power *= 10) {
            limbs[top] = power;
            EXPECT_EQ(CountResultDigits(), digits + 18 * top);
            limbs[top] = power * 10 - 1;
            EXPECT_EQ(CountResultDigits(), digits + 18 * top);
        }
    }
}

TEST(SizeEstimates, ExactDigitCountsUpToOneMillionAndTheirBytes) {
    // The exact digit count of n! is floor(log10 n!) + 1, with log10 n! summed
    // term by term in extended precision (Kahan-compensated), whose error
    // stays far below the fractional parts' distance from an integer.
    long double sum = 0, compensation = 0;
    int64_t mismatches = 0;
    EXPECT_EQ(EstimateDigits(0), 1);
    for (int64_t n = 1; n <= 1000000; ++n) {
        const long double term = std::log10(static_cast<long double>(n)) - compensation;
        const long double next = sum + term;
        compensation = (next - sum) - term;
        sum = next;
        const int64_t exact = static_cast<int64_t>(std::floor(sum)) + 1;
        if (EstimateDigits(n) != exact && ++mismatches <= 5) {
            ADD_FAILURE() << "n = " << n << ": estimate " << EstimateDigits(n) << ", exact "
                          << exact;
        }
    }
    EXPECT_EQ(mismatches, 0);
    const uint64_t bytes[][2] = {{0, 0}, {1, 8}, {18, 8}, {19, 16}, {5565709, 2473656}};
    for (const auto& b : bytes) EXPECT_EQ(BytesForDigits(b[0]), b[1]) << b[0];
}

}  // namespace
