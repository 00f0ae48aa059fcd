// A span of time broken down for display.
#pragma once

#include <cstdint>

struct ElapsedTime {
    int64_t days;
    int64_t hours;         // 0 .. 23
    int64_t minutes;       // 0 .. 59
    int64_t seconds;       // 0 .. 59
    int64_t milliseconds;  // 0 .. 999
};
