// CDeviceLink: the one object through which the dialog exchanges frames with
// the device, over a serial port (portlink) or a TCP connection.
//
// The holder (the dialog) writes m_nPort, m_nBaudRate and m_nRxCount, calls
// Open, Send, ReadSerial and Tick on its UI thread, and after every Tick takes
// a completed frame through m_nFramesReady, m_nFrameLength and m_frameBuffer.
// All storage is inside the object: nothing is allocated after construction.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "link_messages.h"
#include "portlink_api.h"
#include "socket_api.h"

enum : uint8_t { LINK_SERIAL = 1, LINK_TCP = 2 };

class CDeviceLink {
public:
    static constexpr int kBufferSize = 65536;
    // Ticks without an arrival after which the next arrival begins a new frame.
    static constexpr int32_t kIdleGap = 5;
    // Idle count after construction and after a completed frame: past the gap,
    // so whatever follows starts again at index 0.
    static constexpr int32_t kIdleAfterFrame = 6;
    // Fewest gathered bytes for which a frame start (and so its length) is taken.
    static constexpr int32_t kMinFrameStart = 5;
    // A serial gathered count above this is dropped; with at most 10,000 bytes
    // per readcom no read can reach the end of m_rxBuffer.
    static constexpr int32_t kSerialLimit = 32768;

    explicit CDeviceLink(const PortlinkApi &api = RealPortlink(),
                         ILinkMessages *messages = nullptr);
    ~CDeviceLink();
    CDeviceLink(const CDeviceLink &) = delete;
    CDeviceLink &operator=(const CDeviceLink &) = delete;

    void SetMessages(ILinkMessages *messages) { m_messages = messages; }
    // The socket calls of the TCP transport; set before the first TCP Open.
    void SetSockets(const SocketApi &sockets) { m_sockets = &sockets; }

    // Selects the transport and opens it. A serial Open closes the port of the
    // previous Open and opens m_nPort at m_nBaudRate, 8N1, no flow control,
    // with data notification to ownerWindow. Failures are shown as warnings.
    void Open(uint8_t transport, PortlinkWindow *ownerWindow);
    // Sends the low 16 bits of length bytes. Serial: writecom's code; else 0.
    int32_t Send(const uint8_t *bytes, int32_t length);

    // Serial arrival: pulls what waits (at most 10,000 bytes) with readcom.
    void ReadSerial();
    // TCP arrival: appends a received chunk of n bytes (the receive worker
    // gets them into its own buffer first, so m_rxBuffer is only ever written
    // under the lock). Safe to call from any thread, concurrently with Tick.
    void TcpArrival(const uint8_t *bytes, int32_t n);
    // Advances the idle count and completes at most one frame.
    void Tick();
    // The holder's reset after a Send, so the answer is gathered from index 0.
    // Same as writing m_nRxCount = 0, but safe while a TCP receive worker runs.
    void ResetRxCount();

    // Fields, in the order the holder knows them.
    PortlinkWindow *m_hOwner = nullptr;
    uint8_t m_nPort = 0;
    uint8_t m_nOpenPort = 0;
    int32_t m_nBaudRate = 0;
    char m_szHost[16] = {};
    int32_t m_nTcpPort = 0;
    // Written by the send worker under m_tcpLock; -1 = no socket.
    int m_socket = -1;
    uint8_t m_txBuffer[kBufferSize] = {};
    int32_t m_nTxLength = 0;
    std::atomic<int32_t> m_bSending{0};
    uint8_t m_nTransport = 0;
    uint8_t m_rxBuffer[kBufferSize] = {};
    uint8_t m_frameBuffer[kBufferSize] = {};
    int32_t m_nRxCount = 0;
    int32_t m_nExpectedLength = 0;
    int32_t m_nFrameLength = 0;
    std::atomic<uint8_t> m_bConnected{0};
    int32_t m_nIdleTicks = kIdleAfterFrame;
    int32_t m_nFramesReady = 0;

private:
    void OpenSerial();
    void OpenTcp();
    // Hands bytes to the TCP send worker (which connects first when needed).
    void StartTcpSend(const uint8_t *bytes, int32_t length);
    // Stops the TCP workers and closes the socket; the link's end.
    void StopTcp();

    // An error of a socket call (errno) or of the resolver (getaddrinfo's code).
    struct SocketError {
        int code = 0;
        bool resolver = false;
    };
    void TcpSendWorker();
    void TcpReceiveWorker(int socket);
    // Connects at most twice per cycle, for at most 2 cycles; true when a new
    // connection stands (and its receive worker must start).
    bool ConnectCycles();
    // One connect attempt; 0 or the errno it failed with. Waits for the
    // connection in poll so that the link's end can cut it short.
    int ConnectOnce(int socket, const void *address, uint32_t length);
    // Sleeps for ms unless the link is ending; false when it is.
    bool Pause(int ms);
    // Takes m_socket away, ends its receive worker and closes it.
    void RetireSocket();
    uint32_t ResolveHost(const char *host);
    void ShowSocketError(const char *caption, SocketError error);
    void PrintSocketError(const char *operation, SocketError error);
    int32_t ReceiveBytes(int socket, uint8_t *buffer, int32_t size, int flags);
    static std::string SocketErrorText(SocketError error);
    void Warn(const char *text);
    // Takes the frame length from bytes 1-2 when a frame start is gathered.
    void TakeFrameStart();

    const PortlinkApi &m_api;
    ILinkMessages *m_messages = nullptr;
    // Guards the receive fields (m_rxBuffer, m_nRxCount, m_nExpectedLength,
    // m_nIdleTicks) between the arrival steps and Tick's completion.
    std::mutex m_rxLock;

    // The TCP transport's own state. Only one send worker runs at a time, and
    // at most one receive worker: a new connection is made only after the old
    // socket has been retired.
    const SocketApi *m_sockets = &RealSockets();
    std::thread m_sendThread;
    std::thread m_receiveThread;
    // Written by the holder's thread before the first worker starts.
    int m_stopFd = -1;
    std::atomic<bool> m_bStopping{false};
    // Guards m_socket against the link's end shutting it down while the send
    // worker replaces it.
    std::mutex m_tcpLock;
    // The receive worker's landing buffer; chunks reach m_rxBuffer only
    // through TcpArrival, under m_rxLock.
    uint8_t m_rxChunk[kBufferSize] = {};
};
