// The TCP transport: a short-lived send worker per frame, which connects first
// when no connection stands, and one receive worker per connection, which
// hands every chunk to TcpArrival.
//
// Ownership: m_socket belongs to the send worker while one runs and to the
// link's end afterwards; a socket is closed only after its receive worker has
// been joined, so no worker ever reads from a number the system has reused.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "device_link.h"

namespace {

// A cycle that finds no connection makes a new socket.
constexpr int kConnectCycles = 2;
constexpr int kConnectAttempts = 2;
constexpr int kConnectPauseMs = 10;
constexpr int kSendAttempts = 3;

}  // namespace

void CDeviceLink::StartTcpSend(const uint8_t *bytes, int32_t length) {
    int32_t idle = 0;
    // A frame handed over while a worker runs is dropped: nothing is queued.
    if (!m_bStopping.load() && m_bSending.compare_exchange_strong(idle, 1)) {
        // The previous worker has done its work; collect its thread.
        if (m_sendThread.joinable()) m_sendThread.join();
        if (!bytes || length < 0) length = 0;
        if (length > kBufferSize) length = kBufferSize;
        if (length > 0) std::memcpy(m_txBuffer, bytes, static_cast<size_t>(length));
        m_nTxLength = length;
        // Lets the link's end cut a connect or a pause short.
        if (m_stopFd < 0) m_stopFd = eventfd(0, EFD_CLOEXEC);
        try {
            m_sendThread = std::thread(&CDeviceLink::TcpSendWorker, this);
        } catch (const std::exception &) {
            // The frame is lost, but the next one must not be dropped for it.
            m_bSending.store(0);
        }
    }
    sched_yield();
}

void CDeviceLink::TcpSendWorker() {
    m_bSending.store(1);
    if (ConnectCycles() && !m_bStopping.load()) {
        try {
            m_receiveThread = std::thread(&CDeviceLink::TcpReceiveWorker, this, m_socket);
        } catch (const std::exception &) {
            // Answers could not be heard on it: the next frame connects afresh.
            m_bConnected.store(0);
        }
    }
    // Also without a connection: the attempts then fail and say so.
    int32_t sent = 0;
    for (int attempt = 0; attempt < kSendAttempts && sent < m_nTxLength;) {
        if (m_bStopping.load()) break;
        const ssize_t n = m_sockets->send(m_socket, m_txBuffer + sent,
                                          static_cast<size_t>(m_nTxLength - sent), MSG_NOSIGNAL);
        if (n > 0) {
            // A short send (a signal) goes on with the rest rather than losing it.
            sent += static_cast<int32_t>(n);
            continue;
        }
        if (n == 0) break;
        const int error = errno;
        if (error == EINTR) continue;
        if (m_bStopping.load()) break;
        PrintSocketError("send()", {error});
        m_bConnected.store(0);
        ++attempt;
    }
    // A socket without a connection is never used again.
    if (!m_bConnected.load()) RetireSocket();
    m_bSending.store(0);
}

bool CDeviceLink::ConnectCycles() {
    for (int cycle = 0; cycle < kConnectCycles; ++cycle) {
        if (m_bConnected.load()) continue;
        m_bConnected.store(1);
        // The socket of a failed cycle or of a broken connection goes first.
        RetireSocket();
        const int fd = m_sockets->socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // The cycle goes on without a socket; its connects then fail.
        if (fd < 0) ShowSocketError("socket()", {errno});
        {
            std::lock_guard<std::mutex> lock(m_tcpLock);
            if (m_bStopping.load()) {
                if (fd >= 0) m_sockets->close(fd);
                m_bConnected.store(0);
                return false;
            }
            m_socket = fd;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(m_nTcpPort & 0xFFFF));
        address.sin_addr.s_addr = ResolveHost(m_szHost);
        for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
            const int error = ConnectOnce(fd, &address, sizeof address);
            // Already connected counts as connected.
            if (error == 0 || error == EISCONN) return true;
            if (!Pause(kConnectPauseMs)) break;
        }
        m_bConnected.store(0);
        if (m_bStopping.load()) break;
    }
    return false;
}

int CDeviceLink::ConnectOnce(int fd, const void *address, uint32_t length) {
    // Non-blocking for the connect only, so that the wait happens in poll
    // beside the stop event; sends and receives stay blocking.
    const int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (m_sockets->connect(fd, static_cast<const sockaddr *>(address),
                           static_cast<socklen_t>(length)) != 0) {
        error = errno;
        if (error == EINPROGRESS || error == EINTR) {
            pollfd waits[2] = {{fd, POLLOUT, 0}, {m_stopFd, POLLIN, 0}};
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
    return error;
}

bool CDeviceLink::Pause(int ms) {
    pollfd stop = {m_stopFd, POLLIN, 0};
    poll(&stop, 1, ms);
    return !m_bStopping.load();
}

void CDeviceLink::RetireSocket() {
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_tcpLock);
        fd = m_socket;
        m_socket = -1;
    }
    // Ends the receive worker's recv with 0.
    if (fd >= 0) m_sockets->shutdown(fd, SHUT_RDWR);
    if (m_receiveThread.joinable()) m_receiveThread.join();
    if (fd >= 0) m_sockets->close(fd);
}

void CDeviceLink::StopTcp() {
    {
        std::lock_guard<std::mutex> lock(m_tcpLock);
        m_bStopping.store(true);
        // Wakes a receive worker in recv and a send worker in send.
        if (m_socket >= 0) m_sockets->shutdown(m_socket, SHUT_RDWR);
    }
    if (m_stopFd >= 0) {
        const uint64_t one = 1;
        // Cannot fail short of an overflow of the counter, which never happens.
        [[maybe_unused]] const ssize_t written = write(m_stopFd, &one, sizeof one);
    }
    if (m_sendThread.joinable()) m_sendThread.join();
    RetireSocket();
    if (m_stopFd >= 0) close(m_stopFd);
    m_stopFd = -1;
}

void CDeviceLink::TcpReceiveWorker(int fd) {
    for (;;) {
        const int32_t n = ReceiveBytes(fd, m_rxChunk, kBufferSize, 0);
        // The peer closed, the connection broke or the link is ending: the
        // worker ends without a word, and m_bConnected stays as it is.
        if (n == 0) return;
        TcpArrival(m_rxChunk, n);
        sched_yield();
    }
}

int32_t CDeviceLink::ReceiveBytes(int fd, uint8_t *buffer, int32_t size, int flags) {
    for (;;) {
        const ssize_t n = m_sockets->recv(fd, buffer, static_cast<size_t>(size), flags);
        if (n >= 0) return static_cast<int32_t>(n);
        if (errno != EINTR) return 0;
    }
}

uint32_t CDeviceLink::ResolveHost(const char *hostField) {
    // The holder may have filled all of m_szHost without a terminator.
    char host[sizeof m_szHost + 1] = {};
    std::memcpy(host, hostField, strnlen(hostField, sizeof m_szHost));
    // A dotted address first; 255.255.255.255 reads as "none" here and so is
    // looked up by name like any other text.
    const in_addr_t dotted = inet_addr(host);
    if (dotted != INADDR_NONE) return dotted;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int result = getaddrinfo(host, nullptr, &hints, &found);
    if (result != 0 || !found) {
        const SocketError error =
            result == EAI_SYSTEM ? SocketError{errno, false} : SocketError{result, true};
        ShowSocketError("gethostbyname error", error);
        // The connects of this cycle then fail.
        return INADDR_NONE;
    }
    sockaddr_in first{};
    std::memcpy(&first, found->ai_addr, sizeof first);
    freeaddrinfo(found);
    return first.sin_addr.s_addr;
}

std::string CDeviceLink::SocketErrorText(SocketError error) {
    char buffer[256] = {};
    const char *text = nullptr;
    if (error.resolver)
        text = gai_strerror(error.code);
    else if (error.code != 0)
        text = strerror_r(error.code, buffer, sizeof buffer);
    if (!text || !*text) {
        std::snprintf(buffer, sizeof buffer, "Socket error %d", error.code);
        text = buffer;
    }
    return text;
}

void CDeviceLink::ShowSocketError(const char *caption, SocketError error) {
    // Nobody is left to answer a box once the link is ending.
    if (m_bStopping.load()) return;
    const std::string text = SocketErrorText(error);
    if (m_messages)
        m_messages->ShowError(caption, text);
    else
        std::fprintf(stderr, "%s: %s\n", caption, text.c_str());
}

void CDeviceLink::PrintSocketError(const char *operation, SocketError error) {
    // The system's texts carry no line end here, so one is added to keep one
    // failure per line.
    std::printf("[%s] %s\n", operation, SocketErrorText(error).c_str());
    std::fflush(stdout);
}
