// Where the port notifications go on Windows: the host's window, to which the
// listener posts WM_PORT_NOTIFY with PostMessageW.
#pragma once

#include <windows.h>

#include <cstdint>

namespace portlink {

// What initcom is given and the table keeps, and what an open port posts to.
using HostWindow = HWND;
using NotifyTarget = HWND;

inline bool CanPost(HostWindow window) {
    return window != nullptr;
}

inline NotifyTarget TargetOf(HostWindow window) {
    return window;
}

// Posts one message, never sends: the listener must not wait for the
// window's thread, which may be waiting in closecom for the listener.
void PostPortNotify(const NotifyTarget &target, uint32_t message, uint32_t wParam, int32_t lParam);

// The number the system gives this message name, the same in every process.
uint32_t RegisterNotifyMessage(const char *name);

}  // namespace portlink
