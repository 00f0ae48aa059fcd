// Driving this process's own windows from a second thread, as a user would:
// posted keys and clicks go through the UI thread's queue (and so through
// its hooks); Sync() waits until the UI thread has retrieved everything
// posted before it. Below it, helpers shared by the window tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class UiDriver {
public:
    // Call on the UI thread before it enters the modal loop to be driven.
    UiDriver();
    ~UiDriver();

    // Runs `script` on a driver thread; returns at once. Join() waits for it.
    void Start(std::function<void(UiDriver&)> script);
    void Join();

    // Waits until the UI thread has taken every message posted to `target`
    // before this call, and the messages that produced (WM_CHAR), out of its
    // queue. False if it did not within 10 s.
    bool Sync(HWND target);

    // A key typed into `window`: WM_KEYDOWN and WM_KEYUP, then Sync.
    void Key(HWND window, WPARAM virtualKey);
    void Type(HWND window, const char* digits);
    void Click(HWND button);

    // The first visible top-level window of the UI thread for which `match`
    // holds, waiting up to `timeoutMs`; null if none.
    HWND WaitForWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs = 5000);
    HWND WaitForMessageBox(DWORD timeoutMs = 5000);
    // Reads a message box's text, presses its OK and, if asked, syncs with
    // its owner (which must then be pumping).
    std::string DismissMessageBox(HWND box, bool syncOwner = true);

    DWORD uiThread() const { return uiThread_; }

private:
    static LRESULT CALLBACK SyncHook(int code, WPARAM wParam, LPARAM lParam);

    DWORD uiThread_;
    std::thread thread_;
};

// The first visible top-level window of any process for which `match`
// holds, waiting up to `timeoutMs`; null if none.
HWND WaitForTopWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs);
bool IsMessageBox(HWND window);
bool IsFactorialDialog(HWND window);
bool IsSaveDialog(HWND window);

// Text of a window or control, read with WM_GETTEXT (also across processes).
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
std::string ClassOf(HWND window);
// A string of the test program's string table.
std::string LoadString(UINT id);
// Lines of a text; CR LF, CR or LF each end one.
std::vector<std::string> SplitLines(const std::string& text);
// A file name in the temporary folder.
std::string TempPath(const std::string& name);

// Runs this thread's messages for `ms`, or until `done` holds.
void PumpFor(DWORD ms, const std::function<bool()>& done = nullptr);
inline void Pump() { PumpFor(0); }

// That part of the screen, as this process's GDI sees it: 0x00RRGGBB, row by row.
std::vector<uint32_t> ScreenPixels(int x, int y, int width, int height);
// Saves that part of the screen, as this process's GDI sees it, as a BMP.
bool SaveScreen(const std::string& path, int x, int y, int width, int height);
