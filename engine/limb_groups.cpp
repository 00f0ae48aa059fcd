#include "engine/limb_groups.h"

#include "engine/decimal_accumulator.h"

void SplitLimb(LimbGroups* r) {
    uint64_t v = r->value;
    r->groups[5] = v / 1000000000000000ULL;
    v -= r->groups[5] * 1000000000000000ULL;
    r->groups[4] = v / 1000000000000ULL;
    v -= r->groups[4] * 1000000000000ULL;
    r->groups[3] = v / 1000000000ULL;
    v -= r->groups[3] * 1000000000ULL;
    r->groups[2] = v / 1000000ULL;
    v -= r->groups[2] * 1000000ULL;
    r->groups[1] = v / 1000;
    r->groups[0] = v - r->groups[1] * 1000;

    r->topGroup = 0;
    for (int k = 5; k >= 0; --k) {
        if (r->groups[k] != 0) {
            r->topGroup = static_cast<uint64_t>(k);
            break;
        }
    }
    r->groupCount = 6;
}

uint64_t DigitsOfLimb(uint64_t v) {
    // Compare with the powers of ten: no division, no floating point.
    uint64_t digits = 1;
    uint64_t power = 10;
    while (digits < 18 && v >= power) {
        ++digits;
        power *= 10;
    }
    return digits;
}

uint64_t CountResultDigits() {
    const uint64_t t = AccTopIndex();
    return DigitsOfLimb(AccLimb(t)) + 18 * t;
}
