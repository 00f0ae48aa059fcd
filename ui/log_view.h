// The log pane: a rich edit between the toolbar and the status bar holding the
// last maxLines appended lines, which the user can scroll but not edit or select.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

struct LogView {
    HMODULE richEditModule;
    wchar_t* streamBuffer;  // bufferSize committed bytes of UTF-16 text
    uint64_t bufferSize;    // requested size rounded up to whole pages
    int32_t maxLines;
    // Lines appended so far; stops at maxLines + 1 once the pane rolls.
    std::atomic<int32_t> lineCount;
    // Byte position of the stream callbacks in streamBuffer; 0 between streams.
    std::atomic<int32_t> streamPos;
    // Where the last stream-out ended: the true end of the mirrored text.
    std::atomic<int32_t> streamEnd;
    // UTF-16 units the pane holds while it fills, line breaks as CR LF. The
    // pane starts rolling early when the next line would not fit streamBuffer.
    std::atomic<int64_t> paneUnits;

    // Zeroes the fields, becomes the instance the stream callbacks use, and
    // registers Release for process exit.
    LogView();
    // Creates the pane and commits the stream buffer. 0 when both exist; every
    // failure ends the process.
    int Create(HINSTANCE instance, HWND parent, int x, int y, int width, int height,
               uint64_t requestedBufferSize, int lineLimit);
    // Face, line spacing and margins for a new scale; the text stays.
    void SetScale(UINT dpi);
    // The first line the pane shows, and scrolling a line to the top.
    int TopLine();
    void ShowLineAtTop(int line);
    // Installs the two input hooks for the calling (UI) thread.
    void HookInput();
    // Appends one line (no line breaks; may be empty). Not reentrant: callers
    // serialise it with the job semaphore.
    void AppendLine(const wchar_t* text);
    // Appends count such lines as one update of the pane: one insertion while
    // the pane fills, one stream-in once it rolls, one repaint later. Called
    // on the pane's thread, it sends the control nothing across threads.
    void AppendLines(const wchar_t* const* lines, size_t count);
    void Release();
};

extern LogView logView;
// The pane's window, null until created.
extern HWND logWindow;

LRESULT CALLBACK LogMessageHook(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LogCallWndHook(int code, WPARAM wParam, LPARAM lParam);
DWORD CALLBACK StreamOutToBuffer(DWORD_PTR cookie, LPBYTE chunk, LONG chunkSize, LONG* written);
DWORD CALLBACK StreamInFromBuffer(DWORD_PTR cookie, LPBYTE chunk, LONG chunkSize, LONG* read);

// Whether the hooks turn this message, aimed at the pane, into WM_NULL.
bool IsBlockedLogInput(UINT message);

// Line spacing in twips for a text height in pixels; 0 (keep the control's
// own spacing) when the resolution is unknown.
LONG LineSpacingTwips(LONG textHeight, int pixelsPerInch);

// A size raised to a whole number of pages.
uint64_t WholePages(uint64_t size, uint64_t pageSize);

// The rolling step on the mirrored log text: buffer holds length units and a
// NUL, at least one line. Drops the oldest lines until fewer than maxLines
// remain and the new line fits, then appends it after a CR LF (or alone when
// no line is left). The result and its NUL stay within capacity units; a
// line longer than the buffer is cut on a whole character. Returns the new
// length.
size_t RotateLogText(wchar_t* buffer, size_t capacity, size_t length, const wchar_t* text,
                     int maxLines);
