// Choice of the engine behind MultiplyLimbs and SquareLimbs for this
// processor: the transform with AVX-512 IFMA where the processor has it, the
// one with AVX2 and FMA where it has those, the portable one everywhere else.
// Every engine gives exactly the same limbs.
#pragma once

#include <cstdint>

enum ProductEngine : int {
    kProductPortable = 0,  // 64-bit scalar, baseline x86-64
    kProductIfma = 1,      // AVX-512 F and IFMA
    kProductAvx2 = 2,      // AVX2 and FMA
    kProductEngineCount = 3,
};

// The processor features the choice rests on.
struct ProductFeatures {
    bool avx2;    // with FMA, and the YMM state saved by the system
    bool avx512;  // F and DQ, with the ZMM state saved by the system
    bool avx512ifma;
};

// The features in the processor's words: CPUID leaf 0's EAX (the highest
// leaf), leaf 1's ECX, leaf 7's EBX and XCR0 (0 where OSXSAVE is clear).
ProductFeatures DecodeProductFeatures(uint32_t maxLeaf, uint32_t leaf1Ecx, uint32_t leaf7Ebx,
                                      uint64_t xcr0);
ProductFeatures ProbeProductFeatures();
int ProductEngineFor(const ProductFeatures& features);
const char* ProductEngineName(int engine);  // "portable", "ifma", "avx2"
bool ProductEngineSupported(int engine);
int ActiveProductEngine();

// Test and benchmark hook: products run `engine` from now on. Returns false,
// changing nothing, when this machine cannot run it.
bool ForceProductEngine(int engine);
