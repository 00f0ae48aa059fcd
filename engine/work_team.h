// The threads that share the job's large products: the calling thread (the
// job's worker) and helpers it starts once per job.
//
// A run is a number of independent parts. Every thread claims the next part
// nobody has claimed yet, so a helper that is late or never gets a processor
// only means the caller takes its parts. A thread with nothing to claim spins
// briefly, then sleeps: a helper until the next run or the end of the team,
// the caller until the last part of its run ends.
#pragma once

#include <cstdint>

struct TeamOptions {
    // Runs body(context) so that a processor fault inside it ends it instead
    // of the process, returning the fault's code (0: no fault). Each helper
    // runs its parts inside it. Null: no guard.
    unsigned long (*guard)(void (*body)(void*), void* context);
    // Called on the calling thread after a run in which a helper's part
    // faulted; expected not to return (it raises the fault where the caller
    // guards). Null: the fault is dropped.
    void (*raise)(unsigned long code);
};

// Processors this process may run on (at least 1).
unsigned UsableProcessorCount();

// Starts threads - 1 helpers (none when threads <= 1). Returns how many
// threads the team has, the caller included: fewer when the system refuses a
// thread. Only while no team runs.
unsigned TeamStart(unsigned threads, const TeamOptions& options);

// Ends the helpers and waits for them. Harmless without a team.
void TeamStop();

// Threads of the running team, the caller included; 1 without a team.
unsigned TeamSize();

// Runs body(context, part) once for every part in [0, parts) and returns when
// all have run. Parts may run in any order and at the same time. Called from
// inside a part, from a helper or without a team, it runs them in order on the
// calling thread.
void TeamRun(unsigned parts, void (*body)(void* context, unsigned part), void* context);

// Runs are counted modulo 2^kTeamGenerationBits. For tests: sets the count,
// so that a test can take the team past its wrap. Only while no team runs.
constexpr unsigned kTeamGenerationBits = 24;
void TeamSetGeneration(uint64_t generation);
