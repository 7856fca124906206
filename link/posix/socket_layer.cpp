// The socket layer on POSIX: BSD sockets, an eventfd as the stop event, and
// getaddrinfo for names.
#include "socket_layer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "socket_address.h"
#include "system_error.h"

namespace {

int Fd(SocketHandle socket) {
    return static_cast<int>(static_cast<std::intptr_t>(socket));
}

SocketError Failure(int code) {
    return {code == EISCONN ? SocketFault::kAlreadyConnected : SocketFault::kFailed, code, false};
}

}  // namespace

std::string SocketErrorText(const SocketError &error) {
    std::string text;
    if (error.resolver)
        text = gai_strerror(error.code);
    else if (error.code != 0)
        text = SystemErrorText(static_cast<uint32_t>(error.code));
    return text.empty() ? "Socket error " + std::to_string(error.code) : text;
}

bool CStopEvent::Create() {
    if (m_handle < 0) m_handle = eventfd(0, EFD_CLOEXEC);
    return m_handle >= 0;
}

void CStopEvent::Close() {
    if (m_handle >= 0) close(static_cast<int>(m_handle));
    m_handle = -1;
}

void CStopEvent::Signal() {
    if (m_handle < 0) return;
    const uint64_t one = 1;
    // Cannot fail short of an overflow of the counter, which never happens.
    [[maybe_unused]] const ssize_t written = write(static_cast<int>(m_handle), &one, sizeof one);
}

bool CStopEvent::Wait(int ms) const {
    // Without an event (fd -1) poll only sleeps.
    pollfd stop = {static_cast<int>(m_handle), POLLIN, 0};
    return poll(&stop, 1, ms) == 1;
}

SocketHandle OpenTcpSocket(SocketError *error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = Failure(errno);
        return kNoSocket;
    }
    return static_cast<SocketHandle>(fd);
}

SocketError ConnectSocket(SocketHandle socket, const Ipv4Endpoint &to, const CStopEvent &stop) {
    const sockaddr_in address = SocketAddressOf(to);
    const int fd = Fd(socket);
    // Non-blocking for the connect only, so that the wait happens in poll
    // beside the stop event; sends and receives stay blocking.
    const int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        error = errno;
        if (error == EINPROGRESS || error == EINTR) {
            pollfd waits[2] = {{fd, POLLOUT, 0}, {static_cast<int>(stop.Handle()), POLLIN, 0}};
            for (;;) {
                if (poll(waits, 2, -1) < 0) {
                    if (errno == EINTR) continue;
                    error = errno;
                    break;
                }
                if (waits[1].revents) {
                    error = ECANCELED;
                    break;
                }
                if (!waits[0].revents) continue;
                socklen_t size = sizeof error;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
                break;
            }
        }
    }
    if (flags >= 0) fcntl(fd, F_SETFL, flags);
    if (error == 0) return {};
    if (error == ECANCELED) return {SocketFault::kCancelled, error, false};
    return Failure(error);
}

int32_t SendSocket(SocketHandle socket, const void *bytes, int32_t length, SocketError *error) {
    for (;;) {
        // A peer that has gone must fail the send, not kill the process.
        const ssize_t n = ::send(Fd(socket), bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (n >= 0) return static_cast<int32_t>(n);
        if (errno == EINTR) continue;
        *error = Failure(errno);
        return -1;
    }
}

int32_t ReceiveSocket(SocketHandle socket, void *buffer, int32_t size, SocketError *error) {
    for (;;) {
        const ssize_t n = ::recv(Fd(socket), buffer, static_cast<size_t>(size), 0);
        if (n >= 0) return static_cast<int32_t>(n);
        if (errno == EINTR) continue;
        *error = Failure(errno);
        return -1;
    }
}

void ShutdownSocket(SocketHandle socket) {
    ::shutdown(Fd(socket), SHUT_RDWR);
}

void CloseSocket(SocketHandle socket) {
    ::close(Fd(socket));
}

bool ResolveHost(const char *host, Ipv4Address *address, SocketError *error) {
    if (DottedAddress(host, address)) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int result = getaddrinfo(host, nullptr, &hints, &found);
    if (result != 0 || !found) {
        *error = result == EAI_SYSTEM ? SocketError{SocketFault::kFailed, errno, false}
                                      : SocketError{SocketFault::kFailed, result, true};
        *address = kNoAddress;
        return false;
    }
    *address = AddressOf(found->ai_addr);
    freeaddrinfo(found);
    return true;
}
