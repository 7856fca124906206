#include "fake_portlink.h"

#include <algorithm>

namespace {

FakePortlink g;

template <typename... Args>
int32_t Record(int32_t result, const char *name, Args... args) {
    std::string call;
    ((call += "," + std::to_string(args)), ...);
    g.calls.push_back(name + ("(" + call.substr(call.empty() ? 0 : 1)) + ")");
    return result;
}

}  // namespace

FakePortlink &Fake() {
    return g;
}

// The link never calls destroycom, clearbfr or checkbfr.
const PortlinkApi &FakePortlinkApi() {
    static const PortlinkApi api{
        [](PortlinkWindow *w) { return g.window = w, Record(1, "initcom"); },
        nullptr,
        [](int32_t p) { return Record(g.opencomResult, "opencom", p); },
        [](int32_t p, int32_t l, int32_t b) { return Record(0, "setcom", p, l, b); },
        [](int32_t p, int32_t m) { return Record(1, "setmdm", p, m); },
        [](int32_t p, int32_t m) { return Record(1, "flowcom", p, m); },
        [](int32_t p, int32_t f) { return Record(0, "ondata", p, f); },
        [](int32_t p) { return Record(p == 0 ? 2 : 1, "closecom", p); },
        [](int32_t p, const uint8_t *data, int32_t count) {
            g.written.assign(data, data + count);
            if (g.onWrite) g.onWrite();
            return Record(g.writecomResult, "writecom", p, count);
        },
        [](int32_t p, uint8_t *buffer, int32_t *count) {
            if (!g.chunks.empty()) {
                *count =
                    static_cast<int32_t>(std::ranges::copy(g.chunks.front(), buffer).out - buffer);
                g.chunks.pop_front();
            }
            return Record(g.readcomResult, "readcom", p);
        },
        nullptr,
        nullptr,
    };
    return api;
}
