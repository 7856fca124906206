#include "sim_endpoint.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sim_serve.h"

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

bool Refuse(SimEndpoint &endpoint, char *error, size_t errorSize, const char *what) {
    snprintf(error, errorSize, "%s: %s", what, strerror(errno));
    CloseEndpoint(endpoint);
    return false;
}

// The pty's clients come and go unseen by the master (we hold the slave), so
// the watch on the node counts them: the last close is a client leaving.
//
// Nothing the device has to say is dropped when one leaves: the watch's news
// can come later than the next client's bytes, and whatever it would flush
// might be that client's answer. Like a real device, a late answer reaches
// whoever has the port open by then.
class CPtyFront final : public CSimFront {
public:
    CPtyFront(SimEndpoint &endpoint, FILE *log) : m_endpoint(endpoint), m_log(log) {}

    int WatchFd() const override { return m_endpoint.watch; }
    bool OnWatch(CSimServer &) override;
    Lost OnLost(SimPeer &, const char *why) override {
        fprintf(m_log, "loopsim: %s failed: %s\n", m_endpoint.path, why);
        return Lost::Fail;
    }

private:
    void ClientsGone();

    SimEndpoint &m_endpoint;
    FILE *m_log;
    unsigned m_clients = 0;
};

bool CPtyFront::OnWatch(CSimServer &) {
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t got = read(m_endpoint.watch, events, sizeof events);
        if (got <= 0) return true;
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Lost count: assume someone is there; the next close tells.
                if (m_clients == 0) m_clients = 1;
            } else if (event->mask & IN_OPEN) {
                ++m_clients;
            } else if ((event->mask & IN_CLOSE) && m_clients > 0 && --m_clients == 0) {
                ClientsGone();
            }
        }
    }
}

void CPtyFront::ClientsGone() {
    // A client killed while holding the line exclusively cannot clear it, and
    // every later open would be refused. (A client that opened right after
    // may lose its own flag here; its lock still keeps its kind out.)
    int exclusive = 0;
    if (ioctl(m_endpoint.slave, TIOCGEXCL, &exclusive) == 0 && exclusive) {
        ioctl(m_endpoint.slave, TIOCNXCL);
        fprintf(m_log, "loopsim: the last client left the line exclusive; cleared\n");
        fflush(m_log);
    }
}

class CSerialFront final : public CSimFront {
public:
    CSerialFront(const SimEndpoint &endpoint, FILE *log) : m_endpoint(endpoint), m_log(log) {}
    Lost OnLost(SimPeer &, const char *why) override {
        fprintf(m_log, "loopsim: %s hung up (%s)\n", m_endpoint.path, why);
        return Lost::Fail;
    }

private:
    const SimEndpoint &m_endpoint;
    FILE *m_log;
};

}  // namespace

bool OpenPseudoTerminal(SimEndpoint &endpoint, char *error, size_t errorSize) {
    endpoint.isPty = true;
    endpoint.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (endpoint.fd < 0) return Refuse(endpoint, error, errorSize, "posix_openpt");
    const char *name = nullptr;
    if (grantpt(endpoint.fd) != 0 || unlockpt(endpoint.fd) != 0 ||
        (name = ptsname(endpoint.fd)) == nullptr)
        return Refuse(endpoint, error, errorSize, "pseudo-terminal setup");
    snprintf(endpoint.path, sizeof endpoint.path, "%s", name);
    // Termios calls on the master reach the slave's settings, so a client
    // that leaves them alone still sees a raw line.
    if (!MakeRaw(endpoint.fd, false) ||
        fcntl(endpoint.fd, F_SETFL, fcntl(endpoint.fd, F_GETFL) | O_NONBLOCK) != 0)
        return Refuse(endpoint, error, errorSize, "pseudo-terminal raw mode");
    // Opened before the watch starts, so our own open is not counted as a client.
    endpoint.slave = open(endpoint.path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (endpoint.slave < 0) return Refuse(endpoint, error, errorSize, endpoint.path);
    endpoint.watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (endpoint.watch < 0 ||
        inotify_add_watch(endpoint.watch, endpoint.path, IN_OPEN | IN_CLOSE) < 0)
        return Refuse(endpoint, error, errorSize, "watching the pseudo-terminal's opens");
    return true;
}

bool OpenSerialDevice(const char *path, SimEndpoint &endpoint, char *error, size_t errorSize) {
    endpoint.isPty = false;
    snprintf(endpoint.path, sizeof endpoint.path, "%s", path);
    endpoint.fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (endpoint.fd < 0) return Refuse(endpoint, error, errorSize, path);
    if (flock(endpoint.fd, LOCK_EX | LOCK_NB) != 0) {
        snprintf(error, errorSize, "%s: in use", path);
        CloseEndpoint(endpoint);
        return false;
    }
    if (!MakeRaw(endpoint.fd, true)) {
        snprintf(error, errorSize, "%s: not a serial device (%s)", path, strerror(errno));
        CloseEndpoint(endpoint);
        return false;
    }
    return true;
}

void CloseEndpoint(SimEndpoint &endpoint) {
    for (int *fd : {&endpoint.watch, &endpoint.slave, &endpoint.fd}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

int ServeEndpoint(SimEndpoint &endpoint, CSimDevice &device, const SimOptions &options, int stopFd,
                  int readerFd, FILE *log, CSimControl *control) {
    CSimServer server(device, options, log, control);
    server.Add(endpoint.fd, false, endpoint.path);
    if (endpoint.isPty) {
        CPtyFront front(endpoint, log);
        return server.Run(front, stopFd, readerFd);
    }
    CSerialFront front(endpoint, log);
    return server.Run(front, stopFd, readerFd);
}
