// AVX2 + FMA kernels: eight limbs a round in two vectors, for processors
// without AVX-512. The same scheme as the AVX-512 kernels (estimate, shifted
// quotients; in the normalized form a scalar redo of the rare round with a sum
// at 10^18), with what AVX2 lacks built from 32-bit products (64-bit low
// products) and exponent tricks (integers into doubles and back). Compiled
// with -mavx2 -mfma; reached only through the dispatcher.
#include <immintrin.h>

#include <cstdint>

#include "engine/multiply_dispatch.h"
#include "engine/multiply_row_step.h"

namespace {

constexpr uint64_t kMagicBits = 0x4330000000000000ULL;  // the double 2^52

// The largest double not above 10^-18.
constexpr double kInverseBaseBelow = 0x1.2725dd1d243abp-60;

// AVX2 has no rounding in the instruction: the kernel sets the rounding
// toward zero (and masks every exception) for its own run, and gives the
// caller's mode back.
class RoundingTowardZero {
public:
    RoundingTowardZero() : saved_(_mm_getcsr()) { _mm_setcsr(0x7F80); }
    ~RoundingTowardZero() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
};

struct Constants {
    __m256i baseLess1;
    __m256i baseLow;   // low 32 bits of 10^18
    __m256i baseHigh;  // high 32 bits of 10^18
    __m256i multiplierLow;
    __m256i multiplierHigh;
    __m256i magicBits;
    __m256d magic;
    __m256d scale;  // a * 2^9 * 10^-18, rounded down
};

// Per lane: an estimate q' of floor(x * a / 10^18) and the remainder
// x * a - q' * 10^18. x' = floor(x / 2^9) fits a double's mantissa exactly;
// scale is below a * 2^9 / 10^18 and the product rounds toward zero, so
// q' <= x * a / 10^18: never high. The dropped bits of x cost less than
// 2^9 * a / 10^18 and the two roundings and the constant less than 2^-51 of
// the quotient: below 2^-18 for normalized limbs with a < 2^31, below 2^-4 for
// lazy limbs (below 2^61) with a < 2^44. So q' is q or q - 1, the remainder
// lies in [0, 2 * 10^18), and its 64 low bits from 32-bit products are exact.
// In the normalized form a and q' fit 32 bits, which spares two products.
template <bool kLazy>
inline __m256i EstimateQuotients(const Constants& k, __m256i x, __m256i* remainder) {
    const __m256d top = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_or_si256(_mm256_srli_epi64(x, 9), k.magicBits)), k.magic);
    const __m256d t =
        _mm256_round_pd(_mm256_mul_pd(top, k.scale), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    // t < 2^52 is a whole number: adding 2^52 puts it in the low mantissa bits.
    const __m256i q = _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(t, k.magic)), k.magicBits);
    // x * a - q * 10^18 modulo 2^64 from 32-bit halves:
    // xLow * aLow - qLow * baseLow
    //   + ((xHigh * aLow + xLow * aHigh - qHigh * baseLow - qLow * baseHigh) << 32).
    const __m256i xHigh = _mm256_srli_epi64(x, 32);
    __m256i upper =
        _mm256_sub_epi64(_mm256_mul_epu32(xHigh, k.multiplierLow), _mm256_mul_epu32(q, k.baseHigh));
    if (kLazy) {
        upper = _mm256_add_epi64(upper, _mm256_mul_epu32(x, k.multiplierHigh));
        upper = _mm256_sub_epi64(upper, _mm256_mul_epu32(_mm256_srli_epi64(q, 32), k.baseLow));
    }
    const __m256i lower =
        _mm256_sub_epi64(_mm256_mul_epu32(x, k.multiplierLow), _mm256_mul_epu32(q, k.baseLow));
    *remainder = _mm256_add_epi64(lower, _mm256_slli_epi64(upper, 32));
    return q;
}

// Quotients moved up one lane; lane 0 takes the last lane of the previous
// step, which `previousRotated` holds in its lane 0.
inline __m256i ShiftedQuotients(__m256i rotated, __m256i previousRotated) {
    return _mm256_blend_epi32(rotated, previousRotated, 0x03);
}

// Stores `vectors` vectors of new limbs, or, in the normalized form when a
// sum reached 10^18, redoes them one by one. Sums stay below 2^62, so the
// signed compare is safe. Returns the carry vector for the next round.
template <bool kLazy, int vectors>
inline __m256i FinishRound(const Constants& k, uint64_t* p, const __m256i* r, const __m256i* q,
                           __m256i previousRotated, uint64_t a) {
    __m256i sums[vectors], rotated[vectors];
    __m256i big = _mm256_setzero_si256();
    for (int v = 0; v < vectors; ++v) {
        rotated[v] = _mm256_permute4x64_epi64(q[v], 0x93);
        sums[v] = _mm256_add_epi64(
            r[v], ShiftedQuotients(rotated[v], v == 0 ? previousRotated : rotated[v - 1]));
        if (!kLazy) big = _mm256_or_si256(big, _mm256_cmpgt_epi64(sums[v], k.baseLess1));
    }
    if (kLazy || __builtin_expect(_mm256_testz_si256(big, big), 1)) {
        __m256i* w = reinterpret_cast<__m256i*>(p);
        for (int v = 0; v < vectors; ++v) _mm256_store_si256(w + v, sums[v]);
        return rotated[vectors - 1];
    }
    uint64_t roundCarry = static_cast<uint64_t>(_mm256_extract_epi64(previousRotated, 0));
    MultiplyRunScalar(p, 4 * vectors, a, &roundCarry);
    return _mm256_set1_epi64x(static_cast<int64_t>(roundCarry));
}

template <bool kLazy>
int MultiplyRowAvx2Form(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    uint64_t c = 0;
    const uint64_t head = AlignmentHead(limbs, count, 4);
    MultiplyRunOneByOne<kLazy>(limbs, head, a, &c);
    uint64_t* p = limbs + head;
    uint64_t n = count - head;

    if (n >= 4) {
        const RoundingTowardZero rounding;
        const Constants k = {_mm256_set1_epi64x(kLimbBase - 1),
                             _mm256_set1_epi64x(kLimbBase & 0xFFFFFFFFu),
                             _mm256_set1_epi64x(kLimbBase >> 32),
                             _mm256_set1_epi64x(static_cast<int64_t>(a & 0xFFFFFFFFu)),
                             _mm256_set1_epi64x(static_cast<int64_t>(a >> 32)),
                             _mm256_set1_epi64x(kMagicBits),
                             _mm256_set1_pd(0x1p52),
                             _mm256_set1_pd(static_cast<double>(a) * 0x1p9 * kInverseBaseBelow)};
        // Lane 0 holds the carry into the next limb.
        __m256i previousRotated = _mm256_set1_epi64x(static_cast<int64_t>(c));
        for (; n >= 8; n -= 8, p += 8) {
            const __m256i* v = reinterpret_cast<const __m256i*>(p);
            __m256i r[2], q[2];
            q[0] = EstimateQuotients<kLazy>(k, _mm256_load_si256(v), &r[0]);
            q[1] = EstimateQuotients<kLazy>(k, _mm256_load_si256(v + 1), &r[1]);
            previousRotated = FinishRound<kLazy, 2>(k, p, r, q, previousRotated, a);
        }
        for (; n >= 4; n -= 4, p += 4) {
            __m256i r[1], q[1];
            q[0] = EstimateQuotients<kLazy>(
                k, _mm256_load_si256(reinterpret_cast<const __m256i*>(p)), &r[0]);
            previousRotated = FinishRound<kLazy, 1>(k, p, r, q, previousRotated, a);
        }
        c = static_cast<uint64_t>(_mm256_extract_epi64(previousRotated, 0));
    }

    MultiplyRunOneByOne<kLazy>(p, n, a, &c);
    *carry = c;
    return kAccOk;
}

}  // namespace

int MultiplyRowAvx2(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    if (a >= kAvx2MultiplierLimit) return MultiplyRowScalar(limbs, count, a, carry);
    return MultiplyRowAvx2Form<false>(limbs, count, a, carry);
}

int MultiplyRowAvx2Lazy(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    return MultiplyRowAvx2Form<true>(limbs, count, a, carry);
}
