#include "tests/ui/ui_driver.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "resources/resource_ids.h"

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

void UiDriver::Start(std::function<void(UiDriver&)> script) {
    Join();
    thread_ = std::thread([this, script] { script(*this); });
}

void UiDriver::Join() {
    if (thread_.joinable()) thread_.join();
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
    const DWORD thread = uiThread_;
    return WaitForTopWindow(
        [&](HWND w) { return GetWindowThreadProcessId(w, nullptr) == thread && match(w); },
        timeoutMs);
}

HWND UiDriver::WaitForMessageBox(DWORD timeoutMs) { return WaitForWindow(IsMessageBox, timeoutMs); }

std::string UiDriver::DismissMessageBox(HWND box, bool syncOwner) {
    std::string text = ControlText(box, 0xFFFF);
    HWND owner = GetWindow(box, GW_OWNER);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 250 && IsWindow(box); ++i) Sleep(20);
    if (owner && syncOwner) Sync(owner);
    return text;
}

HWND WaitForTopWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        WindowSearch search{&match, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(20);
    }
}

bool IsMessageBox(HWND window) {
    return ClassOf(window) == "#32770" && GetDlgItem(window, 0xFFFF) != nullptr &&
           GetDlgItem(window, IDOK) != nullptr;
}

bool IsFactorialDialog(HWND window) {
    return ClassOf(window) == "#32770" && GetDlgItem(window, IDC_NUMBER) != nullptr &&
           GetDlgItem(window, IDC_DEST_PATH) != nullptr;
}

bool IsSaveDialog(HWND window) {
    return ClassOf(window) == "#32770" && WindowText(window) == "保存先ファイル名を指定";
}

std::string WindowText(HWND window) {
    // WM_GETTEXTLENGTH counts characters, and across processes it may answer
    // 0; a rich edit answers a buffer too small for its CP932 text with no
    // text at all. So the buffer grows until the text fits with room to spare.
    const size_t length = static_cast<size_t>(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0));
    for (size_t size = std::max<size_t>(4096, length * 2 + 32);; size *= 4) {
        std::string text(size, '\0');
        LRESULT n = SendMessageA(window, WM_GETTEXT, size, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if ((n > 0 && text.size() + 16 < size) || size >= (1u << 20)) return text;
    }
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

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    return lines;
}

std::string TempPath(const std::string& name) {
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    return temp + name;
}

void PumpFor(DWORD ms, const std::function<bool()>& done) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done && done()) return;
        if (ms) MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

std::vector<uint32_t> ScreenPixels(int x, int y, int width, int height) {
    std::vector<uint32_t> pixels;
    if (width <= 0 || height <= 0) return pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (picture && bits) {
        HGDIOBJ old = SelectObject(memory, picture);
        BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
        GdiFlush();
        const uint32_t* p = static_cast<const uint32_t*>(bits);
        pixels.assign(p, p + static_cast<size_t>(width) * static_cast<size_t>(height));
        SelectObject(memory, old);
    }
    if (picture) DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

bool SaveScreen(const std::string& path, int x, int y, int width, int height) {
    std::vector<uint32_t> pixels = ScreenPixels(x, y, width, height);
    if (pixels.empty()) return false;
    for (uint32_t& p : pixels) p |= 0xFF000000u;  // opaque, for viewers that read the fourth byte
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size() * 4);
    FILE* out = std::fopen(path.c_str(), "wb");
    bool ok = out && std::fwrite(&file, sizeof(file), 1, out) == 1 &&
              std::fwrite(&info, sizeof(info), 1, out) == 1 &&
              std::fwrite(pixels.data(), pixels.size() * 4, 1, out) == 1;
    if (out) std::fclose(out);
    return ok;
}
