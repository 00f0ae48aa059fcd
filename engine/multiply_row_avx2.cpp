// AVX2 + FMA kernel: four limbs a step, for processors without AVX-512. The
// same scheme as the AVX-512 kernel, with the pieces AVX2 lacks built from
// 32-bit products (64-bit low products) and exponent tricks (conversions
// between integers and doubles). Compiled with -mavx2 -mfma; reached only
// through the dispatcher.
#include <immintrin.h>

#include <cstdint>

#include "engine/multiply_dispatch.h"
#include "engine/multiply_row_step.h"

namespace {

// Lane masks for every 4-bit pattern: row m has all ones in lane i when bit i
// of m is set.
struct LaneMaskTable {
    alignas(32) uint64_t rows[16][4];
    constexpr LaneMaskTable() : rows() {
        for (int m = 0; m < 16; ++m)
            for (int i = 0; i < 4; ++i) rows[m][i] = (m >> i & 1) ? ~0ULL : 0;
    }
};
constexpr LaneMaskTable kLaneMasks;

inline __m256i LaneMask(uint32_t bits) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(kLaneMasks.rows[bits & 15]));
}

constexpr uint64_t kMagicBits = 0x4330000000000000ULL;  // the double 2^52

struct Constants {
    __m256i base;
    __m256i baseLess1;
    __m256i baseLow;   // low 32 bits of 10^18
    __m256i baseHigh;  // high 32 bits of 10^18
    __m256i multiplier;
    __m256i magicBits;
    __m256d magic;
    __m256d scaleLow;   // a / 10^18, shaded low as in the AVX-512 kernel
    __m256d scaleHigh;  // the same times 2^32
};

// x * a = q * 10^18 + r per lane, x < 10^18, a < 2^32.
inline __m256i SplitLanes(const Constants& k, __m256i x, __m256i* remainder) {
    const __m256i xHigh = _mm256_srli_epi64(x, 32);
    const __m256i product = _mm256_add_epi64(
        _mm256_mul_epu32(x, k.multiplier),
        _mm256_slli_epi64(_mm256_mul_epu32(xHigh, k.multiplier), 32));
    // Both 32-bit halves of x become exact doubles by planting them in the
    // mantissa of 2^52.
    const __m256d low =
        _mm256_sub_pd(_mm256_castsi256_pd(_mm256_blend_epi32(x, k.magicBits, 0xAA)), k.magic);
    const __m256d high = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(xHigh, k.magicBits)), k.magic);
    const __m256d estimate = _mm256_floor_pd(
        _mm256_fmadd_pd(high, k.scaleHigh, _mm256_mul_pd(low, k.scaleLow)));
    __m256i q = _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(estimate, k.magic)), k.magicBits);
    // q < 2^32, so q * 10^18 modulo 2^64 needs only two 32-bit products.
    const __m256i qBase = _mm256_add_epi64(
        _mm256_mul_epu32(q, k.baseLow), _mm256_slli_epi64(_mm256_mul_epu32(q, k.baseHigh), 32));
    __m256i r = _mm256_sub_epi64(product, qBase);  // in [0, 2 * 10^18): signed compare is safe
    const __m256i over = _mm256_cmpgt_epi64(r, k.baseLess1);
    *remainder = _mm256_sub_epi64(r, _mm256_and_si256(over, k.base));
    return _mm256_sub_epi64(q, over);
}

// Quotients moved up one lane; lane 0 takes the last lane of the previous
// step, which `previousRotated` holds in its lane 0.
inline __m256i ShiftedQuotients(__m256i rotated, __m256i previousRotated) {
    return _mm256_blend_epi32(rotated, previousRotated, 0x03);
}

inline uint32_t LaneBits(__m256i m) {
    return static_cast<uint32_t>(_mm256_movemask_pd(_mm256_castsi256_pd(m)));
}

// See the AVX-512 kernel: generate/propagate masks rippled by one add.
inline uint32_t RippleCarries(uint32_t generate, uint32_t propagate, uint32_t width,
                              uint32_t* carryIn, uint32_t* out) {
    const uint32_t t = ((generate << 1) | *carryIn) + propagate;
    const uint32_t flips = t ^ propagate;
    *carryIn = t >> width;
    *out = flips >> 1;
    return flips;
}

inline __m256i Settle(const Constants& k, __m256i s, uint32_t into, uint32_t out) {
    s = _mm256_sub_epi64(s, LaneMask(into));
    return _mm256_sub_epi64(s, _mm256_and_si256(LaneMask(out), k.base));
}

}  // namespace

int MultiplyRowAvx2(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    if (a >= kVectorMultiplierLimit) return MultiplyRowScalar(limbs, count, a, carry);

    uint64_t c = 0;
    const uint64_t misalign = (reinterpret_cast<uintptr_t>(limbs) / 8) % 4;
    uint64_t head = misalign ? 4 - misalign : 0;
    if (head > count) head = count;
    MultiplyRunScalar(limbs, head, a, &c);
    uint64_t* p = limbs + head;
    uint64_t n = count - head;

    if (n >= 4) {
        const double scale = static_cast<double>(a) * 1e-18 * (1.0 - 0x1p-40);
        const Constants k = {_mm256_set1_epi64x(kLimbBase),
                             _mm256_set1_epi64x(kLimbBase - 1),
                             _mm256_set1_epi64x(kLimbBase & 0xFFFFFFFFu),
                             _mm256_set1_epi64x(kLimbBase >> 32),
                             _mm256_set1_epi64x(static_cast<int64_t>(a)),
                             _mm256_set1_epi64x(kMagicBits),
                             _mm256_set1_pd(0x1p52),
                             _mm256_set1_pd(scale),
                             _mm256_set1_pd(scale * 0x1p32)};
        __m256i previousRotated = _mm256_set1_epi64x(static_cast<int64_t>(c));
        uint32_t carryIn = 0;
        for (; n >= 8; n -= 8, p += 8) {
            const __m256i* v = reinterpret_cast<const __m256i*>(p);
            __m256i r0, r1;
            const __m256i q0 = SplitLanes(k, _mm256_load_si256(v), &r0);
            const __m256i q1 = SplitLanes(k, _mm256_load_si256(v + 1), &r1);
            const __m256i rot0 = _mm256_permute4x64_epi64(q0, 0x93);
            const __m256i rot1 = _mm256_permute4x64_epi64(q1, 0x93);
            const __m256i s0 = _mm256_add_epi64(r0, ShiftedQuotients(rot0, previousRotated));
            const __m256i s1 = _mm256_add_epi64(r1, ShiftedQuotients(rot1, rot0));
            previousRotated = rot1;
            const uint32_t generate = LaneBits(_mm256_cmpgt_epi64(s0, k.baseLess1)) |
                                      LaneBits(_mm256_cmpgt_epi64(s1, k.baseLess1)) << 4;
            const uint32_t propagate = LaneBits(_mm256_cmpeq_epi64(s0, k.baseLess1)) |
                                       LaneBits(_mm256_cmpeq_epi64(s1, k.baseLess1)) << 4;
            uint32_t out;
            const uint32_t into = RippleCarries(generate, propagate, 8, &carryIn, &out);
            __m256i* w = reinterpret_cast<__m256i*>(p);
            _mm256_store_si256(w, Settle(k, s0, into, out));
            _mm256_store_si256(w + 1, Settle(k, s1, into >> 4, out >> 4));
        }
        if (n >= 4) {
            __m256i r;
            const __m256i q = SplitLanes(k, _mm256_load_si256(reinterpret_cast<const __m256i*>(p)), &r);
            const __m256i rot = _mm256_permute4x64_epi64(q, 0x93);
            const __m256i s = _mm256_add_epi64(r, ShiftedQuotients(rot, previousRotated));
            previousRotated = rot;
            uint32_t out;
            const uint32_t into =
                RippleCarries(LaneBits(_mm256_cmpgt_epi64(s, k.baseLess1)),
                              LaneBits(_mm256_cmpeq_epi64(s, k.baseLess1)), 4, &carryIn, &out);
            _mm256_store_si256(reinterpret_cast<__m256i*>(p), Settle(k, s, into, out));
            n -= 4;
            p += 4;
        }
        c = static_cast<uint64_t>(_mm256_extract_epi64(previousRotated, 0)) + carryIn;
    }

    MultiplyRunScalar(p, n, a, &c);
    *carry = c;
    return kAccOk;
}
