// The transform engine with AVX-512 IFMA: eight residues a vector, every
// product a pair of 52-bit multiply-adds. Only called where the processor
// has AVX-512 F and IFMA (see product_dispatch.cpp). It gives, modulo p, the
// portable engine's residues, in the same order.
//
// Bounds beyond those in ntt_kernels.h (all values below 2^52 = IFMA's
// operand width; p < 2^50):
// - Shoup products (the CRT's constants): hi52(x w') and lo52(x w) -
//   lo52(q p) taken modulo 2^52 are q and x w - q p, which lies in [0, 2p).
// - Montgomery products with R = 2^52 (twiddles, pointwise), for x y < p 2^52
//   (x < 4p with a twiddle w < p; x, y < 2p pointwise): hi = T >> 52 < p;
//   with m = lo52(lo52(T) p^-1), lo52(m p) equals lo52(T), and T R^-1 =
//   hi - hi52(m p) mod p lies in (-p, p): plus p, in [0, 2p).
// - A limb a < 2^60 is a0 + a1 2^52 with a0 < 2^52, a1 < 2^8. T = a0 (2^52
//   mod p) + a1 (2^104 mod p) is congruent to a 2^52 and below p 2^52 (1 +
//   2^-44); its Montgomery reduction (with the low words of both products
//   added, below 2^53) is a mod p, below p (1 + 2^-44) + p < 4p.
// - Differences are offset by 2p to stay unsigned: u - t + 2p with t < 2p,
//   v - u + 2p with u < 2p.
// - The CRT's digits: see Digits.
#include <immintrin.h>

// GCC 12's AVX-512 intrinsics pass an undefined vector as the merge source of
// their unmasked forms, which -W(maybe-)uninitialized reports at every use.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include "engine/ntt_kernels.h"
#include "engine/ntt_scalar.h"

namespace {

using V = __m512i;

constexpr uint64_t kMask52 = kNttMask52;

struct PrimeVectors {
    V p, twoP, pInverse52;  // p^-1 mod 2^52
    V r52, r104;            // 2^52 and 2^104 mod p
};

constexpr uint64_t kR104[kNttPrimeCount] = {NttPowerOfTwoMod(104, kNttPrimes[0]),
                                            NttPowerOfTwoMod(104, kNttPrimes[1]),
                                            NttPowerOfTwoMod(104, kNttPrimes[2])};

inline PrimeVectors VectorsOf(unsigned prime) {
    const uint64_t p = kNttPrimes[prime];
    return {_mm512_set1_epi64(p), _mm512_set1_epi64(2 * p),
            _mm512_set1_epi64(kNttInverse52[prime]), _mm512_set1_epi64(kNttR52[prime]),
            _mm512_set1_epi64(kR104[prime])};
}

inline V Load(const uint64_t* x) { return _mm512_loadu_si512(x); }
inline void Store(uint64_t* x, V v) { _mm512_storeu_si512(x, v); }
inline V Broadcast(uint64_t v) { return _mm512_set1_epi64(static_cast<long long>(v)); }

// x below `bound` + bound brought below bound.
inline V BelowV(V x, V bound) {
    return _mm512_mask_sub_epi64(x, _mm512_cmpge_epu64_mask(x, bound), x, bound);
}

inline V ShoupMulV(V x, V w, V ws, V p) {
    const V zero = _mm512_setzero_si512();
    const V q = _mm512_madd52hi_epu64(zero, x, ws);
    const V low = _mm512_madd52lo_epu64(zero, x, w);
    const V qp = _mm512_madd52lo_epu64(zero, q, p);
    return _mm512_and_si512(_mm512_sub_epi64(low, qp), Broadcast(kMask52));
}

inline V MontgomeryMulV(V x, V y, const PrimeVectors& c) {
    const V zero = _mm512_setzero_si512();
    const V low = _mm512_madd52lo_epu64(zero, x, y);
    const V high = _mm512_madd52hi_epu64(zero, x, y);
    const V m = _mm512_madd52lo_epu64(zero, low, c.pInverse52);
    const V mp = _mm512_madd52hi_epu64(zero, m, c.p);
    return _mm512_add_epi64(_mm512_sub_epi64(high, mp), c.p);
}

inline void ForwardButterflyV(V* u, V* v, V w, const PrimeVectors& c) {
    const V a = BelowV(*u, c.twoP);
    const V t = MontgomeryMulV(*v, w, c);
    *u = _mm512_add_epi64(a, t);
    *v = _mm512_add_epi64(_mm512_sub_epi64(a, t), c.twoP);
}

// (u + v, (v - u) w), with w the negated inverse twiddle (InverseTwiddle).
inline void InverseButterflyV(V* u, V* v, V w, const PrimeVectors& c) {
    const V a = *u, b = *v;
    *u = BelowV(_mm512_add_epi64(a, b), c.twoP);
    *v = MontgomeryMulV(_mm512_add_epi64(_mm512_sub_epi64(b, a), c.twoP), w, c);
}

// Twiddles of eight consecutive blocks first .. first + 7, each `repeat`
// lanes wide (repeat * count = 8, count of 1, 2, 4 or 8 blocks).
inline V ForwardTwiddles(const NttTable& t, uint64_t first, unsigned count) {
    const V index = count == 8   ? _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0)
                    : count == 4 ? _mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0)
                                 : _mm512_set_epi64(1, 1, 1, 1, 0, 0, 0, 0);
    const __mmask8 mask = static_cast<__mmask8>((1u << count) - 1);
    return _mm512_permutexvar_epi64(index, _mm512_maskz_loadu_epi64(mask, t.w + first));
}

// The same for the inverse. Blocks first .. first + count - 1 with first a
// multiple of count >= count lie in one octave, where their entries run
// backwards from first's; the blocks from 0 on are looked up one by one.
inline V InverseTwiddles(const NttTable& t, uint64_t first, unsigned count, unsigned prime) {
    if (first >= count) {
        const V index = count == 8   ? _mm512_set_epi64(0, 1, 2, 3, 4, 5, 6, 7)
                        : count == 4 ? _mm512_set_epi64(0, 0, 1, 1, 2, 2, 3, 3)
                                     : _mm512_set_epi64(0, 0, 0, 0, 1, 1, 1, 1);
        const uint64_t last = InverseTwiddleIndex(first) - (count - 1);
        const __mmask8 mask = static_cast<__mmask8>((1u << count) - 1);
        return _mm512_permutexvar_epi64(index, _mm512_maskz_loadu_epi64(mask, t.w + last));
    }
    alignas(64) uint64_t lanes[8];
    const unsigned repeat = 8 / count;
    for (unsigned i = 0; i < 8; ++i) lanes[i] = InverseTwiddle(t, first + i / repeat, prime);
    return _mm512_load_si512(lanes);
}

// The last three levels of a forward transform (blocks of 8, 4 and 2) on
// the 16 residues in *a and *b, which are the blocks b0 and b0 + 1 of 8.
inline void ForwardLastLevels(V* a, V* b, uint64_t b0, const NttTable& t,
                              const PrimeVectors& c) {
    // Blocks of 8: lanes 0..3 of each with lanes 4..7.
    V u = _mm512_shuffle_i64x2(*a, *b, 0x44), v = _mm512_shuffle_i64x2(*a, *b, 0xEE);
    ForwardButterflyV(&u, &v, ForwardTwiddles(t, b0, 2), c);
    // Blocks of 4: u holds a0..a3 b0..b3, v a4..a7 b4..b7.
    const V pairLow = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
    const V pairHigh = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
    V u2 = _mm512_permutex2var_epi64(u, pairLow, v), v2 = _mm512_permutex2var_epi64(u, pairHigh, v);
    ForwardButterflyV(&u2, &v2, ForwardTwiddles(t, 2 * b0, 4), c);
    // Blocks of 2: u2 holds a0 a1 a4 a5 b0 b1 b4 b5, v2 a2 a3 a6 a7 b2 b3 b6 b7.
    V u3 = _mm512_unpacklo_epi64(u2, v2), v3 = _mm512_unpackhi_epi64(u2, v2);
    ForwardButterflyV(&u3, &v3, ForwardTwiddles(t, 4 * b0, 8), c);
    // Back to natural order: u3 holds a0 a2 a4 a6 b0 b2 b4 b6, v3 the odd ones.
    const V e = _mm512_unpacklo_epi64(u3, v3), f = _mm512_unpackhi_epi64(u3, v3);
    *a = _mm512_permutex2var_epi64(e, _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0), f);
    *b = _mm512_permutex2var_epi64(e, _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4), f);
}

// The first three levels of an inverse transform, the same shuffles backwards.
inline void InverseFirstLevels(V* a, V* b, uint64_t b0, const NttTable& t, unsigned prime,
                               const PrimeVectors& c) {
    const V e = _mm512_permutex2var_epi64(*a, _mm512_set_epi64(13, 12, 9, 8, 5, 4, 1, 0), *b);
    const V f = _mm512_permutex2var_epi64(*a, _mm512_set_epi64(15, 14, 11, 10, 7, 6, 3, 2), *b);
    V u3 = _mm512_unpacklo_epi64(e, f), v3 = _mm512_unpackhi_epi64(e, f);
    InverseButterflyV(&u3, &v3, InverseTwiddles(t, 4 * b0, 8, prime), c);
    V u2 = _mm512_unpacklo_epi64(u3, v3), v2 = _mm512_unpackhi_epi64(u3, v3);
    InverseButterflyV(&u2, &v2, InverseTwiddles(t, 2 * b0, 4, prime), c);
    const V back0 = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
    const V back1 = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
    V u = _mm512_permutex2var_epi64(u2, back0, v2), v = _mm512_permutex2var_epi64(u2, back1, v2);
    InverseButterflyV(&u, &v, InverseTwiddles(t, b0, 2, prime), c);
    *a = _mm512_shuffle_i64x2(u, v, 0x44);
    *b = _mm512_shuffle_i64x2(u, v, 0xEE);
}

inline V BroadcastTwiddle(const NttTable& t, uint64_t b) { return Broadcast(t.w[b]); }

inline V BroadcastInverseTwiddle(const NttTable& t, uint64_t b, unsigned prime) {
    return Broadcast(InverseTwiddle(t, b, prime));
}

// A whole forward transform of the block `block` of 8 kVectors residues
// (16, 32 or 64) in registers: the levels between vectors, then the last
// three within them.
template <int kVectors>
inline void ForwardLeaf(uint64_t* x, uint64_t block, const NttTable& t, const PrimeVectors& c) {
    V v[kVectors];
#pragma GCC unroll 8
    for (int i = 0; i < kVectors; ++i) v[i] = Load(x + 8 * i);
    // Level by level, halves of h vectors: the pair i is vector j of the
    // block i / h of the level (whose index is block * kVectors / (2 h) + i / h).
#pragma GCC unroll 3
    for (int h = kVectors / 2; h >= 1; h /= 2) {
#pragma GCC unroll 4
        for (int i = 0; i < kVectors / 2; ++i) {
            const int b = i / h, lo = 2 * h * b + i % h;
                    const V w = BroadcastTwiddle(t, block * (kVectors / (2 * h)) + b);
            ForwardButterflyV(&v[lo], &v[lo + h], w, c);
        }
    }
#pragma GCC unroll 4
    for (int i = 0; i < kVectors; i += 2) ForwardLastLevels(&v[i], &v[i + 1], block * kVectors + i, t, c);
#pragma GCC unroll 8
    for (int i = 0; i < kVectors; ++i) Store(x + 8 * i, v[i]);
}

template <int kVectors>
inline void InverseLeaf(uint64_t* x, uint64_t block, const NttTable& t, unsigned prime,
                        const PrimeVectors& c) {
    V v[kVectors];
#pragma GCC unroll 8
    for (int i = 0; i < kVectors; ++i) v[i] = Load(x + 8 * i);
#pragma GCC unroll 4
    for (int i = 0; i < kVectors; i += 2) {
        InverseFirstLevels(&v[i], &v[i + 1], block * kVectors + i, t, prime, c);
    }
#pragma GCC unroll 3
    for (int h = 1; h < kVectors; h *= 2) {
#pragma GCC unroll 4
        for (int i = 0; i < kVectors / 2; ++i) {
            const int b = i / h, lo = 2 * h * b + i % h;
                    const V w = BroadcastInverseTwiddle(t, block * (kVectors / (2 * h)) + b, prime);
            InverseButterflyV(&v[lo], &v[lo + h], w, c);
        }
    }
#pragma GCC unroll 8
    for (int i = 0; i < kVectors; ++i) Store(x + 8 * i, v[i]);
}

// The top two levels of a block at once: its quarters q0 .. q3 meet as
// (q0, q2), (q1, q3) with the block's twiddle, then (q0, q1), (q2, q3) with
// those of its halves.
void ForwardRadix4(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t,
                   const PrimeVectors& c) {
    const uint64_t q = size / 4;
    const V w = BroadcastTwiddle(t, block), wa = BroadcastTwiddle(t, 2 * block),
            wb = BroadcastTwiddle(t, 2 * block + 1);
    for (uint64_t j = 0; j < q; j += 8) {
        V x0 = Load(x + j), x1 = Load(x + j + q), x2 = Load(x + j + 2 * q), x3 = Load(x + j + 3 * q);
        ForwardButterflyV(&x0, &x2, w, c);
        ForwardButterflyV(&x1, &x3, w, c);
        ForwardButterflyV(&x0, &x1, wa, c);
        ForwardButterflyV(&x2, &x3, wb, c);
        Store(x + j, x0);
        Store(x + j + q, x1);
        Store(x + j + 2 * q, x2);
        Store(x + j + 3 * q, x3);
    }
}

void InverseRadix4(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t, unsigned prime,
                   const PrimeVectors& c) {
    const uint64_t q = size / 4;
    const V w = BroadcastInverseTwiddle(t, block, prime),
            wa = BroadcastInverseTwiddle(t, 2 * block, prime),
            wb = BroadcastInverseTwiddle(t, 2 * block + 1, prime);
    for (uint64_t j = 0; j < q; j += 8) {
        V x0 = Load(x + j), x1 = Load(x + j + q), x2 = Load(x + j + 2 * q), x3 = Load(x + j + 3 * q);
        InverseButterflyV(&x0, &x1, wa, c);
        InverseButterflyV(&x2, &x3, wb, c);
        InverseButterflyV(&x0, &x2, w, c);
        InverseButterflyV(&x1, &x3, w, c);
        Store(x + j, x0);
        Store(x + j + q, x1);
        Store(x + j + 2 * q, x2);
        Store(x + j + 3 * q, x3);
    }
}

void BuildOctaveIfma(unsigned prime, uint64_t half, uint64_t* w, uint64_t octave, uint64_t from,
                     uint64_t to) {
    const PrimeVectors c = VectorsOf(prime);
    const V factor = Broadcast(NttOctaveFactor(prime, half, octave));
    uint64_t t = from;
    for (; t + 8 <= to; t += 8) {
        Store(w + octave + t, BelowV(MontgomeryMulV(Load(w + t), factor, c), c.p));
    }
    NttBuildOctave(prime, half, w, octave, t, to);
}

void LoadIfma(uint64_t* x, const uint64_t* a, uint64_t n, uint64_t length, unsigned prime) {
    const PrimeVectors c = VectorsOf(prime);
    const V zero = _mm512_setzero_si512(), mask = Broadcast(kMask52);
    uint64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const V limb = Load(a + i);
        const V a0 = _mm512_and_si512(limb, mask), a1 = _mm512_srli_epi64(limb, 52);
        const V low = _mm512_madd52lo_epu64(_mm512_madd52lo_epu64(zero, a0, c.r52), a1, c.r104);
        const V high = _mm512_madd52hi_epu64(_mm512_madd52hi_epu64(zero, a0, c.r52), a1, c.r104);
        const V m = _mm512_madd52lo_epu64(zero, low, c.pInverse52);
        const V mp = _mm512_madd52hi_epu64(zero, m, c.p);
        const V r = _mm512_add_epi64(_mm512_add_epi64(high, _mm512_srli_epi64(low, 52)), c.p);
        Store(x + i, _mm512_sub_epi64(r, mp));
    }
    kNttPortable.load(x + i, a + i, n - i, length - i, prime);
}

void ForwardLevelIfma(uint64_t* x, uint64_t size, uint64_t block, uint64_t from, uint64_t to,
                      const NttTable& table, unsigned prime) {
    const uint64_t h = size / 2;
    if (h < 8 || from % 8 != 0 || to % 8 != 0) {
        kNttPortable.forwardLevel(x, size, block, from, to, table, prime);
        return;
    }
    const PrimeVectors c = VectorsOf(prime);
    const V w = BroadcastTwiddle(table, block);
    for (uint64_t j = from; j < to; j += 8) {
        V u = Load(x + j), v = Load(x + j + h);
        ForwardButterflyV(&u, &v, w, c);
        Store(x + j, u);
        Store(x + j + h, v);
    }
}

void InverseLevelIfma(uint64_t* x, uint64_t size, uint64_t block, uint64_t from, uint64_t to,
                      const NttTable& table, unsigned prime) {
    const uint64_t h = size / 2;
    if (h < 8 || from % 8 != 0 || to % 8 != 0) {
        kNttPortable.inverseLevel(x, size, block, from, to, table, prime);
        return;
    }
    const PrimeVectors c = VectorsOf(prime);
    const V w = BroadcastInverseTwiddle(table, block, prime);
    for (uint64_t j = from; j < to; j += 8) {
        V u = Load(x + j), v = Load(x + j + h);
        InverseButterflyV(&u, &v, w, c);
        Store(x + j, u);
        Store(x + j + h, v);
    }
}

// Blocks of up to 64 residues are done in registers; larger ones two levels
// at a time, then their quarters, depth first so that they work in cache.
void ForwardBlock(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t,
                  const PrimeVectors& c) {
    if (size == 64) return ForwardLeaf<8>(x, block, t, c);
    if (size == 32) return ForwardLeaf<4>(x, block, t, c);
    if (size == 16) return ForwardLeaf<2>(x, block, t, c);
    if (size == 128) {
            const V w = BroadcastTwiddle(t, block);
        for (uint64_t j = 0; j < 64; j += 8) {
            V u = Load(x + j), v = Load(x + j + 64);
            ForwardButterflyV(&u, &v, w, c);
            Store(x + j, u);
            Store(x + j + 64, v);
        }
        ForwardLeaf<8>(x, 2 * block, t, c);
        ForwardLeaf<8>(x + 64, 2 * block + 1, t, c);
        return;
    }
    ForwardRadix4(x, size, block, t, c);
    for (uint64_t k = 0; k < 4; ++k) ForwardBlock(x + k * (size / 4), size / 4, 4 * block + k, t, c);
}

void InverseBlock(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t, unsigned prime,
                  const PrimeVectors& c) {
    if (size == 64) return InverseLeaf<8>(x, block, t, prime, c);
    if (size == 32) return InverseLeaf<4>(x, block, t, prime, c);
    if (size == 16) return InverseLeaf<2>(x, block, t, prime, c);
    if (size == 128) {
        InverseLeaf<8>(x, 2 * block, t, prime, c);
        InverseLeaf<8>(x + 64, 2 * block + 1, t, prime, c);
            const V w = BroadcastInverseTwiddle(t, block, prime);
        for (uint64_t j = 0; j < 64; j += 8) {
            V u = Load(x + j), v = Load(x + j + 64);
            InverseButterflyV(&u, &v, w, c);
            Store(x + j, u);
            Store(x + j + 64, v);
        }
        return;
    }
    for (uint64_t k = 0; k < 4; ++k) {
        InverseBlock(x + k * (size / 4), size / 4, 4 * block + k, t, prime, c);
    }
    InverseRadix4(x, size, block, t, prime, c);
}

void ForwardIfma(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table,
                 unsigned prime) {
    if (size < 16) return kNttPortable.forward(x, size, block, table, prime);
    ForwardBlock(x, size, block, table, VectorsOf(prime));
}

void InverseIfma(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table,
                 unsigned prime) {
    if (size < 16) return kNttPortable.inverse(x, size, block, table, prime);
    InverseBlock(x, size, block, table, prime, VectorsOf(prime));
}

void PointwiseIfma(uint64_t* x, const uint64_t* y, uint64_t n, unsigned prime) {
    const PrimeVectors c = VectorsOf(prime);
    uint64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const V a = BelowV(Load(x + i), c.twoP);
        const V b = y ? BelowV(Load(y + i), c.twoP) : a;
        Store(x + i, MontgomeryMulV(a, b, c));
    }
    // The tail with the same R as the vectors: below 2p, x y R^-1 by hand.
    const uint64_t p = kNttPrimes[prime];
    for (; i < n; ++i) {
        const uint64_t a = Below(x[i], 2 * p), b = y ? Below(y[i], 2 * p) : a;
        const unsigned __int128 t = static_cast<unsigned __int128>(a) * b;
        const uint64_t low = static_cast<uint64_t>(t) & kMask52;
        const uint64_t high = static_cast<uint64_t>(t >> 52);
        const uint64_t m = (low * kNttInverse52[prime]) & kMask52;
        const uint64_t mp = static_cast<uint64_t>((static_cast<unsigned __int128>(m) * p) >> 52);
        x[i] = high - mp + p;
    }
}

// What Digits needs of the CRT's constants, in vectors.
struct DigitVectors {
    V p0, p01Low, p01High, base;
    __m512d p0d, p01Lowd, p01Highd, inverseBase;
};

// The digits of x0 + p0 x1 + p0 p1 x2, eight coefficients at a time (see
// CoefficientDigits): S = x0 + p0 x1 + x2 p01Low < 2^110.1 and
// T = S / 10^18 + x2 p01High < 2^91.2. Each quotient is estimated in double
// precision from two fused multiply-adds: S's rounding error is below 2^59,
// so S / 10^18 (below 2^51) comes out within 2 of the true quotient, and
// T / 10^18 (below 2^32) within 1. The remainders are then exact modulo 2^64,
// where they lie within 3 10^18 of [0, 10^18), and a few corrections finish
// both quotient and remainder.
inline void Digits(V x0, V x1, V x2, const DigitVectors& k, uint64_t* d0, uint64_t* d1,
                   uint64_t* d2) {
    const __m512d x1d = _mm512_cvtepu64_pd(x1), x2d = _mm512_cvtepu64_pd(x2);
    const __m512d sd =
        _mm512_fmadd_pd(k.p01Lowd, x2d, _mm512_fmadd_pd(k.p0d, x1d, _mm512_cvtepu64_pd(x0)));
    V q = _mm512_cvttpd_epu64(_mm512_mul_pd(sd, k.inverseBase));
    const V sLow = _mm512_add_epi64(
        x0, _mm512_add_epi64(_mm512_mullo_epi64(k.p0, x1), _mm512_mullo_epi64(k.p01Low, x2)));
    V r = _mm512_sub_epi64(sLow, _mm512_mullo_epi64(q, k.base));
    const V zero = _mm512_setzero_si512(), one = Broadcast(1);
    for (int i = 0; i < 3; ++i) {
        const __mmask8 low = _mm512_cmplt_epi64_mask(r, zero);
        r = _mm512_mask_add_epi64(r, low, r, k.base);
        q = _mm512_mask_sub_epi64(q, low, q, one);
    }
    for (int i = 0; i < 3; ++i) {
        const __mmask8 high = _mm512_cmpge_epi64_mask(r, k.base);
        r = _mm512_mask_sub_epi64(r, high, r, k.base);
        q = _mm512_mask_add_epi64(q, high, q, one);
    }
    Store(d0, r);
    // T = q + x2 p01High; its quotient and remainder the same way.
    const __m512d td = _mm512_fmadd_pd(k.p01Highd, x2d, _mm512_cvtepu64_pd(q));
    V q2 = _mm512_cvttpd_epu64(_mm512_mul_pd(td, k.inverseBase));
    const V tLow = _mm512_add_epi64(q, _mm512_mullo_epi64(k.p01High, x2));
    V r2 = _mm512_sub_epi64(tLow, _mm512_mullo_epi64(q2, k.base));
    const __mmask8 low = _mm512_cmplt_epi64_mask(r2, zero);
    r2 = _mm512_mask_add_epi64(r2, low, r2, k.base);
    q2 = _mm512_mask_sub_epi64(q2, low, q2, one);
    const __mmask8 high = _mm512_cmpge_epi64_mask(r2, k.base);
    r2 = _mm512_mask_sub_epi64(r2, high, r2, k.base);
    q2 = _mm512_mask_add_epi64(q2, high, q2, one);
    Store(d1, r2);
    Store(d2, q2);
}

void CrtIfma(uint64_t* x0, uint64_t* x1, uint64_t* x2, uint64_t from, uint64_t to,
             const uint64_t* scale, const uint64_t* scaleShoup) {
    const NttCrtConstants& k = NttCrt();
    const DigitVectors digitConstants = {
        Broadcast(kNttPrimes[0]),
        Broadcast(k.p01Low),
        Broadcast(k.p01High),
        Broadcast(kLimbBase),
        _mm512_set1_pd(static_cast<double>(kNttPrimes[0])),
        _mm512_set1_pd(static_cast<double>(k.p01Low)),
        _mm512_set1_pd(static_cast<double>(k.p01High)),
        _mm512_set1_pd(1.0 / static_cast<double>(kLimbBase))};
    const V p0 = Broadcast(kNttPrimes[0]), p1 = Broadcast(kNttPrimes[1]),
            p2 = Broadcast(kNttPrimes[2]);
    const V twoP1 = _mm512_add_epi64(p1, p1), twoP2 = _mm512_add_epi64(p2, p2);
    const V s0 = Broadcast(scale[0]), s0s = Broadcast(scaleShoup[0]);
    const V s1 = Broadcast(scale[1]), s1s = Broadcast(scaleShoup[1]);
    const V s2 = Broadcast(scale[2]), s2s = Broadcast(scaleShoup[2]);
    const V i01 = Broadcast(k.inv01[0]), i01s = Broadcast(k.inv01[1]);
    const V i012 = Broadcast(k.inv012[0]), i012s = Broadcast(k.inv012[1]);
    const V i12 = Broadcast(k.inv12[0]), i12s = Broadcast(k.inv12[1]);
    uint64_t i = from;
    for (; i + 8 <= to; i += 8) {
        // The modular part as in CrtOne, eight at a time.
        const V y0 = BelowV(ShoupMulV(Load(x0 + i), s0, s0s, p0), p0);
        const V y1 = ShoupMulV(Load(x1 + i), s1, s1s, p1);
        const V y2 = ShoupMulV(Load(x2 + i), s2, s2s, p2);
        const V z1 = BelowV(
            ShoupMulV(_mm512_sub_epi64(_mm512_add_epi64(y1, twoP1), BelowV(y0, p1)), i01, i01s, p1),
            p1);
        const V t = BelowV(ShoupMulV(_mm512_sub_epi64(_mm512_add_epi64(y2, twoP2), BelowV(y0, p2)),
                                     i012, i012s, p2),
                           p2);
        const V z2 = BelowV(
            _mm512_sub_epi64(_mm512_add_epi64(t, p2), BelowV(ShoupMulV(z1, i12, i12s, p2), p2)),
            p2);
        Digits(y0, z1, z2, digitConstants, x0 + i, x1 + i, x2 + i);
    }
    kNttPortable.crt(x0, x1, x2, i, to, scale, scaleShoup);
}

}  // namespace

const NttKernels kNttIfma = {52,          32,          BuildOctaveIfma,  LoadIfma,
                             ForwardIfma, ForwardLevelIfma, InverseIfma, InverseLevelIfma,
                             PointwiseIfma, CrtIfma};
