#include "job/result_file.h"

#include <charconv>
#include <cstring>

#include "engine/accumulator_memory.h"
#include "engine/limb_groups.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr int kGroupsPerLine = 20;
const char kLineEnd[] = "\r\n";

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

// The file's bytes gather in a buffer and go out a whole buffer at a time;
// a call that fails or stores less ends the file at once.
class BufferedFile {
public:
    BufferedFile(FileHandle file, char* buffer, size_t size)
        : file_(file), buffer_(buffer), size_(size) {}

    bool Put(const char* bytes, size_t length) {
        while (length > 0) {
            const size_t take = length < size_ - used_ ? length : size_ - used_;
            std::memcpy(buffer_ + used_, bytes, take);
            used_ += take;
            bytes += take;
            length -= take;
            if (used_ == size_ && !Flush()) return false;
        }
        return true;
    }

    bool Flush() {
        const size_t length = used_;
        used_ = 0;
        return length == 0 || WritePiece(file_, buffer_, length);
    }

private:
    FileHandle file_;
    char* buffer_;
    size_t size_;
    size_t used_ = 0;
};

// A group of three digits, zero-filled; the leading group of the number is
// right-aligned with spaces instead, which pads the digit count to a
// multiple of three.
bool PutGroup(BufferedFile& out, uint64_t group, bool leading) {
    char text[3] = {static_cast<char>('0' + group / 100), static_cast<char>('0' + group / 10 % 10),
                    static_cast<char>('0' + group % 10)};
    if (leading && group < 100) text[0] = ' ';
    if (leading && group < 10) text[1] = ' ';
    return out.Put(text, 3);
}

bool WriteBody(BufferedFile& out, uint64_t n) {
    // "N!= " and the line end.
    char header[32];
    char* end = std::to_chars(header, header + 20, n).ptr;
    std::memcpy(end, "!= ", 3);
    std::memcpy(end + 3, kLineEnd, 2);
    if (!out.Put(header, static_cast<size_t>(end + 5 - header))) return false;

    LimbGroups groups;
    const uint64_t limbCount = AccLimbCount();
    groups.value = AccLimb(limbCount - 1);
    SplitLimb(&groups);
    if (!PutGroup(out, groups.groups[groups.topGroup], true)) return false;
    int onLine = 1;
    for (uint64_t k = groups.topGroup; k-- > 0;) {
        if (!PutGroup(out, groups.groups[k], false)) return false;
        ++onLine;
    }
    // At most six groups came from the top limb, so the first line is not full yet.
    for (uint64_t i = limbCount - 1; i-- > 0;) {
        groups.value = AccLimb(i);
        SplitLimb(&groups);
        for (int k = 5; k >= 0; --k) {
            if (!PutGroup(out, groups.groups[k], false)) return false;
            if (++onLine == kGroupsPerLine) {
                if (!out.Put(kLineEnd, 2)) return false;
                onLine = 0;
            }
        }
    }
    if (onLine != 0 && !out.Put(kLineEnd, 2)) return false;
    return out.Flush();
}

// The writer's own buffer: one job writes at a time.
char fileBuffer[kResultFileBufferBytes];

}  // namespace

int WriteResultFile(const PathChar* path, uint64_t n) {
    return WriteResultFileThrough(path, n, fileBuffer, sizeof fileBuffer);
}

int WriteResultFileThrough(const PathChar* path, uint64_t n, char* buffer, size_t size) {
    const FileHandle file = OpenForWriting(path);
    if (!IsOpen(file)) return 1;
    BufferedFile out(file, buffer, size);
    const bool written = WriteBody(out, n);
    // Closing can be where a delayed write fails; such a file is not finished.
    const bool closed = CloseFile(file);
    return written && closed ? 0 : 1;
}
