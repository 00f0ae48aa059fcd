#include "job/factorial_job.h"

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/factorial_steps.h"
#include "engine/limb_groups.h"
#include "engine/residue_check.h"
#include "engine/size_estimates.h"
#include "engine/work_memory.h"
#include "engine/work_team.h"
#include "platform/guarded_region.h"
#include "job/job_test_seams.h"
#include "job/result_file.h"
#include "job/stopwatch.h"
#include "resources/resource_ids.h"

// Stop starts raised: a job must be started to clear it.
JobState jobState{nullptr, {0}, {0}, 0,       nullptr, {},  nullptr, {0},
                  {0},     {0}, 0,   nullptr, 0,       {1}, {0}};
JobTestSeams jobTestSeams;

namespace {

constexpr UINT_PTR kProgressTimerId = 1000;
constexpr uint64_t kAllocationSlack = 0x10000;
constexpr DWORD kDivideFault = 0xC0000094;  // EXCEPTION_INT_DIVIDE_BY_ZERO

enum class Ending { kFinished, kStopped, kFailed };

int Allocate(uint64_t requested) {
    return jobTestSeams.allocate ? jobTestSeams.allocate(requested) : AccAllocate(requested);
}

int AllocateWork(uint64_t bytes) {
    return jobTestSeams.allocateWork ? jobTestSeams.allocateWork(bytes) : WorkMemoryAllocate(bytes);
}

int Release() { return jobTestSeams.release ? jobTestSeams.release() : AccRelease(); }

void Notify(JobNotification slot) {
    if (slot != nullptr) slot();
}

// The factorial the accumulator holds once the loop is left without a failure.
uint64_t held;

// The loop itself: no lock, no system call. It goes from checkpoint to
// checkpoint, each k! held exactly; currentMultiplier is the last one
// reached, or the exact multiplier where the room ran out.
void MultiplyLoop(void*) {
    int (*const step)(uint64_t, uint64_t, uint64_t*) =
        jobTestSeams.step ? jobTestSeams.step : AccFactorialStep;
    const uint64_t n = jobState.n.load(std::memory_order_relaxed);
    PrepareFactorialSteps(n);
    uint64_t checkpoints[kMostCheckpoints];
    const unsigned count = FactorialCheckpoints(n, checkpoints);
    held = 0;
    for (unsigned i = 0; i < count; ++i) {
        const uint64_t k = checkpoints[i];
        uint64_t reached = k;
        const int status = step(held, k, &reached);
        jobState.multiplyStatus.store(status, std::memory_order_relaxed);
        if (status != kAccOk) {
            jobState.currentMultiplier.store(reached, std::memory_order_relaxed);
            return;
        }
        held = k;
        jobState.currentMultiplier.store(k, std::memory_order_relaxed);
        if (jobTestSeams.atCheckpoint) jobTestSeams.atCheckpoint(k);
        if (jobState.stopFlag.load(std::memory_order_relaxed) != 0) return;
    }
    jobState.currentMultiplier.store(n + 1, std::memory_order_relaxed);
}

// The check's two halves, n! and the value modulo the same primes, side by side.
uint64_t expectedResidues[kCheckPrimes], heldResidues[kCheckPrimes];
bool limbsFit, checkPassed;
void CheckHalf(void*, unsigned part) {
    if (part == 0) {
        FactorialResidues(held, expectedResidues);
    } else {
        limbsFit = AccResidues(heldResidues);
    }
}
void CheckResult(void*) {
    TeamRun(2, CheckHalf, nullptr);
    checkPassed = limbsFit;
    for (int i = 0; i < kCheckPrimes; ++i) {
        checkPassed = checkPassed && heldResidues[i] == expectedResidues[i];
    }
}

// The bottom of the work memory, taken when it is allocated: after the loop
// the whole block is free again for the file.
uint64_t* workBase;

// The file goes out through the work memory, whose pages the loop has
// touched already, in as few slices as it allows; a block smaller than the
// writer's own buffer leaves the job to that.
int WriteThroughWorkMemory(const FactorialJob* job) {
    const uint64_t n = jobState.n.load(std::memory_order_relaxed);
    const uint64_t bytes = WorkMemoryBytes();
    if (bytes < kResultFileBufferBytes) return WriteResultFile(job->destinationPath, n);
    WorkGive(workBase);
    char* const buffer = reinterpret_cast<char*>(WorkTake(bytes / 8));
    const int result = WriteResultFileThrough(job->destinationPath, n, buffer, bytes);
    WorkGive(workBase);
    return result;
}

// A fault in a helper's part, raised again on the worker inside its guard, so
// it ends the job as one in the worker's own part would.
void RaiseOnWorker(unsigned long code) { RaiseException(code, 0, 0, nullptr); }

Ending Fail(int32_t messageId) {
    jobState.errorMessageId.store(messageId, std::memory_order_relaxed);
    return Ending::kFailed;
}

Ending FailOnFault(DWORD fault) {
    return Fail(fault == kDivideFault ? IDS_ERR_DIVIDE : IDS_ERR_ILLEGAL);
}

// The loop's result, checked, and the file, or why there is none.
Ending CheckAndWrite(FactorialJob* job) {
    ElapsedStartToEnd(&job->elapsed);
    job->resultDigits = CountResultDigits();
    const int32_t status = jobState.multiplyStatus.load(std::memory_order_relaxed);
    if (status == kAccOverflow) return Fail(IDS_ERR_OVERFLOW);
    if (status == kAccNoRoom) return Fail(IDS_ERR_NO_ROOM);
    if (status != kAccOk) return Fail(IDS_ERR_UNEXPECTED);
    // Outside the timed span, like the file: what is reported, finished or
    // stopped, must be the factorial it claims to be.
    const DWORD checkFault = RunGuarded(CheckResult, nullptr);
    if (checkFault != 0) return FailOnFault(checkFault);
    if (!checkPassed) return Fail(IDS_ERR_UNEXPECTED);
    // A stop that came after the last multiplier still wins: no file.
    if (jobState.stopFlag.load(std::memory_order_relaxed) != 0) return Ending::kStopped;
    if (WriteThroughWorkMemory(job) != 0) return Fail(IDS_ERR_WRITE);
    return Ending::kFinished;
}

// Everything between the start report and the end report: the loop, its
// timing, the check and the file. The memory is given back on every path.
Ending ComputeAndWrite(FactorialJob* job) {
    const DWORD fault = RunGuarded(MultiplyLoop, nullptr);
    if (fault == 0) MarkEnd();
    const Ending ending = fault != 0 ? FailOnFault(fault) : CheckAndWrite(job);
    // The team checks and formats too; its helpers are done with the memory
    // before it is released.
    TeamStop();
    const bool workReleased = WorkMemoryRelease() == 0;
    if (ending != Ending::kFinished) {
        Release();
        return ending;
    }
    if (Release() != 0 || !workReleased) return Fail(IDS_ERR_RELEASE);
    return Ending::kFinished;
}

void JobWorker() {
    FactorialJob* const job = jobState.job;
    Ending ending;
    const uint64_t n = jobState.n.load(std::memory_order_relaxed);
    if (Allocate(BytesForDigits(job->estimatedDigits) + kAllocationSlack) != 0) {
        ending = Fail(IDS_ERR_ALLOCATE);
    } else if (AllocateWork(FactorialWorkBytes(n)) != 0) {
        Release();
        ending = Fail(IDS_ERR_ALLOCATE);
    } else {
        workBase = WorkTake(0);
        job->allocatedBytes = AccByteSize();
        const unsigned threads =
            jobTestSeams.teamThreads ? jobTestSeams.teamThreads : UsableProcessorCount();
        TeamStart(threads, {RunGuarded, RaiseOnWorker});
        WaitForSingleObject(jobState.semaphore, INFINITE);
        Notify(jobState.notifications.onStarted);
        // Before computing turns 1, so no tick reads the last job's start.
        MarkStart();
        jobState.computing.store(1, std::memory_order_relaxed);
        ReleaseSemaphore(jobState.semaphore, 1, nullptr);
        ending = ComputeAndWrite(job);
    }

    WaitForSingleObject(jobState.semaphore, INFINITE);
    jobState.computing.store(0, std::memory_order_relaxed);
    switch (ending) {
        case Ending::kFinished:
            Notify(jobState.notifications.onFinished);
            break;
        case Ending::kStopped:
            Notify(jobState.notifications.onStopped);
            break;
        case Ending::kFailed:
            Notify(jobState.notifications.onFailed);
            break;
    }
    ReleaseSemaphore(jobState.semaphore, 1, nullptr);
    jobState.endReported.store(1);
    SendMessageA(jobState.mainWindow, WM_COMMAND, IDM_JOBEND, 0);
}

DWORD WINAPI WorkerEntry(LPVOID) {
    JobWorker();
    return 0;
}

DWORD WINAPI StopEntry(LPVOID) {
    jobState.stopFlag.store(1, std::memory_order_relaxed);
    return 0;
}

HANDLE StartWorker(DWORD* threadId) {
    if (jobTestSeams.startWorker) return jobTestSeams.startWorker(WorkerEntry, threadId);
    return CreateThread(nullptr, 0, WorkerEntry, nullptr, 0, threadId);
}

// The job could not get going: report it as failed on this thread and end it
// at once, so nothing is left ticking and the next job can start.
void EndUnstartedJob(FactorialJob* job) {
    jobState.errorMessageId.store(IDS_ERR_UNEXPECTED, std::memory_order_relaxed);
    Notify(jobState.notifications.onFailed);
    OnJobEnd(job);
}

}  // namespace

void ResetJob(FactorialJob* job) {
    jobState.job = job;
    jobState.stopFlag.store(1, std::memory_order_relaxed);
    jobState.mainWindow = nullptr;
    jobState.semaphore = nullptr;
    jobState.workerThread = nullptr;
    jobState.n.store(0, std::memory_order_relaxed);
    jobState.currentMultiplier.store(0, std::memory_order_relaxed);
    jobState.progressIntervalMs = 0;
    jobState.computing.store(0, std::memory_order_relaxed);
    jobState.multiplyStatus.store(0, std::memory_order_relaxed);
    jobState.errorMessageId.store(0, std::memory_order_relaxed);
    jobState.workerThreadId = 0;
    jobState.timerId = 0;
    jobState.setUp.store(0, std::memory_order_relaxed);
    job->instance = nullptr;
}

void StartJob(FactorialJob* job) {
    jobState.setUp.store(1, std::memory_order_relaxed);
    jobState.job = job;
    jobState.currentMultiplier.store(1, std::memory_order_relaxed);
    jobState.timerId = 0;
    jobState.semaphore = nullptr;
    jobState.stopFlag.store(0, std::memory_order_relaxed);
    jobState.computing.store(0, std::memory_order_relaxed);
    jobState.multiplyStatus.store(0, std::memory_order_relaxed);
    jobState.errorMessageId.store(0, std::memory_order_relaxed);
    job->estimatedDigits =
        static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(jobState.n.load())));

    jobState.semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    if (jobState.semaphore == nullptr) {
        EndUnstartedJob(job);
        return;
    }
    // The handle is stored before the worker can reach OnJobEnd: that needs
    // this thread to handle its end command, which happens after we return.
    jobState.workerThread = StartWorker(&jobState.workerThreadId);
    if (jobState.workerThread == nullptr) {
        EndUnstartedJob(job);
        return;
    }
    if (jobState.progressIntervalMs != 0) {
        jobState.timerId = SetTimer(jobState.mainWindow, kProgressTimerId,
                                    jobState.progressIntervalMs, job->progressProc);
    }
}

void RequestStop() {
    HANDLE stopper = CreateThread(nullptr, 0, StopEntry, nullptr, 0, nullptr);
    if (stopper != nullptr) {
        CloseHandle(stopper);
    } else {
        // No thread to spare: the flag is an atomic word, set it from here.
        StopEntry(nullptr);
    }
}

void OnJobEnd(FactorialJob* job) {
    // Only the job's own end counts. A job that got no worker (StartJob ends
    // it at once) has nobody to report; with no job set up there is nothing
    // to end.
    const bool reported = jobState.endReported.exchange(0) != 0;
    if (!JobIsSetUp() || (!reported && jobState.workerThread != nullptr)) return;
    if (jobState.timerId != 0) {
        KillTimer(jobState.mainWindow, jobState.timerId);
        jobState.timerId = 0;
    }
    if (jobState.semaphore != nullptr) CloseHandle(jobState.semaphore);
    jobState.semaphore = nullptr;
    // The worker only returns from its end command after this; nobody waits
    // on its handle.
    if (jobState.workerThread != nullptr) CloseHandle(jobState.workerThread);
    jobState.workerThread = nullptr;

    wchar_t title[256];
    if (LoadStringW(job->instance, IDS_TITLE, title, 256) > 0) {
        SetWindowTextW(jobState.mainWindow, title);
    }
    if (IsIconic(jobState.mainWindow)) FlashMainWindow(jobState.mainWindow, 0, 3);
    jobState.setUp.store(0, std::memory_order_relaxed);
}

bool JobIsSetUp() { return jobState.setUp.load(std::memory_order_relaxed) != 0; }

void FlashMainWindow(HWND window, DWORD timeout, UINT count) {
    using FlashProc = BOOL(WINAPI*)(PFLASHWINFO);
    HMODULE user32 = GetModuleHandleA("user32");
    if (user32 == nullptr) return;
    const FARPROC found = GetProcAddress(user32, "FlashWindowEx");
    if (found == nullptr) return;
    const FlashProc flash = reinterpret_cast<FlashProc>(reinterpret_cast<void (*)()>(found));
    FLASHWINFO info;
    info.cbSize = sizeof(info);
    info.hwnd = window;
    info.dwFlags = FLASHW_ALL;
    info.uCount = count;
    info.dwTimeout = timeout;
    flash(&info);
}
