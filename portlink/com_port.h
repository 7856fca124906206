// CComPort: one serial device, opened exclusively, with its line settings,
// event mask, flow control, read mode, timed reads and writes and purges.
// Every operation stores its outcome in m_lastError and answers it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "backend.h"
#include "codes.h"

namespace portlink {

class CComPort {
public:
    explicit CComPort(SerialBackend &backend = SystemBackend());
    CComPort(const CComPort &) = delete;
    CComPort &operator=(const CComPort &) = delete;
    virtual ~CComPort();

    // A device opened with overlapped = false only takes infinite waits; one
    // opened with overlapped = true takes bounded waits and can be waited on
    // for events while another thread reads and writes. The queue sizes are
    // the driver's business on Linux and are accepted as given. An open that
    // fails leaves the object closed.
    virtual uint32_t Open(const char *name, uint32_t inQueue, uint32_t outQueue, bool overlapped);
    virtual uint32_t Close();

    virtual uint32_t Configure(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                               uint8_t stopBits);
    // The character is kept; Linux drivers have no event character, so
    // EV_RXFLAG never fires.
    virtual uint32_t SetEventCharacter(uint8_t ch, bool addToMask);
    // Also completes a pending WaitForEvents with no event bits.
    virtual uint32_t SetEventMask(uint32_t mask);
    // Waits until an event of the mask fires; the bits are collected with
    // TakeEvents. Answers 0 with no bits when SetEventMask completed the wait,
    // kErrTimeout when timeoutMs passed, kErrHangUp when the device went away.
    // EV_RXCHAR fires once for data that waits and again only after a Read or
    // Purge has taken it, so an unread byte never makes the wait spin.
    virtual uint32_t WaitForEvents(uint32_t timeoutMs);
    virtual uint32_t SetFlowControl(uint8_t kind);
    virtual uint32_t SetReadMode(uint8_t mode);
    virtual int32_t BaudRate();
    virtual int32_t DataBits();
    virtual int32_t Parity();
    virtual int32_t StopBits();
    virtual int32_t FlowControl();
    virtual uint32_t EventMask();
    virtual uint8_t EventCharacter();
    virtual uint32_t WriteText(const char *text, uint32_t *written, uint32_t timeoutMs);
    // Returns when all bytes are handed to the driver. A bounded wait that
    // runs out discards what was not sent yet and answers kErrTimeout with
    // *written = 0.
    virtual uint32_t Write(const uint8_t *data, uint32_t count, uint32_t *written,
                           uint32_t timeoutMs);
    // In the immediate mode answers at once with what waits (maybe nothing); in
    // the blocking mode waits for all count bytes. A bounded wait that runs out
    // answers kErrTimeout; the bytes that did arrive are in the buffer and in
    // *got, so nothing read is lost.
    virtual uint32_t Read(uint8_t *buffer, uint32_t count, uint32_t *got, uint32_t timeoutMs);

    uint32_t Purge(uint32_t flags);
    // The fired bits of the last wait that are in the mask; clears them.
    uint32_t TakeEvents();

    uint32_t LastError() const { return m_lastError; }
    bool IsOpen() const { return m_hPort != kNoHandle; }

protected:
    // The CE_ flags that the event waits gathered from the driver's counters
    // since the last call; clears them. Called by the thread that waits.
    uint32_t ClearErrors();
    // The event wait without touching m_lastError, for the listener thread.
    uint32_t WaitEventsRaw(uint32_t timeoutMs);
    void ReArmEvents();
    uint32_t Fail(uint32_t code) { return m_lastError = code; }
    // Starts a call that needs the device open: m_lastError cleared, or
    // kErrInvalidHandle in it (and false) when the object is closed.
    bool BeginCall() { return Fail(m_hPort == kNoHandle ? kErrInvalidHandle : 0) == 0; }
    bool ReadLineState(LineState &state);

    SerialBackend &m_backend;
    uint32_t m_lastError = 0;
    PortHandle m_hPort = kNoHandle;
    std::atomic<uint32_t> m_firedEvents{0};
    std::atomic<uint32_t> m_eventMask{0};
    // The waker of WaitForEvents; exists while the device is open for bounded
    // waits (overlapped).
    PortHandle m_hIoEvent = kNoHandle;
    uint8_t m_eventChar = 0;
    uint8_t m_readMode = kReadImmediate;

private:
    void SampleCounters();
    // The checks a read and a write share before bytes move: false when the
    // call ends here, answering m_lastError (0 for a count of 0).
    bool ReadyToTransfer(const void *bytes, uint32_t count, uint32_t *moved, uint32_t timeoutMs);

    // Set by SetEventMask: the pending (or next) wait ends with no bits.
    std::atomic<bool> m_abortWait{false};
    // Set when EV_RXCHAR has fired; the device's readability is not watched
    // again until a Read or Purge clears it.
    std::atomic<bool> m_rxReported{false};
    // Owned by the waiting thread once the device is open.
    bool m_hasCounters = false;
    LineCounters m_counters{};
    uint32_t m_pendingErrors = 0;
};

}  // namespace portlink
