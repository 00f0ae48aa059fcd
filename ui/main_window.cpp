#include "ui/main_window.h"

#include <commctrl.h>
#include <richedit.h>

#include <cstdlib>
#include <cstring>

#include "job/factorial_job.h"
#include "resources/resource_ids.h"
#include "ui/about_box.h"
#include "ui/command_bar.h"
#include "ui/directory_of_path.h"
#include "ui/job_commands.h"
#include "ui/job_reports.h"
#include "ui/log_view.h"

HINSTANCE mainInstance;
HWND mainWindowHandle;

namespace {

const char kClassName[] = "QRNLMainWindow";

// Enough scroll steps for any log the pane can hold; a huge wheel setting
// must not keep the UI thread scrolling for minutes.
const int kMaxWheelSteps = 1000;

[[noreturn]] void EndProcess() { std::exit(0); }

void RestoreTitle(HWND window) {
    char title[512] = "";
    LoadStringA(mainInstance, IDS_TITLE, title, sizeof(title));
    SetWindowTextA(window, title);
}

// Makes the log redraw its text at its current scroll positions. A bar whose
// position cannot be read is left alone.
void RefreshLogScroll() {
    const int bars[2] = {SB_VERT, SB_HORZ};
    const UINT messages[2] = {WM_VSCROLL, WM_HSCROLL};
    for (int i = 0; i < 2; ++i) {
        SCROLLINFO info = {};
        info.cbSize = sizeof(info);
        info.fMask = SIF_ALL;
        if (!GetScrollInfo(logWindow, bars[i], &info)) continue;
        SendMessageA(logWindow, messages[i], MAKEWPARAM(SB_THUMBPOSITION, info.nPos & 0xFFFF), 0);
        SendMessageA(logWindow, messages[i], MAKEWPARAM(SB_ENDSCROLL, 0), 0);
    }
}

void LayOut(HWND window, WPARAM sizeType, LPARAM size) {
    RECT mainClient = {}, toolbarClient = {}, statusClient = {};
    GetClientRect(window, &mainClient);
    SendMessageA(toolBar.window, WM_SIZE, sizeType, size);
    GetClientRect(toolBar.window, &toolbarClient);
    SendMessageA(statusBar.window, WM_SIZE, sizeType, size);
    GetClientRect(statusBar.window, &statusClient);
    LogPlacement place = PlaceLog(mainClient, toolbarClient, statusClient);
    MoveWindow(logWindow, place.x, place.y, place.width, place.height, TRUE);
    if (sizeType == SIZE_RESTORED || sizeType == SIZE_MAXIMIZED) {
        RefreshLogScroll();
        RestoreTitle(window);
    }
}

void ScrollLogByWheel(WPARAM wParam) {
    UINT setting = 0;
    if (!SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &setting, 0)) return;
    bool pages = false;
    int steps = WheelScrollSteps(static_cast<short>(HIWORD(wParam)), setting, &pages);
    WPARAM up = pages ? SB_PAGEUP : SB_LINEUP;
    WPARAM down = pages ? SB_PAGEDOWN : SB_LINEDOWN;
    for (int i = 0; i < steps; ++i) SendMessageA(logWindow, EM_SCROLL, up, 0);
    for (int i = 0; i < -steps; ++i) SendMessageA(logWindow, EM_SCROLL, down, 0);
}

void OpenHelp(HWND window) {
    char path[512];
    if (HelpFilePath(path, sizeof(path))) WinHelpA(window, path, HELP_FINDER, 0);
}

void CloseUnlessBusy(HWND window) {
    // Refused from StartJob to the end of OnJobEnd, not only while the loop
    // computes: closing while the worker allocates or reports would pull the
    // log's buffer away under its append.
    if (JobIsSetUp() || jobState.computing.load(std::memory_order_relaxed) != 0) {
        char text[512] = "";
        char caption[512] = "";
        LoadStringA(mainInstance, IDS_CLOSE_REFUSED, text, sizeof(text));
        LoadStringA(mainInstance, IDS_PRODUCT, caption, sizeof(caption));
        MessageBoxA(window, text, caption, MB_ICONWARNING);
        return;
    }
    DestroyWindow(window);
}

}  // namespace

LogPlacement PlaceLog(const RECT& mainClient, const RECT& toolbarClient, const RECT& statusClient) {
    LogPlacement place;
    place.x = toolbarClient.left;
    place.y = toolbarClient.bottom + 2;
    place.width = mainClient.right;
    place.height = mainClient.bottom - (toolbarClient.bottom - toolbarClient.top) -
                   (statusClient.bottom - statusClient.top) - 2;
    return place;
}

int WheelScrollSteps(int wheelDelta, UINT linesSetting, bool* pages) {
    double steps;
    if (linesSetting == WHEEL_PAGESCROLL) {
        *pages = true;  // one page per notch
        steps = wheelDelta / 120.0;
    } else {
        *pages = false;
        steps = wheelDelta / 120.0 * linesSetting;
    }
    if (steps > kMaxWheelSteps) steps = kMaxWheelSteps;
    if (steps < -kMaxWheelSteps) steps = -kMaxWheelSteps;
    return static_cast<int>(steps);
}

bool HelpFilePath(char* path, size_t size) {
    char module[512];
    DWORD length = GetModuleFileNameA(nullptr, module, sizeof(module));
    if (length == 0 || length >= sizeof(module)) return false;
    char folder[512];
    DirectoryOfPath(folder, module);
    const char kHelpName[] = "qrnl.hlp";
    size_t folderLength = strlen(folder);
    if (folderLength + sizeof(kHelpName) > size) return false;
    memcpy(path, folder, folderLength);
    memcpy(path + folderLength, kHelpName, sizeof(kHelpName));
    return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            InitCommonControls();
            menuBar.Create(window, mainInstance);
            toolBar.Create(mainInstance, window);
            logView.Create(mainInstance, window, 0, 0, 10, 10, 0x20000, 300);
            logView.HookInput();
            statusBar.Create(mainInstance, window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            LayOut(window, wParam, lParam);
            return 0;
        case WM_CLOSE:
            CloseUnlessBusy(window);
            return 0;
        case WM_ERASEBKGND:
            // The panes cover the client area: nothing of the window's own is
            // erased. A flat toolbar is transparent and asks its parent to
            // paint behind its buttons with its own DC; that request gets the
            // window's grey, or the bar would show whatever was there before.
            if (toolBar.window && WindowFromDC(reinterpret_cast<HDC>(wParam)) == toolBar.window) {
                RECT area;
                GetClientRect(toolBar.window, &area);
                FillRect(reinterpret_cast<HDC>(wParam), &area,
                         reinterpret_cast<HBRUSH>(GetClassLongPtrA(window, GCLP_HBRBACKGROUND)));
            }
            return 1;
        case WM_SETCURSOR:
            if (logWindow && reinterpret_cast<HWND>(wParam) == logWindow &&
                LOWORD(lParam) == HTCLIENT) {
                SetCursor(LoadCursorA(nullptr, IDC_ARROW));
                return 1;
            }
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_MOUSEWHEEL:
            ScrollLogByWheel(wParam);
            return 0;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDM_FACTORIAL:
                    OnFactorialCommand(window);
                    break;
                case IDM_STOP:
                    OnStopCommand();
                    break;
                case IDM_JOBEND:
                    OnJobEndCommand();
                    break;
                case IDM_EXIT:
                    SendMessageA(window, WM_CLOSE, 0, 0);
                    break;
                case IDM_HELPCONTENTS:
                    OpenHelp(window);
                    break;
                case IDM_ABOUT:
                    ShowAboutBox(window, mainInstance);
                    break;
                default:  // IDM_POWER has no handler
                    break;
            }
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

void CreateMainWindow(HINSTANCE instance, int showCommand) {
    mainInstance = instance;
    reportInstance = instance;

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUARNEL));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExA(&windowClass)) EndProcess();

    char title[64] = "";
    LoadStringA(instance, IDS_TITLE, title, sizeof(title));
    HWND window =
        CreateWindowExA(0, kClassName, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!window) EndProcess();
    mainWindowHandle = window;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
}

void ShutdownMainWindow() {
    if (mainWindowHandle) DestroyWindow(mainWindowHandle);
    UnregisterClassA(kClassName, mainInstance);
}
