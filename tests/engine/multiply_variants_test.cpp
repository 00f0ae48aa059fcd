// Every row kernel against the plain form, and AccMultiply with each kernel forced.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/decimal_accumulator.h"
#include "engine/multiply_dispatch.h"

namespace {

constexpr uint64_t kB = kLimbBase;

std::vector<int> FastVariants() {
    std::vector<int> v;
    for (int i = kMultiplyScalar; i < kMultiplyVariantCount; ++i)
        if (MultiplyVariantSupported(i)) v.push_back(i);
    return v;
}

// Restores the processor's own choice when a test that forces one ends.
struct ForcedVariant {
    explicit ForcedVariant(int v) { ok = ForceMultiplyVariant(v); }
    ~ForcedVariant() { ForceMultiplyVariant(BestMultiplyVariant()); }
    bool ok;
};

// A 64-byte aligned stretch of limbs, so a row can start at any position
// relative to the vector width.
class AlignedLimbs {
public:
    explicit AlignedLimbs(size_t count) : storage_(count + 8) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(storage_.data());
        base_ = storage_.data() + ((64 - address % 64) % 64) / 8;
    }
    uint64_t* At(size_t offset) { return base_ + offset; }

private:
    std::vector<uint64_t> storage_;
    uint64_t* base_;
};

// Each side of the boundaries the kernels split or convert multipliers at.
// clang-format off
const uint64_t kEdgeMultipliers[] = {
    1, 2, 3, 9, 10, 999983, 1000000, (1ULL << 20) - 1, 1ULL << 20, (1ULL << 20) + 1, 999999999,
    1000000000, (1ULL << 31) - 1, 1ULL << 31, (1ULL << 32) - 1, 1ULL << 32, (1ULL << 32) + 1,
    (1ULL << 52) - 1, 1ULL << 52, (1ULL << 52) + 1, kB / 2, kB - 1, kB};
// clang-format on

void ExpectSameRow(int variant, const std::vector<uint64_t>& input, size_t offset, uint64_t a,
                   const std::string& what) {
    AlignedLimbs expected(input.size() + offset), actual(input.size() + offset);
    std::copy(input.begin(), input.end(), expected.At(offset));
    std::copy(input.begin(), input.end(), actual.At(offset));
    uint64_t expectedCarry = ~0ULL, actualCarry = ~0ULL;
    const int expectedCode = MultiplyRowPlain(expected.At(offset), input.size(), a, &expectedCarry);
    const int actualCode = MultiplyRowOf(variant)(actual.At(offset), input.size(), a, &actualCarry);
    const std::string where =
        std::string(MultiplyVariantName(variant)) + " " + what + " a=" + std::to_string(a) +
        " length=" + std::to_string(input.size()) + " offset=" + std::to_string(offset);
    ASSERT_EQ(actualCode, expectedCode) << where;
    ASSERT_EQ(actualCarry, expectedCarry) << where;
    for (size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ(actual.At(offset)[i], expected.At(offset)[i]) << where << " limb " << i;
}

TEST(MultiplyDispatch, ChoosesASupportedVariantAndRefusesUnsupportedOnes) {
    EXPECT_TRUE(MultiplyVariantSupported(kMultiplyPlain));
    EXPECT_FALSE(MultiplyVariantSupported(kMultiplyVariantCount));
    EXPECT_FALSE(MultiplyVariantSupported(-1));
    const int best = BestMultiplyVariant();
    EXPECT_TRUE(MultiplyVariantSupported(best));
    EXPECT_NE(best, kMultiplyPlain);
    __builtin_cpu_init();  // an independent witness of what the processor allows
    EXPECT_EQ(MultiplyVariantSupported(kMultiplyAvx2),
              __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"));
    EXPECT_EQ(MultiplyVariantSupported(kMultiplyAvx512),
              __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"));
    if (MultiplyVariantSupported(kMultiplyAvx512)) {
        EXPECT_EQ(best, kMultiplyAvx512);
    }
    {
        ForcedVariant forced(kMultiplyPlain);
        ASSERT_TRUE(forced.ok);
        EXPECT_EQ(ActiveMultiplyVariant(), kMultiplyPlain);
        for (int v = 0; v <= kMultiplyVariantCount; ++v) {
            if (MultiplyVariantSupported(v)) continue;
            EXPECT_FALSE(ForceMultiplyVariant(v)) << MultiplyVariantName(v);
            EXPECT_EQ(ActiveMultiplyVariant(), kMultiplyPlain);
        }
    }
    EXPECT_EQ(ActiveMultiplyVariant(), best);
}

TEST(MultiplyRowKernels, MatchThePlainFormOnEdgeLimbsAndMultipliers) {
    std::mt19937_64 rng(20261206);
    std::uniform_int_distribution<uint64_t> anyLimb(0, kB - 1);
    for (const int variant : FastVariants()) {
        for (const uint64_t a : kEdgeMultipliers) {
            // Lengths 1 .. 40 cover every residue of 4, 8 and 16 limbs, and
            // offsets 0 .. 7 every start relative to a 64-byte line.
            for (size_t length = 1; length <= 40; ++length) {
                for (size_t offset = 0; offset < 8; ++offset) {
                    std::vector<uint64_t> random(length), top(length, kB - 1), mixed(length);
                    for (auto& x : random) x = anyLimb(rng);
                    const uint64_t choice[] = {0, kB - 1, 1, kB / 2};
                    for (auto& x : mixed) x = rng() % 5 ? choice[rng() % 4] : anyLimb(rng);
                    ExpectSameRow(variant, random, offset, a, "random");
                    ExpectSameRow(variant, top, offset, a, "all 10^18-1");
                    ExpectSameRow(variant, mixed, offset, a, "edge mix");
                    // A run of zero limbs, as a factorial's low end has, under a
                    // multiplier of random size up to 2^60.
                    const size_t start = rng() % length;
                    std::fill(random.begin() + start,
                              random.begin() + start + std::min<size_t>(length - start, rng() % 9),
                              0);
                    const uint64_t magnitude = 1 + rng() % 60;
                    const uint64_t b = std::min(kB, 1 + (rng() >> (64 - magnitude)));
                    ExpectSameRow(variant, random, offset, b, "zero run");
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
}

// A carry that ripples through many lanes: with d dividing 10^18 - 1, the limb
// (10^18 - 1) / d times d is exactly 10^18 - 1, and a starter limb below it
// leaves a quotient of 2 that pushes its neighbour to 10^18 + 1; every limb
// above then sums to 10^18 - 1 plus the incoming carry.
TEST(MultiplyRowKernels, CarryRipplesThroughLongRunsAcrossVectorBoundaries) {
    const uint64_t divisors[] = {3, 9, 333667, 999999999, 3 * 999999999ULL};
    std::mt19937_64 rng(11);
    for (const int variant : FastVariants()) {
        for (const uint64_t d : divisors) {
            const uint64_t chain = (kB - 1) / d;
            const uint64_t starter = 2 * chain + 1;
            for (size_t prefix = 0; prefix < 17; ++prefix) {
                for (size_t run = 1; run <= 40; run += (run < 18 ? 1 : 7)) {
                    std::vector<uint64_t> limbs;
                    for (size_t i = 0; i < prefix; ++i) limbs.push_back(rng() % kB);
                    limbs.push_back(starter);
                    limbs.insert(limbs.end(), run + 1, chain);
                    for (size_t offset = 0; offset < 8; offset += 3)
                        ExpectSameRow(variant, limbs, offset, d, "rippling carry");
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
}

// (10^18 - 1)^k: exactly k limbs, none zero, so lowIndex stays 0.
void GrowTo(uint64_t limbCount) {
    for (uint64_t i = 0; i < limbCount; ++i) ASSERT_EQ(AccMultiply(kB - 1), kAccOk);
    ASSERT_EQ(AccTopIndex(), limbCount - 1);
    ASSERT_EQ(AccLowIndex(), 0u);
}

// AccMultiply on a caller's block whose last limb sits at every position
// relative to the vector width, started at every alignment by the zero-limb
// skip: with one limb of room the carry goes there; with none it returns 2
// and leaves topIndex and lowIndex alone.
TEST(AccMultiplyWithEachVariant, GrowsOrRunsOutOfRoomAtEveryPositionOfTheVector) {
    std::mt19937_64 rng(3);
    for (const int variant : FastVariants()) {
        ForcedVariant forced(variant);
        ASSERT_TRUE(forced.ok);
        for (uint64_t limbCount = 1; limbCount <= 34; ++limbCount) {
            for (uint64_t zeros = 0; zeros < limbCount && zeros < 9; ++zeros) {
                for (const uint64_t a : {2ULL, 999999ULL, (1ULL << 32) - 1}) {
                    for (const uint64_t room : {0, 1}) {
                        AlignedLimbs block(limbCount + room);
                        AccSetUp(block.At(0), (limbCount + room) * 8);
                        GrowTo(limbCount);
                        if (HasFatalFailure()) return;
                        uint64_t* limbs = AccBase();
                        for (uint64_t i = 0; i < limbCount; ++i)
                            limbs[i] = i < zeros ? 0 : 1 + rng() % (kB - 1);
                        limbs[limbCount - 1] = kB - 1;  // any multiplier above 1 carries out
                        std::vector<uint64_t> expected(limbs, limbs + limbCount);
                        uint64_t carry = 0;
                        MultiplyRowPlain(expected.data() + zeros, limbCount - zeros, a, &carry);
                        ASSERT_NE(carry, 0u);
                        if (room) expected.push_back(carry);

                        const std::string where = std::string(MultiplyVariantName(variant)) +
                                                  " limbs=" + std::to_string(limbCount) +
                                                  " zeros=" + std::to_string(zeros) +
                                                  " a=" + std::to_string(a) +
                                                  " room=" + std::to_string(room);
                        ASSERT_EQ(AccMultiply(a), room ? kAccOk : kAccNoRoom) << where;
                        EXPECT_EQ(AccTopIndex(), limbCount - 1 + room) << where;
                        if (!room) {
                            EXPECT_EQ(AccLowIndex(), zeros) << where;
                        }
                        for (uint64_t i = 0; i < expected.size(); ++i)
                            ASSERT_EQ(limbs[i], expected[i]) << where << " limb " << i;
                    }
                }
            }
        }
    }
}

}  // namespace
