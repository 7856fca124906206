// The one translation from the C library's errno values, as the Linux device
// calls set them, to the codes that the port classes keep (codes.h).
#pragma once

#include <cstdint>

namespace portlink {

uint32_t CodeFromErrno(int err);

}  // namespace portlink
