// The main window's job commands: Factorial (100), Stop (102) and the
// worker's job-end command (103).
#pragma once

#include <windows.h>

// Opens the factorial dialog and starts a job with its answer. Does nothing
// while a job is set up.
void OnFactorialCommand(HWND mainWindow);
// Asks the running job to stop; nothing while no job computes.
void OnStopCommand();
// The worker's last act: finishes the job on the UI thread.
void OnJobEndCommand();
