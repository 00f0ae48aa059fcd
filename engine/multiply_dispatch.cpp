#include "engine/multiply_dispatch.h"

#include <atomic>

#include "engine/decimal_accumulator.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

struct ProcessorFeatures {
    bool avx2 = false;
    bool avx512 = false;
    bool avx512ifma = false;
};

#if defined(__x86_64__)
// XCR0 read without -mxsave, so this file stays baseline x86-64.
uint64_t ReadXcr0() {
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<uint64_t>(high) << 32) | low;
}
#endif

ProcessorFeatures Probe() {
    ProcessorFeatures f;
#if defined(__x86_64__)
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx) || eax < 7) return f;
    __cpuid_count(1, 0, eax, ebx, ecx, edx);
    const bool osxsave = ecx & (1u << 27);
    const bool avx = ecx & (1u << 28);
    const bool fma = ecx & (1u << 12);
    if (!osxsave || !avx) return f;
    // The vector registers are usable only if the system saves them on a
    // switch: XMM and YMM state, then opmask and both ZMM halves.
    const uint64_t xcr0 = ReadXcr0();
    const bool ymmSaved = (xcr0 & 0x6) == 0x6;
    const bool zmmSaved = (xcr0 & 0xE6) == 0xE6;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    const bool avx2 = ebx & (1u << 5);
    const bool avx512f = ebx & (1u << 16);
    const bool avx512dq = ebx & (1u << 17);
    const bool avx512ifma = ebx & (1u << 21);
    f.avx2 = ymmSaved && avx2 && fma;
    f.avx512 = zmmSaved && avx512f && avx512dq;
    f.avx512ifma = f.avx512 && avx512ifma;
#endif
    return f;
}

const ProcessorFeatures& Features() {
    static const ProcessorFeatures features = Probe();
    return features;
}

int ResolveAndMultiply(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry);

// Starts at the resolver, which replaces itself with the chosen kernel.
std::atomic<MultiplyRowFn> activeRow{ResolveAndMultiply};
std::atomic<int> activeVariant{-1};

void Install(int variant) {
    activeVariant.store(variant, std::memory_order_relaxed);
    activeRow.store(MultiplyRowOf(variant), std::memory_order_relaxed);
}

int ResolveAndMultiply(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    Install(BestMultiplyVariant());
    return activeRow.load(std::memory_order_relaxed)(limbs, count, a, carry);
}

}  // namespace

const char* MultiplyVariantName(int variant) {
    switch (variant) {
        case kMultiplyPlain:
            return "plain";
        case kMultiplyScalar:
            return "scalar";
        case kMultiplyAvx2:
            return "avx2";
        case kMultiplyAvx512:
            return "avx512";
        case kMultiplyAvx512Ifma:
            return "avx512ifma";
        default:
            return "unknown";
    }
}

bool MultiplyVariantSupported(int variant) {
    switch (variant) {
        case kMultiplyPlain:
        case kMultiplyScalar:
            return true;
        case kMultiplyAvx2:
            return Features().avx2;
        case kMultiplyAvx512:
            return Features().avx512;
        case kMultiplyAvx512Ifma:
            return Features().avx512ifma;
        default:
            return false;
    }
}

int BestMultiplyVariant() {
    if (MultiplyVariantSupported(kMultiplyAvx512Ifma)) return kMultiplyAvx512Ifma;
    if (MultiplyVariantSupported(kMultiplyAvx512)) return kMultiplyAvx512;
    if (MultiplyVariantSupported(kMultiplyAvx2)) return kMultiplyAvx2;
    return kMultiplyScalar;
}

int ActiveMultiplyVariant() {
    const int v = activeVariant.load(std::memory_order_relaxed);
    return v >= 0 ? v : BestMultiplyVariant();
}

MultiplyRowFn MultiplyRowOf(int variant) {
    switch (variant) {
        case kMultiplyPlain:
            return MultiplyRowPlain;
        case kMultiplyScalar:
            return MultiplyRowScalar;
        case kMultiplyAvx2:
            return MultiplyRowAvx2;
        case kMultiplyAvx512:
            return MultiplyRowAvx512;
        case kMultiplyAvx512Ifma:
            return MultiplyRowAvx512Ifma;
        default:
            return nullptr;
    }
}

GroupKernel GroupKernelOf(int variant) {
    switch (variant) {
        case kMultiplyAvx2:
            return {MultiplyRowAvx2Lazy, kLazyMultiplierLimit, true};
        case kMultiplyAvx512:
            return {MultiplyRowAvx512Lazy, kLazyMultiplierLimit, true};
        case kMultiplyAvx512Ifma:
            return {MultiplyRowAvx512IfmaLazy, kLazyMultiplierLimit, true};
        default:
            return {MultiplyRowOf(variant), kLimbBase + 1, false};
    }
}

GroupKernel ActiveGroupKernel() { return GroupKernelOf(ActiveMultiplyVariant()); }

bool ForceMultiplyVariant(int variant) {
    if (!MultiplyVariantSupported(variant)) return false;
    Install(variant);
    return true;
}

int MultiplyRow(uint64_t* limbs, uint64_t count, uint64_t a, uint64_t* carry) {
    return activeRow.load(std::memory_order_relaxed)(limbs, count, a, carry);
}
