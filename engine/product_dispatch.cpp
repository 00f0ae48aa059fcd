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
    ProductFeatures f = {false, false, false};
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
    f.avx2 = ymmSaved && (ebx & (1u << 5)) && fma;
    f.avx512 = zmmSaved && (ebx & (1u << 16)) && (ebx & (1u << 17));
    f.avx512ifma = f.avx512 && (ebx & (1u << 21));
#endif
    return f;
}

}  // namespace

ProductFeatures ProbeProductFeatures() {
    static const ProductFeatures features = Probe();
    return features;
}

int ProductEngineFor(const ProductFeatures& features) {
    return features.avx512 && features.avx512ifma ? kProductIfma : kProductPortable;
}

const char* ProductEngineName(int engine) {
    switch (engine) {
        case kProductPortable:
            return "portable";
        case kProductIfma:
            return "ifma";
        default:
            return "unknown";
    }
}

bool ProductEngineSupported(int engine) {
    return engine == kProductPortable ||
           (engine == kProductIfma && ProductEngineFor(ProbeProductFeatures()) == kProductIfma);
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
