#include "engine/limb_product.h"

#include <cstring>
#include <initializer_list>

#include "engine/decimal_accumulator.h"
#include "engine/ntt_kernels.h"
#include "engine/ntt_scalar.h"
#include "engine/product_dispatch.h"
#include "engine/work_memory.h"
#include "engine/work_team.h"

namespace {

// The most limbs a schoolbook product's smaller operand may have: above
// every engine's threshold.
constexpr uint64_t kSchoolbookLimbs = 256;

// ---------------------------------------------------------------------------
// Schoolbook.

// Column sums: up to 2^23 products below 10^36 each, plus a carry below
// 2^84, held in three words.
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

// 128-by-64 division by 10^18; the quotient fits because high < 10^18.
inline uint64_t DivideWords(uint64_t high, uint64_t low, uint64_t* remainder) {
#if defined(__x86_64__)
    uint64_t quotient, rem;
    __asm__("divq %4" : "=a"(quotient), "=d"(rem) : "a"(low), "d"(high), "r"(kLimbBase));
    *remainder = rem;
    return quotient;
#else
    const unsigned __int128 v = static_cast<unsigned __int128>(high) << 64 | low;
    *remainder = static_cast<uint64_t>(v % kLimbBase);
    return static_cast<uint64_t>(v / kLimbBase);
#endif
}

// Leaves s / 10^18 in s and returns s mod 10^18.
inline uint64_t TakeLimb(Wide* s) {
    uint64_t r1, r0;
    const uint64_t q1 = DivideWords(s->high, s->mid, &r1);
    const uint64_t q0 = DivideWords(r1, s->low, &r0);
    *s = {q0, q1, 0};
    return r0;
}

// r = a * b column by column, for nb <= kSchoolbookLimbs; r may be a or b:
// the limbs of a that later columns still need are kept in a ring, b whole.
void Schoolbook(uint64_t* r, const uint64_t* a, uint64_t na, const uint64_t* b, uint64_t nb) {
    uint64_t ring[kSchoolbookLimbs], copy[kSchoolbookLimbs];
    if (r == b) b = static_cast<const uint64_t*>(std::memcpy(copy, b, nb * 8));
    Wide s = {0, 0, 0};
    for (uint64_t k = 0; k + 1 < na + nb; ++k) {
        if (k < na) ring[k % nb] = a[k];
        const uint64_t from = k >= nb ? k - nb + 1 : 0, to = k < na ? k : na - 1;
        for (uint64_t i = from; i <= to; ++i) AddProduct(&s, ring[i % nb], b[k - i]);
        r[k] = TakeLimb(&s);
    }
    r[na + nb - 1] = s.low;  // the last carry is below 10^18
}

// ---------------------------------------------------------------------------
// Transforms.

struct Prepared {
    uint64_t half = 0;  // the tables serve transforms up to 2 * half points
    NttTable tables[kNttPrimeCount];
    uint64_t* w[kNttPrimeCount];  // the same tables, for building them
    uint64_t longestProduct = 0;  // longest chunk transform a product may take
};
Prepared prepared;

const NttKernels& Kernels() {
    switch (ActiveProductEngine()) {
        case kProductIfma:
            return kNttIfma;
        case kProductAvx2:
            return kNttAvx2;
        default:
            return kNttPortable;
    }
}

uint64_t PowerOfTwoAtLeast(uint64_t n) {
    uint64_t l = 1;
    while (l < n) l *= 2;
    return l;
}

// Every part of a run starts on a multiple of this many elements (of
// butterflies, in a transform's level): a whole number of vectors for every
// engine, and of cache lines.
constexpr uint64_t kGrain = 8;

// The parts a run over `count` elements is cut into on `threads` threads: a
// few a thread, so that a late helper leaves little for the others to wait on.
unsigned RangeParts(uint64_t count, unsigned threads) {
    if (threads < 2 || count < 16384) return 1;
    return 4 * threads;
}

// Where range `part` of `parts` over `count` elements starts.
uint64_t RangeFrom(uint64_t count, unsigned parts, unsigned part) {
    return part == parts ? count : count * part / parts / kGrain * kGrain;
}

// The transforms of one product, for the prime arrays x[k] of `length`.
struct TransformSet {
    const NttKernels* kernels;
    uint64_t* x[kNttPrimeCount];
    uint64_t length;
    unsigned threads;     // of the team that runs it: 1, the calling thread alone
    unsigned depth;       // levels done by ranges before the blocks go to the parts
    unsigned levelParts;  // parts of a range-cut level, all primes together
};

// Below this length a product's transforms stay on the calling thread: its
// arrays fit in that processor's cache, and another thread would have to
// fetch them from there first (measured: on two threads the swing's tree, a
// cascade of such products, took half as long again as on one).
constexpr uint64_t kTeamLength = 8192;

// Runs the parts of one of s's stages on its team.
void SetRun(const TransformSet& s, unsigned parts, void (*body)(void*, unsigned), void* context) {
    if (s.threads < 2) {
        for (unsigned part = 0; part < parts; ++part) body(context, part);
        return;
    }
    TeamRun(parts, body, context);
}

// How many top levels a set's transforms do by ranges: enough blocks below
// them that every thread has one and the busiest does at most a quarter more
// than the average (each top level is one more pass over the whole array).
unsigned SplitDepth(uint64_t length, uint64_t threads) {
    auto balanced = [threads](uint64_t blocks) {
        const uint64_t rounds = (blocks + threads - 1) / threads;
        return blocks >= threads && 4 * rounds * threads <= 5 * blocks;
    };
    unsigned depth = 0;
    while (threads > 1 && !balanced(kNttPrimeCount << depth) && (length >> depth) > 4096) {
        ++depth;
    }
    return depth;
}

// Parts of a top level: a whole number a thread, up to four, each of at
// least 2048 butterflies.
unsigned LevelParts(uint64_t length, uint64_t threads) {
    const uint64_t each = kNttPrimeCount * (length / 2) / threads / 2048;
    return static_cast<unsigned>(threads * (each < 1 ? 1 : each > 4 ? 4 : each));
}

// A top level of every prime's transform, the forward's or the inverse's:
// its butterflies, prime by prime and block by block, cut into equal parts
// of whole grains, so that every thread gets the same share whatever the
// team's size. A part may span blocks and primes.
void RunTopLevel(TransformSet& s, unsigned level, bool inverse) {
    struct Run {
        TransformSet* s;
        unsigned level;
        bool inverse;
    } run = {&s, level, inverse};
    SetRun(
        s, s.levelParts,
        [](void* c, unsigned part) {
            const Run& r = *static_cast<Run*>(c);
            const uint64_t size = r.s->length >> r.level, half = size / 2;
            const uint64_t all = kNttPrimeCount * (r.s->length / 2);
            const auto kernel = r.inverse ? r.s->kernels->inverseLevel : r.s->kernels->forwardLevel;
            const uint64_t to = RangeFrom(all, r.s->levelParts, part + 1);
            for (uint64_t i = RangeFrom(all, r.s->levelParts, part); i < to;) {
                const uint64_t which = i / half, j = i % half;
                const uint64_t end = j + (to - i) < half ? j + (to - i) : half;
                const unsigned prime = static_cast<unsigned>(which >> r.level);
                const uint64_t block = which & ((uint64_t{1} << r.level) - 1);
                kernel(r.s->x[prime] + block * size, size, block, j, end, prepared.tables[prime],
                       prime);
                i += end - j;
            }
        },
        &run);
}

// The blocks below the top levels, whole, the forward's or the inverse's.
void RunBlocks(TransformSet& s, bool inverse) {
    struct Run {
        TransformSet* s;
        bool inverse;
    } run = {&s, inverse};
    SetRun(
        s, kNttPrimeCount << s.depth,
        [](void* c, unsigned part) {
            const Run& r = *static_cast<Run*>(c);
            const unsigned prime = part % kNttPrimeCount, block = part / kNttPrimeCount;
            const uint64_t size = r.s->length >> r.s->depth;
            const auto transform = r.inverse ? r.s->kernels->inverse : r.s->kernels->forward;
            transform(r.s->x[prime] + block * size, size, block, prepared.tables[prime], prime);
        },
        &run);
}

// Loads a[0 .. n) into every prime's array, zero up to the set's length.
void LoadAll(TransformSet& s, const uint64_t* a, uint64_t n) {
    struct Run {
        TransformSet* s;
        const uint64_t* a;
        uint64_t n;
        unsigned ranges;
    } run = {&s, a, n, RangeParts(s.length, s.threads)};
    SetRun(
        s, kNttPrimeCount * run.ranges,
        [](void* c, unsigned part) {
            const Run& r = *static_cast<Run*>(c);
            const unsigned prime = part % kNttPrimeCount, range = part / kNttPrimeCount;
            const uint64_t from = RangeFrom(r.s->length, r.ranges, range);
            const uint64_t to = RangeFrom(r.s->length, r.ranges, range + 1);
            const uint64_t loaded = r.n < from ? 0 : (r.n < to ? r.n : to) - from;
            r.s->kernels->load(r.s->x[prime] + from, r.a + from, loaded, to - from, prime);
        },
        &run);
}

void Forward(TransformSet& s) {
    for (unsigned level = 0; level < s.depth; ++level) RunTopLevel(s, level, false);
    RunBlocks(s, false);
}

void Inverse(TransformSet& s) {
    RunBlocks(s, true);
    for (unsigned level = s.depth; level-- > 0;) RunTopLevel(s, level, true);
}

// x[k] = x[k] y[k] R^-1 for every prime, or x[k]^2 R^-1 with y null.
void PointwiseAll(TransformSet& s, uint64_t* const* y) {
    struct Run {
        TransformSet* s;
        uint64_t* const* y;
        unsigned ranges;
    } run = {&s, y, RangeParts(s.length, s.threads)};
    SetRun(
        s, kNttPrimeCount * run.ranges,
        [](void* c, unsigned part) {
            const Run& r = *static_cast<Run*>(c);
            const unsigned prime = part % kNttPrimeCount, range = part / kNttPrimeCount;
            const uint64_t from = RangeFrom(r.s->length, r.ranges, range);
            const uint64_t to = RangeFrom(r.s->length, r.ranges, range + 1);
            r.s->kernels->pointwise(r.s->x[prime] + from, r.y ? r.y[prime] + from : nullptr,
                                    to - from, prime);
        },
        &run);
}

// Turns the residues of coefficients [0, count) into their digits.
void CrtAll(TransformSet& s, uint64_t count) {
    struct Run {
        TransformSet* s;
        uint64_t count;
        unsigned ranges;
        uint64_t scale[kNttPrimeCount], scaleShoup[kNttPrimeCount];
    } run = {&s, count, RangeParts(count, s.threads), {}, {}};
    // The pointwise products left a factor R^-1, the inverse transform one of
    // its length: scale by R / length, a power of two, by doublings and
    // halvings (p is odd: an odd x halves as (x + p) / 2).
    const int shift = static_cast<int>(s.kernels->montgomeryLog) - __builtin_ctzll(s.length);
    for (unsigned k = 0; k < kNttPrimeCount; ++k) {
        const uint64_t p = kNttPrimes[k];
        uint64_t x = 1;
        for (int i = 0; i < shift; ++i) x = Below(2 * x, p);
        for (int i = 0; i > shift; --i) x = (x & 1 ? x + p : x) / 2;
        run.scale[k] = x;
        run.scaleShoup[k] = NttShoup(x, p);
    }
    SetRun(
        s, run.ranges,
        [](void* c, unsigned part) {
            const Run& r = *static_cast<Run*>(c);
            const uint64_t from = RangeFrom(r.count, r.ranges, part);
            const uint64_t to = RangeFrom(r.count, r.ranges, part + 1);
            r.s->kernels->crt(r.s->x[0], r.s->x[1], r.s->x[2], from, to, r.scale, r.scaleShoup);
        },
        &run);
}

// Limb i of the number the digits of coefficients [0, count) make, plus the
// incoming carry (at most 3); leaves the outgoing one in *carry.
inline uint64_t LimbOfDigits(const TransformSet& s, uint64_t count, uint64_t i, uint64_t* carry) {
    uint64_t v = *carry;
    if (i < count) v += s.x[0][i];
    if (i >= 1 && i - 1 < count) v += s.x[1][i - 1];
    if (i >= 2 && i - 2 < count) v += s.x[2][i - 2];
    const uint64_t c = (v >= kLimbBase) + (v >= 2 * kLimbBase) + (v >= 3 * kLimbBase);
    *carry = c;
    return v - c * kLimbBase;
}

// r[0 .. limbs) = the number the digits of coefficients [0, count) make,
// set over r[0 .. set) and added to r[set .. limbs); the carry runs on
// through r above as far as it goes. Ranges of limbs go to the team, each
// from a carry of 0; their carries (below 5) are added afterwards in order.
void PlaceDigits(const TransformSet& s, uint64_t count, uint64_t* r, uint64_t set, uint64_t limbs) {
    constexpr unsigned kMostRanges = 64;
    struct Run {
        const TransformSet* s;
        uint64_t count, set, limbs;
        uint64_t* r;
        unsigned ranges;
        uint64_t carries[kMostRanges];
    } run = {&s, count, set, limbs, r, RangeParts(limbs, s.threads), {}};
    if (run.ranges > kMostRanges) run.ranges = kMostRanges;
    SetRun(
        s, run.ranges,
        [](void* c, unsigned part) {
            Run& u = *static_cast<Run*>(c);
            const uint64_t from = RangeFrom(u.limbs, u.ranges, part);
            const uint64_t to = RangeFrom(u.limbs, u.ranges, part + 1);
            uint64_t carry = 0;
            // Limb i from the digits, set or added.
            auto place = [&u, &carry](uint64_t i) {
                const uint64_t v = LimbOfDigits(*u.s, u.count, i, &carry);
                if (i < u.set) {
                    u.r[i] = v;
                    return;
                }
                const uint64_t sum = u.r[i] + v;
                carry += sum >= kLimbBase;
                u.r[i] = sum >= kLimbBase ? sum - kLimbBase : sum;
            };
            uint64_t i = from;
            for (; i < to && i < 2; ++i) place(i);
            // Where all three digits are there and the limbs are set, without the
            // tests at the ends.
            uint64_t inner = u.count < u.set ? u.count : u.set;
            if (inner > to) inner = to;
            const uint64_t *x0 = u.s->x[0], *x1 = u.s->x[1], *x2 = u.s->x[2];
            for (; i < inner; ++i) {
                const uint64_t v = carry + x0[i] + x1[i - 1] + x2[i - 2];
                carry = (v >= kLimbBase) + (v >= 2 * kLimbBase) + (v >= 3 * kLimbBase);
                u.r[i] = v - carry * kLimbBase;
            }
            for (; i < to; ++i) place(i);
            u.carries[part] = carry;
        },
        &run);
    for (unsigned part = 0; part < run.ranges; ++part) {
        uint64_t carry = run.carries[part];
        for (uint64_t i = RangeFrom(limbs, run.ranges, part + 1); carry != 0; ++i) {
            const uint64_t sum = r[i] + carry;
            carry = sum >= kLimbBase;
            r[i] = carry ? sum - kLimbBase : sum;
        }
    }
}

TransformSet TakeSet(uint64_t length, uint64_t words) {
    TransformSet s;
    s.kernels = &Kernels();
    s.length = length;
    s.threads = length < kTeamLength ? 1 : TeamSize();
    s.depth = SplitDepth(length, s.threads);
    s.levelParts = LevelParts(length, s.threads);
    for (auto& x : s.x) x = WorkTake(words);
    return s;
}

void CheckTables(uint64_t length) {
    if (length > 2 * prepared.half) __builtin_trap();  // the job prepared less than it asks
}

// A square of `count` coefficients goes on one transform of a power of two
// just below count, when count exceeds it by at most a quarter of it: the
// coefficients at and above the length wrap round onto the lowest ones, and
// a square of the top limbs alone, at most half the size, gives them to take
// off again. Shorter squares always take the full length.
constexpr uint64_t kShortestWrap = 4096;

struct SquarePlan {
    uint64_t length;  // of the main transform
    uint64_t top;     // coefficients that wrap round (0: none)
};

SquarePlan PlanSquare(uint64_t count) {
    const uint64_t full = PowerOfTwoAtLeast(count < 16 ? 16 : count);
    if (count > kShortestWrap && count - full / 2 <= full / 8) {
        return {full / 2, count - full / 2};
    }
    return {full, 0};
}

// Words a residue square of n limbs takes, its corrections included.
uint64_t ResidueSquareWords(uint64_t n) {
    const uint64_t count = 2 * n - 1;
    const SquarePlan plan = PlanSquare(count);
    const uint64_t own = kNttPrimeCount * WorkWords(plan.length > count ? plan.length : count);
    return own + (plan.top ? ResidueSquareWords(plan.top) : 0);
}

// The wrap-around of a square of s's length whose top `top` coefficients wrap
// round. First (c set) their residues, coefficients [top - 1, 2 top - 1) of
// c, the square of the top limbs alone, go to s above its length, brought to
// s's scale; then (c null, after s's inverse) they are taken off the
// coefficients they wrapped onto.
void CorrectWrap(TransformSet& s, const TransformSet* c, uint64_t top, bool place) {
    struct Run {
        TransformSet* s;
        const TransformSet* c;
        uint64_t top;
        bool place;
        unsigned ranges;
    } run = {&s, c, top, place, RangeParts(top, s.threads)};
    SetRun(
        s, kNttPrimeCount * run.ranges,
        [](void* context, unsigned part) {
            const Run& u = *static_cast<Run*>(context);
            const unsigned k = part % kNttPrimeCount, range = part / kNttPrimeCount;
            const uint64_t from = RangeFrom(u.top, u.ranges, range);
            const uint64_t to = RangeFrom(u.top, u.ranges, range + 1);
            const uint64_t p = kNttPrimes[k], length = u.s->length;
            uint64_t* x = u.s->x[k];
            if (u.place) {
                const uint64_t f = length / u.c->length % p, fs = NttShoup(f, p);
                const uint64_t* y = u.c->x[k] + u.top - 1;
                for (uint64_t i = from; i < to; ++i) x[length + i] = ShoupMul(y[i], f, fs, p);
            } else {
                // Both below 2p: the inverse's output, and a Shoup product.
                for (uint64_t i = from; i < to; ++i)
                    x[i] = Below(x[i] + 2 * p - x[length + i], 2 * p);
            }
        },
        &run);
}

// The residues of the coefficients [0, 2 n - 1) of a^2, times length R^-1,
// in a set taken here (the caller gives it back) of that length.
TransformSet ResidueSquare(const uint64_t* a, uint64_t n) {
    const uint64_t count = 2 * n - 1;
    const SquarePlan plan = PlanSquare(count);
    CheckTables(plan.length);
    TransformSet s = TakeSet(plan.length, plan.length > count ? plan.length : count);
    if (plan.top != 0) {
        // c[length + i] for i < top: coefficients [top - 1, 2 top - 1) of the
        // square of a's top `top` limbs, brought to this set's scale.
        const uint64_t t = plan.top;
        TransformSet c = ResidueSquare(a + n - t, t);
        CorrectWrap(s, &c, t, true);
        WorkGive(c.x[0]);
    }
    LoadAll(s, a, n);
    Forward(s);
    PointwiseAll(s, nullptr);
    Inverse(s);
    if (plan.top != 0) CorrectWrap(s, nullptr, plan.top, false);
    return s;
}

void TransformSquare(uint64_t* r, const uint64_t* a, uint64_t na) {
    const uint64_t count = 2 * na - 1;
    TransformSet s = ResidueSquare(a, na);
    CrtAll(s, count);
    PlaceDigits(s, count, r, 2 * na, 2 * na);
    WorkGive(s.x[0]);
}

// r = a * b, nb <= na: b's transform once, a's chunks against it, from the
// top down so that r may be a. Each chunk's product is set over the chunk's
// own limbs and added above them, over what the chunks above have made.
void TransformProduct(uint64_t* r, const uint64_t* a, uint64_t na, const uint64_t* b, uint64_t nb,
                      uint64_t length) {
    CheckTables(length);
    const uint64_t chunk = length - nb + 1;
    TransformSet bs = TakeSet(length, length);
    LoadAll(bs, b, nb);
    Forward(bs);
    TransformSet s = TakeSet(length, length);
    uint64_t from = (na - 1) / chunk * chunk;
    for (bool top = true;; top = false) {
        const uint64_t n = na - from < chunk ? na - from : chunk;
        const uint64_t count = n + nb - 1;
        LoadAll(s, a + from, n);
        Forward(s);
        PointwiseAll(s, bs.x);
        Inverse(s);
        CrtAll(s, count);
        PlaceDigits(s, count, r + from, top ? n + nb : n, n + nb);
        if (from == 0) break;
        from -= chunk;
    }
    WorkGive(bs.x[0]);
}

// Products take chunk transforms of at most this length for results of up
// to `resultLimbs`: enough for a smaller operand of an eighth of that.
uint64_t LongestProductLength(uint64_t resultLimbs) {
    return PowerOfTwoAtLeast(resultLimbs / 4 < 16 ? 16 : resultLimbs / 4);
}

// The cheapest transform length for a * b (nb <= na) within what was
// prepared: one transform of both, or chunks of a against b's transform.
uint64_t ProductLength(uint64_t na, uint64_t nb) {
    uint64_t best = 0, bestCost = ~uint64_t{0};
    for (uint64_t length = PowerOfTwoAtLeast(nb + 1 < 16 ? 16 : nb + 1);
         length <= prepared.longestProduct; length *= 2) {
        const uint64_t chunks = (na + length - nb) / (length - nb + 1);
        const uint64_t cost = (2 * chunks + 1) * length * (64 - __builtin_clzll(length));
        if (cost < bestCost) best = length, bestCost = cost;
        if (chunks == 1) break;
    }
    return best;
}

// The most words a residue square of at most n limbs takes. Within each of
// its plans the words grow with n, so the most is at n or at the end of a
// plan below it: the largest square a length takes whole, or with a wrap.
uint64_t SquareWordsUpTo(uint64_t n) {
    uint64_t most = ResidueSquareWords(n < 1 ? 1 : n);
    for (uint64_t length = 16; (length + 1) / 2 <= n; length *= 2) {
        for (const uint64_t end : {(length + 1) / 2, (length + length / 4 + 1) / 2}) {
            if (end >= 1 && end <= n && ResidueSquareWords(end) > most) {
                most = ResidueSquareWords(end);
            }
        }
    }
    return most;
}

// The main transform length a square of results up to `resultLimbs` takes.
uint64_t LongestSquareLength(uint64_t resultLimbs) {
    return PlanSquare(resultLimbs < 2 ? 1 : resultLimbs - 1).length;
}

}  // namespace

void MultiplyLimbs(uint64_t* r, const uint64_t* a, uint64_t na, const uint64_t* b, uint64_t nb) {
    if (na < nb) {
        const uint64_t* t = a;
        a = b, b = t;
        const uint64_t n = na;
        na = nb, nb = n;
    }
    if (nb < Kernels().schoolbookLimbs) {
        Schoolbook(r, a, na, b, nb);
        return;
    }
    const uint64_t length = ProductLength(na, nb);
    if (length == 0) __builtin_trap();  // beyond what the work memory was sized for
    TransformProduct(r, a, na, b, nb, length);
}

// Two sets of the chunk length, which is at most the power of two at or above
// na + nb - 1 (ProductLength stops there).
uint64_t ProductWorkWords(uint64_t limbs) {
    return 2 * kNttPrimeCount * WorkWords(PowerOfTwoAtLeast(limbs < 16 ? 16 : limbs));
}

void SquareLimbs(uint64_t* r, const uint64_t* a, uint64_t na) {
    if (na < Kernels().schoolbookLimbs) {
        Schoolbook(r, a, na, a, na);
        return;
    }
    TransformSquare(r, a, na);
}

uint64_t ProductWorkBytes(uint64_t squareLimbs, uint64_t productLimbs) {
    const uint64_t product = LongestProductLength(productLimbs);
    uint64_t longest = LongestSquareLength(squareLimbs);
    if (longest < product) longest = product;
    const uint64_t tables = kNttPrimeCount * WorkWords(longest / 2);
    uint64_t work = SquareWordsUpTo(squareLimbs / 2);
    if (work < 2 * kNttPrimeCount * WorkWords(product)) {
        work = 2 * kNttPrimeCount * WorkWords(product);
    }
    return (tables + work) * 8;
}

void PrepareProducts(uint64_t squareLimbs, uint64_t productLimbs) {
    prepared.longestProduct = LongestProductLength(productLimbs);
    uint64_t longest = LongestSquareLength(squareLimbs);
    if (longest < prepared.longestProduct) longest = prepared.longestProduct;
    prepared.half = longest / 2;
    for (unsigned k = 0; k < kNttPrimeCount; ++k) {
        prepared.w[k] = WorkTake(prepared.half);
        prepared.tables[k] = {prepared.w[k]};
    }
    // The small octaves a prime to a part, the large ones in ranges.
    constexpr uint64_t kWhole = 4096;
    uint64_t start = prepared.half < kWhole ? prepared.half : kWhole;
    TeamRun(
        kNttPrimeCount,
        [](void* c, unsigned k) {
            NttBuildTableStart(Kernels(), k, prepared.half, prepared.w[k],
                               *static_cast<uint64_t*>(c));
        },
        &start);
    for (uint64_t octave = start; octave < prepared.half; octave *= 2) {
        struct Run {
            uint64_t octave;
            unsigned ranges;
        } run = {octave, RangeParts(octave, TeamSize())};
        TeamRun(
            kNttPrimeCount * run.ranges,
            [](void* c, unsigned part) {
                const Run& u = *static_cast<Run*>(c);
                const unsigned k = part % kNttPrimeCount, range = part / kNttPrimeCount;
                Kernels().buildOctave(k, prepared.half, prepared.w[k], u.octave,
                                      RangeFrom(u.octave, u.ranges, range),
                                      RangeFrom(u.octave, u.ranges, range + 1));
            },
            &run);
    }
}
