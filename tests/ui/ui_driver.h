// Helpers shared by the window tests: waiting, finding windows and reading
// their texts (also across processes) as UTF-16, running this thread's
// messages. The tests hold texts as UTF-8 (their literals are UTF-8).
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource_ids.h"

inline std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 3, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                   static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}
inline std::wstring Utf16(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                   static_cast<int>(out.size())));
    return out;
}

// Polls `done` every `periodMs`; false if it did not hold within `timeoutMs`.
inline bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 30000,
                      DWORD periodMs = 20) {
    for (const DWORD start = GetTickCount(); !done(); Sleep(periodMs)) {
        if (GetTickCount() - start >= timeoutMs) return false;
    }
    return true;
}
// The first visible top-level window of process `process` for which `match`
// holds, waiting up to `timeoutMs`; null if none.
inline HWND WaitForTopWindow(DWORD process, const std::function<bool(HWND)>& match,
                             DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND w = GetTopWindow(nullptr); w && !found; w = GetWindow(w, GW_HWNDNEXT)) {
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                if (owner == process && IsWindowVisible(w) && match(w)) found = w;
            }
            return found != nullptr;
        },
        timeoutMs);
    return found;
}
// Text of a window or control by WM_GETTEXT in UTF-16 (also across processes), in a buffer grown
// until it fits: WM_GETTEXTLENGTH may answer 0, and a rich edit fills a too small buffer with
// nothing.
inline std::wstring WindowText16(HWND window) {
    const size_t length = static_cast<size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    for (size_t size = std::max<size_t>(4096, length * 2 + 32);; size *= 4) {
        std::wstring text(size, L'\0');
        LRESULT n = SendMessageW(window, WM_GETTEXT, size, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if ((n > 0 && text.size() + 16 < size) || size >= (1u << 20)) return text;
    }
}
inline std::string WindowText(HWND window) { return Utf8(WindowText16(window)); }
inline std::string ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

inline std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}
inline bool IsMessageBox(HWND w) {
    return ClassOf(w) == "#32770" && GetDlgItem(w, 0xFFFF) && GetDlgItem(w, IDOK);
}
inline bool IsFactorialDialog(HWND w) {
    return ClassOf(w) == "#32770" && GetDlgItem(w, IDC_NUMBER) && GetDlgItem(w, IDC_DEST_PATH);
}
// A string of the test program's string table.
inline std::string LoadString(UINT id) {
    wchar_t text[1024] = L"";
    LoadStringW(GetModuleHandleW(nullptr), id, text, 1024);
    return Utf8(text);
}
// Lines of a text; CR LF, CR or LF each end one.
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') lines.back() += text[i];
        if (text[i] == '\n' || (text[i] == '\r' && text.compare(i, 2, "\r\n") != 0))
            lines.emplace_back();
    }
    return lines;
}
// Runs this thread's messages for `ms`, or until `done` holds. Woken by any
// message, so a message another thread sends waits no longer than its handling.
inline void PumpFor(DWORD ms, const std::function<bool()>& done = nullptr) {
    for (const DWORD start = GetTickCount();;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if ((done && done()) || GetTickCount() - start >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}
// The screen's pixels in a rectangle (opaque 0xAARRGGBB, top row first); with a path, also
// saved there as a picture (BMP).
inline std::vector<uint32_t> Screen(int x, int y, int width, int height,
                                    const std::string& path = "") {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    BITMAPINFOHEADER info = {sizeof info, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HGDIOBJ old =
        SelectObject(memory, CreateDIBSection(screen, (BITMAPINFO*)&info, 0, &bits, nullptr, 0));
    BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
    GdiFlush();
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint32_t*>(bits)[i] | 0xFF000000u;
    DeleteObject(SelectObject(memory, old));
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info, bytes = pixels.size() * 4;
    BITMAPFILEHEADER file = {0x4D42, offset + bytes, 0, 0, offset};
    if (FILE* out = path.empty() ? nullptr : fopen(path.c_str(), "wb")) {
        fwrite(&file, sizeof file, 1, out), fwrite(&info, sizeof info, 1, out);
        fwrite(pixels.data(), bytes, 1, out), fclose(out);
    }
    return pixels;
}
