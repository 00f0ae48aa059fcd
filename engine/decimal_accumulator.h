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

uint64_t AccTopIndex();
uint64_t AccLowIndex();
uint64_t AccLimb(uint64_t i);  // no bounds test: callers pass 0 .. topIndex
uint64_t AccByteSize();
uint64_t* AccBase();
