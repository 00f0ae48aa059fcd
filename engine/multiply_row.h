// Row kernels: multiply a run of base-10^18 limbs in place by one word.
// AccMultiply calls MultiplyRow, which runs the variant chosen for this
// processor; the plain form is the reference every other variant must match.
#pragma once

#include <cstdint>

// Multiplies limbs[0 .. count) (each below 10^18, count >= 1) in place by a
// (1 <= a <= 10^18), least significant first. Stores the final carry (at most
// 10^18 - 1) in *carry. Returns 0, or 1 when limb * a + carry carried out of
// 128 bits (limbs below the failing one are already rewritten).
using MultiplyRowFn = int (*)(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);

// The plain form: 128-bit product plus carry, one 128-by-64 division per limb.
int MultiplyRowPlain(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);

// The variant AccMultiply uses.
int MultiplyRow(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
