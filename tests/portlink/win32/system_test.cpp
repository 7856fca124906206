// The device of COMn on Windows.
#include "port_path.h"

#include <gtest/gtest.h>

namespace portlink::test {
namespace {

// The device namespace form, which also opens ports above COM9.
TEST(PortPath, DeviceNamespaceForEveryNumber) {
    EXPECT_EQ(PortPath(1), "\\\\.\\COM1");
    EXPECT_EQ(PortPath(12), "\\\\.\\COM12");
    EXPECT_EQ(PortPath(255), "\\\\.\\COM255");
}

}  // namespace
}  // namespace portlink::test
