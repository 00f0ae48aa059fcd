// What kind of Windows host the program runs on, for the start-up rule and
// the about box.
#pragma once

#include <windows.h>

#include <cstdint>

enum HostKind : uint32_t {
    HostWin32Native = 1,
    HostWow64OnX64 = 2,
    HostWow64OnIa64 = 3,
    HostWin32OnIa64 = 4,  // never detected; it only has its about-box text
    HostWin64Native = 5,
    HostWin64OnIa64 = 6,
};

// The two kernel32 functions the detection needs; either may be missing.
struct HostLookups {
    BOOL(WINAPI* isWow64Process)(HANDLE process, BOOL* wow64);
    void(WINAPI* getNativeSystemInfo)(SYSTEM_INFO* info);
};

// The lookups found in this process's kernel32.
HostLookups SystemHostLookups();
HostKind DetectHostWith(const HostLookups& lookups);
HostKind DetectHost();

// The WOW64 flag and native architecture to a host kind.
HostKind ClassifyHost(BOOL wow64, WORD architecture);

// About-box string of a host kind: 3000..3005 for 1..6, 3006 for any other.
unsigned HostStringId(uint32_t kind);
