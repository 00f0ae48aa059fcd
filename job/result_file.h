// The result file: a header line "N!= " and the digits of N! in three-digit
// groups, twenty groups to a CR LF line, written straight from the
// accumulator (which must hold N! and stay still meanwhile).
#pragma once

#include <cstddef>
#include <cstdint>

// The file goes out in pieces of this size, formatted in a buffer of the
// writer's own.
constexpr size_t kResultFileBufferBytes = 1 << 16;

// A path as the system's file interface takes it: UTF-16 on Windows, so that
// any name the file system holds can be opened; bytes elsewhere.
#if defined(_WIN32)
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

// Returns 0 when the whole file was written and closed, 1 otherwise. What was
// written before a failure stays on disk: a start of the right file.
int WriteResultFile(const PathChar* path, uint64_t n);

// The same through the caller's buffer of `size` bytes (at least 1).
int WriteResultFileThrough(const PathChar* path, uint64_t n, char* buffer, size_t size);
