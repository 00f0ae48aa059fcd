// One limb of a row multiplication without the hardware divide, shared by
// the kernels. Internal linkage on purpose: each kernel file is compiled with
// its own instruction set, and a shared inline definition could let the
// linker hand a baseline caller the AVX-512 copy.
#pragma once

#include <cstdint>

#include "engine/decimal_accumulator.h"

namespace {

// floor(2^123 / 10^18): the quotient estimate below drops the low 56 bits
// of the product (worth less than 0.08 of a quotient unit) and the fraction
// of the reciprocal (less than p / 2^123 <= 0.125 for p < 2^120), so it is
// never high and at most one short of the true quotient.
constexpr uint64_t kLimbReciprocal =
    static_cast<uint64_t>((static_cast<unsigned __int128>(1) << 123) / kLimbBase);

// x * a = q * 10^18 + r with r < 10^18, for x * a < 2^120: normalized limbs
// with a <= 10^18, and lazy limbs (below 2^61) with a below 2^44.
// Neither output depends on a carry, so consecutive limbs overlap freely.
inline uint64_t SplitProduct(uint64_t x, uint64_t a, uint64_t* remainder) {
    const unsigned __int128 p = static_cast<unsigned __int128>(x) * a;
    const uint64_t low = static_cast<uint64_t>(p);
    // p < 2^120, so bits 56 .. 119 hold all of p >> 56.
    const uint64_t top = (static_cast<uint64_t>(p >> 64) << 8) | (low >> 56);
    const uint64_t q =
        static_cast<uint64_t>((static_cast<unsigned __int128>(top) * kLimbReciprocal) >> 67);
    uint64_t r = low - q * kLimbBase;  // true value below 2 * 10^18
    const uint64_t over = r >= kLimbBase;
    r -= over ? kLimbBase : 0;
    *remainder = r;
    return q + over;
}

// Adds the incoming carry to a split product: the only serial part of a row
// is this add and one compare.
inline uint64_t FinishLimb(uint64_t remainder, uint64_t quotient, uint64_t* carry) {
    uint64_t s = remainder + *carry;
    const uint64_t over = s >= kLimbBase;
    s -= over ? kLimbBase : 0;
    *carry = quotient + over;
    return s;
}

inline void MultiplyRunScalar(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    uint64_t c = *carry;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t r;
        const uint64_t q = SplitProduct(limbs[i], a, &r);
        limbs[i] = FinishLimb(r, q, &c);
    }
    *carry = c;
}

// The lazy form of the same: the carry is added without a compare, so a limb
// may end at or above 10^18 (below 10^18 + 2^46).
inline void MultiplyRunLazy(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    uint64_t c = *carry;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t r;
        const uint64_t q = SplitProduct(limbs[i], a, &r);
        limbs[i] = r + c;
        c = q;
    }
    *carry = c;
}

// The limbs a vector kernel takes one at a time, in its own form.
template <bool kLazy>
inline void MultiplyRunOneByOne(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    if (kLazy) {
        MultiplyRunLazy(limbs, count, a, carry);
    } else {
        MultiplyRunScalar(limbs, count, a, carry);
    }
}

// How many limbs lie in front of the first `vectorLimbs`-aligned one (all of
// them when the row is shorter): the kernels take those one at a time, so
// their vector loop loads and stores aligned.
inline uint64_t AlignmentHead(const uint64_t* limbs, uint64_t count, uint64_t vectorLimbs) {
    const uint64_t misalign = (reinterpret_cast<uintptr_t>(limbs) / 8) % vectorLimbs;
    const uint64_t head = misalign ? vectorLimbs - misalign : 0;
    return head < count ? head : count;
}

}  // namespace
