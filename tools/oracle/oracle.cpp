// Writes GMP-made reference data for the test programs that run under Wine,
// where GMP is not available:
//   factorial_limbs.txt  "N limbCount topLimb hash" for 0..3000 and the checkpoints
//   digits_N.txt         the decimal digits of N! for the N given with --digits
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/gmp_reference.h"
#include "tests/support/limb_hash.h"

namespace {

bool WriteLimbLine(FILE* out, unsigned n) {
    const std::vector<uint64_t> limbs = LimbsOfDecimal(FactorialDigits(n));
    return std::fprintf(out, "%u %zu %llu %llu\n", n, limbs.size(),
                        static_cast<unsigned long long>(limbs.back()),
                        static_cast<unsigned long long>(HashLimbs(limbs.data(), limbs.size()))) > 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR [--digits N...]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    FILE* out = std::fopen((dir + "/factorial_limbs.txt").c_str(), "w");
    if (!out) return 1;
    bool ok = true;
    for (unsigned n = 0; n <= kDenseFactorialLimit; ++n) ok = ok && WriteLimbLine(out, n);
    for (unsigned n : kFactorialCheckpoints) ok = ok && WriteLimbLine(out, n);
    ok = (std::fclose(out) == 0) && ok;

    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--digits") continue;
        const unsigned long n = std::strtoul(argv[i], nullptr, 10);
        const std::string digits = FactorialDigits(n);
        FILE* f = std::fopen((dir + "/digits_" + std::to_string(n) + ".txt").c_str(), "wb");
        if (!f) return 1;
        ok = std::fwrite(digits.data(), 1, digits.size(), f) == digits.size() && ok;
        ok = (std::fclose(f) == 0) && ok;
    }
    return ok ? 0 : 1;
}
