#include "port_state.h"

#include <sys/stat.h>

#include <cerrno>

#include "exclusive_open.h"
#include "system_error.h"

namespace portlink {

PortProbe ProbePort(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return {PORTLINK_PORT_ABSENT, err};
        if (err == EACCES) return {PORTLINK_PORT_NO_PERMISSION, err};
        return {PORTLINK_PORT_OTHER, err};
    }
    if (!S_ISCHR(st.st_mode)) return {PORTLINK_PORT_NOT_SERIAL, ENOTTY};
    switch (const int err = ProbeExclusive(path.c_str())) {
        case 0:
            return {PORTLINK_PORT_FREE, 0};
        case ENOTTY:
            return {PORTLINK_PORT_NOT_SERIAL, err};
        case EACCES:
        case EPERM:
            return {PORTLINK_PORT_NO_PERMISSION, err};
        case EBUSY:
            return {PORTLINK_PORT_IN_USE, err};
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return {PORTLINK_PORT_ABSENT, err};
        default:
            return {PORTLINK_PORT_OTHER, err};
    }
}

std::string PermissionAdvice() {
    return ": serial devices belong to the group dialout; add yourself with 'sudo usermod -aG "
           "dialout $USER' and log in again";
}

std::string ProbeErrorText(int error) {
    return ErrorText(error);
}

}  // namespace portlink
