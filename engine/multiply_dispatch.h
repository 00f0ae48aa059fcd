// Choice of the row kernel for this processor. The choice is made once, on
// the first multiplication, from CPUID and the register state the operating
// system saves (XGETBV); every kernel gives exactly the limbs and carry of
// MultiplyRowPlain.
#pragma once

#include <cstdint>

#include "engine/multiply_row.h"

enum MultiplyVariant : int {
    kMultiplyPlain = 0,       // hardware divide; the reference
    kMultiplyScalar = 1,      // reciprocal, baseline x86-64
    kMultiplyAvx2 = 2,        // AVX2 + FMA, 4 limbs a step
    kMultiplyAvx512 = 3,      // AVX-512 F/DQ, 8 limbs a step
    kMultiplyAvx512Ifma = 4,  // the same with IFMA for one of its products
    kMultiplyVariantCount = 5,
};

// Multipliers below these take the normalized vector paths; larger ones, up
// to 10^18, go through the scalar reciprocal kernel.
constexpr uint64_t kVectorMultiplierLimit = 1ULL << 32;  // AVX-512
constexpr uint64_t kAvx2MultiplierLimit = 1ULL << 31;

// The kernel a factorial's grouped passes use: consecutive multipliers are
// applied as one product while it stays below `limit`. A lazy kernel leaves
// lazy limbs; the others keep the limbs normalized.
struct GroupKernel {
    MultiplyRowFn row;
    uint64_t limit;
    bool lazy;
};

const char* MultiplyVariantName(int variant);  // "plain", "scalar", "avx2", "avx512", "avx512ifma"
bool MultiplyVariantSupported(int variant);    // processor and operating system allow it
int BestMultiplyVariant();
int ActiveMultiplyVariant();
MultiplyRowFn MultiplyRowOf(int variant);  // null for an unknown variant
GroupKernel GroupKernelOf(int variant);    // row null for an unknown variant
GroupKernel ActiveGroupKernel();

// Test and benchmark hook: makes MultiplyRow and the grouped passes run
// `variant` from now on.
// Returns false, changing nothing, when this machine cannot run it.
bool ForceMultiplyVariant(int variant);

// The kernels. The vector ones must only be called where supported.
int MultiplyRowScalar(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
int MultiplyRowAvx2(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
int MultiplyRowAvx512(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
int MultiplyRowAvx2Lazy(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
int MultiplyRowAvx512Lazy(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
int MultiplyRowAvx512Ifma(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
int MultiplyRowAvx512IfmaLazy(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);
