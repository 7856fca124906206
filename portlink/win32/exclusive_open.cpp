#include "exclusive_open.h"

#include "text_utf16.h"

namespace portlink {

HANDLE OpenExclusive(const char *path) {
    return CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace portlink
