// Line settings through the kernel's termios2, which carries any baud rate.
// Kept apart from <termios.h>, whose struct termios clashes with the kernel's.
#pragma once

#include "backend.h"

namespace portlink::posix {

// Both answer 0 or an errno value.
int GetLineState(int fd, LineState &state);
int SetLineState(int fd, const LineState &state);

}  // namespace portlink::posix
