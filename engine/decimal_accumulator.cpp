#include "engine/decimal_accumulator.h"

#include "engine/limb_division.h"

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

}  // namespace

uint64_t ScaleLimbs(uint64_t* x, uint64_t count, uint64_t a) {
    uint64_t carry = 0;
    for (uint64_t i = 0; i < count; ++i) {
        // x[i] * a < 10^36 < 2^120.
        uint64_t r;
        const uint64_t q = DivideByBase(static_cast<unsigned __int128>(x[i]) * a, &r);
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
