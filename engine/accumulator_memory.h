// The accumulator's platform layer: a page-granular, zero-filled block from
// the operating system, and the reads the rest of the program uses.
#pragma once

#include <cstdint>

#include "engine/decimal_accumulator.h"

// Commits `requested` bytes raised to whole pages and sets the value to 1.
// Returns 0, or 1 when no block could be had (the state is then untouched).
int AccAllocate(uint64_t requested);

// Number of limbs of the value: AccTopIndex() + 1.
uint64_t AccLimbCount();

// Returns the block. 0 on success, 1 when the system refused.
int AccRelease();

// Page size the block is rounded to.
uint64_t AccPageSize();

// `requested` raised to the next whole multiple of `page` (unchanged when it
// already is one).
uint64_t RoundUpToPages(uint64_t requested, uint64_t page);
