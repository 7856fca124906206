#include "system_error.h"

#include <windows.h>

#include <cwchar>

#include "text_utf16.h"

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
