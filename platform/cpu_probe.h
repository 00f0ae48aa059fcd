// The processor probe: CPUID leaves 0 and 1 read into a CpuFeatures record,
// with the first CPUID and the MONITOR test each in a guarded region.
#pragma once

#include <windows.h>

#include <cstdint>

struct CpuFeatures {
    uint8_t cpuidPresent;
    char vendor[16];
    uint8_t familyByte;  // bits 8..15 of leaf-1 EAX: family and processor type
    uint8_t model;
    uint8_t stepping;
    uint8_t hasFpu;
    uint8_t hasTsc;
    uint8_t hasCmov;
    uint8_t hasMmx;
    uint8_t hasSse;
    uint8_t hasSse2;
    uint8_t hasSse3;
    uint8_t hasHtt;
    uint8_t logicalCount;
    uint8_t hasMonitor;
    uint8_t monitorUsable;
};

// The instructions the probe runs, replaceable so that any processor can be
// described. cpuid fills eax, ebx, ecx, edx for a leaf; monitor arms the
// address (and may fault).
struct CpuInstructions {
    void (*cpuid)(uint32_t leaf, uint32_t registers[4]);
    void (*monitor)(const volatile void* address);
};

// The real CPUID and MONITOR instructions.
CpuInstructions ProcessorInstructions();

// Fills the record as the processor behind instructions answers; pins the
// calling thread to the first processor meanwhile on NT-family systems.
void ProbeCpuWith(CpuFeatures* record, const CpuInstructions& instructions);
void ProbeCpu(CpuFeatures* record);
