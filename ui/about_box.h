// The about box: version line, author line and the kind of host.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Appends source to the NUL-terminated text in buffer (size units), cut on a
// whole character where it would not fit; always terminated.
void AppendBounded(wchar_t* buffer, size_t size, const wchar_t* source);

// String 1004, a blank line, string 1005, a blank line and the host line of
// hostKind, within size units.
void FormatAboutText(HINSTANCE instance, uint32_t hostKind, wchar_t* text, size_t size);

// Shows the about box for the host this process runs on.
void ShowAboutBox(HWND owner, HINSTANCE instance);
