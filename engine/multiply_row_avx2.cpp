// AVX2 + FMA kernel: eight limbs a round in two vectors, for processors
// without AVX-512. The same scheme as the AVX-512 kernel (estimate, shifted
// quotients, scalar redo of the rare round with a sum at 10^18), with what
// AVX2 lacks built from 32-bit products (64-bit low products) and exponent
// tricks (integers into doubles). Compiled with -mavx2 -mfma; reached only
// through the dispatcher.
#include <immintrin.h>

#include <cstdint>

#include "engine/multiply_dispatch.h"
#include "engine/multiply_row_step.h"

namespace {

constexpr uint64_t kMagicBits = 0x4330000000000000ULL;  // the double 2^52

// The quotient estimate goes through a 32-bit signed conversion.
constexpr uint64_t kAvx2MultiplierLimit = 1ULL << 31;

struct Constants {
    __m256i baseLess1;
    __m256i baseLow;   // low 32 bits of 10^18
    __m256i baseHigh;  // high 32 bits of 10^18
    __m256i multiplier;
    __m256i magicBits;
    __m256d magic;
    __m256d scale;  // a * 2^8 / 10^18, shaded low by 2^-48
};

// Per lane, x < 10^18, a < 2^31: an estimate q' <= floor(x * a / 10^18) and
// the remainder x * a - q' * 10^18, which reaches 10^18 only when q' is short.
// The estimate uses x >> 8, which fits a double's mantissa exactly; the
// dropped bits and the shading only ever lower it, by far less than one.
inline __m256i EstimateQuotients(const Constants& k, __m256i x, __m256i* remainder) {
    const __m256d top = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_or_si256(_mm256_srli_epi64(x, 8), k.magicBits)), k.magic);
    const __m256i q = _mm256_cvtepu32_epi64(_mm256_cvttpd_epi32(_mm256_mul_pd(top, k.scale)));
    // x * a - q * 10^18 modulo 2^64 from 32-bit products:
    // xLow * a + ((xHigh * a - q * baseHigh) << 32) - q * baseLow.
    const __m256i xHigh = _mm256_srli_epi64(x, 32);
    const __m256i upper =
        _mm256_sub_epi64(_mm256_mul_epu32(xHigh, k.multiplier), _mm256_mul_epu32(q, k.baseHigh));
    const __m256i lower =
        _mm256_sub_epi64(_mm256_mul_epu32(x, k.multiplier), _mm256_mul_epu32(q, k.baseLow));
    *remainder = _mm256_add_epi64(lower, _mm256_slli_epi64(upper, 32));
    return q;
}

// Quotients moved up one lane; lane 0 takes the last lane of the previous
// step, which `previousRotated` holds in its lane 0.
inline __m256i ShiftedQuotients(__m256i rotated, __m256i previousRotated) {
    return _mm256_blend_epi32(rotated, previousRotated, 0x03);
}

// Any lane at 10^18 or above. Sums stay below 2^62, so the signed compare
// is safe.
inline bool AnyAtBase(const Constants& k, __m256i s) {
    return !_mm256_testz_si256(_mm256_cmpgt_epi64(s, k.baseLess1),
                               _mm256_cmpgt_epi64(s, k.baseLess1));
}

}  // namespace

int MultiplyRowAvx2(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    if (a >= kAvx2MultiplierLimit) return MultiplyRowScalar(limbs, count, a, carry);

    uint64_t c = 0;
    const uint64_t head = MultiplyAlignmentHead(limbs, count, 4, a, &c);
    uint64_t* p = limbs + head;
    uint64_t n = count - head;

    if (n >= 4) {
        const double scale = static_cast<double>(a) * 0x1p8 * 1e-18 * (1.0 - 0x1p-48);
        const Constants k = {_mm256_set1_epi64x(kLimbBase - 1),
                             _mm256_set1_epi64x(kLimbBase & 0xFFFFFFFFu),
                             _mm256_set1_epi64x(kLimbBase >> 32),
                             _mm256_set1_epi64x(static_cast<int64_t>(a)),
                             _mm256_set1_epi64x(kMagicBits),
                             _mm256_set1_pd(0x1p52),
                             _mm256_set1_pd(scale)};
        // Lane 0 holds the carry into the next limb.
        __m256i previousRotated = _mm256_set1_epi64x(static_cast<int64_t>(c));
        for (; n >= 8; n -= 8, p += 8) {
            const __m256i* v = reinterpret_cast<const __m256i*>(p);
            __m256i r0, r1;
            const __m256i q0 = EstimateQuotients(k, _mm256_load_si256(v), &r0);
            const __m256i q1 = EstimateQuotients(k, _mm256_load_si256(v + 1), &r1);
            const __m256i rot0 = _mm256_permute4x64_epi64(q0, 0x93);
            const __m256i rot1 = _mm256_permute4x64_epi64(q1, 0x93);
            const __m256i s0 = _mm256_add_epi64(r0, ShiftedQuotients(rot0, previousRotated));
            const __m256i s1 = _mm256_add_epi64(r1, ShiftedQuotients(rot1, rot0));
            const __m256i big = _mm256_or_si256(_mm256_cmpgt_epi64(s0, k.baseLess1),
                                                _mm256_cmpgt_epi64(s1, k.baseLess1));
            if (__builtin_expect(_mm256_testz_si256(big, big), 1)) {
                __m256i* w = reinterpret_cast<__m256i*>(p);
                _mm256_store_si256(w, s0);
                _mm256_store_si256(w + 1, s1);
                previousRotated = rot1;
            } else {
                uint64_t roundCarry =
                    static_cast<uint64_t>(_mm256_extract_epi64(previousRotated, 0));
                MultiplyRunScalar(p, 8, a, &roundCarry);
                previousRotated = _mm256_set1_epi64x(static_cast<int64_t>(roundCarry));
            }
        }
        for (; n >= 4; n -= 4, p += 4) {
            __m256i r;
            const __m256i q =
                EstimateQuotients(k, _mm256_load_si256(reinterpret_cast<const __m256i*>(p)), &r);
            const __m256i rot = _mm256_permute4x64_epi64(q, 0x93);
            const __m256i s = _mm256_add_epi64(r, ShiftedQuotients(rot, previousRotated));
            if (!AnyAtBase(k, s)) {
                _mm256_store_si256(reinterpret_cast<__m256i*>(p), s);
                previousRotated = rot;
            } else {
                uint64_t roundCarry =
                    static_cast<uint64_t>(_mm256_extract_epi64(previousRotated, 0));
                MultiplyRunScalar(p, 4, a, &roundCarry);
                previousRotated = _mm256_set1_epi64x(static_cast<int64_t>(roundCarry));
            }
        }
        c = static_cast<uint64_t>(_mm256_extract_epi64(previousRotated, 0));
    }

    MultiplyRunScalar(p, n, a, &c);
    *carry = c;
    return kAccOk;
}
