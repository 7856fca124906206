#include "fake_portlink.h"

#include <cstring>

namespace {

FakePortlink g_fake;

std::string Call(const char *name, std::initializer_list<int32_t> args) {
    std::string s = std::string(name) + "(";
    bool first = true;
    for (int32_t a : args) {
        if (!first) s += ",";
        s += std::to_string(a);
        first = false;
    }
    return s + ")";
}

int32_t Initcom(PortlinkWindow *w) {
    g_fake.window = w;
    g_fake.calls.push_back("initcom");
    return 1;
}
int32_t Destroycom() {
    g_fake.calls.push_back("destroycom");
    return 1;
}
int32_t Opencom(int32_t p) {
    g_fake.calls.push_back(Call("opencom", {p}));
    return g_fake.opencomResult;
}
int32_t Setcom(int32_t p, int32_t l, int32_t b) {
    g_fake.calls.push_back(Call("setcom", {p, l, b}));
    return 0;
}
int32_t Setmdm(int32_t p, int32_t m) {
    g_fake.calls.push_back(Call("setmdm", {p, m}));
    return 1;
}
int32_t Flowcom(int32_t p, int32_t m) {
    g_fake.calls.push_back(Call("flowcom", {p, m}));
    return 1;
}
int32_t Ondata(int32_t p, int32_t f) {
    g_fake.calls.push_back(Call("ondata", {p, f}));
    return 0;
}
int32_t Closecom(int32_t p) {
    g_fake.calls.push_back(Call("closecom", {p}));
    return p == 0 ? 2 : 1;
}
int32_t Writecom(int32_t p, const uint8_t *data, int32_t count) {
    g_fake.calls.push_back(Call("writecom", {p, count}));
    g_fake.written.assign(data, data + count);
    if (g_fake.onWrite) g_fake.onWrite();
    return g_fake.writecomResult;
}
int32_t Readcom(int32_t p, uint8_t *buffer, int32_t *count) {
    g_fake.calls.push_back(Call("readcom", {p}));
    if (g_fake.chunks.empty()) return 0;
    const std::vector<uint8_t> chunk = std::move(g_fake.chunks.front());
    g_fake.chunks.pop_front();
    std::memcpy(buffer, chunk.data(), chunk.size());
    *count = g_fake.reportedCountOverride >= 0 ? g_fake.reportedCountOverride
                                               : static_cast<int32_t>(chunk.size());
    return 0;
}
int32_t Clearbfr(int32_t p, int32_t s) {
    g_fake.calls.push_back(Call("clearbfr", {p, s}));
    return 1;
}
int32_t Checkbfr(int32_t p, int32_t, int32_t) {
    g_fake.calls.push_back(Call("checkbfr", {p}));
    return 0;
}

}  // namespace

void FakePortlink::Reset() {
    *this = FakePortlink{};
}

std::vector<std::string> FakePortlink::CallsFrom(size_t from) const {
    return {calls.begin() + static_cast<std::ptrdiff_t>(std::min(from, calls.size())), calls.end()};
}

FakePortlink &Fake() {
    return g_fake;
}

const PortlinkApi &FakePortlinkApi() {
    static const PortlinkApi api{Initcom, Destroycom, Opencom,  Setcom,  Setmdm,   Flowcom,
                                 Ondata,  Closecom,   Writecom, Readcom, Clearbfr, Checkbfr};
    return api;
}
