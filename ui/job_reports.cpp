#include "ui/job_reports.h"

#include <cstdint>
#include <cstring>

#include "job/factorial_job.h"
#include "job/stopwatch.h"
#include "resources/resource_ids.h"
#include "ui/command_bar.h"
#include "ui/format_text.h"
#include "ui/log_view.h"

HINSTANCE reportInstance;

namespace {

// An indented line of up to 511 bytes of text: two spaces, the text, the NUL.
const size_t kLongLineBytes = 2 + 511 + 1;

void SwitchCommandsForRunningJob() {
    menuBar.GrayItem(IDM_FACTORIAL);
    menuBar.EnableItem(IDM_STOP);
    toolBar.GrayButton(IDM_FACTORIAL);
    toolBar.EnableButton(IDM_STOP);
}

void CloseEndBlock() {
    logView.AppendLine("");
    statusBar.SetText("");
    menuBar.EnableItem(IDM_FACTORIAL);
    menuBar.GrayItem(IDM_STOP);
    toolBar.EnableButton(IDM_FACTORIAL);
    toolBar.GrayButton(IDM_STOP);
}

void AppendDuration(const char* format, const ElapsedTime& elapsed) {
    char line[256];
    FormatText(line, sizeof line, format, elapsed.days, elapsed.hours, elapsed.minutes,
               elapsed.seconds, elapsed.milliseconds);
    logView.AppendLine(line);
}

void AppendIndented(const char* text) {
    char line[kLongLineBytes];
    FormatText(line, sizeof line, "  %s", text);
    logView.AppendLine(line);
}

}  // namespace

void ReportStarted() {
    const FactorialJob* job = jobState.job;
    uint64_t n = jobState.n.load(std::memory_order_relaxed);
    SwitchCommandsForRunningJob();
    char line[256];
    FormatText(line, sizeof line, "%I64u!の計算を開始しました。", n);
    logView.AppendLine(line);
    FormatText(line, sizeof line, "  推定の桁数:   %I64u", job->estimatedDigits);
    logView.AppendLine(line);
    FormatText(line, sizeof line, "  使用メモリ:   %I64u bytes", job->allocatedBytes);
    logView.AppendLine(line);
    FormatText(line, sizeof line, "%I64u!を計算中... (推定桁数: %I64u)", n, job->estimatedDigits);
    statusBar.SetText(line);
}

void ReportFinished() {
    const FactorialJob* job = jobState.job;
    char line[256];
    FormatText(line, sizeof line, "%I64u!の計算が完了しました。",
               jobState.n.load(std::memory_order_relaxed));
    logView.AppendLine(line);
    FormatText(line, sizeof line, "  結果の桁数:   %I64u", job->resultDigits);
    logView.AppendLine(line);
    AppendDuration("  要した時間: %3I64d日%2I64d時間%2I64d分%2I64d秒%3I64dミリ秒", job->elapsed);
    logView.AppendLine("計算結果を以下のファイルへ保存しました。");
    // The record's path may fill all 512 bytes; never read past them.
    char path[512];
    memcpy(path, job->destinationPath, sizeof path);
    path[sizeof path - 1] = '\0';
    AppendIndented(path);
    CloseEndBlock();
}

void ReportStopped() {
    const FactorialJob* job = jobState.job;
    uint64_t n = jobState.n.load(std::memory_order_relaxed);
    uint64_t position = jobState.currentMultiplier.load(std::memory_order_relaxed);
    // A loop that ran to its end leaves N + 1 behind.
    if (position > n) position = n;
    char line[256];
    FormatText(line, sizeof line, "%I64u!の計算を中止しました。", n);
    logView.AppendLine(line);
    FormatText(line, sizeof line, "  停止位置:     *%I64u", position);
    logView.AppendLine(line);
    FormatText(line, sizeof line, "  計算桁数:     %I64u", job->resultDigits);
    logView.AppendLine(line);
    AppendDuration("  経過時間:   %3I64d日%2I64d時間%2I64d分%2I64d秒%3I64dミリ秒", job->elapsed);
    CloseEndBlock();
}

void ReportFailed() {
    logView.AppendLine("下記エラーが発生したので、処理を中止しました。");
    char message[512] = "";
    LoadStringA(reportInstance, static_cast<UINT>(jobState.errorMessageId.load()), message,
                sizeof message);
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
        char line[256];
        FormatText(line, sizeof line,
                   "  %3I64u%%完了 %3I64d日%2I64d時間%2I64d分%2I64d秒経過 *%I64u...", percent,
                   elapsed.days, elapsed.hours, elapsed.minutes, elapsed.seconds, multiplier);
        char title[32 + 256];
        int prefix = FormatText(title, sizeof title, "%I64u%% - ", percent);
        logView.AppendLine(line);
        if (IsIconic(window)) {
            LoadStringA(reportInstance, IDS_TITLE, title + prefix, 256);
            SetWindowTextA(window, title);
        }
    }
    ReleaseSemaphore(jobState.semaphore, 1, nullptr);
}
