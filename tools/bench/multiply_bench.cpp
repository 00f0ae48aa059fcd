// Times the factorial loop (AccMultiply by 1 .. N) with each row kernel this
// processor runs and, in the native build, GMP's mpz_mul_ui loop plus
// mpz_get_str on the same machine in the same run.
//
//   qrnl_bench [--n=100000,1000000] [--variants=plain,scalar,avx2,avx512]
//              [--plain-limit=200000] [--no-gmp]
//
// The plain kernel takes minutes at N = 1,000,000; above --plain-limit it is
// not run but estimated from its time per limb step at the largest N it ran.
#include <x86intrin.h>

#include <chrono>
#include <ctime>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/multiply_dispatch.h"
#include "engine/size_estimates.h"

#if defined(QRNL_BENCH_GMP)
#include <gmp.h>
#endif

namespace {

struct Timing {
    double seconds = 0;
    double ticks = 0;
    double cpuSeconds = 0;  // processor time of the process; wall time on Windows
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
    uint64_t limbSteps = 0;  // limbs the kernels touched, after the zero-limb skip
    uint64_t hash = 0;
    std::string digits;  // only when asked, for the check against GMP
    bool ok = true;
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

LoopResult RunFactorial(int variant, unsigned n, bool wantDigits) {
    LoopResult result;
    if (!ForceMultiplyVariant(variant) ||
        AccAllocate(BytesForDigits(EstimateDigits(n)) + 65536) != 0) {
        result.ok = false;
        return result;
    }
    uint64_t steps = 0;
    const Stopwatch watch;
    for (unsigned k = 1; k <= n; ++k) {
        const uint64_t top = AccTopIndex();
        if (AccMultiply(k) != kAccOk) {
            result.ok = false;
            break;
        }
        steps += top - AccLowIndex() + 1;
    }
    result.timing = watch.Read();
    result.limbSteps = steps;
    result.hash = HashAccumulator();
    if (wantDigits) result.digits = DecimalOfAccumulator();
    AccRelease();
    return result;
}

#if defined(QRNL_BENCH_GMP)
struct GmpResult {
    Timing multiply;
    Timing toText;
    std::string digits;
};

GmpResult RunGmp(unsigned n) {
    GmpResult r;
    mpz_t f;
    mpz_init_set_ui(f, 1);
    const Stopwatch watch;
    for (unsigned k = 2; k <= n; ++k) mpz_mul_ui(f, f, k);
    r.multiply = watch.Read();
    const Stopwatch textWatch;
    r.digits.resize(mpz_sizeinbase(f, 10) + 2);
    mpz_get_str(&r.digits[0], 10, f);
    r.toText = textWatch.Read();
    r.digits.resize(std::strlen(r.digits.c_str()));
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

// Ratios use processor time where the platform has it, so that other work
// on a shared machine does not tilt them.
void PrintRow(const char* name, unsigned n, const Timing& t, uint64_t steps, const Timing& gmp,
              const char* note) {
    std::printf("%8u  %-12s %9.3f %9.3f %9.3f %9.3f", n, name, t.seconds, t.cpuSeconds,
                t.seconds * 1e9 / steps, t.ticks / steps);
    if (gmp.cpuSeconds > 0)
        std::printf(" %8.3f %8.3f", t.seconds / gmp.seconds, t.cpuSeconds / gmp.cpuSeconds);
    else
        std::printf(" %8s %8s", "-", "-");
    std::printf("  %s\n", note);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<unsigned> sizes = {100000, 1000000};
    std::vector<int> variants;
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
        } else if (std::strncmp(argv[i], "--plain-limit=", 14) == 0) {
            plainLimit = static_cast<unsigned>(std::strtoul(argv[i] + 14, nullptr, 10));
        } else if (std::strcmp(argv[i], "--no-gmp") == 0) {
            gmp = false;
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--n=N,...] [--variants=name,...] [--plain-limit=N] [--no-gmp]\n",
                argv[0]);
            return 2;
        }
    }
    if (variants.empty())
        for (int v = 0; v < kMultiplyVariantCount; ++v) variants.push_back(v);
#if !defined(QRNL_BENCH_GMP)
    gmp = false;
#endif

    std::printf("row kernel chosen for this processor: %s\n",
                MultiplyVariantName(BestMultiplyVariant()));
    std::printf(
        "ns and ticks are per limb step (limbs multiplied after the zero-limb skip);\n"
        "ticks are rdtsc counts, the processor's constant-rate time stamp.\n\n");
    std::printf("%8s  %-12s %9s %9s %9s %9s %8s %8s\n", "N", "loop", "wall s", "cpu s", "ns/step",
                "ticks/step", "GMP=1", "cpu GMP=1");
    int status = 0;
    double plainNsPerStep = 0;
    double plainTicksPerStep = 0;
    double plainCpuNsPerStep = 0;
    for (const unsigned n : sizes) {
        Timing gmpTotal;
        std::string gmpDigits;
#if defined(QRNL_BENCH_GMP)
        GmpResult g;
        if (gmp) {
            g = RunGmp(n);
            gmpTotal = {g.multiply.seconds + g.toText.seconds, g.multiply.ticks + g.toText.ticks,
                        g.multiply.cpuSeconds + g.toText.cpuSeconds};
            gmpDigits = g.digits;
        }
#endif
        uint64_t referenceHash = 0;
        bool haveReference = false;
        uint64_t steps = 0;
        bool plainSkipped = false;
        for (const int v : variants) {
            const char* name = MultiplyVariantName(v);
            if (!MultiplyVariantSupported(v)) {
                std::printf("%8u  %-12s not supported here\n", n, name);
                continue;
            }
            if (v == kMultiplyPlain && n > plainLimit) {
                plainSkipped = true;  // estimated below, once the limb steps are known
                continue;
            }
            const LoopResult r = RunFactorial(v, n, gmp && !haveReference);
            if (!r.ok) {
                std::printf("%8u  %-12s FAILED\n", n, name);
                status = 1;
                continue;
            }
            const char* note = "";
            if (!haveReference) {
                referenceHash = r.hash;
                haveReference = true;
                if (gmp)
                    note = r.digits == gmpDigits ? "digits equal GMP's" : "DIGITS DIFFER FROM GMP";
                if (gmp && r.digits != gmpDigits) status = 1;
            } else if (r.hash != referenceHash) {
                note = "RESULT DIFFERS";
                status = 1;
            }
            steps = r.limbSteps;
            if (v == kMultiplyPlain) {
                plainNsPerStep = r.timing.seconds * 1e9 / r.limbSteps;
                plainTicksPerStep = r.timing.ticks / r.limbSteps;
                plainCpuNsPerStep = r.timing.cpuSeconds * 1e9 / r.limbSteps;
            }
            PrintRow(name, n, r.timing, r.limbSteps, gmpTotal, note);
        }
        if (plainSkipped) {
            const char* name = MultiplyVariantName(kMultiplyPlain);
            if (plainNsPerStep > 0 && steps > 0) {
                Timing t;
                t.seconds = plainNsPerStep * steps / 1e9;
                t.ticks = plainTicksPerStep * steps;
                t.cpuSeconds = plainCpuNsPerStep * steps / 1e9;
                PrintRow(name, n, t, steps, gmpTotal, "estimate: its time per step at a smaller N");
            } else {
                std::printf("%8u  %-12s skipped (above --plain-limit)\n", n, name);
            }
        }
#if defined(QRNL_BENCH_GMP)
        if (gmp && steps > 0) {
            PrintRow("gmp mul_ui", n, g.multiply, steps, gmpTotal, "");
            PrintRow("gmp get_str", n, g.toText, steps, gmpTotal, "");
            PrintRow("gmp total", n, gmpTotal, steps, gmpTotal, "");
        }
#endif
        std::printf("%8u  limb steps: %" PRIu64 "\n", n, steps);
        std::fflush(stdout);
    }
    ForceMultiplyVariant(BestMultiplyVariant());
    return status;
}
