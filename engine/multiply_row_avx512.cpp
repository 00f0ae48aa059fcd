// AVX-512 F/DQ kernel: eight limbs a step. The quotient of every limb comes
// from a double-precision estimate, the remainder from 64-bit products; the
// carries between lanes are resolved as bit masks in a general register, so
// the only serial work per sixteen limbs is a shift, an or and an add.
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
    __m512i one;
    __m512d scale;  // a / 10^18, shaded low so the estimate never exceeds the quotient
};

// For a < 2^32 and x < 10^18: q' = trunc(x * scale) is q or q - 1, where
// q = floor(x * a / 10^18). The shading (2^-40) outweighs the rounding of the
// three double operations (under 2^-50) and costs under 2^-7 at a < 2^32.
inline __m512i SplitLanes(const Constants& k, __m512i x, __m512i* remainder) {
    __m512i q = _mm512_cvttpd_epi64(_mm512_mul_pd(_mm512_cvtepi64_pd(x), k.scale));
    __m512i r = _mm512_sub_epi64(_mm512_mullo_epi64(x, k.multiplier), _mm512_mullo_epi64(q, k.base));
    const __mmask8 over = _mm512_cmpgt_epu64_mask(r, k.baseLess1);
    *remainder = _mm512_mask_sub_epi64(r, over, r, k.base);
    return _mm512_mask_add_epi64(q, over, q, k.one);
}

// Lane sums are below 10^18 + 2^32, so each lane carries at most one into
// the next. A lane "generates" when its sum reaches 10^18 and "propagates"
// when it is exactly 10^18 - 1; one integer add ripples the carries through
// all lanes at once. Returns the lanes that receive a carry and, in *out,
// those that pass one on.
inline uint32_t RippleCarries(uint32_t generate, uint32_t propagate, uint32_t width,
                              uint32_t* carryIn, uint32_t* out) {
    const uint32_t t = ((generate << 1) | *carryIn) + propagate;
    const uint32_t flips = t ^ propagate;
    *carryIn = t >> width;
    *out = flips >> 1;
    return flips;
}

// Lanes [last of previous, q0 .. q6]. The zero-masked form spares GCC's
// warning about the undefined pass-through of the unmasked one.
inline __m512i ShiftIn(__m512i q, __m512i previous) {
    return _mm512_maskz_alignr_epi64(0xFF, q, previous, 7);
}

inline __m512i Settle(const Constants& k, __m512i s, __mmask8 into, __mmask8 out) {
    s = _mm512_mask_add_epi64(s, into, s, k.one);
    return _mm512_mask_sub_epi64(s, out, s, k.base);
}

}  // namespace

int MultiplyRowAvx512(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    if (a >= kVectorMultiplierLimit) return MultiplyRowScalar(limbs, count, a, carry);

    uint64_t c = 0;
    // Scalar limbs up to a 64-byte boundary, so every vector load is aligned.
    const uint64_t misalign = (reinterpret_cast<uintptr_t>(limbs) / 8) % 8;
    uint64_t head = misalign ? 8 - misalign : 0;
    if (head > count) head = count;
    MultiplyRunScalar(limbs, head, a, &c);
    uint64_t* p = limbs + head;
    uint64_t n = count - head;

    if (n >= 8) {
        const Constants k = {_mm512_set1_epi64(kLimbBase), _mm512_set1_epi64(kLimbBase - 1),
                             _mm512_set1_epi64(a), _mm512_set1_epi64(1),
                             _mm512_set1_pd(static_cast<double>(a) * 1e-18 * (1.0 - 0x1p-40))};
        // Lane 7 of the previous step's quotients is the incoming carry.
        __m512i previous = _mm512_set1_epi64(c);
        uint32_t carryIn = 0;
        for (; n >= 16; n -= 16, p += 16) {
            __m512i r0, r1;
            const __m512i q0 = SplitLanes(k, _mm512_load_si512(p), &r0);
            const __m512i q1 = SplitLanes(k, _mm512_load_si512(p + 8), &r1);
            const __m512i s0 = _mm512_add_epi64(r0, ShiftIn(q0, previous));
            const __m512i s1 = _mm512_add_epi64(r1, ShiftIn(q1, q0));
            previous = q1;
            const uint32_t generate = _mm512_cmpgt_epu64_mask(s0, k.baseLess1) |
                                      (_mm512_cmpgt_epu64_mask(s1, k.baseLess1) << 8);
            const uint32_t propagate = _mm512_cmpeq_epi64_mask(s0, k.baseLess1) |
                                       (_mm512_cmpeq_epi64_mask(s1, k.baseLess1) << 8);
            uint32_t out;
            const uint32_t into = RippleCarries(generate, propagate, 16, &carryIn, &out);
            _mm512_store_si512(p, Settle(k, s0, into, out));
            _mm512_store_si512(p + 8, Settle(k, s1, into >> 8, out >> 8));
        }
        if (n >= 8) {
            __m512i r;
            const __m512i q = SplitLanes(k, _mm512_load_si512(p), &r);
            const __m512i s = _mm512_add_epi64(r, ShiftIn(q, previous));
            previous = q;
            uint32_t out;
            const uint32_t into = RippleCarries(_mm512_cmpgt_epu64_mask(s, k.baseLess1),
                                                _mm512_cmpeq_epi64_mask(s, k.baseLess1), 8,
                                                &carryIn, &out);
            _mm512_store_si512(p, Settle(k, s, into, out));
            n -= 8;
            p += 8;
        }
        alignas(64) uint64_t lanes[8];
        _mm512_store_si512(lanes, previous);
        c = lanes[7] + carryIn;
    }

    MultiplyRunScalar(p, n, a, &c);
    *carry = c;
    return kAccOk;
}
