/*
 * Preloaded into Wine: pty slaves answer the modem-line and interrupt-counter
 * requests as a quiet serial line would. Refused, Wine's WaitCommEvent
 * completes at once and a listener over a pty spins instead of sleeping.
 * A pty that has hung up still refuses them, so that Wine sees the device go.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (real == NULL) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    const int saved = errno;
    const int result = real(fd, request, arg);
    const int modem = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
                      request == TIOCMBIC || request == TIOCGICOUNT;
    struct stat st;
    /* Unix98 pty slaves have majors 136-143. */
    if (result != -1 || !modem || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) ||
        major(st.st_rdev) < 136 || major(st.st_rdev) > 143)
        return result;
    /* A pty whose other end has gone fails them as a removed adapter would. */
    struct pollfd p = {fd, 0, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR))) {
        errno = EIO;
        return -1;
    }
    if (request == TIOCMGET && arg != NULL) *(int *)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    if (request == TIOCGICOUNT && arg != NULL)
        memset(arg, 0, sizeof(struct serial_icounter_struct));
    errno = saved;
    return 0;
}
