#include "device_map.h"

#include <cctype>

int MapDevice(const std::string &device, int requestedPort, std::string *error) {
    // COM7 or \\.\COM12: the number is the port; Windows has no other names.
    std::string name = device;
    if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
    int port = 0;
    bool com = name.size() > 3 && (name[0] == 'C' || name[0] == 'c') &&
               (name[1] == 'O' || name[1] == 'o') && (name[2] == 'M' || name[2] == 'm');
    for (size_t i = 3; com && i < name.size(); ++i) {
        com = std::isdigit(static_cast<unsigned char>(name[i])) && port <= 255;
        port = port * 10 + (name[i] - '0');
    }
    if (!com || port < 1 || port > 255) {
        *error = "--device needs a COM port such as COM7 or \\\\.\\COM12, not '" + device + "'";
        return 0;
    }
    if (requestedPort != 0 && requestedPort != port) {
        *error = "--device " + device + " is COM" + std::to_string(port) + ", not --port " +
                 std::to_string(requestedPort);
        return 0;
    }
    return port;
}
