#include <gtest/gtest.h>

#include <vector>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/limb_groups.h"
#include "engine/size_estimates.h"

namespace {

void MultiplyUpTo(uint64_t n) {
    for (uint64_t k = 1; k <= n; ++k) ASSERT_EQ(AccMultiply(k), kAccOk) << "at " << k;
}

class AccumulatorTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(AccAllocate(64 * 1024), 0); }
    void TearDown() override { EXPECT_EQ(AccRelease(), 0); }
};

TEST_F(AccumulatorTest, FreshValueIsOneAndMultiplyingByOneChangesNothing) {
    EXPECT_EQ(AccLimbCount(), 1u);
    EXPECT_EQ(AccTopIndex(), 0u);
    EXPECT_EQ(AccLimb(0), 1u);
    EXPECT_EQ(CountResultDigits(), 1u);
    EXPECT_EQ(AccMultiply(1), kAccOk);
    EXPECT_EQ(AccLimbCount(), 1u);
    EXPECT_EQ(AccLimb(0), 1u);
}

TEST_F(AccumulatorTest, TwentyFactorialSpansTwoLimbs) {
    MultiplyUpTo(20);
    EXPECT_EQ(AccTopIndex(), 1u);
    EXPECT_EQ(AccLimb(0), 432902008176640000ULL);
    EXPECT_EQ(AccLimb(1), 2u);
    EXPECT_EQ(CountResultDigits(), 19u);
}

TEST_F(AccumulatorTest, LowIndexStepsPastTheFirstZeroLimbAtSeventySix) {
    MultiplyUpTo(75);  // 75! ends in exactly 18 zeros
    EXPECT_EQ(AccLimbCount(), 7u);
    EXPECT_EQ(AccLimb(0), 0u);
    EXPECT_NE(AccLimb(1) % 10, 0u);
    EXPECT_EQ(AccLowIndex(), 0u);  // the skip runs at the next multiplication
    ASSERT_EQ(AccMultiply(76), kAccOk);
    EXPECT_EQ(AccLowIndex(), 1u);
    EXPECT_EQ(AccLimb(0), 0u);
}

TEST_F(AccumulatorTest, LimbBaseAsMultiplierAddsOneZeroLimb) {
    ASSERT_EQ(AccMultiply(kLimbBase), kAccOk);
    EXPECT_EQ(AccTopIndex(), 1u);
    EXPECT_EQ(AccLimb(0), 0u);
    EXPECT_EQ(AccLimb(1), 1u);
    // The largest allowed multiplier on the largest limbs keeps every limb in base.
    ASSERT_EQ(AccMultiply(kLimbBase - 1), kAccOk);
    ASSERT_EQ(AccMultiply(kLimbBase - 1), kAccOk);
    EXPECT_EQ(AccLowIndex(), 1u);
    // (10^18 - 1)^2 = 10^36 - 2*10^18 + 1: limbs [1, 10^18 - 2] above the zero limb.
    EXPECT_EQ(AccTopIndex(), 2u);
    EXPECT_EQ(AccLimb(1), 1u);
    EXPECT_EQ(AccLimb(2), kLimbBase - 2);
}

TEST(AccumulatorKernel, OnePageBlockRunsOutOfRoomAtIndex512) {
    std::vector<uint64_t> block(512, 0xDEADBEEF);
    AccSetUp(block.data(), 4096);
    for (int k = 1; k <= 511; ++k) ASSERT_EQ(AccMultiply(kLimbBase), kAccOk);
    EXPECT_EQ(AccTopIndex(), 511u);
    EXPECT_EQ(AccLimb(511), 1u);
    EXPECT_EQ(AccMultiply(kLimbBase), kAccNoRoom);
    EXPECT_EQ(AccTopIndex(), 511u);
    EXPECT_EQ(AccLimb(511), 0u);  // the product modulo 10^(18 * 512)
}

TEST(AccumulatorKernel, FactorialFillsAOnePageBlockExactlyWhereItsDigitsSayItShould) {
    // The first k whose factorial needs more than 512 limbs is where the
    // multiplication must fail, and not one multiplier earlier.
    uint64_t first = 2;
    while (static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(first))) <= 512 * 18) ++first;
    std::vector<uint64_t> block(512);
    AccSetUp(block.data(), 4096);
    for (uint64_t k = 1; k < first; ++k) ASSERT_EQ(AccMultiply(k), kAccOk) << k;
    EXPECT_EQ(AccTopIndex(), 511u);
    EXPECT_EQ(AccMultiply(first), kAccNoRoom);
    EXPECT_EQ(AccTopIndex(), 511u);
}

TEST(AccumulatorMemory, RequestsAreRaisedToWholePages) {
    const uint64_t page = AccPageSize();
    ASSERT_GT(page, 0u);
    ASSERT_EQ(AccAllocate(1), 0);
    EXPECT_EQ(AccByteSize(), page);
    EXPECT_EQ(AccTopIndex(), 0u);
    EXPECT_EQ(AccRelease(), 0);

    ASSERT_EQ(AccAllocate(3 * page), 0);
    EXPECT_EQ(AccByteSize(), 3 * page);
    // The whole block is committed and zero-filled: the last limb is usable.
    EXPECT_EQ(AccBase()[3 * page / 8 - 1], 0u);
    EXPECT_EQ(AccRelease(), 0);

    EXPECT_EQ(RoundUpToPages(2539192, 4096), 2539520u);
    EXPECT_EQ(RoundUpToPages(100000, 4096), 102400u);
    EXPECT_EQ(RoundUpToPages(0x20000, 4096), 0x20000u);
}

TEST(AccumulatorMemory, ReleaseAfterAFailedMultiplicationSucceeds) {
    ASSERT_EQ(AccAllocate(1), 0);
    const uint64_t limbsInBlock = AccByteSize() / 8;
    int status = kAccOk;
    for (uint64_t k = 0; k < limbsInBlock && status == kAccOk; ++k) status = AccMultiply(kLimbBase);
    EXPECT_EQ(status, kAccNoRoom);
    EXPECT_EQ(AccRelease(), 0);
}

TEST(AccumulatorMemory, RefusedAllocationLeavesTheStateAlone) {
    std::vector<uint64_t> block(4, 0);
    AccSetUp(block.data(), 32);
    ASSERT_EQ(AccMultiply(kLimbBase), kAccOk);
    EXPECT_EQ(AccAllocate(UINT64_C(1) << 62), 1);
    EXPECT_EQ(AccBase(), block.data());
    EXPECT_EQ(AccTopIndex(), 1u);
    EXPECT_EQ(AccByteSize(), 32u);
}

}  // namespace
