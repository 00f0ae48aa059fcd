// N! from the accumulator against GMP's exact value, limb by limb: the
// per-multiplier loop with each kernel up to 3,000, and the grouped loop the
// job runs, on one thread and split across helpers that start late, at every
// group's end up to 3,000, for groups ending exactly at N, and at checkpoints
// up to 1,000,000.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <thread>
#include <vector>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/limb_groups.h"
#include "engine/multiply_dispatch.h"
#include "engine/row_team.h"
#include "engine/size_estimates.h"
#include "tests/support/oracle_data.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr unsigned kLargestChecked = 100000;  // the unoptimized build takes minutes beyond
#else
constexpr unsigned kLargestChecked = 1000000;
#endif

// The value's limbs, normalized here if the accumulator holds them lazy.
std::vector<uint64_t> NormalizedLimbs() {
    std::vector<uint64_t> limbs;
    uint64_t carry = 0;
    for (uint64_t i = 0; i <= AccTopIndex(); ++i) {
        const uint64_t v = AccBase()[i] + carry;
        limbs.push_back(v % kLimbBase);
        carry = v / kLimbBase;
    }
    if (carry) limbs.push_back(carry);
    return limbs;
}

bool ReferenceAvailable() { return ExpectedDigits(0) == "1"; }

// The value is n!, and the zero-limb skip has kept up with its trailing zero
// limbs (a pass makes at most one more).
void Check(unsigned n) {
    const std::vector<uint64_t> limbs = NormalizedLimbs();
    ASSERT_EQ(limbs, LimbsOfDecimal(ExpectedDigits(n))) << n << "!";
    uint64_t zeros = 0;
    while (limbs[zeros] == 0) ++zeros;
    ASSERT_GE(AccLowIndex() + 1, zeros) << n << "!";
}

void Allocate(unsigned n) { ASSERT_EQ(AccAllocate(BytesForDigits(EstimateDigits(n)) + 65536), 0); }

// The job's loop from `first` up to n, checking the value at every group's end
// when asked. Every group is as long as the kernel's limit allows. Returns
// the next multiplier.
unsigned GroupedUpTo(unsigned first, unsigned n, bool checkEveryGroup) {
    const unsigned __int128 limit = ActiveGroupKernel().limit;
    while (first <= n) {
        const unsigned last = static_cast<unsigned>(AccGroupEnd(first, n));
        unsigned __int128 product = 1;
        for (unsigned k = first; k <= last; ++k) product *= k;
        EXPECT_LT(product, limit) << first << ".." << last;
        if (last < n) {
            EXPECT_GE(product * (last + 1), limit) << first << ".." << last;
        }
        uint64_t reached = 0;
        EXPECT_EQ(AccMultiplyGroup(first, last, &reached), kAccOk);
        EXPECT_EQ(reached, last);
        if (checkEveryGroup) Check(last);
        if (testing::Test::HasFailure()) break;
        first = last + 1;
    }
    return first;
}

TEST(Factorials, PerMultiplierWithEachKernelUpTo3000) {
    ASSERT_TRUE(ReferenceAvailable()) << "reference data missing (run with --oracle=DIR)";
    for (int variant = 0; variant < kMultiplyVariantCount; ++variant) {
        if (!ForceMultiplyVariant(variant)) continue;
        SCOPED_TRACE(MultiplyVariantName(variant));
        Allocate(kDenseFactorialLimit);
        for (unsigned n = 1; n <= kDenseFactorialLimit && !HasFailure(); ++n) {
            ASSERT_EQ(AccMultiply(n), kAccOk);
            Check(n);
            ASSERT_EQ(CountResultDigits(), static_cast<uint64_t>(EstimateDigits(n)));
        }
        EXPECT_EQ(AccRelease(), 0);
    }
    ForceMultiplyVariant(BestMultiplyVariant());
}

std::atomic<int> helpersMayStart{0};

// A helper that gets no processor until the test lets it.
unsigned long LateStart(void (*body)(void*), void* context) {
    while (helpersMayStart.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    body(context);
    return 0;
}

// Every kernel's grouped form on one thread, then split into parts of 16
// limbs and up across three threads whose helpers start only halfway.
TEST(Factorials, GroupedOnOneThreadAndAcrossLateHelpersUpTo3000) {
    ASSERT_TRUE(ReferenceAvailable()) << "reference data missing (run with --oracle=DIR)";
    for (int variant = 0; variant < kMultiplyVariantCount; ++variant) {
        if (!ForceMultiplyVariant(variant)) continue;
        for (const unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(std::string(MultiplyVariantName(variant)) + " x" +
                         std::to_string(threads));
            helpersMayStart = 0;
            ASSERT_EQ(RowTeamStart(threads, {LateStart, nullptr, 16}), threads);
            Allocate(kDenseFactorialLimit);
            const unsigned next = GroupedUpTo(1, kDenseFactorialLimit / 2, true);
            helpersMayStart = 1;
            GroupedUpTo(next, kDenseFactorialLimit, true);
            AccNormalize();
            Check(kDenseFactorialLimit);
            EXPECT_EQ(AccRelease(), 0);
            RowTeamStop();
            if (HasFailure()) return;
        }
    }
    ForceMultiplyVariant(BestMultiplyVariant());
}

// Groups cut short at N, one run each; then one run with stops at the
// checkpoints, split across helpers as the job does.
TEST(Factorials, GroupsEndingExactlyAtNAndCheckpointsToOneMillion) {
    ASSERT_TRUE(ReferenceAvailable()) << "reference data missing (run with --oracle=DIR)";
    for (const unsigned n : {0u, 1u, 2u, 3u, 14u, 15u, 16u, 17u, 100u, 999u, 2999u}) {
        Allocate(n);
        GroupedUpTo(1, n, false);
        AccNormalize();
        Check(n);
        EXPECT_EQ(CountResultDigits(), static_cast<uint64_t>(EstimateDigits(n)));
        EXPECT_EQ(AccRelease(), 0);
    }
    RowTeamStart(2, {nullptr, nullptr, kRowTeamMinPartLimbs});
    Allocate(kLargestChecked);
    unsigned next = 1;
    for (const unsigned n : kFactorialCheckpoints) {
        if (n > kLargestChecked) break;
        next = GroupedUpTo(next, n, false);
        AccNormalize();
        Check(n);
        EXPECT_EQ(CountResultDigits(), static_cast<uint64_t>(EstimateDigits(n)));
        if (HasFailure()) break;
    }
    EXPECT_EQ(AccRelease(), 0);
    RowTeamStop();
}

}  // namespace
