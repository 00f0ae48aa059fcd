#include "engine/decimal_accumulator.h"

namespace {

// The accumulator's state. One job owns it at a time, on its worker thread.
uint64_t byteSize;
uint64_t* limbs;
uint64_t lowIndex;
uint64_t topIndex;
uint64_t maxIndex;

// The factorial gathers trailing zero limbs; they stay zero under every
// later multiplication, so skip them for good. The top limb is non-zero,
// which bounds the scan.
void SkipZeroLimbs() {
    while (limbs[lowIndex] == 0) ++lowIndex;
}

// floor(2^123 / 10^18). The quotient estimate below drops the low 56 bits of
// the product (worth less than 0.08 of a quotient unit) and the fraction of
// the reciprocal (less than p / 2^123 <= 0.125 for p < 2^120), so it is never
// high and at most one short.
constexpr uint64_t kLimbReciprocal =
    static_cast<uint64_t>((static_cast<unsigned __int128>(1) << 123) / kLimbBase);

// x * a = q * 10^18 + r, r < 10^18, for x, a <= 10^18 (x * a < 2^120),
// without the slow 128-bit division.
inline uint64_t SplitProduct(uint64_t x, uint64_t a, uint64_t* remainder) {
    const unsigned __int128 p = static_cast<unsigned __int128>(x) * a;
    const uint64_t low = static_cast<uint64_t>(p);
    const uint64_t top = (static_cast<uint64_t>(p >> 64) << 8) | (low >> 56);
    const uint64_t q =
        static_cast<uint64_t>((static_cast<unsigned __int128>(top) * kLimbReciprocal) >> 67);
    uint64_t r = low - q * kLimbBase;  // below 2 * 10^18
    const uint64_t over = r >= kLimbBase;
    *remainder = over ? r - kLimbBase : r;
    return q + over;
}

}  // namespace

uint64_t ScaleLimbs(uint64_t* x, uint64_t count, uint64_t a) {
    uint64_t carry = 0;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t r;
        const uint64_t q = SplitProduct(x[i], a, &r);
        r += carry;
        const uint64_t over = r >= kLimbBase;
        x[i] = over ? r - kLimbBase : r;
        carry = q + over;
    }
    return carry;
}

void AccSetUp(uint64_t* block, uint64_t size) {
    limbs = block;
    byteSize = size;
    limbs[0] = 1;
    lowIndex = 0;
    topIndex = 0;
    maxIndex = size / 8 - 1;
}

// Each limb's product plus carry stays below 10^36 < 2^128, so the
// overflow result never comes; it is kept for its callers' sake.
int AccMultiply(uint64_t a) {
    SkipZeroLimbs();
    const uint64_t carry = ScaleLimbs(limbs + lowIndex, topIndex - lowIndex + 1, a);
    if (carry == 0) return kAccOk;
    if (topIndex >= maxIndex) return kAccNoRoom;
    limbs[++topIndex] = carry;
    return kAccOk;
}

void AccSetExtent(uint64_t low, uint64_t top) {
    lowIndex = low;
    topIndex = top;
    SkipZeroLimbs();
}

uint64_t AccTopIndex() { return topIndex; }
uint64_t AccLowIndex() { return lowIndex; }
uint64_t AccMaxIndex() { return maxIndex; }
uint64_t AccLimb(uint64_t i) { return limbs[i]; }
uint64_t AccByteSize() { return byteSize; }
uint64_t* AccBase() { return limbs; }
