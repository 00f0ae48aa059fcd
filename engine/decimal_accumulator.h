// The one base-10^18 number of the program: limbs of 18 decimal digits each,
// least significant first. The kernel below works on a block its caller
// supplies and touches nothing of the operating system; accumulator_memory.h
// obtains and returns that block.
#pragma once

#include <cstdint>

// Limb base: every limb holds exactly 18 decimal digits.
constexpr uint64_t kLimbBase = 1000000000000000000ULL;

// Result codes of AccMultiply.
enum : int {
    kAccOk = 0,
    kAccOverflow = 1,  // carry out of the 128-bit limb * a + carry
    kAccNoRoom = 2,    // the product needs a limb above maxIndex
};

// Sets the value to 1 on `block` of `byteSize` bytes; nothing else of the
// block is touched.
void AccSetUp(uint64_t* block, uint64_t byteSize);

// Multiplies the value in place by a, 1 <= a <= 10^18. Returns kAccOk,
// kAccOverflow or kAccNoRoom (then topIndex is unchanged and the final carry
// dropped). Leaves the limbs normalized.
int AccMultiply(uint64_t a);

// The last multiplier of the group that starts at `first` (<= n): the
// consecutive multipliers first .. last whose product the grouped pass of
// this processor takes in one go (at least `first` alone).
uint64_t AccGroupEnd(uint64_t first, uint64_t n);

// The last multiplier of the block of groups that starts at `first` (<= n):
// as many groups as the row team takes through a row of this length at once.
uint64_t AccBlockEnd(uint64_t first, uint64_t n);

// Multiplies the value by first * (first + 1) * ... * last, a group from
// AccGroupEnd or a block from AccBlockEnd: each group in one pass, a block's
// groups through the row team at once. The limbs may be left lazy:
// AccNormalize before anything reads them. Near the end of the memory, where
// the limbs the block may add could not fit, the multipliers are applied one
// at a time instead, so that running out of room is found at the exact
// multiplier: then kAccNoRoom comes back with *reached set to it (else
// *reached = last).
int AccMultiplyGroup(uint64_t first, uint64_t last, uint64_t* reached);

// Brings every limb below 10^18. The room for the limb this may add is kept
// by AccMultiplyGroup.
void AccNormalize();

uint64_t AccTopIndex();
uint64_t AccLowIndex();
uint64_t AccLimb(uint64_t i);  // no bounds test: callers pass 0 .. topIndex
uint64_t AccByteSize();
uint64_t* AccBase();
