// The job's voice: the notification procedures the worker calls at the start
// and end of a job, and the progress ticker the job's timer runs on the UI
// thread. They write the log, the status bar, the title and the command states.
#pragma once

#include <windows.h>

// Module of the string table; the main window stores it on creation.
extern HINSTANCE reportInstance;

// UI thread, once, when the main window is made (before any job): lets the reports run on the UI thread, each
// in one message: the end reports sent (the worker waits for them), the
// started report posted (the loop starts at once; the report still comes
// before anything else the job writes). Without it they run on the calling
// thread.
void PrepareJobReports();

void ReportStarted();
void ReportFinished();
void ReportStopped();
void ReportFailed();
void CALLBACK ProgressTicker(HWND window, UINT message, UINT_PTR timerId, DWORD time);
