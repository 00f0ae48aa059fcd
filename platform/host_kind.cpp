#include "platform/host_kind.h"

HostLookups SystemHostLookups() {
    HostLookups lookups = {};
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel) {
        lookups.isWow64Process = reinterpret_cast<BOOL(WINAPI*)(HANDLE, BOOL*)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
        lookups.getNativeSystemInfo = reinterpret_cast<void(WINAPI*)(SYSTEM_INFO*)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetNativeSystemInfo")));
    }
    return lookups;
}

HostKind ClassifyHost(BOOL wow64, WORD architecture) {
    if (wow64 == 1) {
        if (architecture == PROCESSOR_ARCHITECTURE_AMD64 ||
            architecture == PROCESSOR_ARCHITECTURE_INTEL) {
            return HostWow64OnX64;
        }
        if (architecture == PROCESSOR_ARCHITECTURE_IA64) return HostWow64OnIa64;
        return HostWin64Native;
    }
    if (wow64 == 0 && architecture == PROCESSOR_ARCHITECTURE_IA64) return HostWin64OnIa64;
    return HostWin64Native;
}

HostKind DetectHostWith(const HostLookups& lookups) {
    if (!lookups.isWow64Process || !lookups.getNativeSystemInfo) return HostWin32Native;
    BOOL wow64 = 0;
    lookups.isWow64Process(GetCurrentProcess(), &wow64);
    SYSTEM_INFO info = {};
    lookups.getNativeSystemInfo(&info);
    return ClassifyHost(wow64, info.wProcessorArchitecture);
}

HostKind DetectHost() { return DetectHostWith(SystemHostLookups()); }

unsigned HostStringId(uint32_t kind) {
    if (kind >= 1 && kind <= 6) return 3000 + (kind - 1);
    return 3006;
}
