#include "port_path.h"

namespace portlink {

std::string PortPath(int32_t n) {
    // The device namespace form opens every port, COM10 and above too, which
    // the plain name "COM10" does not.
    return "\\\\.\\COM" + std::to_string(n);
}

}  // namespace portlink
