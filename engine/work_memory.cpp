#include "engine/work_memory.h"

#include "engine/accumulator_memory.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

uint64_t* block;
uint64_t blockWords;
uint64_t used;  // words taken, from the bottom
uint64_t peak;

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
    block = static_cast<uint64_t*>(taken);
    blockWords = size / 8;
    used = peak = 0;
    return 0;
}

int WorkMemoryRelease() {
    if (block == nullptr) return 0;
#if defined(_WIN32)
    const bool freed = VirtualFree(block, 0, MEM_RELEASE) != 0;
#else
    const bool freed = munmap(block, blockWords * 8) == 0;
#endif
    block = nullptr;
    blockWords = used = 0;
    return freed ? 0 : 1;
}

uint64_t* WorkTake(uint64_t words) {
    const uint64_t take = WorkWords(words);
    if (block == nullptr || take > blockWords - used) __builtin_trap();
    uint64_t* const taken = block + used;
    used += take;
    if (used > peak) peak = used;
    return taken;
}

void WorkGive(uint64_t* taken) { used = static_cast<uint64_t>(taken - block); }

uint64_t WorkMemoryBytes() { return blockWords * 8; }
uint64_t WorkPeakBytes() { return peak * 8; }
