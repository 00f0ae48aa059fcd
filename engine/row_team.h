// The threads that share a long row's multiplication: the calling thread and
// the helpers it starts once per job. A pass splits the row into parts on
// 64-byte boundaries, each started with carry 0, several per thread; every
// thread of the team, the caller included, claims parts until none is left,
// so a helper that is late or never gets a core only means its parts are
// done by another thread.
// Once all parts are done, the caller adds each part's carry into the first
// limb of the part above it. Between passes the helpers spin briefly, then
// yield, then sleep until the next pass or the end of the team.
#pragma once

#include <cstdint>

#include "engine/multiply_row.h"

struct RowTeamOptions {
    // Runs body(context) so that a processor fault inside it ends it instead
    // of the process, returning the fault's code (0: no fault). Each helper
    // serves its passes inside it. Null: no guard.
    unsigned long (*guard)(void (*body)(void*), void* context);
    // Called on the calling thread, after the pass, when a helper's part
    // faulted; expected not to return (it raises the fault where the caller
    // guards). Null: the fault is dropped.
    void (*raise)(unsigned long code);
    // Parts are at least this many limbs long; shorter rows stay whole.
    uint64_t minPartLimbs;
};

constexpr uint64_t kRowTeamMinPartLimbs = 2048;

// Processors this process may run on (at least 1).
unsigned UsableProcessorCount();

// Starts threads - 1 helpers (none when threads <= 1). Returns how many
// threads the team has, the caller included: fewer when the system refuses
// a thread. Only while no team runs.
unsigned RowTeamStart(unsigned threads, const RowTeamOptions& options);

// Ends the helpers and waits for them. Harmless without a team.
void RowTeamStop();

// Multiplies limbs[0 .. count) by a with the row kernel `row` (see
// multiply_row.h for the two forms), split across the team when the row is
// long enough. Puts the final carry in *carry; returns what the kernel does.
// Only the thread that started the team calls it.
int RowTeamMultiply(uint64_t* limbs, uint64_t count, uint64_t a, MultiplyRowFn row, bool lazy,
                    uint64_t* carry);
