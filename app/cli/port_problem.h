// Why a serial device would not open, in words an operator can act on. The
// port library only says that it failed; the device file tells the rest.
#pragma once

#include <string>

// "no such device", "in use by another program", "no permission ...",
// "not a serial device", or the system's text for another failure.
std::string PortOpenProblem(const std::string &path);
