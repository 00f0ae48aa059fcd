#include "engine/row_team.h"

#include <immintrin.h>
#include <x86intrin.h>

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
constexpr unsigned kMaxParts = 255;  // what the ticket's part field holds

// A pass has several parts: a helper that loses its processor in the middle
// of a part holds up the pass by at most that part. Each thread has a share of
// them, the same every pass, so a row's limbs stay in the cache of the core
// that works on them; then it takes over what the others have not started.
// Each part costs a call of the kernel and a claim, so not too many.
constexpr uint64_t kPartsPerPass = 8;
constexpr uint64_t kMinPartsPerThread = 2;

// How long a helper polls for the next pass before it yields, and yields
// before it sleeps: a pass of a long row takes tens of microseconds, so a
// helper that finished its share is usually needed again within the spin.
constexpr unsigned kSpinRounds = 4000;
constexpr unsigned kYieldRounds = 200;
// The caller waits for the helpers' parts, a few microseconds each; longer
// means their thread lost its processor, and the caller yields.
constexpr unsigned kCallerSpinRounds = 200;
// After a pass in which the caller had to wait long for a part that another
// thread runs, it runs the next passes whole, about twice as many each time
// it happens again, up to this many, and half as many again after each pass
// that went well: on a machine whose other processors are busy, a helper that
// loses its processor holding a part costs the pass a whole time slice.
constexpr unsigned kMostWholePasses = 4096;

// The ticket names the current pass: its generation in bits 8 and up, its
// number of parts in bits 0 .. 7.
uint64_t Generation(uint64_t ticket) { return ticket >> 8; }
unsigned PartCount(uint64_t ticket) { return ticket & 0xFF; }

// A thread's parts done in a pass: the generation in bits 16 and up, the
// count below. Written by that thread only.
uint64_t Generation16(uint64_t done) { return done >> 16; }

struct alignas(64) ThreadSlot {
    std::atomic<uint64_t> served{0};  // generation of the pass it works on
    std::atomic<uint64_t> done{0};    // parts it finished in that pass
    std::atomic<int> inPart{0};       // 1 while it runs a claimed part
};

struct alignas(64) PartSlot {
    std::atomic<uint64_t> claimedIn{0};  // generation of the last pass that claimed it
    uint64_t carry = 0;                  // written by whoever ran it
};

struct Team {
    RowTeamOptions options{nullptr, nullptr, kRowTeamMinPartLimbs};
    unsigned threads = 1;  // the caller (slot 0) and its helpers
    uint64_t generation = 0;
    unsigned wholePassesLeft = 0;  // passes to run unsplit after a wait
    unsigned wholePassesNext = 0;  // how many the next wait earns
    std::thread helpers[kMaxThreads];
    ThreadSlot slots[kMaxThreads];

    // The pass: written by the caller before it publishes the ticket, read
    // by whoever claims one of its parts.
    uint64_t* limbs = nullptr;
    uint64_t a = 0;
    MultiplyRowFn row = nullptr;
    uint64_t bounds[kMaxParts + 1] = {};
    PartSlot parts[kMaxParts];

    alignas(64) std::atomic<uint64_t> ticket{0};
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

void CountPartDone(ThreadSlot& slot, uint64_t generation) {
    const uint64_t before = slot.done.load(std::memory_order_relaxed);
    const uint64_t count = Generation16(before) == generation ? (before & 0xFFFF) + 1 : 1;
    slot.done.store(generation << 16 | count, std::memory_order_release);
}

// Claims a part for the pass `generation`; false when another thread has it.
// A thread still holding the ticket of a finished pass finds every part of
// that pass claimed.
bool Claim(unsigned part, uint64_t generation) {
    std::atomic<uint64_t>& claimedIn = team.parts[part].claimedIn;
    uint64_t seen = claimedIn.load(std::memory_order_relaxed);
    return seen < generation && claimedIn.compare_exchange_strong(seen, generation);
}

void RunPart(unsigned part, uint64_t generation, ThreadSlot& slot) {
    slot.inPart.store(1, std::memory_order_relaxed);
    team.row(team.limbs + team.bounds[part], team.bounds[part + 1] - team.bounds[part], team.a,
             &team.parts[part].carry);
    slot.inPart.store(0, std::memory_order_relaxed);
    CountPartDone(slot, generation);
}

// Runs thread `self`'s share of the pass `ticket` names, from the bottom up,
// until it finds a part taken (the caller takes over a late share from the top).
void RunShare(uint64_t ticket, unsigned self) {
    const uint64_t generation = Generation(ticket);
    const unsigned parts = PartCount(ticket);
    ThreadSlot& slot = team.slots[self];
    for (unsigned part = self * parts / team.threads; part < (self + 1) * parts / team.threads;
         ++part) {
        if (team.quit.load(std::memory_order_relaxed) != 0 || !Claim(part, generation)) break;
        RunPart(part, generation, slot);
    }
}

// The caller, its own share done: takes over the highest part of another
// share that nobody has started. Returns false when there is none.
bool TakeOverAPart(uint64_t generation, unsigned parts) {
    for (unsigned part = parts; part-- > parts / team.threads;) {
        if (Claim(part, generation)) {
            RunPart(part, generation, team.slots[0]);
            return true;
        }
    }
    return false;
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
    const unsigned self = static_cast<unsigned>(reinterpret_cast<uintptr_t>(context));
    ThreadSlot& slot = team.slots[self];
    for (;;) {
        const uint64_t ticket = WaitForPass(slot.served.load(std::memory_order_relaxed));
        if (team.quit.load(std::memory_order_relaxed) != 0) return;
        slot.served.store(Generation(ticket), std::memory_order_relaxed);
        RunShare(ticket, self);
    }
}

void HelperMain(unsigned self) {
    void* const context = reinterpret_cast<void*>(static_cast<uintptr_t>(self));
    ThreadSlot& slot = team.slots[self];
    for (;;) {
        unsigned long code = 0;
        if (team.options.guard) {
            code = team.options.guard(ServePasses, context);
        } else {
            ServePasses(context);
        }
        if (code == 0) return;
        // The part it ran is lost: the fault is recorded for the caller first,
        // then the part counts as done so the pass can end.
        unsigned long none = 0;
        team.fault.compare_exchange_strong(none, code);
        if (slot.inPart.exchange(0) != 0) {
            CountPartDone(slot, slot.served.load(std::memory_order_relaxed));
        }
    }
}

unsigned PartsDone(uint64_t generation) {
    unsigned total = 0;
    for (unsigned t = 0; t < team.threads; ++t) {
        const uint64_t done = team.slots[t].done.load(std::memory_order_acquire);
        if (Generation16(done) == generation) total += static_cast<unsigned>(done & 0xFFFF);
    }
    return total;
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
    team.wholePassesLeft = team.wholePassesNext = 0;
    if (threads > kMaxThreads) threads = kMaxThreads;
    for (unsigned i = 1; i < threads; ++i) {
        team.slots[i].served.store(team.generation);
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
    if (team.threads < 2 || count < 2 * team.options.minPartLimbs) {
        return row(limbs, count, a, carry);
    }
    if (team.wholePassesLeft > 0) {
        --team.wholePassesLeft;
        return row(limbs, count, a, carry);
    }
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
    const uint64_t generation = ++team.generation;
    const uint64_t ticket = generation << 8 | parts;
    team.ticket.store(ticket);
    if (team.sleepers.load() != 0) {
        std::lock_guard<std::mutex> hold(team.sleepLock);
        team.wake.notify_all();
    }

    // The helpers' shares stay theirs while they keep up, so their limbs stay
    // in their caches; a part nobody has started once the caller has waited
    // as long as one of its own took, it does itself.
    const uint64_t start = __rdtsc();
    RunShare(ticket, 0);
    const uint64_t ownShare = parts / team.threads;
    const uint64_t partTicks = ownShare ? (__rdtsc() - start) / ownShare : 0;
    // Late: a part another thread runs took four of the caller's parts'
    // time after everything else was done; its thread lost its processor.
    bool late = false;
    uint64_t waitFrom = __rdtsc();
    for (unsigned round = 0; PartsDone(generation) != parts; ++round) {
        const uint64_t now = __rdtsc();
        if (now - waitFrom > partTicks) {
            if (TakeOverAPart(generation, parts)) {
                waitFrom = __rdtsc();
                continue;
            }
            late = late || now - waitFrom > 4 * partTicks;
        }
        WaitALittle(round, kCallerSpinRounds);
    }
    if (late) {
        team.wholePassesNext = team.wholePassesNext * 2 + 1;
        if (team.wholePassesNext > kMostWholePasses) team.wholePassesNext = kMostWholePasses;
        team.wholePassesLeft = team.wholePassesNext;
    } else {
        team.wholePassesNext /= 2;
    }
    const unsigned long fault = team.fault.exchange(0);
    if (fault != 0 && team.options.raise) team.options.raise(fault);

    uint64_t* const finalCarry = &team.parts[parts - 1].carry;
    for (uint64_t j = 1; j < parts; ++j) {
        AddCarry(limbs, team.bounds[j], count, team.parts[j - 1].carry, lazy, finalCarry);
    }
    *carry = *finalCarry;
    return kAccOk;
}
