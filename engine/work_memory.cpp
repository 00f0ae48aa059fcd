#include "engine/work_memory.h"

#include "engine/accumulator_memory.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

// A stack of words, taken from the bottom.
struct Stack {
    uint64_t* base;
    uint64_t words, used;
};

Stack whole;  // the block
uint64_t peak;
// A share of the block a thread takes from instead, while it has one.
thread_local Stack share;
thread_local bool inShare;

Stack& Current() { return inShare ? share : whole; }

}  // namespace

int WorkMemoryAllocate(uint64_t bytes) {
    const uint64_t size = RoundUpToPages(bytes < 8 ? 8 : bytes, AccPageSize());
#if defined(_WIN32)
    void* taken = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (taken == nullptr) return 1;
#else
    void* taken = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (taken == MAP_FAILED) return 1;
#endif
    whole = {static_cast<uint64_t*>(taken), size / 8, 0};
    inShare = false;
    peak = 0;
    return 0;
}

int WorkMemoryRelease() {
    if (whole.base == nullptr) return 0;
#if defined(_WIN32)
    const bool freed = VirtualFree(whole.base, 0, MEM_RELEASE) != 0;
#else
    const bool freed = munmap(whole.base, whole.words * 8) == 0;
#endif
    whole = {nullptr, 0, 0};
    return freed ? 0 : 1;
}

uint64_t* WorkTake(uint64_t words) {
    Stack& s = Current();
    const uint64_t take = WorkWords(words);
    if (s.base == nullptr || take > s.words - s.used) __builtin_trap();
    uint64_t* const taken = s.base + s.used;
    s.used += take;
    if (!inShare && s.used > peak) peak = s.used;
    return taken;
}

void WorkGive(uint64_t* taken) {
    Stack& s = Current();
    s.used = static_cast<uint64_t>(taken - s.base);
}

uint64_t WorkFreeWords() {
    const Stack& s = Current();
    return s.words - s.used;
}

void WorkUseShare(uint64_t* taken, uint64_t words) {
    share = {taken, words, 0};
    inShare = taken != nullptr;
}

uint64_t WorkMemoryBytes() { return whole.words * 8; }
uint64_t WorkPeakBytes() { return peak * 8; }
