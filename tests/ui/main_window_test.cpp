// The main window with the program's own process-wide objects.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>
#include <richedit.h>

#include <cstring>
#include <string>

#include "job/factorial_job.h"
#include "resources/resource_ids.h"
#include "tests/ui/ui_driver.h"
#include "ui/about_box.h"
#include "ui/command_bar.h"
#include "ui/directory_of_path.h"
#include "ui/log_view.h"
#include "ui/main_window.h"

namespace {

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!mainWindowHandle) {
            CreateMainWindow(Instance(), SW_SHOWNORMAL);
            Pump();
        }
    }
    void TearDown() override { jobState.setUp.store(0); }
};

// Runs `command` on the UI thread while the driver reads the message box it
// shows ("caption|text") and presses its OK. The owner is not synced with:
// its UI thread leaves the modal loop straight into the test.
std::string BoxShownBy(const std::function<void()>& command) {
    UiDriver driver;
    std::string seen = "no box";
    driver.Start([&](UiDriver& d) {
        if (HWND box = d.WaitForMessageBox()) {
            seen = WindowText(box) + "|";
            seen += d.DismissMessageBox(box, false);
        }
    });
    command();
    driver.Join();
    return seen;
}

TEST_F(MainWindowTest, PanesExistWithTheirIds) {
    EXPECT_EQ(WindowText(mainWindowHandle), "Quarnel for Win64");
    EXPECT_EQ(ClassOf(GetDlgItem(mainWindowHandle, IDC_TOOLBAR)), "ToolbarWindow32");
    EXPECT_EQ(ClassOf(GetDlgItem(mainWindowHandle, IDC_LOGVIEW)), "RichEdit20A");
    EXPECT_EQ(ClassOf(GetDlgItem(mainWindowHandle, IDC_STATUSBAR)), "msctls_statusbar32");
    EXPECT_EQ(SendMessageA(toolBar.window, TB_BUTTONCOUNT, 0, 0), 4);
    EXPECT_TRUE(GetWindowLongA(toolBar.window, GWL_STYLE) & TBSTYLE_FLAT);
    EXPECT_EQ(GetMenuItemCount(GetMenu(mainWindowHandle)), 2);
}

// The switching itself is the job reports' (tested with them).
TEST_F(MainWindowTest, CommandsStartIdleAndPowerStaysGreyed) {
    const HMENU menu = GetMenu(mainWindowHandle);
    EXPECT_FALSE(GetMenuState(menu, IDM_FACTORIAL, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(menu, IDM_POWER, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(menu, IDM_STOP, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(SendMessageA(toolBar.window, TB_GETSTATE, IDM_FACTORIAL, 0), TBSTATE_ENABLED);
    EXPECT_EQ(SendMessageA(toolBar.window, TB_GETSTATE, IDM_POWER, 0), TBSTATE_INDETERMINATE);
    EXPECT_EQ(SendMessageA(toolBar.window, TB_GETSTATE, IDM_STOP, 0), TBSTATE_INDETERMINATE);
}

NMTTDISPINFOA TipRequest(UINT code, UINT_PTR id) {
    NMTTDISPINFOA info = {};
    info.hdr.hwndFrom = toolBar.window;
    info.hdr.idFrom = id;
    info.hdr.code = code;
    info.lpszText = const_cast<char*>("untouched");
    SendMessageA(mainWindowHandle, WM_NOTIFY, id, reinterpret_cast<LPARAM>(&info));
    return info;
}

TEST_F(MainWindowTest, TooltipsAnswerTheThreeButtonsOnly) {
    for (UINT_PTR id = IDM_FACTORIAL; id <= IDM_STOP; ++id) {
        NMTTDISPINFOA info = TipRequest(TTN_NEEDTEXTA, id);
        EXPECT_EQ(info.lpszText, MAKEINTRESOURCEA(IDS_TIP_FACTORIAL + (id - IDM_FACTORIAL)));
        EXPECT_EQ(info.hinst, Instance());
    }
    for (UINT_PTR id : {UINT_PTR{99}, UINT_PTR{IDM_JOBEND}, UINT_PTR{IDM_ABOUT}}) {
        NMTTDISPINFOA info = TipRequest(TTN_NEEDTEXTA, id);
        EXPECT_STREQ(info.lpszText, "untouched") << id;
        EXPECT_EQ(info.hinst, nullptr);
    }
    NMTTDISPINFOA wide = TipRequest(TTN_NEEDTEXTW, IDM_FACTORIAL);
    EXPECT_STREQ(wide.lpszText, "untouched");
}

// Minimised: the height goes negative and is passed on as it is (the
// ordinary case is checked on the live window below).
TEST(LayoutTest, MinimisedHeightIsPassedOnAsItIs) {
    RECT none = {0, 0, 0, 0}, tools = {0, 0, 600, 28}, status = {0, 0, 600, 20};
    EXPECT_EQ(PlaceLog(none, tools, status).height, -50);
}

TEST_F(MainWindowTest, SizingPlacesTheLogBetweenTheBars) {
    MoveWindow(mainWindowHandle, 10, 10, 700, 500, TRUE);
    Pump();
    RECT main, tools, status, log;
    GetClientRect(mainWindowHandle, &main);
    GetClientRect(toolBar.window, &tools);
    GetClientRect(statusBar.window, &status);
    GetWindowRect(logWindow, &log);
    MapWindowPoints(nullptr, mainWindowHandle, reinterpret_cast<POINT*>(&log), 2);
    EXPECT_EQ(log.left, tools.left);
    EXPECT_EQ(log.top, tools.bottom + 2);
    EXPECT_EQ(log.right - log.left, main.right);
    EXPECT_EQ(log.bottom - log.top, main.bottom - tools.bottom - status.bottom - 2);
    EXPECT_GT(tools.bottom, 0);
    EXPECT_GT(status.bottom, 0);
}

TEST_F(MainWindowTest, RestoringPutsTheTitleBack) {
    SetWindowTextA(mainWindowHandle, "42%");
    RECT client;
    GetClientRect(mainWindowHandle, &client);
    SendMessageA(mainWindowHandle, WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_EQ(WindowText(mainWindowHandle), "42%");
    SendMessageA(mainWindowHandle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    EXPECT_EQ(WindowText(mainWindowHandle), "Quarnel for Win64");
    SetWindowTextA(mainWindowHandle, "43%");
    SendMessageA(mainWindowHandle, WM_SIZE, SIZE_MAXIMIZED,
                 MAKELPARAM(client.right, client.bottom));
    EXPECT_EQ(WindowText(mainWindowHandle), "Quarnel for Win64");
}

TEST(WheelTest, StepsFromDeltaAndSetting) {
    bool pages = true;
    EXPECT_EQ(WheelScrollSteps(120, 3, &pages), 3);
    EXPECT_FALSE(pages);
    EXPECT_EQ(WheelScrollSteps(-120, 3, &pages), -3);
    EXPECT_EQ(WheelScrollSteps(30, 3, &pages), 0);
    EXPECT_EQ(WheelScrollSteps(40, 3, &pages), 1);
    EXPECT_EQ(WheelScrollSteps(-40, 3, &pages), -1);
    EXPECT_EQ(WheelScrollSteps(240, 0, &pages), 0);
    // Page-wise: one page per notch, never a runaway count.
    EXPECT_EQ(WheelScrollSteps(120, WHEEL_PAGESCROLL, &pages), 1);
    EXPECT_TRUE(pages);
    EXPECT_EQ(WheelScrollSteps(-360, WHEEL_PAGESCROLL, &pages), -3);
    EXPECT_EQ(WheelScrollSteps(60, WHEEL_PAGESCROLL, &pages), 0);
    EXPECT_EQ(WheelScrollSteps(32767, WHEEL_PAGESCROLL, &pages), 273);
    // Absurd settings stay bounded.
    EXPECT_EQ(WheelScrollSteps(32767, 0xFFFFFFFEu, &pages), 1000);
    EXPECT_EQ(WheelScrollSteps(-32768, 0xFFFFFFFEu, &pages), -1000);
}

TEST_F(MainWindowTest, WheelScrollsTheLog) {
    for (int i = 1; i <= 200; ++i) logView.AppendLine(("wheel " + std::to_string(i)).c_str());
    UINT setting = 0;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &setting, 0));
    ASSERT_GT(setting, 0u);
    ASSERT_LT(setting, 50u);
    SendMessageA(logWindow, WM_VSCROLL, SB_TOP, 0);
    ASSERT_EQ(SendMessageA(logWindow, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    // Each turn, then the first visible line in wheel settings; 30 is less than a line.
    const struct {
        short delta;
        UINT settings;
    } turns[] = {{-120, 1}, {-240, 3}, {120, 2}, {30, 2}};
    for (const auto& turn : turns) {
        SendMessageA(mainWindowHandle, WM_MOUSEWHEEL, MAKEWPARAM(0, turn.delta), 0);
        EXPECT_EQ(SendMessageA(logWindow, EM_GETFIRSTVISIBLELINE, 0, 0),
                  static_cast<LRESULT>(turn.settings * setting))
            << turn.delta;
    }
}

TEST_F(MainWindowTest, CursorOverTheLogIsTheArrow) {
    EXPECT_EQ(SendMessageA(mainWindowHandle, WM_SETCURSOR, reinterpret_cast<WPARAM>(logWindow),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              1);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_ARROW));
}

TEST_F(MainWindowTest, ClosingAndExitRefusedWhileAJobIsSetUp) {
    jobState.setUp.store(1);
    for (UINT message : {UINT{WM_CLOSE}, UINT{WM_COMMAND}}) {
        const WPARAM how = message == WM_COMMAND ? IDM_EXIT : 0;
        EXPECT_EQ(BoxShownBy([&] { SendMessageA(mainWindowHandle, message, how, 0); }),
                  "Quarnel|" + LoadString(IDS_CLOSE_REFUSED));
        EXPECT_TRUE(IsWindow(mainWindowHandle));
        EXPECT_TRUE(IsWindow(logWindow));
        EXPECT_EQ(jobState.setUp.load(), 1);
    }
    MSG quit;
    EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST(AboutBoxTest, UnknownHostAndSmallBuffers) {
    char text[512];
    FormatAboutText(Instance(), 77, text, sizeof(text));
    EXPECT_NE(std::string(text).find("\r\n\r\nHost: Unknown"), std::string::npos);
    std::memset(text, '#', sizeof(text));
    FormatAboutText(Instance(), 5, text, 30);
    EXPECT_EQ(std::strlen(text), 29u);
    EXPECT_EQ(text[30], '#');
    char tiny[4] = "abc";
    AppendBounded(tiny, sizeof(tiny), "\x95\x5C");  // no room: nothing, and no half character
    EXPECT_STREQ(tiny, "abc");
    char two[4] = "a";
    AppendBounded(two, sizeof(two), "\x95\x5C\x95\x5C");
    EXPECT_STREQ(two, "a\x95\x5C");
}

TEST_F(MainWindowTest, AboutBoxShowsTheHostLineOfThisMachine) {
    EXPECT_EQ(BoxShownBy([] { SendMessageA(mainWindowHandle, WM_COMMAND, IDM_ABOUT, 0); }),
              LoadString(IDS_ABOUT_CAPTION) + "|Quarnel Version 2.00\r\n\r\n" +
                  LoadString(IDS_AUTHOR_LINE) + "\r\n\r\nHost: Win64 (x64 native)");
}

TEST(HelpTest, HelpFileBesideTheProgramWhateverTheCurrentFolder) {
    char module[512];
    GetModuleFileNameA(nullptr, module, sizeof(module));
    char folder[512];
    DirectoryOfPath(folder, module);
    char previous[512];
    GetCurrentDirectoryA(sizeof(previous), previous);
    SetCurrentDirectoryA("C:\\");
    char path[512];
    ASSERT_TRUE(HelpFilePath(path, sizeof(path)));
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(std::string(path), std::string(folder) + "qrnl.hlp");
    EXPECT_FALSE(HelpFilePath(path, std::strlen(folder) + 8));  // one byte short
    EXPECT_TRUE(HelpFilePath(path, std::strlen(folder) + 9));
}

// Last: without a job the window closes and the loop is told to end.
TEST_F(MainWindowTest, ZClosesWithoutAJob) {
    SendMessageA(mainWindowHandle, WM_COMMAND, IDM_POWER, 0);  // no handler: nothing happens
    EXPECT_TRUE(IsWindow(mainWindowHandle));
    SendMessageA(mainWindowHandle, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_FALSE(IsWindow(mainWindowHandle));
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
    ShutdownMainWindow();
}

}  // namespace
