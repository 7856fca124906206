// The device of COMn on Linux.
#include "port_path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

namespace portlink::test {
namespace {

// The device of COMn when no variable names one, and a variable left empty.
TEST(PortPath, DefaultTableAndEmptyVariable) {
    const std::pair<int32_t, const char *> table[] = {
        {1, "/dev/ttyS0"},    {10, "/dev/ttyS9"},   {11, "/dev/ttyUSB0"}, {20, "/dev/ttyUSB9"},
        {21, "/dev/ttyACM0"}, {30, "/dev/ttyACM9"}, {31, "/dev/ttyS30"}};
    for (const auto &[n, device] : table) {
        unsetenv(("PORTLINK_COM" + std::to_string(n)).c_str());
        EXPECT_EQ(PortPath(n), device) << n;
    }
    setenv("PORTLINK_COM11", "", 1);
    EXPECT_EQ(PortPath(11), "/dev/ttyUSB0") << "empty counts as unset";
    setenv("PORTLINK_COM11", "/dev/pts/7", 1);
    EXPECT_EQ(PortPath(11), "/dev/pts/7");
    unsetenv("PORTLINK_COM11");
}

}  // namespace
}  // namespace portlink::test
