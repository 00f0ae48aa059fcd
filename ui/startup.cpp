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
        char caption[64] = "";
        char text[448] = "";
        LoadStringA(instance, IDS_PRODUCT, caption, sizeof(caption));
        LoadStringA(instance, refusal, text, sizeof(text));
        MessageBoxA(nullptr, text, caption, MB_ICONERROR);
        return 0;
    }

    CreateMainWindow(instance, showCommand);
    MSG message;
    // GetMessageA answers -1 on a broken call; that ends the loop too rather
    // than spinning on it.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    ShutdownMainWindow();
    return 0;  // whatever WM_QUIT carried: the exit code is always 0
}
