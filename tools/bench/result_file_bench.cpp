// How long the result file of 1,000,000! takes to write, and whether its
// bytes are right. The value comes from GMP-made digits.
//   qrnl_oracle DIR --digits 1000000
//   wine qrnl_result_file_bench.exe --oracle=DIR OUT.txt
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine/accumulator_memory.h"
#include "job/result_file.h"
#include "tests/job/job_test_support.h"

namespace {

// Puts the value with these limbs (least significant first) into the
// accumulator: multiplying by the limb base moves the top up one limb at a
// time, then the limbs are overwritten in place.
bool LoadLimbs(const std::string& digits) {
    const size_t limbCount = (digits.size() + 17) / 18;
    if (AccAllocate(limbCount * 8 + 0x10000) != 0) return false;
    for (size_t i = 1; i < limbCount; ++i) {
        if (AccMultiply(kLimbBase) != kAccOk) return false;
    }
    uint64_t* limbs = AccBase();
    size_t end = digits.size();
    for (size_t i = 0; i < limbCount; ++i) {
        const size_t begin = end >= 18 ? end - 18 : 0;
        limbs[i] = std::stoull(digits.substr(begin, end - begin));
        end = begin;
    }
    return AccLimbCount() == limbCount;
}

}  // namespace

int main(int argc, char** argv) {
    OracleDirFromArgs(argc, argv);
    const std::string out = argc > 2 ? argv[2] : "F1000000.txt";
    const unsigned long n = 1000000;
    const std::string digits = ReadOracleDigits(n);
    if (digits.empty() || !LoadLimbs(digits)) {
        std::fprintf(stderr, "no digits of %lu! under --oracle, or no memory\n", n);
        return 2;
    }
    // The writer's own buffer, then others for comparison: 8 bytes is about
    // one write per three-digit group, as the file once went out.
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    int result = 0;
    bool same = true;
    std::string buffer(1 << 22, '\0');
    for (const size_t size :
         {size_t{0}, size_t{8}, size_t{4096}, size_t{1} << 20, size_t{1} << 22}) {
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        const int r = size ? WriteResultFileThrough(SystemPath(out).c_str(), n, &buffer[0], size)
                           : WriteResultFile(SystemPath(out).c_str(), n);
        QueryPerformanceCounter(&after);
        const double ms = 1000.0 * (after.QuadPart - before.QuadPart) / frequency.QuadPart;
        const std::string written = ReadWholeFile(out);
        const bool equal = written == ExpectedResultFile(n, digits);
        std::printf(
            "buffer %8zu bytes%s: result %d, %zu bytes in %7.1f ms, %s the expected bytes\n",
            size ? size : kResultFileBufferBytes, size ? "" : " (the writer's own)", r,
            written.size(), ms, equal ? "equal to" : "DIFFERENT FROM");
        result |= r;
        same = same && equal;
    }
    AccRelease();
    return result == 0 && same ? 0 : 1;
}
