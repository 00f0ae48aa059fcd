#include "ui/directory_of_path.h"

#include <cstring>

namespace {

// CP932 lead bytes: the byte after one belongs to the same character, and can
// be 0x5C (the trail byte of characters such as ソ and 表).
bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

}  // namespace

void DirectoryOfPath(char* destination, const char* source) {
    size_t keep = 0;
    size_t i = 0;
    while (source[i] != '\0') {
        unsigned char c = static_cast<unsigned char>(source[i]);
        if (IsLeadByte(c) && source[i + 1] != '\0') {
            i += 2;
            continue;
        }
        if (c == '\\') keep = i + 1;
        ++i;
    }
    std::memmove(destination, source, keep);
    destination[keep] = '\0';
}
