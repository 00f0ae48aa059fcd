#include "ui/about_box.h"

#include <cwchar>

#include "platform/host_kind.h"
#include "resources/resource_ids.h"
#include "ui/format_text.h"

void AppendBounded(wchar_t* buffer, size_t size, const wchar_t* source) {
    if (size == 0) return;
    size_t used = wcsnlen(buffer, size - 1);
    size_t n = WholeCharacters(source, size - 1 - used);
    std::wmemcpy(buffer + used, source, n);
    buffer[used + n] = L'\0';
}

void FormatAboutText(HINSTANCE instance, uint32_t hostKind, wchar_t* text, size_t size) {
    if (size == 0) return;
    wchar_t author[512] = L"";
    wchar_t host[512] = L"";
    text[0] = L'\0';
    LoadStringW(instance, IDS_VERSION_LINE, text, static_cast<int>(size < 512 ? size : 512));
    LoadStringW(instance, IDS_AUTHOR_LINE, author, 512);
    LoadStringW(instance, HostStringId(hostKind), host, 512);
    AppendBounded(text, size, L"\r\n\r\n");
    AppendBounded(text, size, author);
    AppendBounded(text, size, L"\r\n\r\n");
    AppendBounded(text, size, host);
}

void ShowAboutBox(HWND owner, HINSTANCE instance) {
    wchar_t text[512];
    wchar_t caption[512] = L"";
    FormatAboutText(instance, DetectHost(), text, 512);
    LoadStringW(instance, IDS_ABOUT_CAPTION, caption, 512);

    MSGBOXPARAMSW box = {};
    box.cbSize = sizeof(box);
    box.hwndOwner = owner;
    box.hInstance = instance;
    box.lpszText = text;
    box.lpszCaption = caption;
    box.dwStyle = MB_USERICON | MB_OK;
    box.lpszIcon = MAKEINTRESOURCEW(IDI_QUARNEL);
    box.dwContextHelpId = 0;
    box.lpfnMsgBoxCallback = nullptr;
    box.dwLanguageId = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
    MessageBoxIndirectW(&box);
}
