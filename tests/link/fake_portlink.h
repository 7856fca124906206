// A recording stand-in for portlink: every call is kept as text, in order, and
// readcom hands out scripted chunks. Used through FakePortlinkApi() in place of
// the real library's function table.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "portlink_api.h"

struct FakePortlink {
    std::vector<std::string> calls;  // e.g. "setcom(3,3,115200)"
    PortlinkWindow *window = nullptr;
    int32_t opencomResult = 0;
    int32_t writecomResult = 0;
    std::vector<uint8_t> written;             // bytes of the last writecom
    std::function<void()> onWrite;            // runs inside writecom
    std::deque<std::vector<uint8_t>> chunks;  // what successive readcoms deliver
    int32_t reportedCountOverride = -1;       // >= 0: readcom reports this count

    // Clears the record and the script.
    void Reset();
    // The calls after the first `from` ones.
    std::vector<std::string> CallsFrom(size_t from) const;
};

FakePortlink &Fake();
const PortlinkApi &FakePortlinkApi();
