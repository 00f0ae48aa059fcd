#include "job/result_file.h"

#include <charconv>
#include <cstring>

#include "engine/accumulator_memory.h"
#include "engine/limb_groups.h"
#include "engine/work_team.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr uint64_t kLineChars = 60;  // twenty groups of three
constexpr uint64_t kLineBytes = kLineChars + 2;
constexpr uint64_t kLimbDigits = 18;

#if defined(_WIN32)

using FileHandle = HANDLE;

FileHandle OpenForWriting(const PathChar* path) {
    // No sharing while it is written; an existing file is cut to nothing.
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
}
bool IsOpen(FileHandle file) { return file != INVALID_HANDLE_VALUE; }
bool CloseFile(FileHandle file) { return CloseHandle(file) != 0; }

// A call that succeeds but stores fewer bytes than asked is a failure too:
// the file would be short without anyone noticing.
bool WritePiece(FileHandle file, const char* piece, size_t length) {
    DWORD written = 0;
    return WriteFile(file, piece, static_cast<DWORD>(length), &written, nullptr) &&
           written == length;
}

#else  // POSIX stand-in for the same calls.

using FileHandle = int;

FileHandle OpenForWriting(const PathChar* path) {
    return open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}
bool IsOpen(FileHandle file) { return file >= 0; }
bool CloseFile(FileHandle file) { return close(file) == 0; }

bool WritePiece(FileHandle file, const char* piece, size_t length) {
    return write(file, piece, length) == static_cast<ssize_t>(length);
}

#endif

// "00" to "99".
struct DigitPairs {
    char text[200];
    constexpr DigitPairs() : text() {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr DigitPairs kPairs;

// Nine digits of v < 10^9, zeros kept.
void PutNine(uint32_t v, char* out) {
    out[0] = static_cast<char>('0' + v / 100000000);
    const uint32_t low = v % 100000000;
    const uint32_t high4 = low / 10000, low4 = low % 10000;
    std::memcpy(out + 1, kPairs.text + 2 * (high4 / 100), 2);
    std::memcpy(out + 3, kPairs.text + 2 * (high4 % 100), 2);
    std::memcpy(out + 5, kPairs.text + 2 * (low4 / 100), 2);
    std::memcpy(out + 7, kPairs.text + 2 * (low4 % 100), 2);
}

// The eighteen digits of a limb, zeros kept.
void PutLimb(uint64_t limb, char* out) {
    PutNine(static_cast<uint32_t>(limb / 1000000000), out);
    PutNine(static_cast<uint32_t>(limb % 1000000000), out + 9);
}

// count characters of the number written with every limb at eighteen
// digits, from index at on (0 is the top limb's first); the top limb's
// leading zeros are spaces. The layout keeps only the ones that pad the
// digits to whole groups. Reads limbs[0 .. limbCount) of the layout.
void PutDigits(const ResultFileLayout& layout, char* out, uint64_t at, uint64_t count) {
    const uint64_t* const limbs = layout.limbs;
    while (count > 0) {
        const uint64_t limb = layout.limbCount - 1 - at / kLimbDigits;
        const uint64_t within = at % kLimbDigits;
        const uint64_t take = count < kLimbDigits - within ? count : kLimbDigits - within;
        if (take == kLimbDigits && limb + 1 < layout.limbCount) {
            PutLimb(limbs[limb], out);
        } else {
            char digits[kLimbDigits];
            PutLimb(limbs[limb], digits);
            if (limb + 1 == layout.limbCount) std::memset(digits, ' ', layout.topZeros);
            std::memcpy(out, digits + within, take);
        }
        out += take;
        at += take;
        count -= take;
    }
}

struct Slice {
    const ResultFileLayout* layout;
    char* out;
    uint64_t from, to;
    unsigned parts;
};

void FormatPart(void* context, unsigned part) {
    const Slice& slice = *static_cast<const Slice*>(context);
    const uint64_t length = slice.to - slice.from;
    const uint64_t begin = length * part / slice.parts, end = length * (part + 1) / slice.parts;
    FormatResultBytes(*slice.layout, slice.out + begin, slice.from + begin, slice.from + end);
}

// Parts of at least this many bytes, a few a thread so that a late helper
// costs little.
constexpr uint64_t kPartBytes = 1 << 16;
constexpr unsigned kPartsPerThread = 4;

// The writer's own buffer: one job writes at a time.
char fileBuffer[kResultFileBufferBytes];

}  // namespace

ResultFileLayout LayOutResultFile(uint64_t n) {
    ResultFileLayout layout{};
    char* end = std::to_chars(layout.header, layout.header + 20, n).ptr;
    std::memcpy(end, "!= \r\n", 5);
    layout.headerBytes = static_cast<uint64_t>(end + 5 - layout.header);
    layout.limbs = AccBase();
    layout.limbCount = AccLimbCount();
    layout.topZeros = kLimbDigits - DigitsOfLimb(AccLimb(layout.limbCount - 1));
    const uint64_t digits = CountResultDigits();
    layout.paddedChars = (digits + 2) / 3 * 3;
    layout.skipped = kLimbDigits * layout.limbCount - layout.paddedChars;
    const uint64_t fullLines = layout.paddedChars / kLineChars;
    const uint64_t lastChars = layout.paddedChars % kLineChars;
    layout.totalBytes =
        layout.headerBytes + fullLines * kLineBytes + (lastChars > 0 ? lastChars + 2 : 0);
    return layout;
}

void FormatResultBytes(const ResultFileLayout& layout, char* out, uint64_t from, uint64_t to) {
    for (; from < to && from < layout.headerBytes; ++from) *out++ = layout.header[from];
    if (from >= to) return;
    // Within the lines: line, column, and the characters the line holds
    // before its CR LF (60, or fewer on the last line).
    uint64_t at = from - layout.headerBytes;
    const uint64_t end = to - layout.headerBytes;
    uint64_t line = at / kLineBytes, column = at % kLineBytes;
    while (at < end) {
        const uint64_t lineStart = line * kLineChars;
        const uint64_t chars = layout.paddedChars - lineStart < kLineChars
                                   ? layout.paddedChars - lineStart
                                   : kLineChars;
        if (column < chars) {
            const uint64_t take = chars - column < end - at ? chars - column : end - at;
            PutDigits(layout, out, layout.skipped + lineStart + column, take);
            out += take;
            at += take;
            column += take;
        }
        if (at < end && column == chars) {
            *out++ = '\r';
            ++at;
            ++column;
        }
        if (at < end && column == chars + 1) {
            *out++ = '\n';
            ++at;
            ++line;
            column = 0;
        }
    }
}

void FormatResultSlice(const ResultFileLayout& layout, char* out, uint64_t from, uint64_t to) {
    const uint64_t most = TeamSize() * kPartsPerThread;
    uint64_t parts = (to - from) / kPartBytes;
    parts = parts < 1 ? 1 : parts > most ? most : parts;
    Slice slice{&layout, out, from, to, static_cast<unsigned>(parts)};
    if (parts == 1) {
        FormatPart(&slice, 0);
    } else {
        TeamRun(slice.parts, FormatPart, &slice);
    }
}

int WriteResultFile(const PathChar* path, uint64_t n) {
    return WriteResultFileThrough(path, n, fileBuffer, sizeof fileBuffer);
}

int WriteResultFileThrough(const PathChar* path, uint64_t n, char* buffer, size_t size) {
    const FileHandle file = OpenForWriting(path);
    if (!IsOpen(file)) return 1;
    const ResultFileLayout layout = LayOutResultFile(n);
    bool written = true;
    for (uint64_t from = 0; written && from < layout.totalBytes; from += size) {
        const uint64_t to = layout.totalBytes - from < size ? layout.totalBytes : from + size;
        FormatResultSlice(layout, buffer, from, to);
        written = WritePiece(file, buffer, static_cast<size_t>(to - from));
    }
    // Closing can be where a delayed write fails; such a file is not finished.
    const bool closed = CloseFile(file);
    return written && closed ? 0 : 1;
}
