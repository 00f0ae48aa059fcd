#include "platform/guarded_region.h"

namespace {

// Lives in RunGuarded's frame. Every field is volatile: after a fault the
// registers are those of the instant the context was captured, so anything
// read afterwards has to come from memory.
struct Guard {
    CONTEXT resume;  // where the faulting thread is put back
    void (*volatile body)(void*);
    void* volatile context;
    void* volatile handler;
    volatile LONG armed;       // 1 while the body runs
    volatile DWORD faultCode;  // set by the handler before it resumes
};

// Per thread, so that a fault on any other thread passes by untouched.
thread_local Guard* activeGuard;

// Informational and success codes (debug output, thread names) are raised by
// code that expects to carry on; they are not faults.
bool IsFault(DWORD code) { return (code & 0x80000000u) != 0; }

LONG CALLBACK ResumeAfterFault(EXCEPTION_POINTERS* info) {
    Guard* const g = activeGuard;
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (g == nullptr || !g->armed || !IsFault(code)) return EXCEPTION_CONTINUE_SEARCH;
    g->armed = 0;
    g->faultCode = code;
    // Back to the instant after the capture in RunGuarded, which then finds
    // faultCode set and leaves.
    *info->ContextRecord = g->resume;
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

// Not inlined: the captured context belongs to this frame, which stays alive
// until the body has returned or faulted.
__attribute__((noinline)) DWORD RunGuarded(void (*body)(void*), void* context) {
    Guard g;
    g.body = body;
    g.context = context;
    g.armed = 0;
    g.faultCode = 0;
    activeGuard = &g;
    g.handler = AddVectoredExceptionHandler(1, ResumeAfterFault);
    if (g.handler == nullptr) {
        activeGuard = nullptr;
        body(context);
        return 0;
    }
    RtlCaptureContext(&g.resume);
    if (g.faultCode == 0) {
        g.armed = 1;
        g.body(g.context);
        g.armed = 0;
    }
    RemoveVectoredExceptionHandler(g.handler);
    activeGuard = nullptr;
    return g.faultCode;
}
