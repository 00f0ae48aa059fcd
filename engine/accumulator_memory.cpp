#include "engine/accumulator_memory.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

uint64_t RoundUpToPages(uint64_t requested, uint64_t page) {
    if (requested % page == 0) return requested;
    return (requested / page + 1) * page;
}

#if defined(_WIN32)

uint64_t AccPageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

int AccAllocate(uint64_t requested) {
    const uint64_t size = RoundUpToPages(requested, AccPageSize());
    void* block = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (block == nullptr) return 1;
    AccSetUp(static_cast<uint64_t*>(block), size);
    return 0;
}

int AccRelease() { return VirtualFree(AccBase(), 0, MEM_RELEASE) ? 0 : 1; }

#else  // Native stand-in: anonymous mappings are page-granular and zero-filled.

uint64_t AccPageSize() { return static_cast<uint64_t>(sysconf(_SC_PAGESIZE)); }

int AccAllocate(uint64_t requested) {
    const uint64_t size = RoundUpToPages(requested, AccPageSize());
    if (size == 0) return 1;
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return 1;
    AccSetUp(static_cast<uint64_t*>(block), size);
    return 0;
}

int AccRelease() { return munmap(AccBase(), AccByteSize()) == 0 ? 0 : 1; }

#endif

uint64_t AccLimbCount() { return AccTopIndex() + 1; }
