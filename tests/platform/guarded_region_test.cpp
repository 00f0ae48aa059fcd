#include "platform/guarded_region.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

namespace {

struct Work {
    volatile int stepsDone = 0;
};

void Finishes(void* p) { static_cast<Work*>(p)->stepsDone = 3; }

void DividesByZero(void* p) {
    Work* w = static_cast<Work*>(p);
    w->stepsDone = 1;
    volatile uint64_t zero = 0;
    volatile uint64_t q = 10 / zero;
    (void)q;
    w->stepsDone = 2;
}

void RunsIllegalInstruction(void* p) {
    static_cast<Work*>(p)->stepsDone = 1;
    __asm__ volatile("ud2");
    static_cast<Work*>(p)->stepsDone = 2;
}

// A page nobody may touch (address 0 is not reliably out of bounds under Wine).
void WritesToAForbiddenPage(void* p) {
    static_cast<Work*>(p)->stepsDone = 1;
    static int* const page =
        static_cast<int*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_NOACCESS));
    *static_cast<volatile int*>(page) = 5;
    static_cast<Work*>(p)->stepsDone = 2;
}

TEST(GuardedRegion, ReportsTheFaultCodeAndKeepsWhatWasDoneBeforeIt) {
    const struct {
        void (*body)(void*);
        DWORD code;
        int steps;
    } cases[] = {
        {Finishes, 0, 3},
        {DividesByZero, 0xC0000094, 1},
        {RunsIllegalInstruction, 0xC000001D, 1},
        {WritesToAForbiddenPage, 0xC0000005, 1},
    };
    // Twice over: the guard must be set up afresh each time.
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            Work work;
            EXPECT_EQ(RunGuarded(c.body, &work), c.code) << std::hex << c.code;
            EXPECT_EQ(work.stepsDone, c.steps) << std::hex << c.code;
        }
    }
}

// A guard belongs to its thread: a fault under another thread's guard comes
// back there, and the parked first guard still sees its body finish.
struct Parked {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> entered{0};
    volatile int finished = 0;
    DWORD code = 0xFFFFFFFF;
};

void WaitsForRelease(void* p) {
    Parked* parked = static_cast<Parked*>(p);
    parked->entered = 1;
    WaitForSingleObject(parked->release, INFINITE);
    parked->finished = 1;
}

DWORD WINAPI GuardedWaiter(LPVOID p) {
    static_cast<Parked*>(p)->code = RunGuarded(WaitsForRelease, p);
    return 0;
}

TEST(GuardedRegion, AFaultIsRoutedToTheThreadThatRaisedIt) {
    Parked parked;
    HANDLE waiter = CreateThread(nullptr, 0, GuardedWaiter, &parked, 0, nullptr);
    ASSERT_NE(waiter, nullptr);
    while (parked.entered == 0) Sleep(1);
    Work work;
    EXPECT_EQ(RunGuarded(DividesByZero, &work), 0xC0000094u);
    SetEvent(parked.release);
    WaitForSingleObject(waiter, INFINITE);
    CloseHandle(waiter);
    CloseHandle(parked.release);
    EXPECT_EQ(parked.code, 0u);
    EXPECT_EQ(parked.finished, 1);
}

}  // namespace
