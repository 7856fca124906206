// What is the system's on Linux: the device of COMn, and the backend over a
// real pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "com_port.h"
#include "port_path.h"

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

// An absent device is the system's "file not found". A device whose far end
// has gone is a hang-up even to a wait that wants nothing else, as the
// listener's is while the host has not read yet: it would spin otherwise. A
// pseudo-terminal's slave tells the hang-up with an error beside it; its
// master, once the slave has closed, with the hang-up alone.
TEST(PosixBackend, AbsentDeviceIsFileNotFoundAndAClosedFarEndAHangUp) {
    CComPort port;
    EXPECT_EQ(port.Open("/dev/portlink-no-such-device", 0, 0, true), 2u);
    EXPECT_EQ(port.LastError(), 2u);

    SerialBackend &backend = SystemBackend();
    PortHandle slaveSide = kNoHandle, masterSide = kNoHandle;
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ASSERT_EQ(backend.Open(name, 0, 0, slaveSide), kOk);
    close(slave), close(master);
    ASSERT_EQ(backend.Open("/dev/ptmx", 0, 0, masterSide), kOk);
    ASSERT_EQ(unlockpt(int(masterSide)), 0);
    close(open(ptsname(int(masterSide)), O_RDWR | O_NOCTTY));
    for (const PortHandle handle : {slaveSide, masterSide}) {
        unsigned ready = 0;
        EXPECT_EQ(backend.Wait(handle, 0, kNoHandle, 5000, ready), kOk);
        EXPECT_EQ(ready, SerialBackend::kHangUp) << (handle == slaveSide ? "slave" : "master");
        backend.Close(handle);
    }
}

// A standard rate keeps its classic code, so that a tool reading the line with
// the classic interface sees the rate the program set; a setting no UART can
// run (one and a half stop bits with more than five data bits) is refused and
// leaves the line as it was.
TEST(PosixBackend, StandardRatesKeepTheirCodeAndImpossibleSettingsAreRefused) {
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    CComPort port;
    ASSERT_EQ(port.Open(name, 0, 0, true), 0u);
    termios t{};
    for (const auto &[rate, code] : {std::pair{230400u, B230400}, std::pair{57600u, B57600}}) {
        EXPECT_EQ(port.Configure(rate, 8, kNoParity, kOneStopBit), 0u) << rate;
        ASSERT_EQ(tcgetattr(slave, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), code) << rate;
    }
    EXPECT_NE(port.Configure(9600, 8, kNoParity, kOne5StopBits), 0u);
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t{B57600});
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(port.Configure(9600, 5, kNoParity, kOne5StopBits), 0u);
    port.Close();
    close(slave), close(master);
}

}  // namespace
}  // namespace portlink::test
