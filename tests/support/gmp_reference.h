// GMP as an independent oracle (native builds only; the product never links it).
#pragma once

#include <gmp.h>

#include <cstdint>
#include <string>
#include <vector>

// Decimal digits of v.
inline std::string DecimalOf(const mpz_t v) {
    std::string s(mpz_sizeinbase(v, 10) + 2, '\0');
    mpz_get_str(&s[0], 10, v);
    s.resize(std::char_traits<char>::length(s.c_str()));
    return s;
}

// Base-10^18 limbs of a decimal text, least significant first.
inline std::vector<uint64_t> LimbsOfDecimal(const std::string& digits) {
    std::vector<uint64_t> limbs;
    for (size_t end = digits.size(); end > 0;) {
        const size_t begin = end >= 18 ? end - 18 : 0;
        limbs.push_back(std::stoull(digits.substr(begin, end - begin)));
        end = begin;
    }
    return limbs;
}

inline std::string FactorialDigits(unsigned long n) {
    mpz_t f;
    mpz_init(f);
    mpz_fac_ui(f, n);
    std::string s = DecimalOf(f);
    mpz_clear(f);
    return s;
}
