// The twelve exported functions: plain C entry points over the library's one
// application object. Nothing else leaves the library (see the system's
// export list: posix/exports.map, win32/exports*.def).
#include "portlink.h"
#include "portlink_app.h"

namespace {

portlink::CPortlinkApp &App() {
    // Built on first use and destroyed at unload, after every port is closed.
    static portlink::CPortlinkApp app;
    return app;
}

}  // namespace

extern "C" {

PORTLINK_API int32_t initcom(PortlinkWindow *window) {
    return App().InitCom(window);
}
PORTLINK_API int32_t destroycom(void) {
    return App().DestroyCom();
}
PORTLINK_API int32_t opencom(int32_t port) {
    return App().OpenCom(port);
}
PORTLINK_API int32_t setcom(int32_t port, int32_t lineControl, int32_t baudRate) {
    return App().SetCom(port, lineControl, baudRate);
}
PORTLINK_API int32_t setmdm(int32_t port, int32_t mode) {
    return App().SetMdm(port, mode);
}
PORTLINK_API int32_t flowcom(int32_t port, int32_t mode) {
    return App().FlowCom(port, mode);
}
PORTLINK_API int32_t ondata(int32_t port, int32_t flag) {
    return App().OnData(port, flag);
}
PORTLINK_API int32_t closecom(int32_t port) {
    return App().CloseCom(port);
}
PORTLINK_API int32_t writecom(int32_t port, const uint8_t *data, int32_t count) {
    return App().WriteCom(port, data, count);
}
PORTLINK_API int32_t readcom(int32_t port, uint8_t *buffer, int32_t *count) {
    return App().ReadCom(port, buffer, count);
}
PORTLINK_API int32_t clearbfr(int32_t port, int32_t selector) {
    return App().ClearBfr(port, selector);
}
PORTLINK_API_DEF int32_t PORTLINK_STDCALL checkbfr(int32_t port, int32_t unused1, int32_t unused2) {
    return App().CheckBfr(port, unused1, unused2);
}
}
