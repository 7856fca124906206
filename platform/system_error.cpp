#include "system_error.h"

#include <cstring>

#include "files.h"

std::string ErrorText(int code) {
    if (code == kNotARegularFile) return "not a regular file";
    if (code == kFileInUse) return "in use by another program";
    if (code >= kSystemErrorBase && code - kSystemErrorBase <= int{kSystemErrorLast}) {
        std::string text = SystemErrorText(static_cast<uint32_t>(code - kSystemErrorBase));
        if (!text.empty()) return text;
    }
    return std::strerror(code);
}
