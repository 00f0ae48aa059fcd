#include "tests/ui/ui_driver.h"

#include <atomic>

namespace {

const UINT kSyncMessage = WM_APP + 0x3A7;
HHOOK syncHook;
HANDLE syncEvent;
std::atomic<LONG> syncSeen{0};

struct WindowSearch {
    const std::function<bool(HWND)>* match;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(lParam);
    if (IsWindowVisible(window) && (*search->match)(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

UiDriver::UiDriver() : uiThread_(GetCurrentThreadId()) {
    syncEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    syncHook = SetWindowsHookExA(WH_GETMESSAGE, SyncHook, nullptr, uiThread_);
}

UiDriver::~UiDriver() {
    Join();
    UnhookWindowsHookEx(syncHook);
    CloseHandle(syncEvent);
}

LRESULT CALLBACK UiDriver::SyncHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        const MSG* message = reinterpret_cast<const MSG*>(lParam);
        if (message->message == kSyncMessage) {
            syncSeen.store(static_cast<LONG>(message->wParam));
            SetEvent(syncEvent);
        }
    }
    return CallNextHookEx(syncHook, code, wParam, lParam);
}

DWORD WINAPI UiDriver::ThreadMain(LPVOID self) {
    UiDriver* driver = static_cast<UiDriver*>(self);
    driver->script_(*driver);
    return 0;
}

void UiDriver::Start(std::function<void(UiDriver&)> script) {
    Join();
    script_ = std::move(script);
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
}

void UiDriver::Join() {
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
}

bool UiDriver::Sync(HWND target) {
    // Twice: a key retrieved before the first marker posts its WM_CHAR
    // behind that marker, but before the second.
    static std::atomic<LONG> serial{0};
    for (int round = 0; round < 2; ++round) {
        LONG mine = ++serial;
        if (!PostMessageA(target, kSyncMessage, static_cast<WPARAM>(mine), 0)) return false;
        DWORD deadline = GetTickCount() + 10000;
        while (syncSeen.load() != mine) {
            if (static_cast<LONG>(deadline - GetTickCount()) <= 0) return false;
            WaitForSingleObject(syncEvent, 50);
        }
    }
    return true;
}

void UiDriver::Key(HWND window, WPARAM virtualKey) {
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(virtualKey), 0)) << 16;
    PostMessageA(window, WM_KEYDOWN, virtualKey, scan | 1);
    PostMessageA(window, WM_KEYUP, virtualKey, scan | 1 | (LPARAM(3) << 30));
    Sync(window);
}

void UiDriver::Type(HWND window, const char* digits) {
    for (const char* p = digits; *p; ++p) Key(window, static_cast<WPARAM>(*p));
}

void UiDriver::Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

HWND UiDriver::WaitForWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        WindowSearch search{&match, nullptr};
        EnumThreadWindows(uiThread_, MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(20);
    }
}

HWND UiDriver::WaitForMessageBox(DWORD timeoutMs) {
    return WaitForWindow(
        [](HWND window) {
            return ClassOf(window) == "#32770" && GetDlgItem(window, 0xFFFF) != nullptr &&
                   GetDlgItem(window, IDOK) != nullptr;
        },
        timeoutMs);
}

std::string UiDriver::DismissMessageBox(HWND box) {
    std::string text = ControlText(box, 0xFFFF);
    HWND owner = GetWindow(box, GW_OWNER);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 250 && IsWindow(box); ++i) Sleep(20);
    if (owner) Sync(owner);
    return text;
}

std::string WindowText(HWND window) {
    char text[1024] = "";
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string LoadString(UINT id) {
    char text[1024] = "";
    LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return text;
}
