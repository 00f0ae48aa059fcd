// N! from the job's steps against GMP's value, limb by limb: every N up to 3,000 and the
// checkpoints up to 1,000,000, on every product engine, on teams of 1 to 16 threads; and the
// check that guards the file against the values a fault would leave.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/factorial_steps.h"
#include "engine/limb_groups.h"
#include "engine/product_dispatch.h"
#include "engine/residue_check.h"
#include "engine/size_estimates.h"
#include "engine/work_memory.h"
#include "engine/work_team.h"
#include "tests/support/oracle_data.h"
#include "tests/support/team_sizes.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr unsigned kLargestChecked = 100000;  // the unoptimized build takes minutes beyond
#else
constexpr unsigned kLargestChecked = 1000000;
#endif

bool ReferenceAvailable() { return ExpectedDigits(0) == "1"; }

// The value is n!, and the limbs below the low index are exactly its zero limbs at the bottom,
// or all but the last of them. The expected limbs are kept for the next team.
void Check(unsigned n) {
    static std::map<unsigned, std::vector<uint64_t>> expected;
    if (!expected.count(n)) expected[n] = LimbsOfDecimal(ExpectedDigits(n));
    const std::vector<uint64_t> limbs(AccBase(), AccBase() + AccTopIndex() + 1);
    ASSERT_EQ(limbs, expected[n]) << n << "!";
    uint64_t zeros = 0;
    while (limbs[zeros] == 0) ++zeros;
    ASSERT_TRUE(AccLowIndex() <= zeros && zeros <= AccLowIndex() + 1) << n << "!";
}

// n! as the job reaches it: its memory, its checkpoints, its steps.
void Factorial(unsigned n) {
    ASSERT_EQ(AccAllocate(BytesForDigits(EstimateDigits(n)) + 65536), 0);
    ASSERT_EQ(WorkMemoryAllocate(FactorialWorkBytes(n)), 0);
    PrepareFactorialSteps(n);
    uint64_t checkpoints[kMostCheckpoints], from = 0, reached = 0;
    const unsigned count = FactorialCheckpoints(n, checkpoints);
    for (unsigned i = 0; i < count; from = checkpoints[i++]) {
        ASSERT_EQ(AccFactorialStep(from, checkpoints[i], &reached), kAccOk);
        ASSERT_EQ(reached, checkpoints[i]);
    }
}

void Release() {
    EXPECT_EQ(WorkMemoryRelease(), 0);
    EXPECT_EQ(AccRelease(), 0);
}

// Runs `body` on each product engine this machine has, with each team of `teams`.
template <typename Body>
void OnEachEngineAndTeam(std::initializer_list<unsigned> teams, Body body) {
    for (int engine = 0; engine < kProductEngineCount; ++engine) {
        if (!ForceProductEngine(engine)) continue;
        for (const unsigned threads : teams) {
            SCOPED_TRACE(std::string(ProductEngineName(engine)) + " x" + std::to_string(threads));
            TeamStart(threads, {nullptr, nullptr});
            body(threads);
            TeamStop();
            if (testing::Test::HasFailure()) break;
        }
    }
    ForceProductEngine(ProductEngineFor(ProbeProductFeatures()));
}

// Products this small stay on one thread whatever the team.
TEST(Factorials, EveryNUpTo3000) {
    ASSERT_TRUE(ReferenceAvailable()) << "reference data missing (run with --oracle=DIR)";
    OnEachEngineAndTeam({1}, [](unsigned) {
        for (unsigned n = 0; n <= kDenseFactorialLimit && !testing::Test::HasFailure(); ++n) {
            Factorial(n);
            Check(n);
            EXPECT_TRUE(AccHoldsFactorial(n)) << n;
            Release();
        }
    });
}

// Teams of more than two threads up to 300,000 only: its last square is a transform of 2^16,
// which sixteen threads split four levels deep.
TEST(Factorials, CheckpointsUpToOneMillionOnTeamsOf1To16) {
    ASSERT_TRUE(ReferenceAvailable()) << "reference data missing (run with --oracle=DIR)";
    OnEachEngineAndTeam(kTeamSizes, [](unsigned threads) {
        for (const unsigned n : kFactorialCheckpoints) {
            if (n > (threads > 2 ? 300000 : kLargestChecked) || testing::Test::HasFailure()) break;
            Factorial(n);
            Check(n);
            EXPECT_EQ(CountResultDigits(), static_cast<uint64_t>(EstimateDigits(n)));
            EXPECT_TRUE(AccHoldsFactorial(n)) << n;
            Release();
        }
    });
}

// What a fault could leave instead of 3000!: a limb one off, a carry not moved on (the same
// value with a limb of exactly 10^18, the smallest out of range), a zero top limb; and 3000!
// itself taken for 2999!.
TEST(ResidueCheck, RefusesEveryValueButTheFactorial) {
    Factorial(3000);
    ASSERT_TRUE(AccHoldsFactorial(3000));
    EXPECT_FALSE(AccHoldsFactorial(2999));
    uint64_t* const limbs = AccBase();
    const uint64_t top = AccTopIndex(), i = top / 2;
    limbs[i] ^= 1;
    EXPECT_FALSE(AccHoldsFactorial(3000));
    limbs[i] ^= 1;
    uint64_t zero = 0;
    while (limbs[zero + 1] == 0) ++zero;
    limbs[zero] = kLimbBase, limbs[zero + 1] -= 1;
    EXPECT_FALSE(AccHoldsFactorial(3000));
    limbs[zero] = 0, limbs[zero + 1] += 1;
    limbs[top + 1] = 0;
    AccSetExtent(AccLowIndex(), top + 1);
    EXPECT_FALSE(AccHoldsFactorial(3000));
    Release();
}

}  // namespace
