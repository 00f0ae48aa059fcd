// Host detection and the start-up rule, with injected lookups. (The job's
// tests fault inside guarded regions on several threads at once.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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

}  // namespace
