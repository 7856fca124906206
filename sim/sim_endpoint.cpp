#include "sim_endpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

int64_t MonotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

namespace {

// minBytes 1 on a device we read ourselves: with 0, an empty non-blocking
// read returns 0 instead of EAGAIN and looks like the end of the line.
bool MakeRaw(int fd, bool device) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = device ? 1 : 0;
    tio.c_cc[VTIME] = 0;
    if (device) cfsetspeed(&tio, B115200);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

bool OpenPseudoTerminal(SimEndpoint &endpoint, char *error, size_t errorSize) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        snprintf(error, errorSize, "posix_openpt: %s", strerror(errno));
        return false;
    }
    const char *name = nullptr;
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || (name = ptsname(fd)) == nullptr) {
        snprintf(error, errorSize, "pseudo-terminal setup: %s", strerror(errno));
        close(fd);
        return false;
    }
    // Termios calls on the master reach the slave's settings, so a client
    // that leaves them alone still sees a raw line.
    if (!MakeRaw(fd, false) || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        snprintf(error, errorSize, "pseudo-terminal raw mode: %s", strerror(errno));
        close(fd);
        return false;
    }
    endpoint.fd = fd;
    endpoint.isPty = true;
    snprintf(endpoint.path, sizeof endpoint.path, "%s", name);
    return true;
}

bool OpenSerialDevice(const char *path, SimEndpoint &endpoint, char *error, size_t errorSize) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        snprintf(error, errorSize, "%s: %s", path, strerror(errno));
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        snprintf(error, errorSize, "%s: in use", path);
        close(fd);
        return false;
    }
    if (!MakeRaw(fd, true)) {
        snprintf(error, errorSize, "%s: not a serial device (%s)", path, strerror(errno));
        close(fd);
        return false;
    }
    endpoint.fd = fd;
    endpoint.isPty = false;
    snprintf(endpoint.path, sizeof endpoint.path, "%s", path);
    return true;
}

void CloseEndpoint(SimEndpoint &endpoint) {
    if (endpoint.fd >= 0) close(endpoint.fd);
    endpoint.fd = -1;
}

int ServeEndpoint(SimEndpoint &endpoint, CSimSession &session, int stopFd, int readerFd,
                  FILE *log) {
    // With no client on the slave, the master reports POLLHUP at once and for
    // as long as nobody opens it; polling it then would spin. Instead wait
    // for the slave's next open, which inotify reports on the device node.
    int watch = -1;
    if (endpoint.isPty) {
        watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch >= 0 && inotify_add_watch(watch, endpoint.path, IN_OPEN) < 0) {
            close(watch);
            watch = -1;
        }
    }
    // Without inotify, look again at the master now and then.
    constexpr int kRecheckMs = 50;

    bool clientGone = false;
    bool blocked = false;
    uint8_t buffer[4096];
    int result = 0;

    for (;;) {
        int64_t now = MonotonicUs();
        session.OnTime(now);
        if (!clientGone) {
            const int written = WriteDuePieces(endpoint.fd, session, now);
            if (written < 0) {
                fprintf(log, "loopsim: write to %s failed: %s\n", endpoint.path, strerror(errno));
                fflush(log);
                if (!endpoint.isPty) {
                    result = 1;
                    break;
                }
                // A pty master that cannot write has lost its client.
                session.Reset();
                clientGone = true;
            }
            blocked = written == 1;
        }

        pollfd fds[4] = {};
        fds[0] = {stopFd, POLLIN, 0};
        fds[3] = {readerFd, 0, 0};  // reports POLLERR once the reader has gone
        fds[1] = {clientGone ? -1 : endpoint.fd,
                  static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
        fds[2] = {clientGone ? watch : -1, POLLIN, 0};

        // A blocked write waits for POLLOUT, not for its due time (long past).
        int timeout = -1;
        const int64_t deadline = session.NextDeadline(!blocked);
        if (deadline >= 0) {
            // Rounded up: waking early would only mean another poll.
            const int64_t wait = (deadline - now + 999) / 1000;
            timeout = wait <= 0 ? 0 : wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
        }
        if (clientGone && watch < 0 && (timeout < 0 || timeout > kRecheckMs)) timeout = kRecheckMs;

        const int ready = poll(fds, 4, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            fprintf(log, "loopsim: poll: %s\n", strerror(errno));
            result = 1;
            break;
        }
        if (fds[0].revents) break;
        if (fds[3].revents) {
            fprintf(log, "loopsim: whoever read the path has gone\n");
            break;
        }

        if (clientGone) {
            if (fds[2].revents & POLLIN) {
                while (read(watch, buffer, sizeof buffer) > 0) {
                }
                clientGone = false;
            } else if (watch < 0 && ready == 0) {
                clientGone = false;
            }
            continue;
        }

        const short revents = fds[1].revents;
        if (revents & POLLNVAL) {
            result = 1;
            break;
        }
        bool hangUp = (revents & (POLLHUP | POLLERR)) != 0;
        if (revents & (POLLIN | POLLHUP | POLLERR)) {
            for (;;) {
                const ssize_t got = read(endpoint.fd, buffer, sizeof buffer);
                if (got > 0) {
                    session.OnBytes(buffer, static_cast<size_t>(got), MonotonicUs());
                    continue;
                }
                if (got < 0 && errno == EINTR) continue;
                // EIO (pty) or end of file: the other side is gone.
                if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) hangUp = true;
                break;
            }
        }
        if (hangUp) {
            if (!endpoint.isPty) {
                fprintf(log, "loopsim: %s hung up\n", endpoint.path);
                result = 1;
                break;
            }
            // Like a device whose cable was pulled: what it had to say is lost.
            if (!session.Outbox().Empty()) {
                fprintf(log, "loopsim: client closed the port; %zu pieces not sent\n",
                        session.Outbox().Size());
                fflush(log);
            }
            session.Reset();
            clientGone = true;
            blocked = false;
        }
    }
    if (watch >= 0) close(watch);
    return result;
}
