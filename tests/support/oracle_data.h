// Reading the native oracle's reference data (tools/oracle) in the Windows
// test programs. The folder comes as --oracle=DIR on the command line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

struct FactorialFingerprint {
    uint64_t limbCount = 0;
    uint64_t topLimb = 0;
    uint64_t hash = 0;
};

// Set from --oracle=DIR by OracleDirFromArgs (called from main or a test).
inline std::string& OracleDir() {
    static std::string dir;
    return dir;
}

inline void OracleDirFromArgs(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--oracle=", 9) == 0) OracleDir() = argv[i] + 9;
    }
}

inline std::map<unsigned, FactorialFingerprint> ReadFactorialFingerprints() {
    std::map<unsigned, FactorialFingerprint> table;
    std::ifstream in(OracleDir() + "/factorial_limbs.txt");
    unsigned n;
    FactorialFingerprint f;
    while (in >> n >> f.limbCount >> f.topLimb >> f.hash) table[n] = f;
    return table;
}

inline std::string ReadOracleDigits(unsigned long n) {
    std::ifstream in(OracleDir() + "/digits_" + std::to_string(n) + ".txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
