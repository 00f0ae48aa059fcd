// The result file: a header line "N!= " and the digits of N! in three-digit
// groups, twenty groups to a CR LF line, formatted straight from the
// accumulator (which must hold N! and stay still meanwhile).
#pragma once

#include <cstddef>
#include <cstdint>

// The writer's own buffer, for callers that have none to lend it.
constexpr size_t kResultFileBufferBytes = 1 << 16;

// A path as the system's file interface takes it: UTF-16 on Windows, so that
// any name the file system holds can be opened; bytes elsewhere.
#if defined(_WIN32)
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

// Where every byte of the file goes, from N and the accumulator's value.
struct ResultFileLayout {
    char header[32];  // "N!= " CR LF
    uint64_t headerBytes;
    const uint64_t* limbs;  // the accumulator's, least significant first
    uint64_t limbCount;     // of the value
    uint64_t topZeros;      // leading zeros of the top limb at eighteen digits
    uint64_t skipped;       // leading zeros of the top limb that are not spaces
    uint64_t paddedChars;   // digits and leading spaces: three a group
    uint64_t totalBytes;    // the whole file
};

ResultFileLayout LayOutResultFile(uint64_t n);

// Bytes [from, to) of the file into out (to - from bytes), any range of it.
void FormatResultBytes(const ResultFileLayout& layout, char* out, uint64_t from, uint64_t to);

// The same in parts on the work team (engine/work_team.h), when one runs.
void FormatResultSlice(const ResultFileLayout& layout, char* out, uint64_t from, uint64_t to);

// Returns 0 when the whole file was written and closed, 1 otherwise. What was
// written before a failure stays on disk: a start of the right file.
int WriteResultFile(const PathChar* path, uint64_t n);

// The same through the caller's buffer of `size` bytes (at least 1): the file
// goes out in slices of that size, each formatted by FormatResultSlice, then
// written in one call.
int WriteResultFileThrough(const PathChar* path, uint64_t n, char* buffer, size_t size);
