#include "ui/job_reports.h"

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

void SwitchCommandsForRunningJob() {
    menuBar.GrayItem(IDM_FACTORIAL);
    menuBar.EnableItem(IDM_STOP);
    toolBar.GrayButton(IDM_FACTORIAL);
    toolBar.EnableButton(IDM_STOP);
}

void CloseEndBlock() {
    logView.AppendLine(L"");
    statusBar.SetText(L"");
    menuBar.EnableItem(IDM_FACTORIAL);
    menuBar.GrayItem(IDM_STOP);
    toolBar.EnableButton(IDM_FACTORIAL);
    toolBar.GrayButton(IDM_STOP);
}

void AppendDuration(const wchar_t* format, const ElapsedTime& elapsed) {
    wchar_t line[256];
    FormatText(line, 256, format, elapsed.days, elapsed.hours, elapsed.minutes, elapsed.seconds,
               elapsed.milliseconds);
    logView.AppendLine(line);
}

void AppendIndented(const wchar_t* text) {
    wchar_t line[kLongLineUnits];
    FormatText(line, kLongLineUnits, L"  %s", text);
    logView.AppendLine(line);
}

}  // namespace

void ReportStarted() {
    const FactorialJob* job = jobState.job;
    uint64_t n = jobState.n.load(std::memory_order_relaxed);
    SwitchCommandsForRunningJob();
    wchar_t line[256];
    FormatText(line, 256, L"%I64u!の計算を開始しました。", n);
    logView.AppendLine(line);
    FormatText(line, 256, L"  推定の桁数:   %I64u", job->estimatedDigits);
    logView.AppendLine(line);
    FormatText(line, 256, L"  使用メモリ:   %I64u bytes", job->allocatedBytes);
    logView.AppendLine(line);
    FormatText(line, 256, L"%I64u!を計算中... (推定桁数: %I64u)", n, job->estimatedDigits);
    statusBar.SetText(line);
}

void ReportFinished() {
    const FactorialJob* job = jobState.job;
    wchar_t line[256];
    FormatText(line, 256, L"%I64u!の計算が完了しました。",
               jobState.n.load(std::memory_order_relaxed));
    logView.AppendLine(line);
    FormatText(line, 256, L"  結果の桁数:   %I64u", job->resultDigits);
    logView.AppendLine(line);
    AppendDuration(L"  要した時間: %3I64d日%2I64d時間%2I64d分%2I64d秒%3I64dミリ秒", job->elapsed);
    logView.AppendLine(L"計算結果を以下のファイルへ保存しました。");
    // The record's path may fill its whole buffer; never read past it.
    const size_t units = sizeof job->destinationPath / sizeof(wchar_t);
    wchar_t path[units];
    wmemcpy(path, job->destinationPath, units);
    path[units - 1] = L'\0';
    AppendIndented(path);
    CloseEndBlock();
}

void ReportStopped() {
    const FactorialJob* job = jobState.job;
    uint64_t n = jobState.n.load(std::memory_order_relaxed);
    uint64_t position = jobState.currentMultiplier.load(std::memory_order_relaxed);
    // A loop that ran to its end leaves N + 1 behind.
    if (position > n) position = n;
    wchar_t line[256];
    FormatText(line, 256, L"%I64u!の計算を中止しました。", n);
    logView.AppendLine(line);
    FormatText(line, 256, L"  停止位置:     *%I64u", position);
    logView.AppendLine(line);
    FormatText(line, 256, L"  計算桁数:     %I64u", job->resultDigits);
    logView.AppendLine(line);
    AppendDuration(L"  経過時間:   %3I64d日%2I64d時間%2I64d分%2I64d秒%3I64dミリ秒", job->elapsed);
    CloseEndBlock();
}

void ReportFailed() {
    logView.AppendLine(L"下記エラーが発生したので、処理を中止しました。");
    wchar_t message[512] = L"";
    LoadStringW(reportInstance, static_cast<UINT>(jobState.errorMessageId.load()), message, 512);
    AppendIndented(message);
    CloseEndBlock();
}

void CALLBACK ProgressTicker(HWND window, UINT, UINT_PTR, DWORD) {
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
