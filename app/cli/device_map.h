// How loopctl's --device names a port: on Linux any device file, mapped to a
// COM number for this run; on Windows a COM port by its name.
#pragma once

#include <string>

// The COM number the device is used as (requestedPort when not 0), after
// mapping it where the system needs that; 0 and a message when it cannot.
int MapDevice(const std::string &device, int requestedPort, std::string *error);
