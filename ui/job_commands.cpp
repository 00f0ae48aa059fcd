#include "ui/job_commands.h"

#include <cstring>

#include "job/factorial_job.h"
#include "ui/factorial_dialog.h"
#include "ui/job_reports.h"
#include "ui/main_window.h"

namespace {

// Runs from the dialog's Start, once the dialog is hidden: the job starts
// while its windows are torn down.
void StartRequestedJob(HWND mainWindow) {
    // The dialog refuses such an N; this is the last gate before the job.
    if (factorialDialog.requestedN > FactorialDialog::maxNumber) return;
    FactorialJob* job = jobState.job;
    jobState.mainWindow = mainWindow;
    jobState.n.store(factorialDialog.requestedN, std::memory_order_relaxed);
    static_assert(sizeof job->destinationPath == sizeof factorialDialog.requestedPath, "one size");
    memcpy(job->destinationPath, factorialDialog.requestedPath, sizeof job->destinationPath);
    job->destinationPath[sizeof job->destinationPath / sizeof(wchar_t) - 1] = L'\0';
    jobState.progressIntervalMs = 2000;
    jobState.notifications.onStarted = ReportStarted;
    jobState.notifications.onFinished = ReportFinished;
    jobState.notifications.onStopped = ReportStopped;
    jobState.notifications.onFailed = ReportFailed;
    job->progressProc = ProgressTicker;
    job->instance = mainInstance;
    StartJob(job);
}

}  // namespace

void OnFactorialCommand(HWND mainWindow) {
    // From StartJob to the end of OnJobEnd the one accumulator and the job
    // record belong to the running job; before its started report the menu
    // still offers Factorial.
    if (JobIsSetUp()) return;
    factorialDialog.onStart = StartRequestedJob;
    factorialDialog.Show(mainInstance, mainWindow);
}

void OnStopCommand() {
    if (jobState.computing.load(std::memory_order_relaxed) != 0) RequestStop();
}

void OnJobEndCommand() { OnJobEnd(jobState.job); }
