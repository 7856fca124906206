// A recording stand-in for portlink's function table: every call is kept as
// text in order ("setcom(3,3,115200)"), and readcom hands out scripted chunks.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link_messages.h"
#include "portlink_api.h"

struct FakePortlink {
    std::vector<std::string> calls;
    PortlinkWindow *window = nullptr;
    int32_t opencomResult = 0;
    int32_t readcomResult = 0;                // 999: the port hung up
    int32_t writecomResult = 0;
    std::vector<uint8_t> written;             // bytes of the last writecom
    std::function<void()> onWrite;            // runs inside writecom
    std::deque<std::vector<uint8_t>> chunks;  // one per readcom
};

// Message boxes in the order shown, "caption: text"; a warning has no caption.
struct Boxes : ILinkMessages, std::vector<std::string> {
    void ShowWarning(const std::string &text) override { push_back(text); }
    void ShowError(const std::string &c, const std::string &t) override { push_back(c + ": " + t); }
};

FakePortlink &Fake();  // Fake() = {} starts afresh
const PortlinkApi &FakePortlinkApi();
