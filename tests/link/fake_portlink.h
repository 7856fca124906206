// A recording stand-in for portlink's function table: every call is kept as
// text in order ("setcom(3,3,115200)"), and readcom hands out scripted chunks.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "portlink_api.h"

struct FakePortlink {
    std::vector<std::string> calls;
    PortlinkWindow *window = nullptr;
    int32_t opencomResult = 0;
    std::vector<uint8_t> written;             // bytes of the last writecom
    std::function<void()> onWrite;            // runs inside writecom
    std::deque<std::vector<uint8_t>> chunks;  // one per readcom
};

FakePortlink &Fake();  // Fake() = {} starts afresh
const PortlinkApi &FakePortlinkApi();
