// Digit and memory estimates that size a factorial before it is computed.
#pragma once

#include <cstdint>

// Stirling's estimate of the decimal digits of n!; exact for 0 <= n <= 10^6.
int64_t EstimateDigits(int64_t n);

// Bytes of 8-byte limbs that hold d decimal digits (18 digits a limb).
uint64_t BytesForDigits(uint64_t d);
