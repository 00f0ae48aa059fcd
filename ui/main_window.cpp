#include "ui/main_window.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>

#include "job/factorial_job.h"
#include "resources/resource_ids.h"
#include "ui/about_box.h"
#include "ui/command_bar.h"
#include "ui/directory_of_path.h"
#include "ui/display_scale.h"
#include "ui/job_commands.h"
#include "ui/job_reports.h"
#include "ui/log_view.h"

HINSTANCE mainInstance;
HWND mainWindowHandle;

namespace {

// The main window's scale: read when it is created, then as each change
// tells it (the system may answer the old one while the change is handled).
UINT mainWindowDpi = kBaseDpi;

const wchar_t kClassName[] = L"QRNLMainWindow";

// Enough scroll steps for any log the pane can hold; a huge wheel setting
// must not keep the UI thread scrolling for minutes.
const int kMaxWheelSteps = 1000;

[[noreturn]] void EndProcess() { std::exit(0); }

void RestoreTitle(HWND window) {
    wchar_t title[512] = L"";
    LoadStringW(mainInstance, IDS_TITLE, title, 512);
    SetWindowTextW(window, title);
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
        SendMessageW(logWindow, messages[i], MAKEWPARAM(SB_THUMBPOSITION, info.nPos & 0xFFFF), 0);
        SendMessageW(logWindow, messages[i], MAKEWPARAM(SB_ENDSCROLL, 0), 0);
    }
}

void LayOut(HWND window, WPARAM sizeType, LPARAM size) {
    RECT mainClient = {}, toolbarClient = {}, statusClient = {};
    GetClientRect(window, &mainClient);
    SendMessageW(toolBar.window, WM_SIZE, sizeType, size);
    GetClientRect(toolBar.window, &toolbarClient);
    SendMessageW(statusBar.window, WM_SIZE, sizeType, size);
    GetClientRect(statusBar.window, &statusClient);
    // The gap scales, but the log never starts below the toolbar's frame,
    // which the system keeps at its own width: a row between them would show
    // no background.
    RECT toolbarFrame = {};
    GetWindowRect(toolBar.window, &toolbarFrame);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&toolbarFrame), 2);
    const int gap = std::min(ScaleToDpi(2, mainWindowDpi),
                             std::max<int>(2, toolbarFrame.bottom - toolbarClient.bottom));
    LogPlacement place = PlaceLog(mainClient, toolbarClient, statusClient, gap);
    MoveWindow(logWindow, place.x, place.y, place.width, place.height, TRUE);
    if (sizeType == SIZE_RESTORED || sizeType == SIZE_MAXIMIZED) {
        RefreshLogScroll();
        RestoreTitle(window);
    }
}

// The window moved to a monitor of another scale (or the scale changed):
// every pane is rebuilt for it, then the window takes the rectangle the
// system suggests and lays the panes out in it. The log's top line stays at
// the top: its scroll position in pixels would mean another line.
void Rescale(HWND window, UINT dpi, const RECT* suggested) {
    const int topLine = logView.TopLine();
    mainWindowDpi = dpi;
    toolBar.SetScale(dpi);
    statusBar.SetScale(dpi);
    logView.SetScale(dpi);
    if (suggested) {
        SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // Also when the size stayed and no WM_SIZE came.
    RECT client;
    GetClientRect(window, &client);
    const WPARAM sizeType = IsIconic(window)   ? SIZE_MINIMIZED
                            : IsZoomed(window) ? SIZE_MAXIMIZED
                                               : SIZE_RESTORED;
    LayOut(window, sizeType, MAKELPARAM(client.right, client.bottom));
    logView.ShowLineAtTop(topLine);
    // Every pane drew at the old scale: all of it anew, frames included.
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void ScrollLogByWheel(WPARAM wParam) {
    UINT setting = 0;
    if (!SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &setting, 0)) return;
    bool pages = false;
    int steps = WheelScrollSteps(static_cast<short>(HIWORD(wParam)), setting, &pages);
    WPARAM up = pages ? SB_PAGEUP : SB_LINEUP;
    WPARAM down = pages ? SB_PAGEDOWN : SB_LINEDOWN;
    for (int i = 0; i < steps; ++i) SendMessageW(logWindow, EM_SCROLL, up, 0);
    for (int i = 0; i < -steps; ++i) SendMessageW(logWindow, EM_SCROLL, down, 0);
}

void OpenHelp(HWND window) {
    wchar_t path[512];
    if (HelpFilePath(path, 512)) WinHelpW(window, path, HELP_FINDER, 0);
}

void CloseUnlessBusy(HWND window) {
    // Refused from StartJob to the end of OnJobEnd, not only while the loop
    // computes: closing while the worker allocates or reports would pull the
    // log's buffer away under its append.
    if (JobIsSetUp() || jobState.computing.load(std::memory_order_relaxed) != 0) {
        wchar_t text[512] = L"";
        wchar_t caption[512] = L"";
        LoadStringW(mainInstance, IDS_CLOSE_REFUSED, text, 512);
        LoadStringW(mainInstance, IDS_PRODUCT, caption, 512);
        MessageBoxW(window, text, caption, MB_ICONWARNING);
        return;
    }
    DestroyWindow(window);
}

}  // namespace

LogPlacement PlaceLog(const RECT& mainClient, const RECT& toolbarClient, const RECT& statusClient,
                      int gap) {
    LogPlacement place;
    place.x = toolbarClient.left;
    place.y = toolbarClient.bottom + gap;
    place.width = mainClient.right;
    place.height = mainClient.bottom - (toolbarClient.bottom - toolbarClient.top) -
                   (statusClient.bottom - statusClient.top) - gap;
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

bool HelpFilePath(wchar_t* path, size_t size) {
    wchar_t module[512];
    DWORD length = GetModuleFileNameW(nullptr, module, 512);
    if (length == 0 || length >= 512) return false;
    wchar_t folder[512];
    DirectoryOfPath(folder, module);
    const wchar_t kHelpName[] = L"qrnl.hlp";
    size_t folderLength = wcslen(folder);
    if (folderLength + sizeof(kHelpName) / sizeof(wchar_t) > size) return false;
    wmemcpy(path, folder, folderLength);
    wmemcpy(path + folderLength, kHelpName, sizeof(kHelpName) / sizeof(wchar_t));
    return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            mainWindowDpi = WindowDpi(window);
            InitCommonControls();
            menuBar.Create(window, mainInstance);
            toolBar.Create(mainInstance, window);
            logView.Create(mainInstance, window, 0, 0, 10, 10, 0x20000, 300);
            logView.HookInput();
            statusBar.Create(mainInstance, window);
            // Now rather than at the first job, which would wait for it.
            PrepareJobReports();
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
        case WM_DPICHANGED:
            Rescale(window, HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
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
                         reinterpret_cast<HBRUSH>(GetClassLongPtrW(window, GCLP_HBRBACKGROUND)));
            }
            return 1;
        case WM_SETCURSOR:
            if (logWindow && reinterpret_cast<HWND>(wParam) == logWindow &&
                LOWORD(lParam) == HTCLIENT) {
                SetCursor(LoadCursorW(nullptr, IDC_ARROW));
                return 1;
            }
            return DefWindowProcW(window, message, wParam, lParam);
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
                    SendMessageW(window, WM_CLOSE, 0, 0);
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
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void CreateMainWindow(HINSTANCE instance, int showCommand) {
    mainInstance = instance;
    reportInstance = instance;

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUARNEL));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExW(&windowClass)) EndProcess();

    wchar_t title[64] = L"";
    LoadStringW(instance, IDS_TITLE, title, 64);
    HWND window =
        CreateWindowExW(0, kClassName, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!window) EndProcess();
    mainWindowHandle = window;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
}

void ShutdownMainWindow() {
    if (mainWindowHandle) DestroyWindow(mainWindowHandle);
    UnregisterClassW(kClassName, mainInstance);
}
