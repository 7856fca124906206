// The link reaches portlink only through this table of its C functions, so a
// test can put a recording fake in the library's place.
#pragma once

#include "portlink.h"

struct PortlinkApi {
    int32_t (*initcom)(PortlinkWindow *window);
    int32_t (*destroycom)(void);
    int32_t (*opencom)(int32_t port);
    int32_t (*setcom)(int32_t port, int32_t lineControl, int32_t baudRate);
    int32_t (*setmdm)(int32_t port, int32_t mode);
    int32_t (*flowcom)(int32_t port, int32_t mode);
    int32_t (*ondata)(int32_t port, int32_t flag);
    int32_t (*closecom)(int32_t port);
    int32_t (*writecom)(int32_t port, const uint8_t *data, int32_t count);
    int32_t (*readcom)(int32_t port, uint8_t *buffer, int32_t *count);
    int32_t (*clearbfr)(int32_t port, int32_t selector);
    int32_t(PORTLINK_STDCALL *checkbfr)(int32_t port, int32_t unused1, int32_t unused2);
};

// The real library.
const PortlinkApi &RealPortlink();
