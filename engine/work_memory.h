// The job's working memory: one block, taken when the job starts computing
// and given back at its end, from which the products take their tables and
// buffers in stack order. Nothing is held between jobs. One thread takes
// from the block at a time; others only from shares of it (WorkUseShare).
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

// Words WorkTake could still give the calling thread.
uint64_t WorkFreeWords();

// For parts of a team run that take memory at the same time: the calling
// thread's takes and gives go to `words` words at `taken` (a block taken
// for it), as a stack of its own, until it is called with null. A share too
// small traps like the block.
void WorkUseShare(uint64_t* taken, uint64_t words);

// Bytes of the block; the most ever in use at once since it was allocated.
uint64_t WorkMemoryBytes();
uint64_t WorkPeakBytes();

// Words WorkTake(words) uses of the block, alignment included: for sizing.
constexpr uint64_t WorkWords(uint64_t words) { return (words + 7) / 8 * 8; }
