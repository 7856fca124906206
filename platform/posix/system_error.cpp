#include "system_error.h"

#include <string.h>

int ErrnoOf(uint32_t code) {
    return static_cast<int>(code);
}

std::string SystemErrorText(uint32_t code) {
    // strerror_r, not strerror: socket workers ask from threads of their own.
    char buffer[256] = {};
    return strerror_r(static_cast<int>(code), buffer, sizeof buffer);
}
