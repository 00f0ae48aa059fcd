// The factorial in the accumulator, by steps between checkpoints, each k!
// held exactly. A step from floor(k / 2)! to k! squares the value and
// multiplies it by the swing of k:
//
//   k! = (floor(k / 2)!)^2 * swing(k),
//   swing(k) = product over primes p <= k of p^e(p),
//   e(p) = sum over i >= 1 of (floor(k / p^i) mod 2),
//
// each p^e(p) <= k, packed into words below 10^18 and multiplied up by a
// balanced tree. Small factorials go by word multiplications.
//
// Contracts (n <= 10^6 throughout; the work memory is work_memory.h's):
//
// FactorialCheckpoints(n, out): writes the checkpoints of n! to out in
//   increasing order and returns their number (1 .. kMostCheckpoints): every
//   floor(n / 2^j) above kWordStepsLimit, and n itself. Each is twice the one
//   before it or one more than that. 13 at 10^6: 244, 488, ..., 500000,
//   1000000.
//
// FactorialWorkBytes(n): the work memory the steps up to n! take at most,
//   the products' included. A bound, never an estimate: WorkTake traps on a
//   block that is too small. The steps' own share is the sieve (n / 16
//   bytes) and the swing's words with half as many again for its tree
//   (12 ((n + b) / (59 - b) + 1) bytes, b the bit length of n): 0.37 MB at
//   10^6. The products are sized for the largest a step makes: k! without
//   twice the zero limbs of floor(k / 2)!, plus one limb; the squares for
//   twice floor(k / 2)! without its zero limbs; each factorial one limb
//   larger than estimated. 11.0 MB in all at 10^6.
//
// PrepareFactorialSteps(n): once per job, on a work memory of at least
//   FactorialWorkBytes(n) with nothing taken: prepares the products and
//   sieves the primes up to n, which stay taken until the block is released.
//
// AccFactorialStep(from, to, &reached): the accumulator holds from!, and
//   from <= to <= the n prepared for; makes it to!. From floor(to / 2)! by
//   one swing step: one square of floor(to / 2)! without its zero limbs, one
//   product by swing(to) (below 0.017 to + 2 limbs, the smaller operand: an
//   eighth of the prepared limbs or less wherever a transform takes it), and
//   the swing's tree (on the team from 1,024 words on, its lower levels in
//   parts that take shares of the work memory left free). From below floor(to / 2) by the steps on
//   the way; otherwise (and whenever the accumulator might lack room for a swing step's products)
//   by word multiplications from from + 1 on. Returns kAccOk with reached = to, or AccMultiply's
//   failure with reached = the multiplier that failed: with kAccNoRoom, the first k whose k! does
//   not fit. Takes work memory and gives it back; runs products on the work team.
#pragma once

#include <cstdint>

// At or below this, a factorial goes by word multiplications alone.
constexpr uint64_t kWordStepsLimit = 128;
constexpr unsigned kMostCheckpoints = 64;

unsigned FactorialCheckpoints(uint64_t n, uint64_t out[kMostCheckpoints]);
uint64_t FactorialWorkBytes(uint64_t n);
void PrepareFactorialSteps(uint64_t n);
int AccFactorialStep(uint64_t from, uint64_t to, uint64_t* reached);
