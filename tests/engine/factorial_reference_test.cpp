// N! from the accumulator against GMP's exact value: every N up to 3,000 and
// twenty checkpoints up to 100,000 with the processor's own kernel, and every
// N up to 3,000 with each kernel it can run. Natively GMP is asked directly and the
// limbs are compared one by one; under Wine the native oracle's fingerprints
// (limb count, top limb, hash of all limbs) stand in for it.
#include <gtest/gtest.h>

#include <iterator>
#include <vector>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/limb_groups.h"
#include "engine/multiply_dispatch.h"
#include "engine/size_estimates.h"
#include "tests/support/limb_hash.h"

#if defined(_WIN32)
#include "tests/support/oracle_data.h"
#else
#include "tests/support/gmp_reference.h"
#endif

namespace {

std::vector<uint64_t> AccumulatorLimbs() {
    std::vector<uint64_t> limbs(AccLimbCount());
    for (uint64_t i = 0; i < limbs.size(); ++i) limbs[i] = AccLimb(i);
    return limbs;
}

#if defined(_WIN32)

class Reference {
public:
    Reference() : table_(ReadFactorialFingerprints()) {}
    bool Available() const { return table_.size() > kDenseFactorialLimit; }
    void Check(unsigned n, const std::vector<uint64_t>& limbs) {
        const auto it = table_.find(n);
        ASSERT_NE(it, table_.end()) << "no reference for " << n;
        ASSERT_EQ(limbs.size(), it->second.limbCount) << n << "!";
        EXPECT_EQ(limbs.back(), it->second.topLimb) << n << "!";
        EXPECT_EQ(HashLimbs(limbs.data(), limbs.size()), it->second.hash) << n << "!";
    }

private:
    std::map<unsigned, FactorialFingerprint> table_;
};

#else

class Reference {
public:
    Reference() { mpz_init_set_ui(product_, 1); }
    ~Reference() { mpz_clear(product_); }
    bool Available() const { return true; }
    void Check(unsigned n, const std::vector<uint64_t>& limbs) {
        while (reached_ < n) mpz_mul_ui(product_, product_, ++reached_);
        ASSERT_EQ(reached_, n);
        const std::vector<uint64_t> expected = LimbsOfDecimal(DecimalOf(product_));
        ASSERT_EQ(limbs.size(), expected.size()) << n << "!";
        for (size_t i = 0; i < limbs.size(); ++i)
            ASSERT_EQ(limbs[i], expected[i]) << n << "! limb " << i;
    }

private:
    mpz_t product_;
    unsigned reached_ = 0;
};

#endif

// Multiplies 1 .. last with the active kernel, checking every factorial up
// to 3,000 and the checkpoints on the way.
void CheckFactorialsUpTo(unsigned last) {
    Reference reference;
    ASSERT_TRUE(reference.Available()) << "reference data missing (run with --oracle=DIR)";
    ASSERT_EQ(AccAllocate(BytesForDigits(EstimateDigits(last)) + 65536), 0);
    size_t nextCheckpoint = 0;
    reference.Check(0, AccumulatorLimbs());
    for (unsigned n = 1; n <= last; ++n) {
        ASSERT_EQ(AccMultiply(n), kAccOk) << n;
        const bool checkpoint = nextCheckpoint < std::size(kFactorialCheckpoints) &&
                                kFactorialCheckpoints[nextCheckpoint] == n;
        if (n <= kDenseFactorialLimit || checkpoint) {
            reference.Check(n, AccumulatorLimbs());
            if (testing::Test::HasFatalFailure()) break;
            ASSERT_EQ(CountResultDigits(), static_cast<uint64_t>(EstimateDigits(n))) << n;
        }
        if (checkpoint) ++nextCheckpoint;
    }
    EXPECT_EQ(AccRelease(), 0);
}

TEST(FactorialReference, EveryFactorialUpTo3000AndCheckpointsTo100000) {
    ASSERT_EQ(ActiveMultiplyVariant(), BestMultiplyVariant());
    CheckFactorialsUpTo(kFactorialCheckpoints[std::size(kFactorialCheckpoints) - 1]);
}

TEST(FactorialReference, EveryFactorialUpTo3000WithEachKernelForced) {
    for (int variant = 0; variant < kMultiplyVariantCount; ++variant) {
        if (!MultiplyVariantSupported(variant)) continue;
        SCOPED_TRACE(MultiplyVariantName(variant));
        ASSERT_TRUE(ForceMultiplyVariant(variant));
        CheckFactorialsUpTo(kDenseFactorialLimit);
        if (HasFatalFailure()) break;
    }
    ForceMultiplyVariant(BestMultiplyVariant());
}

}  // namespace
