// Which device COMn is on this system.
#pragma once

#include <cstdint>
#include <string>

namespace portlink {

// The value of PORTLINK_COM<n> when it is set (looked up on every call, so a
// host or a test can move a port between opens); otherwise 1-10 are
// /dev/ttyS0-9, 11-20 /dev/ttyUSB0-9, 21-30 /dev/ttyACM0-9, and numbers above
// 30 continue /dev/ttyS<n-1>. n must be >= 1.
std::string PortPath(int32_t n);

}  // namespace portlink
