#include "ui/command_bar.h"

#include <commctrl.h>

#include <cstdlib>

#include "resources/resource_ids.h"

namespace {

// The hook procedure and the exit handlers have no object; they reach the one
// instance of each bar through these.
MenuBar* theMenuBar;
ToolBar* theToolBar;
StatusBar* theStatusBar;

void ReleaseMenuBarAtExit() {
    if (theMenuBar) theMenuBar->Release();
}
void ReleaseToolBarAtExit() {
    if (theToolBar) theToolBar->Release();
}
void ReleaseStatusBarAtExit() {
    if (theStatusBar) theStatusBar->Release();
}

// A failed set-up of the window ends the program quietly, as every other
// set-up failure of the user interface does.
[[noreturn]] void EndProcess() { std::exit(0); }

const TBBUTTON kButtons[4] = {
    {0, 0, TBSTATE_ENABLED, BTNS_SEP, {}, 0, 0},
    {0, IDM_FACTORIAL, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
    {1, IDM_POWER, TBSTATE_INDETERMINATE, BTNS_BUTTON, {}, 0, 0},
    {2, IDM_STOP, TBSTATE_INDETERMINATE, BTNS_BUTTON, {}, 0, 0},
};

}  // namespace

MenuBar::MenuBar() : owner(nullptr), menu(nullptr) {
    theMenuBar = this;
    std::atexit(ReleaseMenuBarAtExit);
}

int MenuBar::Create(HWND ownerWindow, HINSTANCE instance) {
    HMENU loaded = LoadMenuW(instance, L"MyMenu");
    if (!loaded) EndProcess();
    owner = ownerWindow;
    menu = loaded;
    return SetMenu(owner, menu) ? 0 : 1;
}

int MenuBar::EnableItem(UINT commandId) {
    EnableMenuItem(menu, commandId, MF_BYCOMMAND | MF_ENABLED);
    DrawMenuBar(owner);
    return 0;
}

int MenuBar::GrayItem(UINT commandId) {
    EnableMenuItem(menu, commandId, MF_BYCOMMAND | MF_GRAYED);
    DrawMenuBar(owner);
    return 0;
}

void MenuBar::Release() {
    // Normally the main window took its menu with it already; a stale handle
    // makes DestroyMenu fail harmlessly.
    if (menu) DestroyMenu(menu);
    menu = nullptr;
}

ToolBar::ToolBar() : window(nullptr), instance(nullptr), tipHook(nullptr) {
    theToolBar = this;
    std::atexit(ReleaseToolBarAtExit);
}

int ToolBar::Create(HINSTANCE moduleInstance, HWND parent) {
    instance = moduleInstance;
    window = CreateToolbarEx(parent, WS_CHILD | WS_VISIBLE | WS_BORDER | TBSTYLE_TOOLTIPS | CCS_TOP,
                             IDC_TOOLBAR, 3, moduleInstance, IDB_TOOLBAR, kButtons, 4, 16, 16, 16,
                             16, sizeof(TBBUTTON));
    if (!window) EndProcess();
    LONG style = GetWindowLongW(window, GWL_STYLE);
    SetWindowLongW(window, GWL_STYLE, style | TBSTYLE_FLAT);
    tipHook = SetWindowsHookExW(WH_CALLWNDPROC, ToolTipHook, nullptr, GetCurrentThreadId());
    if (!tipHook) EndProcess();
    return 0;
}

LRESULT ToolBar::EnableButton(UINT commandId) {
    return SendMessageW(window, TB_SETSTATE, commandId, MAKELPARAM(TBSTATE_ENABLED, 0));
}

LRESULT ToolBar::GrayButton(UINT commandId) {
    return SendMessageW(window, TB_SETSTATE, commandId, MAKELPARAM(TBSTATE_INDETERMINATE, 0));
}

void ToolBar::Release() {
    if (window) DestroyWindow(window);
    window = nullptr;
}

LRESULT CALLBACK ToolTipHook(int code, WPARAM wParam, LPARAM lParam) {
    HHOOK hook = theToolBar ? theToolBar->tipHook : nullptr;
    if (code == HC_ACTION && lParam) {
        const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (call->message == WM_NOTIFY && call->lParam) {
            NMHDR* header = reinterpret_cast<NMHDR*>(call->lParam);
            // The main window is a Unicode window, so the toolbar asks in
            // UTF-16 and the tooltip loads the string as such.
            if (header->code == TTN_NEEDTEXTW && header->idFrom >= IDM_FACTORIAL &&
                header->idFrom <= IDM_STOP) {
                NMTTDISPINFOW* info = reinterpret_cast<NMTTDISPINFOW*>(header);
                info->lpszText =
                    MAKEINTRESOURCEW(IDS_TIP_FACTORIAL + (header->idFrom - IDM_FACTORIAL));
                info->hinst = theToolBar ? theToolBar->instance : nullptr;
                return 0;
            }
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

StatusBar::StatusBar() : window(nullptr), instance(nullptr) {
    theStatusBar = this;
    std::atexit(ReleaseStatusBarAtExit);
}

int StatusBar::Create(HINSTANCE moduleInstance, HWND parent) {
    instance = moduleInstance;
    window = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                             0, 0, 0, 0, parent, reinterpret_cast<HMENU>(IDC_STATUSBAR),
                             moduleInstance, nullptr);
    if (!window) EndProcess();
    SendMessageW(window, SB_SIMPLE, TRUE, 0);
    return 0;
}

LRESULT StatusBar::SetText(const wchar_t* text) {
    return SendMessageW(window, SB_SETTEXTW, SB_SIMPLEID,
                        reinterpret_cast<LPARAM>(text ? text : L""));
}

void StatusBar::Release() {
    if (window) DestroyWindow(window);
    window = nullptr;
}
