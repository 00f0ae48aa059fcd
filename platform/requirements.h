// The operating-system checks and the start-up requirement rule.
#pragma once

#include <cstdint>

#include "platform/cpu_probe.h"
#include "platform/host_kind.h"

// 1 on an NT-family system, else 0.
int IsWindowsNT();
// 1 when the major version is 4 or later, else 0.
int IsVersion4OrLater();

// The probes the rule consults, replaceable for any system.
struct StartupProbes {
    int (*isVersion4OrLater)();
    HostKind (*detectHost)();
    void (*probeCpu)(CpuFeatures* record);
};

StartupProbes SystemStartupProbes();

// 0 to start; else the string id of the refusal (2000: the system is too old,
// 2001: no Pentium-class processor). The processor is probed only for host
// kind 1.
unsigned StartupRefusal(const StartupProbes& probes);
