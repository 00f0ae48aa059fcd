// The portable transform engine: baseline x86-64, one residue at a time.
// Bounds beyond those in ntt_kernels.h:
// - Montgomery products with R = 2^64: for x, y < 4p < 2^52, T = x y < 2^104
//   and m = (T mod 2^64) p^-1 mod 2^64 make T - m p a multiple of 2^64 with
//   the same low word, so T R^-1 = hi(T) - hi(m p) mod p, which lies in
//   (-p, 2^40); adding p leaves it in [0, 2p).
// - A limb a < 10^18 < 2^60 times R mod p (< p < 2^50) is below 2^110, so
//   the same product gives a mod p below 2^46 + p < 2p.
#include "engine/ntt_kernels.h"

#include "engine/ntt_scalar.h"

namespace {

struct Montgomery {
    uint64_t p, pInverse, r;  // p^-1 mod 2^64, 2^64 mod p
};

constexpr uint64_t InverseModWord(uint64_t p) {
    uint64_t x = p;  // correct to 3 bits for odd p; each step doubles that
    for (int i = 0; i < 5; ++i) x *= 2 - p * x;
    return x;
}

constexpr Montgomery MontgomeryOf(uint64_t p) {
    return {p, InverseModWord(p),
            static_cast<uint64_t>((static_cast<unsigned __int128>(1) << 64) % p)};
}

constexpr Montgomery kMontgomery[kNttPrimeCount] = {
    MontgomeryOf(kNttPrimes[0]), MontgomeryOf(kNttPrimes[1]), MontgomeryOf(kNttPrimes[2])};

inline uint64_t MontgomeryMul(uint64_t x, uint64_t y, const Montgomery& m) {
    const unsigned __int128 t = static_cast<unsigned __int128>(x) * y;
    const uint64_t q = static_cast<uint64_t>(t) * m.pInverse;
    const uint64_t qp = static_cast<uint64_t>((static_cast<unsigned __int128>(q) * m.p) >> 64);
    return static_cast<uint64_t>(t >> 64) - qp + m.p;
}

void Load(uint64_t* x, const uint64_t* a, uint64_t n, uint64_t length, unsigned prime) {
    const Montgomery& m = kMontgomery[prime];
    for (uint64_t i = 0; i < n; ++i) x[i] = MontgomeryMul(a[i], m.r, m);
    for (uint64_t i = n; i < length; ++i) x[i] = 0;
}

void ForwardLevel(uint64_t* x, uint64_t size, uint64_t block, uint64_t from, uint64_t to,
                  const NttTable& table, unsigned prime) {
    const uint64_t h = size / 2, w = table.w[block];
    for (uint64_t j = from; j < to; ++j) ForwardButterfly(&x[j], &x[j + h], w, prime);
}

void InverseLevel(uint64_t* x, uint64_t size, uint64_t block, uint64_t from, uint64_t to,
                  const NttTable& table, unsigned prime) {
    const uint64_t h = size / 2, w = InverseTwiddle(table, block, prime);
    for (uint64_t j = from; j < to; ++j) InverseButterfly(&x[j], &x[j + h], w, prime);
}

// The top two levels of a block at once: its quarters q0 .. q3 meet as
// (q0, q2), (q1, q3) with the block's twiddle, then (q0, q1), (q2, q3) with
// those of its halves.
void ForwardRadix4(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t,
                   unsigned prime) {
    const uint64_t q = size / 4, w = t.w[block], wa = t.w[2 * block], wb = t.w[2 * block + 1];
    for (uint64_t j = 0; j < q; ++j) {
        ForwardButterfly(&x[j], &x[j + 2 * q], w, prime);
        ForwardButterfly(&x[j + q], &x[j + 3 * q], w, prime);
        ForwardButterfly(&x[j], &x[j + q], wa, prime);
        ForwardButterfly(&x[j + 2 * q], &x[j + 3 * q], wb, prime);
    }
}

void InverseRadix4(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t,
                   unsigned prime) {
    const uint64_t q = size / 4, w = InverseTwiddle(t, block, prime);
    const uint64_t wa = InverseTwiddle(t, 2 * block, prime);
    const uint64_t wb = InverseTwiddle(t, 2 * block + 1, prime);
    for (uint64_t j = 0; j < q; ++j) {
        InverseButterfly(&x[j], &x[j + q], wa, prime);
        InverseButterfly(&x[j + 2 * q], &x[j + 3 * q], wb, prime);
        InverseButterfly(&x[j], &x[j + 2 * q], w, prime);
        InverseButterfly(&x[j + q], &x[j + 3 * q], w, prime);
    }
}

// Blocks larger than this split after their top two levels, depth first, so
// that the levels below work on quarters in cache; smaller ones go level
// pair by level pair.
constexpr uint64_t kInCache = 4096;

void Forward(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table, unsigned prime) {
    if (size > kInCache) {
        ForwardRadix4(x, size, block, table, prime);
        for (uint64_t k = 0; k < 4; ++k) {
            Forward(x + k * (size / 4), size / 4, 4 * block + k, table, prime);
        }
        return;
    }
    uint64_t s = size, m = 1;  // block size and blocks at the level
    for (; s >= 4; s /= 4, m *= 4) {
        for (uint64_t b = 0; b < m; ++b) ForwardRadix4(x + b * s, s, block * m + b, table, prime);
    }
    if (s == 2) {
        for (uint64_t b = 0; b < m; ++b) ForwardLevel(x + 2 * b, 2, block * m + b, 0, 1, table, prime);
    }
}

void Inverse(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table, unsigned prime) {
    if (size > kInCache) {
        for (uint64_t k = 0; k < 4; ++k) {
            Inverse(x + k * (size / 4), size / 4, 4 * block + k, table, prime);
        }
        InverseRadix4(x, size, block, table, prime);
        return;
    }
    // The same levels backwards: an odd one of blocks of 2 first, then pairs.
    uint64_t s = 1, m = size;
    while (s * 4 <= size) s *= 4;
    if (s != size) {
        for (uint64_t b = 0; b < size / 2; ++b) {
            InverseLevel(x + 2 * b, 2, block * (size / 2) + b, 0, 1, table, prime);
        }
    }
    for (s = s == size ? 4 : 8, m = size / s; s <= size; s *= 4, m /= 4) {
        for (uint64_t b = 0; b < m; ++b) InverseRadix4(x + b * s, s, block * m + b, table, prime);
    }
}

void Pointwise(uint64_t* x, const uint64_t* y, uint64_t n, unsigned prime) {
    const Montgomery& m = kMontgomery[prime];
    if (y == nullptr) {
        for (uint64_t i = 0; i < n; ++i) x[i] = MontgomeryMul(x[i], x[i], m);
    } else {
        for (uint64_t i = 0; i < n; ++i) x[i] = MontgomeryMul(x[i], y[i], m);
    }
}

void Crt(uint64_t* x0, uint64_t* x1, uint64_t* x2, uint64_t from, uint64_t to,
         const uint64_t* scale, const uint64_t* scaleShoup) {
    const NttCrtConstants& c = NttCrt();
    for (uint64_t i = from; i < to; ++i) CrtOne(&x0[i], &x1[i], &x2[i], scale, scaleShoup, c);
}

}  // namespace

const NttKernels kNttPortable = {64,           192,     NttBuildOctave, Load,      Forward,
                                 ForwardLevel, Inverse, InverseLevel,   Pointwise, Crt};
