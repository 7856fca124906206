// Ownership: m_socket belongs to the send worker while one runs and to the
// link's end afterwards; a socket is closed only after its receive worker has
// been joined, so no worker ever reads from a handle the system has reused.
#include "tcp_transport.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "device_link.h"

namespace {

// A cycle that finds no connection makes a new socket.
constexpr int kConnectCycles = 2;
constexpr int kConnectAttempts = 2;
constexpr int kConnectPauseMs = 10;
constexpr int kSendAttempts = 3;

}  // namespace

CTcpTransport::CTcpTransport(CDeviceLink &link, CLinkLoss &loss, ILinkMessages *messages)
    : m_link(link), m_loss(loss), m_messages(messages) {}

void CTcpTransport::StartSend(const char *host, int32_t port, const uint8_t *bytes,
                              int32_t length) {
    int32_t idle = 0;
    if (!m_bStopping.load() && m_bSending.compare_exchange_strong(idle, 1)) {
        // The previous worker has done its work; collect its thread.
        if (m_sendThread.joinable()) m_sendThread.join();
        std::memset(m_szHost, 0, sizeof m_szHost);
        std::memcpy(m_szHost, host, strnlen(host, kHostSize));
        m_nTcpPort = port;
        if (!bytes || length < 0) length = 0;
        if (length > kBufferSize) length = kBufferSize;
        if (length > 0) std::memcpy(m_txBuffer, bytes, static_cast<size_t>(length));
        m_nTxLength = length;
        // Lets the link's end cut a connect or a pause short.
        m_stop.Create();
        try {
            m_sendThread = std::thread(&CTcpTransport::SendWorker, this);
        } catch (const std::exception &) {
            // The frame is lost, but the next one must not be dropped for it.
            m_bSending.store(0);
        }
    }
    std::this_thread::yield();
}

void CTcpTransport::SendWorker() {
    m_bSending.store(1);
    if (ConnectCycles() && !m_bStopping.load()) {
        try {
            m_receiveThread = std::thread(&CTcpTransport::ReceiveWorker, this, m_socket);
        } catch (const std::exception &) {
            // Answers could not be heard on it: the next frame connects afresh.
            m_bConnected.store(0);
        }
    }
    // Also without a connection: the attempts then fail and say so.
    int32_t sent = 0;
    SocketError failure;
    bool failed = false;
    for (int attempt = 0; attempt < kSendAttempts && sent < m_nTxLength;) {
        if (m_bStopping.load()) break;
        SocketError error;
        const int32_t n = m_sockets->send(m_socket, m_txBuffer + sent, m_nTxLength - sent, &error);
        if (n > 0) {
            // A short send (a signal) goes on with the rest rather than losing it.
            sent += n;
            continue;
        }
        if (n == 0 || m_bStopping.load()) break;
        PrintSocketError("send()", error);
        m_bConnected.store(0);
        failure = error;
        failed = true;
        ++attempt;
    }
    if (!m_bStopping.load()) {
        // A connection whose answers can no longer arrive is lost for this
        // frame too, though the frame itself may have gone out.
        std::string reason;
        if (m_connectionLoss.Get(&reason)) m_loss.Set(reason.c_str());
        if (failed && sent < m_nTxLength) m_loss.Set("send(): ", SocketErrorText(failure).c_str());
    }
    // A socket without a connection is never used again.
    if (!m_bConnected.load()) RetireSocket();
    m_bSending.store(0);
}

bool CTcpTransport::ConnectCycles() {
    m_connectFailure.Clear();
    for (int cycle = 0; cycle < kConnectCycles; ++cycle) {
        if (m_bConnected.load()) continue;
        m_bConnected.store(1);
        // The socket of a failed cycle or of a broken connection goes first.
        RetireSocket();
        SocketError error;
        const SocketHandle socket = m_sockets->socket(&error);
        // The cycle goes on without a socket; its connects then fail.
        if (socket == kNoSocket) ShowSocketError("socket()", error);
        {
            std::lock_guard<std::mutex> lock(m_tcpLock);
            if (m_bStopping.load()) {
                if (socket != kNoSocket) m_sockets->close(socket);
                m_bConnected.store(0);
                return false;
            }
            m_socket = socket;
            m_connectionLoss.Clear();
        }
        // Built anew in every cycle: the name may resolve differently now.
        const Ipv4Endpoint to = {Resolve(), static_cast<uint16_t>(m_nTcpPort & 0xFFFF)};
        for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
            const SocketError result = m_sockets->connect(socket, to, m_stop);
            // Already connected counts as connected.
            if (result.fault == SocketFault::kNone ||
                result.fault == SocketFault::kAlreadyConnected) {
                m_connectFailure.Clear();
                return true;
            }
            // The first failure says why; a retry on the same socket only
            // finds it aborted.
            m_connectFailure.Set("connect(): ", SocketErrorText(result).c_str());
            if (!Pause(kConnectPauseMs)) break;
        }
        m_bConnected.store(0);
        if (m_bStopping.load()) break;
    }
    return false;
}

bool CTcpTransport::Pause(int ms) {
    m_stop.Wait(ms);
    return !m_bStopping.load();
}

void CTcpTransport::RetireSocket() {
    SocketHandle socket;
    {
        std::lock_guard<std::mutex> lock(m_tcpLock);
        socket = m_socket;
        m_socket = kNoSocket;
    }
    // Ends the receive worker's wait with 0.
    if (socket != kNoSocket) m_sockets->shutdown(socket);
    if (m_receiveThread.joinable()) m_receiveThread.join();
    if (socket != kNoSocket) m_sockets->close(socket);
}

void CTcpTransport::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_tcpLock);
        m_bStopping.store(true);
        // Wakes a receive worker in recv and a send worker in send.
        if (m_socket != kNoSocket) m_sockets->shutdown(m_socket);
    }
    m_stop.Signal();
    if (m_sendThread.joinable()) m_sendThread.join();
    RetireSocket();
    m_stop.Close();
}

void CTcpTransport::ReceiveWorker(SocketHandle socket) {
    for (;;) {
        SocketError error;
        const int32_t n = m_sockets->recv(socket, m_rxChunk, kBufferSize, &error);
        // The peer closed, the connection broke or the link is ending: the
        // worker ends without a box, and m_bConnected stays as it is.
        if (n <= 0) return ReceiveEnded(socket, n, error);
        m_link.TcpArrival(m_rxChunk, n);
        std::this_thread::yield();
    }
}

void CTcpTransport::ReceiveEnded(SocketHandle socket, int32_t n, const SocketError &error) {
    const std::string text = n == 0 ? std::string() : SocketErrorText(error);
    std::lock_guard<std::mutex> lock(m_tcpLock);
    // A socket the link shut down itself (a retired one, or at its end) is
    // no news to the holder.
    if (m_bStopping.load() || socket != m_socket) return;
    if (n == 0)
        m_connectionLoss.Set("the peer closed the connection");
    else
        m_connectionLoss.Set("recv(): ", text.c_str());
    std::string reason;
    m_connectionLoss.Get(&reason);
    m_loss.Set(reason.c_str());
}

Ipv4Address CTcpTransport::Resolve() {
    Ipv4Address address;
    SocketError error;
    // The connects of this cycle then fail.
    if (!ResolveHost(m_szHost, &address, &error)) ShowSocketError("gethostbyname error", error);
    return address;
}

void CTcpTransport::ShowSocketError(const char *caption, const SocketError &error) {
    // Nobody is left to answer a box once the link is ending.
    if (m_bStopping.load()) return;
    const std::string text = SocketErrorText(error);
    if (m_messages)
        m_messages->ShowError(caption, text);
    else
        std::fprintf(stderr, "%s: %s\n", caption, text.c_str());
}

void CTcpTransport::PrintSocketError(const char *operation, const SocketError &error) {
    // Standard error, so that a holder's standard output stays its own (a
    // JSON document, say). The system's texts carry no line end here, so one
    // is added to keep one failure per line.
    std::fprintf(stderr, "[%s] %s\n", operation, SocketErrorText(error).c_str());
}
