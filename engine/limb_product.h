// Products of base-10^18 numbers held as limbs below 10^18, least
// significant first: the multiplication layer the factorial's steps use.
// Small operands go by schoolbook; large ones by number-theoretic transform.
// Working space comes from the work memory (work_memory.h), which the caller
// sizes with ProductWorkBytes and sets up with PrepareProducts.
#pragma once

#include <cstdint>

// r[0 .. na + nb) = a[0 .. na) * b[0 .. nb), for na, nb >= 1; the top limb
// may be 0. r may start where a or b starts (the product then replaces that
// operand, which must have room for it); no other overlap. The result has at
// most the product limbs PrepareProducts was given. A smaller operand below
// the engine's schoolbook threshold may have any size; above it, at most an
// eighth of those limbs (a larger one traps: a sizing fault).
void MultiplyLimbs(uint64_t* r, const uint64_t* a, uint64_t na, const uint64_t* b, uint64_t nb);

// The most work memory, in words, a MultiplyLimbs whose result has at most
// `limbs` limbs takes (for a share of it: see WorkUseShare).
uint64_t ProductWorkWords(uint64_t limbs);

// r[0 .. 2 na) = a[0 .. na)^2, with the same rules; 2 na is at most the
// square limbs PrepareProducts was given.
void SquareLimbs(uint64_t* r, const uint64_t* a, uint64_t na);

// Working memory that squares whose results have at most `squareLimbs` limbs
// and products (as above) whose results have at most `productLimbs` need at
// once, with the tables PrepareProducts builds for them.
uint64_t ProductWorkBytes(uint64_t squareLimbs, uint64_t productLimbs);

// Builds the tables for those squares and products in the work memory, where
// they stay until it is given back. Once per job, before the first product,
// with the work memory otherwise empty.
void PrepareProducts(uint64_t squareLimbs, uint64_t productLimbs);
