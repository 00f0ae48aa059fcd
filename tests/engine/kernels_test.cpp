// Every row kernel against the plain form, in both forms, at the edges of the
// limbs, the multipliers and the vector width, under every rounding mode.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/decimal_accumulator.h"
#include "engine/multiply_dispatch.h"
#include "tests/support/oracle_data.h"

namespace {

constexpr uint64_t kB = kLimbBase;
constexpr uint64_t kFive18 = 3814697265625ULL;  // 10^18 / 2^18

struct Kernel {
    std::string name;
    MultiplyRowFn row;
    bool lazy;
    uint64_t limit;  // multipliers below this
};

// The processor's kernels other than the reference, in both forms.
std::vector<Kernel> KernelsToTest() {
    std::vector<Kernel> kernels;
    for (int v = kMultiplyScalar; v < kMultiplyVariantCount; ++v) {
        if (!MultiplyVariantSupported(v)) continue;
        kernels.push_back({MultiplyVariantName(v), MultiplyRowOf(v), false, kB + 1});
        const GroupKernel group = GroupKernelOf(v);
        if (group.lazy)
            kernels.push_back({kernels.back().name + " lazy", group.row, true, group.limit});
    }
    return kernels;
}

// The value a * limbs (limbs may be lazy), by the plain form.
std::vector<uint64_t> Reference(const std::vector<uint64_t>& limbs, uint64_t a) {
    std::vector<uint64_t> value = Normalized(limbs);
    value.push_back(0);
    EXPECT_EQ(MultiplyRowPlain(value.data(), value.size() - 1, a, &value.back()), 0);
    return Normalized(value);
}

// A limb x with x * a one below a multiple of 10^18 (0 when a shares a
// factor with 10): where an estimate that rounds up anywhere is one too high.
uint64_t JustBelowAMultiple(uint64_t a) {
    __int128 r0 = kB, r1 = a % kB, t0 = 0, t1 = 1;  // extended Euclid: t0 * a = r0
    while (r1 != 0) {
        const __int128 q = r0 / r1, r = r0 - q * r1, t = t0 - q * t1;
        r0 = r1, r1 = r, t0 = t1, t1 = t;
    }
    if (r0 != 1) return 0;
    const uint64_t inverse = static_cast<uint64_t>((t0 % kB + kB) % kB);
    return (kB - inverse) % kB;
}

const unsigned kRoundingModes[] = {_MM_ROUND_NEAREST, _MM_ROUND_DOWN, _MM_ROUND_UP,
                                   _MM_ROUND_TOWARD_ZERO};

// Runs the kernel under `mode` and checks it against the reference: its
// limbs' bounds and its value.
void ExpectRow(const Kernel& k, const std::vector<uint64_t>& input, size_t offset, uint64_t a,
               unsigned mode) {
    // The row starts `offset` limbs after a 64-byte line.
    std::vector<uint64_t> storage(input.size() + 16);
    uint64_t* const at =
        storage.data() + (8 - reinterpret_cast<uintptr_t>(storage.data()) / 8 % 8) % 8 + offset;
    std::copy(input.begin(), input.end(), at);
    uint64_t carry = ~0ULL;
    const unsigned saved = _mm_getcsr();
    _mm_setcsr((saved & ~_MM_ROUND_MASK) | mode);
    const int code = k.row(at, input.size(), a, &carry);
    const unsigned after = _mm_getcsr();
    _mm_setcsr(saved);
    const std::string where =
        k.name + " a=" + std::to_string(a) + " length=" + std::to_string(input.size()) +
        " offset=" + std::to_string(offset) + " rounding=" + std::to_string(mode >> 13);
    ASSERT_EQ(code, 0) << where;
    ASSERT_EQ(after & _MM_ROUND_MASK, mode) << where << ": the caller's rounding was not restored";
    // A normalized kernel's limbs and carry are below 10^18, so with the
    // right value they are the plain form's limb for limb.
    const uint64_t bound = k.lazy ? 2 * kB + (1ULL << 46) : kB;
    for (size_t i = 0; i < input.size(); ++i) ASSERT_LT(at[i], bound) << where << " limb " << i;
    ASSERT_LT(carry, k.lazy ? 1ULL << 46 : kB) << where;
    std::vector<uint64_t> result(at, at + input.size());
    result.push_back(carry);
    ASSERT_EQ(Normalized(result), Reference(input, a)) << where;
}

TEST(RowKernels, MatchThePlainFormAtTheEdgesUnderEveryRounding) {
    // Multipliers on each side of the bounds the kernels convert or split
    // at, products of consecutive multipliers near a million, and multipliers
    // that with suitable limbs give exact multiples of 10^18.
    // clang-format off
    const uint64_t multipliers[] = {
        1, 2, 3, 7, 999983, 1000000, 999999999, 1000000000, (1ULL << 31) - 1, 1ULL << 31,
        (1ULL << 32) - 1, 1ULL << 32, kFive18, 10000000000000ULL, 998001999000ULL,
        999999000000ULL, 999999999999ULL, (1ULL << 44) - 3, (1ULL << 44) - 1, (1ULL << 52) + 1,
        kB - 1, kB};
    // clang-format on
    std::mt19937_64 rng(20261207);
    for (const Kernel& k : KernelsToTest()) {
        for (const uint64_t a : multipliers) {
            if (a >= k.limit) continue;
            const uint64_t top = k.lazy ? (1ULL << 61) - 1 : kB - 1;
            // Edge limbs, limbs that make a * x a whole multiple of 10^18 for
            // the multipliers above, and limbs that make it one less.
            const uint64_t below = JustBelowAMultiple(a);
            const uint64_t edges[] = {0,     1,          kB - 1,        top,
                                      kB,    2 * kB,     1ULL << 18,    100000,
                                      below, below + kB, below + 2 * kB};
            for (size_t length = 1; length <= 40; ++length) {
                for (size_t offset = 0; offset < 8; ++offset) {
                    std::vector<uint64_t> limbs(length);
                    for (auto& x : limbs) {
                        const uint64_t edge = edges[rng() % std::size(edges)];
                        x = rng() % 3 ? (edge > top ? top : edge) : rng() % (top + 1);
                    }
                    ExpectRow(k, limbs, offset, a, kRoundingModes[(length + offset) % 4]);
                    ExpectRow(k, std::vector<uint64_t>(length, top), offset, a,
                              kRoundingModes[offset % 4]);
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
}

TEST(MultiplyDispatch, ChoosesWhatTheProcessorRuns) {
    __builtin_cpu_init();  // an independent witness of what the processor allows
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    const bool ifma = avx512 && __builtin_cpu_supports("avx512ifma");
    EXPECT_EQ(MultiplyVariantSupported(kMultiplyAvx2), avx2);
    EXPECT_EQ(MultiplyVariantSupported(kMultiplyAvx512), avx512);
    EXPECT_EQ(MultiplyVariantSupported(kMultiplyAvx512Ifma), ifma);
    EXPECT_EQ(BestMultiplyVariant(), ifma     ? kMultiplyAvx512Ifma
                                     : avx512 ? kMultiplyAvx512
                                     : avx2   ? kMultiplyAvx2
                                              : kMultiplyScalar);
    EXPECT_FALSE(ForceMultiplyVariant(kMultiplyVariantCount));
    EXPECT_EQ(ActiveMultiplyVariant(), BestMultiplyVariant());
}

}  // namespace
