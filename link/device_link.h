// CDeviceLink: the one object through which the dialog exchanges frames with
// the device, over a serial port (portlink) or a TCP connection.
//
// The holder (the device session) chooses the port or host, calls Open, Send,
// ReadSerial and Tick on its UI thread, and after every Tick takes a completed
// frame with TakeFrame. The fields stay public for reading; only the link
// writes them. All storage is inside the object: nothing is allocated after
// construction.
//
// Gathering keeps what a pause splits: a USB adapter hands over what it holds
// whenever its latency timer fires, so an answer that straddles a tick comes
// in two pieces some 16 ms apart, well past the idle gap. Bytes gathered
// before such a pause are kept when they are a plausible start of the answer
// the holder awaits (STX and a length that fits it); a frame put together
// across a pause must end in ETX and carry its checksum, or gathering starts
// again at the next STX in what is held. Bytes before a frame's STX can never
// belong to it and go at once. Whatever is thrown away is counted for the
// holder to report.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "link_loss.h"
#include "link_messages.h"
#include "portlink_api.h"
#include "socket_api.h"
#include "tcp_transport.h"

enum : uint8_t { LINK_SERIAL = 1, LINK_TCP = 2 };

class CDeviceLink {
    // First, so that the holder's views of the transport's flags below can
    // refer to it; ended explicitly by the destructor, before the receive
    // fields it delivers into go away.
    CLinkLoss m_loss;
    CTcpTransport m_tcp;

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

    // The socket calls of the TCP transport; set before the first TCP Open.
    void SetSockets(const SocketApi &sockets) { m_tcp.SetSockets(sockets); }

    // The COM port and rate of the next serial Open.
    void UsePort(uint8_t port, int32_t baudRate) { m_nPort = port, m_nBaudRate = baudRate; }
    // The host and port of the next TCP Open; a host longer than the field
    // holds is cut.
    void UseHost(const std::string &host, int32_t port);

    // Selects the transport and opens it. A serial Open closes the port of the
    // previous Open and opens m_nPort at m_nBaudRate, 8N1, no flow control,
    // with data notification to ownerWindow. Failures are shown as warnings.
    void Open(uint8_t transport, PortlinkWindow *ownerWindow);
    // Sends the low 16 bits of length bytes. Serial: writecom's code; else 0.
    int32_t Send(const uint8_t *bytes, int32_t length);

    // True once the line under the link went away: the TCP peer closed or
    // reset the connection (or a frame could not be sent on it), or readcom
    // answered 999 (a hung-up serial port). *reason, when given, says which in
    // one line. Open and Send start afresh; a TCP connection that is already
    // gone is reported again by the worker of the next frame. Any thread.
    bool LinkLost(std::string *reason = nullptr) const { return m_loss.Get(reason); }
    // Why the last TCP connect failed ("connect(): " and the system's
    // text), until a connection is made. Any thread.
    bool ConnectFailure(std::string *reason) const { return m_tcp.ConnectFailure(reason); }

    // Serial arrival: pulls what waits (at most 10,000 bytes) with readcom.
    void ReadSerial();
    // TCP arrival: appends a received chunk of n bytes (the receive worker
    // gets them into its own buffer first, so m_rxBuffer is only ever written
    // under the lock). Safe to call from any thread, concurrently with Tick.
    void TcpArrival(const uint8_t *bytes, int32_t n);
    // Advances the idle count and completes at most one frame.
    void Tick();
    // The longest answer the holder waits for (0: none): a piece gathered
    // before a pause is kept only when it can start such an answer.
    void AwaitAnswer(int32_t maxLength);
    // Bytes thrown away since the last call: before a frame's start, cut off
    // by a pause, after a completed frame, or a frame that did not hold
    // together. Any thread.
    uint32_t TakeDiscarded();
    // Counts arrivals that brought bytes: the holder's sign that the line is
    // not quiet. Any thread.
    uint32_t Arrivals() const { return m_arrivals.load(std::memory_order_relaxed); }
    // The result of the last serial open: 0 when the port opened, opencom's
    // code otherwise (-1: the rate was refused, nothing was opened).
    int32_t OpenResult() const { return m_nOpenResult; }
    // The holder's reset after a Send, so the answer is gathered from index 0.
    // Same as writing m_nRxCount = 0, but safe while a TCP receive worker runs.
    void ResetRxCount();

    // A frame is complete and not yet taken.
    bool FrameReady() const { return m_nFramesReady != 0; }
    // The completed frame (empty when none is ready); it stays valid until
    // the next Tick.
    std::span<const uint8_t> TakeFrame();
    // The frame being gathered is all in: the next Tick completes it. Serial
    // only (read on the UI thread, where the serial arrivals are).
    bool FrameGathered() const { return m_nExpectedLength > 0 && m_nRxCount >= m_nExpectedLength; }
    // Past the idle gap with nothing that could still complete: a Tick would
    // change nothing. Serial only, as FrameGathered.
    bool Quiet() const { return m_nIdleTicks >= kIdleGap && !FrameGathered(); }
    // The TCP transport is sending a frame, or its connection is made or
    // being made. Any thread.
    bool Sending() const { return m_bSending.load() != 0; }
    bool Connected() const { return m_bConnected.load() != 0; }

    // Fields, in the order the holder knows them.
    PortlinkWindow *m_hOwner = nullptr;
    uint8_t m_nPort = 0;
    uint8_t m_nOpenPort = 0;
    int32_t m_nBaudRate = 0;
    char m_szHost[CTcpTransport::kHostSize] = {};
    int32_t m_nTcpPort = 0;
    // The TCP transport's: a send worker runs.
    std::atomic<int32_t> &m_bSending = m_tcp.m_bSending;
    uint8_t m_nTransport = 0;
    uint8_t m_rxBuffer[kBufferSize] = {};
    uint8_t m_frameBuffer[kBufferSize] = {};
    int32_t m_nRxCount = 0;
    int32_t m_nExpectedLength = 0;
    int32_t m_nFrameLength = 0;
    // The TCP transport's: the connection is made or being made.
    std::atomic<uint8_t> &m_bConnected = m_tcp.m_bConnected;
    int32_t m_nIdleTicks = kIdleAfterFrame;
    int32_t m_nFramesReady = 0;

private:
    void OpenSerial();
    void OpenTcp();
    void Warn(LinkWarning which, const char *text, const std::string &first = {},
              const std::string &second = {});
    // Takes the frame length from bytes 1-2 when a frame start is gathered.
    void TakeFrameStart(bool tcp);
    // Before an arrival is appended: after a pause, what is gathered goes
    // unless it can start the awaited answer. Under m_rxLock.
    void BeginArrival();
    bool HoldsAwaitedStart() const;
    // Drops the first `from` bytes and whatever follows them up to the next
    // STX. Under m_rxLock.
    void SkipToFrameStart(int32_t from);
    // The gathered frame of length bytes ends in ETX and carries its checksum.
    bool FrameHoldsTogether(int32_t length) const;

    const PortlinkApi &m_api;
    ILinkMessages *m_messages = nullptr;
    // Guards the receive fields (m_rxBuffer, m_nRxCount, m_nExpectedLength,
    // m_nIdleTicks and the three below) between the arrival steps and Tick's
    // completion.
    std::mutex m_rxLock;
    int32_t m_nAwaitedLength = 0;
    // The bytes gathered were kept across a pause: they must prove a frame.
    bool m_bAcrossPause = false;
    uint32_t m_nDiscarded = 0;
    std::atomic<uint32_t> m_arrivals{0};
    bool m_bLastArrivalTcp = false;
    int32_t m_nOpenResult = 0;
};
