// Scalar modular steps shared by the transform engines: the portable engine
// is made of them, the vector engine uses them for what its vectors do not
// cover. Internal linkage on purpose: each engine file is compiled with its
// own instruction set, and a shared inline definition could let the linker
// hand a baseline caller a vector copy. Bounds: see ntt_kernels.h.
#pragma once

#include <cstdint>

#include "engine/decimal_accumulator.h"
#include "engine/limb_division.h"
#include "engine/ntt_kernels.h"

namespace {

// x w mod p in [0, 2p), for x < 2^52, w < p, ws = floor(w 2^52 / p).
inline uint64_t ShoupMul(uint64_t x, uint64_t w, uint64_t ws, uint64_t p) {
    const uint64_t q = static_cast<uint64_t>((static_cast<unsigned __int128>(x) * ws) >> 52);
    return x * w - q * p;
}

inline uint64_t Below(uint64_t x, uint64_t bound) { return x >= bound ? x - bound : x; }

// x times the twiddle w (Montgomery form, R = 2^52) mod p, in [0, 2p), for
// x < 4p, w < p.
inline uint64_t TwiddleMul(uint64_t x, uint64_t w, unsigned prime) {
    const uint64_t p = kNttPrimes[prime];
    const unsigned __int128 t = static_cast<unsigned __int128>(x) * w;
    const uint64_t m = (static_cast<uint64_t>(t) * kNttInverse52[prime]) & kNttMask52;
    const uint64_t mp = static_cast<uint64_t>((static_cast<unsigned __int128>(m) * p) >> 52);
    return static_cast<uint64_t>(t >> 52) - mp + p;
}

// The forward butterfly on u, v below 4p with twiddle w.
inline void ForwardButterfly(uint64_t* u, uint64_t* v, uint64_t w, unsigned prime) {
    const uint64_t p = kNttPrimes[prime];
    const uint64_t a = Below(*u, 2 * p);
    const uint64_t t = TwiddleMul(*v, w, prime);
    *u = a + t;
    *v = a - t + 2 * p;
}

// The inverse butterfly on u, v below 2p: (u + v, (v - u) w), where w is the
// negated inverse twiddle (InverseTwiddle).
inline void InverseButterfly(uint64_t* u, uint64_t* v, uint64_t w, unsigned prime) {
    const uint64_t p = kNttPrimes[prime];
    const uint64_t a = *u, b = *v;
    *u = Below(a + b, 2 * p);
    *v = TwiddleMul(b - a + 2 * p, w, prime);
}

// The inverse transform's twiddle for block b of a level is the inverse of
// w[b]. The table's octave [2^j, 2^(j+1)) holds r^(s 2^(K-1-j)) for the odd
// s in bit-reversed order; the inverses are their negatives in the same
// octave, backwards: w[b]^-1 = -w[3 2^j - 1 - b]. (Block 0's is 1.)
inline uint64_t InverseTwiddleIndex(uint64_t b) {
    const uint64_t octave = uint64_t{1} << (63 - __builtin_clzll(b));
    return 3 * octave - 1 - b;
}

// The negated inverse twiddle of block b: w[3 2^j - 1 - b] for b in the
// octave [2^j, 2^(j+1)), and -1 (in Montgomery form) for block 0.
inline uint64_t InverseTwiddle(const NttTable& t, uint64_t b, unsigned prime) {
    return b == 0 ? kNttPrimes[prime] - kNttR52[prime] : t.w[InverseTwiddleIndex(b)];
}

// The digits of x0 + p0 x1 + p0 p1 x2 (x0 < p0, x1 < p1, x2 < p2).
inline void CoefficientDigits(uint64_t x0, uint64_t x1, uint64_t x2, const NttCrtConstants& c,
                              uint64_t* d0, uint64_t* d1, uint64_t* d2) {
    // x0 + p0 x1 + x2 p01Low < 2^50 + 2^100 + 2^110; x2 p01High < 2^91.
    const unsigned __int128 low = x0 + static_cast<unsigned __int128>(kNttPrimes[0]) * x1 +
                                  static_cast<unsigned __int128>(x2) * c.p01Low;
    const uint64_t lowCarry = DivideByBase(low, d0);  // below 2^52
    const unsigned __int128 high =
        static_cast<unsigned __int128>(x2) * c.p01High + lowCarry;  // below 2^92
    *d2 = DivideByBase(high, d1);
}

// The three residues of a coefficient, scaled, and turned into its digits.
inline void CrtOne(uint64_t* r0, uint64_t* r1, uint64_t* r2, const uint64_t* scale,
                   const uint64_t* scaleShoup, const NttCrtConstants& c) {
    const uint64_t p0 = kNttPrimes[0], p1 = kNttPrimes[1], p2 = kNttPrimes[2];
    const uint64_t x0 = Below(ShoupMul(*r0, scale[0], scaleShoup[0], p0), p0);
    // x1 = (r1 - x0) / p0 mod p1, with the difference taken in [0, 4p1).
    const uint64_t y1 = ShoupMul(*r1, scale[1], scaleShoup[1], p1);
    const uint64_t x1 =
        Below(ShoupMul(y1 + 2 * p1 - Below(x0, p1), c.inv01[0], c.inv01[1], p1), p1);
    // x2 = (r2 - x0 - p0 x1) / (p0 p1) mod p2.
    const uint64_t y2 = ShoupMul(*r2, scale[2], scaleShoup[2], p2);
    const uint64_t t = Below(ShoupMul(y2 + 2 * p2 - Below(x0, p2), c.inv012[0], c.inv012[1], p2), p2);
    const uint64_t x2 = Below(t + p2 - Below(ShoupMul(x1, c.inv12[0], c.inv12[1], p2), p2), p2);
    CoefficientDigits(x0, x1, x2, c, r0, r1, r2);
}

}  // namespace
