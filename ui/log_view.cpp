#include "ui/log_view.h"

#include <richedit.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "resources/resource_ids.h"
#include "ui/display_scale.h"
#include "ui/format_text.h"

HWND logWindow;

namespace {

LogView* theLogView;  // the stream callbacks' way to the buffer

HHOOK messageHook;
HHOOK callWndHook;
bool richEdit2;  // the control takes a line spacing (Riched20.dll)

// The text's size at every scale: the points FixedSys shows at 96 DPI, the
// control's own 10 points. And the margins at 96 DPI.
const int kLogTextTwips = 200;
const int kLogMarginPixels = 10;

void ReleaseLogViewAtExit() {
    if (theLogView) theLogView->Release();
}

[[noreturn]] void EndProcess() { std::exit(0); }

const DWORD kLogStyle =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_NOHIDESEL | ES_AUTOVSCROLL | ES_MULTILINE;

// The pane's text goes in and out of the control as UTF-16.
const WPARAM kStreamFormat = SF_TEXT | SF_UNICODE;

// Offset and size of the first line break (CR LF, or a lone CR or LF) at or
// after from; false when there is none.
bool FindLineBreak(const wchar_t* text, size_t length, size_t from, size_t* at, size_t* size) {
    for (size_t i = from; i < length; ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            *at = i;
            *size = (text[i] == L'\r' && i + 1 < length && text[i + 1] == L'\n') ? 2 : 1;
            return true;
        }
    }
    return false;
}

void PutCaretAtEnd() {
    LRESULT lines = SendMessageW(logWindow, EM_GETLINECOUNT, 0, 0);
    LRESULT first = SendMessageW(logWindow, EM_LINEINDEX, lines > 0 ? lines - 1 : 0, 0);
    LRESULT length = SendMessageW(logWindow, EM_LINELENGTH, first, 0);
    SendMessageW(logWindow, EM_SETSEL, first + length, first + length);
}

// The text's face and size at a scale. At 96 DPI the pane has the raster
// face FixedSys at the control's own size; a raster face comes in few sizes
// (Windows scales it only by whole multiples, and blocky), so at any other
// scale the pane takes MS Gothic, a monospaced outline face with the Japanese
// glyphs, at the points FixedSys shows at 96 DPI. Sizes go to the control in
// points at its own resolution, which can differ from the window's.
void SetTextFace(UINT dpi, int controlDpi, bool atCreation) {
    CHARFORMATW face = {};
    face.cbSize = sizeof(face);
    face.dwMask = CFM_FACE;
    if (dpi == kBaseDpi) {
        std::wcscpy(face.szFaceName, L"FixedSys");
    } else {
        std::wcscpy(face.szFaceName, L"MS Gothic");
        face.dwMask |= CFM_CHARSET;
        face.bCharSet = SHIFTJIS_CHARSET;
        face.bPitchAndFamily = FIXED_PITCH | FF_MODERN;
    }
    if (!atCreation || dpi != kBaseDpi) {
        face.dwMask |= CFM_SIZE;
        face.yHeight = MulDiv(kLogTextTwips, static_cast<int>(dpi), controlDpi);
        // The text streamed in when the pane rolls takes the default format.
        SendMessageW(logWindow, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&face));
    }
    SendMessageW(logWindow, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&face));
}

// The spacing formula at the window's scale: the DC's text height as the
// window's scale draws it, in twips of that scale, handed to the control in
// twips of its own resolution.
void SetLineSpacing(UINT dpi) {
    HDC dc = GetDC(logWindow);
    if (!dc) return;  // keep the control's spacing
    TEXTMETRICW metrics = {};
    BOOL haveMetrics = GetTextMetricsW(dc, &metrics);
    int pixelsPerInch = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(logWindow, dc);
    if (!haveMetrics || pixelsPerInch <= 0) return;
    LONG twips = LineSpacingTwips(MulDiv(metrics.tmHeight, static_cast<int>(dpi), pixelsPerInch),
                                  static_cast<int>(dpi));
    if (twips <= 0) return;
    twips = MulDiv(twips, static_cast<int>(dpi), pixelsPerInch);

    PARAFORMAT2 format = {};
    format.cbSize = sizeof(format);
    format.dwMask = PFM_SPACEBEFORE | PFM_SPACEAFTER | PFM_LINESPACING;
    SendMessageW(logWindow, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
    format.dwMask = PFM_LINESPACING;
    format.bLineSpacingRule = 4;
    format.dyLineSpacing = twips;
    SendMessageW(logWindow, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
}

// Face, line spacing and margins at a scale. The paragraph format applies to
// the selected paragraphs: all of them, then the caret goes back.
void ApplyScale(UINT dpi, bool atCreation) {
    HDC dc = GetDC(logWindow);
    const int controlDpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(logWindow, dc);
    SetTextFace(dpi, controlDpi > 0 ? controlDpi : static_cast<int>(dpi), atCreation);
    if (richEdit2) {
        CHARRANGE selection = {};
        SendMessageW(logWindow, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
        CHARRANGE all = {0, -1};
        if (!atCreation) {
            SendMessageW(logWindow, WM_SETREDRAW, FALSE, 0);  // no flash of the selection
            SendMessageW(logWindow, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
        }
        SetLineSpacing(dpi);
        if (!atCreation) {
            SendMessageW(logWindow, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
            SendMessageW(logWindow, WM_SETREDRAW, TRUE, 0);
        }
    }
    const int margin = ScaleToDpi(kLogMarginPixels, dpi);
    SendMessageW(logWindow, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                 MAKELPARAM(margin, margin));
}

}  // namespace

bool IsBlockedLogInput(UINT message) {
    switch (message & 0xFFFF) {
        case WM_NCRBUTTONDOWN:
        case WM_NCRBUTTONDBLCLK:
        case WM_NCMBUTTONDOWN:
        case WM_NCMBUTTONDBLCLK:
        case WM_KEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK:
            return true;
        default:
            return false;
    }
}

LONG LineSpacingTwips(LONG textHeight, int pixelsPerInch) {
    if (pixelsPerInch <= 0 || textHeight < 0 || textHeight > 10000) return 0;
    return (textHeight + 3) * 1440 / pixelsPerInch;
}

uint64_t WholePages(uint64_t size, uint64_t pageSize) {
    if (pageSize == 0 || size % pageSize == 0) return size;
    return (size / pageSize + 1) * pageSize;
}

size_t RotateLogText(wchar_t* buffer, size_t capacity, size_t length, const wchar_t* text,
                     int maxLines) {
    if (capacity == 0) return 0;
    const size_t limit = capacity - 1;  // room for the NUL
    length = std::min(length, limit);
    const size_t textLength = WholeCharacters(text, limit);

    size_t lines = 1;
    for (size_t at = 0, size = 0, from = 0; FindLineBreak(buffer, length, from, &at, &size);
         from = at + size) {
        ++lines;
    }
    const size_t wanted = maxLines > 1 ? static_cast<size_t>(maxLines) : 1;

    // Drop the oldest lines: always one once the limit is reached, more while
    // the new line would not fit.
    size_t drop = 0;
    bool emptied = false;
    while (lines >= wanted || (length - drop) + 2 + textLength > limit) {
        size_t at = 0, size = 0;
        if (!FindLineBreak(buffer, length, drop, &at, &size)) {
            emptied = true;  // the last line went too
            break;
        }
        drop = at + size;
        --lines;
    }
    if (emptied) {
        std::wmemcpy(buffer, text, textLength);
        buffer[textLength] = L'\0';
        return textLength;
    }
    std::wmemmove(buffer, buffer + drop, length - drop);
    length -= drop;
    buffer[length++] = L'\r';
    buffer[length++] = L'\n';
    std::wmemcpy(buffer + length, text, textLength);
    length += textLength;
    buffer[length] = L'\0';
    return length;
}

LogView::LogView()
    : richEditModule(nullptr),
      streamBuffer(nullptr),
      bufferSize(0),
      maxLines(0),
      lineCount(0),
      streamPos(0),
      streamEnd(0),
      paneUnits(0) {
    theLogView = this;
    std::atexit(ReleaseLogViewAtExit);
}

int LogView::Create(HINSTANCE instance, HWND parent, int x, int y, int width, int height,
                    uint64_t requestedBufferSize, int lineLimit) {
    richEditModule = LoadLibraryW(L"Riched20.dll");
    const bool version2 = richEditModule != nullptr;
    if (!version2) {
        richEditModule = LoadLibraryW(L"Riched32.dll");
        if (!richEditModule) EndProcess();
    }
    logWindow =
        CreateWindowExW(WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE,
                        version2 ? L"RichEdit20W" : L"RichEdit", nullptr, kLogStyle, x, y, width,
                        height, parent, reinterpret_cast<HMENU>(IDC_LOGVIEW), instance, nullptr);
    if (!logWindow) EndProcess();

    richEdit2 = version2;
    ApplyScale(WindowDpi(parent), true);

    streamBuffer = nullptr;
    lineCount = 0;
    paneUnits = 0;
    // A limit below one line would leave nothing to roll; the pane keeps at
    // least the newest line.
    maxLines = lineLimit > 1 ? lineLimit : 1;

    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    bufferSize = WholePages(requestedBufferSize, system.dwPageSize);
    // The stream positions are 32-bit.
    if (bufferSize < sizeof(wchar_t) || bufferSize > 0x40000000) EndProcess();
    streamBuffer = static_cast<wchar_t*>(
        VirtualAlloc(nullptr, static_cast<SIZE_T>(bufferSize), MEM_COMMIT, PAGE_READWRITE));
    if (!streamBuffer) EndProcess();
    streamBuffer[0] = L'\0';

    SendMessageW(logWindow, EM_EXLIMITTEXT, 0,
                 static_cast<LPARAM>(std::max<uint64_t>(bufferSize, 65536)));
    return (logWindow && streamBuffer) ? 0 : 1;
}

void LogView::HookInput() {
    messageHook = SetWindowsHookExW(WH_GETMESSAGE, LogMessageHook, nullptr, GetCurrentThreadId());
    callWndHook = SetWindowsHookExW(WH_CALLWNDPROC, LogCallWndHook, nullptr, GetCurrentThreadId());
    if (!messageHook || !callWndHook) EndProcess();
}

void LogView::AppendLine(const wchar_t* text) { AppendLines(&text, 1); }

void LogView::AppendLines(const wchar_t* const* lines, size_t count) {
    if (!logWindow || !streamBuffer || count == 0) return;
    const size_t capacity = static_cast<size_t>(bufferSize) / sizeof(wchar_t);
    const size_t limit = capacity - 1;  // units, leaving room for the NUL
    auto line = [lines](size_t i) { return lines[i] ? lines[i] : L""; };

    SendMessageW(logWindow, WM_SETREDRAW, FALSE, 0);
    PutCaretAtEnd();

    const uint32_t already = static_cast<uint32_t>(lineCount.load(std::memory_order_relaxed));
    const uint32_t limitLines = static_cast<uint32_t>(maxLines);
    // While the pane fills, the block goes in at its end in one insertion;
    // it must keep within the line limit and, with its line breaks, within
    // what the buffer can mirror once the pane rolls.
    size_t blockUnits = 0;
    for (size_t i = 0; i < count; ++i) {
        blockUnits += (already + i > 0 ? 2 : 0) + WholeCharacters(line(i), limit);
    }
    if (already < limitLines && count <= limitLines - already &&
        static_cast<size_t>(paneUnits.load(std::memory_order_relaxed)) + blockUnits <= limit) {
        size_t length = 0;
        for (size_t i = 0; i < count; ++i) {
            if (already + i > 0) {
                streamBuffer[length++] = L'\r';
                streamBuffer[length++] = L'\n';
            }
            const size_t n = WholeCharacters(line(i), limit - length);
            std::wmemcpy(streamBuffer + length, line(i), n);
            length += n;
        }
        streamBuffer[length] = L'\0';
        SendMessageW(logWindow, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(streamBuffer));
        paneUnits.fetch_add(static_cast<int64_t>(length), std::memory_order_relaxed);
        lineCount.fetch_add(static_cast<int32_t>(count), std::memory_order_relaxed);
    } else {
        size_t length = 0;
        size_t first = 0;
        if (already == 0) {
            // An empty pane: the block's first line starts the text.
            length = WholeCharacters(line(0), limit);
            std::wmemcpy(streamBuffer, line(0), length);
            first = 1;
        } else if (already <= limitLines) {
            // The pane rolls for the first time (by lines, or by size for very
            // long lines): take its text into the buffer once; from now on
            // the buffer mirrors the pane.
            streamBuffer[0] = L'\0';
            streamPos = 0;
            streamEnd = 0;
            EDITSTREAM out = {};
            out.dwCookie = static_cast<DWORD_PTR>(limit * sizeof(wchar_t));
            out.pfnCallback = StreamOutToBuffer;
            SendMessageW(logWindow, EM_STREAMOUT, kStreamFormat, reinterpret_cast<LPARAM>(&out));
            length =
                static_cast<size_t>(streamEnd.load(std::memory_order_relaxed)) / sizeof(wchar_t);
        } else {
            length = std::wcslen(streamBuffer);
        }
        streamPos = 0;
        streamBuffer[length] = L'\0';
        lineCount.store(static_cast<int32_t>(limitLines + 1), std::memory_order_relaxed);
        for (size_t i = first; i < count; ++i) {
            length = RotateLogText(streamBuffer, capacity, length, line(i), maxLines);
        }
        EDITSTREAM in = {};
        in.dwCookie = static_cast<DWORD_PTR>(length * sizeof(wchar_t));
        in.pfnCallback = StreamInFromBuffer;
        SendMessageW(logWindow, EM_STREAMIN, kStreamFormat, reinterpret_cast<LPARAM>(&in));
        PutCaretAtEnd();
    }

    SendMessageW(logWindow, EM_SCROLL, SB_LINEDOWN, 0);
    SendMessageW(logWindow, WM_SETREDRAW, TRUE, 0);
    // Painted once, when the pane's thread next has time. The frame too: the
    // scroll bars live there, and the block may have shown one or moved its
    // thumb.
    RedrawWindow(logWindow, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE);
}

void LogView::SetScale(UINT dpi) {
    if (logWindow) ApplyScale(dpi, false);
}

int LogView::TopLine() {
    return logWindow ? static_cast<int>(SendMessageW(logWindow, EM_GETFIRSTVISIBLELINE, 0, 0)) : 0;
}

// By pixels: a scroll by lines may count in another line height than the
// text's.
void LogView::ShowLineAtTop(int line) {
    if (!logWindow) return;
    UpdateWindow(logWindow);  // the lines are laid out anew as they are painted
    POINT scroll = {};
    SendMessageW(logWindow, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    POINTL at = {};
    SendMessageW(logWindow, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at),
                 SendMessageW(logWindow, EM_LINEINDEX, static_cast<WPARAM>(line), 0));
    RECT text = {};
    SendMessageW(logWindow, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
    scroll.y += at.y - text.top;
    SendMessageW(logWindow, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
}

void LogView::Release() {
    if (streamBuffer) VirtualFree(streamBuffer, 0, MEM_RELEASE);
    streamBuffer = nullptr;
    if (logWindow) DestroyWindow(logWindow);
    logWindow = nullptr;
    if (richEditModule) FreeLibrary(richEditModule);
    richEditModule = nullptr;
}

// Takes every chunk the control delivers but keeps only what fits below the
// byte limit in dwCookie (whole UTF-16 units); streamEnd is where the kept
// text ends, whatever length the control would report for itself.
DWORD CALLBACK StreamOutToBuffer(DWORD_PTR cookie, LPBYTE chunk, LONG chunkSize, LONG* written) {
    LogView* view = theLogView;
    char* const bytes = reinterpret_cast<char*>(view->streamBuffer);
    const int64_t limit = static_cast<int64_t>(cookie);
    int64_t pos = view->streamPos.load(std::memory_order_relaxed);
    int64_t room = limit - pos;
    int64_t take = chunkSize > 0 ? std::min<int64_t>(chunkSize, room > 0 ? room : 0) : 0;
    take &= ~int64_t{1};
    if (take > 0) std::memcpy(bytes + pos, chunk, static_cast<size_t>(take));
    pos += take;
    view->streamBuffer[pos / 2] = L'\0';
    view->streamPos.store(static_cast<int32_t>(pos), std::memory_order_relaxed);
    view->streamEnd.store(static_cast<int32_t>(pos), std::memory_order_relaxed);
    *written = chunkSize > 0 ? chunkSize : 0;
    return 0;
}

// Hands out the mirrored text in the control's chunks. Each chunk holds whole
// UTF-16 units; the control keeps them as they come, so a chunk may end
// between the two halves of a surrogate pair.
DWORD CALLBACK StreamInFromBuffer(DWORD_PTR cookie, LPBYTE chunk, LONG chunkSize, LONG* read) {
    LogView* view = theLogView;
    const char* const bytes = reinterpret_cast<const char*>(view->streamBuffer);
    const int32_t length = static_cast<int32_t>(cookie);
    int32_t pos = view->streamPos.load(std::memory_order_relaxed);
    int32_t n = std::min<int32_t>(length - pos, chunkSize) & ~1;
    if (pos >= length || n <= 0) {
        view->streamPos.store(0, std::memory_order_relaxed);
        *read = 0;
        return 0;
    }
    std::memcpy(chunk, bytes + pos, static_cast<size_t>(n));
    *read = n;
    view->streamPos.store(pos + n, std::memory_order_relaxed);
    return 0;
}

LRESULT CALLBACK LogMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && lParam) {
        MSG* message = reinterpret_cast<MSG*>(lParam);
        if (logWindow && message->hwnd == logWindow && IsBlockedLogInput(message->message)) {
            message->message = WM_NULL;
            return 0;
        }
    }
    return CallNextHookEx(messageHook, code, wParam, lParam);
}

LRESULT CALLBACK LogCallWndHook(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(callWndHook, code, wParam, lParam);
}
