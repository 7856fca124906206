// The system's socket headers, for the socket layer's own files only.
#pragma once

// winsock2.h before windows.h, or the old Winsock 1 header comes in with it.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on
