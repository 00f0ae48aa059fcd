// Times the factorial loop in one run, side by side: the per-multiplier loop
// (AccMultiply by 1 .. N) with each row kernel asked for, the steps the job
// runs (AccFactorialStep) on one thread and on every processor the
// process may use, and, in the native build, GMP's mpz_mul_ui loop and its
// mpz_fac_ui, each plus mpz_get_str.
//
//   qrnl_bench [--n=100000,300000,1000000] [--variants=avx512,...]
//              [--per-multiplier=all|none|BEST] [--plain-limit=200000]
//              [--no-gmp]
//
// --variants (plain, scalar, avx2, avx512) picks the kernels; by default
// every fast one this processor runs. The per-multiplier loop runs for each
// of them, or for none, or only for the processor's own choice (BEST); the
// plain kernel takes minutes at N = 1,000,000, so above --plain-limit it is
// estimated from its time per step at the largest N it ran.
//
// A "step" is one limb multiplied by one multiplier: the per-multiplier
// loop's count after the zero-limb skip, which the grouped loop also uses, so
// its ticks per step compare directly. Ratios are to GMP's mul_ui loop plus
// get_str, wall time.
#include <x86intrin.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/factorial_steps.h"
#include "engine/multiply_dispatch.h"
#include "engine/size_estimates.h"
#include "engine/work_memory.h"
#include "engine/work_team.h"

#if defined(QRNL_BENCH_GMP)
#include <gmp.h>
#endif

namespace {

struct Timing {
    double seconds = 0;
    double ticks = 0;
    double cpuSeconds = 0;  // processor time of the process
};

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()), tsc_(__rdtsc()), cpu_(std::clock()) {}
    Timing Read() const {
        const uint64_t tsc = __rdtsc();
        const std::clock_t cpu = std::clock();
        const auto now = std::chrono::steady_clock::now();
        return {std::chrono::duration<double>(now - start_).count(),
                static_cast<double>(tsc - tsc_), static_cast<double>(cpu - cpu_) / CLOCKS_PER_SEC};
    }

private:
    std::chrono::steady_clock::time_point start_;
    uint64_t tsc_;
    std::clock_t cpu_;
};

struct LoopResult {
    Timing timing;
    uint64_t steps = 0;  // limbs times multipliers, after the zero-limb skip
    uint64_t hash = 0;
    std::string digits;  // only when asked, for the check against GMP
    bool ok = false;
};

uint64_t HashAccumulator() {
    uint64_t h = 1469598103934665603ULL;
    for (uint64_t i = 0; i <= AccTopIndex(); ++i) h = (h ^ AccLimb(i)) * 1099511628211ULL;
    return h;
}

std::string DecimalOfAccumulator() {
    std::string s = std::to_string(AccLimb(AccTopIndex()));
    char limb[24];
    for (uint64_t i = AccTopIndex(); i-- > 0;) {
        std::snprintf(limb, sizeof limb, "%018" PRIu64, AccLimb(i));
        s += limb;
    }
    return s;
}

// The per-multiplier loop (threads 0) or the job's grouped loop on `threads`.
LoopResult RunFactorial(int variant, unsigned n, unsigned threads, bool wantDigits) {
    LoopResult result;
    if (!ForceMultiplyVariant(variant) ||
        AccAllocate(BytesForDigits(EstimateDigits(n)) + 65536) != 0) {
        return result;
    }
    result.ok = true;
    uint64_t steps = 0;
    const Stopwatch watch;
    if (threads == 0) {
        for (unsigned k = 1; k <= n && result.ok; ++k) {
            const uint64_t top = AccTopIndex();
            result.ok = AccMultiply(k) == kAccOk;
            steps += top - AccLowIndex() + 1;
        }
    } else {
        // The job's steps from checkpoint to checkpoint; steps stays 0.
        TeamStart(threads, {nullptr, nullptr});
        result.ok = WorkMemoryAllocate(FactorialWorkBytes(n)) == 0;
        if (result.ok) PrepareFactorialSteps(n);
        uint64_t checkpoints[kMostCheckpoints], from = 0, reached;
        const unsigned count = FactorialCheckpoints(n, checkpoints);
        for (unsigned i = 0; i < count && result.ok; from = checkpoints[i++]) {
            result.ok = AccFactorialStep(from, checkpoints[i], &reached) == kAccOk;
        }
        WorkMemoryRelease();
        TeamStop();
    }
    result.timing = watch.Read();
    result.steps = steps;
    result.hash = HashAccumulator();
    if (wantDigits) result.digits = DecimalOfAccumulator();
    AccRelease();
    return result;
}

#if defined(QRNL_BENCH_GMP)
Timing Sum(const Timing& a, const Timing& b) {
    return {a.seconds + b.seconds, a.ticks + b.ticks, a.cpuSeconds + b.cpuSeconds};
}

struct GmpResult {
    Timing mulUi, factorial, toText;
    std::string digits;
};

GmpResult RunGmp(unsigned n) {
    GmpResult r;
    mpz_t f;
    mpz_init_set_ui(f, 1);
    const Stopwatch watch;
    for (unsigned k = 2; k <= n; ++k) mpz_mul_ui(f, f, k);
    r.mulUi = watch.Read();
    const Stopwatch textWatch;
    r.digits.resize(mpz_sizeinbase(f, 10) + 2);
    mpz_get_str(&r.digits[0], 10, f);
    r.toText = textWatch.Read();
    r.digits.resize(std::strlen(r.digits.c_str()));
    const Stopwatch factorialWatch;
    mpz_fac_ui(f, n);
    r.factorial = factorialWatch.Read();
    mpz_clear(f);
    return r;
}
#endif

std::vector<std::string> SplitList(const char* text) {
    std::vector<std::string> items;
    std::string item;
    for (const char* p = text;; ++p) {
        if (*p == ',' || *p == '\0') {
            if (!item.empty()) items.push_back(item);
            item.clear();
            if (*p == '\0') break;
        } else {
            item += *p;
        }
    }
    return items;
}

void PrintRow(unsigned n, const std::string& name, const Timing& t, uint64_t steps,
              const Timing& gmp, const char* note) {
    std::printf("%8u  %-22s %9.3f %9.3f %9.3f", n, name.c_str(), t.seconds, t.cpuSeconds,
                steps ? t.ticks / steps : 0.0);
    if (gmp.seconds > 0) {
        std::printf(" %8.3f", t.seconds / gmp.seconds);
    } else {
        std::printf(" %8s", "-");
    }
    std::printf("  %s\n", note);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<unsigned> sizes = {100000, 300000, 1000000};
    std::vector<int> variants;
    std::string perMultiplier = "all";
    unsigned plainLimit = 200000;
    bool gmp = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--n=", 4) == 0) {
            sizes.clear();
            for (const auto& s : SplitList(argv[i] + 4))
                sizes.push_back(static_cast<unsigned>(std::strtoul(s.c_str(), nullptr, 10)));
        } else if (std::strncmp(argv[i], "--variants=", 11) == 0) {
            for (const auto& s : SplitList(argv[i] + 11)) {
                int found = -1;
                for (int v = 0; v < kMultiplyVariantCount; ++v)
                    if (s == MultiplyVariantName(v)) found = v;
                if (found < 0) {
                    std::fprintf(stderr, "unknown variant %s\n", s.c_str());
                    return 2;
                }
                variants.push_back(found);
            }
        } else if (std::strncmp(argv[i], "--per-multiplier=", 17) == 0) {
            perMultiplier = argv[i] + 17;
        } else if (std::strncmp(argv[i], "--plain-limit=", 14) == 0) {
            plainLimit = static_cast<unsigned>(std::strtoul(argv[i] + 14, nullptr, 10));
        } else if (std::strcmp(argv[i], "--no-gmp") == 0) {
            gmp = false;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--n=N,...] [--variants=name,...] "
                         "[--per-multiplier=all|none|BEST] [--plain-limit=N] [--no-gmp]\n",
                         argv[0]);
            return 2;
        }
    }
    if (variants.empty())
        for (int v = kMultiplyScalar; v < kMultiplyVariantCount; ++v) variants.push_back(v);
#if !defined(QRNL_BENCH_GMP)
    gmp = false;
#endif
    const unsigned cores = UsableProcessorCount();
    const int best = BestMultiplyVariant();
    std::printf("row kernel chosen for this processor: %s; processors usable: %u\n",
                MultiplyVariantName(best), cores);
    std::printf(
        "ticks are rdtsc counts (the constant-rate time stamp) per step: one limb times\n"
        "one multiplier; GMP=1 is the wall time over GMP's mul_ui loop plus get_str.\n\n");
    std::printf("%8s  %-22s %9s %9s %9s %8s\n", "N", "loop", "wall s", "cpu s", "ticks/step",
                "GMP=1");

    int status = 0;
    for (const unsigned n : sizes) {
        Timing gmpTotal;
        std::string gmpDigits;
#if defined(QRNL_BENCH_GMP)
        GmpResult g;
        if (gmp) {
            g = RunGmp(n);
            gmpTotal = Sum(g.mulUi, g.toText);
            gmpDigits = g.digits;
        }
#endif
        bool haveReference = false;
        uint64_t referenceHash = 0;
        uint64_t steps = 0;
        double plainTicksPerStep = 0, plainSecondsPerStep = 0;
        // Checks a result against GMP's digits (the first) or the first result.
        auto check = [&](const LoopResult& r) -> const char* {
            if (!r.ok) {
                status = 1;
                return "FAILED";
            }
            if (!haveReference) {
                haveReference = true;
                referenceHash = r.hash;
                if (!gmp) return "";
                if (r.digits == gmpDigits) return "digits equal GMP's";
                status = 1;
                return "DIGITS DIFFER FROM GMP";
            }
            if (r.hash == referenceHash) return "";
            status = 1;
            return "RESULT DIFFERS";
        };
        for (const int v : variants) {
            const std::string name = MultiplyVariantName(v);
            if (!MultiplyVariantSupported(v)) {
                std::printf("%8u  %-22s not supported here\n", n, name.c_str());
                continue;
            }
            const bool perMultiplierHere =
                perMultiplier == "all" || (perMultiplier == "BEST" && v == best);
            if (perMultiplierHere && !(v == kMultiplyPlain && n > plainLimit)) {
                const LoopResult r = RunFactorial(v, n, 0, gmp && !haveReference);
                const char* note = check(r);
                if (r.steps) steps = r.steps;
                if (v == kMultiplyPlain) {
                    plainTicksPerStep = r.timing.ticks / r.steps;
                    plainSecondsPerStep = r.timing.seconds / r.steps;
                }
                PrintRow(n, name + " per multiplier", r.timing, r.steps, gmpTotal, note);
            }
            for (const unsigned threads : {1u, cores}) {
                if (threads == cores && cores == 1) break;
                const LoopResult r = RunFactorial(v, n, threads, gmp && !haveReference);
                const char* note = check(r);
                if (!steps) steps = r.steps;
                PrintRow(n, name + " steps x" + std::to_string(threads), r.timing, steps, gmpTotal,
                         note);
            }
        }
        if (plainTicksPerStep > 0 && n > plainLimit && steps) {
            Timing t;
            t.ticks = plainTicksPerStep * steps;
            t.seconds = t.cpuSeconds = plainSecondsPerStep * steps;
            PrintRow(n, "plain per multiplier", t, steps, gmpTotal,
                     "estimate: its time per step at a smaller N");
        }
#if defined(QRNL_BENCH_GMP)
        if (gmp) {
            PrintRow(n, "gmp mul_ui loop", g.mulUi, steps, gmpTotal, "");
            PrintRow(n, "gmp get_str", g.toText, steps, gmpTotal, "");
            PrintRow(n, "gmp mul_ui + get_str", gmpTotal, steps, gmpTotal, "");
            PrintRow(n, "gmp fac_ui + get_str", Sum(g.factorial, g.toText), steps, gmpTotal, "");
        }
#endif
        std::printf("%8u  steps: %" PRIu64 "\n", n, steps);
        std::fflush(stdout);
    }
    ForceMultiplyVariant(best);
    return status;
}
