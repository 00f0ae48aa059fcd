// Writes the reference data the test programs under Wine compare against,
// where GMP is not available: digits_N.txt, the decimal digits of N!, for
// every N up to 3,000 and for the checkpoints up to 1,000,000.
#include <cstdio>
#include <string>

#include "tests/support/oracle_data.h"

namespace {

bool WriteDigits(const std::string& dir, unsigned long n) {
    const std::string digits = ExpectedDigits(n);
    FILE* f = std::fopen((dir + "/digits_" + std::to_string(n) + ".txt").c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(digits.data(), 1, digits.size(), f) == digits.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    bool ok = true;
    for (unsigned n = 0; n <= kDenseFactorialLimit; ++n) ok = ok && WriteDigits(argv[1], n);
    for (unsigned n : kFactorialCheckpoints) ok = ok && WriteDigits(argv[1], n);
    return ok ? 0 : 1;
}
