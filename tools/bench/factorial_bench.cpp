// Times the factorial loop in one run, side by side, at each N: the loop the
// job times (the tables and the sieve, then the steps between checkpoints)
// on one thread and on every processor the process may use, the same with
// the AVX2 and the portable engines forced where this machine runs them and
// they are not its choice, and, in the native build, GMP's mpz_fac_ui and
// mpz_get_str, each alone and together. For each loop it also gives the
// check of the result, the number of checkpoints, the longest step and the
// working memory beyond the result (allocated, and the most in use).
//
//   qrnl_bench [--n=100000,300000,1000000] [--repeat=3] [--no-gmp] [--threads=1,2,4]
//
// --threads gives rows for teams of those sizes instead, on the engine chosen
// for this processor (a team may have more threads than there are processors).
//
// Every figure is the best of --repeat runs, wall time. Ratios are to GMP's
// mpz_fac_ui plus mpz_get_str. Natively each result is also compared with
// GMP's digits; under Windows it passes the job's own check.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/factorial_steps.h"
#include "engine/product_dispatch.h"
#include "engine/residue_check.h"
#include "engine/size_estimates.h"
#include "engine/work_memory.h"
#include "engine/work_team.h"

#if defined(QRNL_BENCH_GMP)
#include <gmp.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct LoopResult {
    double loop = 0;     // tables, sieve and steps: what the job's stopwatch spans
    double longest = 0;  // the longest step
    double check = 0;
    unsigned checkpoints = 0;
    uint64_t allocated = 0, peak = 0;  // work memory, bytes
    bool ok = false;
    std::string digits;  // natively, for the comparison with GMP
};

std::string AccumulatorDigits() {
    std::string s = std::to_string(AccLimb(AccTopIndex()));
    char limb[24];
    for (uint64_t i = AccTopIndex(); i-- > 0;) {
        std::snprintf(limb, sizeof limb, "%018" PRIu64, AccLimb(i));
        s += limb;
    }
    return s;
}

// One run of the job's loop on `threads` threads, as the job makes it.
LoopResult RunLoop(uint64_t n, unsigned threads, bool keepDigits) {
    LoopResult r;
    if (AccAllocate(BytesForDigits(EstimateDigits(static_cast<int64_t>(n))) + 0x10000) != 0) {
        return r;
    }
    TeamStart(threads, {nullptr, nullptr});
    if (WorkMemoryAllocate(FactorialWorkBytes(n)) != 0) {
        TeamStop();
        AccRelease();
        return r;
    }
    const Clock::time_point start = Clock::now();
    PrepareFactorialSteps(n);
    uint64_t checkpoints[kMostCheckpoints];
    r.checkpoints = FactorialCheckpoints(n, checkpoints);
    uint64_t from = 1;
    bool stepsOk = true;
    for (unsigned i = 0; i < r.checkpoints; ++i) {
        const Clock::time_point stepStart = Clock::now();
        uint64_t reached = 0;
        stepsOk = stepsOk && AccFactorialStep(from, checkpoints[i], &reached) == kAccOk;
        const double step = SecondsSince(stepStart);
        if (step > r.longest) r.longest = step;
        from = checkpoints[i];
    }
    r.loop = SecondsSince(start);
    r.allocated = WorkMemoryBytes();
    r.peak = WorkPeakBytes();
    TeamStop();
    WorkMemoryRelease();
    const Clock::time_point checkStart = Clock::now();
    r.ok = stepsOk && AccHoldsFactorial(n);
    r.check = SecondsSince(checkStart);
    if (keepDigits) r.digits = AccumulatorDigits();
    AccRelease();
    return r;
}

LoopResult BestLoop(uint64_t n, unsigned threads, unsigned repeat, bool keepDigits) {
    LoopResult best;
    for (unsigned i = 0; i < repeat; ++i) {
        LoopResult r = RunLoop(n, threads, keepDigits && i == 0);
        if (i == 0) {
            best = r;
            continue;
        }
        best.ok = best.ok && r.ok;
        if (r.loop < best.loop) best.loop = r.loop, best.longest = r.longest;
        if (r.check < best.check) best.check = r.check;
    }
    return best;
}

#if defined(QRNL_BENCH_GMP)
struct GmpResult {
    double fac = 0, getStr = 0, both = 0;
    std::string digits;
};

GmpResult BestGmp(uint64_t n, unsigned repeat) {
    GmpResult best;
    for (unsigned i = 0; i < repeat; ++i) {
        mpz_t f;
        mpz_init(f);
        Clock::time_point start = Clock::now();
        mpz_fac_ui(f, n);
        const double fac = SecondsSince(start);
        std::string digits(mpz_sizeinbase(f, 10) + 2, '\0');
        start = Clock::now();
        mpz_get_str(&digits[0], 10, f);
        const double getStr = SecondsSince(start);
        mpz_clear(f);
        digits.resize(std::strlen(digits.c_str()));
        if (i == 0 || fac + getStr < best.both) best.both = fac + getStr;
        if (i == 0 || fac < best.fac) best.fac = fac;
        if (i == 0 || getStr < best.getStr) best.getStr = getStr;
        if (i == 0) best.digits = std::move(digits);
    }
    return best;
}
#endif

void PrintLoop(uint64_t n, const char* name, const LoopResult& r, double gmp, const char* note) {
    std::printf("%8" PRIu64 "  %-20s %8.4f ", n, name, r.loop);
    if (gmp > 0) {
        std::printf("%8.3f", r.loop / gmp);
    } else {
        std::printf("%8s", "-");
    }
    std::printf(" %6u %9.2f %7.2f %7.2f %7.2f  %s%s\n", r.checkpoints, r.longest * 1e3,
                r.check * 1e3, r.allocated / 1e6, r.peak / 1e6, r.ok ? "checked" : "WRONG", note);
}

std::vector<uint64_t> SplitList(const char* s) {
    std::vector<uint64_t> out;
    for (const char* p = s; *p;) {
        char* end;
        out.push_back(std::strtoull(p, &end, 10));
        p = *end == ',' ? end + 1 : end;
        if (end == p && *p) break;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<uint64_t> ns = {100000, 300000, 1000000};
    unsigned repeat = 3;
    [[maybe_unused]] bool gmp = true;  // GMP is linked natively only
    std::vector<uint64_t> teams;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--n=", 4) == 0) {
            ns = SplitList(argv[i] + 4);
        } else if (std::strncmp(argv[i], "--repeat=", 9) == 0) {
            repeat = static_cast<unsigned>(std::strtoul(argv[i] + 9, nullptr, 10));
            if (repeat == 0) repeat = 1;
        } else if (std::strncmp(argv[i], "--threads=", 10) == 0) {
            teams = SplitList(argv[i] + 10);
        } else if (std::strcmp(argv[i], "--no-gmp") == 0) {
            gmp = false;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--n=N,...] [--repeat=R] [--no-gmp] [--threads=T,...]\n",
                         argv[0]);
            return 2;
        }
    }
    const unsigned threads = UsableProcessorCount();
    const int engine = ActiveProductEngine();
    std::printf("product engine chosen for this processor: %s; processors usable: %u\n",
                ProductEngineName(engine), threads);
    std::printf(
        "best of %u; seconds, ratio to GMP fac_ui + get_str, checkpoints, longest step "
        "ms, check ms, work memory MB allocated and at most in use\n",
        repeat);
    std::printf("%8s  %-20s %8s %8s %6s %9s %7s %7s %7s\n", "N", "loop", "seconds", "ratio",
                "checkp", "longest", "check", "alloc", "peak");
    bool allOk = true;
    for (const uint64_t n : ns) {
        double reference = 0;
        std::string digits;
#if defined(QRNL_BENCH_GMP)
        if (gmp) {
            GmpResult g = BestGmp(n, repeat);
            reference = g.both;
            digits = std::move(g.digits);
            std::printf("%8" PRIu64 "  %-20s %8.4f %8.3f\n", n, "GMP fac_ui", g.fac,
                        g.fac / g.both);
            std::printf("%8" PRIu64 "  %-20s %8.4f %8.3f\n", n, "GMP get_str", g.getStr,
                        g.getStr / g.both);
            std::printf("%8" PRIu64 "  %-20s %8.4f %8.3f\n", n, "GMP fac_ui + get_str", g.both,
                        1.0);
        }
#endif
        struct Run {
            std::string name;
            unsigned threads;
            int engine;
        };
        std::vector<Run> runs = {{"steps x1", 1, engine},
                                 {"steps, all threads", threads, engine},
                                 {"avx2 x1", 1, kProductAvx2},
                                 {"avx2, all", threads, kProductAvx2},
                                 {"portable x1", 1, kProductPortable},
                                 {"portable, all", threads, kProductPortable}};
        if (!teams.empty()) runs.clear();
        for (const uint64_t t : teams) {
            runs.push_back({"steps x" + std::to_string(t), static_cast<unsigned>(t), engine});
        }
        for (size_t i = 0; i < runs.size(); ++i) {
            const Run& run = runs[i];
            // A forced row only for another engine that this machine can run.
            const bool forced = teams.empty() && i >= 2;
            if (forced && (run.engine == engine || !ForceProductEngine(run.engine))) continue;
            ForceProductEngine(run.engine);
            LoopResult r = BestLoop(n, run.threads, repeat, !digits.empty());
            const bool same = digits.empty() || r.digits == digits;
            r.ok = r.ok && same;
            allOk = allOk && r.ok;
            PrintLoop(n, run.name.c_str(), r, reference,
                      digits.empty() ? ""
                      : same         ? ", GMP's digits"
                                     : "");
        }
        ForceProductEngine(engine);
    }
    return allOk ? 0 : 1;
}
