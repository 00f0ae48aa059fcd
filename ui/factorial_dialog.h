// The factorial dialog: asks for N and the destination file, filters the keys
// typed into the N field and shows the size estimates as N changes.
#pragma once

#include <windows.h>

#include <cstdint>

#define FACTO_START 6000
#define FACTO_CANCEL 6001

// The save dialog's settings. They outlive each opening of the factorial
// dialog, so the next save dialog opens in the folder of the last choice.
// Paths are UTF-16 from the save dialog on, so any name the file system
// takes arrives whole.
struct SaveFileSettings {
    int32_t initialised;
    wchar_t path[512];
    wchar_t previousPath[512];
    wchar_t fileTitle[512];
    const wchar_t* filter;
    wchar_t initialDirectory[512];
    const wchar_t* title;
    uint32_t flags;
    const wchar_t* defaultExtension;
    uint32_t lastError;  // 0: chosen or simply cancelled

    SaveFileSettings();
    // Shows the save dialog; nonzero when the user chose a file.
    BOOL Choose(HWND owner);
};

struct FactorialDialog {
    uint64_t requestedN;
    wchar_t requestedPath[512];
    // Called on Start with the owner once the dialog is hidden and its owner
    // active again, before its windows are destroyed, so that what follows
    // need not wait for them. Null: nothing is called.
    void (*onStart)(HWND owner);

    // Largest N accepted and the number of characters the N field takes.
    static uint64_t maxNumber;
    static uint64_t maxInputLength;

    FactorialDialog();
    // Modal; FACTO_START with requestedN and requestedPath filled, else
    // FACTO_CANCEL (or -1/0 if the dialog could not be made).
    INT_PTR Show(HINSTANCE instance, HWND owner);
};

extern SaveFileSettings saveFileSettings;
extern FactorialDialog factorialDialog;

INT_PTR CALLBACK FactorialDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK KeyFilterProc(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LabelPaintProc(int code, WPARAM wParam, LPARAM lParam);
// '0'..'9' for the virtual keys 48..57 and VK_NUMPAD0..VK_NUMPAD9.
wchar_t DigitForKey(WPARAM virtualKey);
// Draws the text into the label's off-screen picture and copies it onto the label.
void DrawPathLabel(const wchar_t* text);
// The N field's text as a number: digits up to the first non-digit; empty gives 0.
// Saturates at UINT64_MAX so that an overlong text can never wrap to a small N.
uint64_t NumberFromText(const wchar_t* text);
