#include <gtest/gtest.h>

#include <vector>

#include "engine/decimal_accumulator.h"
#include "engine/limb_groups.h"

namespace {

LimbGroups Split(uint64_t v) {
    LimbGroups r{};
    r.value = v;
    SplitLimb(&r);
    return r;
}

void ExpectGroups(const LimbGroups& r, std::vector<uint64_t> groups, uint64_t top) {
    EXPECT_EQ(r.groupCount, 6u);
    EXPECT_EQ(r.topGroup, top) << "value " << r.value;
    for (int k = 0; k < 6; ++k) EXPECT_EQ(r.groups[k], groups[k]) << "group " << k << " of " << r.value;
}

TEST(SplitLimb, GroupsAndTopGroup) {
    ExpectGroups(Split(0), {0, 0, 0, 0, 0, 0}, 0);
    ExpectGroups(Split(7), {7, 0, 0, 0, 0, 0}, 0);
    ExpectGroups(Split(1000), {0, 1, 0, 0, 0, 0}, 1);
    ExpectGroups(Split(432902008176640000ULL), {0, 640, 176, 8, 902, 432}, 5);
    ExpectGroups(Split(kLimbBase - 1), {999, 999, 999, 999, 999, 999}, 5);
    ExpectGroups(Split(2000000000000000ULL), {0, 0, 0, 0, 0, 2}, 5);
    ExpectGroups(Split(123456789012ULL), {12, 789, 456, 123, 0, 0}, 3);
    EXPECT_EQ(Split(99).value, 99u);  // the value is left as it was
}

TEST(CountResultDigits, CountsThePowersOfTenAtEveryWidth) {
    uint64_t limbs[2] = {0, 0};
    uint64_t power = 1;
    for (uint64_t k = 1; k <= 18; ++k) {
        AccSetUp(limbs, sizeof limbs);
        limbs[0] = power;
        EXPECT_EQ(CountResultDigits(), k) << power;
        limbs[0] = power * 10 - 1;  // 9, 99, ..., 10^18 - 1
        EXPECT_EQ(CountResultDigits(), k) << power * 10 - 1;
        power *= 10;
    }
    AccSetUp(limbs, sizeof limbs);
    limbs[0] = 100000000000000000ULL;  // 10^17
    EXPECT_EQ(CountResultDigits(), 18u);
    limbs[0] = 99999999999999999ULL;  // 10^17 - 1
    EXPECT_EQ(CountResultDigits(), 17u);
    // Across the limb boundary: 10^18 has 19 digits.
    ASSERT_EQ(AccMultiply(1), kAccOk);
    limbs[0] = 1;
    ASSERT_EQ(AccMultiply(kLimbBase), kAccOk);
    EXPECT_EQ(AccTopIndex(), 1u);
    EXPECT_EQ(CountResultDigits(), 19u);
}

TEST(CountResultDigits, SmallFactorials) {
    uint64_t limbs[8] = {};
    AccSetUp(limbs, sizeof limbs);
    for (uint64_t k = 1; k <= 25; ++k) ASSERT_EQ(AccMultiply(k), kAccOk);
    EXPECT_EQ(CountResultDigits(), 26u);  // 25! = 15511210043330985984000000
}

}  // namespace
