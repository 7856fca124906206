#include "system_error.h"

#include <cstring>

#include "files.h"

std::string ErrorText(int code) {
    if (code == kNotARegularFile) return "not a regular file";
    return std::strerror(code);
}
