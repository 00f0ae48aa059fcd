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

uint64_t AccBlockEnd(uint64_t first, uint64_t n) {
    uint64_t last = first - 1;
    for (unsigned g = RowTeamBlockLength(topIndex - lowIndex + 1); g > 0 && last < n; --g) {
        last = AccGroupEnd(last + 1, n);
    }
    return last;
}

int AccMultiplyGroup(uint64_t first, uint64_t last, uint64_t* reached) {
    const GroupKernel kernel = ActiveGroupKernel();
    uint64_t k = first;
    while (k <= last) {
        // A block of groups, each a product within the kernel's limit.
        uint64_t products[kRowTeamMostMultipliers];
        unsigned m = 0;
        for (uint64_t next = k; next <= last && m < kRowTeamMostMultipliers; ++m) {
            const uint64_t end = AccGroupEnd(next, last);
            products[m] = next;
            for (uint64_t j = next + 1; j <= end; ++j) products[m] *= j;
            next = end + 1;
        }
        // Each group adds at most one limb, carrying the parts' folds across
        // the top at most one more, and normalizing afterwards one more; with
        // less room than that, one multiplier at a time, so that running out
        // is found at the exact multiplier.
        if (maxIndex < m + 2 || topIndex > maxIndex - m - 2) {
            for (; k <= last; ++k) {
                const int status = AccMultiply(k);
                if (status != kAccOk) {
                    *reached = k;
                    return status;
                }
            }
            break;
        }
        if (!kernel.lazy) AccNormalize();
        SkipZeroLimbs();
        const uint64_t length =
            RowTeamMultiply(limbs + lowIndex, topIndex - lowIndex + 1, products, m, kernel.row);
        topIndex = lowIndex + length - 1;
        lazy = lazy || kernel.lazy;
        for (unsigned g = 0; g < m; ++g) k = AccGroupEnd(k, last) + 1;
    }
    *reached = last;
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
