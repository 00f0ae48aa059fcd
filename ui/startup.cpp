// Process start: the process-wide objects, constructed in this order before
// WinMain (the window objects register their releases for exit as they are
// made, so exit releases them in reverse), and the program's entry.
#include <windows.h>

#include "job/factorial_job.h"
#include "platform/requirements.h"
#include "resources/resource_ids.h"
#include "ui/command_bar.h"
#include "ui/factorial_dialog.h"
#include "ui/log_view.h"
#include "ui/main_window.h"

SaveFileSettings saveFileSettings;
MenuBar menuBar;
ToolBar toolBar;
LogView logView;
StatusBar statusBar;
FactorialDialog factorialDialog;
FactorialJob factorialJob;

namespace {
struct JobConstruction {
    JobConstruction() { ResetJob(&factorialJob); }
} jobConstruction;
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    const unsigned refusal = StartupRefusal(SystemStartupProbes());
    if (refusal != 0) {
        wchar_t caption[64] = L"";
        wchar_t text[448] = L"";
        LoadStringW(instance, IDS_PRODUCT, caption, 64);
        LoadStringW(instance, refusal, text, 448);
        MessageBoxW(nullptr, text, caption, MB_ICONERROR);
        return 0;
    }

    CreateMainWindow(instance, showCommand);
    MSG message;
    // GetMessageA answers -1 on a broken call; that ends the loop too rather
    // than spinning on it.
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    ShutdownMainWindow();
    return 0;  // whatever WM_QUIT carried: the exit code is always 0
}
