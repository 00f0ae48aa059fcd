// The job's working memory: one block, taken when the job starts computing
// and given back at its end, from which the products take their tables and
// buffers in stack order. Nothing is held between jobs.
#pragma once

#include <cstdint>

// Commits `bytes` (raised to whole pages). 0, or 1 when the system refused
// (nothing is held then).
int WorkMemoryAllocate(uint64_t bytes);

// Gives the block back. 0, or 1 when the system refused. Harmless without one.
int WorkMemoryRelease();

// `words` 64-bit words, 64-byte aligned, from the top of the stack. Traps
// (an illegal instruction, which the job reports as a processor fault) when
// the block has no room: that is a sizing fault, never a wrong result.
uint64_t* WorkTake(uint64_t words);

// Gives back `taken` and everything taken after it.
void WorkGive(uint64_t* taken);

// Bytes of the block; the most ever in use at once since it was allocated.
uint64_t WorkMemoryBytes();
uint64_t WorkPeakBytes();

// Words WorkTake(words) uses of the block, alignment included: for sizing.
constexpr uint64_t WorkWords(uint64_t words) { return (words + 7) / 8 * 8; }
