#include "loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace {

int Fd(SocketHandle socket) {
    return static_cast<int>(static_cast<intptr_t>(socket));
}

}  // namespace

const int32_t kPeerResetCode = ECONNRESET;
const int32_t kOutOfSocketsCode = EMFILE;

SocketHandle ListenLoopback(uint16_t *port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    auto *named = reinterpret_cast<sockaddr *>(&address);
    if (bind(fd, named, length) || listen(fd, 128) || getsockname(fd, named, &length)) abort();
    *port = ntohs(address.sin_port);
    return static_cast<SocketHandle>(fd);
}

bool Readable(SocketHandle socket, int ms) {
    pollfd wait = {Fd(socket), POLLIN, 0};
    return poll(&wait, 1, ms) == 1;
}

SocketHandle AcceptPeer(SocketHandle listener) {
    if (!Readable(listener)) return kNoSocket;
    const int fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return kNoSocket;
    const timeval limit = {10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return static_cast<SocketHandle>(fd);
}

std::vector<uint8_t> ReadPeer(SocketHandle peer, size_t n) {
    std::vector<uint8_t> got(n);
    const ssize_t read = recv(Fd(peer), got.data(), n, MSG_WAITALL);
    got.resize(read > 0 ? static_cast<size_t>(read) : 0);
    return got;
}

long WritePeer(SocketHandle peer, const void *bytes, size_t n) {
    return static_cast<long>(send(Fd(peer), bytes, n, MSG_NOSIGNAL));
}

void ClosePeer(SocketHandle peer) {
    if (peer != kNoSocket) close(Fd(peer));
}

bool ResetPeer(SocketHandle peer) {
    const linger reset = {1, 0};
    setsockopt(Fd(peer), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ClosePeer(peer);
    return true;
}

long ResidentKiB() {
    // Field 1 of statm is the resident part, in pages.
    long values[2] = {};
    std::ifstream("/proc/self/statm") >> values[0] >> values[1];
    return values[1] * (sysconf(_SC_PAGESIZE) / 1024);
}
