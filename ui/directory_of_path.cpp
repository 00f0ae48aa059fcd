#include "ui/directory_of_path.h"

#include <cwchar>

void DirectoryOfPath(wchar_t* destination, const wchar_t* source) {
    // In UTF-16 no unit of another character equals the backslash.
    const wchar_t* last = std::wcsrchr(source, L'\\');
    const size_t keep = last ? static_cast<size_t>(last - source) + 1 : 0;
    std::wmemmove(destination, source, keep);
    destination[keep] = L'\0';
}
