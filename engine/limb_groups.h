// Three-digit groups of a limb, and the exact digit count of the accumulator.
#pragma once

#include <cstdint>

struct LimbGroups {
    uint64_t value;       // the limb to split; set by the caller
    uint64_t groupCount;  // always 6
    uint64_t topGroup;    // most significant non-zero group; 0 when value is 0
    uint64_t groups[6];   // least significant first; groups[5] = value / 10^15
};

void SplitLimb(LimbGroups* record);

// Exact number of decimal digits of the accumulator's value.
uint64_t CountResultDigits();

// Decimal digits of v (1 for v <= 9); v < 10^18.
uint64_t DigitsOfLimb(uint64_t v);
