#include "engine/decimal_accumulator.h"
#include "engine/multiply_row.h"

namespace {

// 128-by-64 division by 10^18 as the processor does it. The quotient fits in
// 64 bits because the high word is below 10^18.
inline uint64_t DivideByBase(uint64_t high, uint64_t low, uint64_t* remainder) {
#if defined(__x86_64__)
    uint64_t quotient;
    uint64_t rem;
    __asm__("divq %4" : "=a"(quotient), "=d"(rem) : "a"(low), "d"(high), "r"(kLimbBase));
    *remainder = rem;
    return quotient;
#else
    const unsigned __int128 sum = (static_cast<unsigned __int128>(high) << 64) | low;
    *remainder = static_cast<uint64_t>(sum % kLimbBase);
    return static_cast<uint64_t>(sum / kLimbBase);
#endif
}

}  // namespace

int MultiplyRowPlain(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    uint64_t c = 0;
    for (uint64_t i = 0; i < count; ++i) {
        unsigned __int128 sum = static_cast<unsigned __int128>(limbs[i]) * a;
        const unsigned __int128 before = sum;
        sum += c;
        if (sum < before) {
            *carry = c;
            return kAccOverflow;
        }
        c = DivideByBase(static_cast<uint64_t>(sum >> 64), static_cast<uint64_t>(sum), &limbs[i]);
    }
    *carry = c;
    return kAccOk;
}
