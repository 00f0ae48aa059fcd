// The result file: a header line "N!= " and the digits of N! in three-digit
// groups, twenty groups to a CR LF line, written straight from the
// accumulator (which must hold N! and stay still meanwhile).
#pragma once

#include <cstdint>

// Returns 0 when the whole file was written and closed, 1 otherwise. What was
// written before a failure stays on disk.
int WriteResultFile(const char* path, uint64_t n);
