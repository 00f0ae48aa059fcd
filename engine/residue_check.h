// The check a result passes before it is written: the accumulator's value
// against n! modulo three primes just below 2^61, each n! computed directly
// by n modular multiplications. It shares nothing with the products, so a
// fault in them (or in the steps) shows as a mismatch, except with odds of
// about 2^-180. Each half costs about 2 ms at 10^6.
//
// FactorialResidues(n, out): out[i] = n! mod the i-th prime, any n.
// AccResidues(out): out[i] = the accumulator's value mod the i-th prime;
//   false (out then undefined) when a limb from 0 to topIndex is 10^18 or
//   more, or the top one is 0: limbs the digit count and the file could not
//   take as they are.
// AccHoldsFactorial(n): AccResidues is true and equals FactorialResidues(n).
#pragma once

#include <cstdint>

constexpr int kCheckPrimes = 3;

void FactorialResidues(uint64_t n, uint64_t out[kCheckPrimes]);
bool AccResidues(uint64_t out[kCheckPrimes]);
bool AccHoldsFactorial(uint64_t n);
