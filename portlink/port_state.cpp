#include "port_state.h"

namespace portlink {

std::string PortStateText(const PortProbe &probe) {
    switch (probe.state) {
        case PORTLINK_PORT_FREE:
            return "free";
        case PORTLINK_PORT_IN_USE:
            return "in use by another program";
        case PORTLINK_PORT_ABSENT:
            return "no such device";
        case PORTLINK_PORT_NOT_SERIAL:
            return "not a serial device";
        case PORTLINK_PORT_NO_PERMISSION:
            return "no permission" + PermissionAdvice();
        case PORTLINK_PORT_OTHER:
            break;
    }
    return ProbeErrorText(probe.error);
}

}  // namespace portlink
