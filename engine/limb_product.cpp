#include "engine/limb_product.h"

#include <cstring>

#include "engine/decimal_accumulator.h"
#include "engine/work_memory.h"

namespace {

// Column sums of a schoolbook product: up to 2^20 products below 10^36
// each, plus a carry below 2^83, held in three words.
struct Wide {
    uint64_t low, mid, high;
};

inline void AddProduct(Wide* s, uint64_t x, uint64_t y) {
    const unsigned __int128 p = static_cast<unsigned __int128>(x) * y;
    const unsigned __int128 low = (static_cast<unsigned __int128>(s->mid) << 64 | s->low) + p;
    s->high += low < p;
    s->low = static_cast<uint64_t>(low);
    s->mid = static_cast<uint64_t>(low >> 64);
}

// s = q * 10^18 + r: returns r, leaves q in s. s->high < 10^18, so each
// division's quotient fits its word.
inline uint64_t DivideByBase(Wide* s) {
    const unsigned __int128 top = static_cast<unsigned __int128>(s->high) << 64 | s->mid;
    const uint64_t q1 = static_cast<uint64_t>(top / kLimbBase);
    const uint64_t r1 = static_cast<uint64_t>(top % kLimbBase);
    const unsigned __int128 rest = static_cast<unsigned __int128>(r1) << 64 | s->low;
    const uint64_t q0 = static_cast<uint64_t>(rest / kLimbBase);
    const uint64_t r0 = static_cast<uint64_t>(rest % kLimbBase);
    *s = {q0, q1, 0};
    return r0;
}

// r[0 .. na + nb) = a * b, column by column; r overlaps neither.
void Schoolbook(uint64_t* r, const uint64_t* a, uint64_t na, const uint64_t* b, uint64_t nb) {
    Wide s = {0, 0, 0};
    for (uint64_t k = 0; k + 1 < na + nb; ++k) {
        const uint64_t from = k >= nb ? k - nb + 1 : 0, to = k < na ? k : na - 1;
        for (uint64_t i = from; i <= to; ++i) AddProduct(&s, a[i], b[k - i]);
        r[k] = DivideByBase(&s);
    }
    r[na + nb - 1] = s.low;  // the last carry is below 10^18
}

}  // namespace

void MultiplyLimbs(uint64_t* r, const uint64_t* a, uint64_t na, const uint64_t* b, uint64_t nb) {
    uint64_t* const t = WorkTake(na + nb);
    Schoolbook(t, a, na, b, nb);
    std::memcpy(r, t, (na + nb) * 8);
    WorkGive(t);
}

void SquareLimbs(uint64_t* r, const uint64_t* a, uint64_t na) { MultiplyLimbs(r, a, na, a, na); }

uint64_t ProductWorkBytes(uint64_t resultLimbs) { return WorkWords(resultLimbs) * 8; }

void PrepareProducts(uint64_t) {}
