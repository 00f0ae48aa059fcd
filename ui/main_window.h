// The program's single top-level window, class QRNLMainWindow.
#pragma once

#include <windows.h>

#include <cstddef>

extern HINSTANCE mainInstance;
// Null until created; not cleared when the window is destroyed.
extern HWND mainWindowHandle;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Registers the class, creates, shows and updates the window; a failure ends
// the process.
void CreateMainWindow(HINSTANCE instance, int showCommand);
// Destroys the window if it still exists and unregisters the class.
void ShutdownMainWindow();

// The log's place between the toolbar and the status bar, from the three
// client rectangles and the gap under the toolbar (2 pixels at 96 DPI, at
// the window's scale). The height is kept as computed, negative included.
struct LogPlacement {
    int x;
    int y;
    int width;
    int height;
};
LogPlacement PlaceLog(const RECT& mainClient, const RECT& toolbarClient, const RECT& statusClient,
                      int gap);

// Wheel turn to scroll steps: positive scrolls up, negative down. The
// page-wise setting (WHEEL_PAGESCROLL) gives the number of pages instead,
// with *pages set; the count is bounded either way.
int WheelScrollSteps(int wheelDelta, UINT linesSetting, bool* pages);

// The help file beside the executable, whatever the current folder; false
// when the path does not fit size units.
bool HelpFilePath(wchar_t* path, size_t size);
