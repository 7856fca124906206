#include "notify_target.h"

namespace portlink {

void PostPortNotify(const NotifyTarget &target, uint32_t message, uint32_t wParam, int32_t lParam) {
    if (target.post != nullptr) target.post(target.context, message, wParam, lParam);
}

}  // namespace portlink
