// Row kernels: multiply a run of base-10^18 limbs in place by one word.
// AccMultiply calls MultiplyRow, which runs the variant chosen for this
// processor; the plain form is the reference every other variant must match.
//
// Two forms of limbs:
//   normalized: every limb below 10^18 (what the rest of the program reads);
//   lazy:       every limb below kLazyLimbLimit. The value is still the sum of
//               limb * 10^(18 i), but a limb may hold a part that belongs to
//               the next one. The grouped passes of a factorial keep their limbs
//               lazy and normalize once at the end, which spares every limb its
//               compare and every round its check.
#pragma once

#include <cstdint>

// Normalized kernels. Multiply limbs[0 .. count) (each below 10^18, count >= 1)
// in place by a (1 <= a <= 10^18), least significant first. Store the final
// carry (at most 10^18 - 1) in *carry. Return 0, or 1 when limb * a + carry
// carried out of 128 bits (limbs below the failing one are already rewritten).
//
// Lazy kernels, same signature. Take limbs below kLazyLimbLimit and
// 1 <= a < kLazyMultiplierLimit; leave every limb below 2 * 10^18 + 2^46 and
// a carry below 2^46, with sum(limb' * 10^(18 i)) + carry * 10^(18 count)
// equal to a * sum(limb * 10^(18 i)). Always return 0.
using MultiplyRowFn = int (*)(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);

constexpr uint64_t kLazyLimbLimit = 1ULL << 61;
constexpr uint64_t kLazyMultiplierLimit = 1ULL << 44;

// The plain form: 128-bit product plus carry, one 128-by-64 division per limb.
int MultiplyRowPlain(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);

// The variant AccMultiply uses.
int MultiplyRow(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
