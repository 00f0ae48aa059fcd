#include "engine/work_team.h"

#include <immintrin.h>
#include <x86intrin.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#endif

namespace {

constexpr unsigned kMaxThreads = 64;

// How long a thread with nothing to claim polls before it blocks, in
// time-stamp ticks (each some 30 to 100 microseconds): the runs of one
// product follow each other within microseconds, and a part rarely takes
// longer. First it spins, then it yields its processor to whatever else is
// ready there (a thread of its own team, when the team has more threads than
// processors: it then skips the spin). Past that, a helper sleeps until the
// next run and the caller until the last part ends.
constexpr uint64_t kSpinTicks = 1u << 17;
constexpr uint64_t kYieldTicks = 1u << 17;

// The claim word: the run's generation in bits 40 and up, its number of
// parts in bits 20 .. 39, the next part nobody has claimed in bits 0 .. 19.
// A claim is one compare-exchange that also checks the generation, so a
// helper still holding a finished run's generation claims nothing of the next.
// The generation counts modulo 2^kTeamGenerationBits, in the word and out.
constexpr unsigned kMostParts = (1u << 20) - 1;
constexpr uint64_t kGenerationMask = (uint64_t{1} << kTeamGenerationBits) - 1;
uint64_t Generation(uint64_t claim) { return claim >> 40; }
unsigned PartCount(uint64_t claim) { return static_cast<unsigned>(claim >> 20) & kMostParts; }
unsigned NextPart(uint64_t claim) { return static_cast<unsigned>(claim) & kMostParts; }

struct alignas(64) HelperSlot {
    uint64_t served = 0;         // generation of the last run it looked at (its own)
    unsigned parts = 0;          // that run's parts (its own)
    std::atomic<int> inPart{0};  // 1 while it runs a claimed part
};

struct Team {
    TeamOptions options{nullptr, nullptr};
    unsigned threads = 1;  // the caller and its helpers
    uint64_t spinTicks = 0;
    uint64_t generation = 0;
    std::thread helpers[kMaxThreads];
    HelperSlot slots[kMaxThreads];

    // The run: written by the caller before it publishes the claim word, read
    // by whoever has claimed one of its parts.
    void (*body)(void*, unsigned) = nullptr;
    void* context = nullptr;

    alignas(64) std::atomic<uint64_t> claim{0};
    alignas(64) std::atomic<unsigned> done{0};  // parts of the current run finished
    std::atomic<unsigned long> fault{0};
    std::atomic<int> quit{0};
    // Sleepers count themselves before they look a last time, and wakers
    // publish before they look at the count: one of the two sees the other.
    std::atomic<unsigned> sleepers{0};   // helpers waiting for a run
    std::atomic<int> callerSleeping{0};  // the caller waiting for the last part
    std::mutex sleepLock;
    std::condition_variable wake;      // a run, or the end of the team
    std::condition_variable finished;  // the last part of a run
};

Team team;
thread_local bool insideTeam = false;  // a helper, or the caller inside a run

// Polls `ready` for a short while; true as soon as it holds.
template <typename Ready>
bool SpinFor(Ready ready) {
    const uint64_t start = __rdtsc();
    for (;;) {
        if (ready()) return true;
        const uint64_t spent = __rdtsc() - start;
        if (spent < team.spinTicks) {
            _mm_pause();
        } else if (spent < team.spinTicks + kYieldTicks) {
            std::this_thread::yield();
        } else {
            return false;
        }
    }
}

// Claims the next part of run `generation`; false when there is none left or
// the run is over.
bool ClaimPart(uint64_t generation, unsigned* part) {
    uint64_t seen = team.claim.load(std::memory_order_acquire);
    for (;;) {
        if (Generation(seen) != generation || NextPart(seen) >= PartCount(seen)) return false;
        if (team.claim.compare_exchange_weak(seen, seen + 1, std::memory_order_acq_rel)) {
            *part = NextPart(seen);
            return true;
        }
    }
}

// Counts a part of a run of `parts` done; the last one wakes a sleeping caller.
void FinishPart(unsigned parts) {
    if (team.done.fetch_add(1) + 1 == parts && team.callerSleeping.load() != 0) {
        std::lock_guard<std::mutex> hold(team.sleepLock);
        team.finished.notify_one();
    }
}

void RunParts(uint64_t generation, unsigned parts, HelperSlot* slot) {
    unsigned part;
    while (team.quit.load(std::memory_order_relaxed) == 0 && ClaimPart(generation, &part)) {
        if (slot) slot->inPart.store(1, std::memory_order_relaxed);
        team.body(team.context, part);
        if (slot) slot->inPart.store(0, std::memory_order_relaxed);
        FinishPart(parts);
    }
}

// Returns the claim word of the first run after `served`, or anything once
// the team ends.
uint64_t WaitForRun(uint64_t served) {
    auto ready = [served] {
        return Generation(team.claim.load()) != served || team.quit.load() != 0;
    };
    if (!SpinFor(ready)) {
        std::unique_lock<std::mutex> hold(team.sleepLock);
        team.sleepers.fetch_add(1);
        while (!ready()) team.wake.wait(hold);
        team.sleepers.fetch_sub(1);
    }
    return team.claim.load(std::memory_order_acquire);
}

void ServeRuns(void* context) {
    HelperSlot& slot = *static_cast<HelperSlot*>(context);
    for (;;) {
        const uint64_t claim = WaitForRun(slot.served);
        if (team.quit.load(std::memory_order_relaxed) != 0) return;
        slot.served = Generation(claim);
        slot.parts = PartCount(claim);
        RunParts(slot.served, slot.parts, &slot);
    }
}

void HelperMain(unsigned self) {
    insideTeam = true;
    HelperSlot& slot = team.slots[self];
    for (;;) {
        unsigned long code = 0;
        if (team.options.guard) {
            code = team.options.guard(ServeRuns, &slot);
        } else {
            ServeRuns(&slot);
        }
        if (code == 0) return;
        // The part it ran is lost: the fault is recorded for the caller first,
        // then the part counts as done so the run can end.
        unsigned long none = 0;
        team.fault.compare_exchange_strong(none, code);
        if (slot.inPart.exchange(0) != 0) FinishPart(slot.parts);
    }
}

}  // namespace

unsigned UsableProcessorCount() {
#if defined(_WIN32)
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
    return static_cast<unsigned>(__builtin_popcountll(process));
#else
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? static_cast<unsigned>(count) : 1;
#endif
}

unsigned TeamStart(unsigned threads, const TeamOptions& options) {
    insideTeam = false;  // a fault may have left the caller's last run early
    team.options = options;
    team.quit.store(0);
    team.fault.store(0);
    team.threads = 1;
    if (threads > kMaxThreads) threads = kMaxThreads;
    // With more threads than processors, the thread waited for may need the
    // very processor a spinner holds.
    team.spinTicks = threads <= UsableProcessorCount() ? kSpinTicks : 0;
    for (unsigned i = 1; i < threads; ++i) {
        team.slots[i].served = team.generation;
        team.slots[i].inPart.store(0);
        try {
            team.helpers[i] = std::thread(HelperMain, i);
        } catch (const std::system_error&) {
            break;  // work with the helpers there are
        }
        ++team.threads;
    }
    return team.threads;
}

void TeamStop() {
    team.quit.store(1);
    {
        std::lock_guard<std::mutex> hold(team.sleepLock);
        team.wake.notify_all();
    }
    for (unsigned i = 1; i < team.threads; ++i) team.helpers[i].join();
    team.threads = 1;
    insideTeam = false;
}

unsigned TeamSize() { return team.threads; }

void TeamRun(unsigned parts, void (*body)(void*, unsigned), void* context) {
    if (team.threads < 2 || insideTeam || parts < 2 || parts > kMostParts) {
        for (unsigned part = 0; part < parts; ++part) body(context, part);
        return;
    }
    insideTeam = true;
    team.body = body;
    team.context = context;
    team.done.store(0, std::memory_order_relaxed);
    const uint64_t generation = team.generation = (team.generation + 1) & kGenerationMask;
    team.claim.store(generation << 40 | static_cast<uint64_t>(parts) << 20);
    if (team.sleepers.load() != 0) {
        std::lock_guard<std::mutex> hold(team.sleepLock);
        team.wake.notify_all();
    }
    RunParts(generation, parts, nullptr);
    // What is left is running on the helpers: a started part cannot be taken over.
    auto allDone = [parts] { return team.done.load() == parts; };
    if (!SpinFor(allDone)) {
        std::unique_lock<std::mutex> hold(team.sleepLock);
        team.callerSleeping.store(1);
        while (!allDone()) team.finished.wait(hold);
        team.callerSleeping.store(0);
    }
    insideTeam = false;
    const unsigned long fault = team.fault.exchange(0);
    if (fault != 0 && team.options.raise) team.options.raise(fault);
}

void TeamSetGeneration(uint64_t generation) { team.generation = generation & kGenerationMask; }
