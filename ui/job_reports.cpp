#include "ui/job_reports.h"

#include <atomic>
#include <cstdint>
#include <cwchar>

#include "job/factorial_job.h"
#include "job/stopwatch.h"
#include "resources/resource_ids.h"
#include "ui/command_bar.h"
#include "ui/format_text.h"
#include "ui/log_view.h"

HINSTANCE reportInstance;

namespace {

// An indented line of up to 511 units of text: two spaces, the text, the NUL.
const size_t kLongLineUnits = 2 + 511 + 1;

// A message-only window of the UI thread that runs a report there: the
// worker's report becomes one message to the UI thread, and the log, status
// bar and command changes it makes are calls on their own thread. The
// message carries nothing: it runs the report handed over beside it, if
// any, so one that another program sends does nothing.
HWND reportWindow;
const UINT kRunReport = WM_APP + 1;
std::atomic<void (*)()> handedOver{nullptr};
std::atomic<int> startedWaiting{0};
void ReportWaitingStart();

LRESULT CALLBACK ReportWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunReport) {
        ReportWaitingStart();
        if (void (*const body)() = handedOver.exchange(nullptr)) body();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool OffTheUiThread() {
    return reportWindow && GetWindowThreadProcessId(reportWindow, nullptr) != GetCurrentThreadId();
}

// Runs body on the UI thread and returns when it is done; without the
// window (not prepared, or refused by the system) on this thread.
void OnUiThread(void (*body)()) {
    if (OffTheUiThread()) {
        handedOver = body;
        SendMessageW(reportWindow, kRunReport, 0, 0);
    } else {
        body();
    }
}

void SwitchCommandsForRunningJob() {
    menuBar.GrayItem(IDM_FACTORIAL);
    menuBar.EnableItem(IDM_STOP);
    toolBar.GrayButton(IDM_FACTORIAL);
    toolBar.EnableButton(IDM_STOP);
}

// The lines of a report, appended as one block closed by an empty line.
struct Block {
    wchar_t text[5][kLongLineUnits];
    const wchar_t* lines[6];
    size_t count = 0;

    wchar_t* Next() {
        lines[count] = text[count];
        return text[count++];
    }
    void Put(const wchar_t* fixed) { lines[count++] = fixed; }
    void PutDuration(const wchar_t* format, const ElapsedTime& elapsed) {
        FormatText(Next(), kLongLineUnits, format, elapsed.days, elapsed.hours, elapsed.minutes,
                   elapsed.seconds, elapsed.milliseconds);
    }
    void PutIndented(const wchar_t* indented) {
        FormatText(Next(), kLongLineUnits, L"  %s", indented);
    }
};

void CloseEndBlock(Block& block) {
    block.Put(L"");
    logView.AppendLines(block.lines, block.count);
    statusBar.SetText(L"");
    menuBar.EnableItem(IDM_FACTORIAL);
    menuBar.GrayItem(IDM_STOP);
    toolBar.EnableButton(IDM_FACTORIAL);
    toolBar.GrayButton(IDM_STOP);
}

void ReportStartedHere() {
    const FactorialJob* job = jobState.job;
    uint64_t n = jobState.n.load(std::memory_order_relaxed);
    SwitchCommandsForRunningJob();
    Block block;
    FormatText(block.Next(), 256, L"%I64u!の計算を開始しました。", n);
    FormatText(block.Next(), 256, L"  推定の桁数:   %I64u", job->estimatedDigits);
    FormatText(block.Next(), 256, L"  使用メモリ:   %I64u bytes", job->allocatedBytes);
    logView.AppendLines(block.lines, block.count);
    wchar_t status[256];
    FormatText(status, 256, L"%I64u!を計算中... (推定桁数: %I64u)", n, job->estimatedDigits);
    statusBar.SetText(status);
}

// The started report is posted: the loop need not wait for the UI thread.
// It still comes first in the log: the report window's every message and
// every tick run it first if it is still waiting (a sent end report would
// otherwise overtake it, and a tick comes only when no posted message
// waits).
void ReportWaitingStart() {
    if (startedWaiting.exchange(0) != 0) ReportStartedHere();
}

void ReportFinishedHere() {
    const FactorialJob* job = jobState.job;
    Block block;
    FormatText(block.Next(), 256, L"%I64u!の計算が完了しました。",
               jobState.n.load(std::memory_order_relaxed));
    FormatText(block.Next(), 256, L"  結果の桁数:   %I64u", job->resultDigits);
    block.PutDuration(L"  要した時間: %3I64d日%2I64d時間%2I64d分%2I64d秒%3I64dミリ秒",
                      job->elapsed);
    block.Put(L"計算結果を以下のファイルへ保存しました。");
    // The record's path may fill its whole buffer; never read past it.
    const size_t units = sizeof job->destinationPath / sizeof(wchar_t);
    wchar_t path[units];
    wmemcpy(path, job->destinationPath, units);
    path[units - 1] = L'\0';
    block.PutIndented(path);
    CloseEndBlock(block);
}

void ReportStoppedHere() {
    const FactorialJob* job = jobState.job;
    uint64_t n = jobState.n.load(std::memory_order_relaxed);
    uint64_t position = jobState.currentMultiplier.load(std::memory_order_relaxed);
    // A loop that ran to its end leaves N + 1 behind.
    if (position > n) position = n;
    Block block;
    FormatText(block.Next(), 256, L"%I64u!の計算を中止しました。", n);
    FormatText(block.Next(), 256, L"  停止位置:     *%I64u", position);
    FormatText(block.Next(), 256, L"  計算桁数:     %I64u", job->resultDigits);
    block.PutDuration(L"  経過時間:   %3I64d日%2I64d時間%2I64d分%2I64d秒%3I64dミリ秒",
                      job->elapsed);
    CloseEndBlock(block);
}

void ReportFailedHere() {
    Block block;
    block.Put(L"下記エラーが発生したので、処理を中止しました。");
    wchar_t message[512] = L"";
    LoadStringW(reportInstance, static_cast<UINT>(jobState.errorMessageId.load()), message, 512);
    block.PutIndented(message);
    CloseEndBlock(block);
}

}  // namespace

void PrepareJobReports() {
    if (reportWindow) return;
    WNDCLASSW type = {};
    type.lpfnWndProc = ReportWindowProc;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"QRNLJobReports";
    RegisterClassW(&type);
    reportWindow = CreateWindowExW(0, type.lpszClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                   nullptr, type.hInstance, nullptr);
}

void ReportStarted() {
    startedWaiting = 1;
    if (!OffTheUiThread() || !PostMessageW(reportWindow, kRunReport, 0, 0)) {
        ReportWaitingStart();
    }
}
void ReportFinished() { OnUiThread(ReportFinishedHere); }
void ReportStopped() { OnUiThread(ReportStoppedHere); }
void ReportFailed() { OnUiThread(ReportFailedHere); }

void CALLBACK ProgressTicker(HWND window, UINT, UINT_PTR, DWORD) {
    ReportWaitingStart();
    if (jobState.timerId == 0) return;
    if (WaitForSingleObject(jobState.semaphore, 10) != WAIT_OBJECT_0) return;
    uint64_t n = jobState.n.load(std::memory_order_relaxed);
    uint64_t multiplier = jobState.currentMultiplier.load(std::memory_order_relaxed);
    if (jobState.computing.load(std::memory_order_relaxed) == 1 && multiplier <= n) {
        ElapsedTime elapsed;
        ElapsedStartToNow(&elapsed);
        // multiplier <= n, so n is not 0 here and the quotient lies in 0..100.
        uint64_t percent =
            static_cast<uint64_t>(static_cast<double>(multiplier) * 100.0 / static_cast<double>(n));
        wchar_t line[256];
        FormatText(line, 256, L"  %3I64u%%完了 %3I64d日%2I64d時間%2I64d分%2I64d秒経過 *%I64u...",
                   percent, elapsed.days, elapsed.hours, elapsed.minutes, elapsed.seconds,
                   multiplier);
        wchar_t title[32 + 256];
        int prefix = FormatText(title, 32, L"%I64u%% - ", percent);
        logView.AppendLine(line);
        if (IsIconic(window)) {
            LoadStringW(reportInstance, IDS_TITLE, title + prefix, 256);
            SetWindowTextW(window, title);
        }
    }
    ReleaseSemaphore(jobState.semaphore, 1, nullptr);
}
