#include "ui/about_box.h"

#include <cstring>

#include "platform/host_kind.h"
#include "resources/resource_ids.h"
#include "ui/log_view.h"

void AppendBounded(char* buffer, size_t size, const char* source) {
    if (size == 0) return;
    size_t used = strnlen(buffer, size - 1);
    size_t n = Cp932Fit(source, size - 1 - used);
    std::memcpy(buffer + used, source, n);
    buffer[used + n] = '\0';
}

void FormatAboutText(HINSTANCE instance, uint32_t hostKind, char* text, size_t size) {
    if (size == 0) return;
    char author[512] = "";
    char host[512] = "";
    text[0] = '\0';
    LoadStringA(instance, IDS_VERSION_LINE, text, static_cast<int>(size < 512 ? size : 512));
    LoadStringA(instance, IDS_AUTHOR_LINE, author, sizeof(author));
    LoadStringA(instance, HostStringId(hostKind), host, sizeof(host));
    AppendBounded(text, size, "\r\n\r\n");
    AppendBounded(text, size, author);
    AppendBounded(text, size, "\r\n\r\n");
    AppendBounded(text, size, host);
}

void ShowAboutBox(HWND owner, HINSTANCE instance) {
    char text[512];
    char caption[512] = "";
    FormatAboutText(instance, DetectHost(), text, sizeof(text));
    LoadStringA(instance, IDS_ABOUT_CAPTION, caption, sizeof(caption));

    MSGBOXPARAMSA box = {};
    box.cbSize = sizeof(box);
    box.hwndOwner = owner;
    box.hInstance = instance;
    box.lpszText = text;
    box.lpszCaption = caption;
    box.dwStyle = MB_USERICON | MB_OK;
    box.lpszIcon = MAKEINTRESOURCEA(IDI_QUARNEL);
    box.dwContextHelpId = 0;
    box.lpfnMsgBoxCallback = nullptr;
    box.dwLanguageId = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
    MessageBoxIndirectA(&box);
}
