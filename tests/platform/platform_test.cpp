// Host detection, processor probe and start-up rule with injected lookups,
// and the guarded region with real processor faults.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/guarded_region.h"
#include "platform/requirements.h"

namespace {

BOOL wow64;
WORD architecture;

TEST(Platform, HostKindsAndAboutBoxStrings) {
    const WORD amd64 = PROCESSOR_ARCHITECTURE_AMD64, x86 = PROCESSOR_ARCHITECTURE_INTEL,
               ia64 = PROCESSOR_ARCHITECTURE_IA64;
    const struct {
        BOOL wow64;  // neither 0 nor 1: no WOW64 answer
        WORD architecture;
        HostKind kind;
    } rows[] = {{1, amd64, HostWow64OnX64}, {1, x86, HostWow64OnX64},
                {1, ia64, HostWow64OnIa64}, {1, 12, HostWin64Native},
                {0, ia64, HostWin64OnIa64}, {0, amd64, HostWin64Native},
                {2, ia64, HostWin64Native}, {-1, amd64, HostWin64Native}};
    const HostLookups fake = {
        [](HANDLE, BOOL* flag) { return *flag = wow64, TRUE; },
        [](SYSTEM_INFO* info) { info->wProcessorArchitecture = architecture; }};
    for (const auto& row : rows) {
        wow64 = row.wow64, architecture = row.architecture;
        EXPECT_EQ(DetectHostWith(fake), row.kind) << row.wow64 << " " << row.architecture;
    }
    EXPECT_EQ(DetectHostWith({nullptr, fake.getNativeSystemInfo}), HostWin32Native);
    for (uint32_t kind : {0u, 1u, 6u, 7u})
        EXPECT_EQ(HostStringId(kind), kind % 7 ? 2999 + kind : 3006);
}
// A processor described by its CPUID leaf 1; CPUID or MONITOR may raise a
// real fault (ud2) inside the probe's guarded regions.
uint32_t leaf1[4];
bool cpuidFaults, monitorFaults;
int monitorCalls;

CpuFeatures Probe(uint32_t eax, uint32_t ebx, uint32_t ecx, uint32_t edx) {
    leaf1[0] = eax, leaf1[1] = ebx, leaf1[2] = ecx, leaf1[3] = edx;
    monitorCalls = 0;
    CpuFeatures record;
    std::memset(&record, 0xAB, sizeof(record));
    auto cpuid = [](uint32_t leaf, uint32_t registers[4]) {
        if (cpuidFaults) asm volatile("ud2");
        static const uint32_t leaf0[4] = {1, 0x756E6547, 0x6C65746E, 0x49656E69};  // GenuineIntel
        std::memcpy(registers, leaf == 0 ? leaf0 : leaf1, sizeof leaf1);
    };
    auto monitor = [](const volatile void*) {
        ++monitorCalls;
        if (monitorFaults) asm volatile("ud2");
    };
    ProbeCpuWith(&record, CpuInstructions{cpuid, monitor});
    return record;
}

TEST(Platform, ProbeReadsEachFieldAndAFaultClearsWhatItProbes) {
    // Family 6 with processor type 2 above it, model 0xA, stepping 7; FPU,
    // TSC, CMOV, MMX, SSE, SSE2, HTT; SSE3, MONITOR; 8 logical processors.
    const uint32_t edx = 1u << 0 | 1u << 4 | 1u << 15 | 1u << 23 | 1u << 25 | 1u << 26 | 1u << 28;
    CpuFeatures r = Probe(0x26A7, 0x00081234, 0x9, edx);
    EXPECT_EQ(std::string(r.vendor) + " " + std::to_string(r.cpuidPresent), "GenuineIntel 1");
    EXPECT_EQ(r.familyByte << 16 | r.model << 8 | r.stepping, 0x260A07);
    const uint8_t set[] = {r.hasFpu,  r.hasTsc,  r.hasCmov, r.hasMmx,     r.hasSse,
                           r.hasSse2, r.hasSse3, r.hasHtt,  r.hasMonitor, r.monitorUsable};
    for (size_t i = 0; i < sizeof set; ++i) EXPECT_EQ(set[i], 1) << "flag " << i;
    EXPECT_EQ(r.logicalCount * 10 + monitorCalls, 81);
    // All clear and no HTT (whatever EBX holds): no MONITOR tried.
    r = Probe(0x543, 0x00FF0000, 0, 0);
    EXPECT_EQ(r.hasFpu + r.hasTsc + r.hasSse3 + r.hasHtt + r.logicalCount + monitorCalls, 0);
    monitorFaults = true;  // announced but faulting: unusable, nothing else changes
    r = Probe(0x500, 0, 1u << 3, 1u << 4);
    EXPECT_EQ(r.hasMonitor * 100 + r.hasTsc * 10 + r.monitorUsable, 110);
    cpuidFaults = true;  // no CPUID: only the presence flag is written
    r = Probe(0x500, 0, 0, 0);
    EXPECT_EQ(r.cpuidPresent << 16 | r.familyByte << 8 | r.monitorUsable, 0x00ABAB);
    // On this processor the probe pins the thread and then gives its affinity back.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    ASSERT_NE(SetThreadAffinityMask(GetCurrentThread(), system.dwActiveProcessorMask), 0u);
    ProbeCpu(&r);
    EXPECT_EQ(SetThreadAffinityMask(GetCurrentThread(), 1), system.dwActiveProcessorMask);
}

std::string asked;
int version4;
HostKind host;
CpuFeatures described;

TEST(Platform, StartupRefusalsAndWhatIsAsked) {
    const struct {
        int version4;
        HostKind host;
        uint8_t cpuid, family, tsc;
        unsigned refusal;
        const char* asked;
    } rows[] = {
        // off plain Win32 a processor that would be refused is not asked
        {0, HostWin32Native, 1, 6, 1, 2000, "v"},   {1, HostWin32Native, 0, 6, 1, 2001, "vhc"},
        {1, HostWin32Native, 1, 4, 1, 2001, "vhc"}, {1, HostWin32Native, 1, 5, 0, 2001, "vhc"},
        {1, HostWin32Native, 1, 5, 1, 0, "vhc"},    {1, HostWin32Native, 1, 0x26, 1, 0, "vhc"},
        {1, HostWow64OnX64, 0, 4, 0, 0, "vh"},      {1, HostWin64Native, 0, 4, 0, 0, "vh"},
        {1, HostWin64OnIa64, 0, 4, 0, 0, "vh"}};
    for (const auto& row : rows) {
        asked.clear();
        version4 = row.version4, host = row.host, described = CpuFeatures{};
        described.cpuidPresent = row.cpuid, described.familyByte = row.family;
        described.hasTsc = row.tsc;
        EXPECT_EQ(StartupRefusal({[] { return asked += "v", version4; },
                                  [] { return asked += "h", host; },
                                  [](CpuFeatures* r) { asked += "c", *r = described; }}),
                  row.refusal)
            << row.host << " " << int(row.family);
        EXPECT_EQ(asked, row.asked) << row.host << " " << int(row.family);
    }
}

volatile int steps;
void DividesByZero(void*) {
    steps = 1;
    volatile uint64_t zero = 0, q = 10 / zero;
    steps = 2 + static_cast<int>(q);
}
int* const forbidden =  // address 0 is not reliably out of bounds under Wine
    static_cast<int*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_NOACCESS));

TEST(Platform, GuardedRegionReportsTheFaultAndKeepsWhatWasDoneBefore) {
    const struct {
        void (*body)(void*);
        DWORD code;
        int steps;
    } cases[] = {{[](void*) { steps = 3; }, 0, 3},
                 {DividesByZero, 0xC0000094, 1},
                 {[](void*) { steps = 1, ({ asm volatile("ud2"); }), steps = 2; }, 0xC000001D, 1},
                 {[](void*) { steps = 1, *static_cast<volatile int*>(forbidden) = 5, steps = 2; },
                  0xC0000005, 1}};
    for (int round = 0; round < 2; ++round) {  // set up afresh each time
        for (const auto& c : cases) {
            steps = 0;
            EXPECT_EQ(RunGuarded(c.body, nullptr), c.code) << std::hex << c.code;
            EXPECT_EQ(steps, c.steps) << std::hex << c.code;
        }
    }
}
// A guard belongs to its thread: the other thread faults in its own region
// while this thread's region, entered after it, is still open.
std::atomic<int> stage{0};
TEST(Platform, GuardedRegionAFaultGoesToTheThreadThatRaisedIt) {
    DWORD otherCode = 1;
    std::thread other([&] {
        otherCode = RunGuarded(
            [](void*) {
                stage = 1;
                while (stage != 2) Sleep(1);
                DividesByZero(nullptr);
            },
            nullptr);
        stage = 3;
    });
    while (stage != 1) Sleep(1);
    const DWORD mine = RunGuarded(
        [](void*) {
            stage = 2;
            for (int ms = 0; ms < 10000 && stage != 3; ++ms) Sleep(1);
            steps = 7;
        },
        nullptr);
    other.join();
    EXPECT_EQ(otherCode, 0xC0000094u);
    EXPECT_EQ(mine * 10 + steps, 7u);
}

}  // namespace
