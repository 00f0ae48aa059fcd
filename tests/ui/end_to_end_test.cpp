// Quarnel from the outside: starts the shipped qrnl.exe and uses it as a user
// would, with real mouse clicks and key presses (SendInput reaches the
// program through the window system like a keyboard and a mouse), reading
// its windows with WM_GETTEXT and filling the save dialog's name with
// WM_SETTEXT. Screenshots go to the folder given with --shots=DIR.
//
// Every click and key waits first for what makes it land: the target
// enabled, its window in front and enabled (no modal window above it), and
// the program done with what it was sent. A click is made once; repeating
// one that seemed lost would queue a second one that lands later (a second
// save dialog above the first, say).
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cmath>
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

// Generous: under load the first save dialog of a process takes seconds.
const DWORD kPatienceMs = 30000;

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string result = "Z:" + path;
    for (char& c : result) {
        if (c == '/') c = '\\';
    }
    return result;
}

// A visible top-level window of the program, waiting up to timeoutMs.
HWND WaitFor(const std::function<bool(HWND)>& match, DWORD timeoutMs = kPatienceMs) {
    return WaitForTopWindow(
        [&](HWND w) {
            DWORD process = 0;
            GetWindowThreadProcessId(w, &process);
            return process == program.dwProcessId && match(w);
        },
        timeoutMs);
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = kPatienceMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

HWND MainWindow() {
    return WaitFor([](HWND w) { return ClassOf(w) == "QRNLMainWindow"; });
}

std::vector<std::string> LogLines(HWND main) { return SplitLines(ControlText(main, IDC_LOGVIEW)); }

// Waits until the log's last lines are a whole block that begins with
// `first` and ends with an empty line; returns that block, or nothing.
std::vector<std::string> WaitForBlock(HWND main, const std::string& first, size_t size) {
    std::vector<std::string> block;
    WaitUntil([&] {
        std::vector<std::string> lines = LogLines(main);
        if (lines.size() < size || lines[lines.size() - size] != first) return false;
        block.assign(lines.end() - static_cast<long>(size), lines.end());
        return true;
    });
    return block;
}

LRESULT ToolbarState(HWND main, int command) {
    return SendMessageA(GetDlgItem(main, IDC_TOOLBAR), TB_GETSTATE, command, 0);
}

// Until `target` can take a click or a key: see the top of the file.
bool ReadyForInput(HWND target, const std::function<bool()>& enabled = nullptr) {
    HWND top = GetAncestor(target, GA_ROOT);
    return WaitUntil([&] {
        if (!IsWindowVisible(target) || !IsWindowEnabled(top)) return false;
        if (enabled ? !enabled() : !IsWindowEnabled(target)) return false;
        if (GetForegroundWindow() != top) {
            SetForegroundWindow(top);
            return false;
        }
        DWORD_PTR ignored;
        return SendMessageTimeoutA(top, WM_NULL, 0, 0, SMTO_NORMAL, kPatienceMs, &ignored) != 0 &&
               GetForegroundWindow() == top;
    });
}

void Key(WORD virtualKey, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(virtualKey, 0));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void Press(WORD virtualKey) {
    Key(virtualKey, false);
    Key(virtualKey, true);
}

// Each event carries its own place. Moving the cursor first and clicking
// where it is would not do: Wine's desktop process turns every cursor move
// into pointer motion it reports back later, and a late report of the last
// move puts the cursor back where the previous click was.
void ClickAt(POINT p) {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input[3]{};
    const DWORD flags[3] = {0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 3; ++i) {
        input[i].type = INPUT_MOUSE;
        input[i].mi.dx = (p.x * 65536 + width - 1) / width;
        input[i].mi.dy = (p.y * 65536 + height - 1) / height;
        input[i].mi.dwFlags = flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    SendInput(3, input, sizeof input[0]);
}

void ClickControl(HWND control) {
    ASSERT_TRUE(ReadyForInput(control)) << ClassOf(control) << " never became ready";
    RECT r;
    GetWindowRect(control, &r);
    ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

// The toolbar's buttons: 0 Factorial, 1 Power, 2 Stop.
void ClickToolbarButton(HWND main, int index, int command) {
    HWND bar = GetDlgItem(main, IDC_TOOLBAR);
    ASSERT_TRUE(ReadyForInput(bar, [&] { return ToolbarState(main, command) == TBSTATE_ENABLED; }))
        << "toolbar button " << command << " never became ready";
    DWORD size = static_cast<DWORD>(SendMessageA(bar, TB_GETBUTTONSIZE, 0, 0));
    POINT p{LOWORD(size) * index + LOWORD(size) / 2, HIWORD(size) / 2 + 2};
    ClientToScreen(bar, &p);
    ClickAt(p);
}

void Screenshot(const char* name) {
    if (shotFolder.empty()) return;
    SaveScreen(shotFolder + "\\" + name + ".bmp", 0, 0, GetSystemMetrics(SM_CXVIRTUALSCREEN),
               GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

// A job is over when OnJobEnd has run, which the commands' states do not
// show (the end report switches them just before). OnJobEnd puts the title
// back: a title changed before the job started tells when.
const char kTitle[] = "Quarnel for Win64";
void MarkTitle(HWND main) { SendMessageA(main, WM_SETTEXT, 0, (LPARAM) "Quarnel (job)"); }
bool WaitForJobEnd(HWND main) {
    return WaitUntil([&] { return WindowText(main) == kTitle; });
}

// Answers the save dialog the factorial dialog opened: once it shows the
// name it offers, `path` goes in its place and OK is pressed. Returns the
// offered name.
std::string AnswerSaveDialog(HWND dialog, const std::string& path) {
    HWND save = WaitFor(IsSaveDialog);
    if (!save) {
        ADD_FAILURE() << "no save dialog";
        return "";
    }
    HWND name = nullptr;
    std::string offered;
    EXPECT_TRUE(WaitUntil([&] {
        name = GetDlgItem(save, 0x47C);
        return name && !(offered = WindowText(name)).empty();
    }));
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(save, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(save); })) << "the save dialog stayed open";
    // The path has landed when the dialog enables Start.
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_START)) != 0; }))
        << "Start stayed disabled after the save dialog";
    return offered;
}

// Opens the dialog from the toolbar, types N, chooses `path` and presses
// Start, all with real input. Returns the name the save dialog offered.
std::string RunFactorialDialog(HWND main, const char* n, const std::string& path,
                               const char* shot) {
    ClickToolbarButton(main, 0, IDM_FACTORIAL);
    HWND dialog = WaitFor(IsFactorialDialog);
    if (!dialog) {
        ADD_FAILURE() << "the toolbar's Factorial button opened no dialog";
        return "";
    }
    HWND field = GetDlgItem(dialog, IDC_NUMBER);
    EXPECT_TRUE(ReadyForInput(field));
    for (const char* p = n; *p; ++p) Press(static_cast<WORD>(*p));
    EXPECT_TRUE(WaitUntil([&] { return WindowText(field) == n; })) << WindowText(field);
    EXPECT_EQ(ControlText(dialog, IDC_DIGITS_VALUE),
              std::to_string(EstimateDigits(strtoll(n, nullptr, 10))));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_START)));

    ClickControl(GetDlgItem(dialog, IDC_DEST_BROWSE));
    std::string offered = AnswerSaveDialog(dialog, path);
    if (shot) Screenshot(shot);
    MarkTitle(main);
    ClickControl(GetDlgItem(dialog, IDC_START));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "Start did not close the dialog";
    return offered;
}

// The same with messages only: quicker, for jobs that fill the log.
void RunJobByMessages(HWND main, uint64_t n, const std::string& path) {
    PostMessageA(main, WM_COMMAND, IDM_FACTORIAL, 0);
    HWND dialog = WaitFor(IsFactorialDialog);
    ASSERT_NE(dialog, nullptr);
    SendMessageA(GetDlgItem(dialog, IDC_NUMBER), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(std::to_string(n).c_str()));
    PostMessageA(dialog, WM_COMMAND, IDC_DEST_BROWSE, 0);
    AnswerSaveDialog(dialog, path);
    MarkTitle(main);
    PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
}

// The two arrow buttons of the vertical scroll bar in a window's frame, top
// then bottom, as they show on the screen.
std::vector<uint32_t> ScrollArrows(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    POINT corner{client.right, client.top};
    ClientToScreen(window, &corner);
    const int width = GetSystemMetrics(SM_CXVSCROLL), height = GetSystemMetrics(SM_CYVSCROLL);
    std::vector<uint32_t> arrows = ScreenPixels(corner.x, corner.y, width, height);
    std::vector<uint32_t> bottom =
        ScreenPixels(corner.x, corner.y + client.bottom - height, width, height);
    arrows.insert(arrows.end(), bottom.begin(), bottom.end());
    return arrows;
}

// Whether the log's vertical scroll bar is drawn: its arrow buttons look as
// they do on a window of this test that shows one. A frame left unpainted
// shows what was there before (the text's white).
bool VerticalBarDrawn(HWND log) {
    RECT r;
    GetWindowRect(log, &r);
    HWND reference =
        CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE | WS_VSCROLL,
                        GetSystemMetrics(SM_CXSCREEN) - 120, 0, 100, r.bottom - r.top, nullptr,
                        nullptr, nullptr, nullptr);
    SCROLLINFO info{sizeof info, SIF_RANGE | SIF_PAGE, 0, 100, 10, 0, 0};
    SetScrollInfo(reference, SB_VERT, &info, TRUE);
    RedrawWindow(reference, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    // Either picture reaches the screen when its process next looks at its
    // messages; a bar that was never painted never shows.
    const bool drawn = WaitUntil(
        [&] {
            Pump();
            return ScrollArrows(log) == ScrollArrows(reference);
        },
        10000);
    DestroyWindow(reference);
    return drawn;
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
        WaitForInputIdle(program.hProcess, kPatienceMs);
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
    ASSERT_TRUE(ReadyForInput(box));  // painted by then
    Screenshot("about_box");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
}

TEST_F(EndToEnd, ThousandFactorialGivesTheExactFileAndTheFinishedBlock) {
    std::string path = TempPath("qrnl_e2e_F1000.txt");
    DeleteFileA(path.c_str());
    EXPECT_EQ(RunFactorialDialog(main, "1000", path, "e2e_dialog"), "F1000.txt");
    std::vector<std::string> block = WaitForBlock(main, "1000!の計算が完了しました。", 6);
    ASSERT_EQ(block.size(), 6u) << "finished block and its empty line";
    EXPECT_EQ(block[4], "  " + path);
    EXPECT_TRUE(WaitForJobEnd(main));
    Screenshot("e2e_main_after_1000");
    std::string digits = ReadOracleDigits(1000);
    ASSERT_EQ(digits.size(), 2568u) << "no oracle digits (--oracle=DIR)";
    const std::string file = ReadWholeFile(path), expected = ExpectedResultFile(1000, digits);
    EXPECT_EQ(file.size(), expected.size());
    EXPECT_TRUE(file == expected) << "the result file differs from GMP's digits";
    DeleteFileA(path.c_str());
}

TEST_F(EndToEnd, MillionStoppedAndNothingElseEndsOrDoublesItMeanwhile) {
    std::string path = TempPath("qrnl_e2e_F1000000.txt");
    DeleteFileA(path.c_str());
    RunFactorialDialog(main, "1000000", path, nullptr);
    ASSERT_FALSE(WaitForBlock(main, "1000000!の計算を開始しました。", 3).empty());
    // The status text itself cannot be fetched from another process; its length can.
    // (counted in characters: a CP932 character of two bytes counts once).
    const char* computing = "1000000!を計算中... (推定桁数: 5565709)";
    EXPECT_EQ(LOWORD(SendMessageA(GetDlgItem(main, IDC_STATUSBAR), SB_GETTEXTLENGTHA, 0, 0)),
              MultiByteToWideChar(932, 0, computing, -1, nullptr, 0) - 1);

    // A job-end command from another program ends nothing: Factorial stays
    // refused (it would open the dialog, and this send would wait on it).
    PostMessageA(main, WM_COMMAND, IDM_JOBEND, 0);
    DWORD_PTR ignored;
    EXPECT_NE(
        SendMessageTimeoutA(main, WM_COMMAND, IDM_FACTORIAL, 0, SMTO_NORMAL, kPatienceMs, &ignored),
        0);
    if (HWND dialog = WaitFor(IsFactorialDialog, 0)) {
        ADD_FAILURE() << "Factorial opened while a job computes";
        PostMessageA(dialog, WM_COMMAND, IDC_CANCEL_BUTTON, 0);
    }

    // Closing while it computes: message 2200, and the job goes on.
    ASSERT_TRUE(ReadyForInput(main));
    Key(VK_MENU, false);
    Press(VK_F4);
    Key(VK_MENU, true);
    HWND box = WaitFor(IsMessageBox);
    ASSERT_NE(box, nullptr) << "closing while computing showed no message";
    EXPECT_EQ(ControlText(box, 0xFFFF), LoadString(IDS_CLOSE_REFUSED));
    ASSERT_TRUE(ReadyForInput(box));
    Press(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); })) << "Enter did not dismiss the message";
    EXPECT_TRUE(IsWindow(main));
    const size_t linesBefore = LogLines(main).size();
    EXPECT_TRUE(WaitUntil([&] { return LogLines(main).size() > linesBefore; }, 10000))
        << "the job stopped reporting progress";
    Screenshot("e2e_main_during_1000000");

    ClickToolbarButton(main, 2, IDM_STOP);
    std::vector<std::string> block = WaitForBlock(main, "1000000!の計算を中止しました。", 5);
    ASSERT_EQ(block.size(), 5u);
    EXPECT_TRUE(WaitForJobEnd(main));
    const std::string label = "  停止位置:     *";
    ASSERT_EQ(block[1].compare(0, label.size(), label), 0) << block[1];
    uint64_t position = strtoull(block[1].c_str() + label.size(), nullptr, 10);
    EXPECT_GT(position, 0u);
    EXPECT_LT(position, 1000000u);
    std::vector<std::string> lines = LogLines(main);
    for (size_t i = lines.size() - 5; i-- > 0 && lines[i] != "1000000!の計算を開始しました。";) {
        EXPECT_EQ(lines[i].find("の計算を開始しました。"), std::string::npos) << "a second job";
    }
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES)
        << "a stopped job wrote a file";
    EXPECT_EQ(LOWORD(SendMessageA(GetDlgItem(main, IDC_STATUSBAR), SB_GETTEXTLENGTHA, 0, 0)), 0);
    Screenshot("e2e_main_after_stop");
}

// Digits of n! for small n.
uint64_t DigitsOfFactorial(uint64_t n) {
    double log = 0;
    for (uint64_t k = 2; k <= n; ++k) log += std::log10(static_cast<double>(k));
    return static_cast<uint64_t>(std::floor(log)) + 1;
}

// 34 jobs of 9 lines each roll the log past its 300 lines; each block
// carries only its own N and path.
TEST_F(EndToEnd, ManyJobsRollTheLogAndItsScrollBarIsDrawn) {
    std::vector<std::string> expected;
    for (uint64_t n = 20; n < 20 + 34; ++n) {
        std::string path = TempPath("qrnl_e2e_roll_" + std::to_string(n) + ".txt");
        DeleteFileA(path.c_str());
        RunJobByMessages(main, n, path);
        ASSERT_TRUE(WaitForJobEnd(main)) << n;
        const std::string digits = std::to_string(DigitsOfFactorial(n));
        const std::vector<std::string> block = {std::to_string(n) + "!の計算を開始しました。",
                                                "  推定の桁数:   " + digits,
                                                "  使用メモリ:   ",
                                                std::to_string(n) + "!の計算が完了しました。",
                                                "  結果の桁数:   " + digits,
                                                "  要した時間: ",
                                                "計算結果を以下のファイルへ保存しました。",
                                                "  " + path,
                                                ""};
        expected.insert(expected.end(), block.begin(), block.end());
        if (n == 50) {
            EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(50, ReadOracleDigits(50)));
        }
        DeleteFileA(path.c_str());
    }
    expected.erase(expected.begin(), expected.end() - 300);
    std::vector<std::string> lines = LogLines(main);
    ASSERT_EQ(lines.size(), 300u);
    for (size_t i = 0; i < lines.size(); ++i) {
        // The memory and time lines are checked up to their numbers.
        EXPECT_EQ(lines[i].substr(0, lines[i].size() < expected[i].size() ? lines[i].size()
                                                                          : expected[i].size()),
                  expected[i])
            << "line " << i;
        if (expected[i].back() == ' ') {
            EXPECT_GT(lines[i].size(), expected[i].size()) << "line " << i;
        } else {
            EXPECT_EQ(lines[i].size(), expected[i].size()) << "line " << i;
        }
    }
    EXPECT_TRUE(VerticalBarDrawn(GetDlgItem(main, IDC_LOGVIEW)));
    Screenshot("e2e_main_after_rolling");

    // Nothing runs now: closing ends the program, with exit code 0.
    PostMessageA(main, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(program.hProcess, kPatienceMs),
              static_cast<DWORD>(WAIT_OBJECT_0));
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
