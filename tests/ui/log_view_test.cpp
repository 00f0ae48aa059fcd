// The log pane: its rolling lines, the buffer work behind them, its input hooks.
#include <gtest/gtest.h>
#include <windows.h>

#include <richedit.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/ui/ui_driver.h"
#include "ui/directory_of_path.h"
#include "ui/log_view.h"

LogView logView;

namespace {

TEST(LogBufferTest, PagesAndSpacing) {
    EXPECT_EQ(WholePages(0x20000, 4096), 131072u);
    EXPECT_EQ(WholePages(100000, 4096), 102400u);
    EXPECT_EQ(WholePages(4097, 4096), 8192u);
    EXPECT_EQ(WholePages(4096, 4096), 4096u);
    EXPECT_EQ(LineSpacingTwips(16, 96), 285);
    EXPECT_EQ(LineSpacingTwips(13, 120), 192);
    // Unknown resolution: keep the control's own spacing, no division by zero.
    EXPECT_EQ(LineSpacingTwips(16, 0), 0);
}

TEST(LogBufferTest, Cp932FitKeepsCharactersWhole) {
    const char text[] =
        "a\x95\x5C"
        "b";  // a 表 b
    EXPECT_EQ(Cp932Fit(text, 100), 4u);
    EXPECT_EQ(Cp932Fit(text, 3), 3u);
    EXPECT_EQ(Cp932Fit(text, 2), 1u);  // not half of 表
    EXPECT_EQ(Cp932Fit(text, 0), 0u);
    EXPECT_EQ(Cp932Fit("\x95", 5), 1u);  // a lone lead byte at the end
}

std::string Rotate(std::string mirror, const char* text, int maxLines, size_t capacity = 256) {
    std::vector<char> buffer(capacity + 8, '#');
    std::memcpy(buffer.data(), mirror.c_str(), mirror.size() + 1);
    size_t length = RotateLogText(buffer.data(), capacity, mirror.size(), text, maxLines);
    EXPECT_EQ(std::strlen(buffer.data()), length);
    EXPECT_LT(length, capacity);
    for (size_t i = capacity; i < capacity + 8; ++i) EXPECT_EQ(buffer[i], '#') << "past the end";
    return std::string(buffer.data(), length);
}

TEST(LogBufferTest, RotationDropsTheOldestLine) {
    EXPECT_EQ(Rotate("1\r\n2\r\n3", "4", 3), "2\r\n3\r\n4");
    EXPECT_EQ(Rotate("1\r\n\r\n3", "4", 3), "\r\n3\r\n4");  // an empty line is a line
    EXPECT_EQ(Rotate("1\r\n2\r\n", "4", 3), "2\r\n\r\n4");
    EXPECT_EQ(Rotate("1\r\n2", "%s%n", 2), "2\r\n%s%n");
    // One line only (a limit of one): it goes, the new one stands alone.
    EXPECT_EQ(Rotate("only", "next", 1), "next");
    EXPECT_EQ(Rotate("", "next", 1), "next");
    // Lone CR or LF, as a control might deliver them, still end a line.
    EXPECT_EQ(Rotate("1\r2\n3", "4", 3), "2\n3\r\n4");
}

TEST(LogBufferTest, RotationKeepsEverythingInsideTheBuffer) {
    // The new line does not fit behind the mirrored text: older lines go too.
    EXPECT_EQ(Rotate("aaaaa\r\nbbbbb\r\ncc", "dddddddddd", 300, 20), "cc\r\ndddddddddd");
    EXPECT_EQ(Rotate("aaaaa\r\nbbbbb\r\ncc", "dddddddddd", 300, 28), "bbbbb\r\ncc\r\ndddddddddd");
    // A line longer than the whole buffer is cut to fit, on a character.
    EXPECT_EQ(Rotate("1\r\n2", std::string(100, 'x').c_str(), 300, 32), std::string(31, 'x'));
    std::string wide;
    for (int i = 0; i < 40; ++i) wide += "\x95\x5C";
    EXPECT_EQ(Rotate("1\r\n2", wide.c_str(), 300, 32), wide.substr(0, 30));
}

TEST(DirectoryOfPathTest, FoldersByCharacters) {
    // 表 is 0x95 0x5C and ソ is 0x83 0x5C: neither trail byte is a separator.
    const char* const cases[][2] = {
        {"C:\\work\\result.txt", "C:\\work\\"},
        {"result.txt", ""},
        {"", ""},
        {"C:\\", "C:\\"},
        {"C:\\work\\\x95\x5C.txt", "C:\\work\\"},
        {"C:\\\x83\x5C\x83\x74\x83\x67\\a.txt", "C:\\\x83\x5C\x83\x74\x83\x67\\"},
        {"\x95\x5C", ""},
    };
    char out[512];
    for (const auto& c : cases) {
        DirectoryOfPath(out, c[0]);
        EXPECT_STREQ(out, c[1]) << c[0];
    }
    // In place, as the help command uses it.
    char path[64] = "D:\\a\\b\\qrnl.exe";
    DirectoryOfPath(path, path);
    EXPECT_STREQ(path, "D:\\a\\b\\");
}

class LogViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "QrnlLogTestParent";
        RegisterClassA(&windowClass);
        parent = CreateWindowExA(0, "QrnlLogTestParent", "log test", WS_OVERLAPPEDWINDOW, 0, 0, 640,
                                 480, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
        ASSERT_EQ(logView.Create(GetModuleHandleA(nullptr), parent, 0, 0, 600, 400, 0x20000, 300),
                  0);
        logView.HookInput();
        ShowWindow(parent, SW_SHOW);
    }

    static std::vector<std::string> Lines() { return SplitLines(WindowText(logWindow)); }

    static HWND parent;
};
HWND LogViewTest::parent;

// The tests of this suite run in order on one pane.
TEST_F(LogViewTest, FirstLinesAndSpecialTexts) {
    EXPECT_EQ(logView.bufferSize, 131072u);
    EXPECT_EQ(SendMessageA(logWindow, EM_GETLIMITTEXT, 0, 0), 131072);
    CHARFORMATA face = {};
    face.cbSize = sizeof(face);
    SendMessageA(logWindow, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&face));
    EXPECT_STREQ(face.szFaceName, "FixedSys");

    logView.AppendLine("");  // counts as a line
    logView.AppendLine("100% done %s %d");
    EXPECT_EQ(logView.lineCount.load(), 2);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"", "100% done %s %d"}));
}

// Equal-length lines put every 4,096-byte chunk of a stream-in at the same
// place of a line; k is chosen so that each chunk would end between the two
// bytes of a character. After every roll, the pane and the buffer it mirrors
// hold exactly the last 300 lines appended.
TEST_F(LogViewTest, RollingKeepsDoubleByteCharactersWhole) {
    SetWindowTextA(logWindow, "");
    logView.lineCount = 0;
    logView.paneBytes = 0;
    const int kLines = 300;
    auto splitsEveryChunk = [&](size_t k) {  // line: 5 digits, k times 計
        const size_t period = 5 + 2 * k + 2, total = kLines * period - 2;
        for (size_t end = 4096; end < total; end += 4096) {
            const size_t lastByte = (end - 1) % period;
            if (lastByte < 5 || lastByte > 3 + 2 * k || lastByte % 2 == 0) return false;
        }
        return total > 3 * 4096;
    };
    size_t k = 5;
    while (!splitsEveryChunk(k)) ++k;
    std::vector<std::string> appended;
    for (int i = 1; i <= kLines + 40; ++i) {
        char number[8];
        snprintf(number, sizeof number, "%05d", i);
        std::string line = number;
        for (size_t j = 0; j < k; ++j) line += "\x8C\x76";
        appended.push_back(line);
        logView.AppendLine(line.c_str());
        if (i < kLines) continue;
        std::string expected;
        for (size_t j = appended.size() - kLines; j < appended.size(); ++j) {
            expected += (expected.empty() ? "" : "\r\n") + appended[j];
        }
        ASSERT_EQ(WindowText(logWindow), expected) << "after line " << i;
        if (i > kLines) {
            ASSERT_EQ(std::string(logView.streamBuffer), expected) << "after line " << i;
        }
        EXPECT_EQ(logView.lineCount.load(), i == kLines ? kLines : kLines + 1);
    }
}

TEST_F(LogViewTest, OverlongLinesStayInsideTheBuffer) {
    // 40 lines of 5,000 bytes would be 200 KB, more than the 128 KB buffer:
    // the pane starts rolling by bytes and keeps the newest lines whole.
    std::string filler(4996, 'z');
    for (int i = 0; i < 40; ++i) logView.AppendLine((std::to_string(1000 + i) + filler).c_str());
    std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 20u);
    EXPECT_EQ(lines.back(), std::to_string(1039) + filler);
    EXPECT_EQ(lines[lines.size() - 2], std::to_string(1038) + filler);
    EXPECT_LT(lines.size() * 5002, 131072u);
    std::string tooLong(200000, 'q');
    logView.AppendLine(tooLong.c_str());
    lines = Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), std::string(131071, 'q'));
}

TEST_F(LogViewTest, UserCannotEditOrSelectButCanScroll) {
    SetWindowTextA(logWindow, "");
    logView.lineCount = 0;
    logView.paneBytes = 0;
    for (int i = 1; i <= 100; ++i) logView.AppendLine(("row " + std::to_string(i)).c_str());
    SendMessageA(logWindow, EM_SETSEL, 5, 5);
    const std::vector<std::string> before = Lines();

    // Keys and button presses aimed at the pane, as the input queue brings them.
    const UINT presses[] = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
                            WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONDOWN};
    for (UINT message : presses) PostMessageA(logWindow, message, MK_LBUTTON, MAKELPARAM(40, 8));
    PostMessageA(logWindow, WM_KEYDOWN, VK_DELETE, 0x00530001);
    PostMessageA(logWindow, WM_KEYDOWN, 'A', 0x001E0001);
    PostMessageA(logWindow, WM_KEYDOWN, VK_END, 0x004F0001);
    Pump();
    CHARRANGE selection = {};
    SendMessageA(logWindow, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    EXPECT_EQ(selection.cpMin, 5);
    EXPECT_EQ(selection.cpMax, 5);
    EXPECT_EQ(Lines(), before);

    // The scroll bar's own messages pass.
    PostMessageA(logWindow, WM_VSCROLL, SB_TOP, 0);
    Pump();
    EXPECT_EQ(SendMessageA(logWindow, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    PostMessageA(logWindow, WM_VSCROLL, SB_PAGEDOWN, 0);
    Pump();
    EXPECT_GT(SendMessageA(logWindow, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}

TEST(LogInputTableTest, ExactlyThePressesAreBlocked) {
    const UINT blocked[] = {0x00A4, 0x00A6, 0x00A7, 0x00A9, 0x0100, 0x0201, 0x0203,
                            0x0204, 0x0205, 0x0206, 0x0207, 0x0208, 0x0209};
    for (UINT m : blocked) EXPECT_TRUE(IsBlockedLogInput(m)) << std::hex << m;
    const UINT passed[] = {WM_LBUTTONUP,   WM_NCRBUTTONUP, WM_NCMBUTTONUP, WM_NCLBUTTONDOWN,
                           WM_NCLBUTTONUP, WM_MOUSEMOVE,   WM_MOUSEWHEEL,  WM_KEYUP,
                           WM_SYSKEYDOWN,  WM_CHAR,        WM_VSCROLL,     WM_NULL};
    for (UINT m : passed) EXPECT_FALSE(IsBlockedLogInput(m)) << std::hex << m;
    // Only the low 16 bits of the id count.
    EXPECT_TRUE(IsBlockedLogInput(0x10000 | WM_KEYDOWN));
}

}  // namespace
