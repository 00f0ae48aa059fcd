#include "engine/residue_check.h"

#include "engine/decimal_accumulator.h"

namespace {

// Montgomery arithmetic with R = 2^64 for an odd p below 2^61.
struct Modulus {
    uint64_t p;
    uint64_t negInverse;  // -p^-1 mod 2^64
};

constexpr Modulus MakeModulus(uint64_t p) {
    uint64_t inverse = p;  // right in 3 bits; each round doubles them
    for (int i = 0; i < 5; ++i) inverse *= 2 - p * inverse;
    return {p, 0 - inverse};
}

constexpr Modulus kPrimes[kCheckPrimes] = {
    MakeModulus((1ULL << 61) - 1), MakeModulus((1ULL << 61) - 31), MakeModulus((1ULL << 61) - 45)};

// t R^-1 mod p, for t < p 2^64.
inline uint64_t Reduce(unsigned __int128 t, const Modulus& m) {
    const uint64_t q = static_cast<uint64_t>(t) * m.negInverse;
    const uint64_t r = static_cast<uint64_t>((t + static_cast<unsigned __int128>(q) * m.p) >> 64);
    return r >= m.p ? r - m.p : r;
}

inline uint64_t MultiplyReduce(uint64_t a, uint64_t b, const Modulus& m) {
    return Reduce(static_cast<unsigned __int128>(a) * b, m);
}

// x^e mod p, plainly: a few dozen steps.
uint64_t PowerMod(uint64_t x, uint64_t e, uint64_t p) {
    unsigned __int128 result = 1, base = x % p;
    for (; e != 0; e >>= 1, base = base * base % p) {
        if (e & 1) result = result * base % p;
    }
    return static_cast<uint64_t>(result);
}

uint64_t RModP(uint64_t p) {
    return static_cast<uint64_t>((static_cast<unsigned __int128>(1) << 64) % p);
}

}  // namespace

// Consecutive multipliers go in words below 2^64, each folded in by one
// reduction, which divides by R: the R^-count this leaves is undone at the
// end by R^(count + 1).
void FactorialResidues(uint64_t n, uint64_t out[kCheckPrimes]) {
    uint64_t y[kCheckPrimes] = {1, 1, 1};
    uint64_t count = 0;
    for (uint64_t k = 2; k <= n; ++count) {
        uint64_t word = k++;
        while (k <= n && word <= UINT64_MAX / k) word *= k++;
        for (int i = 0; i < kCheckPrimes; ++i) y[i] = MultiplyReduce(y[i], word, kPrimes[i]);
    }
    for (int i = 0; i < kCheckPrimes; ++i) {
        const uint64_t p = kPrimes[i].p;
        out[i] = MultiplyReduce(y[i], PowerMod(RModP(p), count + 1, p), kPrimes[i]);
    }
}

// Horner's rule from the top limb: r <- r 10^18 + limb, where multiplying
// by 10^18 R and reducing multiplies by 10^18.
bool AccResidues(uint64_t out[kCheckPrimes]) {
    uint64_t scale[kCheckPrimes], r[kCheckPrimes] = {0, 0, 0};
    for (int i = 0; i < kCheckPrimes; ++i) {
        const uint64_t p = kPrimes[i].p;
        scale[i] =
            static_cast<uint64_t>(static_cast<unsigned __int128>(kLimbBase % p) * RModP(p) % p);
    }
    const uint64_t* const limbs = AccBase();
    uint64_t outOfRange = 0;
    for (uint64_t j = AccTopIndex() + 1; j-- > 0;) {
        const uint64_t limb = limbs[j];
        outOfRange |= limb >= kLimbBase;
        for (int i = 0; i < kCheckPrimes; ++i) {
            const uint64_t s = MultiplyReduce(r[i], scale[i], kPrimes[i]) + limb;
            r[i] = s >= kPrimes[i].p ? s - kPrimes[i].p : s;  // limb < 10^18 < p
        }
    }
    for (int i = 0; i < kCheckPrimes; ++i) out[i] = r[i];
    return outOfRange == 0 && limbs[AccTopIndex()] != 0;
}

bool AccHoldsFactorial(uint64_t n) {
    uint64_t held[kCheckPrimes], expected[kCheckPrimes];
    if (!AccResidues(held)) return false;
    FactorialResidues(n, expected);
    for (int i = 0; i < kCheckPrimes; ++i) {
        if (held[i] != expected[i]) return false;
    }
    return true;
}
