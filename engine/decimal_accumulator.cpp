#include "engine/decimal_accumulator.h"

#include "engine/multiply_row.h"

namespace {

// The accumulator's state. One job owns it at a time, on its worker thread.
uint64_t byteSize;
uint64_t* limbs;
uint64_t lowIndex;
uint64_t topIndex;
uint64_t maxIndex;

}  // namespace

void AccSetUp(uint64_t* block, uint64_t size) {
    limbs = block;
    byteSize = size;
    limbs[0] = 1;
    lowIndex = 0;
    topIndex = 0;
    maxIndex = size / 8 - 1;
}

int AccMultiply(uint64_t a) {
    // The factorial gathers trailing zero limbs; they stay zero under every
    // later multiplication, so skip them for good. The top limb is non-zero,
    // which bounds the scan.
    uint64_t i = lowIndex;
    while (limbs[i] == 0) ++i;
    lowIndex = i;

    uint64_t carry = 0;
    const int status = MultiplyRow(limbs + i, topIndex - i + 1, a, &carry);
    if (status != kAccOk) return status;
    if (carry == 0) return kAccOk;
    if (topIndex >= maxIndex) return kAccNoRoom;
    limbs[++topIndex] = carry;
    return kAccOk;
}

uint64_t AccTopIndex() { return topIndex; }
uint64_t AccLowIndex() { return lowIndex; }
uint64_t AccLimb(uint64_t i) { return limbs[i]; }
uint64_t AccByteSize() { return byteSize; }
uint64_t* AccBase() { return limbs; }
