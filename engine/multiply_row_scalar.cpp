// Baseline x86-64 kernel: reciprocal multiplication in place of divq. Runs
// on every processor and takes every multiplier up to 10^18.
#include "engine/multiply_dispatch.h"
#include "engine/multiply_row_step.h"

int MultiplyRowScalar(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    uint64_t c = 0;
    // Two limbs per round give the multiplier unit independent work while the
    // carry add of the previous limb completes.
    uint64_t i = 0;
    for (; i + 2 <= count; i += 2) {
        uint64_t r0, r1;
        const uint64_t q0 = SplitProduct(limbs[i], a, &r0);
        const uint64_t q1 = SplitProduct(limbs[i + 1], a, &r1);
        limbs[i] = FinishLimb(r0, q0, &c);
        limbs[i + 1] = FinishLimb(r1, q1, &c);
    }
    MultiplyRunScalar(limbs + i, count - i, a, &c);
    *carry = c;
    return kAccOk;
}
