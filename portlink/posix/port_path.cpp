#include "port_path.h"

#include <cstdlib>

namespace portlink {

std::string PortPath(int32_t n) {
    const std::string variable = "PORTLINK_COM" + std::to_string(n);
    const char *value = std::getenv(variable.c_str());
    if (value != nullptr && *value != '\0') return value;
    if (n >= 11 && n <= 20) return "/dev/ttyUSB" + std::to_string(n - 11);
    if (n >= 21 && n <= 30) return "/dev/ttyACM" + std::to_string(n - 21);
    return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace portlink
