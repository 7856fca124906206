#include "port_problem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string PortOpenProblem(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "no such device";
        return std::strerror(errno);
    }
    if (!S_ISCHR(st.st_mode)) return "not a serial device";
    // The open is only a probe: O_NONBLOCK so that no modem line holds it,
    // O_NOCTTY so that it never becomes our terminal.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            return "no permission: serial devices belong to the group dialout; add yourself "
                   "with 'sudo usermod -aG dialout $USER' and log in again";
        if (errno == EBUSY) return "in use by another program";
        if (errno == ENXIO || errno == ENODEV) return "no such device";
        return std::strerror(errno);
    }
    std::string problem;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        problem = "not a serial device";
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        problem = "in use by another program";
    else
        problem = "in use by another program, or it went away";
    close(fd);
    return problem;
}
