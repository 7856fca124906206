#include "device_map.h"

#include <cerrno>

#include "environment.h"
#include "system_error.h"

int MapDevice(const std::string &device, int requestedPort, std::string *error) {
    // portlink reads PORTLINK_COM<n> at every open, so mapping the port here,
    // before the dialog opens it, is all a device file needs.
    const int port = requestedPort == 0 ? 1 : requestedPort;
    if (!SetProcessEnv("PORTLINK_COM" + std::to_string(port), device)) {
        *error = "cannot map the device: " + ErrorText(errno);
        return 0;
    }
    return port;
}
