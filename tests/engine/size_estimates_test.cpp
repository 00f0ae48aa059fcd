#include <gtest/gtest.h>

#include <cmath>

#include "engine/size_estimates.h"

namespace {

TEST(EstimateDigits, KnownValues) {
    const struct {
        int64_t n, digits;
    } table[] = {{0, 1},        {1, 1},         {2, 1},          {3, 1},         {4, 2},
                 {5, 3},        {10, 7},        {20, 19},        {100, 158},     {1000, 2568},
                 {10000, 35660}, {100000, 456574}, {1000000, 5565709}};
    for (const auto& row : table) EXPECT_EQ(EstimateDigits(row.n), row.digits) << row.n;
}

// Independent check over the whole accepted range: the exact digit count of
// n! is floor(log10 n!) + 1, with log10 n! summed term by term in extended
// precision (Kahan-compensated). The fractional part stays far enough from an
// integer over this range for the sum to decide every floor.
TEST(EstimateDigits, EqualsTheExactDigitCountUpToOneMillion) {
    long double sum = 0.0L;
    long double compensation = 0.0L;
    int64_t mismatches = 0;
    long double closest = 1.0L;
    for (int64_t n = 1; n <= 1000000; ++n) {
        const long double term = std::log10(static_cast<long double>(n)) - compensation;
        const long double next = sum + term;
        compensation = (next - sum) - term;
        sum = next;
        const long double frac = sum - std::floor(sum);
        if (n > 1) closest = std::fmin(closest, std::fmin(frac, 1.0L - frac));  // 1! = 10^0
        const int64_t exact = static_cast<int64_t>(std::floor(sum)) + 1;
        if (EstimateDigits(n) != exact && ++mismatches <= 5) {
            ADD_FAILURE() << "n = " << n << ": estimate " << EstimateDigits(n) << ", exact " << exact;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(closest, 1e-9L);  // otherwise the reference itself could not decide
    EXPECT_EQ(EstimateDigits(0), 1);
}

TEST(BytesForDigits, OneLimbPerEighteenDigits) {
    EXPECT_EQ(BytesForDigits(0), 0u);
    EXPECT_EQ(BytesForDigits(1), 8u);
    EXPECT_EQ(BytesForDigits(18), 8u);
    EXPECT_EQ(BytesForDigits(19), 16u);
    EXPECT_EQ(BytesForDigits(36), 16u);
    EXPECT_EQ(BytesForDigits(37), 24u);
    EXPECT_EQ(BytesForDigits(5565709), 2473656u);
}

}  // namespace
