#include "system_error.h"

#include <windows.h>

#include <cerrno>
#include <cwchar>

#include "files.h"
#include "text_utf16.h"

int ErrnoOf(uint32_t code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return kFileInUse;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        default:
            return code <= kSystemErrorLast ? kSystemErrorBase + static_cast<int>(code) : EIO;
    }
}

std::string SystemErrorText(uint32_t code) {
    wchar_t buffer[512];
    DWORD n = 0;
    // The user's language first; a system without it for this text: any language.
    for (const DWORD language : {DWORD{MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)}, DWORD{0}}) {
        n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, language, buffer, ARRAYSIZE(buffer), nullptr);
        if (n != 0) break;
    }
    // Without the line end every entry of the message table carries.
    while (n > 0 && std::wcschr(L"\r\n ", buffer[n - 1]) != nullptr) --n;
    return Utf16ToUtf8(std::wstring(buffer, n));
}
