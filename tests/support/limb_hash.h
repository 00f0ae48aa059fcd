// A 64-bit fingerprint of a limb sequence (FNV-1a over the limbs' bytes,
// least significant limb first). The native oracle writes it from GMP's
// digits; the Windows tests, which have no GMP, compare against it.
#pragma once

#include <cstdint>

inline uint64_t HashLimbs(const uint64_t* limbs, uint64_t count) {
    uint64_t h = 1469598103934665603ULL;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t v = limbs[i];
        for (int b = 0; b < 8; ++b) {
            h ^= v & 0xFF;
            h *= 1099511628211ULL;
            v >>= 8;
        }
    }
    return h;
}

// The factorials the tests check besides 0 .. 3000: spread up to 1,000,000.
constexpr unsigned kFactorialCheckpoints[] = {3500,  5000,  12345,  65536,
                                              99999, 100000, 300000, 1000000};
constexpr unsigned kDenseFactorialLimit = 3000;
