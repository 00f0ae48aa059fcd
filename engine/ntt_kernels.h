// Number-theoretic transforms of base-10^18 limbs modulo three primes just
// below 2^50: the kernels behind MultiplyLimbs and SquareLimbs for large
// operands. Each engine (portable, AVX-512 IFMA, AVX2) fills an NttKernels record
// in its own file; limb_product.cpp drives them and the dispatcher picks one.
//
// The primes are p = c * 2^23 + 1 with p < 2^50:
//   p0 = 1125899831345153 (primitive root 3),
//   p1 = 1125899630018561 (7),
//   p2 = 1125899479023617 (5).
// 2^23 divides p - 1, so each has roots of unity of every order up to 2^23:
// transforms of any power-of-two length up to 2^23.
//
// Bounds of the integer engines (portable, IFMA); the AVX2 engine keeps the
// same ones where its kernels take and leave words (see ntt_avx2.cpp):
// - Residues are kept lazily below 4p < 2^52, which every multiplication
//   takes: IFMA's 52-bit multiply-add, and the portable 64-bit products.
// - Twiddles are held in Montgomery form, w R mod p with R = 2^52, and
//   multiply by Montgomery's method: for x < 4p and w < p, T = x w < 4p^2 <
//   p 2^52; with m = lo52(lo52(T) p^-1), T - m p is a multiple of 2^52 whose
//   quotient hi52(T) - hi52(m p) lies in (-p, p), so adding p leaves x times
//   the twiddle in [0, 2p). One word a twiddle, and no companion to compute.
// - Constants (the CRT's) multiply by Shoup's method: w < p with w' =
//   floor(w 2^52 / p); for x < 2^52, q = floor(x w' / 2^52) is floor(x w / p)
//   or one less, so x w - q p lies in [0, 2p), found from the low 52 bits.
// - The forward butterfly takes u, v < 4p: u is brought below 2p, t = v w
//   lies in [0, 2p), and u + t, u - t + 2p lie in [0, 4p). The inverse takes
//   u, v < 2p: u + v is brought below 2p, and (v - u + 2p) w' (w' the negated
//   inverse twiddle, see ntt_scalar.h) lies in [0, 2p). Every level keeps its
//   bound, so no transform length needs more.
// - Pointwise products are Montgomery products with R = 2^64 (portable) or
//   2^52 (IFMA), giving x y R^-1 in [0, 2p) (see each engine); the AVX2
//   engine's are plain (R = 1).
//
// The CRT: a coefficient of a product of na and nb limbs is a sum of at most
// min(na, nb) products of limbs below 10^18, so below min(na, nb) 10^36. It
// is recovered exactly from its three residues when that is below
// P = p0 p1 p2 > 2^149.99, that is for min(na, nb) < 2^30.4: every product a
// transform of at most 2^23 points can hold.
#pragma once

#include <cstdint>

constexpr unsigned kNttPrimeCount = 3;
constexpr uint64_t kNttPrimes[kNttPrimeCount] = {1125899831345153ULL, 1125899630018561ULL,
                                                 1125899479023617ULL};
constexpr uint64_t kNttRoots[kNttPrimeCount] = {3, 7, 5};  // primitive roots
constexpr unsigned kNttMostLog = 23;                       // longest transform: 2^23

constexpr uint64_t kNttMask52 = (uint64_t{1} << 52) - 1;

constexpr uint64_t NttInverse52(uint64_t p) {
    uint64_t x = p;  // right to 3 bits for odd p; each step doubles that
    for (int i = 0; i < 5; ++i) x *= 2 - p * x;
    return x & kNttMask52;
}

constexpr uint64_t NttPowerOfTwoMod(unsigned e, uint64_t p) {
    unsigned __int128 r = 1;
    for (unsigned i = 0; i < e; ++i) r = r * 2 % p;
    return static_cast<uint64_t>(r);
}

// p^-1 mod 2^52 and 2^52 mod p (the twiddles' R), for each prime.
constexpr uint64_t kNttInverse52[kNttPrimeCount] = {
    NttInverse52(kNttPrimes[0]), NttInverse52(kNttPrimes[1]), NttInverse52(kNttPrimes[2])};
constexpr uint64_t kNttR52[kNttPrimeCount] = {NttPowerOfTwoMod(52, kNttPrimes[0]),
                                              NttPowerOfTwoMod(52, kNttPrimes[1]),
                                              NttPowerOfTwoMod(52, kNttPrimes[2])};

// A prime's twiddles, for transforms of every length up to 2 * half: w[b] is
// r^bitrev(b) 2^52 mod p, where r is a root of unity of order 2 * half and
// bitrev reverses the bits of b below half. A transform of length L uses
// w[0 .. L / 2) whatever `half` is, and the block b of a level of m blocks
// (block size L / m) has the twiddle w[b].
struct NttTable {
    const uint64_t* w;
};

// The digits a coefficient splits into: value = d0 + d1 10^18 + d2 10^36,
// each below 10^18, stored in place of its three residues.
//
// Kernels. x is a prime's array of residues; `prime` is its index. Blocks of
// a transform are numbered as in NttTable: the whole transform is block 0 of
// its own length.
struct NttKernels {
    // Montgomery's R of pointwise and square, as a power of two.
    unsigned montgomeryLog;
    // Below this many limbs in the smaller operand a schoolbook product is
    // cheaper than this engine's transforms (measured: qrnl_bench's products).
    uint64_t schoolbookLimbs;
    // NttBuildOctave, the same entries.
    void (*buildOctave)(unsigned prime, uint64_t half, uint64_t* w, uint64_t octave, uint64_t from,
                        uint64_t to);
    // x[i] = a[i] mod p for i < n (a[i] < 10^18), below 4p; x[n .. length) = 0.
    void (*load)(uint64_t* x, const uint64_t* a, uint64_t n, uint64_t length, unsigned prime);
    // The forward transform of the block `block` of `size` elements at x, all
    // its levels: natural order in, bit-reversed order out. Takes and leaves
    // residues below 4p.
    void (*forward)(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table,
                    unsigned prime);
    // One level of the same, the top one of the block: the butterflies j of
    // [from, to), to <= size / 2.
    void (*forwardLevel)(uint64_t* x, uint64_t size, uint64_t block, uint64_t from, uint64_t to,
                         const NttTable& table, unsigned prime);
    // The inverse of forward, without its factor 1/size: bit-reversed order in,
    // natural out. Takes and leaves residues below 2p.
    void (*inverse)(uint64_t* x, uint64_t size, uint64_t block, const NttTable& table,
                    unsigned prime);
    // Its top level alone (the last one it does), butterflies j of [from, to).
    void (*inverseLevel)(uint64_t* x, uint64_t size, uint64_t block, uint64_t from, uint64_t to,
                         const NttTable& table, unsigned prime);
    // x[i] = x[i] y[i] R^-1 (or x[i]^2 R^-1 with y null) for i < n: from
    // below 4p to below 2p.
    void (*pointwise)(uint64_t* x, const uint64_t* y, uint64_t n, unsigned prime);
    // For i in [from, to): the residues x0[i], x1[i], x2[i] (below 2p) times
    // scale[k] (with companion scaleShoup[k]) are the coefficient's residues;
    // its digits replace them.
    void (*crt)(uint64_t* x0, uint64_t* x1, uint64_t* x2, uint64_t from, uint64_t to,
                const uint64_t* scale, const uint64_t* scaleShoup);
};

extern const NttKernels kNttPortable;
extern const NttKernels kNttIfma;  // only where the processor has AVX-512 IFMA
extern const NttKernels kNttAvx2;  // only where it has AVX2 and FMA

// Shared by the engines' table and CRT code.
uint64_t NttMulMod(uint64_t a, uint64_t b, uint64_t p);  // a b mod p, any a, b
uint64_t NttPowMod(uint64_t a, uint64_t e, uint64_t p);
uint64_t NttShoup(uint64_t w, uint64_t p);  // floor(w 2^52 / p), w < p

// Prime k's table for transforms up to 2 * half points (half a power of two,
// at most 2^22), in w[0 .. half), is built octave by octave, each from the
// ones below it: first the entries below `end` (a power of two), then each
// octave [octave, 2 octave) above, in any ranges [octave + from, octave + to).
// The octave's factor r^(half / (2 octave)), in Montgomery form:
uint64_t NttOctaveFactor(unsigned prime, uint64_t half, uint64_t octave);
struct NttKernels;
void NttBuildTableStart(const NttKernels& kernels, unsigned prime, uint64_t half, uint64_t* w,
                        uint64_t end);
void NttBuildOctave(unsigned prime, uint64_t half, uint64_t* w, uint64_t octave, uint64_t from,
                    uint64_t to);

// The constants of the CRT, per prime set (see ntt_portable.cpp).
struct NttCrtConstants {
    uint64_t inv01[2];   // p0^-1 mod p1, with its companion
    uint64_t inv012[2];  // (p0 p1)^-1 mod p2
    uint64_t inv12[2];   // p1^-1 mod p2
    uint64_t p01Low;     // p0 p1 = p01Low + p01High 10^18
    uint64_t p01High;
};
const NttCrtConstants& NttCrt();
