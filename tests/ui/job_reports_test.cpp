// The job reports and the job commands against the real main window: the log
// lines are read back from the rich edit as CP932 bytes, the command states
// from the menu and the toolbar, the status text from the status bar.
#include "ui/job_reports.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/size_estimates.h"
#include "engine/accumulator_memory.h"
#include "job/factorial_job.h"
#include "job/job_test_seams.h"
#include "resources/resource_ids.h"
#include "tests/ui/ui_driver.h"
#include "ui/command_bar.h"
#include "ui/format_text.h"
#include "ui/job_commands.h"
#include "ui/log_view.h"
#include "ui/main_window.h"

extern FactorialJob factorialJob;  // made with the other process-wide objects

namespace {

// The lines appended since `before` lines were in the log. The pane holds
// one (empty) line before the first append.
std::vector<std::string> LinesSince(size_t before) {
    std::vector<std::string> lines = SplitLines(WindowText(logWindow));
    if (before == 0 || before > lines.size()) return lines;
    return std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end());
}

size_t LineCount() { return logView.lineCount.load() == 0 ? 0 : LinesSince(0).size(); }

using Lines = std::vector<std::string>;
Lines LinesOf(void (*report)()) {
    size_t before = LineCount();
    report();
    return LinesSince(before);
}

std::string StatusText() {
    char text[512] = "";
    // The simple-mode text reads as pane 0 (some bars refuse SB_SIMPLEID for reading).
    SendMessageA(statusBar.window, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

// Menu and toolbar agree: Factorial while idle, Stop while a job runs.
void ExpectCommands(bool running) {
    const LRESULT factorial = SendMessageA(toolBar.window, TB_GETSTATE, IDM_FACTORIAL, 0);
    const LRESULT stop = SendMessageA(toolBar.window, TB_GETSTATE, IDM_STOP, 0);
    EXPECT_EQ((GetMenuState(menuBar.menu, IDM_FACTORIAL, MF_BYCOMMAND) & MF_GRAYED) != 0, running);
    EXPECT_EQ((GetMenuState(menuBar.menu, IDM_STOP, MF_BYCOMMAND) & MF_GRAYED) != 0, !running);
    EXPECT_EQ(factorial, running ? TBSTATE_INDETERMINATE : TBSTATE_ENABLED);
    EXPECT_EQ(stop, running ? TBSTATE_ENABLED : TBSTATE_INDETERMINATE);
}

void PumpUntilJobEnds(DWORD limitMs) {
    PumpFor(limitMs, [] { return !JobIsSetUp(); });
}

// Starts a job the way the Factorial command does once the dialog said Start.
void StartLikeTheFactorialCommand(uint64_t n, const std::string& path) {
    jobState.mainWindow = mainWindowHandle;
    jobState.n = n;
    FormatText(factorialJob.destinationPath, sizeof factorialJob.destinationPath, "%s",
               path.c_str());
    jobState.progressIntervalMs = 2000;
    jobState.notifications = {ReportStarted, ReportFinished, ReportStopped, ReportFailed};
    factorialJob.progressProc = ProgressTicker;
    factorialJob.instance = mainInstance;
    StartJob(&factorialJob);
}

// Checks "<label>%3I64d日%2I64d時間%2I64d分%2I64d秒%3I64dミリ秒": the five
// numbers read back and printed again must give the very same line.
void ExpectDurationLine(const std::string& line, const std::string& label) {
    ASSERT_EQ(line.compare(0, label.size(), label), 0) << line;
    long long days = -1, hours = -1, minutes = -1, seconds = -1, milliseconds = -1;
    std::string rest = line.substr(label.size());
    ASSERT_EQ(sscanf(rest.c_str(), "%lld日%lld時間%lld分%lld秒%lldミリ秒", &days, &hours, &minutes,
                     &seconds, &milliseconds),
              5)
        << line;
    char again[256];
    FormatText(again, sizeof again, "%3I64d日%2I64d時間%2I64d分%2I64d秒%3I64dミリ秒", days, hours,
               minutes, seconds, milliseconds);
    EXPECT_EQ(rest, again);
    EXPECT_GE(days, 0);
    EXPECT_TRUE(hours >= 0 && hours < 24 && minutes >= 0 && minutes < 60 && seconds >= 0 &&
                seconds < 60 && milliseconds >= 0 && milliseconds < 1000)
        << line;
}

TEST(JobReports, FinishedJobWritesTheStartAndFinishedBlocks) {
    std::string path = TempPath("qrnl_reports_F1000.txt");
    DeleteFileA(path.c_str());
    size_t before = LineCount();
    StartLikeTheFactorialCommand(1000, path);
    PumpUntilJobEnds(60000);
    ASSERT_FALSE(JobIsSetUp());
    std::vector<std::string> lines = LinesSince(before);
    ASSERT_EQ(lines.size(), 9u) << "start block, finished block and an empty line";
    EXPECT_EQ(lines[0], "1000!の計算を開始しました。");
    EXPECT_EQ(lines[1], "  推定の桁数:   2568");
    EXPECT_EQ(lines[2],
              "  使用メモリ:   " + std::to_string(factorialJob.allocatedBytes) + " bytes");
    EXPECT_EQ(lines[3], "1000!の計算が完了しました。");
    EXPECT_EQ(lines[4], "  結果の桁数:   2568");
    ExpectDurationLine(lines[5], "  要した時間: ");
    EXPECT_EQ(lines[6], "計算結果を以下のファイルへ保存しました。");
    EXPECT_EQ(lines[7], "  " + path);
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(StatusText(), "");
    ExpectCommands(false);
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(path.c_str());
}

TEST(JobReports, StartedReportSwitchesCommandsAndShowsTheComputingLine) {
    jobState.n = 1000000;
    factorialJob.estimatedDigits = 5565709;
    factorialJob.allocatedBytes = 2539520;
    EXPECT_EQ(LinesOf(ReportStarted),
              (Lines{"1000000!の計算を開始しました。", "  推定の桁数:   5565709",
                     "  使用メモリ:   2539520 bytes"}));
    EXPECT_EQ(StatusText(), "1000000!を計算中... (推定桁数: 5565709)");
    ExpectCommands(true);

    // A job whose loop ran to its end but was then reported as stopped shows N.
    jobState.currentMultiplier = 1000001;
    factorialJob.resultDigits = 5565709;
    factorialJob.elapsed = {1, 2, 3, 4, 5};
    EXPECT_EQ(LinesOf(ReportStopped),
              (Lines{"1000000!の計算を中止しました。", "  停止位置:     *1000000",
                     "  計算桁数:     5565709", "  経過時間:     1日 2時間 3分 4秒  5ミリ秒", ""}));
    EXPECT_EQ(StatusText(), "");
    ExpectCommands(false);
}

TEST(JobReports, FailedJobShowsItsMessageAndLongLinesAreKeptWhole) {
    jobState.errorMessageId = IDS_ERR_WRITE;
    const std::string message = LoadString(IDS_ERR_WRITE);
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(LinesOf(ReportFailed),
              (Lines{"下記エラーが発生したので、処理を中止しました。", "  " + message, ""}));
    ExpectCommands(false);

    // A path that fills the record: two spaces and all 511 bytes.
    std::string longPath = "C:\\" + std::string(508, 'q');
    memcpy(factorialJob.destinationPath, longPath.c_str(), 512);
    jobState.n = 5;
    Lines lines = LinesOf(ReportFinished);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "  " + longPath);
    EXPECT_EQ(lines[4].size(), 513u);
}

// Calls the ticker as the timer would, with the job state it reads set up.
class TickerTest : public testing::Test {
protected:
    void SetUp() override {
        jobState.semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
        jobState.timerId = 77;
        jobState.computing = 1;
    }
    void TearDown() override {
        jobState.computing = 0;
        jobState.timerId = 0;
        CloseHandle(jobState.semaphore);
        jobState.semaphore = nullptr;
        ShowWindow(mainWindowHandle, SW_RESTORE);
        PumpFor(100);
    }
    std::vector<std::string> Tick(uint64_t n, uint64_t multiplier) {
        jobState.n = n;
        jobState.currentMultiplier = multiplier;
        size_t before = LineCount();
        ProgressTicker(mainWindowHandle, WM_TIMER, 77, 0);
        return LinesSince(before);
    }
};

TEST_F(TickerTest, PercentagesAreTruncatedAndTheTitleShowsThemWhileMinimised) {
    std::vector<std::string> lines = Tick(1000000, 999999);
    ASSERT_EQ(lines.size(), 1u);
    const std::string prefix = "   99%完了 ";
    EXPECT_EQ(lines[0].compare(0, prefix.size(), prefix), 0) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - 11), " *999999...");
    std::string title = LoadString(IDS_TITLE);
    EXPECT_EQ(WindowText(mainWindowHandle), title) << "the title is left alone while shown";

    ShowWindow(mainWindowHandle, SW_MINIMIZE);
    PumpFor(100);
    ASSERT_TRUE(IsIconic(mainWindowHandle));
    lines = Tick(1000000, 1000000);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].compare(0, 6, "  100%"), 0) << lines[0];
    EXPECT_EQ(WindowText(mainWindowHandle), "100% - " + title);
    lines = Tick(3, 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].compare(0, 6, "   33%"), 0) << lines[0];
    EXPECT_EQ(WindowText(mainWindowHandle), "33% - " + title);
}

TEST_F(TickerTest, NothingIsWrittenOutsideTheLoopOrWithoutTheSemaphore) {
    // N = 0: the multiplier starts above N; no line and no division by 0.
    EXPECT_TRUE(Tick(0, 1).empty());
    EXPECT_TRUE(Tick(1000, 1001).empty());
    jobState.computing = 0;
    EXPECT_TRUE(Tick(1000, 10).empty());
    jobState.computing = 1;
    // The worker holds the semaphore: the tick is skipped and nothing released.
    ASSERT_EQ(WaitForSingleObject(jobState.semaphore, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(Tick(1000, 10).empty());
    EXPECT_EQ(WaitForSingleObject(jobState.semaphore, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ReleaseSemaphore(jobState.semaphore, 1, nullptr);
    jobState.timerId = 0;
    EXPECT_TRUE(Tick(1000, 10).empty());
}

// A long job: progress lines every two seconds, then Stop.
TEST(JobReports, LongJobShowsProgressAndReportsWhereItStopped) {
    std::string path = TempPath("qrnl_reports_stopped.txt");
    DeleteFileA(path.c_str());
    size_t before = LineCount();
    StartLikeTheFactorialCommand(1000000, path);
    PumpFor(5000);
    ASSERT_TRUE(JobIsSetUp()) << "N = 1,000,000 finished in 5 s: stop later";
    SendMessageA(mainWindowHandle, WM_COMMAND, IDM_STOP, 0);
    PumpUntilJobEnds(30000);
    ASSERT_FALSE(JobIsSetUp());
    std::vector<std::string> lines = LinesSince(before);
    ASSERT_GE(lines.size(), 3u + 2u + 5u);
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    SCOPED_TRACE(all);
    size_t progressEnd = lines.size() - 5;
    uint64_t lastMultiplier = 0;
    int lastSeconds = -1;
    for (size_t i = 3; i < progressEnd; ++i) {
        unsigned long long percent = 0, multiplier = 0;
        int d = 0, h = 0, m = 0, s = 0;
        ASSERT_EQ(sscanf(lines[i].c_str(), "  %llu%%完了 %d日%d時間%d分%d秒経過 *%llu...", &percent,
                         &d, &h, &m, &s, &multiplier),
                  6)
            << lines[i];
        EXPECT_EQ(percent, multiplier * 100 / 1000000) << lines[i];
        EXPECT_GT(multiplier, lastMultiplier);
        // Two seconds apart: the n-th line comes 2n seconds in or later (a
        // tick that finds the worker in a report is dropped).
        EXPECT_GE(s, 2 * static_cast<int>(i - 3)) << lines[i];
        EXPECT_GT(s, lastSeconds) << lines[i];
        lastSeconds = s;
        lastMultiplier = multiplier;
    }
    EXPECT_GE(progressEnd - 3, 2u) << "a progress line every two seconds";
    EXPECT_EQ(lines[progressEnd], "1000000!の計算を中止しました。");
    const std::string label = "  停止位置:     *";
    ASSERT_EQ(lines[progressEnd + 1].compare(0, label.size(), label), 0);
    uint64_t position = strtoull(lines[progressEnd + 1].c_str() + label.size(), nullptr, 10);
    EXPECT_EQ(lines[progressEnd + 1], label + std::to_string(position));
    EXPECT_GE(position, lastMultiplier);
    EXPECT_LT(position, 1000000u);
    // The digit count of position! (the estimate is exact in this range).
    EXPECT_EQ(lines[progressEnd + 2],
              "  計算桁数:     " + std::to_string(EstimateDigits(position)));
    ExpectDurationLine(lines[progressEnd + 3], "  経過時間:   ");
    EXPECT_EQ(lines[progressEnd + 4], "");
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES)
        << "a stopped job writes no file";
}

// Runs the Factorial command on this thread; true if it opened the dialog
// (which the driver then cancels). No timing: the driver looks until the
// command has returned.
bool FactorialOpensTheDialog() {
    std::atomic<bool> returned{false}, opened{false};
    UiDriver driver;
    driver.Start([&](UiDriver& d) {
        while (!returned) {
            if (HWND dialog = d.WaitForWindow(IsFactorialDialog, 0)) {
                opened = true;
                d.Click(GetDlgItem(dialog, IDC_CANCEL_BUTTON));
                return;
            }
            Sleep(10);
        }
    });
    OnFactorialCommand(mainWindowHandle);
    returned = true;
    driver.Join();
    return opened;
}

// Holds a job before its started report, until the gate opens.
HANDLE allocationGate;
int AllocateAtTheGate(uint64_t bytes) {
    WaitForSingleObject(allocationGate, INFINITE);
    return AccAllocate(bytes);
}

TEST(JobCommands, StopWithoutAJobAndFactorialDuringAJobDoNothing) {
    // No job computes: Stop must not ask for a stop.
    jobState.stopFlag = 0;
    OnStopCommand();
    Sleep(200);
    EXPECT_EQ(jobState.stopFlag.load(), 0);
    jobState.stopFlag = 1;

    // From StartJob on, while the memory is still being had and while the
    // job computes, Factorial must not open the dialog.
    allocationGate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    jobTestSeams.allocate = AllocateAtTheGate;
    std::string path = TempPath("qrnl_reports_twice.txt");
    StartLikeTheFactorialCommand(1000000, path);
    ASSERT_TRUE(JobIsSetUp());
    EXPECT_FALSE(FactorialOpensTheDialog()) << "opened before the job computes";
    SetEvent(allocationGate);
    PumpFor(30000, [] { return jobState.computing.load() != 0; });
    EXPECT_FALSE(FactorialOpensTheDialog()) << "opened while the job computes";
    SendMessageA(mainWindowHandle, WM_COMMAND, IDM_STOP, 0);
    PumpUntilJobEnds(30000);
    EXPECT_FALSE(JobIsSetUp());
    jobTestSeams.allocate = nullptr;
    CloseHandle(allocationGate);
    DeleteFileA(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    PumpFor(200);
    int status = RUN_ALL_TESTS();
    ShutdownMainWindow();
    return status;
}
