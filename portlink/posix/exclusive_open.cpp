#include "exclusive_open.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace portlink {

int OpenExclusive(const char *path) {
    // Non-blocking, so that no modem line holds the open; never our terminal.
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -errno;
    // A terminal first: a locked pipe or /dev/null is still no port.
    int err = 0;
    if (!isatty(fd))
        err = ENOTTY;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        err = errno == EWOULDBLOCK ? EBUSY : errno;
    else if (int exclusive = 0; ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        err = EBUSY;
    if (err == 0) return fd;
    close(fd);
    return -err;
}

int ProbeExclusive(const char *path) {
    const int fd = OpenExclusive(path);
    if (fd < 0) return -fd;
    close(fd);
    return 0;
}

}  // namespace portlink
