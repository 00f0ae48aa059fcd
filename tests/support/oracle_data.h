// The exact digits of N!: natively from GMP (which the product never links), under Wine from
// the files the native oracle (tools/oracle) wrote from GMP's digits into --oracle=DIR.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/decimal_accumulator.h"

#if !defined(_WIN32)
#include <gmp.h>
#endif

// The oracle writes every factorial up to this one and the checkpoints.
constexpr unsigned kDenseFactorialLimit = 3000;
constexpr unsigned kFactorialCheckpoints[] = {3500,  5000,   12345,  65536,
                                              99999, 100000, 300000, 1000000};

// Set from --oracle=DIR by OracleDirFromArgs (called from main).
inline std::string& OracleDir() {
    static std::string dir;
    return dir;
}

inline void OracleDirFromArgs(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--oracle=", 9) == 0) OracleDir() = argv[i] + 9;
    }
}

inline std::string ReadOracleDigits(unsigned long n) {
    std::ifstream in(OracleDir() + "/digits_" + std::to_string(n) + ".txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string ExpectedDigits(unsigned long n) {
#if defined(_WIN32)
    return ReadOracleDigits(n);
#else
    mpz_t f;
    mpz_init(f);
    mpz_fac_ui(f, n);
    std::string s(mpz_sizeinbase(f, 10) + 2, '\0');
    mpz_get_str(&s[0], 10, f);
    mpz_clear(f);
    s.resize(std::strlen(s.c_str()));
    return s;
#endif
}

// Limbs that may hold 10^18 or more each, least significant first, as the
// same value in limbs below 10^18 with no zero limb at the top (one at least).
inline std::vector<uint64_t> Normalized(std::vector<uint64_t> limbs) {
    unsigned __int128 c = 0;
    for (uint64_t& x : limbs) c += x, x = static_cast<uint64_t>(c % kLimbBase), c /= kLimbBase;
    for (; c != 0; c /= kLimbBase) limbs.push_back(static_cast<uint64_t>(c % kLimbBase));
    while (limbs.size() > 1 && limbs.back() == 0) limbs.pop_back();
    return limbs;
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
