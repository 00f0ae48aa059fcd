#include "job/result_file.h"

#include <cinttypes>
#include <cstdio>
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

#if defined(_WIN32)
#define QRNL_U64 "I64u"
#else
#define QRNL_U64 PRIu64
#endif

constexpr int kGroupsPerLine = 20;
const char kLineEnd[] = "\r\n";
const char kNoPrefix[] = "";

#if defined(_WIN32)

using FileHandle = HANDLE;

FileHandle OpenForWriting(const char* path) {
    // No sharing while it is written; an existing file is cut to nothing.
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
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

FileHandle OpenForWriting(const char* path) {
    return open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}
bool IsOpen(FileHandle file) { return file >= 0; }
bool CloseFile(FileHandle file) { return close(file) == 0; }

bool WritePiece(FileHandle file, const char* piece, size_t length) {
    return write(file, piece, length) == static_cast<ssize_t>(length);
}

#endif

// One formatted piece of at most 63 characters, written by one call.
class PieceWriter {
public:
    explicit PieceWriter(FileHandle file) : file_(file) {}

    template <typename... Args>
    bool Write(const char* format, Args... args) {
        const int length = std::snprintf(piece_, sizeof(piece_), format, args...);
        if (length < 0 || static_cast<size_t>(length) >= sizeof(piece_)) return false;
        return WritePiece(file_, piece_, static_cast<size_t>(length));
    }

private:
    FileHandle file_;
    char piece_[64];
};

bool WriteBody(FileHandle file, uint64_t n) {
    PieceWriter out(file);
    if (!out.Write("%" QRNL_U64 "!= %s", n, kLineEnd)) return false;

    LimbGroups groups;
    const uint64_t limbCount = AccLimbCount();
    groups.value = AccLimb(limbCount - 1);
    SplitLimb(&groups);
    // The leading group is right-aligned in three places: its spaces pad the
    // digit count to a multiple of three.
    if (!out.Write("%3" QRNL_U64, groups.groups[groups.topGroup])) return false;
    int onLine = 1;
    for (uint64_t k = groups.topGroup; k-- > 0;) {
        if (!out.Write("%s%03" QRNL_U64, kNoPrefix, groups.groups[k])) return false;
        ++onLine;
    }
    // At most six groups came from the top limb, so the first line is not full yet.
    for (uint64_t i = limbCount - 1; i-- > 0;) {
        groups.value = AccLimb(i);
        SplitLimb(&groups);
        for (int k = 5; k >= 0; --k) {
            const char* lineEnd = kNoPrefix;
            if (++onLine == kGroupsPerLine) {
                lineEnd = kLineEnd;
                onLine = 0;
            }
            if (!out.Write("%s%03" QRNL_U64 "%s", kNoPrefix, groups.groups[k], lineEnd)) {
                return false;
            }
        }
    }
    if (onLine != 0 && !out.Write("%s", kLineEnd)) return false;
    return true;
}

}  // namespace

int WriteResultFile(const char* path, uint64_t n) {
    const FileHandle file = OpenForWriting(path);
    if (!IsOpen(file)) return 1;
    const bool written = WriteBody(file, n);
    // Closing can be where a delayed write fails; such a file is not finished.
    const bool closed = CloseFile(file);
    return written && closed ? 0 : 1;
}
