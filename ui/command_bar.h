// The main window's command carriers: the menu bar, the flat toolbar with its
// tooltips and the status bar in simple mode. Each exists once in the process;
// the job reports switch the Factorial and Stop commands on menu and toolbar
// together and write the status text.
#pragma once

#include <windows.h>
#include <commctrl.h>

struct MenuBar {
    HWND owner;
    HMENU menu;

    // Zeroes the fields and registers Release for process exit.
    MenuBar();
    // Loads "MyMenu" and attaches it. 0 when SetMenu succeeded, 1 when it failed;
    // a menu that cannot be loaded ends the process.
    int Create(HWND ownerWindow, HINSTANCE instance);
    int EnableItem(UINT commandId);
    int GrayItem(UINT commandId);
    void RedrawIfOnBar(UINT commandId);
    void Release();
};

struct ToolBar {
    HWND window;
    HINSTANCE instance;  // module of the tooltip strings and the pictures
    HHOOK tipHook;
    HIMAGELIST images;  // the pictures at a scale other than the first 96 DPI
    SIZE padding;       // the bar's own padding around a picture, at 96 DPI

    ToolBar();
    // Creates the bar at its parent's scale and installs ToolTipHook; every
    // failure ends the process.
    int Create(HINSTANCE moduleInstance, HWND parent);
    // Pictures, buttons, padding and the leading gap for a new scale.
    void SetScale(UINT dpi);
    LRESULT EnableButton(UINT commandId);
    LRESULT GrayButton(UINT commandId);
    void Release();
};

struct StatusBar {
    HWND window;
    HINSTANCE instance;
    HFONT font;  // the system's status font at a new scale; null until one comes

    StatusBar();
    // Failure ends the process.
    int Create(HINSTANCE moduleInstance, HWND parent);
    // The system's status font at a new scale, where the system has it.
    void SetScale(UINT dpi);
    // One text across the whole bar; an empty text clears it.
    LRESULT SetText(const wchar_t* text);
    void Release();
};

extern MenuBar menuBar;
extern ToolBar toolBar;
extern StatusBar statusBar;

// The size of the toolbar pictures at dpi: of the sizes drawn (16, 24, 32),
// the one nearest the 16 pixels of 96 DPI scaled, the smaller on a tie.
int ToolbarImageSize(UINT dpi);

// WH_CALLWNDPROC hook of the UI thread: answers the tooltip requests for the
// three buttons (ids 100-102) with strings 1006-1008 and passes all else on.
LRESULT CALLBACK ToolTipHook(int code, WPARAM wParam, LPARAM lParam);
