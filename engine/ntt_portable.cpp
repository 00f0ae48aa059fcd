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

// Blocks up to this size go level by level; larger ones split after their
// top level, so that the levels below work on halves in cache.
constexpr uint64_t kLevelByLevel = 4096;

void Forward(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table, unsigned prime) {
    if (size > kLevelByLevel) {
        ForwardLevel(x, size, block, 0, size / 2, table, prime);
        Forward(x, size / 2, 2 * block, table, prime);
        Forward(x + size / 2, size / 2, 2 * block + 1, table, prime);
        return;
    }
    for (uint64_t m = 1; m < size; m *= 2) {
        for (uint64_t b = 0; b < m; ++b) {
            ForwardLevel(x + b * (size / m), size / m, block * m + b, 0, size / m / 2, table,
                         prime);
        }
    }
}

void Inverse(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table, unsigned prime) {
    if (size > kLevelByLevel) {
        Inverse(x, size / 2, 2 * block, table, prime);
        Inverse(x + size / 2, size / 2, 2 * block + 1, table, prime);
        InverseLevel(x, size, block, 0, size / 2, table, prime);
        return;
    }
    for (uint64_t m = size / 2; m >= 1; m /= 2) {
        for (uint64_t b = 0; b < m; ++b) {
            InverseLevel(x + b * (size / m), size / m, block * m + b, 0, size / m / 2, table,
                         prime);
        }
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

const NttKernels kNttPortable = {64,      NttBuildOctave, Load,      Forward, ForwardLevel,
                                 Inverse, InverseLevel,   Pointwise, Crt};
