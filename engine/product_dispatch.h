// Choice of the engine behind MultiplyLimbs and SquareLimbs for this
// processor: the transform with AVX-512 IFMA where the processor has it,
// the portable one everywhere else. Every engine gives exactly the same limbs.
#pragma once

enum ProductEngine : int {
    kProductPortable = 0,  // 64-bit scalar, baseline x86-64
    kProductIfma = 1,      // AVX-512 F and IFMA
    kProductEngineCount = 2,
};

// The processor features the choice rests on.
struct ProductFeatures {
    bool avx2;
    bool avx512;  // F and DQ, with the register state saved by the system
    bool avx512ifma;
};

ProductFeatures ProbeProductFeatures();
int ProductEngineFor(const ProductFeatures& features);
const char* ProductEngineName(int engine);  // "portable", "ifma"
bool ProductEngineSupported(int engine);
int ActiveProductEngine();

// Test and benchmark hook: products run `engine` from now on. Returns false,
// changing nothing, when this machine cannot run it.
bool ForceProductEngine(int engine);
