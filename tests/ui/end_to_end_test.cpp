// The shipped qrnl.exe (--qrnl=PATH) used from outside with real clicks and keys, or messages
// where only the outcome matters; screenshots go to --shots=DIR. Each click and key waits for
// what makes it land (ReadyForInput) and is made once: a repeated one lands later. Run under the
// Japanese locale and once more under a Western one: texts are read back as UTF-16, and the files
// go to a folder whose name no ANSI code page holds.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/size_estimates.h"
#include "tests/job/job_test_support.h"
#include "tests/ui/ui_driver.h"

namespace {

using Lines = std::vector<std::string>;
std::string programPath, shotFolder, temp, folder;  // Windows paths, UTF-8
PROCESS_INFORMATION program;
HWND mainWindow;

// A visible top-level window of the program.
HWND WaitFor(bool (*match)(HWND), DWORD timeoutMs = 30000) {
    return WaitForTopWindow(program.dwProcessId, match, timeoutMs);
}
bool IsSaveDialog(HWND w) { return WindowText(w) == "保存先ファイル名を指定"; }
Lines LogLines() { return SplitLines(ControlText(mainWindow, IDC_LOGVIEW)); }

// Waits until the log's last `size` lines begin with `first`, looking every `periodMs`; returns
// them.
Lines WaitForBlock(const std::string& first, size_t size, DWORD periodMs = 20) {
    Lines lines;
    WaitUntil(
        [&] { return (lines = LogLines()).size() >= size && lines[lines.size() - size] == first; },
        30000, periodMs);
    return lines.size() >= size ? Lines(lines.end() - size, lines.end()) : Lines{};
}
// The target enabled, its window in front and enabled (no modal above), the program idle.
bool ReadyForInput(HWND target, const std::function<bool()>& enabled = nullptr) {
    HWND top = GetAncestor(target, GA_ROOT);
    DWORD_PTR ignored;
    return WaitUntil([&] {
        if (!IsWindowVisible(target) || !IsWindowEnabled(top)) return false;
        if (enabled ? !enabled() : !IsWindowEnabled(target)) return false;
        if (GetForegroundWindow() != top) return SetForegroundWindow(top) && false;
        return SendMessageTimeoutA(top, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored) &&
               GetForegroundWindow() == top;
    });
}

void Type(const char* keys) {
    for (INPUT input[2] = {}; *keys; SendInput(2, input, sizeof input[0]), ++keys) {
        for (DWORD up : {0, 1}) {
            input[up].type = INPUT_KEYBOARD;
            input[up].ki = {WORD(*keys), WORD(MapVirtualKeyA(*keys, 0)), up * KEYEVENTF_KEYUP, 0,
                            0};
        }
    }
}
// Clicks `target` at `p` (its middle by default). Each event carries its place: Wine's desktop
// process reports a move back later, so a click after a move could land where the last one did.
void Click(HWND target, POINT p = {-1, -1}, const std::function<bool()>& enabled = nullptr) {
    ASSERT_TRUE(ReadyForInput(target, enabled)) << ClassOf(target) << " never became ready";
    RECT r;
    GetClientRect(target, &r);
    if (p.x < 0) p = {r.right / 2, r.bottom / 2};
    ClientToScreen(target, &p);
    const LONG w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN),
               dx = (p.x * 65536 + w - 1) / w, dy = (p.y * 65536 + h - 1) / h;
    INPUT input[3] = {};
    const DWORD flags[3] = {0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 3; ++i) {
        input[i].type = INPUT_MOUSE;
        input[i].mi = {dx, dy, 0, flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 0, 0};
    }
    SendInput(3, input, sizeof input[0]);
}
// The toolbar's buttons: 0 Factorial, 1 Power, 2 Stop.
void ClickToolbarButton(int index, int command) {
    HWND bar = GetDlgItem(mainWindow, IDC_TOOLBAR);
    const DWORD size = static_cast<DWORD>(SendMessageA(bar, TB_GETBUTTONSIZE, 0, 0));
    Click(bar, POINT{LOWORD(size) * index + LOWORD(size) / 2, HIWORD(size) / 2 + 2},
          [&] { return SendMessageA(bar, TB_GETSTATE, command, 0) == TBSTATE_ENABLED; });
}
// The text of the message box that comes, once Enter has dismissed it.
std::string DismissBox() {
    HWND box = WaitFor(IsMessageBox);
    if (!box || !ReadyForInput(box)) return "no message box";
    const std::string text = ControlText(box, 0xFFFF);
    Type("\r");
    return WaitUntil([&] { return !IsWindow(box); }) ? text : "stayed: " + text;
}
void Screenshot(const char* name) {
    Screen(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
           shotFolder + "\\" + name + ".bmp");
}
// A job is over when OnJobEnd has run (the end report comes before it); OnJobEnd puts back
// the title, so a title changed before the job started tells when.
void MarkTitle() { SendMessageA(mainWindow, WM_SETTEXT, 0, (LPARAM) "(job)"); }
bool WaitForJobEnd() {
    return WaitUntil([&] { return WindowText(mainWindow) == "Quarnel for Win64"; });
}
// Answers the save dialog once it shows the name it offers; returns that name.
std::string AnswerSaveDialog(const std::string& path) {
    HWND save = WaitFor(IsSaveDialog), name = nullptr;
    std::string offered;
    EXPECT_TRUE(save && WaitUntil([&] {
                    return (name = GetDlgItem(save, 0x47C)) &&
                           !(offered = WindowText(name)).empty();
                }))
        << "no save dialog";
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Utf16(path).c_str()));
    PostMessageA(save, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(save); })) << "the save dialog stayed";
    return offered;
}
// Opens the dialog and fills it from outside: N by message, the file
// through the save dialog.
HWND DialogFor(const std::string& n, const std::string& file) {
    PostMessageA(mainWindow, WM_COMMAND, IDM_FACTORIAL, 0);
    HWND dialog = WaitFor(IsFactorialDialog);
    if (!dialog) return nullptr;
    SendMessageA(GetDlgItem(dialog, IDC_NUMBER), WM_SETTEXT, 0, (LPARAM)n.c_str());
    PostMessageA(dialog, WM_COMMAND, IDC_DEST_BROWSE, 0);
    AnswerSaveDialog(file);
    return dialog;
}
// The path has landed when the dialog enables Start.
bool StartEnabled(HWND dialog) {
    return WaitUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_START)) != 0; });
}

// The dialog's texts. A path of MAX_PATH UTF-16 units with its terminator is taken, one unit
// more refused (its characters, one outside the BMP among them, take more bytes in every code
// page); Start with a number above the limit (one that would wrap round to 1 in 64 bits) starts
// no job.
TEST(EndToEnd, DialogTextsAndRefusalsOfOverlongPathsAndNumbers) {
    std::string p = temp;
    while (Utf16(p).size() + 3 + 4 <= MAX_PATH - 1) p += "é𝄞";  // three units each
    p.append(MAX_PATH - 1 - 4 - Utf16(p).size(), 'p');
    DeleteFileW(Utf16(p + ".txt").c_str());  // a broken run's job may have written it
    HWND dialog = DialogFor("18446744073709551617", p + "p.txt");
    EXPECT_EQ(DismissBox(), LoadString(IDS_PATH_TOO_LONG));
    const std::pair<int, std::string> texts[] = {
        {0, "階乗"},
        {IDC_TASK_GROUP, "計算内容"},
        {IDC_NUMBER_SUFFIX, "の階乗を計算します。"},
        {IDC_RANGE_TEXT, "0から100万までの階乗が計算できます。"},
        {IDC_INFO_GROUP, "情報"},
        {IDC_DIGITS_CAPTION, "推定桁数"},
        {IDC_MEMORY_CAPTION, "必要なメモリ領域"},
        {IDC_DEST_GROUP, "計算結果の保存先"},
        {IDC_DEST_BROWSE, "保存先..."},
        {IDC_DEST_PATH, "指定されていません"},
        {IDC_START, "計算開始"},
        {IDC_CANCEL_BUTTON, "キャンセル"}};
    for (const auto& text : texts) {
        EXPECT_EQ(text.first ? ControlText(dialog, text.first) : WindowText(dialog), text.second);
    }
    PostMessageA(dialog, WM_COMMAND, IDC_DEST_BROWSE, 0);
    AnswerSaveDialog(p + ".txt");
    ASSERT_TRUE(StartEnabled(dialog));
    PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
    EXPECT_EQ(DismissBox(), LoadString(IDS_RANGE_WARNING));
    PostMessageA(dialog, WM_COMMAND, IDC_CANCEL_BUTTON, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
}

// Every class of key in the N field, typed for real, from the main row and from the keypad
// (VK_NUMPAD0 is 0x60, "`"): digits go in while N stays within 1,000,000 and bring warning
// 5003 past it, a 0 in front of 1000000 passes to the field's own limit; Back, Delete, Home,
// End, Left and Right edit; Enter, Esc, the arrows up and down (Left and Right in a one-line
// field), Insert, F1, a letter and the keypad's operators change nothing. Each row ends in a key
// whose effect shows, so the keys before it have been handled when the field is read.
TEST(EndToEnd, NumberFieldKeysFromTheMainRowAndTheKeypad) {
    PostMessageA(mainWindow, WM_COMMAND, IDM_FACTORIAL, 0);
    HWND dialog = WaitFor(IsFactorialDialog), field = GetDlgItem(dialog, IDC_NUMBER);
    ASSERT_TRUE(ReadyForInput(field)) << "no dialog";
    // Keys by virtual-key code: 0x30-0x39 the main row's digits, 0x60-0x69 the keypad's, 0x90
    // NumLock (around the keypad's digits), 0x24 Home, 0x23 End, 0x25 Left, 0x27 Right, 0x08
    // Back, 0x2E Delete; refused: 0x0D Enter, 0x1B Esc, 0x26 Up, 0x28 Down, 0x2D Insert, 0x70
    // F1, 0x41 A, 0x6B 0x6D 0x6E the keypad's + - and decimal point.
    const struct {
        const char *before, *keys, *after;  // the caret is at the end of `before`
        bool warned;
    } rows[] = {
        {"", "\x31\x32", "12", false},
        {"", "\x90\x60\x61\x69\x90", "019", false},
        {"100000", "\x30", "1000000", false},
        {"100000", "\x90\x60\x90", "1000000", false},
        {"100000", "\x31", "100000", true},
        {"100000", "\x90\x61\x90", "100000", true},
        {"1000000", "\x24\x30\x23\x08", "100000", false},
        {"1000000", "\x24\x90\x60\x90\x23\x08", "100000", false},
        {"1234", "\x24\x39\x23\x38", "912348", false},
        {"1234", "\x25\x25\x39\x27\x38", "129384", false},
        {"1234", "\x08\x24\x2E", "23", false},
        {"1234", "\x0D\x1B\x26\x2D\x70\x41\x35", "12345", false},
        {"1234", "\x24\x28\x90\x6B\x6D\x6E\x90\x35", "51234", false},
    };
    for (const auto& row : rows) {
        SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(row.before));
        SendMessageA(field, EM_SETSEL, strlen(row.before), strlen(row.before));
        ASSERT_TRUE(ReadyForInput(field)) << row.before;
        Type(row.keys);
        EXPECT_EQ(row.warned ? DismissBox() : "", row.warned ? LoadString(IDS_RANGE_WARNING) : "");
        EXPECT_TRUE(WaitUntil([&] { return WindowText(field) == row.after; }, 10000))
            << row.before << " then keys of row " << &row - rows << ": " << WindowText(field);
    }
    PostMessageA(dialog, WM_COMMAND, IDC_CANCEL_BUTTON, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
}

// With real input. Enter, Esc and a letter change nothing; a digit past 1,000,000 brings the
// warning. The path shows with its middle elided. The job runs to its end: its file is byte for
// byte GMP's digits, and the time from the click on Start to the finished report is printed,
// never judged here.
TEST(EndToEnd, MillionToTheEndWritesGmpsDigits) {
    const std::string path = folder + "\\F1000000.txt";
    DeleteFileW(Utf16(path).c_str());  // a file there would bring the overwrite question
    Screenshot("main_window");
    ClickToolbarButton(0, IDM_FACTORIAL);
    HWND dialog = WaitFor(IsFactorialDialog), field = GetDlgItem(dialog, IDC_NUMBER);
    ASSERT_TRUE(ReadyForInput(field)) << "no dialog";
    Type("1000\r\x1BV000");
    EXPECT_TRUE(WaitUntil([&] { return WindowText(field) == "1000000"; })) << WindowText(field);
    EXPECT_EQ(ControlText(dialog, IDC_DIGITS_VALUE), "5565709");
    Type("1");
    EXPECT_EQ(DismissBox(), LoadString(IDS_RANGE_WARNING));
    EXPECT_EQ(WindowText(field), "1000000");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_START)));
    Click(GetDlgItem(dialog, IDC_DEST_BROWSE));
    EXPECT_EQ(AnswerSaveDialog(path), "F1000000.txt");
    ASSERT_TRUE(StartEnabled(dialog));
    const std::wstring shown = WindowText16(GetDlgItem(dialog, IDC_DEST_PATH)), whole = Utf16(path);
    const size_t dots = shown.find(L"..."), tail = shown.size() - dots - 3;
    EXPECT_TRUE(dots != shown.npos && dots >= 3 && whole.compare(0, dots, shown, 0, dots) == 0 &&
                whole.compare(whole.size() - tail, tail, shown, dots + 3, tail) == 0 &&
                tail >= strlen("\\F1000000.txt"))
        << Utf8(shown) << ": start, \"...\", the file name";
    Screenshot("e2e_dialog");
    MarkTitle();
    LARGE_INTEGER frequency, clicked, reported;
    QueryPerformanceFrequency(&frequency);
    Click(GetDlgItem(dialog, IDC_START));
    QueryPerformanceCounter(&clicked);
    Lines block = WaitForBlock("1000000!の計算が完了しました。", 6, 5);  // timed: look often
    QueryPerformanceCounter(&reported);
    ASSERT_EQ(block.size(), 6u) << "no finished report";
    EXPECT_TRUE(WaitForJobEnd());
    printf("1000000!: %.3f s from the click on Start to the finished report; the log says \"%s\"\n",
           static_cast<double>(reported.QuadPart - clicked.QuadPart) / frequency.QuadPart,
           block[2].c_str());
    EXPECT_EQ(block[1], "  結果の桁数:   5565709");
    EXPECT_EQ(block[4], "  " + path);
    EXPECT_TRUE(ReadWholeFile(path) == ExpectedResultFile(1000000, ReadOracleDigits(1000000)))
        << "the file differs from GMP's digits";
    DeleteFileW(Utf16(path).c_str());
    Screenshot("e2e_main_after_1000000");
}

// 34 jobs of nine lines each roll the log past its 300 lines. Each file is given by a bare
// name: the save dialog opens in the folder of the last choice. Jobs 45 to 47 write to paths
// of 256, 258 and 259 units (the most the dialog takes); job 48 keeps its file when a longer
// choice after it is refused.
TEST(EndToEnd, ManyJobsRollTheLogAndItsScrollBarIsDrawn) {
    Lines expected = LogLines();
    const std::string took = "  要した時間: ";  // its numbers are pinned down in this process
    auto named = [](const std::string& stem, size_t units, char fill) {
        return stem + std::string(units - Utf16(folder + "\\" + stem + ".txt").size(), fill) +
               ".txt";
    };
    for (int n = 20; n < 20 + 34; ++n) {
        const std::string no = std::to_string(n), stem = "r" + no;
        const size_t units[] = {256, 258, 259};
        const std::string name =
            n >= 45 && n <= 47 ? named(stem, units[n - 45], char('x' + n - 45)) : stem + ".txt";
        DeleteFileW(Utf16(folder + "\\" + name).c_str());
        HWND dialog = DialogFor(no, name);
        if (n == 48) {
            const std::string overlong = named(stem, MAX_PATH, 'z');
            DeleteFileW(Utf16(folder + "\\" + overlong).c_str());  // a broken run may have made it
            PostMessageA(dialog, WM_COMMAND, IDC_DEST_BROWSE, 0);
            AnswerSaveDialog(overlong);
            EXPECT_EQ(DismissBox(), LoadString(IDS_PATH_TOO_LONG));
        }
        ASSERT_TRUE(StartEnabled(dialog));
        MarkTitle();
        PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
        ASSERT_TRUE(WaitForJobEnd()) << n;
        const std::string digits = std::to_string(EstimateDigits(n)),  // exact in this range
            bytes = std::to_string((BytesForDigits(EstimateDigits(n)) + 0x10FFF) & ~0xFFFull);
        expected.insert(
            expected.end(),
            {no + "!の計算を開始しました。", "  推定の桁数:   " + digits,
             "  使用メモリ:   " + bytes + " bytes", no + "!の計算が完了しました。",
             "  結果の桁数:   " + digits, took, "計算結果を以下のファイルへ保存しました。",
             "  " + folder + "\\" + name, ""});
        EXPECT_TRUE(ReadWholeFile(folder + "\\" + name) ==
                    ExpectedResultFile(n, ReadOracleDigits(n)))
            << name;
        DeleteFileW(Utf16(folder + "\\" + name).c_str());
    }
    Lines lines = LogLines();
    ASSERT_EQ(lines.size(), 300u);
    for (size_t i = 0; i < 300; ++i) {
        const std::string& want = expected[expected.size() - 300 + i];
        EXPECT_EQ(want == took ? lines[i].substr(0, took.size()) : lines[i], want) << i;
    }
    // The log's scroll bar shows the arrow a window of this test shows, where an unpainted
    // frame shows white. Either reaches the screen when its process next reads its messages.
    HWND log = GetDlgItem(mainWindow, IDC_LOGVIEW);
    RECT r;
    GetWindowRect(log, &r);
    HWND reference =
        CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE | WS_VSCROLL, 900, 0,
                        100, r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
    SetScrollRange(reference, SB_VERT, 0, 100, TRUE);
    auto arrow = [](HWND w) {  // the top arrow button
        POINT p = {0, 0};
        ClientToScreen(w, &p);
        RECT c;
        GetClientRect(w, &c);
        return Screen(p.x + c.right, p.y, GetSystemMetrics(SM_CXVSCROLL),
                      GetSystemMetrics(SM_CYVSCROLL));
    };
    EXPECT_TRUE(WaitUntil([&] { return PumpFor(0), arrow(log) == arrow(reference); }, 10000))
        << "the log's vertical scroll bar is not drawn";
    DestroyWindow(reference);
    Screenshot("e2e_main_after_rolling");
    // Nothing runs now: closing ends the program, with exit code 0.
    PostMessageA(mainWindow, WM_CLOSE, 0, 0);
    DWORD code = WaitForSingleObject(program.hProcess, 30000);
    EXPECT_TRUE(code == WAIT_OBJECT_0 && GetExitCodeProcess(program.hProcess, &code) && code == 0);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    OracleDirFromArgs(argc, argv);
    auto windowsPath = [](std::string path) {
        for (char& c : path) c = c == '/' ? '\\' : c;
        return path[0] == '\\' ? "Z:" + path : path;
    };
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--qrnl=", 7) == 0) programPath = windowsPath(argv[i] + 7);
        if (strncmp(argv[i], "--shots=", 8) == 0) shotFolder = windowsPath(argv[i] + 8);
    }
    if (programPath.empty()) {
        fprintf(stderr, "usage: %s --qrnl=PATH [--oracle=DIR] [--shots=DIR]\n", argv[0]);
        return 2;
    }
    wchar_t path[MAX_PATH];
    temp = Utf8(std::wstring(path, GetTempPathW(MAX_PATH, path)));
    // é, a Greek letter and one outside the BMP: no ANSI code page holds all three.
    folder = temp + "qrnl_e2e_café_λόγος_𝄞_a_folder_with_a_rather_long_name";
    shotFolder = shotFolder.empty() ? temp + "qrnl_shots" : shotFolder;
    for (const std::string& made : {folder, shotFolder}) {
        std::filesystem::create_directories(std::filesystem::u8path(made));
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string command = "\"" + programPath + "\"";
    if (!CreateProcessA(programPath.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &program) ||
        !(mainWindow = WaitFor([](HWND w) { return ClassOf(w) == "QRNLMainWindow"; }))) {
        fprintf(stderr, "%s did not start\n", programPath.c_str());
        return 1;
    }
    const int status = RUN_ALL_TESTS();
    if (WaitForSingleObject(program.hProcess, 10000)) TerminateProcess(program.hProcess, 1);
    RemoveDirectoryW(Utf16(folder).c_str());
    return status;
}
