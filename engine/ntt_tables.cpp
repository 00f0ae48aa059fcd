// What both transform engines share: modular helpers for set-up, the
// twiddle tables and the CRT's constants.
#include "engine/ntt_kernels.h"

#include "engine/ntt_scalar.h"

uint64_t NttMulMod(uint64_t a, uint64_t b, uint64_t p) {
    return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % p);
}

uint64_t NttPowMod(uint64_t a, uint64_t e, uint64_t p) {
    uint64_t r = 1;
    for (a %= p; e != 0; e >>= 1, a = NttMulMod(a, a, p)) {
        if (e & 1) r = NttMulMod(r, a, p);
    }
    return r;
}

uint64_t NttShoup(uint64_t w, uint64_t p) {
    // w 2^52 / p is below 2^52, and its estimate from w and 2^52 / p in double
    // precision (each rounding off by at most 2^-53 of its value) lies within
    // 1 of it, so the truncated estimate is the quotient or one off. The
    // remainder, exact modulo 2^64, tells which.
    const uint64_t q = static_cast<uint64_t>(static_cast<double>(w) * (4503599627370496.0 / p));
    const int64_t r = static_cast<int64_t>((w << 52) - q * p);
    return q - (r < 0) + (r >= static_cast<int64_t>(p));
}

uint64_t NttOctaveFactor(unsigned prime, uint64_t half, uint64_t octave) {
    // r has order 2 half. The octave [2^j, 2^(j+1)) is the one below it times
    // r^(half / 2^(j+1)): bitrev(2^j + t) = bitrev(t) + half / 2^(j+1).
    const uint64_t p = kNttPrimes[prime];
    const uint64_t r = NttPowMod(kNttRoots[prime], (p - 1) / (2 * half), p);
    return NttMulMod(NttPowMod(r, half / (2 * octave), p), kNttR52[prime], p);
}

void NttBuildTableStart(const NttKernels& kernels, unsigned prime, uint64_t half, uint64_t* w,
                        uint64_t end) {
    w[0] = kNttR52[prime];  // 1
    for (uint64_t octave = 1; octave < end; octave *= 2) {
        kernels.buildOctave(prime, half, w, octave, 0, octave);
    }
}

void NttBuildOctave(unsigned prime, uint64_t half, uint64_t* w, uint64_t octave, uint64_t from,
                    uint64_t to) {
    const uint64_t p = kNttPrimes[prime], c = NttOctaveFactor(prime, half, octave);
    for (uint64_t t = from; t < to; ++t) w[octave + t] = Below(TwiddleMul(w[t], c, prime), p);
}

const NttCrtConstants& NttCrt() {
    static const NttCrtConstants constants = [] {
        const uint64_t p0 = kNttPrimes[0], p1 = kNttPrimes[1], p2 = kNttPrimes[2];
        NttCrtConstants c;
        c.inv01[0] = NttPowMod(p0, p1 - 2, p1);
        c.inv01[1] = NttShoup(c.inv01[0], p1);
        c.inv012[0] = NttPowMod(NttMulMod(p0 % p2, p1 % p2, p2), p2 - 2, p2);
        c.inv012[1] = NttShoup(c.inv012[0], p2);
        c.inv12[0] = NttPowMod(p1, p2 - 2, p2);
        c.inv12[1] = NttShoup(c.inv12[0], p2);
        const unsigned __int128 p01 = static_cast<unsigned __int128>(p0) * p1;
        c.p01Low = static_cast<uint64_t>(p01 % kLimbBase);
        c.p01High = static_cast<uint64_t>(p01 / kLimbBase);
        return c;
    }();
    return constants;
}
