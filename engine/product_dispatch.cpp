#include "engine/product_dispatch.h"

#include <atomic>
#include <cstdint>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

std::atomic<int> forced{-1};

#if defined(__x86_64__)
// XCR0 read without -mxsave, so this file stays baseline x86-64.
uint64_t ReadXcr0() {
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<uint64_t>(high) << 32) | low;
}
#endif

ProductFeatures Probe() {
#if defined(__x86_64__)
    unsigned maxLeaf, ebx, ecx, edx;
    if (!__get_cpuid(0, &maxLeaf, &ebx, &ecx, &edx) || maxLeaf < 7) return {false, false, false};
    unsigned eax, leaf1Ecx, leaf7Ebx;
    __cpuid_count(1, 0, eax, ebx, leaf1Ecx, edx);
    // XGETBV faults where the system has not enabled it (OSXSAVE clear).
    const uint64_t xcr0 = leaf1Ecx & (1u << 27) ? ReadXcr0() : 0;
    __cpuid_count(7, 0, eax, leaf7Ebx, ecx, edx);
    return DecodeProductFeatures(maxLeaf, leaf1Ecx, leaf7Ebx, xcr0);
#else
    return {false, false, false};
#endif
}

}  // namespace

ProductFeatures DecodeProductFeatures(uint32_t maxLeaf, uint32_t leaf1Ecx, uint32_t leaf7Ebx,
                                      uint64_t xcr0) {
    ProductFeatures f = {false, false, false};
    const bool osxsave = leaf1Ecx & (1u << 27), avx = leaf1Ecx & (1u << 28);
    const bool fma = leaf1Ecx & (1u << 12);
    if (maxLeaf < 7 || !osxsave || !avx) return f;
    // The vector registers are usable only if the system saves them on a
    // switch: XMM and YMM state, then opmask and both ZMM halves.
    const bool ymmSaved = (xcr0 & 0x6) == 0x6;
    const bool zmmSaved = (xcr0 & 0xE6) == 0xE6;
    f.avx2 = ymmSaved && (leaf7Ebx & (1u << 5)) && fma;
    f.avx512 = zmmSaved && (leaf7Ebx & (1u << 16)) && (leaf7Ebx & (1u << 17));
    f.avx512ifma = f.avx512 && (leaf7Ebx & (1u << 21));
    return f;
}

ProductFeatures ProbeProductFeatures() {
    static const ProductFeatures features = Probe();
    return features;
}

int ProductEngineFor(const ProductFeatures& features) {
    if (features.avx512 && features.avx512ifma) return kProductIfma;
    return features.avx2 ? kProductAvx2 : kProductPortable;
}

const char* ProductEngineName(int engine) {
    switch (engine) {
        case kProductPortable:
            return "portable";
        case kProductIfma:
            return "ifma";
        case kProductAvx2:
            return "avx2";
        default:
            return "unknown";
    }
}

bool ProductEngineSupported(int engine) {
    const ProductFeatures f = ProbeProductFeatures();
    switch (engine) {
        case kProductPortable:
            return true;
        case kProductIfma:
            return ProductEngineFor(f) == kProductIfma;
        case kProductAvx2:
            return f.avx2;
        default:
            return false;
    }
}

int ActiveProductEngine() {
    const int e = forced.load(std::memory_order_relaxed);
    return e >= 0 ? e : ProductEngineFor(ProbeProductFeatures());
}

bool ForceProductEngine(int engine) {
    if (!ProductEngineSupported(engine)) return false;
    forced.store(engine, std::memory_order_relaxed);
    return true;
}
