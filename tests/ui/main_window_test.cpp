// The main window in this process, with the program's own process-wide objects: what the
// end-to-end run cannot reach or pin down. The job's tests use it too (factorial_job_test.cpp).
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <thread>

#include "engine/accumulator_memory.h"
#include "engine/factorial_steps.h"
#include "engine/size_estimates.h"
#include "job/factorial_job.h"
#include "job/job_test_seams.h"
#include "tests/support/oracle_data.h"
#include "tests/ui/ui_driver.h"
#include "ui/about_box.h"
#include "ui/command_bar.h"
#include "ui/format_text.h"
#include "ui/job_reports.h"
#include "ui/log_view.h"
#include "ui/main_window.h"

extern FactorialJob factorialJob;

using Lines = std::vector<std::string>;
Lines PaneLines() { return SplitLines(WindowText(logWindow)); }
void EmptyThePane() {
    SetWindowTextW(logWindow, L"");
    logView.lineCount = 0;
    logView.paneUnits = 0;
}

namespace {

// The lines `report` appends, then the status text and whether the menu
// shows a running job (Factorial greyed, Stop enabled), none, or neither.
Lines LinesOf(void (*report)()) {
    EmptyThePane();
    report();
    Lines lines = logView.lineCount.load() ? PaneLines() : Lines{};
    wchar_t status[512] = L"";
    SendMessageW(statusBar.window, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(status));
    const bool running = GetMenuState(menuBar.menu, IDM_FACTORIAL, MF_BYCOMMAND) & MF_GRAYED,
               idle = GetMenuState(menuBar.menu, IDM_STOP, MF_BYCOMMAND) & MF_GRAYED;
    lines.push_back(Utf8(status) + std::string(running == idle ? "|neither"
                                               : running       ? "|running"
                                                               : "|idle"));
    return lines;
}

// Whether the pane shows the end of its text.
bool ShowsTheEnd() {
    RECT r;
    GetClientRect(logWindow, &r);
    POINTL end = {-1, -1};
    SendMessageW(logWindow, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&end),
                 GetWindowTextLengthW(logWindow));
    return end.y >= 0 && end.y < r.bottom;
}

TEST(LogPane, RollingKeepsCharactersAndLongLinesWhole) {
    // Lines of five digits and 60 characters outside the BMP (surrogate pairs), in blocks of 1 to
    // 7: 300 of them hold 38,098 units, so the first roll streams out more than 32,767, and a
    // block makes it roll midway. Stream-in chunks of 2,048 units end between the halves of a
    // pair. After each block the pane, and the buffer it mirrors once it rolls, hold exactly the
    // last 300 lines appended, and the pane shows the last.
    EmptyThePane();
    std::wstring all;  // every line appended, each behind a CR LF
    const size_t length = 5 + 120;
    for (int i = 1, size = 1; i <= 340; i += size, size = size % 7 + 1) {
        std::vector<std::wstring> block;
        std::vector<const wchar_t*> lines;
        for (int j = i; j < i + size; ++j) {
            block.push_back(std::to_wstring(10000 + j));
            for (int k = 0; k < 60; ++k) block.back() += L"\U0001D11E";
            all += L"\r\n" + block.back();
        }
        for (const auto& line : block) lines.push_back(line.c_str());
        logView.AppendLines(lines.data(), lines.size());
        if (i + size <= 295) continue;
        const size_t kept = std::min(i + size - 1, 300);
        const std::wstring last = all.substr(all.size() - kept * (length + 2) + 2);
        ASSERT_EQ(WindowText16(logWindow), last) << "after line " << i + size - 1;
        ASSERT_EQ(logView.lineCount.load() > 300 ? logView.streamBuffer : last, last)
            << "after line " << i + size - 1;
        ASSERT_TRUE(ShowsTheEnd()) << "after line " << i + size - 1;
    }
    // 40 lines of 5,000 units overfill the 64 Ki-unit buffer: the pane rolls
    // by size, keeping the newest whole; a line longer than it is cut to fit.
    const std::wstring filler(4996, L'計');
    for (int i = 0; i < 40; ++i) logView.AppendLine((std::to_wstring(1000 + i) + filler).c_str());
    const Lines lines = PaneLines();
    const std::string tail = Utf8(filler);
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines{"1038" + tail, "1039" + tail}));
    logView.AppendLine(std::wstring(200000, L'q').c_str());
    EXPECT_EQ(PaneLines().back(), std::string(65535, 'q'));
}

// Lines that end exactly at the limit of the buffer that mirrors the pane, 1 or 2 units short
// of it or past it, while the pane fills and once it rolls: the line breaks count, every line
// kept is whole and the mirror holds what the pane shows.
TEST(LogPane, LinesEndingAtTheMirrorsLimit) {
    const size_t limit = logView.bufferSize / sizeof(wchar_t) - 1;
    for (int d = -2; d <= 2; ++d) {
        EmptyThePane();
        const std::wstring a(40000, L'a'), b(limit - a.size() - 2 + d, L'b'), c(a.size() + d, L'c');
        logView.AppendLine(a.c_str());
        logView.AppendLine(b.c_str());
        EXPECT_EQ(WindowText16(logWindow), d <= 0 ? a + L"\r\n" + b : b) << d;
        logView.AppendLine(c.c_str());
        EXPECT_EQ(WindowText16(logWindow), d <= 0 ? b + L"\r\n" + c : c) << d;
        EXPECT_EQ(logView.streamBuffer, WindowText16(logWindow)) << d;
    }
}

// A text cut at every unit around two characters outside the BMP keeps whole characters.
TEST(LogPane, CutsKeepWholeCharacters) {
    const std::wstring text = L"a\U0001D11E\U0001D11Eb";  // units: a, pair, pair, b
    const size_t kept[] = {0, 1, 1, 3, 3, 5, 6, 6};       // for a limit of 0 to 7 units
    for (size_t limit = 0; limit < 8; ++limit) {
        EXPECT_EQ(WholeCharacters(text.c_str(), limit), kept[limit]) << limit;
        wchar_t out[8];
        EXPECT_EQ(FormatText(out, limit + 1, L"%s", text.c_str()), int(kept[limit])) << limit;
        EXPECT_EQ(out, text.substr(0, kept[limit])) << limit;
    }
}

TEST(Reports, EachBlockItsLinesStatusAndCommands) {
    jobState.n = 1000000;
    factorialJob.estimatedDigits = factorialJob.resultDigits = 5565709;
    factorialJob.elapsed = {1, 2, 3, 4, 5};
    jobState.currentMultiplier = 1000001;  // the loop ran to its end: the stop shows N
    // Fills the record (511 units), with characters of no ANSI code page in the folder's name.
    const std::string path = "C:\\é\xCE\xBB\xF0\x9D\x84\x9E\\" + std::string(502, 'q');
    wcscpy(factorialJob.destinationPath, Utf16(path).c_str());
    EXPECT_EQ(LinesOf(ReportStarted).back(), "1000000!を計算中... (推定桁数: 5565709)|running");
    // The bar draws again and paints its new text when the thread is next idle.
    EXPECT_TRUE(IsWindowVisible(statusBar.window) && GetUpdateRect(statusBar.window, nullptr, 0));
    EXPECT_EQ(LinesOf(ReportStopped),
              (Lines{"1000000!の計算を中止しました。", "  停止位置:     *1000000",
                     "  計算桁数:     5565709", "  経過時間:     1日 2時間 3分 4秒  5ミリ秒", "",
                     "|idle"}));
    ReportStarted();
    EXPECT_EQ(LinesOf(ReportFinished)[4], "  " + path);
}
// The ticker as the job's timer runs it; what it writes (see LinesOf).
Lines Tick(uint64_t n, uint64_t multiplier) {
    jobState.n = n;
    jobState.currentMultiplier = multiplier;
    Lines lines = LinesOf([] { ProgressTicker(mainWindowHandle, WM_TIMER, 77, 0); });
    return Lines(lines.begin(), lines.end() - 1);
}

TEST(Reports, TickerTruncatesAndWritesOnlyInsideTheLoopWithTheSemaphore) {
    jobState.semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    jobState.timerId = 77;
    jobState.computing = 1;
    const std::string title = LoadString(IDS_TITLE);
    const std::string line = Tick(1000000, 999999).at(0);
    EXPECT_EQ(line.substr(0, 12) + line.substr(line.size() - 11), "   99%完了 *999999...");
    ShowWindow(mainWindowHandle, SW_MINIMIZE);
    for (auto tick : {std::make_pair(1000000, "100%"), {3, "33%"}}) {
        EXPECT_EQ(Tick(tick.first, tick.first == 3 ? 1 : tick.first).size(), 1u);
        EXPECT_EQ(WindowText(mainWindowHandle), tick.second + (" - " + title));
    }
    for (int show : {SW_RESTORE, SW_MAXIMIZE, SW_RESTORE}) {  // the window's own title again
        SetWindowTextW(mainWindowHandle, L"42% - x");
        ShowWindow(mainWindowHandle, show);
        EXPECT_EQ(WindowText(mainWindowHandle), title) << show;
    }
    // Nothing for N = 0 (no division by 0), not computing, the worker holding
    // the semaphore (and then nothing released), no timer.
    EXPECT_EQ(Tick(0, 1), Lines{});
    jobState.computing = 0;
    EXPECT_EQ(Tick(1000, 10), Lines{});
    jobState.computing = 1;
    ASSERT_EQ(WaitForSingleObject(jobState.semaphore, 0), DWORD{WAIT_OBJECT_0});
    EXPECT_EQ(Tick(1000, 10), Lines{});
    EXPECT_EQ(WaitForSingleObject(jobState.semaphore, 0), DWORD{WAIT_TIMEOUT});
    ReleaseSemaphore(jobState.semaphore, 1, nullptr);
    jobState.timerId = 0;
    EXPECT_EQ(Tick(1000, 10), Lines{});
    jobState.computing = 0;
    CloseHandle(jobState.semaphore);
}
// Sends the main window a message; returns "caption|text" of a window of
// this process that `match` finds meanwhile (then closed), or "". It is
// looked for until the message has been handled, not for a fixed time.
std::string ShownBy(UINT message, WPARAM wParam, bool (*match)(HWND)) {
    std::atomic<bool> returned{false};
    std::string seen;
    std::thread looker([&] {
        for (HWND w = nullptr; !returned && !w; Sleep(10)) {
            if ((w = WaitForTopWindow(GetCurrentProcessId(), match, 0))) {
                seen = WindowText(w) + "|" + ControlText(w, 0xFFFF);
                PostMessageA(w, WM_COMMAND, IsMessageBox(w) ? IDOK : IDC_CANCEL_BUTTON, 0);
            }
        }
    });
    SendMessageA(mainWindowHandle, message, wParam, 0);
    returned = true;
    looker.join();
    return seen;
}

HANDLE allocationGate;  // holds a job before its started report until it opens

// From StartJob on, getting its memory and computing (held at its first checkpoint until the
// stop comes): Factorial opens nothing, Exit and closing are refused, a job-end command from
// elsewhere ends nothing. Stopped there, the log gives that checkpoint and its digits.
TEST(JobCommands, WhileAJobIsSetUpNothingElseStartsAndNothingCloses) {
    const std::string refused = "Quarnel|" + LoadString(IDS_CLOSE_REFUSED);
    allocationGate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    jobTestSeams.allocate = [](uint64_t bytes) {
        WaitForSingleObject(allocationGate, INFINITE);
        return AccAllocate(bytes);
    };
    jobTestSeams.atCheckpoint = [](uint64_t) {
        for (int i = 0; i < 30000 && jobState.stopFlag.load() == 0; ++i) Sleep(1);
    };
    EmptyThePane();
    jobState.mainWindow = mainWindowHandle;
    jobState.progressIntervalMs = 0;
    jobState.n = 1000000;
    jobState.notifications = {ReportStarted, ReportFinished, ReportStopped, ReportFailed};
    factorialJob.instance = mainInstance;
    StartJob(&factorialJob);
    for (const char* phase : {"allocating", "computing"}) {
        EXPECT_EQ(ShownBy(WM_COMMAND, IDM_FACTORIAL, IsFactorialDialog), "") << phase;
        EXPECT_EQ(ShownBy(WM_COMMAND, IDM_EXIT, IsMessageBox), refused) << phase;
        EXPECT_EQ(ShownBy(WM_CLOSE, 0, IsMessageBox), refused) << phase;
        SendMessageA(mainWindowHandle, WM_COMMAND, IDM_JOBEND, 0);
        EXPECT_TRUE(JobIsSetUp()) << phase;
        SetEvent(allocationGate);
        PumpFor(30000, [] { return jobState.currentMultiplier.load() > 1; });
    }
    SendMessageA(mainWindowHandle, WM_COMMAND, IDM_STOP, 0);
    PumpFor(30000, [] { return !JobIsSetUp(); });
    EXPECT_FALSE(JobIsSetUp());
    uint64_t checkpoints[kMostCheckpoints];
    FactorialCheckpoints(1000000, checkpoints);
    const Lines lines = PaneLines();
    EXPECT_EQ(Lines(lines.begin() + 3, lines.begin() + 6),
              (Lines{"1000000!の計算を中止しました。",
                     "  停止位置:     *" + std::to_string(checkpoints[0]),
                     "  計算桁数:     " + std::to_string(EstimateDigits(checkpoints[0]))}));
    jobTestSeams = JobTestSeams{};
}

TEST(MainWindow, AboutTextWithinItsBufferAndEachButtonsTooltip) {
    wchar_t text[64];
    std::wmemset(text, L'#', 64);
    FormatAboutText(mainInstance, 77, text, 30);
    EXPECT_EQ(std::wstring(text, 31), std::wstring(text, 29) + L'\0' + L'#');
    // Asked through the toolbar's own tooltip, which asks the main window.
    HWND tips = reinterpret_cast<HWND>(SendMessageW(toolBar.window, TB_GETTOOLTIPS, 0, 0));
    const std::pair<UINT, std::string> buttons[] = {
        {IDM_FACTORIAL, "階乗"}, {IDM_POWER, "累乗"}, {IDM_STOP, "計算中止"}};
    for (const auto& button : buttons) {
        wchar_t tip[80] = L"";
        TTTOOLINFOW tool = {};
        tool.cbSize = sizeof tool;
        tool.hwnd = toolBar.window;
        tool.uId = button.first;
        tool.lpszText = tip;
        SendMessageW(tips, TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&tool));
        EXPECT_EQ(Utf8(tip), button.second) << button.first;
    }
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    OracleDirFromArgs(argc, argv);
    CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    PumpFor(200);
    const int status = RUN_ALL_TESTS();
    ShutdownMainWindow();
    return status;
}
