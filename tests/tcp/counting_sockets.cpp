#include "counting_sockets.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

std::unique_ptr<SocketCounts> &Current() {
    static std::unique_ptr<SocketCounts> counts = std::make_unique<SocketCounts>();
    return counts;
}

int CountSocket(int domain, int type, int protocol) {
    Counts().sockets.fetch_add(1);
    return ::socket(domain, type, protocol);
}

int CountConnect(int fd, const sockaddr *address, socklen_t length) {
    Counts().connects.fetch_add(1);
    const int result = ::connect(fd, address, length);
    if (!Counts().connectAnswersIsConn.load() || (result != 0 && errno != EINPROGRESS))
        return result;
    // Let the connection complete, then ask again until the system itself
    // answers that the socket is already connected.
    pollfd wait = {fd, POLLOUT, 0};
    poll(&wait, 1, 2000);
    for (int i = 0; i < 3; ++i)
        if (::connect(fd, address, length) != 0 && errno == EISCONN) return -1;
    return 0;
}

ssize_t CountSend(int fd, const void *bytes, size_t length, int flags) {
    if (Counts().sends.fetch_add(1) == 0 && Counts().beforeFirstSend) Counts().beforeFirstSend();
    return ::send(fd, bytes, length, flags);
}

ssize_t CountRecv(int fd, void *buffer, size_t size, int flags) {
    // The generation tells a new test's counts from the last one's.
    thread_local const SocketCounts *counted = nullptr;
    if (counted != &Counts()) {
        counted = &Counts();
        Counts().receiveThreads.fetch_add(1);
    }
    const ssize_t n = ::recv(fd, buffer, size, flags);
    if (n > 0)
        Counts().bytesReceived.fetch_add(n);
    else
        Counts().receiveEnds.fetch_add(1);
    return n;
}

int CountClose(int fd) {
    Counts().closes.fetch_add(1);
    return ::close(fd);
}

}  // namespace

SocketCounts &Counts() {
    return *Current();
}

void ResetCounts() {
    Current() = std::make_unique<SocketCounts>();
}

const SocketApi &CountingSockets() {
    static const SocketApi api = {CountSocket, CountConnect, CountSend,
                                  CountRecv,   ::shutdown,   CountClose};
    return api;
}
