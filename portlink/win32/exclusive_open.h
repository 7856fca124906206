// Whether a serial device is held by someone else, asked one way by every
// program of the product: the library's own open, the port list's "in use",
// loopctl's account of a failed open. Its own small library with the device
// table, since the programs reach the DLL only through its C API.
#pragma once

#include <windows.h>

namespace portlink {

// Opens a port's device (UTF-8 path) for overlapped reads and writes, shared
// with nobody: a device someone else holds fails with ERROR_ACCESS_DENIED.
// INVALID_HANDLE_VALUE with the last error set when it does not open.
HANDLE OpenExclusive(const char *path);

}  // namespace portlink
