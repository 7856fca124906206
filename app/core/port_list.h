// Which COM numbers have a device behind them, and what it is: for
// `loopctl ports` and the window's port selector. On Linux it reads sysfs
// (roots given so that tests can use a tree of their own); on Windows the
// system's device list.
#pragma once

#include <string>
#include <vector>

struct PortInfo {
    int port = 0;
    std::string path;  // the device COMn opens
    bool inUse = false;
    // USB adapters only; empty otherwise.
    std::string vendorId, productId, manufacturer, product, serial;
    std::string byId;  // a stable name of the device, e.g. under /dev/serial/by-id
};

struct PortScanRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

// Ports 1 to 30 and every port a PORTLINK_COM<n> names, in number order,
// those whose device is present.
std::vector<PortInfo> ListPorts(const PortScanRoots &roots = {});

// One line for a person: "COM11 /dev/ttyUSB0 FTDI FT232R (0403:6001, serial A1B2), in use".
std::string DescribePort(const PortInfo &info);
