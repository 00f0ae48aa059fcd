#include "engine/product_dispatch.h"

#include <atomic>

namespace {

std::atomic<int> forced{-1};

}  // namespace

ProductFeatures ProbeProductFeatures() { return {false, false, false}; }

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
