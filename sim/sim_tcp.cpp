#include "sim_tcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "sim_endpoint.h"
#include "sim_session.h"

namespace {

// More clients than a test or a demonstration needs; further ones are turned away.
constexpr size_t kMaxClients = 32;

struct Client {
    Client(int socket, const SimOptions &options, CSimDevice &device, FILE *log)
        : fd(socket), session(options, device, log) {}
    ~Client() { close(fd); }
    int fd;
    bool blocked = false;
    char name[32] = {};
    CSimSession session;
};

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
             FILE *log) {
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<pollfd> fds;
    uint8_t buffer[4096];
    int result = 0;

    for (;;) {
        const int64_t now = MonotonicUs();
        int64_t deadline = -1;
        for (size_t i = 0; i < clients.size();) {
            Client &c = *clients[i];
            c.session.OnTime(now);
            const int written = WriteDuePieces(c.fd, c.session, now);
            if (written < 0) {
                fprintf(log, "loopsim: %s: %s, closed\n", c.name, strerror(errno));
                fflush(log);
                clients.erase(clients.begin() + static_cast<long>(i));
                continue;
            }
            c.blocked = written == 1;
            // A blocked client waits for POLLOUT, not for its (past) due time.
            const int64_t due = c.session.NextDeadline(!c.blocked);
            if (due >= 0 && (deadline < 0 || due < deadline)) deadline = due;
            ++i;
        }

        fds.clear();
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({readerFd, 0, 0});  // POLLERR once the reader has gone
        fds.push_back({listenFd, POLLIN, 0});
        for (const auto &c : clients)
            fds.push_back({c->fd, static_cast<short>(POLLIN | (c->blocked ? POLLOUT : 0)), 0});

        int timeout = -1;
        if (deadline >= 0) {
            const int64_t wait = (deadline - now + 999) / 1000;
            timeout = wait <= 0 ? 0 : wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
        }
        if (poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) continue;
            fprintf(log, "loopsim: poll: %s\n", strerror(errno));
            result = 1;
            break;
        }
        if (fds[0].revents) break;
        if (fds[1].revents) {
            fprintf(log, "loopsim: whoever read the address has gone\n");
            break;
        }

        // Clients first: the indices of fds follow the list as it was polled.
        std::vector<size_t> gone;
        for (size_t i = 0; i < clients.size(); ++i) {
            const short revents = fds[3 + i].revents;
            if (!(revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Client &c = *clients[i];
            for (;;) {
                const ssize_t got = read(c.fd, buffer, sizeof buffer);
                if (got > 0) {
                    c.session.OnBytes(buffer, static_cast<size_t>(got), MonotonicUs());
                    continue;
                }
                if (got < 0 && errno == EINTR) continue;
                if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    fprintf(log, "loopsim: %s disconnected\n", c.name);
                    fflush(log);
                    gone.push_back(i);
                }
                break;
            }
        }
        for (auto it = gone.rbegin(); it != gone.rend(); ++it)
            clients.erase(clients.begin() + static_cast<long>(*it));

        if (fds[2].revents & POLLIN) {
            for (;;) {
                sockaddr_in peer{};
                socklen_t length = sizeof peer;
                const int fd = accept4(listenFd, reinterpret_cast<sockaddr *>(&peer), &length,
                                       SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;  // EAGAIN, or a client that left before we took it
                if (clients.size() == kMaxClients) {
                    fprintf(log, "loopsim: %zu clients already, turned one away\n", kMaxClients);
                    close(fd);
                    continue;
                }
                // Pieces and pauses must reach the client as sent, not gathered up.
                const int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                clients.push_back(std::make_unique<Client>(fd, options, device, log));
                Client &c = *clients.back();
                char ip[INET_ADDRSTRLEN] = "?";
                inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
                snprintf(c.name, sizeof c.name, "%s:%u", ip, ntohs(peer.sin_port));
                fprintf(log, "loopsim: %s connected\n", c.name);
                fflush(log);
            }
        }
    }
    return result;
}
