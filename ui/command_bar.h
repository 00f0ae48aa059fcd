// The main window's command carriers: the menu bar, the flat toolbar with its
// tooltips and the status bar in simple mode. Each exists once in the process;
// the job reports switch the Factorial and Stop commands on menu and toolbar
// together and write the status text.
#pragma once

#include <windows.h>

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
    void Release();
};

struct ToolBar {
    HWND window;
    HINSTANCE instance;  // module of the tooltip strings
    HHOOK tipHook;

    ToolBar();
    // Creates the bar and installs ToolTipHook; every failure ends the process.
    int Create(HINSTANCE moduleInstance, HWND parent);
    LRESULT EnableButton(UINT commandId);
    LRESULT GrayButton(UINT commandId);
    void Release();
};

struct StatusBar {
    HWND window;
    HINSTANCE instance;

    StatusBar();
    // Failure ends the process.
    int Create(HINSTANCE moduleInstance, HWND parent);
    // One text across the whole bar; an empty text clears it.
    LRESULT SetText(const wchar_t* text);
    void Release();
};

extern MenuBar menuBar;
extern ToolBar toolBar;
extern StatusBar statusBar;

// WH_CALLWNDPROC hook of the UI thread: answers the tooltip requests for the
// three buttons (ids 100-102) with strings 1006-1008 and passes all else on.
LRESULT CALLBACK ToolTipHook(int code, WPARAM wParam, LPARAM lParam);
