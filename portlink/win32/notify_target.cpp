#include "notify_target.h"

namespace portlink {

void PostPortNotify(const NotifyTarget &target, uint32_t message, uint32_t wParam, int32_t lParam) {
    // The words as a 32-bit system has them: wParam zero-extended, the port
    // number sign-extended, whatever the width of the pointer.
    if (target != nullptr) PostMessageW(target, message, WPARAM{wParam}, LPARAM{lParam});
}

uint32_t RegisterNotifyMessage(const char *name) {
    // The name is ASCII: widen it byte by byte.
    wchar_t wide[64] = {};
    for (size_t i = 0; name[i] != '\0' && i + 1 < sizeof wide / sizeof wide[0]; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    }
    return RegisterWindowMessageW(wide);
}

}  // namespace portlink
