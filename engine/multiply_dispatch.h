// Choice of the row kernel for this processor. The choice is made once, on
// the first multiplication, from CPUID and the register state the operating
// system saves (XGETBV); every kernel gives exactly the limbs and carry of
// MultiplyRowPlain.
#pragma once

#include <cstdint>

#include "engine/multiply_row.h"

enum MultiplyVariant : int {
    kMultiplyPlain = 0,   // hardware divide; the reference
    kMultiplyScalar = 1,  // reciprocal, baseline x86-64
    kMultiplyAvx2 = 2,    // AVX2 + FMA, 4 limbs a step
    kMultiplyAvx512 = 3,  // AVX-512 F/DQ, 8 limbs a step
    kMultiplyVariantCount = 4,
};

// Multipliers below this take the AVX-512 path (the AVX2 one stops at 2^31);
// larger ones, up to 10^18, go through the scalar reciprocal kernel.
constexpr uint64_t kVectorMultiplierLimit = 1ULL << 32;

const char* MultiplyVariantName(int variant);  // "plain", "scalar", "avx2", "avx512"
bool MultiplyVariantSupported(int variant);    // processor and operating system allow it
int BestMultiplyVariant();
int ActiveMultiplyVariant();
MultiplyRowFn MultiplyRowOf(int variant);  // null for an unknown variant

// Test and benchmark hook: makes MultiplyRow run `variant` from now on.
// Returns false, changing nothing, when this machine cannot run it.
bool ForceMultiplyVariant(int variant);

// The kernels. The vector ones must only be called where supported.
int MultiplyRowScalar(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
int MultiplyRowAvx2(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
int MultiplyRowAvx512(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
