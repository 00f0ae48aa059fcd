#include "platform/cpu_probe.h"

#include <cpuid.h>

#include "platform/guarded_region.h"
#include "platform/requirements.h"

namespace {

void ExecuteCpuid(uint32_t leaf, uint32_t registers[4]) {
    __cpuid(leaf, registers[0], registers[1], registers[2], registers[3]);
}

void ExecuteMonitor(const volatile void* address) {
    asm volatile("monitor" : : "a"(address), "c"(0), "d"(0) : "memory");
}

// The probe's own variable: the MONITOR address and the scratch of the
// guarded regions. Only one probe runs at a time.
struct ProbeScratch {
    const CpuInstructions* instructions;
    uint32_t registers[4];
};
volatile uint32_t monitorTarget;
ProbeScratch scratch;

void FirstCpuid(void*) { scratch.instructions->cpuid(0, scratch.registers); }
void ArmMonitor(void*) { scratch.instructions->monitor(&monitorTarget); }

uint32_t Register(const CpuInstructions& cpu, uint32_t leaf, int index) {
    uint32_t registers[4] = {};
    cpu.cpuid(leaf, registers);
    return registers[index];
}

uint8_t Bit(uint32_t value, int bit) { return static_cast<uint8_t>((value >> bit) & 1); }

enum { kEax = 0, kEbx = 1, kEcx = 2, kEdx = 3 };

bool OnNtPlatform() { return IsWindowsNT() == 1; }

}  // namespace

CpuInstructions ProcessorInstructions() { return CpuInstructions{ExecuteCpuid, ExecuteMonitor}; }

void ProbeCpuWith(CpuFeatures* record, const CpuInstructions& cpu) {
    DWORD_PTR savedMask = 1;
    const bool pinned = OnNtPlatform();
    if (pinned) savedMask = SetThreadAffinityMask(GetCurrentThread(), 1);

    scratch.instructions = &cpu;
    if (RunGuarded(FirstCpuid, nullptr) != 0) {
        record->cpuidPresent = 0;
        if (pinned) SetThreadAffinityMask(GetCurrentThread(), savedMask);
        return;
    }
    record->cpuidPresent = 1;

    const uint32_t ebx = Register(cpu, 0, kEbx);
    const uint32_t edx = Register(cpu, 0, kEdx);
    const uint32_t ecx = Register(cpu, 0, kEcx);
    for (int i = 0; i < 4; ++i) {
        record->vendor[i] = static_cast<char>(ebx >> (8 * i));
        record->vendor[4 + i] = static_cast<char>(edx >> (8 * i));
        record->vendor[8 + i] = static_cast<char>(ecx >> (8 * i));
    }
    record->vendor[12] = '\0';

    record->familyByte = static_cast<uint8_t>(Register(cpu, 1, kEax) >> 8);
    record->model = static_cast<uint8_t>((Register(cpu, 1, kEax) >> 4) & 0xF);
    record->stepping = static_cast<uint8_t>(Register(cpu, 1, kEax) & 0xF);
    record->hasFpu = Bit(Register(cpu, 1, kEdx), 0);
    record->hasTsc = Bit(Register(cpu, 1, kEdx), 4);
    record->hasCmov = Bit(Register(cpu, 1, kEdx), 15);
    record->hasMmx = Bit(Register(cpu, 1, kEdx), 23);
    record->hasSse = Bit(Register(cpu, 1, kEdx), 25);
    record->hasSse2 = Bit(Register(cpu, 1, kEdx), 26);
    record->hasSse3 = Bit(Register(cpu, 1, kEcx), 0);
    record->hasHtt = Bit(Register(cpu, 1, kEdx), 28);
    record->logicalCount = record->hasHtt ? static_cast<uint8_t>(Register(cpu, 1, kEbx) >> 16) : 0;
    record->hasMonitor = Bit(Register(cpu, 1, kEcx), 3);

    if (record->hasMonitor) {
        record->monitorUsable = 1;
        if (RunGuarded(ArmMonitor, nullptr) != 0) record->monitorUsable = 0;
    } else {
        record->monitorUsable = 0;
    }

    if (pinned) SetThreadAffinityMask(GetCurrentThread(), savedMask);
}

void ProbeCpu(CpuFeatures* record) { ProbeCpuWith(record, ProcessorInstructions()); }
