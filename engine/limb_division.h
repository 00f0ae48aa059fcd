// Division by the limb base without the slow 128-bit division, shared by the
// accumulator and the transforms' CRT. Internal linkage on purpose: the
// vector engine's file is compiled with its own instruction set, and a shared
// inline definition could let the linker hand a baseline caller its copy.
#pragma once

#include <cstdint>

#include "engine/decimal_accumulator.h"

namespace {

// floor(2^123 / 10^18). The quotient estimate below drops the low 56 bits of
// v (worth less than 0.08 of a quotient unit) and the fraction of the
// reciprocal (less than v / 2^123 <= 0.125 for v < 2^120), so it is never
// high and at most one short.
constexpr uint64_t kLimbReciprocal =
    static_cast<uint64_t>((static_cast<unsigned __int128>(1) << 123) / kLimbBase);

// floor(v / 10^18) and v mod 10^18, for v < 2^120.
inline uint64_t DivideByBase(unsigned __int128 v, uint64_t* remainder) {
    const uint64_t top = static_cast<uint64_t>(v >> 56);
    uint64_t q =
        static_cast<uint64_t>((static_cast<unsigned __int128>(top) * kLimbReciprocal) >> 67);
    uint64_t r = static_cast<uint64_t>(v) - q * kLimbBase;
    if (r >= kLimbBase) r -= kLimbBase, ++q;
    *remainder = r;
    return q;
}

}  // namespace
