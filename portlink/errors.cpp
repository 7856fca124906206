#include "errors.h"

#include "codes.h"

namespace portlink {

uint32_t CodeFromThreadError(const std::system_error &error) {
    // std::thread reports what the system's thread creation said, in the
    // portable error conditions; these are the ones it can say.
    const std::error_code &code = error.code();
    if (code == std::errc::resource_unavailable_try_again || code == std::errc::not_enough_memory) {
        return kErrNotEnoughMemory;
    }
    if (code == std::errc::operation_not_permitted || code == std::errc::permission_denied) {
        return kErrAccessDenied;
    }
    if (code == std::errc::invalid_argument) return kErrInvalidParameter;
    return kErrGenFailure;
}

}  // namespace portlink
