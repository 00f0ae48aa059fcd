#include "engine/row_team.h"

#include <immintrin.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/decimal_accumulator.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#endif

namespace {

constexpr unsigned kMaxThreads = 64;
constexpr unsigned kMaxParts = 255;  // what the ticket's part fields hold

// A pass has many parts, claimed one by one: a helper that loses its
// processor in the middle of a part holds up the pass by at most that part,
// and the caller takes every part it has not claimed. Every claim passes one
// cache line between threads, so with many threads the parts are fewer per
// thread.
constexpr uint64_t kPartsPerPass = 32;
constexpr uint64_t kMinPartsPerThread = 2;

// How long a helper polls for the next pass before it yields, and yields
// before it sleeps: a pass of a long row takes tens of microseconds, so a
// helper that finished its part is usually needed again within the spin.
constexpr unsigned kSpinRounds = 4000;
constexpr unsigned kYieldRounds = 200;
// The caller waits only for parts already running, a few microseconds each;
// longer means their thread lost its processor, and the caller yields.
constexpr unsigned kCallerSpinRounds = 200;

// The ticket names the current pass: its generation in bits 16 and up, its
// number of parts in bits 8 .. 15, the next part to claim in bits 0 .. 7.
uint64_t Generation(uint64_t ticket) { return ticket >> 16; }
unsigned PartCount(uint64_t ticket) { return (ticket >> 8) & 0xFF; }
unsigned NextPart(uint64_t ticket) { return ticket & 0xFF; }

struct alignas(64) HelperState {
    std::atomic<uint64_t> served{0};  // generation of the last pass it took part in
    std::atomic<int> inPart{0};       // 1 while it runs a claimed part
};

struct alignas(64) PartCarry {
    uint64_t value;
};

struct Team {
    RowTeamOptions options{nullptr, nullptr, kRowTeamMinPartLimbs};
    unsigned threads = 1;  // the caller and its helpers
    uint64_t generation = 0;
    std::thread helpers[kMaxThreads];
    HelperState states[kMaxThreads];

    // The pass: written by the caller before it publishes the ticket, read
    // by whoever claims one of its parts.
    uint64_t* limbs = nullptr;
    uint64_t a = 0;
    MultiplyRowFn row = nullptr;
    uint64_t bounds[kMaxParts + 1] = {};
    PartCarry carries[kMaxParts] = {};

    alignas(64) std::atomic<uint64_t> ticket{0};
    alignas(64) std::atomic<unsigned> done{0};
    std::atomic<unsigned long> fault{0};
    std::atomic<int> quit{0};
    std::atomic<unsigned> sleepers{0};
    std::mutex sleepLock;
    std::condition_variable wake;
};

Team team;

void WaitALittle(unsigned round, unsigned spinRounds) {
    if (round < spinRounds) {
        _mm_pause();
    } else {
        std::this_thread::yield();
    }
}

// Claims and runs parts of the pass `ticket` names until none is left or
// another pass has begun.
void RunClaimedParts(uint64_t ticket, std::atomic<int>* inPart) {
    const uint64_t generation = Generation(ticket);
    while (NextPart(ticket) < PartCount(ticket) && team.quit.load(std::memory_order_relaxed) == 0) {
        const uint64_t claimed = ticket;
        if (!team.ticket.compare_exchange_weak(ticket, claimed + 1, std::memory_order_acquire)) {
            if (Generation(ticket) != generation) return;
            continue;
        }
        const unsigned part = NextPart(claimed);
        if (inPart) inPart->store(1, std::memory_order_relaxed);
        team.row(team.limbs + team.bounds[part], team.bounds[part + 1] - team.bounds[part], team.a,
                 &team.carries[part].value);
        if (inPart) inPart->store(0, std::memory_order_relaxed);
        team.done.fetch_add(1, std::memory_order_release);
        ticket = claimed + 1;
    }
}

// Returns the ticket of the first pass after generation `served`, or any
// ticket once the team ends.
uint64_t WaitForPass(uint64_t served) {
    for (unsigned round = 0;; ++round) {
        const uint64_t ticket = team.ticket.load(std::memory_order_acquire);
        if (Generation(ticket) != served || team.quit.load(std::memory_order_relaxed) != 0) {
            return ticket;
        }
        if (round < kSpinRounds + kYieldRounds) {
            WaitALittle(round, kSpinRounds);
            continue;
        }
        // Counted as a sleeper before it looks once more, so the caller,
        // which publishes before it counts the sleepers, cannot miss it.
        std::unique_lock<std::mutex> hold(team.sleepLock);
        team.sleepers.fetch_add(1);
        while (Generation(team.ticket.load()) == served && team.quit.load() == 0) {
            team.wake.wait(hold);
        }
        team.sleepers.fetch_sub(1);
    }
}

void ServePasses(void* context) {
    HelperState* const self = static_cast<HelperState*>(context);
    for (;;) {
        const uint64_t ticket = WaitForPass(self->served.load(std::memory_order_relaxed));
        if (team.quit.load(std::memory_order_relaxed) != 0) return;
        self->served.store(Generation(ticket), std::memory_order_relaxed);
        RunClaimedParts(ticket, &self->inPart);
    }
}

void HelperMain(HelperState* self) {
    for (;;) {
        unsigned long code = 0;
        if (team.options.guard) {
            code = team.options.guard(ServePasses, self);
        } else {
            ServePasses(self);
        }
        if (code == 0) return;
        // The part it ran is lost: the fault is recorded for the caller first,
        // then the part counts as done so the pass can end.
        unsigned long none = 0;
        team.fault.compare_exchange_strong(none, code);
        if (self->inPart.exchange(0) != 0) team.done.fetch_add(1, std::memory_order_release);
    }
}

// Adds a part's carry into the first limb of the part above. Lazy limbs take
// it as it is (the sum stays within the lazy bound); normalized ones pass
// any excess up, at the row's end into its final carry.
void AddCarry(uint64_t* limbs, uint64_t at, uint64_t count, uint64_t c, bool lazy,
              uint64_t* finalCarry) {
    limbs[at] += c;
    if (lazy) return;
    for (uint64_t i = at; limbs[i] >= kLimbBase;) {
        limbs[i] -= kLimbBase;
        if (++i == count) {
            ++*finalCarry;
            return;
        }
        ++limbs[i];
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

unsigned RowTeamStart(unsigned threads, const RowTeamOptions& options) {
    team.options = options;
    // Interior part bounds move up to 7 limbs for alignment; 16 keeps every
    // part non-empty.
    if (team.options.minPartLimbs < 16) team.options.minPartLimbs = 16;
    team.quit.store(0);
    team.fault.store(0);
    team.threads = 1;
    if (threads > kMaxThreads) threads = kMaxThreads;
    for (unsigned i = 1; i < threads; ++i) {
        HelperState* const state = &team.states[i];
        state->served.store(team.generation);
        state->inPart.store(0);
        try {
            team.helpers[i] = std::thread(HelperMain, state);
        } catch (const std::system_error&) {
            break;  // work with the helpers there are
        }
        ++team.threads;
    }
    return team.threads;
}

void RowTeamStop() {
    team.quit.store(1);
    {
        std::lock_guard<std::mutex> hold(team.sleepLock);
        team.wake.notify_all();
    }
    for (unsigned i = 1; i < team.threads; ++i) team.helpers[i].join();
    team.threads = 1;
}

int RowTeamMultiply(uint64_t* limbs, uint64_t count, uint64_t a, MultiplyRowFn row, bool lazy,
                    uint64_t* carry) {
    if (team.threads < 2 || count < 2 * team.options.minPartLimbs)
        return row(limbs, count, a, carry);
    uint64_t wanted = team.threads * kMinPartsPerThread;
    if (wanted < kPartsPerPass) wanted = kPartsPerPass;
    uint64_t partLimbs = count / wanted;
    if (partLimbs < team.options.minPartLimbs) partLimbs = team.options.minPartLimbs;
    uint64_t parts = count / partLimbs;
    if (parts > kMaxParts) parts = kMaxParts;

    team.limbs = limbs;
    team.a = a;
    team.row = row;
    team.bounds[0] = 0;
    for (uint64_t j = 1; j < parts; ++j) {
        // Interior bounds on 64-byte boundaries keep every part's vectors aligned.
        const uintptr_t at = reinterpret_cast<uintptr_t>(limbs + count * j / parts);
        team.bounds[j] = ((at + 63) / 64 * 64 - reinterpret_cast<uintptr_t>(limbs)) / 8;
    }
    team.bounds[parts] = count;
    team.done.store(0, std::memory_order_relaxed);
    const uint64_t ticket = (++team.generation << 16) | (parts << 8);
    team.ticket.store(ticket);
    if (team.sleepers.load() != 0) {
        std::lock_guard<std::mutex> hold(team.sleepLock);
        team.wake.notify_all();
    }

    RunClaimedParts(ticket, nullptr);
    for (unsigned round = 0; team.done.load(std::memory_order_acquire) != parts; ++round) {
        WaitALittle(round, kCallerSpinRounds);
    }
    const unsigned long fault = team.fault.exchange(0);
    if (fault != 0 && team.options.raise) team.options.raise(fault);

    uint64_t* const finalCarry = &team.carries[parts - 1].value;
    for (uint64_t j = 1; j < parts; ++j) {
        AddCarry(limbs, team.bounds[j], count, team.carries[j - 1].value, lazy, finalCarry);
    }
    *carry = *finalCarry;
    return kAccOk;
}
