// The factorial job: one computation of N! on a worker thread, from the
// allocation of the accumulator to the result file and the end report.
// There is one job in the process; the main window fills it and starts it on
// the UI thread, the worker reports through the notification slots, and the
// worker's last act is to send the main window command 103 (IDM_JOBEND),
// whose handler calls OnJobEnd.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "job/elapsed_time.h"

// The job record: what the main window hands in and what the worker hands out.
struct FactorialJob {
    // UTF-16, NUL-terminated: any path the save dialog returns.
    wchar_t destinationPath[512];
    TIMERPROC progressProc;    // run by the job's timer on the UI thread
    HINSTANCE instance;        // module of string 1002 (the title OnJobEnd restores)
    uint64_t estimatedDigits;  // StartJob
    uint64_t resultDigits;     // worker, after the loop
    uint64_t allocatedBytes;   // worker, after allocation (page-rounded)
    ElapsedTime elapsed;       // worker, after the loop
};

using JobNotification = void (*)();

// Called on the worker thread while it holds the job semaphore.
struct JobNotifications {
    JobNotification onStarted;
    JobNotification onFinished;
    JobNotification onStopped;
    JobNotification onFailed;
};

// The job state. Words read by another thread than the one writing them are
// atomic; the loop's stop flag in particular must be read from memory at
// every checkpoint.
struct JobState {
    FactorialJob* job;
    std::atomic<uint64_t> n;
    std::atomic<uint64_t> currentMultiplier;
    uint32_t progressIntervalMs;  // 0: no timer
    HANDLE semaphore;             // null while no job is set up
    JobNotifications notifications;
    HWND mainWindow;
    std::atomic<int32_t> computing;       // 1 from the started report to the end report
    std::atomic<int32_t> multiplyStatus;  // result of the last step (AccMultiply's codes)
    std::atomic<int32_t> errorMessageId;  // 2100 .. 2107 for a failed job
    DWORD workerThreadId;
    HANDLE workerThread;
    UINT_PTR timerId;  // 0: no timer
    std::atomic<int32_t> stopFlag;
    // 1 from StartJob to the end of OnJobEnd: the span in which no second job
    // may start and the program may not close.
    std::atomic<int32_t> setUp;
    // Raised by the worker just before it sends 103, cleared by OnJobEnd: a
    // 103 that another program posts finds it 0 and ends nothing.
    std::atomic<int32_t> endReported{0};
};

extern JobState jobState;

// Once, before WinMain: the job object's construction.
void ResetJob(FactorialJob* job);

// UI thread. The main window has filled mainWindow, n, destinationPath,
// progressIntervalMs, the slots, progressProc and instance.
// When the semaphore or the worker thread cannot be had, the job ends before
// this returns: errorMessageId 2104, onFailed called here on the UI thread
// (no onStarted, no end command), then OnJobEnd; the next job can start.
void StartJob(FactorialJob* job);

// UI thread: asks the running job to stop at its next checkpoint,
// through a short-lived thread whose handle is closed at once (the flag is
// set directly when no thread can be started).
void RequestStop();

// UI thread, on command 103 from the worker: kills the timer, closes the
// semaphore and the worker's handle, restores the title, flashes a minimised
// window, and clears setUp last. Does nothing unless the worker reported its
// end (endReported) or the job never got a worker.
void OnJobEnd(FactorialJob* job);

// Whether a job is set up (between StartJob and the end of its OnJobEnd).
bool JobIsSetUp();

// Flashes the window's caption and taskbar button `count` times, where the
// system offers FlashWindowEx.
void FlashMainWindow(HWND window, DWORD timeout, UINT count);
