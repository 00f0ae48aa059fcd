// The main window and the dialog at the display's scale, in this process. Run in Wine prefixes
// at 96, 144 and 192 DPI; a screenshot of each scale goes to --shots=DIR.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <richedit.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "tests/ui/ui_driver.h"
#include "ui/command_bar.h"
#include "ui/display_scale.h"
#include "ui/factorial_dialog.h"
#include "ui/log_view.h"
#include "ui/main_window.h"

std::string shotFolder;

namespace {

// The margins the log was last given. Wine's rich edit keeps none to ask.
LPARAM logMargins;
HHOOK marginHook;
LRESULT CALLBACK RecordMargins(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == EM_SETMARGINS && call->hwnd == logWindow) {
        logMargins = call->lParam;
    }
    return CallNextHookEx(marginHook, code, wParam, lParam);
}

// What the panes measure at one scale, in pixels.
struct Measures {
    int toolbarHeight;  // client area
    int buttonHeight;
    int linePitch;    // from one log line to the next
    int lineSpacing;  // as the log was asked for (Wine's keeps to the text's own)
    int margin;       // the text's left and right margins
    int marginRight;
    int logGap;  // from the toolbar's bottom to the log
};

Measures Measure() {
    Measures m = {};
    RECT bar;
    GetClientRect(toolBar.window, &bar);
    m.toolbarHeight = bar.bottom;
    m.buttonHeight = HIWORD(SendMessageW(toolBar.window, TB_GETBUTTONSIZE, 0, 0));
    POINTL first = {}, second = {};
    SendMessageW(logWindow, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&first),
                 SendMessageW(logWindow, EM_LINEINDEX, 0, 0));
    SendMessageW(logWindow, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&second),
                 SendMessageW(logWindow, EM_LINEINDEX, 1, 0));
    m.linePitch = second.y - first.y;
    PARAFORMAT2 format = {};
    format.cbSize = sizeof format;
    SendMessageW(logWindow, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
    HDC dc = GetDC(logWindow);
    m.lineSpacing = MulDiv(format.dyLineSpacing, GetDeviceCaps(dc, LOGPIXELSY), 1440);
    ReleaseDC(logWindow, dc);
    m.margin = LOWORD(logMargins);
    m.marginRight = HIWORD(logMargins);
    RECT log;
    GetWindowRect(logWindow, &log);
    MapWindowPoints(nullptr, mainWindowHandle, reinterpret_cast<POINT*>(&log), 2);
    m.logGap = log.top - bar.bottom;  // the bar's client bottom, as the layout takes it
    return m;
}

// Without the spacing, which takes the system font's height at the system's scale.
std::string Describe(const Measures& m, bool spacing = true) {
    char text[160];
    snprintf(text, sizeof text, "toolbar %d, button %d, line pitch %d, margins %d %d, gap %d",
             m.toolbarHeight, m.buttonHeight, m.linePitch, m.margin, m.marginRight, m.logGap);
    return text + (spacing ? ", spacing " + std::to_string(m.lineSpacing) : "");
}

// The figures at each scale: those at 96 DPI grown with the scale, as far as whole pixels
// and the fonts' own heights allow.
struct Scale {
    UINT dpi;
    Measures expected;
};
const Scale kScales[] = {
    {96, {26, 22, 14, 21, 10, 10, 2}},
    {144, {37, 33, 22, 30, 15, 15, 3}},
    {192, {48, 44, 28, 38, 20, 20, 3}},
};
const Scale* ScaleFor(UINT dpi) {
    for (const Scale& scale : kScales) {
        if (scale.dpi == dpi) return &scale;
    }
    return nullptr;
}
void ExpectScale(UINT dpi, bool spacing) {
    const Scale* scale = ScaleFor(dpi);
    ASSERT_TRUE(scale) << dpi;
    EXPECT_EQ(Describe(Measure(), spacing), Describe(scale->expected, spacing)) << dpi << " DPI";
}

// More lines than the pane shows at any scale, once.
void FillTheLog() {
    for (int i = logView.lineCount; i < 150; ++i) {
        logView.AppendLine((std::to_wstring(1000000 + i) + L"!の計算を開始しました。").c_str());
    }
}

// The caption buttons are drawn in Marlett: without it in the prefix they show letters.
TEST(DisplayScale, PanesFollowTheScaleOfTheirWindow) {
    FillTheLog();
    ExpectScale(WindowDpi(mainWindowHandle), true);
    LOGFONTW marlett = {};
    marlett.lfCharSet = DEFAULT_CHARSET;
    wcscpy(marlett.lfFaceName, L"Marlett");
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(
        screen, &marlett,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM seen) {
            *reinterpret_cast<bool*>(seen) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    EXPECT_TRUE(found) << "no Marlett: the caption buttons show letters";
}

// A monitor of another scale: the window takes the suggested rectangle and every pane the new
// scale, keeping the log's text and its top line; back on the first monitor all is as before.
TEST(DisplayScale, DpiChangeRescalesInPlace) {
    const UINT dpi = WindowDpi(mainWindowHandle), other = dpi == 192 ? 96 : 192;
    FillTheLog();
    SendMessageW(logWindow, EM_LINESCROLL, 0, -1000);
    SendMessageW(logWindow, EM_LINESCROLL, 0, 17);
    ASSERT_EQ(SendMessageW(logWindow, EM_GETFIRSTVISIBLELINE, 0, 0), 17);
    const std::wstring text = WindowText16(logWindow);
    const Measures before = Measure();
    RECT original, moved;
    GetWindowRect(mainWindowHandle, &original);
    for (const UINT to : {other, dpi}) {
        // Within the screen, which does not grow in this test.
        const RECT suggested = to == dpi ? original
                                         : RECT{original.left + 10, original.top + 20,
                                                original.right - 30, original.bottom - 40};
        SendMessageW(mainWindowHandle, WM_DPICHANGED, MAKEWPARAM(to, to),
                     reinterpret_cast<LPARAM>(&suggested));
        GetWindowRect(mainWindowHandle, &moved);
        EXPECT_TRUE(EqualRect(&moved, &suggested)) << to;
        EXPECT_EQ(SendMessageW(logWindow, EM_GETFIRSTVISIBLELINE, 0, 0), 17) << to;
        EXPECT_TRUE(WindowText16(logWindow) == text) << to;
        if (to == other) ExpectScale(other, false);
    }
    EXPECT_EQ(Describe(Measure()), Describe(before));
}

// Whether the label's text, as it shows it, is elided and fits its client area.
std::string LabelFit(HWND label) {
    const std::wstring shown = WindowText16(label);
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    SIZE extent = {};
    GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    RECT client;
    GetClientRect(label, &client);
    const bool fits = extent.cx <= client.right && extent.cy <= client.bottom &&
                      shown.find(L"...") != std::wstring::npos;
    return Utf8(shown) + (fits ? " fits" : " does not fit");
}

HWND FindDialog() {
    HWND dialog = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM found) {
            if (IsFactorialDialog(w)) *reinterpret_cast<HWND*>(found) = w;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&dialog));
    return dialog;
}

std::string fitAtScale, fitRescaled;

// The path label elides a long path to fit its width at the dialog's scale, and again when
// the system gives it another size and font, as on a monitor of another scale. The
// screenshot shows the log and the dialog over it.
TEST(DisplayScale, PathLabelFitsAndScreenshot) {
    FillTheLog();
    SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        HWND dialog = FindDialog(), label = GetDlgItem(dialog, IDC_DEST_PATH);
        if (!dialog) return;
        DrawPathLabel(
            L"C:\\Users\\quarnel\\Documents\\計算結果\\とても長いフォルダの名前\\F1000000.txt");
        fitAtScale = LabelFit(label);
        PumpFor(300);
        char name[32];
        snprintf(name, sizeof name, "scale_%u", WindowDpi(mainWindowHandle));
        RECT window;
        GetWindowRect(mainWindowHandle, &window);
        SaveScreenshot(window, (shotFolder + "\\" + name + ".bmp").c_str());
        LOGFONTW face = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)), sizeof face,
                   &face);
        face.lfHeight *= 2;
        HFONT larger = CreateFontIndirectW(&face);
        RECT r;
        GetWindowRect(label, &r);
        SetWindowPos(label, nullptr, 0, 0, (r.right - r.left) * 3 / 2, (r.bottom - r.top) * 2,
                     SWP_NOMOVE | SWP_NOZORDER);
        SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(larger), TRUE);
        UpdateWindow(label);
        fitRescaled = LabelFit(label);
        EndDialog(dialog, FACTO_CANCEL);
        DeleteObject(larger);
    });
    EXPECT_EQ(factorialDialog.Show(mainInstance, mainWindowHandle), FACTO_CANCEL);
    for (const std::string& fit : {fitAtScale, fitRescaled}) {
        EXPECT_EQ(fit.substr(fit.size() - 5), " fits") << fit;
    }
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--shots=", 8) == 0) shotFolder = std::string("Z:") + (argv[i] + 8);
    }
    marginHook = SetWindowsHookExW(WH_CALLWNDPROC, RecordMargins, nullptr, GetCurrentThreadId());
    CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    PumpFor(200);
    const int status = RUN_ALL_TESTS();
    ShutdownMainWindow();
    return status;
}
