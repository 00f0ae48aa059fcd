// Helpers shared by the job's tests: the file layout built independently of
// the writer, files and a scratch folder named by UTF-8 paths, and the
// accumulator set to N!.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/size_estimates.h"
#include "job/result_file.h"

#include "tests/support/oracle_data.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdlib.h>
#endif

// Header, then the digits padded with spaces to whole groups of three, cut
// into lines of sixty characters.
inline std::string ExpectedResultFile(unsigned long n, const std::string& digits) {
    const std::string padded = std::string((3 - digits.size() % 3) % 3, ' ') + digits;
    std::string out = std::to_string(n) + "!= \r\n";
    for (size_t i = 0; i < padded.size(); i += 60) out += padded.substr(i, 60) + "\r\n";
    return out;
}

// A UTF-8 path as the result file writer takes it.
inline std::basic_string<PathChar> SystemPath(const std::string& path) {
    return std::filesystem::u8path(path).native();
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A fresh folder for one test program's files, with the separator at its end.
inline std::string ScratchFolder() {
#if defined(_WIN32)
    // A name of no ANSI code page: é, a Greek letter, one outside the BMP.
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        std::filesystem::u8path("qrnl-job-é-λ-𝄞-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    return dir.u8string() + "\\";
#else
    char pattern[] = "/tmp/qrnl-job-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? std::string(dir) + "/" : std::string("/tmp/");
#endif
}

// Allocates the accumulator as a job would and multiplies it up to n!.
// Returns false when the memory could not be had or a multiply failed.
inline bool ComputeFactorial(unsigned long n) {
    const uint64_t bytes = BytesForDigits(static_cast<uint64_t>(EstimateDigits(n))) + 0x10000;
    if (AccAllocate(bytes) != 0) return false;
    for (uint64_t k = 1; k <= n; ++k) {
        if (AccMultiply(k) != kAccOk) {
            AccRelease();
            return false;
        }
    }
    return true;
}
