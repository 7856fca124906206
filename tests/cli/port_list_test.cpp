// The port list read from a sysfs tree of the test's own: a USB adapter with
// its ids and stable name, an empty UART slot, a port moved by the environment.
#include "port_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(PortList, ReadsUsbAdaptersAndSkipsEmptySlots) {
    const fs::path root = fs::temp_directory_path() / ("loopset-sysfs-" + std::to_string(getpid()));
    const fs::path sys = root / "sys", dev = root / "dev";
    const fs::path usb = sys / "devices/pci0000:00/usb1/1-2", tty = usb / "1-2:1.0/ttyUSB0";
    fs::create_directories(tty);
    fs::create_directories(sys / "class/tty");
    fs::create_directories(sys / "devices/platform/serial8250/tty/ttyS3");
    fs::create_directories(dev / "serial/by-id");
    for (const auto &[file, text] : std::initializer_list<std::pair<const char *, const char *>>{
             {"idVendor", "0403\n"}, {"idProduct", "6001\n"}, {"manufacturer", "FTDI\n"},
             {"product", "FT232R USB UART\n"}, {"serial", "A1B2C3\n"}})
        std::ofstream(usb / file) << text;
    fs::create_directory_symlink(tty, sys / "class/tty/ttyUSB0");
    fs::create_directory_symlink(tty.parent_path(), tty / "device");
    fs::create_directory_symlink(sys / "devices/platform/serial8250/tty/ttyS3",
                                 sys / "class/tty/ttyS3");
    std::ofstream(sys / "class/tty/ttyS3/type") << "0\n";  // no UART behind it
    std::ofstream(dev / "ttyUSB0") << "";
    std::ofstream(dev / "ttyS3") << "";
    fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");

    setenv("PORTLINK_COM11", (dev / "ttyUSB0").c_str(), 1);
    setenv("PORTLINK_COM4", (dev / "ttyS3").c_str(), 1);
    setenv("PORTLINK_COM42", (dev / "ttyUSB0").c_str(), 1);  // beyond 30, named by the environment
    const std::vector<PortInfo> ports = ListPorts({sys.string(), dev.string()});
    unsetenv("PORTLINK_COM11");
    unsetenv("PORTLINK_COM4");
    unsetenv("PORTLINK_COM42");

    std::vector<int> numbers;
    for (const PortInfo &p : ports)
        if (p.path.rfind(root.string(), 0) == 0) numbers.push_back(p.port);
    EXPECT_EQ(numbers, (std::vector<int>{11, 42}));
    const auto com11 = std::find_if(ports.begin(), ports.end(), [](auto &p) { return p.port == 11; });
    ASSERT_NE(com11, ports.end());
    EXPECT_EQ(com11->vendorId, "0403");
    EXPECT_EQ(com11->productId, "6001");
    EXPECT_EQ(com11->manufacturer, "FTDI");
    EXPECT_EQ(com11->product, "FT232R USB UART");
    EXPECT_EQ(com11->serial, "A1B2C3");
    EXPECT_EQ(com11->byId, (dev / "serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0").string());
    EXPECT_FALSE(com11->inUse);
    EXPECT_EQ(DescribePort(*com11), "COM11 " + (dev / "ttyUSB0").string() +
                                        " FTDI FT232R USB UART (0403:6001, serial A1B2C3) " +
                                        com11->byId);
    fs::remove_all(root);
}
