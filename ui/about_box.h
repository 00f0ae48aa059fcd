// The about box: version line, author line and the kind of host.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Appends source to the NUL-terminated text in buffer, cut on a CP932
// character boundary where it would not fit; always terminated.
void AppendBounded(char* buffer, size_t size, const char* source);

// String 1004, a blank line, string 1005, a blank line and the host line of
// hostKind, within size bytes.
void FormatAboutText(HINSTANCE instance, uint32_t hostKind, char* text, size_t size);

// Shows the about box for the host this process runs on.
void ShowAboutBox(HWND owner, HINSTANCE instance);
