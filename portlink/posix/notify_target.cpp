#include "notify_target.h"

namespace portlink {

void PostPortNotify(const NotifyTarget &target, uint32_t message, uint32_t wParam, int32_t lParam) {
    if (target.post != nullptr) target.post(target.context, message, wParam, lParam);
}

uint32_t RegisterNotifyMessage(const char *name) {
    // In the range that registered window messages use (0xC000-0xFFFF).
    uint32_t hash = 2166136261u;
    for (const char *p = name; *p; ++p) hash = (hash ^ static_cast<uint8_t>(*p)) * 16777619u;
    return 0xC000u | (hash & 0x3FFFu);
}

}  // namespace portlink
