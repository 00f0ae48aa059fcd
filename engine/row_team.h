// The threads that share a long row's multiplication: the calling thread and
// the helpers it starts once per job.
//
// A block is several multipliers applied to the row one after another. The
// row is cut into parts on 64-byte boundaries, each taken through the whole
// block by one thread while its limbs stay in that thread's cache, every
// multiplier with carry 0 in the part's lowest limb. What a part carries out
// of its top, multiplied on by the block's later multipliers, adds up to one
// value that belongs at the bottom of the part above: the caller adds it
// there once all parts are done. The top part grows the number itself.
//
// Each thread has a share of the parts, the same every block. A helper that
// is late or never gets a core only means the caller takes over the parts
// it has not started. Between blocks the helpers spin briefly, then yield,
// then sleep until the next block or the end of the team.
#pragma once

#include <cstdint>

#include "engine/multiply_row.h"
#include "engine/work_team.h"

struct RowTeamOptions {
    // Runs body(context) so that a processor fault inside it ends it instead
    // of the process, returning the fault's code (0: no fault). Each helper
    // serves its blocks inside it. Null: no guard.
    unsigned long (*guard)(void (*body)(void*), void* context);
    // Called on the calling thread, after the block, when a helper's part
    // faulted; expected not to return (it raises the fault where the caller
    // guards). Null: the fault is dropped.
    void (*raise)(unsigned long code);
    // Parts are at least this many limbs long; shorter rows stay whole.
    uint64_t minPartLimbs;
};

constexpr uint64_t kRowTeamMinPartLimbs = 2048;
constexpr unsigned kRowTeamMostMultipliers = 8;  // in one block

// Starts threads - 1 helpers (none when threads <= 1). Returns how many
// threads the team has, the caller included: fewer when the system refuses
// a thread. Only while no team runs.
unsigned RowTeamStart(unsigned threads, const RowTeamOptions& options);

// Ends the helpers and waits for them. Harmless without a team.
void RowTeamStop();

// How many multipliers a block over a row of `count` limbs takes: 1 for a
// row too short to cut into parts.
unsigned RowTeamBlockLength(uint64_t count);

// Multiplies limbs[0 .. count) by multipliers[0], then [1], ..., [m - 1]
// (1 <= m <= kRowTeamMostMultipliers), each within what the row kernel `row`
// takes (see multiply_row.h for the two forms; the limbs where a fold is
// added end normalized, which either form takes). Writes the limbs the value
// gains above the row (at most m + 1; the room is the caller's to keep) and
// returns the row's new length. Only the thread that started the team calls it.
uint64_t RowTeamMultiply(uint64_t* limbs, uint64_t count, const uint64_t* multipliers, unsigned m,
                         MultiplyRowFn row);
