// What a port's device is to a program that wants it, asked one way by every
// program of the product: the port list's "in use", loopctl's account of a
// failed open, the windows' port tooltips. Lives with the device table, since
// the programs reach the shared library only through its twelve functions.
#pragma once

#include <string>

#include "portlink.h"

namespace portlink {

struct PortProbe {
    PortlinkPortState state = PORTLINK_PORT_FREE;
    // The system's error code behind the state (errno or GetLastError); 0 when free.
    int error = 0;
};

// Opens the device as the library would and closes it again at once.
PortProbe ProbePort(const std::string &path);

// The state in words a person can act on: "in use by another program",
// "no such device", "not a serial device", "no permission ..." (with what
// to do about it on this system), or the system's own text.
std::string PortStateText(const PortProbe &probe);

// Each system's part of that: what to do about a missing permission (empty
// where there is no advice), and an error code as a phrase.
std::string PermissionAdvice();
std::string ProbeErrorText(int error);

}  // namespace portlink
