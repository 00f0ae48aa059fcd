// Times the job's phases for N! one after another as the job makes them, on
// every processor the process may use: allocating the result and the work
// memory, starting the team, the loop (what the job's stopwatch spans), the
// check, formatting the result file and writing it, stopping the team and
// giving the memory back. Then the file alone: formatted and written through
// the work memory as the job writes it, and through the writer's own 64 KiB
// buffer. Natively, GMP's mpz_fac_ui plus mpz_get_str in the same run for the
// ratio, and the file compared with GMP's digits.
//
//   qrnl_job_bench [--n=1000000] [--repeat=5] [--no-gmp] [--engine=E] [OUT.txt]
//
// --engine forces a product engine ("portable", "avx2", "ifma") that this
// machine runs, instead of the one chosen for it.
//
// Every figure is the best of --repeat runs, wall time, in milliseconds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/accumulator_memory.h"
#include "engine/factorial_steps.h"
#include "engine/product_dispatch.h"
#include "engine/residue_check.h"
#include "engine/size_estimates.h"
#include "engine/work_memory.h"
#include "engine/work_team.h"
#include "job/result_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#if defined(QRNL_BENCH_GMP)
#include <gmp.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

enum Phase { kAllocate, kTeamStart, kLoop, kCheck, kFormat, kWrite, kTeamStop, kPhases };
const char* const kPhaseNames[kPhases] = {
    "allocation (result and work memory)", "team start",
    "loop (the stopwatch's span)",         "check (two halves on the team)",
    "formatting the file (on the team)",   "writing it (one call, open and close)",
    "team stop, memory given back"};

struct Run {
    double ms[kPhases] = {};
    double fileThroughWork = 0, fileThrough64k = 0;
    uint64_t workBytes = 0, workPeak = 0;  // the file's slice included
    bool ok = false;
};

uint64_t residues[2][kCheckPrimes];
bool limbsFit;
uint64_t checkedN;
void CheckHalf(void*, unsigned part) {
    if (part == 0) {
        FactorialResidues(checkedN, residues[0]);
    } else {
        limbsFit = AccResidues(residues[1]);
    }
}

std::filesystem::path::string_type SystemPath(const std::string& path) {
    return std::filesystem::u8path(path).native();
}

// The formatted file in one write, with the calls the writer makes.
bool WriteBytes(const std::string& path, const char* bytes, uint64_t size) {
#if defined(_WIN32)
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size;
    return CloseHandle(file) && ok;
#else
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) return false;
    const bool ok = write(file, bytes, size) == static_cast<ssize_t>(size);
    return close(file) == 0 && ok;
#endif
}

Run RunJob(uint64_t n, const std::string& out) {
    Run r;
    Clock::time_point t = Clock::now();
    if (AccAllocate(BytesForDigits(EstimateDigits(static_cast<int64_t>(n))) + 0x10000) != 0 ||
        WorkMemoryAllocate(FactorialWorkBytes(n)) != 0) {
        return r;
    }
    uint64_t* const workBase = WorkTake(0);
    r.ms[kAllocate] = MsSince(t);
    t = Clock::now();
    TeamStart(UsableProcessorCount(), {nullptr, nullptr});
    r.ms[kTeamStart] = MsSince(t);

    t = Clock::now();
    PrepareFactorialSteps(n);
    uint64_t checkpoints[kMostCheckpoints];
    const unsigned count = FactorialCheckpoints(n, checkpoints);
    uint64_t from = 0, reached = 0;
    bool ok = true;
    for (unsigned i = 0; i < count; ++i) {
        ok = ok && AccFactorialStep(from, checkpoints[i], &reached) == kAccOk;
        from = checkpoints[i];
    }
    r.ms[kLoop] = MsSince(t);

    t = Clock::now();
    checkedN = n;
    TeamRun(2, CheckHalf, nullptr);
    ok = ok && limbsFit && std::memcmp(residues[0], residues[1], sizeof residues[0]) == 0;
    r.ms[kCheck] = MsSince(t);

    // Through the work memory, in one slice where it holds the file.
    WorkGive(workBase);
    const uint64_t bytes = WorkMemoryBytes();
    char* const buffer = reinterpret_cast<char*>(WorkTake(bytes / 8));
    const ResultFileLayout layout = LayOutResultFile(n);
    t = Clock::now();
    for (uint64_t at = 0; at < layout.totalBytes; at += bytes) {
        FormatResultSlice(layout, buffer, at,
                          layout.totalBytes - at < bytes ? layout.totalBytes : at + bytes);
    }
    r.ms[kFormat] = MsSince(t);
    // Each file is new, as the job's usually is.
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::u8path(out), ignored);
    t = Clock::now();
    ok = ok && WriteBytes(out, buffer, layout.totalBytes);
    r.ms[kWrite] = MsSince(t);
    std::filesystem::remove(std::filesystem::u8path(out), ignored);
    t = Clock::now();
    ok = ok && WriteResultFileThrough(SystemPath(out).c_str(), n, buffer, bytes) == 0;
    r.fileThroughWork = MsSince(t);
    std::filesystem::remove(std::filesystem::u8path(out), ignored);
    t = Clock::now();
    ok = ok && WriteResultFile(SystemPath(out).c_str(), n) == 0;
    r.fileThrough64k = MsSince(t);
    WorkGive(workBase);

    r.workBytes = WorkMemoryBytes();
    r.workPeak = WorkPeakBytes();
    t = Clock::now();
    TeamStop();
    ok = WorkMemoryRelease() == 0 && ok;
    r.ms[kTeamStop] = MsSince(t);
    r.ok = ok;
    return r;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t n = 1000000;
    unsigned repeat = 5;
    [[maybe_unused]] bool gmp = true;  // GMP is linked natively only
    std::string out = "F1000000.txt";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--n=", 4) == 0) {
            n = std::strtoull(argv[i] + 4, nullptr, 10);
        } else if (std::strncmp(argv[i], "--repeat=", 9) == 0) {
            repeat = static_cast<unsigned>(std::strtoul(argv[i] + 9, nullptr, 10));
            if (repeat == 0) repeat = 1;
        } else if (std::strcmp(argv[i], "--no-gmp") == 0) {
            gmp = false;
        } else if (std::strncmp(argv[i], "--engine=", 9) == 0) {
            int engine = 0;
            while (engine < kProductEngineCount &&
                   std::strcmp(argv[i] + 9, ProductEngineName(engine)) != 0) {
                ++engine;
            }
            if (!ForceProductEngine(engine)) {
                std::fprintf(stderr, "engine %s: unknown, or not on this machine\n", argv[i] + 9);
                return 2;
            }
        } else if (argv[i][0] != '-') {
            out = argv[i];
        } else {
            std::fprintf(stderr,
                         "usage: %s [--n=N] [--repeat=R] [--no-gmp] [--engine=E] [OUT.txt]\n",
                         argv[0]);
            return 2;
        }
    }
    Run best;
    bool ok = true;
    for (unsigned i = 0; i < repeat; ++i) {
        const Run r = RunJob(n, out);
        ok = ok && r.ok;
        for (int p = 0; p < kPhases; ++p) {
            if (i == 0 || r.ms[p] < best.ms[p]) best.ms[p] = r.ms[p];
        }
        if (i == 0 || r.fileThroughWork < best.fileThroughWork) {
            best.fileThroughWork = r.fileThroughWork;
        }
        if (i == 0 || r.fileThrough64k < best.fileThrough64k)
            best.fileThrough64k = r.fileThrough64k;
        best.workBytes = r.workBytes;
        best.workPeak = r.workPeak;
    }
    const std::string file = ReadFile(out);
    std::printf("%llu!, %u threads, %s engine, best of %u, ms\n",
                static_cast<unsigned long long>(n), UsableProcessorCount(),
                ProductEngineName(ActiveProductEngine()), repeat);
    double total = 0;
    for (int p = 0; p < kPhases; ++p) {
        std::printf("  %-40s %8.2f\n", kPhaseNames[p], best.ms[p]);
        total += best.ms[p];
    }
    std::printf("  %-40s %8.2f\n", "sum of the phases", total);
    std::printf(
        "work memory beyond the result: %.2f MB, at most %.2f MB in use, the file's slice "
        "included\n",
        best.workBytes / 1e6, best.workPeak / 1e6);
    std::printf("the file alone, %zu bytes:\n", file.size());
    std::printf("  %-40s %8.2f\n", "formatted and written via work memory", best.fileThroughWork);
    std::printf("  %-40s %8.2f\n", "through the writer's own 64 KiB", best.fileThrough64k);
#if defined(QRNL_BENCH_GMP)
    if (gmp) {
        double gmpBest = 0;
        std::string digits;
        for (unsigned i = 0; i < repeat; ++i) {
            mpz_t f;
            mpz_init(f);
            const Clock::time_point t = Clock::now();
            mpz_fac_ui(f, n);
            std::string s(mpz_sizeinbase(f, 10) + 2, '\0');
            mpz_get_str(&s[0], 10, f);
            const double ms = MsSince(t);
            mpz_clear(f);
            if (i == 0 || ms < gmpBest) gmpBest = ms;
            if (i == 0) digits = s.c_str();
        }
        // The file's digits, without the header, spaces and line ends.
        std::string fileDigits;
        for (size_t i = file.find('\n') + 1; i < file.size(); ++i) {
            if (file[i] >= '0' && file[i] <= '9') fileDigits += file[i];
        }
        const bool same = fileDigits == digits;
        ok = ok && same;
        std::printf(
            "GMP fac_ui + get_str %8.2f ms: the job's phases are %.3f of it; the file %s "
            "GMP's digits\n",
            gmpBest, total / gmpBest, same ? "holds" : "DIFFERS FROM");
    }
#endif
    std::printf("%s\n", ok ? "every run checked and written" : "A RUN FAILED");
    return ok ? 0 : 1;
}
