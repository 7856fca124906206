// The link's TCP transport: a short-lived send worker per frame, which
// connects first when no connection stands, and one receive worker per
// connection, which hands every chunk to the link's TCP arrival step.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "link_loss.h"
#include "link_messages.h"
#include "socket_api.h"

class CDeviceLink;

class CTcpTransport {
public:
    static constexpr int kBufferSize = 65536;
    // The holder's host field: at most 15 characters and a NUL.
    static constexpr int kHostSize = 16;

    // Chunks go to link.TcpArrival, a vanished peer to loss.
    CTcpTransport(CDeviceLink &link, CLinkLoss &loss, ILinkMessages *messages);
    ~CTcpTransport() { Stop(); }
    CTcpTransport(const CTcpTransport &) = delete;
    CTcpTransport &operator=(const CTcpTransport &) = delete;

    // Set before the first StartSend.
    void SetSockets(const SocketApi &sockets) { m_sockets = &sockets; }

    // Hands length bytes (none: connect only) to a send worker for the host
    // (kHostSize bytes, NUL-terminated or not) and port. Dropped while a worker
    // runs: nothing is queued. Holder's thread only.
    void StartSend(const char *host, int32_t port, const uint8_t *bytes, int32_t length);
    // Ends the workers and closes the socket; nothing starts afterwards.
    void Stop();
    // Why the last connect failed, until a connection is made. Any thread.
    bool ConnectFailure(std::string *reason) const { return m_connectFailure.Get(reason); }

    // A send worker is running.
    std::atomic<int32_t> m_bSending{0};
    // The connection is made or being made.
    std::atomic<uint8_t> m_bConnected{0};

private:
    void SendWorker();
    void ReceiveWorker(SocketHandle socket);
    // Connects at most twice per cycle, for at most 2 cycles; true when a new
    // connection stands (and its receive worker must start).
    bool ConnectCycles();
    // Sleeps for ms unless the link is ending; false when it is.
    bool Pause(int ms);
    // Takes m_socket away, ends its receive worker and closes it.
    void RetireSocket();
    // The receive worker of socket saw it end (n == 0) or fail.
    void ReceiveEnded(SocketHandle socket, int32_t n, const SocketError &error);
    Ipv4Address Resolve();
    void ShowSocketError(const char *caption, const SocketError &error);
    void PrintSocketError(const char *operation, const SocketError &error);

    CDeviceLink &m_link;
    CLinkLoss &m_loss;
    ILinkMessages *m_messages;
    const SocketApi *m_sockets = &RealSockets();

    // Copied by StartSend while no worker runs; read by that worker only.
    char m_szHost[kHostSize + 1] = {};
    int32_t m_nTcpPort = 0;
    uint8_t m_txBuffer[kBufferSize] = {};
    int32_t m_nTxLength = 0;

    // Guards m_socket against the link's end shutting it down while the send
    // worker replaces it, and orders a receive worker's report of its end
    // against the link retiring that socket itself.
    std::mutex m_tcpLock;
    SocketHandle m_socket = kNoSocket;
    // How the current connection ended, when its receive worker saw it end:
    // every later worker on that connection reports it again, since no answer
    // can come over it any more.
    CLinkLoss m_connectionLoss;
    // The last connect's failure: the holder's answer to "why no connection".
    CLinkLoss m_connectFailure;

    // Only one send worker runs at a time, and at most one receive worker: a
    // new connection is made only after the old socket has been retired.
    std::thread m_sendThread;
    std::thread m_receiveThread;
    CStopEvent m_stop;
    std::atomic<bool> m_bStopping{false};
    // The receive worker's landing buffer; chunks reach the link's receive
    // buffer only through its arrival step, under its lock.
    uint8_t m_rxChunk[kBufferSize] = {};
};
