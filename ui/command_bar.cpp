#include "ui/command_bar.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

#include "resources/resource_ids.h"
#include "ui/display_scale.h"

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

// Only an item on the bar itself shows its state there. An item of a
// drop-down is drawn from its state when the drop-down opens, so the bar is
// left alone: DrawMenuBar recomputes and repaints the window's whole frame.
void MenuBar::RedrawIfOnBar(UINT commandId) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        if (GetMenuItemID(menu, i) == commandId) {
            DrawMenuBar(owner);
            return;
        }
    }
}

int MenuBar::EnableItem(UINT commandId) {
    EnableMenuItem(menu, commandId, MF_BYCOMMAND | MF_ENABLED);
    RedrawIfOnBar(commandId);
    return 0;
}

int MenuBar::GrayItem(UINT commandId) {
    EnableMenuItem(menu, commandId, MF_BYCOMMAND | MF_GRAYED);
    RedrawIfOnBar(commandId);
    return 0;
}

void MenuBar::Release() {
    // Normally the main window took its menu with it already; a stale handle
    // makes DestroyMenu fail harmlessly.
    if (menu) DestroyMenu(menu);
    menu = nullptr;
}

ToolBar::ToolBar()
    : window(nullptr), instance(nullptr), tipHook(nullptr), images(nullptr), padding{} {
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
    const DWORD ownPadding = static_cast<DWORD>(SendMessageW(window, TB_GETPADDING, 0, 0));
    padding = SIZE{LOWORD(ownPadding), HIWORD(ownPadding)};
    const UINT dpi = WindowDpi(parent);
    if (dpi != kBaseDpi) SetScale(dpi);
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

int ToolbarImageSize(UINT dpi) {
    const int wanted = ScaleToDpi(16, dpi);
    int best = 16;
    for (int size : {24, 32}) {
        if (std::abs(size - wanted) < std::abs(best - wanted)) best = size;
    }
    return best;
}

void ToolBar::SetScale(UINT dpi) {
    const int size = ToolbarImageSize(dpi);
    const UINT bitmap = size == 32 ? IDB_TOOLBAR_32 : size == 24 ? IDB_TOOLBAR_24 : IDB_TOOLBAR;
    // Mapped to the system's button colours and masked by the face colour,
    // as the bar maps the 96-DPI pictures it loads itself.
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR4 | ILC_MASK, 3, 0);
    HBITMAP pictures = CreateMappedBitmap(instance, bitmap, 0, nullptr, 0);
    if (!list || !pictures || ImageList_AddMasked(list, pictures, GetSysColor(COLOR_BTNFACE)) < 0) {
        // Keep the pictures the bar has: smaller, but all there.
        if (list) ImageList_Destroy(list);
        if (pictures) DeleteObject(pictures);
        return;
    }
    DeleteObject(pictures);
    SendMessageW(window, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list));
    if (images) ImageList_Destroy(images);
    images = list;
    SendMessageW(window, TB_SETBITMAPSIZE, 0, MAKELPARAM(size, size));
    // A button is its picture's room, 16 pixels at 96 DPI, and the bar's
    // padding around it, both at the scale.
    const SIZE pad = {ScaleToDpi(padding.cx, dpi), ScaleToDpi(padding.cy, dpi)};
    const int room = std::max(ScaleToDpi(16, dpi), size);
    SendMessageW(window, TB_SETPADDING, 0, MAKELPARAM(pad.cx, pad.cy));
    SendMessageW(window, TB_SETBUTTONSIZE, 0, MAKELPARAM(room + pad.cx, room + pad.cy));
    TBBUTTONINFOW gap = {};
    gap.cbSize = sizeof gap;
    gap.dwMask = TBIF_BYINDEX | TBIF_IMAGE;
    gap.iImage = dpi == kBaseDpi ? 0 : ScaleToDpi(8, dpi);  // a separator's width; 0: its own
    SendMessageW(window, TB_SETBUTTONINFOW, 0, reinterpret_cast<LPARAM>(&gap));
    SendMessageW(window, TB_AUTOSIZE, 0, 0);
    InvalidateRect(window, nullptr, TRUE);
}

void ToolBar::Release() {
    if (window) DestroyWindow(window);
    window = nullptr;
    if (images) ImageList_Destroy(images);
    images = nullptr;
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

StatusBar::StatusBar() : window(nullptr), instance(nullptr), font(nullptr) {
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
    // Wine's bar repaints itself at once on a new text. With its drawing
    // off meanwhile, the text is painted with the rest of the window when
    // the thread is next idle: a report beside the loop costs it less.
    SendMessageW(window, WM_SETREDRAW, FALSE, 0);
    const LRESULT set =
        SendMessageW(window, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(text ? text : L""));
    SendMessageW(window, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(window, nullptr, FALSE);
    return set;
}

void StatusBar::SetScale(UINT dpi) {
    using MetricsForDpi = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
    static const MetricsForDpi metricsForDpi =
        reinterpret_cast<MetricsForDpi>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (!metricsForDpi ||
        !metricsForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        return;  // the bar keeps the font it has
    }
    HFONT made = CreateFontIndirectW(&metrics.lfStatusFont);
    if (!made) return;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(made), TRUE);
    if (font) DeleteObject(font);
    font = made;
}

void StatusBar::Release() {
    if (window) DestroyWindow(window);
    window = nullptr;
    if (font) DeleteObject(font);
    font = nullptr;
}
