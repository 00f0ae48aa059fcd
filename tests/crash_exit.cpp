// Linked into every Windows test program: one that crashes must fail. Under Wine a process that
// dies of an unhandled exception after it had a second thread leaves the Unix exit status 0,
// which CTest takes for a pass; so the program ends itself, with a status of its own.
#include <windows.h>

#include <cstdio>

namespace {

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* info) {
    std::fprintf(stderr, "crashed: exception 0x%08lX at %p\n", info->ExceptionRecord->ExceptionCode,
                 info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

const LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = SetUnhandledExceptionFilter(EndOnCrash);

}  // namespace
