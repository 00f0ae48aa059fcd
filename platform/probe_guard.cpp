#include "platform/probe_guard.h"

namespace {

// Per-thread state of the active region. The handler runs on the faulting
// thread, so a thread-local resume context is the one to restore.
thread_local CONTEXT* activeResume;
thread_local volatile DWORD caughtCode;
thread_local volatile LONG faulted;

LONG CALLBACK GuardHandler(EXCEPTION_POINTERS* info) {
    CONTEXT* resume = activeResume;
    if (!resume) return EXCEPTION_CONTINUE_SEARCH;
    activeResume = nullptr;
    caughtCode = info->ExceptionRecord->ExceptionCode;
    faulted = 1;
    *info->ContextRecord = *resume;
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

__attribute__((noinline)) DWORD RunProbeGuarded(void (*body)(void*), void* argument) {
    alignas(16) static thread_local CONTEXT resume;
    caughtCode = 0;
    faulted = 0;
    PVOID handler = AddVectoredExceptionHandler(1, GuardHandler);
    if (!handler) {
        // Without a handler a fault would end the process: report the region
        // as faulted without running it.
        return STATUS_ACCESS_VIOLATION;
    }
    // A fault resumes right behind this call, with faulted set; everything the
    // rest of the function needs lives in thread-local memory or was computed
    // before the capture.
    RtlCaptureContext(&resume);
    if (!faulted) {
        activeResume = &resume;
        body(argument);
        activeResume = nullptr;
    }
    RemoveVectoredExceptionHandler(handler);
    return faulted ? static_cast<DWORD>(caughtCode) : 0;
}
