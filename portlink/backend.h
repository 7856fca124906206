// The narrow seam between the port classes and the operating system. The port
// classes keep every behaviour and result code; a backend only does the OS
// work and answers 0 or a code of codes.h. A handle is wide enough for any
// platform's kind (a file descriptor here, a HANDLE on Windows); kNoHandle
// stands for none.
#pragma once

#include <cstddef>
#include <cstdint>

namespace portlink {

using PortHandle = intptr_t;
inline constexpr PortHandle kNoHandle = -1;

// What the device's line is set to, in the DCB's own values.
struct LineState {
    uint32_t baudRate = 0;
    uint8_t byteSize = 8;
    uint8_t parity = 0;          // kNoParity .. kSpaceParity
    bool parityEnabled = false;  // fParity: parity generated and expected
    uint8_t stopBits = 0;        // kOneStopBit, kOne5StopBits, kTwoStopBits
    uint8_t flow = 0;            // kFlowNone, kFlowHardware, kFlowSoftware
};

// The driver's running totals of line conditions since the device came up.
struct LineCounters {
    uint32_t breaks = 0;
    uint32_t frame = 0;
    uint32_t parity = 0;
    uint32_t overrun = 0;     // the UART's own receive overrun
    uint32_t bufOverrun = 0;  // the driver's input buffer overflowed
};

class SerialBackend {
public:
    // Readiness bits of Wait().
    static constexpr unsigned kReadable = 1;
    static constexpr unsigned kHangUp = 4;
    static constexpr unsigned kWoken = 8;
    // The driver signalled a break or a line error (systems that report them
    // as events of their own rather than in the byte stream).
    static constexpr unsigned kLineEvent = 16;

    virtual ~SerialBackend() = default;

    // Opens the device the way Open would and closes it again at once: answers
    // kErrFileNotFound when it is absent, kErrAccessDenied when someone holds
    // it, another code when it cannot be opened as a serial device.
    virtual uint32_t Probe(const char *path) = 0;
    // Opens the device exclusively, non-blocking, in raw mode with immediate
    // reads and both queues empty, and asks for low latency where the driver
    // offers it. Queue sizes of 0 leave the driver's own; systems whose
    // drivers size no queues ignore them.
    virtual uint32_t Open(const char *path, uint32_t inQueue, uint32_t outQueue,
                          PortHandle &handle) = 0;
    virtual void Close(PortHandle handle) = 0;

    virtual uint32_t GetState(PortHandle handle, LineState &state) = 0;
    virtual uint32_t SetState(PortHandle handle, const LineState &state) = 0;
    // Drives DTR and RTS. A device without modem lines answers 0: not having
    // them is not a failure.
    virtual uint32_t SetModemLines(PortHandle handle, bool dtr, bool rts) = 0;

    // Without waitAll answers at once with what waits (got = 0 when nothing
    // does); with it waits until count bytes have come or timeoutMs has passed
    // (kInfinite: no limit), which answers kErrTimeout with the bytes that did
    // come in buffer and got. A device that has gone away answers an error
    // (kErrHangUp where the system tells it apart).
    virtual uint32_t Read(PortHandle handle, uint8_t *buffer, size_t count, bool waitAll,
                          uint32_t timeoutMs, size_t &got) = 0;
    // Hands all count bytes to the driver within timeoutMs (kInfinite: no
    // limit). When the time runs out it discards what was not sent and answers
    // kErrTimeout.
    virtual uint32_t Write(PortHandle handle, const uint8_t *data, size_t count, uint32_t timeoutMs,
                           size_t &done) = 0;
    // Discards what waits in the input and/or output queue.
    virtual uint32_t Purge(PortHandle handle, bool input, bool output) = 0;
    // kErrNotSupported when the driver keeps no counters.
    virtual uint32_t ReadCounters(PortHandle handle, LineCounters &counters) = 0;

    // A waker makes a pending Wait return; a wake that comes before the wait
    // is kept until a Wait sees it.
    virtual uint32_t CreateWaker(PortHandle &waker) = 0;
    virtual void CloseWaker(PortHandle waker) = 0;
    virtual void Wake(PortHandle waker) = 0;
    // The event wait: sleeps until the device is readable (want & kReadable),
    // signals a break or line error (kLineEvent), has hung up (always
    // watched), the waker fires (waker != kNoHandle; the wake is consumed) or
    // timeoutMs has passed (kInfinite: no limit). ready = 0 means nothing
    // happened (time-out or an interrupted sleep). One thread at a time waits
    // on a device.
    virtual uint32_t Wait(PortHandle handle, unsigned want, PortHandle waker, uint32_t timeoutMs,
                          unsigned &ready) = 0;
};

// The backend of the platform the library was built for.
SerialBackend &SystemBackend();

}  // namespace portlink
