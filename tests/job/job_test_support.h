// Helpers shared by the job's tests: the file layout built independently of
// the writer, a scratch folder, and the accumulator set to N!.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/accumulator_memory.h"
#include "engine/decimal_accumulator.h"
#include "engine/size_estimates.h"

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

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A fresh folder for one test program's files, with the separator at its end.
inline std::string ScratchFolder() {
#if defined(_WIN32)
    char base[MAX_PATH];
    GetTempPathA(sizeof(base), base);
    std::string dir = std::string(base) + "qrnl-job-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\";
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
