// Products of base-10^18 numbers. The transforms of each engine against a plain convolution at
// every length up to 4096, cut into parts as the team cuts them, and against each other up to
// 2^16; whole products at every size class (schoolbook, one transform, a wrapped square, chunks)
// and at the coefficient bound against GMP (natively) or a schoolbook of the test's own; the
// features and engine read from real processors' words; the team's parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/decimal_accumulator.h"
#include "engine/limb_product.h"
#include "engine/ntt_kernels.h"
#include "engine/product_dispatch.h"
#include "engine/work_memory.h"
#include "engine/work_team.h"
#include "tests/support/oracle_data.h"
#include "tests/support/team_sizes.h"

namespace {

const NttKernels& KernelsOf(int engine) {
    return engine == kProductIfma ? kNttIfma : engine == kProductAvx2 ? kNttAvx2 : kNttPortable;
}

std::vector<int> SupportedEngines() {
    std::vector<int> engines;
    for (int e = 0; e < kProductEngineCount; ++e) {
        if (ProductEngineSupported(e)) engines.push_back(e);
    }
    return engines;
}

// Twiddle tables for transforms up to 2 * half points.
struct Tables {
    std::vector<uint64_t> w[kNttPrimeCount];
    NttTable table[kNttPrimeCount];
    explicit Tables(uint64_t half) {
        for (unsigned k = 0; k < kNttPrimeCount; ++k) {
            w[k].resize(half);
            NttBuildTableStart(kNttPortable, k, half, w[k].data(), half);
            table[k] = {w[k].data()};
        }
    }
};

uint64_t PowMod(uint64_t a, uint64_t e, uint64_t p) { return NttPowMod(a, e, p); }

// Residues below 4p, the transforms' whole input range, with its ends.
std::vector<uint64_t> RandomResidues(std::mt19937_64& rng, uint64_t n, uint64_t p) {
    std::vector<uint64_t> x(n);
    for (uint64_t i = 0; i < n; ++i)
        x[i] = i % 7 == 3 ? 4 * p - 1 : i % 11 == 5 ? 0 : rng() % (4 * p);
    return x;
}

// forward, pointwise and inverse of each engine give the cyclic convolution times length / R;
// a transform done as the team does it (top level in two ranges, then its halves) gives the same
// residues within the same bounds.
TEST(Transforms, PlainConvolutionAtEveryLengthForEachEngine) {
    const Tables tables(2048);
    std::mt19937_64 rng(7);
    for (const int engine : SupportedEngines()) {
        const NttKernels& k = KernelsOf(engine);
        for (unsigned prime = 0; prime < kNttPrimeCount; ++prime) {
            const uint64_t p = kNttPrimes[prime];
            for (uint64_t length = 16; length <= 4096; length *= 2) {
                SCOPED_TRACE(std::string(ProductEngineName(engine)) + " p" + std::to_string(prime) +
                             " length " + std::to_string(length));
                const std::vector<uint64_t> a = RandomResidues(rng, length, p);
                const std::vector<uint64_t> b = RandomResidues(rng, length, p);
                std::vector<uint64_t> x = a, y = b, halves = a;
                k.forward(x.data(), length, 0, tables.table[prime], prime);
                k.forward(y.data(), length, 0, tables.table[prime], prime);
                const uint64_t h = length / 2;
                // Entries of u beyond `bound` or not congruent to v's.
                auto differ = [p](const std::vector<uint64_t>& u, const std::vector<uint64_t>& v,
                                  uint64_t bound) {
                    uint64_t n = 0;
                    for (size_t i = 0; i < u.size(); ++i) {
                        n += u[i] >= bound || u[i] % p != v[i] % p;
                    }
                    return n;
                };
                k.forwardLevel(halves.data(), length, 0, 0, h / 2, tables.table[prime], prime);
                k.forwardLevel(halves.data(), length, 0, h / 2, h, tables.table[prime], prime);
                k.forward(halves.data(), h, 0, tables.table[prime], prime);
                k.forward(halves.data() + h, h, 1, tables.table[prime], prime);
                EXPECT_EQ(differ(halves, x, 4 * p) + differ(x, halves, 4 * p), 0u);
                k.pointwise(x.data(), y.data(), length, prime);
                halves = x;
                k.inverse(x.data(), length, 0, tables.table[prime], prime);
                k.inverse(halves.data(), h, 0, tables.table[prime], prime);
                k.inverse(halves.data() + h, h, 1, tables.table[prime], prime);
                k.inverseLevel(halves.data(), length, 0, h / 2, h, tables.table[prime], prime);
                k.inverseLevel(halves.data(), length, 0, 0, h / 2, tables.table[prime], prime);
                EXPECT_EQ(differ(halves, x, 2 * p), 0u);
                const uint64_t scale =
                    NttMulMod(length % p, PowMod(PowMod(2, k.montgomeryLog, p), p - 2, p), p);
                uint64_t mismatches = 0;
                for (uint64_t i = 0; i < length; ++i) {
                    unsigned __int128 c = 0;
                    for (uint64_t j = 0; j < length; ++j) {
                        c += static_cast<unsigned __int128>(a[j] % p) *
                             (b[(i - j) & (length - 1)] % p);
                        c %= p;
                    }
                    mismatches +=
                        x[i] >= 2 * p || x[i] % p != NttMulMod(static_cast<uint64_t>(c), scale, p);
                }
                EXPECT_EQ(mismatches, 0u);
                if (HasFailure()) return;
            }
        }
    }
}

// Beyond the plain convolution's reach, the engines' transforms agree residue for residue.
TEST(Transforms, EnginesAgreeUpTo2To16) {
    const Tables tables(1 << 17);
    std::mt19937_64 rng(8);
    for (const int engine : SupportedEngines()) {
        if (engine == kProductPortable) continue;
        const NttKernels& k = KernelsOf(engine);
        for (uint64_t length = 16; length <= (1 << 16); length *= 2) {
            const uint64_t p = kNttPrimes[1];
            std::vector<uint64_t> x = RandomResidues(rng, length, p), y = x;
            kNttPortable.forward(x.data(), length, 3, tables.table[1], 1);
            k.forward(y.data(), length, 3, tables.table[1], 1);
            for (auto& v : x) v %= p;
            for (auto& v : y) v %= p;
            EXPECT_EQ(x, y) << ProductEngineName(engine) << " " << length;
            kNttPortable.inverse(x.data(), length, 3, tables.table[1], 1);
            k.inverse(y.data(), length, 3, tables.table[1], 1);
            for (auto& v : x) v %= p;
            for (auto& v : y) v %= p;
            EXPECT_EQ(x, y) << ProductEngineName(engine) << " " << length;
        }
    }
}

// a * b by the test's own means: GMP natively, column sums of its own under Windows.
std::vector<uint64_t> Reference(const std::vector<uint64_t>& a, const std::vector<uint64_t>& b) {
    std::vector<uint64_t> r(a.size() + b.size(), 0);
#if defined(_WIN32)
    unsigned __int128 low = 0;  // each column's sum is high 2^128 + low
    uint64_t high = 0;
    for (size_t k = 0; k + 1 < r.size(); ++k) {
        for (size_t i = k < b.size() ? 0 : k - b.size() + 1; i <= k && i < a.size(); ++i) {
            const unsigned __int128 p = static_cast<unsigned __int128>(a[i]) * b[k - i];
            low += p;
            high += low < p;
        }
        // (high 2^128 + low) / 10^18, high being small: 2^128 = q 10^18 + m.
        const unsigned __int128 q = ~static_cast<unsigned __int128>(0) / kLimbBase;
        const uint64_t m =
            static_cast<uint64_t>(~static_cast<unsigned __int128>(0) % kLimbBase) + 1;
        const unsigned __int128 rest = static_cast<unsigned __int128>(high) * m + low % kLimbBase;
        r[k] = static_cast<uint64_t>(rest % kLimbBase);
        low = low / kLimbBase + high * q + rest / kLimbBase;
        high = 0;
    }
    r.back() = static_cast<uint64_t>(low);
#else
    auto decimal = [](const std::vector<uint64_t>& limbs) {
        std::string s;
        char digits[24];
        for (size_t i = limbs.size(); i-- > 0;) {
            snprintf(digits, sizeof digits, "%018llu", static_cast<unsigned long long>(limbs[i]));
            s += digits;
        }
        return s;
    };
    mpz_t x, y;
    mpz_init_set_str(x, decimal(a).c_str(), 10);
    mpz_init_set_str(y, decimal(b).c_str(), 10);
    mpz_mul(x, x, y);
    char* product = mpz_get_str(nullptr, 10, x);
    const std::vector<uint64_t> limbs = LimbsOfDecimal(product);
    std::copy(limbs.begin(), limbs.end(), r.begin());
    free(product);
    mpz_clears(x, y, nullptr);
#endif
    return r;
}

// Every path a product takes, with random limbs and with every limb at 10^18 - 1 (the largest
// coefficients), into separate memory and in place, on one thread and two, for each engine.
TEST(Products, EverySizeClassAndTheCoefficientBoundForEachEngine) {
    constexpr uint64_t kResult = 16384;
    const struct {
        uint64_t na, nb;  // nb 0: the square of a
    } sizes[] = {
        {1, 1},     {5, 3},      {31, 0},       {32, 32},
        {191, 191}, {192, 0},    {300, 192},    {1000, 999},
        {2048, 0},  {2049, 0},   {2560, 0},     {2561, 0},
        {2600, 0},  {10000, 60}, {12000, 1000}, {14336, kResult / 8},
    };
    struct Case {
        std::vector<uint64_t> a, b, product;
        bool square;
        std::string name;
    };
    std::vector<Case> cases;
    std::mt19937_64 rng(9);
    for (const auto& size : sizes) {
        for (const bool bound : {false, true}) {
            Case c;
            c.square = size.nb == 0;
            c.a.resize(size.na);
            c.b.resize(c.square ? size.na : size.nb);
            for (auto& x : c.a) x = bound ? kLimbBase - 1 : rng() % kLimbBase;
            for (auto& x : c.b) x = bound ? kLimbBase - 1 : rng() % kLimbBase;
            if (c.square) c.b = c.a;
            c.product = Reference(c.a, c.b);
            c.name = std::to_string(size.na) + " * " + std::to_string(size.nb) +
                     (bound ? " at the bound" : "");
            cases.push_back(std::move(c));
        }
    }
    for (const int engine : SupportedEngines()) {
        ASSERT_TRUE(ForceProductEngine(engine));
        for (const unsigned threads : {1u, 2u}) {
            TeamStart(threads, {nullptr, nullptr});
            ASSERT_EQ(WorkMemoryAllocate(ProductWorkBytes(kResult, kResult)), 0);
            PrepareProducts(kResult, kResult);
            for (const Case& c : cases) {
                std::vector<uint64_t> got(c.product.size()), inPlace = c.a;
                inPlace.resize(got.size());
                const uint64_t na = c.a.size(), nb = c.b.size();
                if (c.square) {
                    SquareLimbs(got.data(), c.a.data(), na);
                    SquareLimbs(inPlace.data(), inPlace.data(), na);
                } else {
                    MultiplyLimbs(got.data(), c.a.data(), na, c.b.data(), nb);
                    MultiplyLimbs(inPlace.data(), inPlace.data(), na, c.b.data(), nb);
                }
                EXPECT_TRUE(got == c.product && inPlace == c.product)
                    << ProductEngineName(engine) << " x" << threads << ": " << c.name;
            }
            EXPECT_EQ(WorkMemoryRelease(), 0);
            TeamStop();
        }
    }
    ForceProductEngine(ProductEngineFor(ProbeProductFeatures()));
}

// Teams of 1 to 16 threads (more than this machine may have), every limb at 10^18 - 1: carries
// across every range and chunk boundary. A square of 2^15 limbs takes a transform of 2^16, which
// sixteen threads split four levels deep; 40,000 by 4,000 limbs take four chunks of 2^14. The
// product is 10^(18 (n + m)) - 10^(18 n) - 10^(18 m) + 1 for n = na, m = nb.
TEST(Products, EveryLimbAtTheBoundOnTeamsOf1To16) {
    constexpr uint64_t kResult = 65536;
    for (const int engine : SupportedEngines()) {
        ASSERT_TRUE(ForceProductEngine(engine));
        for (const unsigned threads : kTeamSizes) {
            ASSERT_EQ(TeamStart(threads, {nullptr, nullptr}), threads);
            ASSERT_EQ(WorkMemoryAllocate(ProductWorkBytes(kResult, kResult)), 0);
            PrepareProducts(kResult, kResult);
            for (const uint64_t nb : {32768u, 4000u}) {
                const uint64_t na = nb == 4000 ? 40000 : nb;
                const std::vector<uint64_t> a(na, kLimbBase - 1);
                std::vector<uint64_t> r(na + nb), expected(na + nb, 0);
                nb == na ? SquareLimbs(r.data(), a.data(), na)
                         : MultiplyLimbs(r.data(), a.data(), na, a.data(), nb);
                std::fill(expected.begin() + na, expected.end(), kLimbBase - 1);
                uint64_t i = nb;
                for (; expected[i] == 0; ++i) expected[i] = kLimbBase - 1;
                expected[i] -= 1, expected[0] = 1;
                EXPECT_TRUE(r == expected)
                    << ProductEngineName(engine) << " x" << threads << ": " << na << " * " << nb;
            }
            EXPECT_EQ(WorkMemoryRelease(), 0);
            TeamStop();
            if (HasFailure()) break;
        }
    }
    ForceProductEngine(ProductEngineFor(ProbeProductFeatures()));
}

// The probe's reading of real processors' CPUID leaf 0 EAX, leaf 1 ECX, leaf 7 EBX and XCR0,
// and the engine each gets; then systems that save less state, and a feature masked.
TEST(ProductDispatch, FeaturesAndEngineFromProcessorWords) {
    const struct {
        const char* name;
        uint32_t maxLeaf, leaf1Ecx, leaf7Ebx;
        uint64_t xcr0;
        ProductFeatures features;
        int engine;
    } cases[] = {
        {"Skylake-X", 0x16, 0x7FFEFBFF, 0xD39FFFFB, 0x2E7, {true, true, false}, kProductAvx2},
        {"Ice Lake", 0x1B, 0x7FFAFBBF, 0xF2BF27EF, 0x2E7, {true, true, true}, kProductIfma},
        {"Zen 4", 0x10, 0x7ED8320B, 0xF1BF97A9, 0x2E7, {true, true, true}, kProductIfma},
        {"Alder Lake", 0x20, 0x7FFAFBFF, 0x239CA7EB, 0x207, {true, false, false}, kProductAvx2},
        {"Alder Lake, FMA masked",
         0x20,
         0x7FFAEBFF,
         0x239CA7EB,
         0x207,
         {false, false, false},
         kProductPortable},
        {"Ice Lake, no ZMM state saved",
         0x1B,
         0x7FFAFBBF,
         0xF2BF27EF,
         0x7,
         {true, false, false},
         kProductAvx2},
        {"Zen 4, no YMM state saved",
         0x10,
         0x7ED8320B,
         0xF1BF97A9,
         0x3,
         {false, false, false},
         kProductPortable},
        {"Zen 4, XSAVE not enabled",
         0x10,
         0x76D8320B,
         0xF1BF97A9,
         0,
         {false, false, false},
         kProductPortable},
    };
    for (const auto& c : cases) {
        const ProductFeatures f = DecodeProductFeatures(c.maxLeaf, c.leaf1Ecx, c.leaf7Ebx, c.xcr0);
        EXPECT_TRUE(f.avx2 == c.features.avx2 && f.avx512 == c.features.avx512 &&
                    f.avx512ifma == c.features.avx512ifma)
            << c.name;
        EXPECT_EQ(ProductEngineFor(f), c.engine) << c.name;
    }
    EXPECT_EQ(ProductEngineFor({true, false, true}), kProductAvx2);  // IFMA without AVX-512 F
    EXPECT_EQ(ForceProductEngine(kProductIfma), ProbeProductFeatures().avx512ifma);
    EXPECT_EQ(ForceProductEngine(kProductAvx2), ProbeProductFeatures().avx2);
    ForceProductEngine(ProductEngineFor(ProbeProductFeatures()));
}

// Holds the helpers back until released, or for ten seconds at most.
std::atomic<int> helpersMayStart{0};
unsigned long LateStart(void (*body)(void*), void* context) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (helpersMayStart.load() == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    body(context);
    return 0;
}

// Every part runs exactly once, whether the helpers take parts or have not started yet.
TEST(WorkTeam, EveryPartOnceWithHelpersLateOrAtWork) {
    helpersMayStart = 0;
    ASSERT_EQ(TeamStart(3, {LateStart, nullptr}), 3u);
    std::vector<std::atomic<int>> runs(97);
    for (int round = 0; round < 200; ++round) {
        if (round == 100) helpersMayStart = 1;
        for (auto& r : runs) r = 0;
        TeamRun(
            static_cast<unsigned>(runs.size()),
            [](void* c, unsigned part) {
                ++(*static_cast<std::vector<std::atomic<int>>*>(c))[part];
            },
            &runs);
        for (size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(runs[i].load(), 1) << round << " " << i;
    }
    TeamStop();
}

}  // namespace

namespace {

std::thread::id caller;
std::atomic<unsigned> onCaller{0};

// Runs past the wrap of the team's run counter still reach the caller: with the helpers held
// back, it must run every part itself.
TEST(WorkTeam, CallerTakesPartsPastTheRunCountersWrap) {
    helpersMayStart = 0;
    caller = std::this_thread::get_id();
    onCaller = 0;
    TeamSetGeneration((uint64_t{1} << kTeamGenerationBits) - 3);
    ASSERT_EQ(TeamStart(2, {LateStart, nullptr}), 2u);
    for (int run = 0; run < 6; ++run) {
        TeamRun(
            8, [](void*, unsigned) { onCaller += std::this_thread::get_id() == caller; }, nullptr);
    }
    EXPECT_EQ(onCaller.load(), 48u);
    helpersMayStart = 1;
    TeamStop();
}

}  // namespace
