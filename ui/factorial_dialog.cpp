#include "ui/factorial_dialog.h"

#include <commdlg.h>
#include <imm.h>
#include <shlobj.h>

#include <cstddef>
#include <cstring>
#include <cwchar>

#include "engine/size_estimates.h"
#include "resources/resource_ids.h"
#include "ui/directory_of_path.h"
#include "ui/format_text.h"

uint64_t FactorialDialog::maxNumber = 0;
uint64_t FactorialDialog::maxInputLength = 0;

namespace {

// State of the one open dialog, shared with the hooks, which receive no object.
HINSTANCE dialogInstance;
HWND dialogOwner;
int32_t destinationChosen;
FactorialDialog* activeDialog;
HHOOK keyFilterHook;
HHOOK labelPaintHook;
HWND numberField;
HWND pathLabel;
HDC labelDC;
HBITMAP labelBitmap;
HGDIOBJ labelOriginalBitmap;
HGDIOBJ labelOriginalBrush;
HGDIOBJ labelOriginalFont;
// What the picture was made for: the label's size and font, and the whole
// text it shows. When the dialog moves to a monitor of another scale, the
// system gives the label another size and font; the picture follows.
SIZE labelSize;
HFONT labelFont;
wchar_t labelText[512];

const wchar_t kSaveFilter[] =
    L"テキスト ファイル(*.txt)\0*.txt\0";  // the literal adds the last NUL
const wchar_t kSaveTitle[] = L"保存先ファイル名を指定";
const wchar_t kDefaultExtension[] = L"txt";

// The longest path CreateFileW opens without the long-path prefix: MAX_PATH
// units with the terminator. The buffers hold 511, so that a longer choice
// comes back whole and is refused here, not by the save dialog.
const size_t kMaxPathUnits = MAX_PATH - 1;
// "階乗", the caption of every warning of the dialog.
const UINT kWarningCaptionId = 1006;

// The save dialog gets the structure up to and including lpTemplateName.
const DWORD kOpenFileNameSize = offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(void*);
static_assert(offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(void*) == 136, "x64 layout");

void ShowWarning(HWND owner, UINT textId, int bufferSize) {
    wchar_t text[512] = L"";
    wchar_t caption[512] = L"";
    LoadStringW(dialogInstance, textId, text, bufferSize);
    LoadStringW(dialogInstance, kWarningCaptionId, caption, bufferSize);
    MessageBoxW(owner, text, caption, MB_ICONWARNING);
}

uint64_t ReadNumberField(HWND dialog) {
    wchar_t text[64] = L"";
    GetDlgItemTextW(dialog, IDC_NUMBER, text, 64);
    return NumberFromText(text);
}

void FitLabelPicture();

void PaintLabelFromPicture() {
    FitLabelPicture();
    PAINTSTRUCT paint;
    HDC target = BeginPaint(pathLabel, &paint);
    RECT client;
    GetClientRect(pathLabel, &client);
    BitBlt(target, client.left, client.top, client.right - client.left, client.bottom - client.top,
           labelDC, client.left, client.top, SRCCOPY);
    EndPaint(pathLabel, &paint);
}

// Paints the text onto the picture and copies the picture onto the label.
void DrawOntoLabel(HDC labelWindowDC, const RECT& client, const wchar_t* text) {
    PatBlt(labelDC, client.left, client.top, client.right - client.left, client.bottom - client.top,
           PATCOPY);
    // DT_MODIFYSTRING may write an ellipsis of up to 4 units beyond the text.
    wchar_t scratch[512 + 8];
    lstrcpynW(scratch, text, 512);
    if (text != labelText) lstrcpynW(labelText, text, 512);
    RECT box = client;
    DrawTextW(labelDC, scratch, -1, &box, DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    // The label's text is what it shows, for other programs and screen
    // readers. Set past the static's own handler, which would paint it.
    DefWindowProcW(pathLabel, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(scratch));
    BitBlt(labelWindowDC, client.left, client.top, client.right - client.left,
           client.bottom - client.top, labelDC, client.left, client.top, SRCCOPY);
}

void SetUpLabelPicture() {
    HDC windowDC = GetDC(pathLabel);
    RECT client;
    GetClientRect(pathLabel, &client);
    labelDC = CreateCompatibleDC(windowDC);
    labelBitmap =
        CreateCompatibleBitmap(windowDC, client.right - client.left, client.bottom - client.top);
    labelOriginalBitmap = SelectObject(labelDC, labelBitmap);
    labelOriginalBrush = SelectObject(labelDC, GetSysColorBrush(COLOR_BTNFACE));
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(pathLabel, WM_GETFONT, 0, 0));
    labelOriginalFont = font ? SelectObject(labelDC, font) : nullptr;
    labelSize = SIZE{client.right - client.left, client.bottom - client.top};
    labelFont = font;
    PatBlt(labelDC, client.left, client.top, client.right - client.left, client.bottom - client.top,
           PATCOPY);
    SetTextColor(labelDC, GetSysColor(COLOR_WINDOWTEXT));
    SetBkMode(labelDC, TRANSPARENT);
    if (labelText[0] == L'\0') GetWindowTextW(pathLabel, labelText, 512);
    if (labelText[0] != L'\0') DrawOntoLabel(windowDC, client, labelText);
    ReleaseDC(pathLabel, windowDC);
}

void ReleaseLabelPicture() {
    if (labelDC) {
        // The bitmap, brush and font go back out of the DC before it goes.
        SelectObject(labelDC, labelOriginalBitmap);
        SelectObject(labelDC, labelOriginalBrush);
        if (labelOriginalFont) SelectObject(labelDC, labelOriginalFont);
        DeleteDC(labelDC);
    }
    if (labelBitmap) DeleteObject(labelBitmap);
    labelDC = nullptr;
    labelBitmap = nullptr;
    labelOriginalBitmap = labelOriginalBrush = labelOriginalFont = nullptr;
}

// Makes the picture anew when the label's size or font is no longer the one
// it was made for.
void FitLabelPicture() {
    if (!pathLabel || !labelDC) return;
    RECT client;
    GetClientRect(pathLabel, &client);
    if (client.right - client.left == labelSize.cx && client.bottom - client.top == labelSize.cy &&
        reinterpret_cast<HFONT>(SendMessageW(pathLabel, WM_GETFONT, 0, 0)) == labelFont) {
        return;
    }
    ReleaseLabelPicture();
    SetUpLabelPicture();
}

BOOL OnNumberChanged(HWND dialog);

BOOL OnInitDialog(HWND dialog, LPARAM lParam) {
    activeDialog = reinterpret_cast<FactorialDialog*>(lParam);
    DWORD thread = GetCurrentThreadId();
    keyFilterHook = SetWindowsHookExW(WH_GETMESSAGE, KeyFilterProc, nullptr, thread);
    labelPaintHook = SetWindowsHookExW(WH_CALLWNDPROC, LabelPaintProc, nullptr, thread);
    numberField = GetDlgItem(dialog, IDC_NUMBER);
    pathLabel = GetDlgItem(dialog, IDC_DEST_PATH);
    SendMessageW(numberField, EM_LIMITTEXT, static_cast<WPARAM>(FactorialDialog::maxInputLength),
                 0);
    ImmAssociateContext(numberField, nullptr);
    SetDlgItemTextW(dialog, IDC_NUMBER, L"");
    // Not every edit control reports setting an empty text to an empty
    // field; the empty-input state must hold either way.
    OnNumberChanged(dialog);
    SetFocus(numberField);
    wchar_t range[512] = L"";
    LoadStringW(dialogInstance, IDS_RANGE_TEXT, range, 512);
    SetDlgItemTextW(dialog, IDC_RANGE_TEXT, range);
    SetUpLabelPicture();
    return FALSE;
}

BOOL OnNumberChanged(HWND dialog) {
    wchar_t text[64] = L"";
    GetDlgItemTextW(dialog, IDC_NUMBER, text, 64);
    uint64_t n = NumberFromText(text);
    if (text[0] == L'\0') {
        EnableWindow(GetDlgItem(dialog, IDC_DEST_BROWSE), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_START), FALSE);
        SetDlgItemTextW(dialog, IDC_DIGITS_VALUE, L"");
        SetDlgItemTextW(dialog, IDC_MEMORY_VALUE, L"");
    } else if (n > FactorialDialog::maxNumber) {
        // Only text put in by another program gets here; the keys cannot.
        EnableWindow(GetDlgItem(dialog, IDC_DEST_BROWSE), TRUE);
        EnableWindow(GetDlgItem(dialog, IDC_START), FALSE);
        SetDlgItemTextW(dialog, IDC_DIGITS_VALUE, L"");
        SetDlgItemTextW(dialog, IDC_MEMORY_VALUE, L"");
    } else {
        EnableWindow(GetDlgItem(dialog, IDC_DEST_BROWSE), TRUE);
        uint64_t digits = static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(n)));
        wchar_t line[64];
        FormatText(line, 64, L"%I64u", digits);
        SetDlgItemTextW(dialog, IDC_DIGITS_VALUE, line);
        FormatText(line, 64, L"%I64u bytes", BytesForDigits(digits));
        SetDlgItemTextW(dialog, IDC_MEMORY_VALUE, line);
        if (destinationChosen) EnableWindow(GetDlgItem(dialog, IDC_START), TRUE);
    }
    return FALSE;
}

BOOL OnChooseDestination(HWND dialog) {
    SaveFileSettings& settings = saveFileSettings;
    memcpy(settings.previousPath, settings.path, sizeof settings.path);
    wchar_t offered[512];
    if (destinationChosen) {
        memcpy(offered, settings.path, sizeof offered);
    } else {
        FormatText(offered, 512, L"F%I64u.txt", ReadNumberField(dialog));
    }
    if (settings.initialised != 1) {
        wchar_t desktop[512] = L"";
        LPITEMIDLIST items = nullptr;
        if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &items))) {
            if (!SHGetPathFromIDListW(items, desktop)) desktop[0] = L'\0';
            CoTaskMemFree(items);
        }
        memcpy(settings.path, offered, sizeof settings.path);
        settings.filter = kSaveFilter;
        memcpy(settings.initialDirectory, desktop, sizeof settings.initialDirectory);
        settings.flags =
            OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN | OFN_ENABLESIZING;
        settings.initialised = 1;
        settings.title = kSaveTitle;
        settings.defaultExtension = kDefaultExtension;
    } else {
        memcpy(settings.path, offered, sizeof settings.path);
    }
    if (settings.Choose(dialog)) {
        if (wcsnlen(settings.path, 512) > kMaxPathUnits) {
            ShowWarning(dialog, IDS_PATH_TOO_LONG, 512);
            if (destinationChosen)
                memcpy(settings.path, settings.previousPath, sizeof settings.path);
        } else {
            destinationChosen = 1;
            DirectoryOfPath(settings.initialDirectory, settings.path);
            DrawPathLabel(settings.path);
            HWND start = GetDlgItem(dialog, IDC_START);
            EnableWindow(start, TRUE);
            SetFocus(start);
        }
    } else {
        if (settings.lastError != 0) ShowWarning(dialog, IDS_SAVE_DIALOG_FAILED, 512);
        if (destinationChosen) memcpy(settings.path, settings.previousPath, sizeof settings.path);
    }
    return TRUE;
}

BOOL OnStart(HWND dialog) {
    // Start is enabled only with a destination; a command sent from outside
    // without one is not a request.
    if (!destinationChosen) return TRUE;
    uint64_t n = ReadNumberField(dialog);
    // The key filter keeps typed numbers in range, but text can reach the
    // field by other ways (WM_SETTEXT from another program, a hook that did
    // not install); no such N may reach the job.
    if (n > FactorialDialog::maxNumber) {
        ShowWarning(dialog, IDS_RANGE_WARNING, 64);
        return TRUE;
    }
    activeDialog->requestedN = n;
    memcpy(activeDialog->requestedPath, saveFileSettings.path, sizeof activeDialog->requestedPath);
    activeDialog->requestedPath[511] = L'\0';
    EndDialog(dialog, FACTO_START);
    // The dialog is hidden now. Tearing its windows down takes 4-35 ms under
    // Wine (round trips to its server, slow while the processors idle); the
    // job need not wait for it.
    if (activeDialog->onStart) activeDialog->onStart(dialogOwner);
    return TRUE;
}

BOOL OnDestroy() {
    ReleaseLabelPicture();
    labelText[0] = L'\0';
    if (labelPaintHook) UnhookWindowsHookEx(labelPaintHook);
    if (keyFilterHook) UnhookWindowsHookEx(keyFilterHook);
    labelPaintHook = keyFilterHook = nullptr;
    numberField = pathLabel = nullptr;
    return FALSE;
}

// Whether typing this digit key at the caret would put a number above the
// limit into the field. The selection stays in the tested text.
bool DigitWouldExceedLimit(HWND field, WPARAM key) {
    wchar_t text[64] = L"";
    GetDlgItemTextW(GetParent(field), GetDlgCtrlID(field), text, 64);
    size_t length = wcslen(text);
    DWORD selection = static_cast<DWORD>(SendMessageW(field, EM_GETSEL, 0, 0));
    LRESULT lineStart = SendMessageW(field, EM_LINEINDEX, static_cast<WPARAM>(-1), 0);
    long start = static_cast<long>(LOWORD(selection)) - static_cast<long>(lineStart);
    size_t split = start < 0 ? 0 : static_cast<size_t>(start);
    if (split > length) split = length;
    wchar_t candidate[64 + 1 + 64 + 1];
    wchar_t head[64];
    wmemcpy(head, text, split);
    head[split] = L'\0';
    FormatText(candidate, 64 + 1 + 64 + 1, L"%s%c%s", head, DigitForKey(key), text + split);
    return NumberFromText(candidate) > FactorialDialog::maxNumber;
}

bool IsDigitKey(WPARAM key) {
    return (key >= '0' && key <= '9') || (key >= VK_NUMPAD0 && key <= VK_NUMPAD9);
}

LRESULT Discard(MSG* message) {
    message->message = WM_NULL;
    return 0;
}

}  // namespace

uint64_t NumberFromText(const wchar_t* text) {
    uint64_t n = 0;
    for (const wchar_t* p = text; *p >= L'0' && *p <= L'9'; ++p) {
        unsigned digit = static_cast<unsigned>(*p - L'0');
        if (n > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        n = n * 10 + digit;
    }
    return n;
}

wchar_t DigitForKey(WPARAM virtualKey) {
    if (virtualKey >= VK_NUMPAD0 && virtualKey <= VK_NUMPAD9) {
        return static_cast<wchar_t>(L'0' + (virtualKey - VK_NUMPAD0));
    }
    return static_cast<wchar_t>(L'0' + (virtualKey - '0'));
}

SaveFileSettings::SaveFileSettings()
    : initialised(0),
      path{},
      previousPath{},
      fileTitle{},
      filter(nullptr),
      initialDirectory{},
      title(nullptr),
      flags(0),
      defaultExtension(nullptr),
      lastError(0) {}

BOOL SaveFileSettings::Choose(HWND owner) {
    OPENFILENAMEW request;
    memset(&request, 0, sizeof request);
    request.lStructSize = kOpenFileNameSize;
    request.hwndOwner = owner;
    request.lpstrFilter = filter;
    request.nFilterIndex = 1;
    request.lpstrFile = path;
    request.nMaxFile = 512;
    request.lpstrFileTitle = fileTitle;
    request.nMaxFileTitle = 512;
    request.lpstrInitialDir = initialDirectory;
    request.lpstrTitle = title;
    request.Flags = flags | OFN_EXPLORER | OFN_PATHMUSTEXIST;
    request.lpstrDefExt = defaultExtension;
    BOOL chosen = GetSaveFileNameW(&request);
    lastError = chosen ? 0 : CommDlgExtendedError();
    return chosen;
}

FactorialDialog::FactorialDialog() : requestedN(0), requestedPath{}, onStart(nullptr) {
    maxNumber = 1000000;
    maxInputLength = 7;
}

INT_PTR FactorialDialog::Show(HINSTANCE instance, HWND owner) {
    dialogInstance = instance;
    dialogOwner = owner;
    destinationChosen = 0;
    return DialogBoxParamW(instance, L"DLG_FACTO", owner, FactorialDialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK FactorialDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog, lParam);
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_NUMBER:
                    if (HIWORD(wParam) == EN_UPDATE &&
                        reinterpret_cast<HWND>(lParam) == numberField) {
                        return OnNumberChanged(dialog);
                    }
                    return FALSE;
                case IDC_DEST_BROWSE:
                    return OnChooseDestination(dialog);
                case IDC_START:
                    return OnStart(dialog);
                case IDC_CANCEL_BUTTON:
                    EndDialog(dialog, FACTO_CANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_DESTROY:
            return OnDestroy();
        default:
            return FALSE;
    }
}

LRESULT CALLBACK KeyFilterProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HC_ACTION) return CallNextHookEx(keyFilterHook, code, wParam, lParam);
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (numberField && message->hwnd == numberField) {
        if (message->message == WM_KEYDOWN) {
            WPARAM key = message->wParam;
            switch (key) {
                case VK_BACK:
                case VK_TAB:
                case VK_END:
                case VK_HOME:
                case VK_LEFT:
                case VK_RIGHT:
                case VK_DELETE:
                case VK_NUMLOCK:
                    break;
                default:
                    if (!IsDigitKey(key)) return Discard(message);
                    if (DigitWouldExceedLimit(numberField, key)) {
                        ShowWarning(GetParent(numberField), IDS_RANGE_WARNING, 64);
                        return Discard(message);
                    }
                    break;
            }
        } else if (message->message >= WM_RBUTTONDOWN && message->message <= WM_MBUTTONDBLCLK) {
            return Discard(message);
        }
    } else if (pathLabel && message->hwnd == pathLabel && message->message == WM_PAINT) {
        PaintLabelFromPicture();
        return 0;
    }
    return CallNextHookEx(keyFilterHook, code, wParam, lParam);
}

LRESULT CALLBACK LabelPaintProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (pathLabel && call->hwnd == pathLabel && call->message == WM_PAINT) {
            PaintLabelFromPicture();
            return 0;
        }
    }
    return CallNextHookEx(labelPaintHook, code, wParam, lParam);
}

void DrawPathLabel(const wchar_t* text) {
    FitLabelPicture();
    HDC windowDC = GetDC(pathLabel);
    RECT client;
    GetClientRect(pathLabel, &client);
    DrawOntoLabel(windowDC, client, text);
    ReleaseDC(pathLabel, windowDC);
}
