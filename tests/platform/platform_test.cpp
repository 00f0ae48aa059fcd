// Host classification, processor probe and start-up rule, with injected lookups.
#include <gtest/gtest.h>
#include <windows.h>

#include <cpuid.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/cpu_probe.h"
#include "platform/host_kind.h"
#include "platform/requirements.h"

namespace {

BOOL fakeWow64 = 0;
WORD fakeArchitecture = 0;
int wow64Calls = 0;

BOOL WINAPI FakeIsWow64Process(HANDLE, BOOL* wow64) {
    ++wow64Calls;
    *wow64 = fakeWow64;
    return TRUE;
}
void WINAPI FakeGetNativeSystemInfo(SYSTEM_INFO* info) {
    std::memset(info, 0xCC, sizeof(*info));
    info->wProcessorArchitecture = fakeArchitecture;
}

HostKind DetectFake(BOOL wow64, WORD architecture) {
    fakeWow64 = wow64;
    fakeArchitecture = architecture;
    return DetectHostWith(HostLookups{FakeIsWow64Process, FakeGetNativeSystemInfo});
}

TEST(HostKindTest, EveryRowOfTheTable) {
    const WORD amd64 = PROCESSOR_ARCHITECTURE_AMD64, intel = PROCESSOR_ARCHITECTURE_INTEL,
               ia64 = PROCESSOR_ARCHITECTURE_IA64, arm64 = 12;
    EXPECT_EQ(DetectFake(1, amd64), HostWow64OnX64);
    EXPECT_EQ(DetectFake(1, intel), HostWow64OnX64);
    EXPECT_EQ(DetectFake(1, ia64), HostWow64OnIa64);
    EXPECT_EQ(DetectFake(1, arm64), HostWin64Native);
    EXPECT_EQ(DetectFake(1, 5), HostWin64Native);
    EXPECT_EQ(DetectFake(0, ia64), HostWin64OnIa64);
    EXPECT_EQ(DetectFake(0, amd64), HostWin64Native);
    EXPECT_EQ(DetectFake(0, intel), HostWin64Native);
    EXPECT_EQ(DetectFake(0, arm64), HostWin64Native);
    // A flag that is neither 0 nor 1 is no WOW64 answer.
    EXPECT_EQ(DetectFake(2, ia64), HostWin64Native);
    EXPECT_EQ(DetectFake(-1, amd64), HostWin64Native);
}

TEST(HostKindTest, MissingLookupsMeanPlainWin32) {
    wow64Calls = 0;
    EXPECT_EQ(DetectHostWith(HostLookups{nullptr, FakeGetNativeSystemInfo}), HostWin32Native);
    EXPECT_EQ(DetectHostWith(HostLookups{FakeIsWow64Process, nullptr}), HostWin32Native);
    EXPECT_EQ(DetectHostWith(HostLookups{nullptr, nullptr}), HostWin32Native);
    EXPECT_EQ(wow64Calls, 0);
}

TEST(HostKindTest, ThisProcessIsA64BitProgramOnX64) {
    HostLookups system = SystemHostLookups();
    ASSERT_NE(system.isWow64Process, nullptr);
    ASSERT_NE(system.getNativeSystemInfo, nullptr);
    EXPECT_EQ(DetectHost(), HostWin64Native);
}

TEST(HostKindTest, AboutBoxStrings) {
    EXPECT_EQ(HostStringId(1), 3000u);
    EXPECT_EQ(HostStringId(5), 3004u);
    EXPECT_EQ(HostStringId(6), 3005u);
    EXPECT_EQ(HostStringId(0), 3006u);
    EXPECT_EQ(HostStringId(7), 3006u);
    EXPECT_EQ(HostStringId(0xFFFFFFFFu), 3006u);
}

struct FakeCpu {
    uint32_t leaf0[4];
    uint32_t leaf1[4];
    bool cpuidFaults;
    bool monitorFaults;
    int cpuidCalls;
    int monitorCalls;
};
FakeCpu cpu;

void FakeCpuid(uint32_t leaf, uint32_t registers[4]) {
    if (cpu.cpuidFaults) asm volatile("ud2");
    ++cpu.cpuidCalls;
    std::memcpy(registers, leaf == 0 ? cpu.leaf0 : cpu.leaf1, 4 * sizeof(uint32_t));
}
void FakeMonitor(const volatile void*) {
    ++cpu.monitorCalls;
    if (cpu.monitorFaults) asm volatile("ud2");
}

// "GenuineIntel" as CPUID spreads it over EBX, EDX, ECX.
FakeCpu Pentium(uint32_t eax1, uint32_t ebx1, uint32_t ecx1, uint32_t edx1) {
    FakeCpu c = {};
    c.leaf0[0] = 1;
    std::memcpy(&c.leaf0[1], "Genu", 4);
    std::memcpy(&c.leaf0[3], "ineI", 4);
    std::memcpy(&c.leaf0[2], "ntel", 4);
    c.leaf1[0] = eax1;
    c.leaf1[1] = ebx1;
    c.leaf1[2] = ecx1;
    c.leaf1[3] = edx1;
    return c;
}

CpuFeatures Probe() {
    CpuFeatures record;
    std::memset(&record, 0xAB, sizeof(record));
    ProbeCpuWith(&record, CpuInstructions{FakeCpuid, FakeMonitor});
    return record;
}

TEST(CpuProbeTest, ReadsEveryFieldFromItsBits) {
    // family 6 with processor type 2 above it, model 0xA, stepping 7;
    // FPU, TSC, CMOV, MMX, SSE, SSE2, HTT; SSE3; 8 logical processors.
    const uint32_t edx =
        (1u << 0) | (1u << 4) | (1u << 15) | (1u << 23) | (1u << 25) | (1u << 26) | (1u << 28);
    cpu = Pentium(0x000026A7, 0x00080000 | 0x1234, 0x1, edx);
    CpuFeatures r = Probe();
    EXPECT_EQ(r.cpuidPresent, 1);
    EXPECT_STREQ(r.vendor, "GenuineIntel");
    EXPECT_EQ(r.familyByte, 0x26);  // not masked to the family
    EXPECT_EQ(r.model, 0xA);
    EXPECT_EQ(r.stepping, 7);
    const uint8_t set[] = {r.hasFpu, r.hasTsc,  r.hasCmov, r.hasMmx,
                           r.hasSse, r.hasSse2, r.hasSse3, r.hasHtt};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(set[i], 1) << "flag " << i;
    EXPECT_EQ(r.logicalCount, 8);
    EXPECT_EQ(r.hasMonitor + r.monitorUsable + cpu.monitorCalls, 0);

    // Every flag clear, and no HTT: the logical count is 0 whatever EBX holds.
    cpu = Pentium(0x00000543, 0x00FF0000, 0, 0);
    r = Probe();
    EXPECT_EQ(r.familyByte, 5);
    EXPECT_EQ(r.model, 4);
    EXPECT_EQ(r.stepping, 3);
    EXPECT_EQ(
        r.hasFpu + r.hasTsc + r.hasCmov + r.hasMmx + r.hasSse + r.hasSse2 + r.hasSse3 + r.hasHtt,
        0);
    EXPECT_EQ(r.logicalCount, 0);
}

TEST(CpuProbeTest, MonitorTestedOnlyWhereAnnounced) {
    for (bool faults : {false, true}) {
        cpu = Pentium(0x500, 0, 1u << 3, 1u << 4);
        cpu.monitorFaults = faults;
        CpuFeatures r = Probe();
        EXPECT_EQ(r.hasMonitor, 1);
        EXPECT_EQ(r.monitorUsable, faults ? 0 : 1);
        EXPECT_EQ(cpu.monitorCalls, 1);
        EXPECT_EQ(r.hasTsc, 1);  // nothing else changes
    }
}

TEST(CpuProbeTest, NoCpuidWritesOnlyThePresenceFlag) {
    cpu = Pentium(0x500, 0, 0, 0);
    cpu.cpuidFaults = true;
    CpuFeatures r = Probe();
    EXPECT_EQ(r.cpuidPresent, 0);
    EXPECT_EQ(static_cast<unsigned char>(r.vendor[0]), 0xAB);
    EXPECT_EQ(r.familyByte, 0xAB);
    EXPECT_EQ(r.hasTsc, 0xAB);
    EXPECT_EQ(r.monitorUsable, 0xAB);
}

DWORD_PTR CurrentAffinity() {
    DWORD_PTR previous = SetThreadAffinityMask(GetCurrentThread(), 1);
    SetThreadAffinityMask(GetCurrentThread(), previous);
    return previous;
}

TEST(CpuProbeTest, ThisProcessorAndTheThreadsAffinity) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    DWORD_PTR wide = system.dwActiveProcessorMask;
    ASSERT_NE(SetThreadAffinityMask(GetCurrentThread(), wide), 0u);

    CpuFeatures r = {};
    ProbeCpu(&r);
    EXPECT_EQ(CurrentAffinity(), wide);
    EXPECT_EQ(r.cpuidPresent, 1);
    unsigned a, b, c, d;
    __cpuid(0, a, b, c, d);
    char vendor[13] = {};
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    EXPECT_STREQ(r.vendor, vendor);
    EXPECT_GE(r.familyByte & 0xF, 5);  // any x64 processor
    EXPECT_EQ(r.hasTsc, 1);
    EXPECT_EQ(r.hasSse2, 1);
    if (!r.hasMonitor) {
        EXPECT_EQ(r.monitorUsable, 0);
    }
}

std::vector<std::string> calls;
int version4 = 1;
HostKind host = HostWin64Native;
CpuFeatures described;

int FakeVersion() {
    calls.push_back("version");
    return version4;
}
HostKind FakeHost() {
    calls.push_back("host");
    return host;
}
void FakeProbe(CpuFeatures* record) {
    calls.push_back("cpu");
    *record = described;
}

unsigned Rule(int isVersion4, HostKind kind, uint8_t cpuid, uint8_t family, uint8_t tsc) {
    calls.clear();
    version4 = isVersion4;
    host = kind;
    described = CpuFeatures{};
    described.cpuidPresent = cpuid;
    described.familyByte = family;
    described.hasTsc = tsc;
    return StartupRefusal(StartupProbes{FakeVersion, FakeHost, FakeProbe});
}

using Calls = std::vector<std::string>;

TEST(StartupRuleTest, OldSystemRefusedBeforeAnythingElse) {
    EXPECT_EQ(Rule(0, HostWin32Native, 1, 6, 1), 2000u);
    EXPECT_EQ(calls, (Calls{"version"}));
}

TEST(StartupRuleTest, ProcessorProbedOnlyOnPlainWin32) {
    for (HostKind kind : {HostWow64OnX64, HostWow64OnIa64, HostWin32OnIa64, HostWin64Native,
                          HostWin64OnIa64, static_cast<HostKind>(9)}) {
        // A processor that would be refused: it is never asked.
        EXPECT_EQ(Rule(1, kind, 0, 4, 0), 0u) << kind;
        EXPECT_EQ(calls, (Calls{"version", "host"}));
    }
    EXPECT_EQ(Rule(1, HostWin32Native, 1, 5, 1), 0u);
    EXPECT_EQ(calls, (Calls{"version", "host", "cpu"}));
}

TEST(StartupRuleTest, ProcessorRequirements) {
    EXPECT_EQ(Rule(1, HostWin32Native, 0, 6, 1), 2001u);  // no CPUID
    EXPECT_EQ(Rule(1, HostWin32Native, 1, 4, 1), 2001u);  // a 486
    EXPECT_EQ(Rule(1, HostWin32Native, 1, 5, 0), 2001u);  // no TSC
    EXPECT_EQ(Rule(1, HostWin32Native, 1, 15, 0), 2001u);
    EXPECT_EQ(Rule(1, HostWin32Native, 1, 5, 1), 0u);
    EXPECT_EQ(Rule(1, HostWin32Native, 1, 0x26, 1), 0u);  // type bits above the family
}

TEST(StartupRuleTest, ThisSystemStarts) {
    EXPECT_EQ(IsVersion4OrLater(), 1);
    EXPECT_EQ(IsWindowsNT(), 1);
    EXPECT_EQ(StartupRefusal(SystemStartupProbes()), 0u);
}

}  // namespace
