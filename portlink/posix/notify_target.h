// Where the port notifications go on this system: the host's window struct of
// portlink.h, whose post() the listener calls. (The Windows twin of this
// header makes both types an HWND and posts with PostMessageW.)
#pragma once

#include <cstdint>

#include "portlink.h"

namespace portlink {

// What initcom is given and the table keeps.
using HostWindow = PortlinkWindow *;
// What an open port posts to: a copy of the host's struct taken at open, so
// that the listener never reads memory the host may free once it has closed
// its ports.
using NotifyTarget = PortlinkWindow;

// A window that cannot post is no window.
inline bool CanPost(HostWindow window) {
    return window != nullptr && window->post != nullptr;
}

// The target of a port opened for window (none for a null window).
inline NotifyTarget TargetOf(HostWindow window) {
    return window != nullptr ? *window : NotifyTarget{};
}

// Posts one message; never blocks, and does nothing for a target without a
// post function.
void PostPortNotify(const NotifyTarget &target, uint32_t message, uint32_t wParam, int32_t lParam);

// The number of a named message, the same for the same name in every process.
uint32_t RegisterNotifyMessage(const char *name);

}  // namespace portlink
