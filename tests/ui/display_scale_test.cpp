// The panes at the display's scale, in this process; run in Wine prefixes at 96, 144 and 192
// DPI (a row each in kScales). A screenshot of each scale goes to --shots=DIR.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <richedit.h>

#include <map>

#include "tests/ui/ui_driver.h"
#include "ui/command_bar.h"
#include "ui/display_scale.h"
#include "ui/factorial_dialog.h"
#include "ui/log_view.h"
#include "ui/main_window.h"

namespace {

std::string shotFolder, fits;
LPARAM logMargins;  // the last sent: Wine's rich edit keeps none to ask
LRESULT CALLBACK RecordMargins(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (call->message == EM_SETMARGINS && call->hwnd == logWindow) logMargins = call->lParam;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, const void* lParam = nullptr) {
    return SendMessageW(window, message, wParam, reinterpret_cast<LPARAM>(lParam));
}

// Toolbar (client) and button heights, the log's line pitch and the spacing it was given
// (Wine's keeps to the text's height), its margin, its gap under the toolbar, the status bar.
std::vector<int> Measure() {
    RECT bar, log, status;
    GetClientRect(toolBar.window, &bar);
    GetWindowRect(logWindow, &log);
    MapWindowPoints(nullptr, mainWindowHandle, reinterpret_cast<POINT*>(&log), 2);
    GetClientRect(statusBar.window, &status);
    POINTL line[2] = {};
    for (int i : {0, 1})
        Ask(logWindow, EM_POSFROMCHAR, WPARAM(&line[i]), (void*)Ask(logWindow, EM_LINEINDEX, i));
    PARAFORMAT2 format = {};
    format.cbSize = sizeof format;
    Ask(logWindow, EM_GETPARAFORMAT, 0, &format);
    return {bar.bottom,
            HIWORD(Ask(toolBar.window, TB_GETBUTTONSIZE)),
            line[1].y - line[0].y,
            MulDiv(format.dyLineSpacing, WindowDpi(logWindow), 1440),
            LOWORD(logMargins),
            log.top - bar.bottom,
            status.bottom};
}
// Those at 96 DPI grown with the scale, as far as whole pixels, the fonts' own heights and
// the system's frames (the toolbar's, which caps the gap) let them.
const std::map<UINT, std::vector<int>> kScales = {{96, {26, 22, 14, 21, 10, 2, 20}},
                                                  {144, {37, 33, 22, 30, 15, 3, 28}},
                                                  {192, {48, 44, 28, 38, 20, 3, 38}}};

// A monitor of another scale: the window takes the suggested rectangle (here within the
// screen, which stays) and every pane the new scale, the log its text and top line; back on
// the first, all is as it was. The spacing and the status bar (at least as high as the
// caption buttons) take system metrics: checked where the system has the scale too. The
// caption buttons need Marlett, or they show letters.
TEST(DisplayScale, PanesFollowTheScaleAlsoWhenItChanges) {
    for (int i = 0; i < 150; ++i)  // more lines than the pane shows
        logView.AppendLine((std::to_wstring(1000000 + i) + L"!の計算を開始しました。").c_str());
    const UINT dpi = WindowDpi(mainWindowHandle);
    ASSERT_EQ(Measure(), kScales.at(dpi));
    Ask(logWindow, EM_LINESCROLL, 0, (void*)-1000);
    Ask(logWindow, EM_LINESCROLL, 0, (void*)17);
    const int top = logView.TopLine();
    ASSERT_GT(top, 5);
    const std::wstring text = WindowText16(logWindow);
    RECT original, now;
    GetWindowRect(mainWindowHandle, &original);
    for (const UINT to : {dpi == 192 ? 96u : 192u, dpi}) {
        const RECT suggested = to == dpi ? original
                                         : RECT{original.left + 10, original.top + 20,
                                                original.right - 30, original.bottom - 40};
        Ask(mainWindowHandle, WM_DPICHANGED, MAKEWPARAM(to, to), &suggested);
        GetWindowRect(mainWindowHandle, &now);
        std::vector<int> measured = Measure(), expected = kScales.at(to);
        if (to != dpi) measured[3] = expected[3], measured[6] = expected[6];
        EXPECT_EQ(measured, expected) << to;
        EXPECT_TRUE(EqualRect(&now, &suggested) && WindowText16(logWindow) == text) << to;
        EXPECT_EQ(logView.TopLine(), top) << to;
    }
    LOGFONTW marlett = {0, 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Marlett"};
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(EnumFontFamiliesExW(
                  screen, &marlett, [](auto...) { return 7; }, 0, 0),
              7);
    ReleaseDC(nullptr, screen);
}

// Whether the path label shows the path elided and within its client area.
std::string LabelFit(HWND label) {
    const std::wstring shown = WindowText16(label);
    HDC dc = GetDC(label);
    SelectObject(dc, HFONT(Ask(label, WM_GETFONT)));
    SIZE size = {};
    GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
    ReleaseDC(label, dc);
    RECT client;
    GetClientRect(label, &client);
    const bool fit =
        size.cx <= client.right && size.cy <= client.bottom && shown.find(L"...") != shown.npos;
    return Utf8(shown) + (fit ? " fits; " : " does not fit; ");
}

// A long path fits the label at the dialog's scale, and again when the label gets another
// size and font, as on a monitor of another scale. The screenshot has the dialog over the log.
TEST(DisplayScale, PathLabelFitsAtEveryScale) {
    SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR timer, DWORD) {
        // The dialog shows only once its queue first runs empty, which may come after the
        // timer; hidden, its label gets no repaint.
        HWND dialog = GetLastActivePopup(mainWindowHandle),
             label = GetDlgItem(dialog, IDC_DEST_PATH);
        if (dialog == mainWindowHandle || !IsWindowVisible(dialog)) return;
        KillTimer(nullptr, timer);
        DrawPathLabel(L"C:\\Users\\quarnel\\Documents\\計算結果\\とても長いフォルダ\\F1000000.txt");
        fits = LabelFit(label);
        PumpFor(300);
        RECT r;
        GetWindowRect(mainWindowHandle, &r);
        Screen(r.left, r.top, r.right - r.left, r.bottom - r.top,
               shotFolder + "\\scale_" + std::to_string(WindowDpi(label)) + ".bmp");
        LOGFONTW face = {};
        GetObjectW(HFONT(Ask(label, WM_GETFONT)), sizeof face, &face);
        face.lfHeight *= 2;
        HFONT larger = CreateFontIndirectW(&face);
        GetWindowRect(label, &r);
        SetWindowPos(label, nullptr, 0, 0, (r.right - r.left) * 3 / 2, (r.bottom - r.top) * 2,
                     SWP_NOMOVE | SWP_NOZORDER);
        Ask(label, WM_SETFONT, WPARAM(larger), (void*)TRUE);
        UpdateWindow(label);
        fits += LabelFit(label);
        EndDialog(dialog, FACTO_CANCEL);
        DeleteObject(larger);
    });
    EXPECT_EQ(factorialDialog.Show(mainInstance, mainWindowHandle), FACTO_CANCEL);
    EXPECT_EQ(std::count(fits.begin(), fits.end(), ';'), 2) << fits;
    EXPECT_EQ(fits.find("not"), fits.npos) << fits;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (!strncmp(argv[i], "--shots=", 8)) shotFolder = std::string("Z:") + (argv[i] + 8);
    SetWindowsHookExW(WH_CALLWNDPROC, RecordMargins, nullptr, GetCurrentThreadId());
    CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    PumpFor(200);
    const int status = RUN_ALL_TESTS();
    ShutdownMainWindow();
    return status;
}
