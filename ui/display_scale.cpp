#include "ui/display_scale.h"

namespace {

// Looked up at run time: older systems have neither.
using WindowDpiFunction = UINT(WINAPI*)(HWND);
using MonitorDpiFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

template <typename Function>
Function Lookup(const wchar_t* module, const char* name, bool load) {
    HMODULE handle = load ? LoadLibraryW(module) : GetModuleHandleW(module);
    return handle
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)))
               : nullptr;
}

}  // namespace

UINT WindowDpi(HWND window) {
    static const WindowDpiFunction windowDpi =
        Lookup<WindowDpiFunction>(L"user32.dll", "GetDpiForWindow", false);
    static const MonitorDpiFunction monitorDpi =
        Lookup<MonitorDpiFunction>(L"shcore.dll", "GetDpiForMonitor", true);
    UINT dpi = windowDpi && window ? windowDpi(window) : 0;
    if (dpi == 0 && monitorDpi) {
        UINT y = 0;
        const int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
        if (monitorDpi(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &dpi,
                       &y) != S_OK) {
            dpi = 0;
        }
    }
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = screen ? static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY)) : 0;
        if (screen) ReleaseDC(nullptr, screen);
    }
    return dpi ? dpi : kBaseDpi;
}

int ScaleToDpi(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), kBaseDpi); }
