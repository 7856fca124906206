// Which device COMn is on this system. Its own small library, so that every
// program of the product that names a port's device names the same one.
#pragma once

#include <cstdint>
#include <string>

namespace portlink {

// On Linux: the value of PORTLINK_COM<n> when it is set and not empty (looked
// up on every call, so a host or a test can move a port between opens);
// otherwise 1-10 are /dev/ttyS0-9, 11-20 /dev/ttyUSB0-9, 21-30
// /dev/ttyACM0-9, and numbers above 30 continue /dev/ttyS<n-1>. An empty
// PORTLINK_COM<n> counts as unset: an empty path could never be opened, so
// it can only be a variable cleared rather than removed. n must be >= 1.
std::string PortPath(int32_t n);

}  // namespace portlink
