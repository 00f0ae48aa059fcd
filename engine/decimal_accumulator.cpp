#include "engine/decimal_accumulator.h"

#include "engine/multiply_dispatch.h"
#include "engine/multiply_row.h"
#include "engine/row_team.h"

namespace {

// The accumulator's state. One job owns it at a time, on its worker thread.
uint64_t byteSize;
uint64_t* limbs;
uint64_t lowIndex;
uint64_t topIndex;
uint64_t maxIndex;
bool lazy;  // some limb may be at or above 10^18 (see multiply_row.h)

// The factorial gathers trailing zero limbs; they stay zero under every
// later multiplication, so skip them for good. The top limb is non-zero,
// which bounds the scan. A lazy limb that is a whole multiple of the base is
// a zero limb whose carry has not moved up yet: move it, and skip it too.
void SkipZeroLimbs() {
    uint64_t i = lowIndex;
    for (;;) {
        while (limbs[i] == 0) ++i;
        if (!lazy || i == topIndex || limbs[i] % kLimbBase != 0) break;
        limbs[i + 1] += limbs[i] / kLimbBase;
        limbs[i] = 0;
    }
    lowIndex = i;
}

}  // namespace

void AccSetUp(uint64_t* block, uint64_t size) {
    limbs = block;
    byteSize = size;
    limbs[0] = 1;
    lowIndex = 0;
    topIndex = 0;
    maxIndex = size / 8 - 1;
    lazy = false;
}

int AccMultiply(uint64_t a) {
    AccNormalize();
    SkipZeroLimbs();
    uint64_t carry = 0;
    const int status = MultiplyRow(limbs + lowIndex, topIndex - lowIndex + 1, a, &carry);
    if (status != kAccOk) return status;
    if (carry == 0) return kAccOk;
    if (topIndex >= maxIndex) return kAccNoRoom;
    limbs[++topIndex] = carry;
    return kAccOk;
}

uint64_t AccGroupEnd(uint64_t first, uint64_t n) {
    const uint64_t limit = ActiveGroupKernel().limit;
    uint64_t last = first;
    for (uint64_t product = first; last < n && product <= (limit - 1) / (last + 1);) {
        product *= ++last;
    }
    return last;
}

int AccMultiplyGroup(uint64_t first, uint64_t last, uint64_t* reached) {
    // A pass adds at most one limb, and normalizing afterwards at most one
    // more; with less room than that, one multiplier at a time.
    if (maxIndex < 2 || topIndex > maxIndex - 2) {
        for (uint64_t k = first; k <= last; ++k) {
            const int status = AccMultiply(k);
            if (status != kAccOk) {
                *reached = k;
                return status;
            }
        }
        *reached = last;
        return kAccOk;
    }
    const GroupKernel kernel = ActiveGroupKernel();
    uint64_t product = first;
    for (uint64_t k = first + 1; k <= last; ++k) product *= k;
    if (!kernel.lazy) AccNormalize();
    SkipZeroLimbs();
    uint64_t carry = 0;
    const int status = RowTeamMultiply(limbs + lowIndex, topIndex - lowIndex + 1, product,
                                       kernel.row, kernel.lazy, &carry);
    lazy = lazy || kernel.lazy;
    *reached = last;
    if (status != kAccOk) return status;
    if (carry != 0) limbs[++topIndex] = carry;
    return kAccOk;
}

void AccNormalize() {
    if (!lazy) return;
    uint64_t carry = 0;
    for (uint64_t i = lowIndex; i <= topIndex; ++i) {
        const uint64_t v = limbs[i] + carry;  // below 2^61 + 2: carry stays at most 2
        carry = v / kLimbBase;
        limbs[i] = v - carry * kLimbBase;
    }
    if (carry != 0) limbs[++topIndex] = carry;
    lazy = false;
}

uint64_t AccTopIndex() { return topIndex; }
uint64_t AccLowIndex() { return lowIndex; }
uint64_t AccLimb(uint64_t i) { return limbs[i]; }
uint64_t AccByteSize() { return byteSize; }
uint64_t* AccBase() { return limbs; }
