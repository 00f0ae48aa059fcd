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
#include <functional>
#include <string>
#include <vector>

#include "engine/size_estimates.h"
#include "resources/resource_ids.h"
#include "tests/support/oracle_data.h"
#include "ui/format_text.h"

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

std::string Text(HWND window) {
    std::vector<char> text(1 << 20);
    LRESULT n =
        SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return std::string(text.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::string ClassName(HWND window) {
    char name[128] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string String(UINT id) {
    char text[512] = "";
    LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return text;
}

struct Search {
    const std::function<bool(HWND)>* match;
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM lParam) {
    Search* search = reinterpret_cast<Search*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == program.dwProcessId && IsWindowVisible(window) && (*search->match)(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window of the program, waiting up to timeoutMs.
HWND WaitFor(const std::function<bool(HWND)>& match, DWORD timeoutMs = 10000) {
    DWORD start = GetTickCount();
    for (;;) {
        Search search{&match, nullptr};
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(50);
    }
}

HWND MainWindow() {
    return WaitFor([](HWND w) { return ClassName(w) == "QRNLMainWindow"; });
}

HWND ChildOfClass(HWND parent, const char* className) {
    return FindWindowExA(parent, nullptr, className, nullptr);
}

HWND LogPane(HWND main) {
    HWND pane = ChildOfClass(main, "RichEdit20A");
    return pane ? pane : ChildOfClass(main, "RichEdit");
}

std::vector<std::string> LogLines(HWND main) {
    std::string text = Text(LogPane(main));
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    return lines;
}

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
    HWND bar = ChildOfClass(main, TOOLBARCLASSNAMEA);
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
    HDC screen = GetDC(nullptr);
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width <= 0 || height <= 0) {
        width = GetDeviceCaps(screen, HORZRES);
        height = GetDeviceCaps(screen, VERTRES);
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + rowBytes * static_cast<DWORD>(height);
    std::string file = shotFolder + "\\" + name + ".bmp";
    HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(out, &header, sizeof header, &written, nullptr);
    WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr);
    WriteFile(out, bits, rowBytes * static_cast<DWORD>(height), &written, nullptr);
    CloseHandle(out);
    SelectObject(memory, old);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    HANDLE in = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
    if (in == INVALID_HANDLE_VALUE) return bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(in, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(in);
    return bytes;
}

// The result file as it must be, made here from GMP's digits.
std::string ExpectedFile(unsigned n, const std::string& digits) {
    std::string text = std::to_string(n) + "!= \r\n";
    std::string padded = std::string((3 - digits.size() % 3) % 3, ' ') + digits;
    size_t groups = padded.size() / 3;
    for (size_t g = 0; g < groups; ++g) {
        text += padded.substr(g * 3, 3);
        if ((g + 1) % 20 == 0 || g + 1 == groups) text += "\r\n";
    }
    return text;
}

HWND SaveDialogWindow() {
    return WaitFor(
        [](HWND w) { return ClassName(w) == "#32770" && Text(w) == "保存先ファイル名を指定"; });
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
        dialog = WaitFor(
            [](HWND w) {
                return ClassName(w) == "#32770" && GetDlgItem(w, IDC_NUMBER) &&
                       GetDlgItem(w, IDC_START);
            },
            3000);
    }
    ASSERT_NE(dialog, nullptr) << "the toolbar's Factorial button opened no dialog";
    Sleep(300);
    TypeDigits(n);
    ASSERT_EQ(Text(GetDlgItem(dialog, IDC_NUMBER)), n);
    char digits[32];
    FormatText(digits, sizeof digits, "%I64u",
               static_cast<uint64_t>(EstimateDigits(strtoll(n, nullptr, 10))));
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_DIGITS_VALUE)), digits);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_START)));

    ClickWindow(GetDlgItem(dialog, IDC_DEST_BROWSE));
    HWND save = SaveDialogWindow();
    ASSERT_NE(save, nullptr) << "no save dialog";
    HWND name = GetDlgItem(save, 0x47C);
    ASSERT_NE(name, nullptr);
    if (offered) *offered = Text(name);
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
    if (IsWindow(dialog)) Screenshot("e2e_start_refused");
    ASSERT_FALSE(IsWindow(dialog)) << "Start did not close the dialog";
}

std::string Scratch(const char* name) {
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + name;
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
};

TEST_F(EndToEnd, ThousandFactorialGivesTheExactFileAndTheFinishedBlock) {
    HWND main = MainWindow();
    ASSERT_NE(main, nullptr);
    std::string path = Scratch("qrnl_e2e_F1000.txt");
    DeleteFileA(path.c_str());
    std::string offered;
    RunFactorialDialog(main, "1000", path, &offered, "e2e_dialog");
    EXPECT_EQ(offered, "F1000.txt");
    std::vector<std::string> block = WaitForLogLine(main, "1000!の計算が完了しました。", 30000);
    ASSERT_EQ(block.size(), 6u) << "finished block and its empty line";
    EXPECT_EQ(block[1], "  結果の桁数:   2568");
    EXPECT_EQ(block[3], "計算結果を以下のファイルへ保存しました。");
    EXPECT_EQ(block[4], "  " + path);
    EXPECT_EQ(block[5], "");
    Screenshot("e2e_main_after_1000");
    std::string digits = ReadOracleDigits(1000);
    ASSERT_EQ(digits.size(), 2568u) << "no oracle digits (--oracle=DIR)";
    std::string file = ReadFileBytes(path);
    EXPECT_EQ(file.size(), ExpectedFile(1000, digits).size());
    EXPECT_TRUE(file == ExpectedFile(1000, digits)) << "the result file differs from GMP's digits";
    DeleteFileA(path.c_str());
}

TEST_F(EndToEnd, MillionStoppedReportsItsPositionAndClosingIsRefusedMeanwhile) {
    HWND main = MainWindow();
    ASSERT_NE(main, nullptr);
    std::string path = Scratch("qrnl_e2e_F1000000.txt");
    DeleteFileA(path.c_str());
    RunFactorialDialog(main, "1000000", path, nullptr, nullptr);
    ASSERT_FALSE(WaitForLogLine(main, "1000000!の計算を開始しました。", 10000).empty());
    Sleep(2500);
    Screenshot("e2e_main_during_1000000");
    // The status text itself cannot be fetched from another process; its length can.
    // (counted in characters: a CP932 character of two bytes counts once).
    const char* computing = "1000000!を計算中... (推定桁数: 5565709)";
    EXPECT_EQ(LOWORD(SendMessageA(ChildOfClass(main, STATUSCLASSNAMEA), SB_GETTEXTLENGTHA, 0, 0)),
              MultiByteToWideChar(932, 0, computing, -1, nullptr, 0) - 1);

    // Closing while it computes: message 2200, and the job goes on.
    SetForegroundWindow(main);
    Sleep(100);
    Key(VK_MENU, false);
    Press(VK_F4);
    Key(VK_MENU, true);
    HWND box = WaitFor([](HWND w) {
        return ClassName(w) == "#32770" && GetDlgItem(w, 0xFFFF) && GetDlgItem(w, IDOK);
    });
    ASSERT_NE(box, nullptr) << "closing while computing showed no message";
    EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)), String(IDS_CLOSE_REFUSED));
    Press(VK_RETURN);
    for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(50);
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
    char count[64];
    FormatText(count, sizeof count, "  計算桁数:     %I64u",
               static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(position))));
    EXPECT_EQ(block[2], count);
    EXPECT_EQ(block[4], "");
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES)
        << "a stopped job wrote a file";
    EXPECT_EQ(LOWORD(SendMessageA(ChildOfClass(main, STATUSCLASSNAMEA), SB_GETTEXTLENGTHA, 0, 0)),
              0);
    Screenshot("e2e_main_after_stop");
}

TEST_F(EndToEnd, ASecondJobCarriesOnlyItsOwnNumberAndPath) {
    HWND main = MainWindow();
    ASSERT_NE(main, nullptr);
    std::string path = Scratch("qrnl_e2e_F50.txt");
    DeleteFileA(path.c_str());
    std::string offered;
    RunFactorialDialog(main, "50", path, &offered, nullptr);
    EXPECT_EQ(offered, "F50.txt");
    std::vector<std::string> block = WaitForLogLine(main, "50!の計算が完了しました。", 30000);
    ASSERT_EQ(block.size(), 6u);
    EXPECT_EQ(block[4], "  " + path);
    EXPECT_EQ(ReadFileBytes(path), ExpectedFile(50, ReadOracleDigits(50)));
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
