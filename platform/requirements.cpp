#include "platform/requirements.h"

#include <windows.h>

#include "resources/resource_ids.h"

namespace {

OSVERSIONINFOA SystemVersion() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    return version;
}

}  // namespace

int IsWindowsNT() { return SystemVersion().dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0; }

int IsVersion4OrLater() { return SystemVersion().dwMajorVersion >= 4 ? 1 : 0; }

StartupProbes SystemStartupProbes() {
    return StartupProbes{IsVersion4OrLater, DetectHost, ProbeCpu};
}

unsigned StartupRefusal(const StartupProbes& probes) {
    if (probes.isVersion4OrLater() == 0) return IDS_NEED_WINDOWS;
    if (probes.detectHost() == HostWin32Native) {
        CpuFeatures cpu = {};
        probes.probeCpu(&cpu);
        if (cpu.cpuidPresent != 1) return IDS_NEED_PENTIUM;
        if (cpu.familyByte < 5) return IDS_NEED_PENTIUM;
        if (cpu.hasTsc != 1) return IDS_NEED_PENTIUM;
    }
    return 0;
}
