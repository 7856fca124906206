#include "sim_tcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim_serve.h"

namespace {

// Clients come through the listener and go when their stream ends.
class CTcpFront final : public CSimFront {
public:
    CTcpFront(int listenFd, FILE *log) : m_listenFd(listenFd), m_log(log) {}
    int WatchFd() const override { return m_listenFd; }
    bool OnWatch(CSimServer &server) override;
    Lost OnLost(SimPeer &peer, const char *why) override {
        if (strcmp(why, kEndOfStream) == 0)
            fprintf(m_log, "loopsim: %s disconnected\n", peer.name);
        else
            fprintf(m_log, "loopsim: %s: %s, closed\n", peer.name, why);
        fflush(m_log);
        return Lost::Remove;
    }

private:
    int m_listenFd;
    FILE *m_log;
};

bool CTcpFront::OnWatch(CSimServer &server) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = accept4(m_listenFd, reinterpret_cast<sockaddr *>(&peer), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return true;  // EAGAIN, or a client that left before we took it
        char name[64];
        char ip[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        snprintf(name, sizeof name, "%s:%u", ip, ntohs(peer.sin_port));
        if (!server.Add(fd, true, name)) {
            fprintf(m_log, "loopsim: %zu clients already, turned one away\n", server.Peers());
            close(fd);
            continue;
        }
        // Pieces and pauses must reach the client as sent, not gathered up.
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        fprintf(m_log, "loopsim: %s connected\n", name);
        fflush(m_log);
    }
}

}  // namespace

int OpenTcpListener(int port, char *address, size_t addressSize, char *error, size_t errorSize) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        snprintf(error, errorSize, "socket: %s", strerror(errno));
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    if (bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&at), &length) != 0) {
        snprintf(error, errorSize, "127.0.0.1:%d: %s", port, strerror(errno));
        close(fd);
        return -1;
    }
    snprintf(address, addressSize, "127.0.0.1:%u", ntohs(at.sin_port));
    return fd;
}

int ServeTcp(int listenFd, CSimDevice &device, const SimOptions &options, int stopFd, int readerFd,
             FILE *log, CSimControl *control) {
    CSimServer server(device, options, log, control);
    CTcpFront front(listenFd, log);
    return server.Run(front, stopFd, readerFd);
}
