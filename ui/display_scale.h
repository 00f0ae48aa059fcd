// The display scale each window is drawn at. Every pixel figure of the user
// interface is a figure at 96 DPI (100 %); at other scales it grows with the
// scale, as the system would stretch it, but drawn at that size.
#pragma once

#include <windows.h>

const UINT kBaseDpi = 96;

// The scale of the monitor the window is on, read each time: the window's
// own DPI where the system keeps one per window (Windows 10 1607 on, Wine),
// else its monitor's (Windows 8.1), else the system's.
UINT WindowDpi(HWND window);

// A pixel figure at 96 DPI, at dpi (rounded to the nearest pixel).
int ScaleToDpi(int pixels, UINT dpi);
