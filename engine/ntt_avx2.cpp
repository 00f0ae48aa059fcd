// The transform engine with AVX2 and FMA: four residues a vector, every
// modular product in double precision. Only called where the processor has
// AVX2 and FMA and the system saves the YMM state (see product_dispatch.cpp).
// Its kernels leave residues congruent to the portable engine's, within the
// same bounds, so the digits and limbs come out the same.
//
// Numbers. Inside a transform the residues are held as doubles: exact
// integers of either sign, stored in place of the words between passes. On
// the way in a word x (below 2^52) becomes x - c exactly (its bits under the
// exponent of 2^52, minus 2^52 + c); on the way out y + c (at least 0, below
// 2^52) becomes a word the same way backwards. The residues below stay
// under 4p < 2^52 in size, so sums and differences are exact. p < 2^50
// throughout; u is the unit roundoff 2^-53, and every rounding is to nearest.
//
// Product M(v, w) = v w mod p, for integers v, w with |v w| <= 2 p^2:
//   hi = fl(v w); lo = fma(v, w, -hi) = v w - hi exactly (an integer);
//   q = fma(hi, 1/p, 1.5 2^52) - 1.5 2^52, the integer nearest hi fl(1/p):
//     |hi fl(1/p)| <= 2 p (1 + 3u) < 2^51, so the sum lies in [2^52, 2^53)
//     where the doubles are the integers, and the fma rounds it once;
//   d = fma(-q, p, hi) = hi - q p and r = d + lo = v w - q p, both exact:
//     integers below 2^53 (see the bound on r, and |lo| <= u |v w|).
//   hi fl(1/p) = (v w / p)(1 + e) with |e| <= 2u + u^2, so
//   |r| = p |v w / p - q| <= p / 2 + 2^-52 |v w| + 1.
// Reduction R(x) = x - p rnd(x fl(1/p)), |x| < 2^52: x fl(1/p) is within
//   4u of x / p, so |R(x)| < p / 2 + 1, and (an integer, p odd) at most
//   (p + 1) / 2.
// Twiddles are stored in Montgomery form W = w 2^52 mod p; the plain w is
//   M(W, c) with c = 2^-52 mod p taken between -p/2 and p/2, which for our
//   primes is at most 0.391 p: |w| <= p / 2 + 2^-52 p 0.391 p + 1 < 0.6 p.
//   So for a residue v times a twiddle, T(V) := p / 2 + 0.15 V + 1 bounds
//   |M(v, w)| when |v| <= V, and |v| <= 3.33 p keeps |v w| <= 2 p^2.
// Forward (butterfly u + M(v, w), u - M(v, w)), residues below 4p in, taken
// as x - 2p, |x| <= 2p:
//   - A radix-4 pass takes |x| <= 2.4p, reduces its first two quarters (R),
//     and leaves 2.07p + 4: (p + 1) / 2 + T(2.4p) = 1.36p + 2 after one
//     level, plus T(1.36p + 2) = 0.71p + 2 after the second.
//   - A leaf of 16 does the same for its first two levels, the third without
//     reduction (2.07p + 4 + T(2.07p + 4) <= 2.88p + 6, below 3.33p), the
//     last with R(u): (p + 1) / 2 + T(2.88p + 6) < 1.45p. Words y + 2p, in
//     [0, 4p). A leaf of 32 first does one level with R(u): 1.36p + 2.
//   - A single level (forwardLevel) does R(u) on |x| <= 2p: 1.31p + 2.
// Inverse (butterfly u + v, M(v - u, w'), w' the negated inverse twiddle),
// residues below 2p in, taken as x - p, |x| < p:
//   - A radix-4 pass on |x| <= 1.1p: the first level's sums reduced, (p +
//     1) / 2, its products T(2.2p) = 0.83p + 1; the second level's sums
//     p + 1 and (with R) (p + 1) / 2, its products T(p + 1) and T(1.66p +
//     2) = 0.75p + 2. All within 1.1p. The pass that ends a kernel reduces
//     its first sum too, and leaves every residue below p: words y + p, in
//     [0, 2p).
//   - A leaf of 16: its first two levels reduce every sum, (p + 1) / 2, with
//     products T(2p) = 0.8p + 1 and T(1.6p + 2) = 0.74p + 2; the next two as
//     a radix-4 pass. A leaf of 32 then does one level with R on the sums:
//     (p + 1) / 2 and T(2p + 2) <= 0.8p + 2.
//   - A single level (inverseLevel) likewise: (p + 1) / 2 and 0.8p + 1.
// Pointwise (R = 1, plain products): x = R(x - 2p), |x| <= (p + 1) / 2, times
// y - 2p (|y| <= 2p): |x y| <= p^2 + 2p, |r| <= p / 2 + p / 4 + 2; words r + p.
// Load: a limb a < 2^60 is a1 2^32 + a0. q is the integer nearest fl(a)
// fl(1/p): fl(a) is off by at most 2^6 and a / p < 2^10.01, so q (below
// 2^11) is within 1/2 + 2^-40 of a / p. a1 2^32 - q p, then plus a0, are
// exact: |a - q p| <= p / 2 + 2^10, words plus p.
// The table's octaves and the CRT: see their own comments below.
#include <immintrin.h>

#include <cstring>

#include "engine/ntt_kernels.h"
#include "engine/ntt_scalar.h"

namespace {

using D = __m256d;
using I = __m256i;

constexpr double kTwo52 = 4503599627370496.0;        // 2^52
constexpr double kMagic = 6755399441055744.0;        // 1.5 2^52
constexpr uint64_t kTwo52Bits = 0x4330000000000000;  // the bits of 2^52

// -p/2 < v < p/2 congruent to v.
constexpr int64_t Centered(uint64_t v, uint64_t p) {
    return v > p / 2 ? static_cast<int64_t>(v) - static_cast<int64_t>(p) : static_cast<int64_t>(v);
}

struct Prime {
    D p, inverse, twiddleScale;  // p, fl(1/p), 2^-52 mod p (centered)
    D twoP;
};

inline D Broadcast(double v) { return _mm256_set1_pd(v); }

// 2^-52 mod p: the inverse of kNttR52.
uint64_t InverseR52(unsigned prime) {
    return NttPowMod(kNttR52[prime], kNttPrimes[prime] - 2, kNttPrimes[prime]);
}

Prime MakePrime(unsigned prime) {
    const uint64_t p = kNttPrimes[prime];
    return {Broadcast(static_cast<double>(p)), Broadcast(1.0 / static_cast<double>(p)),
            Broadcast(static_cast<double>(Centered(InverseR52(prime), p))),
            Broadcast(static_cast<double>(2 * p))};
}

const Prime& PrimeOf(unsigned prime) {
    static const Prime primes[kNttPrimeCount] = {MakePrime(0), MakePrime(1), MakePrime(2)};
    return primes[prime];
}

inline I LoadWords(const uint64_t* x) { return _mm256_loadu_si256(reinterpret_cast<const I*>(x)); }
inline void StoreWords(uint64_t* x, I v) { _mm256_storeu_si256(reinterpret_cast<I*>(x), v); }
// Doubles kept in the words' place between passes.
inline D LoadD(const uint64_t* x) { return _mm256_castsi256_pd(LoadWords(x)); }
inline void StoreD(uint64_t* x, D v) { StoreWords(x, _mm256_castpd_si256(v)); }

// Words below 2^52 as doubles less `offset`; doubles y with 0 <= y + offset <
// 2^52 back as the words y + offset.
inline D FromWords(I x, D twoPow52PlusOffset) {
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(x, _mm256_set1_epi64x(kTwo52Bits))),
                         twoPow52PlusOffset);
}
inline I ToWords(D y, D twoPow52PlusOffset) {
    return _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(y, twoPow52PlusOffset)),
                            _mm256_set1_epi64x(kTwo52Bits));
}

inline D RoundedQuotient(D x, const Prime& c) {
    return _mm256_sub_pd(_mm256_fmadd_pd(x, c.inverse, Broadcast(kMagic)), Broadcast(kMagic));
}

// M(v, w) and R(x) of the opening comment.
[[gnu::always_inline]] inline D MulMod(D v, D w, const Prime& c) {
    const D hi = _mm256_mul_pd(v, w);
    const D lo = _mm256_fmsub_pd(v, w, hi);
    const D q = RoundedQuotient(hi, c);
    return _mm256_add_pd(_mm256_fnmadd_pd(q, c.p, hi), lo);
}

[[gnu::always_inline]] inline D Reduce(D x, const Prime& c) {
    return _mm256_fnmadd_pd(RoundedQuotient(x, c), c.p, x);
}

// y + p for a negative y: y in (-p, p) made an exact residue.
inline D Exact(D y, D p) {
    return _mm256_add_pd(y, _mm256_and_pd(_mm256_cmp_pd(y, _mm256_setzero_pd(), _CMP_LT_OQ), p));
}

// Plain twiddles from four table words (Montgomery form).
[[gnu::always_inline]] inline D Plain(I w, const Prime& c) {
    return MulMod(FromWords(w, Broadcast(kTwo52)), c.twiddleScale, c);
}

template <int kLane>
inline D Lane(D v) {
    return _mm256_permute4x64_pd(v, kLane * 0x55);
}

// Twiddles of the blocks a, b, b + 1, in lanes 0, 2 and 3 (forward), or the
// negated inverses of those blocks (inverse).
inline D ForwardTriple(const NttTable& t, uint64_t a, uint64_t b, const Prime& c) {
    return Plain(_mm256_set_epi64x(static_cast<int64_t>(t.w[b + 1]), static_cast<int64_t>(t.w[b]),
                                   0, static_cast<int64_t>(t.w[a])),
                 c);
}

inline D InverseTriple(const NttTable& t, uint64_t a, uint64_t b, unsigned prime, const Prime& c) {
    return Plain(_mm256_set_epi64x(static_cast<int64_t>(InverseTwiddle(t, b + 1, prime)),
                                   static_cast<int64_t>(InverseTwiddle(t, b, prime)), 0,
                                   static_cast<int64_t>(InverseTwiddle(t, a, prime))),
                 c);
}

// The negated inverse twiddles of the blocks first .. first + 3 (first a
// multiple of 4): from 4 on they lie in one octave, backwards.
inline D InverseFour(const NttTable& t, uint64_t first, unsigned prime, const Prime& c) {
    if (first >= 4) {
        const I w = LoadWords(t.w + InverseTwiddleIndex(first) - 3);
        return Plain(_mm256_permute4x64_epi64(w, 0x1B), c);
    }
    return Plain(_mm256_set_epi64x(static_cast<int64_t>(InverseTwiddle(t, first + 3, prime)),
                                   static_cast<int64_t>(InverseTwiddle(t, first + 2, prime)),
                                   static_cast<int64_t>(InverseTwiddle(t, first + 1, prime)),
                                   static_cast<int64_t>(InverseTwiddle(t, first, prime))),
                 c);
}

inline D ForwardFour(const NttTable& t, uint64_t first, const Prime& c) {
    return Plain(LoadWords(t.w + first), c);
}

// Butterflies; kReduce brings u (forward) or the sum (inverse) within
// (p + 1) / 2.
template <bool kReduce>
[[gnu::always_inline]] inline void Forward2(D* u, D* v, D w, const Prime& c) {
    const D a = kReduce ? Reduce(*u, c) : *u;
    const D t = MulMod(*v, w, c);
    *u = _mm256_add_pd(a, t);
    *v = _mm256_sub_pd(a, t);
}

template <bool kReduce>
[[gnu::always_inline]] inline void Inverse2(D* u, D* v, D w, const Prime& c) {
    const D s = _mm256_add_pd(*u, *v);
    *v = MulMod(_mm256_sub_pd(*v, *u), w, c);
    *u = kReduce ? Reduce(s, c) : s;
}

// The last two levels of the 8 residues in a, b, which are the blocks of 4
// numbered k and k + 1 (k even): w4 holds their twiddles (lanes k, k, k + 1,
// k + 1), w2 those of their blocks of 2, 2k .. 2k + 3.
[[gnu::always_inline]] inline void ForwardLastTwo(D* a, D* b, D w4, D w2, const Prime& c) {
    D u = _mm256_permute2f128_pd(*a, *b, 0x20), v = _mm256_permute2f128_pd(*a, *b, 0x31);
    Forward2<false>(&u, &v, w4, c);  // u: a0 a1 b0 b1, v: a2 a3 b2 b3
    D u2 = _mm256_unpacklo_pd(u, v), v2 = _mm256_unpackhi_pd(u, v);
    Forward2<true>(&u2, &v2, w2, c);  // u2: a0 a2 b0 b2, v2: a1 a3 b1 b3
    const D e = _mm256_unpacklo_pd(u2, v2), f = _mm256_unpackhi_pd(u2, v2);
    *a = _mm256_permute2f128_pd(e, f, 0x20);
    *b = _mm256_permute2f128_pd(e, f, 0x31);
}

[[gnu::always_inline]] inline void InverseFirstTwo(D* a, D* b, D w4, D w2, const Prime& c) {
    const D e = _mm256_permute2f128_pd(*a, *b, 0x20), f = _mm256_permute2f128_pd(*a, *b, 0x31);
    D u2 = _mm256_unpacklo_pd(e, f), v2 = _mm256_unpackhi_pd(e, f);
    Inverse2<true>(&u2, &v2, w2, c);
    D u = _mm256_unpacklo_pd(u2, v2), v = _mm256_unpackhi_pd(u2, v2);
    Inverse2<true>(&u, &v, w4, c);
    *a = _mm256_permute2f128_pd(u, v, 0x20);
    *b = _mm256_permute2f128_pd(u, v, 0x31);
}

// A forward block of 16 in registers, the block `block` of its level.
[[gnu::always_inline]] inline void ForwardLeaf16(D* x, uint64_t block, const NttTable& t,
                                                 const Prime& c) {
    const D top = ForwardTriple(t, block, 2 * block, c);
    const D w = Lane<0>(top), wa = Lane<2>(top), wb = Lane<3>(top);
    x[0] = Reduce(x[0], c);
    x[1] = Reduce(x[1], c);
    Forward2<false>(&x[0], &x[2], w, c);
    Forward2<false>(&x[1], &x[3], w, c);
    Forward2<false>(&x[0], &x[1], wa, c);
    Forward2<false>(&x[2], &x[3], wb, c);
    const D w4 = ForwardFour(t, 4 * block, c);
    const D w2a = ForwardFour(t, 8 * block, c), w2b = ForwardFour(t, 8 * block + 4, c);
    ForwardLastTwo(&x[0], &x[1], _mm256_permute4x64_pd(w4, 0x50), w2a, c);
    ForwardLastTwo(&x[2], &x[3], _mm256_permute4x64_pd(w4, 0xFA), w2b, c);
}

// The inverse's first two levels of a block of 16; then its top two as a
// radix-4 pass does them, with the first sum reduced too when `last`.
template <bool kLast>
[[gnu::always_inline]] inline void InverseLeaf16(D* x, uint64_t block, const NttTable& t,
                                                 unsigned prime, const Prime& c) {
    const D w4 = InverseFour(t, 4 * block, prime, c);
    const D w2a = InverseFour(t, 8 * block, prime, c),
            w2b = InverseFour(t, 8 * block + 4, prime, c);
    InverseFirstTwo(&x[0], &x[1], _mm256_permute4x64_pd(w4, 0x50), w2a, c);
    InverseFirstTwo(&x[2], &x[3], _mm256_permute4x64_pd(w4, 0xFA), w2b, c);
    const D top = InverseTriple(t, block, 2 * block, prime, c);
    const D w = Lane<0>(top), wa = Lane<2>(top), wb = Lane<3>(top);
    Inverse2<true>(&x[0], &x[1], wa, c);
    Inverse2<true>(&x[2], &x[3], wb, c);
    Inverse2<kLast>(&x[0], &x[2], w, c);
    Inverse2<true>(&x[1], &x[3], w, c);
}

template <bool kFromWords>
inline D LoadIn(const uint64_t* x, D offset) {
    return kFromWords ? FromWords(LoadWords(x), offset) : LoadD(x);
}

template <bool kToWords>
inline void StoreOut(uint64_t* x, D v, D offset) {
    if (kToWords) {
        StoreWords(x, ToWords(v, offset));
    } else {
        StoreD(x, v);
    }
}

// Forward blocks: words or doubles in, words out.
template <bool kFromWords, unsigned kSize>
void ForwardLeaf(uint64_t* x, uint64_t block, const NttTable& t, const Prime& constants) {
    const Prime c = constants;  // in registers, whatever the stores alias
    const D in = _mm256_add_pd(Broadcast(kTwo52), c.twoP);
    D v[kSize / 4];
#pragma GCC unroll 8
    for (unsigned i = 0; i < kSize / 4; ++i) v[i] = LoadIn<kFromWords>(x + 4 * i, in);
    if constexpr (kSize == 32) {
        const D w = Plain(_mm256_set1_epi64x(static_cast<int64_t>(t.w[block])), c);
#pragma GCC unroll 4
        for (unsigned i = 0; i < 4; ++i) Forward2<true>(&v[i], &v[i + 4], w, c);
        ForwardLeaf16(v, 2 * block, t, c);
        ForwardLeaf16(v + 4, 2 * block + 1, t, c);
    } else {
        ForwardLeaf16(v, block, t, c);
    }
#pragma GCC unroll 8
    for (unsigned i = 0; i < kSize / 4; ++i) StoreWords(x + 4 * i, ToWords(v[i], in));
}

// The top two levels of a block, its quarters meeting as in the portable
// engine's ForwardRadix4.
template <bool kFromWords>
void ForwardRadix4(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t,
                   const Prime& constants) {
    const Prime c = constants;  // in registers, whatever the stores alias
    const uint64_t q = size / 4;
    const D top = ForwardTriple(t, block, 2 * block, c);
    const D w = Lane<0>(top), wa = Lane<2>(top), wb = Lane<3>(top);
    const D in = _mm256_add_pd(Broadcast(kTwo52), c.twoP);
    for (uint64_t j = 0; j < q; j += 4) {
        D x0 = Reduce(LoadIn<kFromWords>(x + j, in), c);
        D x1 = Reduce(LoadIn<kFromWords>(x + j + q, in), c);
        D x2 = LoadIn<kFromWords>(x + j + 2 * q, in), x3 = LoadIn<kFromWords>(x + j + 3 * q, in);
        Forward2<false>(&x0, &x2, w, c);
        Forward2<false>(&x1, &x3, w, c);
        Forward2<false>(&x0, &x1, wa, c);
        Forward2<false>(&x2, &x3, wb, c);
        StoreD(x + j, x0);
        StoreD(x + j + q, x1);
        StoreD(x + j + 2 * q, x2);
        StoreD(x + j + 3 * q, x3);
    }
}

template <bool kFromWords>
void ForwardBlock(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t, const Prime& c) {
    if (size == 16) return ForwardLeaf<kFromWords, 16>(x, block, t, c);
    if (size == 32) return ForwardLeaf<kFromWords, 32>(x, block, t, c);
    ForwardRadix4<kFromWords>(x, size, block, t, c);
    for (uint64_t k = 0; k < 4; ++k) {
        ForwardBlock<false>(x + k * (size / 4), size / 4, 4 * block + k, t, c);
    }
}

// Inverse blocks: words in, doubles or (at the end of the kernel) words out.
template <bool kToWords, unsigned kSize>
void InverseLeaf(uint64_t* x, uint64_t block, const NttTable& t, unsigned prime,
                 const Prime& constants) {
    const Prime c = constants;  // in registers, whatever the stores alias
    const D in = _mm256_add_pd(Broadcast(kTwo52), c.p);
    D v[kSize / 4];
#pragma GCC unroll 8
    for (unsigned i = 0; i < kSize / 4; ++i) v[i] = FromWords(LoadWords(x + 4 * i), in);
    if constexpr (kSize == 32) {
        InverseLeaf16<false>(v, 2 * block, t, prime, c);
        InverseLeaf16<false>(v + 4, 2 * block + 1, t, prime, c);
        const D w =
            Plain(_mm256_set1_epi64x(static_cast<int64_t>(InverseTwiddle(t, block, prime))), c);
#pragma GCC unroll 4
        for (unsigned i = 0; i < 4; ++i) Inverse2<true>(&v[i], &v[i + 4], w, c);
    } else {
        InverseLeaf16<kToWords>(v, block, t, prime, c);
    }
#pragma GCC unroll 8
    for (unsigned i = 0; i < kSize / 4; ++i) StoreOut<kToWords>(x + 4 * i, v[i], in);
}

template <bool kToWords>
void InverseRadix4(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t, unsigned prime,
                   const Prime& constants) {
    const Prime c = constants;  // in registers, whatever the stores alias
    const uint64_t q = size / 4;
    const D top = InverseTriple(t, block, 2 * block, prime, c);
    const D w = Lane<0>(top), wa = Lane<2>(top), wb = Lane<3>(top);
    const D out = _mm256_add_pd(Broadcast(kTwo52), c.p);
    for (uint64_t j = 0; j < q; j += 4) {
        D x0 = LoadD(x + j), x1 = LoadD(x + j + q), x2 = LoadD(x + j + 2 * q),
          x3 = LoadD(x + j + 3 * q);
        Inverse2<true>(&x0, &x1, wa, c);
        Inverse2<true>(&x2, &x3, wb, c);
        Inverse2<kToWords>(&x0, &x2, w, c);
        Inverse2<true>(&x1, &x3, w, c);
        StoreOut<kToWords>(x + j, x0, out);
        StoreOut<kToWords>(x + j + q, x1, out);
        StoreOut<kToWords>(x + j + 2 * q, x2, out);
        StoreOut<kToWords>(x + j + 3 * q, x3, out);
    }
}

template <bool kToWords>
void InverseBlock(uint64_t* x, uint64_t size, uint64_t block, const NttTable& t, unsigned prime,
                  const Prime& c) {
    if (size == 16) return InverseLeaf<kToWords, 16>(x, block, t, prime, c);
    if (size == 32) return InverseLeaf<kToWords, 32>(x, block, t, prime, c);
    for (uint64_t k = 0; k < 4; ++k) {
        InverseBlock<false>(x + k * (size / 4), size / 4, 4 * block + k, t, prime, c);
    }
    InverseRadix4<kToWords>(x, size, block, t, prime, c);
}

void ForwardAvx2(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table,
                 unsigned prime) {
    if (size < 16) return kNttPortable.forward(x, size, block, table, prime);
    ForwardBlock<true>(x, size, block, table, PrimeOf(prime));
}

void InverseAvx2(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table,
                 unsigned prime) {
    if (size < 16) return kNttPortable.inverse(x, size, block, table, prime);
    InverseBlock<true>(x, size, block, table, prime, PrimeOf(prime));
}

// One level in ranges: whole vectors from the first multiple of 4 on, the
// ends (if any) by the portable engine, which keeps the same bounds.
void ForwardLevelAvx2(uint64_t* x, uint64_t size, uint64_t block, uint64_t from, uint64_t to,
                      const NttTable& table, unsigned prime) {
    const uint64_t h = size / 2;
    uint64_t begin = (from + 3) / 4 * 4, end = to / 4 * 4;
    if (h < 4 || begin >= end) begin = end = to;
    kNttPortable.forwardLevel(x, size, block, from, begin, table, prime);
    const Prime c = PrimeOf(prime);
    const D w = Plain(_mm256_set1_epi64x(static_cast<int64_t>(table.w[block])), c);
    const D offset = _mm256_add_pd(Broadcast(kTwo52), c.twoP);
    for (uint64_t j = begin; j < end; j += 4) {
        D u = FromWords(LoadWords(x + j), offset), v = FromWords(LoadWords(x + j + h), offset);
        Forward2<true>(&u, &v, w, c);
        StoreWords(x + j, ToWords(u, offset));
        StoreWords(x + j + h, ToWords(v, offset));
    }
    kNttPortable.forwardLevel(x, size, block, end, to, table, prime);
}

void InverseLevelAvx2(uint64_t* x, uint64_t size, uint64_t block, uint64_t from, uint64_t to,
                      const NttTable& table, unsigned prime) {
    const uint64_t h = size / 2;
    uint64_t begin = (from + 3) / 4 * 4, end = to / 4 * 4;
    if (h < 4 || begin >= end) begin = end = to;
    kNttPortable.inverseLevel(x, size, block, from, begin, table, prime);
    const Prime c = PrimeOf(prime);
    const D w =
        Plain(_mm256_set1_epi64x(static_cast<int64_t>(InverseTwiddle(table, block, prime))), c);
    const D offset = _mm256_add_pd(Broadcast(kTwo52), c.p);
    for (uint64_t j = begin; j < end; j += 4) {
        D u = FromWords(LoadWords(x + j), offset), v = FromWords(LoadWords(x + j + h), offset);
        Inverse2<true>(&u, &v, w, c);
        StoreWords(x + j, ToWords(u, offset));
        StoreWords(x + j + h, ToWords(v, offset));
    }
    kNttPortable.inverseLevel(x, size, block, end, to, table, prime);
}

// The table's octave: w[octave + t] = w[t] times the octave's factor, both
// in Montgomery form, exactly reduced as the shared builder leaves them:
// M(w[t], f) with f the factor's plain value (centered, below p / 2) lies
// within p / 2 + p / 8 + 1 of 0, and a negative one takes p.
void BuildOctaveAvx2(unsigned prime, uint64_t half, uint64_t* w, uint64_t octave, uint64_t from,
                     uint64_t to) {
    const uint64_t p = kNttPrimes[prime];
    const Prime c = PrimeOf(prime);
    const uint64_t factor = NttMulMod(NttOctaveFactor(prime, half, octave), InverseR52(prime), p);
    const D f = Broadcast(static_cast<double>(Centered(factor, p)));
    const D offset = Broadcast(kTwo52);
    uint64_t t = from;
    for (; t + 4 <= to; t += 4) {
        const D r = MulMod(FromWords(LoadWords(w + t), offset), f, c);
        StoreWords(w + octave + t, ToWords(Exact(r, c.p), offset));
    }
    NttBuildOctave(prime, half, w, octave, t, to);
}

void LoadAvx2(uint64_t* x, const uint64_t* a, uint64_t n, uint64_t length, unsigned prime) {
    const Prime c = PrimeOf(prime);
    const D two84 = Broadcast(19342813113834066795298816.0);  // 2^84
    const I two84Bits = _mm256_set1_epi64x(0x4530000000000000);
    const D offset = Broadcast(kTwo52), out = _mm256_add_pd(offset, c.p);
    const I low32 = _mm256_set1_epi64x(0xFFFFFFFF);
    uint64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const I limb = LoadWords(a + i);
        // a1 2^32 exactly, from a1 under the exponent of 2^84; a0 likewise.
        const D high = _mm256_sub_pd(
            _mm256_castsi256_pd(_mm256_or_si256(_mm256_srli_epi64(limb, 32), two84Bits)), two84);
        const D low = FromWords(_mm256_and_si256(limb, low32), offset);
        const D q = RoundedQuotient(_mm256_add_pd(high, low), c);
        const D r = _mm256_add_pd(_mm256_fnmadd_pd(q, c.p, high), low);
        StoreWords(x + i, ToWords(r, out));
    }
    const uint64_t p = kNttPrimes[prime];
    for (; i < n; ++i) x[i] = a[i] % p;
    if (length > n) std::memset(x + n, 0, (length - n) * 8);
}

void PointwiseAvx2(uint64_t* x, const uint64_t* y, uint64_t n, unsigned prime) {
    const Prime c = PrimeOf(prime);
    const D in = _mm256_add_pd(Broadcast(kTwo52), c.twoP),
            out = _mm256_add_pd(Broadcast(kTwo52), c.p);
    uint64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const D a = FromWords(LoadWords(x + i), in);
        const D ra = Reduce(a, c);
        const D b = y ? FromWords(LoadWords(y + i), in) : ra;
        StoreWords(x + i, ToWords(MulMod(ra, b, c), out));
    }
    const uint64_t p = kNttPrimes[prime];
    for (; i < n; ++i) x[i] = NttMulMod(x[i], y ? y[i] : x[i], p);
}

// CRT, four coefficients at a time. The residues (below 2p, taken as x - p)
// times the scale (centered): |y| <= p / 2 + p / 8 + 1, made exact residues
// z0 by adding p to a negative one. With P = 2^50 > p:
//   z1 = M(y1 - z0, p0^-1 mod p1): |y1 - z0| < 1.63P, |r| < p1 / 2 + 0.21 P
//     + 1 < p1;
//   z2 = M(y2 - z0 - M(z1, p0 mod p2), (p0 p1)^-1 mod p2): the difference
//     is below 2.25P + 2, |r| < p2 / 2 + 0.29 P + 1 < p2;
// each made exact the same way. Then their digits (see Digits).
struct CrtVectors {
    D scale[kNttPrimeCount];
    D inv01, inv012, p0ModP2;
    D p0, p01Low, p01High, inverseBase;  // as doubles
    I p0Low, p0High, p01LowLow, p01LowHigh, p01HighLow, p01HighHigh, baseLow, baseHigh, base;
};

inline I Half(uint64_t v, bool high) {
    return _mm256_set1_epi64x(static_cast<int64_t>(high ? v >> 32 : v & 0xFFFFFFFF));
}

// x c mod 2^64, the constant c in halves.
inline I MulLow(I x, I cLow, I cHigh) {
    const I cross = _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(x, 32), cLow),
                                     _mm256_mul_epu32(x, cHigh));
    return _mm256_add_epi64(_mm256_mul_epu32(x, cLow), _mm256_slli_epi64(cross, 32));
}

// A quotient below 2^51 from its estimate e (|e - the real quotient| < 1/2):
// the integer nearest e, as a word, and as a double in *d.
inline I NearestWord(D e, D* d) {
    const D m = _mm256_add_pd(e, Broadcast(kMagic));
    *d = _mm256_sub_pd(m, Broadcast(kMagic));
    return _mm256_sub_epi64(_mm256_castpd_si256(m), _mm256_castpd_si256(Broadcast(kMagic)));
}

// The digits of z0 + p0 z1 + p0 p1 z2 (exact residues, as doubles), as
// CoefficientDigits gives them. S = z0 + p0 z1 + z2 p01Low < 2^110.01 is
// taken modulo 2^64 in words and estimated in doubles: the inner fma rounds
// by at most 2^46, fl(p01Low) is off by at most 2^6 (times z2 < 2^50), the
// outer fma rounds by at most 2^57; with fl(10^-18) (relative error 2^-53,
// on a quotient below 2^50.3) the estimate of S / 10^18 is within 0.37. Its
// nearest integer is floor(S / 10^18) or one more, so S - q 10^18, exact
// modulo 2^64, lies in [-10^18, 10^18): one correction. T = q + z2 p01High
// < 2^90.3 the same way (estimate within 2^-21, from q before its
// correction: one more unit), its quotient below 2^31.3.
inline void Digits(D z0, D z1, D z2, const CrtVectors& k, uint64_t* d0, uint64_t* d1,
                   uint64_t* d2) {
    const D two52 = Broadcast(kTwo52);
    const I w0 = ToWords(z0, two52), w1 = ToWords(z1, two52), w2 = ToWords(z2, two52);
    const I s = _mm256_add_epi64(_mm256_add_epi64(w0, MulLow(w1, k.p0Low, k.p0High)),
                                 MulLow(w2, k.p01LowLow, k.p01LowHigh));
    const D sd = _mm256_fmadd_pd(k.p01Low, z2, _mm256_fmadd_pd(k.p0, z1, z0));
    D qd;
    I q = NearestWord(_mm256_mul_pd(sd, k.inverseBase), &qd);
    I r = _mm256_sub_epi64(s, MulLow(q, k.baseLow, k.baseHigh));
    const I zero = _mm256_setzero_si256();
    I low = _mm256_cmpgt_epi64(zero, r);
    r = _mm256_add_epi64(r, _mm256_and_si256(low, k.base));
    q = _mm256_add_epi64(q, low);
    StoreWords(d0, r);
    const I t = _mm256_add_epi64(q, MulLow(w2, k.p01HighLow, k.p01HighHigh));
    const D td = _mm256_fmadd_pd(k.p01High, z2, qd);
    D unused;
    I q2 = NearestWord(_mm256_mul_pd(td, k.inverseBase), &unused);
    I r2 = _mm256_sub_epi64(
        t, _mm256_add_epi64(_mm256_mul_epu32(q2, k.baseLow),
                            _mm256_slli_epi64(_mm256_mul_epu32(q2, k.baseHigh), 32)));
    low = _mm256_cmpgt_epi64(zero, r2);
    StoreWords(d1, _mm256_add_epi64(r2, _mm256_and_si256(low, k.base)));
    StoreWords(d2, _mm256_add_epi64(q2, low));
}

void CrtAvx2(uint64_t* x0, uint64_t* x1, uint64_t* x2, uint64_t from, uint64_t to,
             const uint64_t* scale, const uint64_t* scaleShoup) {
    const NttCrtConstants& n = NttCrt();
    const uint64_t p0 = kNttPrimes[0], p1 = kNttPrimes[1], p2 = kNttPrimes[2];
    CrtVectors k;
    for (unsigned i = 0; i < kNttPrimeCount; ++i) {
        k.scale[i] = Broadcast(static_cast<double>(Centered(scale[i], kNttPrimes[i])));
    }
    k.inv01 = Broadcast(static_cast<double>(Centered(n.inv01[0], p1)));
    k.inv012 = Broadcast(static_cast<double>(Centered(n.inv012[0], p2)));
    k.p0ModP2 = Broadcast(static_cast<double>(Centered(p0 % p2, p2)));
    // p0 and p01High are exact doubles; p01Low and 10^-18 are rounded.
    k.p0 = Broadcast(static_cast<double>(p0));
    k.p01Low = Broadcast(static_cast<double>(n.p01Low));
    k.p01High = Broadcast(static_cast<double>(n.p01High));
    k.inverseBase = Broadcast(1.0 / static_cast<double>(kLimbBase));
    k.p0Low = Half(p0, false), k.p0High = Half(p0, true);
    k.p01LowLow = Half(n.p01Low, false), k.p01LowHigh = Half(n.p01Low, true);
    k.p01HighLow = Half(n.p01High, false), k.p01HighHigh = Half(n.p01High, true);
    k.baseLow = Half(kLimbBase, false), k.baseHigh = Half(kLimbBase, true);
    k.base = _mm256_set1_epi64x(static_cast<int64_t>(kLimbBase));
    const Prime c0 = PrimeOf(0), c1 = PrimeOf(1), c2 = PrimeOf(2);
    const D two52 = Broadcast(kTwo52);
    const D in0 = _mm256_add_pd(two52, c0.p), in1 = _mm256_add_pd(two52, c1.p),
            in2 = _mm256_add_pd(two52, c2.p);
    uint64_t i = from;
    for (; i + 4 <= to; i += 4) {
        const D z0 = Exact(MulMod(FromWords(LoadWords(x0 + i), in0), k.scale[0], c0), c0.p);
        const D y1 = MulMod(FromWords(LoadWords(x1 + i), in1), k.scale[1], c1);
        const D z1 = Exact(MulMod(_mm256_sub_pd(y1, z0), k.inv01, c1), c1.p);
        const D y2 = MulMod(FromWords(LoadWords(x2 + i), in2), k.scale[2], c2);
        const D e = MulMod(z1, k.p0ModP2, c2);
        const D z2 = Exact(MulMod(_mm256_sub_pd(_mm256_sub_pd(y2, z0), e), k.inv012, c2), c2.p);
        Digits(z0, z1, z2, k, x0 + i, x1 + i, x2 + i);
    }
    kNttPortable.crt(x0, x1, x2, i, to, scale, scaleShoup);
}

}  // namespace

const NttKernels kNttAvx2 = {0,
                             16,
                             BuildOctaveAvx2,
                             LoadAvx2,
                             ForwardAvx2,
                             ForwardLevelAvx2,
                             InverseAvx2,
                             InverseLevelAvx2,
                             PointwiseAvx2,
                             CrtAvx2};
