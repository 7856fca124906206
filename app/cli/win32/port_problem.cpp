#include "port_problem.h"

#include <windows.h>

#include "text_utf16.h"

std::string PortOpenProblem(const std::string &path) {
    // The open is only a probe; it is closed at once.
    HANDLE h = CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        const bool serial = GetCommState(h, &dcb) != 0;
        CloseHandle(h);
        return serial ? "in use by another program, or it went away" : "not a serial device";
    }
    const DWORD error = GetLastError();
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "no such device";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return "in use by another program";
        default: {
            wchar_t *text = nullptr;
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
            std::string message = text ? Utf16ToUtf8(text) : "error " + std::to_string(error);
            if (text) LocalFree(text);
            while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                        message.back() == ' ' || message.back() == '.'))
                message.pop_back();
            return message;
        }
    }
}
