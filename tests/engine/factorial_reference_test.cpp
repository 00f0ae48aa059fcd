// N! from the job's loop of blocks of groups against GMP's value, limb by limb: each kernel on
// one thread and across late helpers at every block's end up to 3,000, blocks ending exactly at
// N, and checkpoints up to 1,000,000.
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

bool ReferenceAvailable() { return ExpectedDigits(0) == "1"; }

// The value is n!, and the zero-limb skip has kept up with its trailing zero
// limbs (a pass makes at most one more).
void Check(unsigned n) {
    const std::vector<uint64_t> limbs =
        Normalized(std::vector<uint64_t>(AccBase(), AccBase() + AccTopIndex() + 1));
    ASSERT_EQ(limbs, LimbsOfDecimal(ExpectedDigits(n))) << n << "!";
    uint64_t zeros = 0;
    while (limbs[zeros] == 0) ++zeros;
    ASSERT_GE(AccLowIndex() + 1, zeros) << n << "!";
}

void Allocate(unsigned n) { ASSERT_EQ(AccAllocate(BytesForDigits(EstimateDigits(n)) + 65536), 0); }

// The job's loop from `first` up to n in blocks, checking the value at every
// block's end when asked. A block is whole groups, each as long as the
// kernel's limit allows. Returns the next multiplier.
unsigned BlocksUpTo(unsigned first, unsigned n, bool checkEveryBlock) {
    const unsigned __int128 limit = ActiveGroupKernel().limit;
    while (first <= n) {
        const unsigned last = static_cast<unsigned>(AccBlockEnd(first, n));
        for (unsigned k = first; k <= last;) {
            const unsigned end = static_cast<unsigned>(AccGroupEnd(k, n));
            unsigned __int128 product = 1;
            for (unsigned j = k; j <= end; ++j) product *= j;
            EXPECT_LT(product, limit) << k << ".." << end;
            EXPECT_LE(end, last);
            k = end + 1;
        }
        uint64_t reached = 0;
        EXPECT_EQ(AccMultiplyGroup(first, last, &reached), kAccOk);
        EXPECT_EQ(reached, last);
        if (checkEveryBlock) Check(last);
        if (testing::Test::HasFailure()) break;
        first = last + 1;
    }
    return first;
}

std::atomic<int> helpersMayStart{0};

// A helper that gets no processor until the test lets it.
unsigned long LateStart(void (*body)(void*), void* context) {
    while (helpersMayStart.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    body(context);
    return 0;
}

// Every kernel's grouped form in blocks cut into parts of 16 limbs and up, on
// one thread, then across three threads whose helpers start only halfway.
TEST(Factorials, BlocksOnOneThreadAndAcrossLateHelpersUpTo3000) {
    ASSERT_TRUE(ReferenceAvailable()) << "reference data missing (run with --oracle=DIR)";
    for (int variant = 0; variant < kMultiplyVariantCount; ++variant) {
        if (!ForceMultiplyVariant(variant)) continue;
        for (const unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(std::string(MultiplyVariantName(variant)) + " x" +
                         std::to_string(threads));
            helpersMayStart = 0;
            ASSERT_EQ(RowTeamStart(threads, {LateStart, nullptr, 16}), threads);
            Allocate(kDenseFactorialLimit);
            const unsigned next = BlocksUpTo(1, kDenseFactorialLimit / 2, true);
            helpersMayStart = 1;
            BlocksUpTo(next, kDenseFactorialLimit, true);
            AccNormalize();
            Check(kDenseFactorialLimit);
            EXPECT_EQ(AccRelease(), 0);
            RowTeamStop();
            if (HasFailure()) return;
        }
    }
    ForceMultiplyVariant(BestMultiplyVariant());
}

// Blocks cut short at N, one run each; then one run with stops at the
// checkpoints, across helpers as the job does.
TEST(Factorials, BlocksEndingExactlyAtNAndCheckpointsToOneMillion) {
    ASSERT_TRUE(ReferenceAvailable()) << "reference data missing (run with --oracle=DIR)";
    for (const unsigned n : {0u, 1u, 2u, 3u, 14u, 15u, 16u, 17u, 100u, 999u, 2999u}) {
        Allocate(n);
        BlocksUpTo(1, n, false);
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
        next = BlocksUpTo(next, n, false);
        AccNormalize();
        Check(n);
        EXPECT_EQ(CountResultDigits(), static_cast<uint64_t>(EstimateDigits(n)));
        if (HasFailure()) break;
    }
    EXPECT_EQ(AccRelease(), 0);
    RowTeamStop();
}

}  // namespace
