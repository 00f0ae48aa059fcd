// Where the accumulator runs out of room, its memory, the digit count at the
// powers of ten, and the size estimates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/factorial_steps.h"
#include "engine/limb_groups.h"
#include "engine/size_estimates.h"
#include "engine/work_memory.h"
#include "tests/support/oracle_data.h"

namespace {

uint64_t FirstThatNeedsMoreLimbsThan(uint64_t limbs) {
    uint64_t k = 2;
    while (static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(k))) <= limbs * 18) ++k;
    return k;
}

// One page of memory: 5000! must run out of room at exactly the first k whose k! needs a 513th
// limb, one multiplier at a time or by the job's steps. A block that holds 3000! exactly but not
// the products of its last step still reaches it, by word multiplications.
TEST(Accumulator, RunsOutOfRoomAtTheExactMultiplier) {
    const uint64_t first = FirstThatNeedsMoreLimbsThan(512);
    std::vector<uint64_t> block(512, 0xDEADBEEF);
    AccSetUp(block.data(), 4096);
    for (uint64_t k = 1; k < first; ++k) ASSERT_EQ(AccMultiply(k), kAccOk) << k;
    EXPECT_EQ(AccMultiply(first), kAccNoRoom);
    EXPECT_EQ(AccTopIndex(), 511u);

    const uint64_t limbsOf3000 = BytesForDigits(EstimateDigits(3000)) / 8;
    for (const uint64_t n : {5000u, 3000u}) {
        block.assign(n == 5000 ? 512 : limbsOf3000, 0xDEADBEEF);
        AccSetUp(block.data(), block.size() * 8);
        ASSERT_EQ(WorkMemoryAllocate(FactorialWorkBytes(n)), 0);
        PrepareFactorialSteps(n);
        uint64_t checkpoints[kMostCheckpoints], from = 0, reached = 0;
        int status = kAccOk;
        const unsigned count = FactorialCheckpoints(n, checkpoints);
        for (unsigned i = 0; i < count && status == kAccOk; from = checkpoints[i++]) {
            status = AccFactorialStep(from, checkpoints[i], &reached);
        }
        EXPECT_EQ(WorkMemoryRelease(), 0);
        EXPECT_EQ(status, n == 5000 ? kAccNoRoom : kAccOk) << n;
        EXPECT_EQ(reached, n == 5000 ? first : n);
        EXPECT_EQ(AccTopIndex(), block.size() - 1);
    }
    EXPECT_EQ(block, LimbsOfDecimal(ExpectedDigits(3000)));
}

// A petabyte: more than any system grants, so the refusal is the system's own.
TEST(Memory, RefusedForReal) {
    constexpr uint64_t kPetabyte = uint64_t{1} << 50;
    EXPECT_EQ(WorkMemoryAllocate(kPetabyte), 1);
    EXPECT_EQ(WorkMemoryBytes(), 0u);
    EXPECT_EQ(AccAllocate(kPetabyte), 1);
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
