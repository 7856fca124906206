// The port list read from a sysfs tree of the test's own: a USB adapter with
// its ids and stable name, held by another program, an empty UART slot, a port moved by the
// environment, and paths that are no terminal.
#include "port_list.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

TEST(PortList, ReadsUsbAdaptersAndSkipsEmptySlotsAndWhatIsNoTerminal) {
    const fs::path root = fs::temp_directory_path() / ("loopset-sysfs-" + std::to_string(getpid()));
    const fs::path sys = root / "sys", dev = root / "dev";
    // Two terminals: a USB adapter and a UART slot with no hardware behind it.
    int master[2], slave[2];
    char name[2][64];
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(openpty(&master[i], &slave[i], name[i], nullptr, nullptr), 0);
    const std::string usbTty = fs::path(name[0]).filename(), uartTty = fs::path(name[1]).filename();
    const fs::path usb = sys / "devices/pci0000:00/usb1/1-2", tty = usb / "1-2:1.0" / usbTty;
    const fs::path uart = sys / "devices/platform/serial8250/tty" / uartTty;
    fs::create_directories(tty);
    fs::create_directories(uart);
    fs::create_directories(sys / "class/tty");
    fs::create_directories(dev / "serial/by-id");
    const char *ids[][2] = {{"idVendor", "0403"},
                            {"idProduct", "6001"},
                            {"manufacturer", "FTDI"},
                            {"product", "FT232R USB UART"},
                            {"serial", "A1B2C3"}};
    for (const auto &[file, text] : ids) std::ofstream(usb / file) << text << "\n";
    fs::create_directory_symlink(tty, sys / "class/tty" / usbTty);
    fs::create_directory_symlink(tty.parent_path(), tty / "device");
    fs::create_directory_symlink(uart, sys / "class/tty" / uartTty);
    std::ofstream(uart / "type") << "0\n";  // no UART behind it
    fs::create_symlink(name[0], dev / "ttyUSB0");
    fs::create_symlink(name[1], dev / "ttyS3");
    fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");
    ASSERT_EQ(mkfifo((dev / "fifo").c_str(), 0600), 0);
    std::ofstream(dev / "file") << "";
    ASSERT_EQ(flock(slave[0], LOCK_EX | LOCK_NB), 0);  // another program holds the adapter

    // COM30 is the selector's last; 42 and 255 are beyond it, named by the
    // environment, and 256 beyond what a port number can be; 5 to 9 are no
    // terminals.
    const std::map<int, std::string> named = {
        {11, dev / "ttyUSB0"}, {4, dev / "ttyS3"},       {30, dev / "ttyUSB0"},
        {42, dev / "ttyUSB0"}, {255, dev / "ttyUSB0"},   {256, dev / "ttyUSB0"},
        {5, dev},              {6, dev / "fifo"},        {7, dev / "file"},
        {8, "/dev/null"},      {9, "/dev/zero"}};
    for (const auto &[n, path] : named)
        setenv(("PORTLINK_COM" + std::to_string(n)).c_str(), path.c_str(), 1);
    const std::vector<PortInfo> ports = ListPorts({sys.string(), dev.string()});
    for (const auto &[n, path] : named) unsetenv(("PORTLINK_COM" + std::to_string(n)).c_str());

    std::vector<int> numbers;
    for (const PortInfo &p : ports)
        if (named.count(p.port)) numbers.push_back(p.port);
    EXPECT_EQ(numbers, (std::vector<int>{11, 30, 42, 255}));
    const auto com11 =
        std::find_if(ports.begin(), ports.end(), [](auto &p) { return p.port == 11; });
    ASSERT_NE(com11, ports.end());
    EXPECT_EQ(com11->byId, (dev / "serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0").string());
    EXPECT_TRUE(com11->inUse);
    EXPECT_EQ(DescribePort(*com11), "COM11 " + (dev / "ttyUSB0").string() +
                                        " FTDI FT232R USB UART (0403:6001, serial A1B2C3) " +
                                        com11->byId + ", in use");
    for (int i = 0; i < 2; ++i) close(master[i]), close(slave[i]);
    fs::remove_all(root);
}
