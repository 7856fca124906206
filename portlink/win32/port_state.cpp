#include "port_state.h"

#include <windows.h>

#include "exclusive_open.h"
#include "system_error.h"

namespace portlink {

PortProbe ProbePort(const std::string &path) {
    const HANDLE h = OpenExclusive(path.c_str());
    if (h != INVALID_HANDLE_VALUE) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        const bool serial = GetCommState(h, &dcb) != 0;
        const DWORD error = serial ? 0 : GetLastError();
        CloseHandle(h);
        if (serial) return {PORTLINK_PORT_FREE, 0};
        return {PORTLINK_PORT_NOT_SERIAL, static_cast<int>(error)};
    }
    const DWORD error = GetLastError();
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return {PORTLINK_PORT_ABSENT, static_cast<int>(error)};
        // A COM port held by another program answers access denied (the
        // system's exclusive open), a file shared without write access a
        // sharing violation: both are someone else's.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return {PORTLINK_PORT_IN_USE, static_cast<int>(error)};
        default:
            return {PORTLINK_PORT_OTHER, static_cast<int>(error)};
    }
}

std::string PermissionAdvice() {
    return {};
}

std::string ProbeErrorText(int error) {
    // A sentence of the message table reads as a phrase after the port's name.
    std::string message = SystemErrorText(static_cast<uint32_t>(error));
    while (!message.empty() && (message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace portlink
