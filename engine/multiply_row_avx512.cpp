// AVX-512 F/DQ kernel: 32 limbs a round in four vectors. Every limb's
// quotient comes from a double-precision estimate that never exceeds the
// true one, its remainder from 64-bit products, and the carry into a limb is
// its neighbour's quotient. For a factorial's limbs a sum reaches 10^18 about
// once in 10^12 limbs, so a round checks for that once and, when it happens,
// redoes its 32 limbs with the scalar kernel, which also settles an estimate
// that came out one short.
// Compiled with -mavx512f -mavx512dq; reached only through the dispatcher.
#include <immintrin.h>

#include <cstdint>

#include "engine/multiply_dispatch.h"
#include "engine/multiply_row_step.h"

namespace {

struct Constants {
    __m512i base;
    __m512i baseLess1;
    __m512i multiplier;
    __m512d scale;  // a / 10^18, shaded low so the estimate never exceeds the quotient
};

// For a < 2^32 and x < 10^18: q' = trunc(x * scale) <= q = floor(x * a / 10^18).
// The shading (2^-48) outweighs the five roundings on the way (at most
// 5 * 2^-53). The remainder x * a - q' * 10^18 is then below 10^18 exactly
// when q' = q; a short estimate shows as a remainder of 10^18 or more.
inline __m512i EstimateQuotients(const Constants& k, __m512i x, __m512i* remainder) {
    const __m512i q = _mm512_cvttpd_epi64(_mm512_mul_pd(_mm512_cvtepi64_pd(x), k.scale));
    *remainder =
        _mm512_sub_epi64(_mm512_mullo_epi64(x, k.multiplier), _mm512_mullo_epi64(q, k.base));
    return q;
}

// Lanes [last lane of previous, q0 .. q6]. The zero-masked form spares GCC's
// warning about the undefined pass-through of the unmasked one.
inline __m512i ShiftIn(__m512i q, __m512i previous) {
    return _mm512_maskz_alignr_epi64(0xFF, q, previous, 7);
}

inline uint64_t LastLane(__m512i v) {
    alignas(64) uint64_t lanes[8];
    _mm512_store_si512(lanes, v);
    return lanes[7];
}

}  // namespace

int MultiplyRowAvx512(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    if (a >= kVectorMultiplierLimit) return MultiplyRowScalar(limbs, count, a, carry);

    uint64_t c = 0;
    const uint64_t head = MultiplyAlignmentHead(limbs, count, 8, a, &c);
    uint64_t* p = limbs + head;
    uint64_t n = count - head;

    if (n >= 8) {
        const Constants k = {_mm512_set1_epi64(kLimbBase), _mm512_set1_epi64(kLimbBase - 1),
                             _mm512_set1_epi64(a),
                             _mm512_set1_pd(static_cast<double>(a) * 1e-18 * (1.0 - 0x1p-48))};
        // Lane 7 holds the carry into the next limb.
        __m512i previous = _mm512_set1_epi64(c);
        for (; n >= 32; n -= 32, p += 32) {
            __m512i r0, r1, r2, r3;
            const __m512i q0 = EstimateQuotients(k, _mm512_load_si512(p), &r0);
            const __m512i q1 = EstimateQuotients(k, _mm512_load_si512(p + 8), &r1);
            const __m512i q2 = EstimateQuotients(k, _mm512_load_si512(p + 16), &r2);
            const __m512i q3 = EstimateQuotients(k, _mm512_load_si512(p + 24), &r3);
            const __m512i s0 = _mm512_add_epi64(r0, ShiftIn(q0, previous));
            const __m512i s1 = _mm512_add_epi64(r1, ShiftIn(q1, q0));
            const __m512i s2 = _mm512_add_epi64(r2, ShiftIn(q2, q1));
            const __m512i s3 = _mm512_add_epi64(r3, ShiftIn(q3, q2));
            const __mmask8 big = _mm512_cmpgt_epu64_mask(s0, k.baseLess1) |
                                 _mm512_cmpgt_epu64_mask(s1, k.baseLess1) |
                                 _mm512_cmpgt_epu64_mask(s2, k.baseLess1) |
                                 _mm512_cmpgt_epu64_mask(s3, k.baseLess1);
            if (__builtin_expect(big == 0, 1)) {
                _mm512_store_si512(p, s0);
                _mm512_store_si512(p + 8, s1);
                _mm512_store_si512(p + 16, s2);
                _mm512_store_si512(p + 24, s3);
                previous = q3;
            } else {
                uint64_t roundCarry = LastLane(previous);
                MultiplyRunScalar(p, 32, a, &roundCarry);
                previous = _mm512_set1_epi64(roundCarry);
            }
        }
        for (; n >= 8; n -= 8, p += 8) {
            __m512i r;
            const __m512i q = EstimateQuotients(k, _mm512_load_si512(p), &r);
            const __m512i s = _mm512_add_epi64(r, ShiftIn(q, previous));
            if (_mm512_cmpgt_epu64_mask(s, k.baseLess1) == 0) {
                _mm512_store_si512(p, s);
                previous = q;
            } else {
                uint64_t roundCarry = LastLane(previous);
                MultiplyRunScalar(p, 8, a, &roundCarry);
                previous = _mm512_set1_epi64(roundCarry);
            }
        }
        c = LastLane(previous);
    }

    MultiplyRunScalar(p, n, a, &c);
    *carry = c;
    return kAccOk;
}
