// AVX-512 kernels with IFMA (see multiply_row_avx512.h). Compiled with
// -mavx512f -mavx512dq -mavx512ifma; reached only through the dispatcher.
#include "engine/multiply_row_avx512.h"

int MultiplyRowAvx512Ifma(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    if (a >= kVectorMultiplierLimit) return MultiplyRowScalar(limbs, count, a, carry);
    return MultiplyRowAvx512Form<false, true>(limbs, count, a, carry);
}

int MultiplyRowAvx512IfmaLazy(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    return MultiplyRowAvx512Form<true, true>(limbs, count, a, carry);
}
