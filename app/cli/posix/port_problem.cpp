#include "port_problem.h"

#include <sys/stat.h>

#include <cerrno>

#include "exclusive_open.h"
#include "system_error.h"

std::string PortOpenProblem(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "no such device";
        return ErrorText(errno);
    }
    if (!S_ISCHR(st.st_mode)) return "not a serial device";
    // The library's own open, closed again at once.
    switch (const int err = portlink::ProbeExclusive(path.c_str())) {
        case 0:
            return "in use by another program, or it went away";
        case ENOTTY:
            return "not a serial device";
        case EACCES:
        case EPERM:
            return "no permission: serial devices belong to the group dialout; add yourself "
                   "with 'sudo usermod -aG dialout $USER' and log in again";
        case EBUSY:
            return "in use by another program";
        case ENXIO:
        case ENODEV:
            return "no such device";
        default:
            return ErrorText(err);
    }
}
