// What the tests of the twelve exports share, over the simulated device and
// over pseudo-terminals: a host window that records what is posted to it, and
// a table left empty with no window after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "portlink.h"
#include "recorder.h"

namespace portlink::test {

using Codes = std::vector<int32_t>;
// The answers of calls that have no effect on each other, in one value.
inline Codes Of(auto... codes) {
    return {codes...};
}

class Exports : public ::testing::Test {
protected:
    void TearDown() override { destroycom(), initcom(nullptr); }
    std::vector<uint8_t> Read(int32_t n) {
        int32_t count = 0;
        EXPECT_EQ(readcom(n, buffer, &count), 0);
        return std::vector<uint8_t>(buffer, buffer + count);
    }
    Recorder recorder;
    PortlinkWindow *window = recorder.Handle();
    uint8_t buffer[10000] = {};
};

}  // namespace portlink::test
