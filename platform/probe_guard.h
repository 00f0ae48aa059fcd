// A region of code whose processor exceptions are caught and reported instead
// of ending the process (mingw has no __try; a vectored handler resumes at a
// context captured on entry).
#pragma once

#include <windows.h>

// Runs body(argument). Returns 0 when it ran through, else the exception code
// that ended it early (0xC000001D for an illegal instruction, ...). Every
// exception code is caught. Regions do not nest on one thread.
DWORD RunProbeGuarded(void (*body)(void*), void* argument);
