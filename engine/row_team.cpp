#include "engine/row_team.h"

#include <immintrin.h>
#include <x86intrin.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/decimal_accumulator.h"
#include "engine/work_team.h"
#include "engine/multiply_row_step.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#endif

namespace {

constexpr unsigned kMaxThreads = 64;
constexpr unsigned kMaxParts = 255;  // what the ticket's part field holds

// A block has several parts: a helper that loses its processor in the middle
// of a part holds up the block by at most that part. Each thread has a share
// of them, the same every block, so a row's limbs stay in the cache of the core
// that works on them; then it takes over what the others have not started.
// Each part costs a call of the kernel a multiplier and a claim, so not too
// many; a block's passes share those.
constexpr uint64_t kPartsPerPass = 32;
constexpr uint64_t kMinPartsPerThread = 2;
// And parts of at most this many limbs (256 KiB), so that a part's limbs stay
// in the core's cache through the whole block.
constexpr uint64_t kCachedPartLimbs = 32768;

// How long a helper polls for the next block before it yields, and yields
// before it sleeps: a block over a long row takes tens of microseconds, so a
// helper that finished its share is usually needed again within the spin.
constexpr unsigned kSpinRounds = 4000;
constexpr unsigned kYieldRounds = 200;
// The caller waits for the helpers' parts, some microseconds each, and has
// nothing else to do: it yields only after a long wait.
constexpr unsigned kCallerSpinRounds = 20000;
// After a block in which the helpers did not help much, the caller runs the
// next blocks alone, about twice as many each time it happens again, up to
// this many, and half as many again after each block that went well: on a
// machine whose other processors are busy with other work, a helper that
// gets only part of its processor holds the caller up more than it helps.
constexpr unsigned kMostSoloBlocks = 512;

// The ticket names the current block: its generation in bits 8 and up, its
// number of parts in bits 0 .. 7.
uint64_t Generation(uint64_t ticket) { return ticket >> 8; }
unsigned PartCount(uint64_t ticket) { return ticket & 0xFF; }

// A thread's parts done in a block: the generation in bits 16 and up, the
// count below. Written by that thread only.
uint64_t Generation16(uint64_t done) { return done >> 16; }

struct alignas(64) ThreadSlot {
    std::atomic<uint64_t> served{0};  // generation of the block it works on
    std::atomic<uint64_t> done{0};    // parts it finished in that block
    std::atomic<int> inPart{0};       // 1 while it runs a claimed part
};

// Written by whoever ran the part: what it carried out of its top through
// the block (normalized limbs), and for the top part the row's new length.
struct alignas(64) PartSlot {
    std::atomic<uint64_t> claimedIn{0};  // generation of the last block that claimed it
    uint64_t fold[kRowTeamMostMultipliers + 1] = {};
    unsigned foldLength = 0;
    uint64_t length = 0;
};

struct Team {
    RowTeamOptions options{nullptr, nullptr, kRowTeamMinPartLimbs};
    unsigned threads = 1;  // the caller (slot 0) and its helpers
    uint64_t generation = 0;
    unsigned soloBlocksLeft = 0;  // blocks the caller runs alone after a wait
    unsigned soloBlocksNext = 0;  // how many the next wait earns
    std::thread helpers[kMaxThreads];
    ThreadSlot slots[kMaxThreads];

    // The block: written by the caller before it publishes the ticket, read
    // by whoever claims one of its parts.
    uint64_t* limbs = nullptr;
    uint64_t multipliers[kRowTeamMostMultipliers] = {};
    unsigned multiplierCount = 0;
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

// Claims a part for the block `generation`; false when another thread has it.
// A thread still holding the ticket of a finished block finds every part of
// that block claimed.
bool Claim(unsigned part, uint64_t generation) {
    std::atomic<uint64_t>& claimedIn = team.parts[part].claimedIn;
    uint64_t seen = claimedIn.load(std::memory_order_relaxed);
    return seen < generation && claimedIn.compare_exchange_strong(seen, generation);
}

// fold = fold * a + c, in normalized limbs; c is below 10^18.
void Fold(PartSlot& p, uint64_t a, uint64_t c) {
    for (unsigned i = 0; i < p.foldLength; ++i) {
        uint64_t r;
        const uint64_t q = SplitProduct(p.fold[i], a, &r);
        p.fold[i] = FinishLimb(r, q, &c);
    }
    if (c != 0) p.fold[p.foldLength++] = c;
}

// Takes a part through the whole block. The top part's carries are the
// number's new limbs, which the later multipliers take too.
void MultiplyPart(unsigned part, unsigned parts) {
    PartSlot& p = team.parts[part];
    uint64_t* const limbs = team.limbs + team.bounds[part];
    uint64_t length = team.bounds[part + 1] - team.bounds[part];
    const bool top = part + 1 == parts;
    p.foldLength = 0;
    for (unsigned g = 0; g < team.multiplierCount; ++g) {
        uint64_t carry = 0;
        team.row(limbs, length, team.multipliers[g], &carry);
        if (!top) {
            Fold(p, team.multipliers[g], carry);
        } else if (carry != 0) {
            limbs[length++] = carry;
        }
    }
    p.length = team.bounds[part] + length;
}

void RunPart(unsigned part, unsigned parts, uint64_t generation, ThreadSlot& slot) {
    slot.inPart.store(1, std::memory_order_relaxed);
    MultiplyPart(part, parts);
    slot.inPart.store(0, std::memory_order_relaxed);
    CountPartDone(slot, generation);
}

// Runs thread `self`'s share of the block `ticket` names, from the bottom up,
// until it finds a part taken (the caller takes over a late share from the top).
void RunShare(uint64_t ticket, unsigned self) {
    const uint64_t generation = Generation(ticket);
    const unsigned parts = PartCount(ticket);
    ThreadSlot& slot = team.slots[self];
    for (unsigned part = self * parts / team.threads; part < (self + 1) * parts / team.threads;
         ++part) {
        if (team.quit.load(std::memory_order_relaxed) != 0 || !Claim(part, generation)) break;
        RunPart(part, parts, generation, slot);
    }
}

// The caller, its own share done: takes over the highest part of another
// share that nobody has started. Returns false when there is none.
bool TakeOverAPart(uint64_t generation, unsigned parts) {
    for (unsigned part = parts; part-- > parts / team.threads;) {
        if (Claim(part, generation)) {
            RunPart(part, parts, generation, team.slots[0]);
            return true;
        }
    }
    return false;
}

// Returns the ticket of the first block after generation `served`, or any
// ticket once the team ends.
uint64_t WaitForBlock(uint64_t served) {
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

void ServeBlocks(void* context) {
    const unsigned self = static_cast<unsigned>(reinterpret_cast<uintptr_t>(context));
    ThreadSlot& slot = team.slots[self];
    for (;;) {
        const uint64_t ticket = WaitForBlock(slot.served.load(std::memory_order_relaxed));
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
            code = team.options.guard(ServeBlocks, context);
        } else {
            ServeBlocks(context);
        }
        if (code == 0) return;
        // The part it ran is lost: the fault is recorded for the caller first,
        // then the part counts as done so the block can end.
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

// Adds a part's fold at the bottom of the part above, passing any excess of
// a limb up (the limbs it touches end normalized), above the top into new
// limbs. Returns the row's length after it.
uint64_t AddFold(uint64_t* limbs, uint64_t at, const PartSlot& p, uint64_t length) {
    uint64_t c = 0;
    for (unsigned i = 0; i < p.foldLength || c != 0; ++i, ++at) {
        if (at == length) limbs[length++] = 0;
        const uint64_t v = limbs[at] + (i < p.foldLength ? p.fold[i] : 0) + c;  // below 2^62
        c = v / kLimbBase;
        limbs[at] = v - c * kLimbBase;
    }
    return length;
}

}  // namespace

unsigned RowTeamStart(unsigned threads, const RowTeamOptions& options) {
    team.options = options;
    // Interior part bounds move up to 7 limbs for alignment; 16 keeps every
    // part non-empty.
    if (team.options.minPartLimbs < 16) team.options.minPartLimbs = 16;
    team.quit.store(0);
    team.fault.store(0);
    team.threads = 1;
    team.soloBlocksLeft = team.soloBlocksNext = 0;
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

namespace {

// Publishes the block, runs the caller's share, and waits for the helpers'.
// The helpers' shares stay theirs while they keep up, so their limbs stay in
// their caches; a part nobody has started once the caller has waited half as
// long as one of its own took, it does itself.
void RunBlockOnTeam(unsigned parts) {
    const uint64_t generation = ++team.generation;
    const uint64_t ticket = generation << 8 | parts;
    const uint64_t start = __rdtsc();
    team.ticket.store(ticket);
    const bool woken = team.sleepers.load() != 0;
    if (woken) {
        std::lock_guard<std::mutex> hold(team.sleepLock);
        team.wake.notify_all();
    }
    RunShare(ticket, 0);
    const uint64_t ownParts = parts / team.threads;
    const uint64_t partTicks = ownParts ? (__rdtsc() - start) / ownParts : 0;
    // Once a helper is seen behind, the caller takes over its unstarted parts
    // one after another.
    bool behind = false;
    uint64_t waitFrom = __rdtsc();
    for (unsigned round = 0; PartsDone(generation) != parts; ++round) {
        if ((behind || __rdtsc() - waitFrom > partTicks / 2) && TakeOverAPart(generation, parts)) {
            behind = true;
            continue;
        }
        WaitALittle(round, kCallerSpinRounds);
    }
    // A block that took more than four fifths of what the caller alone would
    // have needed: the helpers' processors are busy with other work. (A
    // helper woken from sleep is slow to come; that block says nothing.)
    const uint64_t blockTicks = __rdtsc() - start;
    if (!woken && blockTicks * 5 > parts * partTicks * 4) {
        team.soloBlocksNext = team.soloBlocksNext * 2 + 1;
        if (team.soloBlocksNext > kMostSoloBlocks) team.soloBlocksNext = kMostSoloBlocks;
        team.soloBlocksLeft = team.soloBlocksNext;
    } else if (!woken) {
        team.soloBlocksNext /= 2;
    }
    const unsigned long fault = team.fault.exchange(0);
    if (fault != 0 && team.options.raise) team.options.raise(fault);
}

}  // namespace

unsigned RowTeamBlockLength(uint64_t count) {
    return count < 2 * team.options.minPartLimbs ? 1 : kRowTeamMostMultipliers;
}

uint64_t RowTeamMultiply(uint64_t* limbs, uint64_t count, const uint64_t* multipliers, unsigned m,
                         MultiplyRowFn row) {
    if (count < 2 * team.options.minPartLimbs) {
        for (unsigned g = 0; g < m; ++g) {
            uint64_t carry = 0;
            row(limbs, count, multipliers[g], &carry);
            if (carry != 0) limbs[count++] = carry;
        }
        return count;
    }
    uint64_t wanted = team.threads * kMinPartsPerThread;
    if (wanted < kPartsPerPass) wanted = kPartsPerPass;
    if (wanted < count / kCachedPartLimbs) wanted = count / kCachedPartLimbs;
    uint64_t partLimbs = count / wanted;
    if (partLimbs < team.options.minPartLimbs) partLimbs = team.options.minPartLimbs;
    uint64_t parts = count / partLimbs;
    if (parts > kMaxParts) parts = kMaxParts;

    team.limbs = limbs;
    for (unsigned g = 0; g < m; ++g) team.multipliers[g] = multipliers[g];
    team.multiplierCount = m;
    team.row = row;
    team.bounds[0] = 0;
    for (uint64_t j = 1; j < parts; ++j) {
        // Interior bounds on 64-byte boundaries keep every part's vectors aligned.
        const uintptr_t at = reinterpret_cast<uintptr_t>(limbs + count * j / parts);
        team.bounds[j] = ((at + 63) / 64 * 64 - reinterpret_cast<uintptr_t>(limbs)) / 8;
    }
    team.bounds[parts] = count;

    if (team.threads < 2 || team.soloBlocksLeft > 0) {
        if (team.soloBlocksLeft > 0) --team.soloBlocksLeft;
        for (unsigned part = 0; part < parts; ++part)
            MultiplyPart(part, static_cast<unsigned>(parts));
    } else {
        RunBlockOnTeam(static_cast<unsigned>(parts));
    }

    uint64_t length = team.parts[parts - 1].length;
    for (uint64_t j = 0; j + 1 < parts; ++j) {
        length = AddFold(limbs, team.bounds[j + 1], team.parts[j], length);
    }
    return length;
}
