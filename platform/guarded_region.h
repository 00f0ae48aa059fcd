// Runs a piece of code so that a processor exception inside it (a division
// fault, an illegal instruction, an access violation...) ends the piece
// instead of the process. Windows only.
#pragma once

#include <windows.h>

// Calls body(context) on the calling thread. Returns 0 when it returned
// normally, otherwise the code of the exception that ended it. The body
// must not rely on anything it left in registers or on its own stack frame
// once it faulted: it is abandoned, not unwound (no destructors run).
DWORD RunGuarded(void (*body)(void*), void* context);
