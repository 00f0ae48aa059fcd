#include "engine/size_estimates.h"

#include <cmath>

int64_t EstimateDigits(int64_t n) {
    if (n == 0 || n == 1) return 1;
    // The order of the terms is fixed: it is what makes the result exact over
    // the accepted range (no sum lands within 1e-7 of an integer).
    const double x = static_cast<double>(n);
    double s = std::log10(std::exp(1.0)) * (-x);
    s = s + std::log10(x) * x;
    s = s + std::log10(x * 6.283185307179586) * 0.5;
    s = s + 1.0;
    return static_cast<int64_t>(std::floor(s));
}

uint64_t BytesForDigits(uint64_t d) {
    const uint64_t q = d / 18;
    const uint64_t r = d % 18;
    return r == 0 ? q * 8 : q * 8 + 8;
}
