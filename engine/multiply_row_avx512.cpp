// AVX-512 F/DQ kernels (see multiply_row_avx512.h). Compiled with
// -mavx512f -mavx512dq; reached only through the dispatcher.
#include "engine/multiply_row_avx512.h"

int MultiplyRowAvx512(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    if (a >= kVectorMultiplierLimit) return MultiplyRowScalar(limbs, count, a, carry);
    return MultiplyRowAvx512Form<false, false>(limbs, count, a, carry);
}

int MultiplyRowAvx512Lazy(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    return MultiplyRowAvx512Form<true, false>(limbs, count, a, carry);
}
