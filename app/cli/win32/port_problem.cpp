#include "port_problem.h"

#include <windows.h>

#include "exclusive_open.h"
#include "system_error.h"

std::string PortOpenProblem(const std::string &path) {
    // The library's own open, closed again at once.
    const HANDLE h = portlink::OpenExclusive(path.c_str());
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
            // A sentence of the message table reads as a phrase after the port's name.
            std::string message = SystemErrorText(error);
            while (!message.empty() && (message.back() == ' ' || message.back() == '.'))
                message.pop_back();
            return message.empty() ? "error " + std::to_string(error) : message;
        }
    }
}
