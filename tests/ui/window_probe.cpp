// Looks at a running qrnl.exe from outside, as the smoke test's eyes:
//   window_probe check   waits for the main window and checks its panes
//   window_probe about   opens the about box and checks its text
//   window_probe close   closes the program and waits until it has gone
//   window_probe shot F X Y W H   saves that part of the screen as a BMP, as
//                        Wine draws it (modal boxes do not always reach X)
// Prints what it found; exit code 0 when everything was as expected.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

std::string TextOf(HWND window) {
    char text[1024] = "";
    SendMessageA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    return text;
}

std::string ClassOf(HWND window) {
    char name[128] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

HWND WaitForMain(DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        HWND window = FindWindowA("QRNLMainWindow", nullptr);
        if (window && IsWindowVisible(window)) return window;
        Sleep(100);
    }
    return nullptr;
}

RECT RectIn(HWND parent, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int CheckPanes(HWND main) {
    Check(TextOf(main) == "Quarnel for Win64", "title");
    HWND tools = GetDlgItem(main, 100), log = GetDlgItem(main, 101), status = GetDlgItem(main, 102);
    Check(ClassOf(tools) == "ToolbarWindow32" && IsWindowVisible(tools), "toolbar");
    Check(SendMessageA(tools, TB_BUTTONCOUNT, 0, 0) == 4, "separator and three buttons");
    Check(SendMessageA(tools, TB_GETSTATE, 100, 0) == TBSTATE_ENABLED, "Factorial enabled");
    Check(SendMessageA(tools, TB_GETSTATE, 102, 0) == TBSTATE_INDETERMINATE, "Stop greyed");
    Check(ClassOf(log) == "RichEdit20A" && IsWindowVisible(log), "log pane");
    Check(ClassOf(status) == "msctls_statusbar32" && IsWindowVisible(status), "status bar");
    // Menus belong to their process; from outside, the menu bar shows as
    // the room it takes above the client area.
    Check(GetMenu(main) != nullptr, "menu attached");
    RECT frame, client;
    GetWindowRect(main, &frame);
    GetClientRect(main, &client);
    Check((frame.bottom - frame.top) - client.bottom >=
              GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYMENU),
          "menu bar below the caption");
    RECT t = RectIn(main, tools), l = RectIn(main, log), s = RectIn(main, status);
    std::printf("toolbar %ld..%ld, log %ld..%ld, status %ld..%ld, client %ld\n", t.top, t.bottom,
                l.top, l.bottom, s.top, s.bottom, client.bottom);
    Check(t.top <= 2 && l.top >= t.bottom - 2 && l.bottom <= s.top + 2 &&
              s.bottom >= client.bottom - 2,
          "toolbar, log and status bar stacked");
    RECT screen;
    GetWindowRect(main, &screen);
    std::printf("rect %ld %ld %ld %ld\n", screen.left, screen.top, screen.right - screen.left,
                screen.bottom - screen.top);
    return failures;
}

HWND WaitForBox(DWORD process) {
    for (int i = 0; i < 100; ++i) {
        HWND box = FindWindowA("#32770", nullptr);
        DWORD owner = 0;
        if (box) GetWindowThreadProcessId(box, &owner);
        if (box && owner == process && GetDlgItem(box, 0xFFFF)) return box;
        Sleep(100);
    }
    return nullptr;
}

// The screen as the program's own GDI sees it, cut to a rectangle.
bool SaveScreen(const char* path, int x, int y, int width, int height) {
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = picture && bits;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, picture);
        BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
        GdiFlush();
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
        file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(height);
        FILE* out = std::fopen(path, "wb");
        ok = out && std::fwrite(&file, sizeof(file), 1, out) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
             std::fwrite(bits, stride * static_cast<DWORD>(height), 1, out) == 1;
        if (out) std::fclose(out);
        SelectObject(memory, old);
        DeleteObject(picture);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const char* command = argc > 1 ? argv[1] : "check";
    if (std::strcmp(command, "shot") == 0) {
        if (argc < 7) return 2;
        return SaveScreen(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                          std::atoi(argv[6]))
                   ? 0
                   : 1;
    }
    HWND main = WaitForMain(30000);
    if (!main) {
        std::printf("FAIL no main window\n");
        return 1;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    if (std::strcmp(command, "check") == 0) return CheckPanes(main) ? 1 : 0;
    if (std::strcmp(command, "about") == 0) {
        PostMessageA(main, WM_COMMAND, 302, 0);
        HWND box = WaitForBox(process);
        Check(box != nullptr, "about box open");
        if (!box) return 1;
        std::string text = TextOf(GetDlgItem(box, 0xFFFF));
        Check(text.rfind("Quarnel Version 2.00\r\n\r\n", 0) == 0, "version line first");
        Check(text.find("\r\n\r\nHost: Win64 (x64 native)") != std::string::npos, "host line");
        RECT r;
        GetWindowRect(box, &r);
        std::printf("rect %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return failures ? 1 : 0;
    }
    if (std::strcmp(command, "dismiss") == 0) {
        HWND box = WaitForBox(process);
        if (box) PostMessageA(box, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 100 && box && IsWindow(box); ++i) Sleep(50);
        return box && !IsWindow(box) ? 0 : 1;
    }
    if (std::strcmp(command, "close") == 0) {
        PostMessageA(main, WM_CLOSE, 0, 0);
        for (int i = 0; i < 200 && IsWindow(main); ++i) Sleep(50);
        Check(!IsWindow(main), "main window gone after WM_CLOSE");
        return failures ? 1 : 0;
    }
    std::printf("unknown command %s\n", command);
    return 2;
}
