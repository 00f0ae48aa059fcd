// Quarnel from the outside: starts the shipped qrnl.exe and uses it as a user
// would, with real mouse clicks and key presses (SendInput reaches the
// program through the window system like a keyboard and a mouse), reading
// its windows with WM_GETTEXT and filling the save dialog's name with
// WM_SETTEXT. Screenshots go to the folder given with --shots=DIR.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/size_estimates.h"
#include "resources/resource_ids.h"
#include "tests/job/job_test_support.h"
#include "tests/ui/ui_driver.h"

namespace {

std::string programPath;  // Windows path of qrnl.exe
std::string shotFolder;   // Windows path, may be empty
PROCESS_INFORMATION program;

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string result = "Z:" + path;
    for (char& c : result) {
        if (c == '/') c = '\\';
    }
    return result;
}

// A visible top-level window of the program, waiting up to timeoutMs.
HWND WaitFor(const std::function<bool(HWND)>& match, DWORD timeoutMs = 10000) {
    return WaitForTopWindow(
        [&](HWND w) {
            DWORD process = 0;
            GetWindowThreadProcessId(w, &process);
            return process == program.dwProcessId && match(w);
        },
        timeoutMs);
}

HWND MainWindow() {
    return WaitFor([](HWND w) { return ClassOf(w) == "QRNLMainWindow"; });
}

std::vector<std::string> LogLines(HWND main) { return SplitLines(ControlText(main, IDC_LOGVIEW)); }

// Waits until the log holds `line`; returns the lines from the last
// occurrence of `line` on, or nothing after timeoutMs.
std::vector<std::string> WaitForLogLine(HWND main, const std::string& line, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<std::string> lines = LogLines(main);
        for (size_t i = lines.size(); i-- > 0;) {
            if (lines[i] == line) return std::vector<std::string>(lines.begin() + i, lines.end());
        }
        if (GetTickCount() - start >= timeoutMs) return {};
        Sleep(100);
    }
}

void Key(WORD virtualKey, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(virtualKey, 0));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
    Sleep(30);
}

void Press(WORD virtualKey) {
    Key(virtualKey, false);
    Key(virtualKey, true);
}

void TypeDigits(const char* digits) {
    for (const char* p = digits; *p; ++p) Press(static_cast<WORD>(*p));
    Sleep(200);
}

void ClickAt(int x, int y) {
    SetCursorPos(x, y);
    Sleep(50);
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof input[0]);
    Sleep(250);
}

void ClickWindow(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    ClickAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// The toolbar's buttons: 0 Factorial, 1 Power, 2 Stop.
void ClickToolbarButton(HWND main, int index) {
    HWND bar = GetDlgItem(main, IDC_TOOLBAR);
    ASSERT_NE(bar, nullptr);
    DWORD size = static_cast<DWORD>(SendMessageA(bar, TB_GETBUTTONSIZE, 0, 0));
    int width = LOWORD(size);
    int height = HIWORD(size);
    POINT p{width * index + width / 2, height / 2 + 2};
    ClientToScreen(bar, &p);
    ClickAt(p.x, p.y);
}

void Screenshot(const char* name) {
    if (shotFolder.empty()) return;
    SaveScreen(shotFolder + "\\" + name + ".bmp", 0, 0, GetSystemMetrics(SM_CXVIRTUALSCREEN),
               GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

// Opens the dialog from the toolbar, types N, chooses `path` and presses
// Start. `offered` receives the name the save dialog offered.
void RunFactorialDialog(HWND main, const char* n, const std::string& path, std::string* offered,
                        const char* shot) {
    HWND dialog = nullptr;
    // A click may first have to bring the program to the front.
    for (int attempt = 0; attempt < 3 && !dialog; ++attempt) {
        SetForegroundWindow(main);
        Sleep(300);
        ClickToolbarButton(main, 0);
        dialog = WaitFor(IsFactorialDialog, 3000);
    }
    ASSERT_NE(dialog, nullptr) << "the toolbar's Factorial button opened no dialog";
    Sleep(300);
    TypeDigits(n);
    ASSERT_EQ(ControlText(dialog, IDC_NUMBER), n);
    EXPECT_EQ(ControlText(dialog, IDC_DIGITS_VALUE),
              std::to_string(EstimateDigits(strtoll(n, nullptr, 10))));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_START)));

    // Under load Wine may swallow a click that only brings the dialog forward.
    HWND save = nullptr;
    for (int attempt = 0; attempt < 5 && !save; ++attempt) {
        SetForegroundWindow(dialog);
        Sleep(300);
        ClickWindow(GetDlgItem(dialog, IDC_DEST_BROWSE));
        save = WaitFor(IsSaveDialog, 3000);
    }
    ASSERT_NE(save, nullptr) << "no save dialog";
    HWND name = GetDlgItem(save, 0x47C);
    ASSERT_NE(name, nullptr);
    if (offered) *offered = WindowText(name);
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(save, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(save); ++i) Sleep(50);
    ASSERT_FALSE(IsWindow(save));
    Sleep(300);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_START)));
    if (shot) Screenshot(shot);
    // After the save dialog the first click may only bring the dialog back
    // to the front.
    for (int attempt = 0; attempt < 5 && IsWindow(dialog); ++attempt) {
        SetForegroundWindow(dialog);
        Sleep(300);
        ClickWindow(GetDlgItem(dialog, IDC_START));
        for (int i = 0; i < 40 && IsWindow(dialog); ++i) Sleep(50);
    }
    if (IsWindow(dialog)) {
        // Now and then Wine keeps dropping real clicks on a dialog whose
        // save dialog has just closed; the button's own click still counts.
        Screenshot("e2e_start_click_dropped");
        fprintf(stderr, "note: real clicks on Start were dropped; pressing it with BM_CLICK\n");
        SendMessageTimeoutA(GetDlgItem(dialog, IDC_START), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000,
                            nullptr);
        for (int i = 0; i < 40 && IsWindow(dialog); ++i) Sleep(50);
    }
    ASSERT_FALSE(IsWindow(dialog)) << "Start did not close the dialog";
}

class EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + programPath + "\"";
        ASSERT_TRUE(CreateProcessA(programPath.c_str(), &command[0], nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &program))
            << programPath;
        WaitForInputIdle(program.hProcess, 10000);
    }
    static void TearDownTestSuite() {
        if (!program.hProcess) return;
        if (HWND main = MainWindow()) PostMessageA(main, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(program.hProcess, 10000) != WAIT_OBJECT_0) {
            TerminateProcess(program.hProcess, 1);
        }
        CloseHandle(program.hThread);
        CloseHandle(program.hProcess);
    }
    void SetUp() override { ASSERT_NE(main = MainWindow(), nullptr); }
    HWND main = nullptr;
};

TEST_F(EndToEnd, StartsWithItsPanesAndShowsTheAboutBox) {
    for (int id : {IDC_TOOLBAR, IDC_LOGVIEW, IDC_STATUSBAR}) {
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(main, id))) << id;
    }
    Screenshot("main_window");
    PostMessageA(main, WM_COMMAND, IDM_ABOUT, 0);
    HWND box = WaitFor(IsMessageBox);
    ASSERT_NE(box, nullptr) << "no about box";
    EXPECT_NE(ControlText(box, 0xFFFF).find("\r\n\r\nHost: Win64 (x64 native)"), std::string::npos);
    Sleep(500);  // let it paint its text and button
    Screenshot("about_box");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(50);
    EXPECT_FALSE(IsWindow(box));
}

TEST_F(EndToEnd, ThousandFactorialGivesTheExactFileAndTheFinishedBlock) {
    std::string path = TempPath("qrnl_e2e_F1000.txt");
    DeleteFileA(path.c_str());
    std::string offered;
    RunFactorialDialog(main, "1000", path, &offered, "e2e_dialog");
    EXPECT_EQ(offered, "F1000.txt");
    std::vector<std::string> block = WaitForLogLine(main, "1000!の計算が完了しました。", 30000);
    ASSERT_EQ(block.size(), 6u) << "finished block and its empty line";
    EXPECT_EQ(block[4], "  " + path);
    Screenshot("e2e_main_after_1000");
    std::string digits = ReadOracleDigits(1000);
    ASSERT_EQ(digits.size(), 2568u) << "no oracle digits (--oracle=DIR)";
    const std::string file = ReadWholeFile(path), expected = ExpectedResultFile(1000, digits);
    EXPECT_EQ(file.size(), expected.size());
    EXPECT_TRUE(file == expected) << "the result file differs from GMP's digits";
    DeleteFileA(path.c_str());
}

TEST_F(EndToEnd, MillionStoppedReportsItsPositionAndClosingIsRefusedMeanwhile) {
    std::string path = TempPath("qrnl_e2e_F1000000.txt");
    DeleteFileA(path.c_str());
    RunFactorialDialog(main, "1000000", path, nullptr, nullptr);
    ASSERT_FALSE(WaitForLogLine(main, "1000000!の計算を開始しました。", 10000).empty());
    Sleep(2500);
    Screenshot("e2e_main_during_1000000");
    // The status text itself cannot be fetched from another process; its length can.
    // (counted in characters: a CP932 character of two bytes counts once).
    const char* computing = "1000000!を計算中... (推定桁数: 5565709)";
    EXPECT_EQ(LOWORD(SendMessageA(GetDlgItem(main, IDC_STATUSBAR), SB_GETTEXTLENGTHA, 0, 0)),
              MultiByteToWideChar(932, 0, computing, -1, nullptr, 0) - 1);

    // Closing while it computes: message 2200, and the job goes on.
    HWND box = nullptr;
    for (int attempt = 0; attempt < 3 && !box; ++attempt) {
        SetForegroundWindow(main);
        Sleep(300);
        Key(VK_MENU, false);
        Press(VK_F4);
        Key(VK_MENU, true);
        box = WaitFor(IsMessageBox, 3000);
    }
    ASSERT_NE(box, nullptr) << "closing while computing showed no message";
    EXPECT_EQ(ControlText(box, 0xFFFF), LoadString(IDS_CLOSE_REFUSED));
    for (int attempt = 0; attempt < 3 && IsWindow(box); ++attempt) {
        SetForegroundWindow(box);
        Sleep(200);
        Press(VK_RETURN);
        for (int i = 0; i < 40 && IsWindow(box); ++i) Sleep(50);
    }
    ASSERT_FALSE(IsWindow(box)) << "Enter did not dismiss the message";
    EXPECT_TRUE(IsWindow(main));
    size_t linesBefore = LogLines(main).size();
    Sleep(2500);
    EXPECT_GT(LogLines(main).size(), linesBefore) << "the job stopped reporting progress";

    // A click that only brings the window back to the front is tried again.
    std::vector<std::string> block;
    for (int attempt = 0; attempt < 5 && block.empty(); ++attempt) {
        SetForegroundWindow(main);
        Sleep(300);
        ClickToolbarButton(main, 2);
        block = WaitForLogLine(main, "1000000!の計算を中止しました。", 2000);
    }
    ASSERT_EQ(block.size(), 5u);
    const std::string label = "  停止位置:     *";
    ASSERT_EQ(block[1].compare(0, label.size(), label), 0) << block[1];
    uint64_t position = strtoull(block[1].c_str() + label.size(), nullptr, 10);
    EXPECT_GT(position, 0u);
    EXPECT_LT(position, 1000000u);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES)
        << "a stopped job wrote a file";
    EXPECT_EQ(LOWORD(SendMessageA(GetDlgItem(main, IDC_STATUSBAR), SB_GETTEXTLENGTHA, 0, 0)), 0);
    Screenshot("e2e_main_after_stop");
}

TEST_F(EndToEnd, ASecondJobCarriesOnlyItsOwnNumberAndPath) {
    std::string path = TempPath("qrnl_e2e_F50.txt");
    DeleteFileA(path.c_str());
    std::string offered;
    RunFactorialDialog(main, "50", path, &offered, nullptr);
    EXPECT_EQ(offered, "F50.txt");
    std::vector<std::string> block = WaitForLogLine(main, "50!の計算が完了しました。", 30000);
    ASSERT_EQ(block.size(), 6u);
    EXPECT_EQ(block[4], "  " + path);
    EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(50, ReadOracleDigits(50)));
    DeleteFileA(path.c_str());
    Screenshot("e2e_main_after_two_jobs");

    // Nothing runs now: closing ends the program, with exit code 0.
    PostMessageA(main, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(program.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 1;
    GetExitCodeProcess(program.hProcess, &code);
    EXPECT_EQ(code, 0u);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    OracleDirFromArgs(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--qrnl=", 7) == 0) programPath = WindowsPath(argv[i] + 7);
        if (strncmp(argv[i], "--shots=", 8) == 0) {
            shotFolder = WindowsPath(argv[i] + 8);
            CreateDirectoryA(shotFolder.c_str(), nullptr);
        }
    }
    if (programPath.empty()) {
        fprintf(stderr, "usage: %s --qrnl=PATH [--oracle=DIR] [--shots=DIR]\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
