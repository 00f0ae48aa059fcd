// Stand-ins a test can put in place of the calls through which the job meets
// the system, to reach failures a healthy machine does not produce on demand
// (memory that cannot be had or given back, a thread that cannot start, a
// fault inside the loop, a wrong result, a team of a given size). All null
// in the program: the real calls are made.
// Set them only while no job is set up.
#pragma once

#include <windows.h>

#include <cstdint>

struct JobTestSeams {
    int (*allocate)(uint64_t requested);  // instead of AccAllocate
    int (*allocateWork)(uint64_t bytes);  // instead of WorkMemoryAllocate
    int (*release)();                     // instead of AccRelease
    // Instead of AccFactorialStep, inside the loop.
    int (*step)(uint64_t from, uint64_t to, uint64_t* reached);
    // Instead of CreateThread for the worker: returns its handle or null.
    HANDLE (*startWorker)(LPTHREAD_START_ROUTINE routine, DWORD* threadId);
    // Threads of the work team instead of the processors the process may use.
    unsigned teamThreads;
    // Called on the worker each time the loop has reached k! (k is then
    // currentMultiplier), before it reads the stop flag: a test can hold the
    // job there, computing, for as long as it needs.
    void (*atCheckpoint)(uint64_t k);
};

extern JobTestSeams jobTestSeams;
