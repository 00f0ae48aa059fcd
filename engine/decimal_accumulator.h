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
// dropped).
int AccMultiply(uint64_t a);

// After the caller wrote the value straight into the block: it is now
// limbs[low .. top], every limb below 10^18, limbs[top] non-zero, every limb
// below `low` zero; low >= AccLowIndex(), top <= AccMaxIndex(). The low
// index moves on past the zero limbs the value starts with.
void AccSetExtent(uint64_t low, uint64_t top);

uint64_t AccTopIndex();
uint64_t AccLowIndex();
uint64_t AccMaxIndex();
uint64_t AccLimb(uint64_t i);  // no bounds test: callers pass 0 .. topIndex
uint64_t AccByteSize();
uint64_t* AccBase();

// limbs[0 .. count) (each below 10^18) times a (at most 10^18), in place;
// returns the carry out of the top, below 10^18.
uint64_t ScaleLimbs(uint64_t* limbs, uint64_t count, uint64_t a);
