// The AVX-512 kernels, in both forms, with and without IFMA: 32 limbs a round
// in four vectors. Every limb's quotient comes from a double-precision
// estimate that never exceeds the true one, its remainder from 64-bit low
// products, and the carry into a limb is its neighbour's quotient, moved up
// one lane.
//   normalized (a < 2^32): for a factorial's limbs a sum reaches 10^18 about
//     once in 10^12 limbs, so a round checks for that once and, when it
//     happens, redoes its 32 limbs with the scalar code, which also settles an
//     estimate that came out one short;
//   lazy (a < 2^44): no check at all; a short estimate or a large carry just
//     leaves a limb above 10^18, within the lazy bound.
// Included by multiply_row_avx512.cpp (-mavx512f -mavx512dq) and
// multiply_row_avx512ifma.cpp (and -mavx512ifma). Internal linkage, like
// multiply_row_step.h, so each file keeps the copy made for its instructions.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "engine/multiply_dispatch.h"
#include "engine/multiply_row_step.h"

namespace {

// Every floating-point step rounds toward zero whatever the caller's MXCSR
// says, and raises nothing.
constexpr int kTowardZero = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;

// The largest double not above 10^-18.
constexpr double kInverseBaseBelow = 0x1.2725dd1d243abp-60;

struct Constants {
    __m512i base;
    __m512i baseLess1;
    __m512i baseOdd;  // 5^18: 10^18 = 5^18 * 2^18
    __m512i multiplier;
    __m512d scale;  // a * 10^-18, rounded down
};

inline Constants MakeConstants(uint64_t a) {
    const __m128d scale = _mm_mul_round_sd(_mm_set_sd(static_cast<double>(a)),
                                           _mm_set_sd(kInverseBaseBelow), kTowardZero);
    return {_mm512_set1_epi64(kLimbBase), _mm512_set1_epi64(kLimbBase - 1),
            _mm512_set1_epi64(3814697265625), _mm512_set1_epi64(a),
            _mm512_set1_pd(_mm_cvtsd_f64(scale))};
}

// Per lane, q' = trunc(x' * scale) with x' the double of x. Every step rounds
// toward zero from a positive value, and scale is below a / 10^18, so
// q' <= x * a / 10^18: never high. The constant, the scale, x' and the
// product each lose less than 2^-52 of their value, so q' falls short of
// x * a / 10^18 by less than 2^-50 of it: 2^-18 for normalized limbs with
// a < 2^32, 2^-4.8 for lazy limbs (below 2^61) with a < 2^44. Below one
// either way, so q' is q or q - 1 and the remainder x * a - q' * 10^18 lies in
// [0, 2 * 10^18): the low 64 bits of the products give it exactly. With
// IFMA, q' * 10^18 modulo 2^64 is (q' * 5^18 modulo 2^52) * 2^18: one 52-bit
// product (q' < 2^52) and a shift in place of a 64-bit product.
// (Zero-masked multiply and shift: the unmasked ones' undefined pass-through draws a
// GCC warning.)
template <bool kIfma>
inline __m512i EstimateQuotients(const Constants& k, __m512i x, __m512i* remainder) {
    const __m512d product = _mm512_maskz_mul_round_pd(
        0xFF, _mm512_cvt_roundepi64_pd(x, kTowardZero), k.scale, kTowardZero);
    const __m512i q = _mm512_cvtt_roundpd_epi64(product, _MM_FROUND_NO_EXC);
    __m512i qBase;
    if constexpr (kIfma) {
        qBase = _mm512_maskz_slli_epi64(
            0xFF, _mm512_madd52lo_epu64(_mm512_setzero_si512(), q, k.baseOdd), 18);
    } else {
        qBase = _mm512_mullo_epi64(q, k.base);
    }
    *remainder = _mm512_sub_epi64(_mm512_mullo_epi64(x, k.multiplier), qBase);
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

// Stores the new limbs of `vectors` consecutive vectors, or, in the
// normalized form when a sum reached 10^18, redoes them one by one. Returns
// the vector whose last lane carries into the next limb.
template <bool kLazy, int vectors>
inline __m512i FinishRound(const Constants& k, uint64_t* p, const __m512i* r, const __m512i* q,
                           __m512i previous, uint64_t a) {
    __m512i sums[vectors];
    __mmask8 big = 0;
    for (int v = 0; v < vectors; ++v) {
        sums[v] = _mm512_add_epi64(r[v], ShiftIn(q[v], v == 0 ? previous : q[v - 1]));
        if (!kLazy) big |= _mm512_cmpgt_epu64_mask(sums[v], k.baseLess1);
    }
    if (kLazy || __builtin_expect(big == 0, 1)) {
        for (int v = 0; v < vectors; ++v) _mm512_store_si512(p + 8 * v, sums[v]);
        return q[vectors - 1];
    }
    uint64_t roundCarry = LastLane(previous);
    MultiplyRunScalar(p, 8 * vectors, a, &roundCarry);
    return _mm512_set1_epi64(roundCarry);
}

template <bool kLazy, bool kIfma>
int MultiplyRowAvx512Form(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    uint64_t c = 0;
    const uint64_t head = AlignmentHead(limbs, count, 8);
    MultiplyRunOneByOne<kLazy>(limbs, head, a, &c);
    uint64_t* p = limbs + head;
    uint64_t n = count - head;

    if (n >= 8) {
        const Constants k = MakeConstants(a);
        // Lane 7 holds the carry into the next limb.
        __m512i previous = _mm512_set1_epi64(c);
        for (; n >= 32; n -= 32, p += 32) {
            __m512i r[4], q[4];
            for (int v = 0; v < 4; ++v)
                q[v] = EstimateQuotients<kIfma>(k, _mm512_load_si512(p + 8 * v), &r[v]);
            previous = FinishRound<kLazy, 4>(k, p, r, q, previous, a);
        }
        for (; n >= 8; n -= 8, p += 8) {
            __m512i r[1], q[1];
            q[0] = EstimateQuotients<kIfma>(k, _mm512_load_si512(p), &r[0]);
            previous = FinishRound<kLazy, 1>(k, p, r, q, previous, a);
        }
        c = LastLane(previous);
    }

    MultiplyRunOneByOne<kLazy>(p, n, a, &c);
    *carry = c;
    return kAccOk;
}

}  // namespace
