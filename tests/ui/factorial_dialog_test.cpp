// The factorial dialog runs its modal loop on the main thread while a driver
// thread types, clicks and answers the save dialog and the warnings.
#include "ui/factorial_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/size_estimates.h"
#include "resources/resource_ids.h"
#include "tests/ui/ui_driver.h"

SaveFileSettings saveFileSettings;
FactorialDialog factorialDialog;

namespace {

const UINT kCaption = 1006;

std::string scratch;  // a folder of this run's own, made by main
const char kLongFolder[] = "a_rather_long_folder_name_0123456789_abcdefghijklmnopqrstuvwxyz";

// What the dialog shows for N in controls 110 and 112.
std::string DigitsText(int64_t n) { return std::to_string(EstimateDigits(n)); }
std::string MemoryText(int64_t n) {
    return std::to_string(BytesForDigits(static_cast<uint64_t>(EstimateDigits(n)))) + " bytes";
}

// A path of exactly `bytes` bytes in a folder that exists (the save dialog
// insists on that); the file itself is not made.
std::string PathOfLength(size_t bytes) {
    std::string path = scratch + "\\";
    const std::string suffix = ".txt";
    path.append(bytes - path.size() - suffix.size(), 'p');
    return path + suffix;
}

// One opening of the dialog, driven by `script`; returns what Show returned.
INT_PTR RunDialog(const std::function<void(UiDriver&, HWND)>& script) {
    UiDriver driver;
    driver.Start([&](UiDriver& d) {
        HWND dialog = d.WaitForWindow(IsFactorialDialog);
        if (!dialog) {
            ADD_FAILURE() << "the factorial dialog did not appear";
            return;
        }
        d.Sync(dialog);
        script(d, dialog);
        // Whatever the script left behind, leave no dialog open.
        for (int i = 0; i < 5 && IsWindow(dialog); ++i) {
            if (HWND box = d.WaitForMessageBox(0)) d.DismissMessageBox(box);
            if (HWND save = d.WaitForWindow(IsSaveDialog, 0)) {
                PostMessageA(save, WM_COMMAND, IDCANCEL, 0);
                Sleep(200);
            }
            d.Click(GetDlgItem(dialog, IDC_CANCEL_BUTTON));
            for (int j = 0; j < 50 && IsWindow(dialog); ++j) Sleep(20);
        }
    });
    INT_PTR result = factorialDialog.Show(GetModuleHandleA(nullptr), nullptr);
    driver.Join();
    return result;
}

// Answers the save dialog with `path`, or cancels it for an empty one; false
// if it did not open and close.
bool ChooseInSaveDialog(UiDriver& d, HWND dialog, const std::string& path,
                        std::string* offeredName = nullptr) {
    d.Click(GetDlgItem(dialog, IDC_DEST_BROWSE));
    HWND save = d.WaitForWindow(IsSaveDialog, 10000);
    if (!save) return false;
    HWND name = GetDlgItem(save, 0x47C);
    for (int i = 0; i < 50 && !name; ++i) {
        Sleep(20);
        name = GetDlgItem(save, 0x47C);
    }
    if (offeredName) *offeredName = WindowText(name);
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(save, WM_COMMAND, path.empty() ? IDCANCEL : IDOK, 0);
    for (int i = 0; i < 250 && IsWindow(save); ++i) Sleep(20);
    d.Sync(dialog);
    return !IsWindow(save);
}

// The warning `textId` is showing (0: none is); it is dismissed.
void ExpectWarning(UiDriver& d, UINT textId) {
    HWND box = d.WaitForMessageBox(textId ? 5000 : 0);
    const std::string caption = box ? WindowText(box) + "|" : "";
    const std::string seen = box ? caption + d.DismissMessageBox(box) : "";
    EXPECT_EQ(seen, textId ? LoadString(kCaption) + "|" + LoadString(textId) : "");
}
void ExpectNoWarning(UiDriver& d) { ExpectWarning(d, 0); }

void SetCaret(HWND field, int start, int end) {
    SendMessageA(field, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void ClearField(UiDriver& d, HWND field) {
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    d.Sync(field);
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

TEST(NumberFromText, ReadsDigitsUpToTheFirstOtherCharacterAndSaturates) {
    EXPECT_EQ(NumberFromText(""), 0u);
    EXPECT_EQ(NumberFromText("0000000"), 0u);
    EXPECT_EQ(NumberFromText("0001000"), 1000u);
    EXPECT_EQ(NumberFromText("12a34"), 12u);
    EXPECT_EQ(NumberFromText("-5"), 0u);
    EXPECT_EQ(NumberFromText("18446744073709551615"), UINT64_MAX);
    // One more would wrap to a small N without the saturation.
    EXPECT_EQ(NumberFromText("18446744073709551616"), UINT64_MAX);
    EXPECT_EQ(NumberFromText("99999999999999999999999999"), UINT64_MAX);
}

TEST(DigitForKey, MapsTopRowAndNumpadKeys) {
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(DigitForKey('0' + i), '0' + i);
        EXPECT_EQ(DigitForKey(VK_NUMPAD0 + i), '0' + i);
    }
}

TEST(FactorialDialog, KeyFilterKeepsTheFieldWithinOneMillion) {
    INT_PTR result = RunDialog([](UiDriver& d, HWND dialog) {
        HWND field = GetDlgItem(dialog, IDC_NUMBER);
        d.Type(field, "100000");
        ASSERT_EQ(WindowText(field), "100000") << "typed digits do not reach the field";
        ExpectNoWarning(d);

        d.Key(field, '1');  // 1000001
        ExpectWarning(d, IDS_RANGE_WARNING);
        EXPECT_EQ(WindowText(field), "100000");
        d.Key(field, '0');  // 1000000
        ExpectNoWarning(d);
        EXPECT_EQ(WindowText(field), "1000000");
        EXPECT_EQ(ControlText(dialog, IDC_DIGITS_VALUE), DigitsText(1000000));

        // Full field: any digit is too much, except a 0 in front, which
        // passes the filter and is then refused by the length limit.
        SetCaret(field, 3, 3);
        d.Key(field, '0');
        ExpectWarning(d, IDS_RANGE_WARNING);
        SetCaret(field, 0, 0);
        d.Key(field, '0');
        ExpectNoWarning(d);
        EXPECT_EQ(WindowText(field), "1000000");
        SetCaret(field, 7, 7);
        d.Key(field, VK_NUMPAD9);
        ExpectWarning(d, IDS_RANGE_WARNING);
        EXPECT_EQ(WindowText(field), "1000000");

        // The selection stays in the tested text: 5 before 999999 is 5999999.
        ClearField(d, field);
        d.Type(field, "999999");
        SetCaret(field, 0, -1);
        d.Key(field, '5');
        ExpectWarning(d, IDS_RANGE_WARNING);
        EXPECT_EQ(WindowText(field), "999999");

        // Backspace and Delete always pass.
        SetCaret(field, 6, 6);
        d.Key(field, VK_BACK);
        SetCaret(field, 0, 0);
        d.Key(field, VK_DELETE);
        EXPECT_EQ(WindowText(field), "9999");

        // Leading zeros take places in the field.
        ClearField(d, field);
        d.Type(field, "0000000");
        ExpectNoWarning(d);
        EXPECT_EQ(WindowText(field), "0000000");
        EXPECT_EQ(ControlText(dialog, IDC_DIGITS_VALUE), DigitsText(0));
        EXPECT_EQ(ControlText(dialog, IDC_MEMORY_VALUE), MemoryText(0));
    });
    EXPECT_EQ(result, FACTO_CANCEL);
}

TEST(FactorialDialog, EnterEscPasteAndContextMenuDoNothing) {
    INT_PTR result = RunDialog([](UiDriver& d, HWND dialog) {
        HWND field = GetDlgItem(dialog, IDC_NUMBER);
        d.Type(field, "12");
        d.Key(field, VK_RETURN);
        d.Key(field, VK_ESCAPE);
        d.Key(GetDlgItem(dialog, IDC_CANCEL_BUTTON), VK_ESCAPE);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        d.Sync(dialog);
        EXPECT_TRUE(IsWindow(dialog)) << "only Start and Cancel may close the dialog";
        EXPECT_EQ(WindowText(field), "12");

        // Digits on the clipboard: what a paste would bring.
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, 4);
        memcpy(GlobalLock(memory), "777", 4);
        GlobalUnlock(memory);
        SetClipboardData(CF_TEXT, memory);
        CloseClipboard();
        for (WPARAM key : {WPARAM('V'), WPARAM(VK_INSERT), WPARAM(VK_CONTROL), WPARAM(VK_SHIFT),
                           WPARAM(VK_UP), WPARAM(VK_F1), WPARAM('Z')}) {
            d.Key(field, key);
        }
        for (UINT message = WM_RBUTTONDOWN; message <= WM_MBUTTONDBLCLK; ++message) {
            PostMessageA(field, message, message == WM_RBUTTONDOWN ? MK_RBUTTON : 0,
                         MAKELPARAM(5, 5));
        }
        d.Sync(field);
        EXPECT_EQ(WindowText(field), "12");
        HWND menu = d.WaitForWindow([](HWND w) { return ClassOf(w) == "#32768"; }, 300);
        EXPECT_EQ(menu, nullptr) << "a context menu opened on the N field";
        if (menu) PostMessageA(field, WM_CANCELMODE, 0, 0);
        // The clipboard does hold digits: a paste that is not a key gets through.
        SendMessageA(field, WM_PASTE, 0, 0);
        EXPECT_EQ(WindowText(field), "12777");
        EXPECT_TRUE(IsWindow(dialog));
    });
    EXPECT_EQ(result, FACTO_CANCEL);
}

TEST(FactorialDialog, ButtonsFollowTheFieldAndTheDestination) {
    INT_PTR result = RunDialog([](UiDriver& d, HWND dialog) {
        HWND field = GetDlgItem(dialog, IDC_NUMBER);
        EXPECT_FALSE(Enabled(dialog, IDC_DEST_BROWSE));
        EXPECT_FALSE(Enabled(dialog, IDC_START));
        EXPECT_EQ(ControlText(dialog, IDC_DIGITS_VALUE), "");
        EXPECT_EQ(ControlText(dialog, IDC_MEMORY_VALUE), "");
        EXPECT_EQ(ControlText(dialog, IDC_RANGE_TEXT), LoadString(IDS_RANGE_TEXT));

        d.Type(field, "25");
        EXPECT_TRUE(Enabled(dialog, IDC_DEST_BROWSE));
        EXPECT_FALSE(Enabled(dialog, IDC_START));
        EXPECT_EQ(ControlText(dialog, IDC_DIGITS_VALUE), DigitsText(25));
        EXPECT_EQ(ControlText(dialog, IDC_MEMORY_VALUE), MemoryText(25));

        // A cancelled save dialog leaves no destination.
        std::string offered;
        ASSERT_TRUE(ChooseInSaveDialog(d, dialog, "", &offered));
        EXPECT_EQ(offered, "F25.txt");
        ExpectNoWarning(d);
        EXPECT_FALSE(Enabled(dialog, IDC_START));

        std::string path = scratch + "\\F25.txt";
        ASSERT_TRUE(ChooseInSaveDialog(d, dialog, path));
        ExpectNoWarning(d);
        EXPECT_TRUE(Enabled(dialog, IDC_START));
        GUITHREADINFO focus{};
        focus.cbSize = sizeof focus;
        GetGUIThreadInfo(d.uiThread(), &focus);
        EXPECT_EQ(focus.hwndFocus, GetDlgItem(dialog, IDC_START));
        EXPECT_STREQ(saveFileSettings.path, path.c_str());
        EXPECT_EQ(std::string(saveFileSettings.initialDirectory), scratch + "\\");

        // Clearing the field disables both buttons; a digit brings both back.
        d.Key(field, VK_BACK);
        d.Key(field, VK_BACK);
        EXPECT_FALSE(Enabled(dialog, IDC_DEST_BROWSE));
        EXPECT_FALSE(Enabled(dialog, IDC_START));
        EXPECT_EQ(ControlText(dialog, IDC_DIGITS_VALUE), "");
        d.Type(field, "7");
        EXPECT_TRUE(Enabled(dialog, IDC_DEST_BROWSE));
        EXPECT_TRUE(Enabled(dialog, IDC_START));

        // Changing N does not change the chosen file.
        d.Click(GetDlgItem(dialog, IDC_START));
    });
    EXPECT_EQ(result, FACTO_START);
    EXPECT_EQ(factorialDialog.requestedN, 7u);
    EXPECT_EQ(std::string(factorialDialog.requestedPath), scratch + "\\F25.txt");
}

TEST(FactorialDialog, PathsUpTo260BytesAreAcceptedAndLongerOnesRefused) {
    const std::string accepted = PathOfLength(260);
    const std::string refused = PathOfLength(261);
    INT_PTR result = RunDialog([&](UiDriver& d, HWND dialog) {
        HWND field = GetDlgItem(dialog, IDC_NUMBER);
        d.Type(field, "1000");
        ASSERT_TRUE(ChooseInSaveDialog(d, dialog, refused));
        ExpectWarning(d, IDS_PATH_TOO_LONG);
        EXPECT_FALSE(Enabled(dialog, IDC_START));

        ASSERT_TRUE(ChooseInSaveDialog(d, dialog, accepted));
        ExpectNoWarning(d);
        EXPECT_TRUE(Enabled(dialog, IDC_START));

        // A refused choice after an accepted one keeps the accepted one.
        ASSERT_TRUE(ChooseInSaveDialog(d, dialog, refused));
        ExpectWarning(d, IDS_PATH_TOO_LONG);
        EXPECT_TRUE(Enabled(dialog, IDC_START));
        EXPECT_EQ(std::string(saveFileSettings.path), accepted);
        d.Click(GetDlgItem(dialog, IDC_START));
    });
    EXPECT_EQ(result, FACTO_START);
    EXPECT_EQ(factorialDialog.requestedN, 1000u);
    EXPECT_EQ(std::string(factorialDialog.requestedPath), accepted);
}

TEST(FactorialDialog, TextPutIntoTheFieldFromOutsideNeverStartsAboveOneMillion) {
    INT_PTR result = RunDialog([](UiDriver& d, HWND dialog) {
        HWND field = GetDlgItem(dialog, IDC_NUMBER);
        d.Type(field, "5");
        ASSERT_TRUE(ChooseInSaveDialog(d, dialog, scratch + "\\outside.txt"));
        EXPECT_TRUE(Enabled(dialog, IDC_START));
        // Text set by another program; and (null) a character typed with Alt
        // and a numpad code, which needs no digit key.
        for (const char* text : {"1000001", "99999999999999999999999", (const char*)nullptr}) {
            if (text) {
                SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
            } else {
                ClearField(d, field);
                d.Type(field, "100000");
                PostMessageA(field, WM_CHAR, '9', 1);
            }
            d.Sync(dialog);
            EXPECT_EQ(WindowText(field), text ? text : "1000009");
            EXPECT_FALSE(Enabled(dialog, IDC_START)) << WindowText(field);
            EXPECT_EQ(ControlText(dialog, IDC_DIGITS_VALUE), "") << WindowText(field);
            // Start pressed anyway (a command sent by another program).
            PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
            d.Sync(dialog);
            ExpectWarning(d, IDS_RANGE_WARNING);
            EXPECT_TRUE(IsWindow(dialog)) << WindowText(field);
        }

        SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("999"));
        d.Sync(dialog);
        EXPECT_TRUE(Enabled(dialog, IDC_START));
        d.Click(GetDlgItem(dialog, IDC_START));
    });
    EXPECT_EQ(result, FACTO_START);
    EXPECT_EQ(factorialDialog.requestedN, 999u);
}

// The label keeps the path's start and its file name, with "..." between.
TEST(FactorialDialog, LongPathIsShownWithItsMiddleElided) {
    const std::string path = scratch + "\\" + kLongFolder + "\\F3.txt";
    INT_PTR result = RunDialog([&](UiDriver& d, HWND dialog) {
        d.Type(GetDlgItem(dialog, IDC_NUMBER), "3");
        ASSERT_TRUE(ChooseInSaveDialog(d, dialog, path));
        const std::string shown = ControlText(dialog, IDC_DEST_PATH);
        const size_t dots = shown.find("...");
        ASSERT_NE(dots, std::string::npos) << shown << ": the path fits, make it longer";
        const size_t tail = shown.size() - dots - 3;
        EXPECT_GE(dots, 3u) << shown;
        EXPECT_GE(tail, 7u) << shown;  // "\F3.txt"
        EXPECT_EQ(path.compare(0, dots, shown, 0, dots), 0) << shown;
        EXPECT_EQ(path.compare(path.size() - tail, tail, shown, dots + 3, tail), 0) << shown;
        d.Click(GetDlgItem(dialog, IDC_CANCEL_BUTTON));
    });
    EXPECT_EQ(result, FACTO_CANCEL);
}

TEST(FactorialDialog, ReopeningAsksForANewDestinationInTheLastFolder) {
    std::string path = scratch + "\\sub\\first.txt";
    ASSERT_EQ(RunDialog([&](UiDriver& d, HWND dialog) {
                  d.Type(GetDlgItem(dialog, IDC_NUMBER), "10");
                  ASSERT_TRUE(ChooseInSaveDialog(d, dialog, path));
                  d.Click(GetDlgItem(dialog, IDC_START));
              }),
              FACTO_START);

    INT_PTR result = RunDialog([&](UiDriver& d, HWND dialog) {
        HWND field = GetDlgItem(dialog, IDC_NUMBER);
        EXPECT_EQ(WindowText(field), "");
        d.Type(field, "42");
        EXPECT_FALSE(Enabled(dialog, IDC_START));
        EXPECT_EQ(std::string(saveFileSettings.initialDirectory), scratch + "\\sub\\");
        std::string offered;
        ASSERT_TRUE(ChooseInSaveDialog(d, dialog, scratch + "\\second.txt", &offered));
        EXPECT_EQ(offered, "F42.txt");
        EXPECT_TRUE(Enabled(dialog, IDC_START));
        d.Click(GetDlgItem(dialog, IDC_CANCEL_BUTTON));
    });
    EXPECT_EQ(result, FACTO_CANCEL);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    scratch = TempPath("qrnl_dialog_" + std::to_string(GetCurrentProcessId()));
    CreateDirectoryA(scratch.c_str(), nullptr);
    CreateDirectoryA((scratch + "\\sub").c_str(), nullptr);
    CreateDirectoryA((scratch + "\\" + kLongFolder).c_str(), nullptr);
    int status = RUN_ALL_TESTS();
    RemoveDirectoryA((scratch + "\\" + kLongFolder).c_str());
    RemoveDirectoryA((scratch + "\\sub").c_str());
    RemoveDirectoryA(scratch.c_str());
    return status;
}
