#include "engine/factorial_steps.h"

#include <cstring>

#include "engine/decimal_accumulator.h"
#include "engine/limb_product.h"
#include "engine/size_estimates.h"
#include "engine/work_memory.h"
#include "engine/work_team.h"

namespace {

// Words a leaf of the swing's tree multiplies one by one. Anything from 16 to
// 96 takes the same time: the tree's cost is in its transforms.
constexpr uint64_t kLeafWords = 16;

// Bit i set: 2i + 1 is not a prime. Up to the n prepared for.
uint64_t* sieve;

uint64_t SieveWords(uint64_t n) { return (n + 1) / 2 / 64 + 1; }

// From this n on, the sieve goes to the team: at 10^6 it took 0.75 ms on one
// thread, 0.45 ms on two.
constexpr uint64_t kTeamSieve = 250000;

// Every odd composite up to n has an odd prime factor at most its square
// root: those primes (167 up to 10^6) are found first, then each part marks
// their multiples in a range of words of its own.
void Sieve(uint64_t n) {
    struct Run {
        uint64_t n, words;
        unsigned parts, count;
        uint64_t primes[168];
    } run = {n, SieveWords(n), 1, 0, {}};
    for (uint64_t p = 3; p * p <= n; p += 2) {
        unsigned i = 0;
        while (i < run.count && run.primes[i] * run.primes[i] <= p && p % run.primes[i] != 0) ++i;
        if (i < run.count && p % run.primes[i] == 0) continue;
        if (run.count == 168) __builtin_trap();  // n beyond 10^6
        run.primes[run.count++] = p;
    }
    if (TeamSize() > 1 && n >= kTeamSieve) run.parts = 4 * TeamSize();
    TeamRun(
        run.parts,
        [](void* c, unsigned part) {
            const Run& u = *static_cast<Run*>(c);
            const uint64_t from = u.words * part / u.parts, to = u.words * (part + 1) / u.parts;
            std::memset(sieve + from, 0, (to - from) * 8);
            if (from == 0) sieve[0] = 1;  // 1
            const uint64_t end =
                to * 128 < u.n + 1 ? to * 128 : u.n + 1;  // numbers [128 from, end)
            for (unsigned i = 0; i < u.count; ++i) {
                const uint64_t p = u.primes[i], first = (from * 128 + p - 1) / p * p;
                uint64_t m = first > p * p ? first : p * p;
                if (m % 2 == 0) m += p;
                for (; m < end; m += 2 * p) sieve[m / 128] |= 1ULL << (m / 2 % 64);
            }
        },
        &run);
}

// Calls put(p) for every odd prime lo < p <= hi, in increasing order.
template <typename Put>
void ForEachOddPrime(uint64_t lo, uint64_t hi, Put put) {
    const uint64_t begin = (lo + 1) / 2, end = (hi + 1) / 2;  // bit indices of the odd numbers
    for (uint64_t i = begin; i < end;) {
        uint64_t primes = ~sieve[i / 64] >> (i % 64);
        const uint64_t span = end - i < 64 - i % 64 ? end - i : 64 - i % 64;
        if (span < 64) primes &= (1ULL << span) - 1;
        for (; primes != 0; primes &= primes - 1) put(2 * (i + __builtin_ctzll(primes)) + 1);
        i += span;
    }
}

// Every word but the last closes above 10^18 / k > 2^(59 - b), b the bit
// length of k, and together they stay below swing(k) < k 2^k < 2^(k + b).
uint64_t SwingWordsBound(uint64_t k) {
    const uint64_t b = k == 0 ? 0 : 64 - __builtin_clzll(k);
    return (k + b) / (59 - b) + 1;
}

uint64_t SquareRoot(uint64_t k) {
    uint64_t r = 0;
    while ((r + 1) * (r + 1) <= k) ++r;  // once a step, up to 1,000
    return r;
}

// The prime powers of swing(k), packed greedily into words below 10^18;
// returns their number (at most SwingWordsBound(k)).
uint64_t PackSwing(uint64_t k, uint64_t* words) {
    uint64_t count = 0, current = 1;
    auto put = [&](uint64_t factor) {
        if (static_cast<unsigned __int128>(current) * factor >= kLimbBase) {
            words[count++] = current;
            current = factor;
        } else {
            current *= factor;
        }
    };
    // For 2, floor(k / 2^i) mod 2 is bit i of k.
    if (k >= 2) put(1ULL << __builtin_popcountll(k >> 1));
    const uint64_t root = SquareRoot(k);
    ForEachOddPrime(2, root, [&](uint64_t p) {
        uint64_t power = 1;
        for (uint64_t q = k / p; q != 0; q /= p) power *= q & 1 ? p : 1;
        if (power > 1) put(power);
    });
    // Above the root only floor(k / p) itself counts: the primes of the
    // ranges where it is odd, (k / (q + 1), k / q] for odd q.
    for (uint64_t q = 1; k / q > root; q += 2) {
        const uint64_t lo = k / (q + 1);
        ForEachOddPrime(lo > root ? lo : root, k / q, put);
    }
    words[count++] = current;
    return count;
}

// The product of L limbs at left and R limbs at right, which starts above
// the words the left ones came from, into left; returns its limbs, the top
// one non-zero. It may overwrite the right operand: that goes in from a copy.
uint64_t MergeProducts(uint64_t* left, uint64_t L, const uint64_t* right, uint64_t R) {
    uint64_t* const copy = WorkTake(R);
    std::memcpy(copy, right, R * 8);
    MultiplyLimbs(left, left, L, copy, R);
    WorkGive(copy);
    return left[L + R - 1] == 0 ? L + R - 1 : L + R;
}

// The product of words[0 .. count), each below 10^18, in words[0 .. len);
// returns len, the top limb non-zero. A leaf by word multiplications in
// place (the product of j words has at most j limbs, so it never reaches a
// word not yet read); above, two halves and one product.
uint64_t WordProduct(uint64_t* words, uint64_t count) {
    uint64_t len = 1;
    if (count <= kLeafWords) {
        for (uint64_t j = 1; j < count; ++j) {
            const uint64_t carry = ScaleLimbs(words, len, words[j]);
            if (carry != 0) words[len++] = carry;
        }
        return len;
    }
    const uint64_t half = count / 2;
    const uint64_t left = WordProduct(words, half);
    const uint64_t right = WordProduct(words + half, count - half);
    return MergeProducts(words, left, words + half, right);
}

// The work memory a product of at most `count` words takes by WordProduct or
// MergeProducts: a copy of its right half and the product of the halves.
uint64_t TreeWords(uint64_t count) { return WorkWords(count) + ProductWorkWords(count); }

// From this many words on, the tree goes to the team. Measured on two
// threads: 1,337 words (65,000) 0.27 ms as one, 0.20 ms on the team; 17,663
// words (1,000,000) 7.0 ms on one thread, 4.0 ms on the team.
constexpr uint64_t kTeamTreeWords = 1024;
constexpr unsigned kMostTreeGroups = 128;

// WordProduct on the team. The words are cut into groups, a power of two and
// two a thread or more. Each group's product is a part, and so is each
// product that merges two neighbours, level by level, while a level has as
// many of those as the team has threads; each such part takes its memory from
// a share of its own when the work memory has room for all of them at once.
// The merges above that run one by one, each on the whole team.
uint64_t TeamWordProduct(uint64_t* words, uint64_t count) {
    const unsigned threads = TeamSize();
    if (threads < 2 || count < kTeamTreeWords) return WordProduct(words, count);
    struct Run {
        uint64_t* words;
        uint64_t count;
        unsigned groups;
        unsigned width;  // groups each side of a merge; 0: the groups themselves
        uint64_t* shares;
        uint64_t shareWords;
        uint64_t limbs[kMostTreeGroups];  // of each merged group's product, at its first word
        uint64_t* At(unsigned group) const { return words + count * group / groups; }
        // Part `part` of the level; its product covers 2 width groups.
        void Merge(unsigned part) {
            if (width == 0) {
                limbs[part] = WordProduct(At(part), static_cast<uint64_t>(At(part + 1) - At(part)));
                return;
            }
            const unsigned g = 2 * width * part, h = g + width;
            limbs[g] = MergeProducts(At(g), limbs[g], At(h), limbs[h]);
        }
    } run = {words, count, 2, 0, nullptr, 0, {}};
    while (run.groups < 2 * threads && run.groups < kMostTreeGroups) run.groups *= 2;
    for (;; run.width = run.width == 0 ? 1 : 2 * run.width) {
        const unsigned span = run.width == 0 ? 1 : 2 * run.width;
        const unsigned parts = run.groups / span;
        run.shareWords = TreeWords(count * span / run.groups + 1);
        if (parts >= threads && WorkFreeWords() / parts >= run.shareWords) {
            run.shares = WorkTake(parts * run.shareWords);
            TeamRun(
                parts,
                [](void* c, unsigned part) {
                    Run& u = *static_cast<Run*>(c);
                    WorkUseShare(u.shares + part * u.shareWords, u.shareWords);
                    u.Merge(part);
                    WorkUseShare(nullptr, 0);
                },
                &run);
            WorkGive(run.shares);
        } else {
            for (unsigned part = 0; part < parts; ++part) run.Merge(part);
        }
        if (parts == 1) return run.limbs[0];
    }
}

// from! to to! by one multiplier at a time, grouped into words while the
// accumulator has room for the limb a word may add, singly after that, so
// that running out of room is found at the exact multiplier.
int WordSteps(uint64_t from, uint64_t to, uint64_t* reached) {
    for (uint64_t k = from + 1; k <= to;) {
        const uint64_t first = k;
        uint64_t word = k++;
        if (AccTopIndex() < AccMaxIndex()) {
            while (k <= to && word <= kLimbBase / k) word *= k++;
        }
        const int status = AccMultiply(word);
        if (status != kAccOk) {
            *reached = first;
            return status;
        }
    }
    *reached = to;
    return kAccOk;
}

// floor(to / 2)! to to!: the value squared in place and multiplied by
// swing(to), its zero limbs at the bottom skipped throughout.
int SwingStep(uint64_t to, uint64_t* reached) {
    uint64_t* const swing = WorkTake(SwingWordsBound(to));
    const uint64_t ns = TeamWordProduct(swing, PackSwing(to, swing));
    const uint64_t low = AccLowIndex(), nv = AccTopIndex() - low + 1;
    // The products' limbs, top zero ones included, must fit.
    if (2 * low + 2 * nv + ns > AccMaxIndex() + 1) {
        WorkGive(swing);
        return WordSteps(to / 2, to, reached);
    }
    uint64_t* const limbs = AccBase();
    uint64_t* const value = limbs + 2 * low;
    if (low != 0) {
        std::memmove(value, limbs + low, nv * 8);
        std::memset(limbs + low, 0, low * 8);
    }
    SquareLimbs(value, value, nv);
    uint64_t len = 2 * nv - (value[2 * nv - 1] == 0);
    MultiplyLimbs(value, value, len, swing, ns);
    len += ns;
    if (value[len - 1] == 0) --len;
    WorkGive(swing);
    AccSetExtent(2 * low, 2 * low + len - 1);
    *reached = to;
    return kAccOk;
}

uint64_t LimbsOfFactorial(uint64_t k) {
    return BytesForDigits(static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(k)))) / 8;
}

// The zero limbs at the bottom of k!: its trailing zeros are its fives.
uint64_t ZeroLimbsOfFactorial(uint64_t k) {
    uint64_t zeros = 0;
    for (uint64_t five = 5; five <= k; five *= 5) zeros += k / five;
    return zeros / 18;
}

// The most limbs a square and a product of the steps up to n! make. A swing
// step to k works on floor(k / 2)! without its zero limbs: its square has
// twice their limbs, and its product at most the limbs of k! without twice
// those, plus one. Each swing step skips them all; word steps may leave the
// last one. The swing's own tree stays within its words. Each factorial's
// limbs count one more than the estimate gives, so that an estimate one digit
// short still fits (at 10^6 the largest square is exactly the size it would
// be prepared for without); a block too small traps, never a wrong result.
constexpr uint64_t kDriftLimbs = 1;
struct ProductSizes {
    uint64_t square, product;
};
ProductSizes MostProductLimbs(uint64_t n) {
    ProductSizes most = {0, SwingWordsBound(n)};
    for (uint64_t k = n; k > kWordStepsLimit; k /= 2) {
        const uint64_t half = k / 2, zeros = ZeroLimbsOfFactorial(half);
        const uint64_t low = half > kWordStepsLimit || zeros == 0 ? zeros : zeros - 1;
        const uint64_t square = 2 * (LimbsOfFactorial(half) + kDriftLimbs - low);
        const uint64_t product = LimbsOfFactorial(k) + kDriftLimbs + 1 - 2 * low;
        if (square > most.square) most.square = square;
        if (product > most.product) most.product = product;
    }
    return most;
}

}  // namespace

unsigned FactorialCheckpoints(uint64_t n, uint64_t out[kMostCheckpoints]) {
    unsigned j = 0;
    while ((n >> (j + 1)) > kWordStepsLimit) ++j;
    unsigned count = 0;
    for (;; --j) {
        out[count++] = n >> j;
        if (j == 0) return count;
    }
}

uint64_t FactorialWorkBytes(uint64_t n) {
    const uint64_t w = SwingWordsBound(n);
    const ProductSizes most = MostProductLimbs(n);
    return ProductWorkBytes(most.square, most.product) +
           8 * (WorkWords(SieveWords(n)) + WorkWords(w) + WorkWords(w - w / 2));
}

void PrepareFactorialSteps(uint64_t n) {
    const ProductSizes most = MostProductLimbs(n);
    PrepareProducts(most.square, most.product);
    sieve = WorkTake(SieveWords(n));
    Sieve(n);
}

int AccFactorialStep(uint64_t from, uint64_t to, uint64_t* reached) {
    if (to <= kWordStepsLimit || from > to / 2) return WordSteps(from, to, reached);
    if (from < to / 2) {
        const int status = AccFactorialStep(from, to / 2, reached);
        if (status != kAccOk) return status;
    }
    return SwingStep(to, reached);
}
