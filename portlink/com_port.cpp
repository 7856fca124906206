#include "com_port.h"

#include <cstring>

#include "deadline.h"

namespace portlink {

CComPort::CComPort(SerialBackend &backend) : m_backend(backend) {}

CComPort::~CComPort() {
    if (m_hPort != kNoHandle) CComPort::Close();
}

uint32_t CComPort::Open(const char *name, uint32_t inQueue, uint32_t outQueue, bool overlapped) {
    m_lastError = 0;
    if (m_hPort != kNoHandle) return Fail(kErrAlreadyInitialized);
    if (name == nullptr) return Fail(kErrInvalidParameter);
    PortHandle handle = kNoHandle;
    if (const uint32_t code = m_backend.Open(name, inQueue, outQueue, handle)) return Fail(code);
    m_hPort = handle;
    m_firedEvents = 0;
    m_rxReported = false;
    m_pendingErrors = 0;
    // Counters are compared against what they were at open, so conditions
    // from before this open are not reported.
    m_hasCounters = m_backend.ReadCounters(m_hPort, m_counters) == kOk;
    // Set before the waker exists: there is no wait to complete yet, and a
    // stale wake would only make the first wait return early.
    SetEventMask(kDefaultEventMask);
    m_abortWait = false;
    m_lastError = 0;
    uint32_t code = SetReadMode(kReadImmediate);
    if (code == kOk && overlapped) code = m_backend.CreateWaker(m_hIoEvent);
    if (code != kOk) {
        // A half-set-up device would stay locked away from everyone until the
        // object is destroyed; close it so the open can simply be retried.
        Close();
        return Fail(code);
    }
    return m_lastError;
}

uint32_t CComPort::Close() {
    m_lastError = 0;
    if (m_hPort == kNoHandle) return 0;
    if (m_hIoEvent != kNoHandle) {
        m_backend.CloseWaker(m_hIoEvent);
        m_hIoEvent = kNoHandle;
    }
    m_backend.Close(m_hPort);
    m_hPort = kNoHandle;
    m_eventMask = 0;
    return m_lastError;
}

uint32_t CComPort::Configure(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                             uint8_t stopBits) {
    if (!BeginCall()) return m_lastError;
    LineState state;
    if (const uint32_t code = m_backend.GetState(m_hPort, state)) return Fail(code);
    state.baudRate = baudRate;
    state.byteSize = dataBits;
    state.parity = parity;
    state.parityEnabled = parity != kNoParity;
    state.stopBits = stopBits;
    if (const uint32_t code = m_backend.SetState(m_hPort, state)) return Fail(code);
    return m_lastError;
}

uint32_t CComPort::SetEventCharacter(uint8_t ch, bool addToMask) {
    if (!BeginCall()) return m_lastError;
    LineState state;
    if (const uint32_t code = m_backend.GetState(m_hPort, state)) return Fail(code);
    m_eventChar = ch;
    if (addToMask) SetEventMask(EventMask() | kEvRxFlag);
    m_lastError = 0;
    if (const uint32_t code = m_backend.SetState(m_hPort, state)) return Fail(code);
    return m_lastError;
}

uint32_t CComPort::SetEventMask(uint32_t mask) {
    if (!BeginCall()) return m_lastError;
    m_eventMask = mask;
    m_abortWait = true;
    if (m_hIoEvent != kNoHandle) m_backend.Wake(m_hIoEvent);
    return m_lastError;
}

uint32_t CComPort::WaitForEvents(uint32_t timeoutMs) {
    m_lastError = 0;
    return m_lastError = WaitEventsRaw(timeoutMs);
}

uint32_t CComPort::WaitEventsRaw(uint32_t timeoutMs) {
    if (m_hPort == kNoHandle) return kErrInvalidHandle;
    if (m_hIoEvent == kNoHandle && timeoutMs != kInfinite) return kErrInvalidFunction;
    const Deadline deadline(timeoutMs);
    for (;;) {
        const bool watchRx = !m_rxReported.load();
        unsigned ready = 0;
        if (const uint32_t code = m_backend.Wait(m_hPort, watchRx ? SerialBackend::kReadable : 0u,
                                                 m_hIoEvent, deadline.Remaining(), ready)) {
            return code;
        }
        if (ready & SerialBackend::kHangUp) return kErrHangUp;
        if ((ready & SerialBackend::kWoken) && m_abortWait.exchange(false)) return 0;
        uint32_t fired = 0;
        if (watchRx && (ready & SerialBackend::kReadable)) {
            fired |= kEvRxChar;
            // Before the event is handed on: a Read that follows the
            // notification must find the flag set, or it would not re-arm us.
            m_rxReported = true;
        }
        if (ready &
            (SerialBackend::kReadable | SerialBackend::kWoken | SerialBackend::kLineEvent)) {
            // Breaks and line errors arrive in the stream too (a break as a
            // NUL, a bad byte as it was received), so they wake us here, or
            // with the re-arm after a Read took them, or the driver signals
            // them on their own; the counters tell which.
            SampleCounters();
            if (m_pendingErrors & kCeBreak) fired |= kEvBreak;
            if (m_pendingErrors & (kCeFrame | kCeRxParity | kCeOverrun | kCeRxOver)) {
                fired |= kEvErr;
            }
        }
        if (fired & m_eventMask.load()) {
            m_firedEvents.fetch_or(fired);
            return 0;
        }
        if (deadline.Expired()) return kErrTimeout;
    }
}

void CComPort::SampleCounters() {
    if (!m_hasCounters) return;
    LineCounters now;
    if (m_backend.ReadCounters(m_hPort, now) != kOk) return;
    if (now.breaks != m_counters.breaks) m_pendingErrors |= kCeBreak;
    if (now.frame != m_counters.frame) m_pendingErrors |= kCeFrame;
    if (now.parity != m_counters.parity) m_pendingErrors |= kCeRxParity;
    if (now.overrun != m_counters.overrun) m_pendingErrors |= kCeOverrun;
    if (now.bufOverrun != m_counters.bufOverrun) m_pendingErrors |= kCeRxOver;
    m_counters = now;
}

uint32_t CComPort::ClearErrors() {
    // The flags of the same sample that raised the events, so that the two
    // halves of a notification agree.
    const uint32_t errors = m_pendingErrors;
    m_pendingErrors = 0;
    return errors;
}

uint32_t CComPort::TakeEvents() {
    return m_firedEvents.exchange(0) & m_eventMask.load();
}

void CComPort::ReArmEvents() {
    if (m_rxReported.exchange(false) && m_hIoEvent != kNoHandle) m_backend.Wake(m_hIoEvent);
}

uint32_t CComPort::SetFlowControl(uint8_t kind) {
    if (!BeginCall()) return m_lastError;
    LineState state;
    if (const uint32_t code = m_backend.GetState(m_hPort, state)) return Fail(code);
    if (kind > kFlowSoftware) return Fail(kErrInvalidArg);
    state.flow = kind;
    if (const uint32_t code = m_backend.SetState(m_hPort, state)) return Fail(code);
    // Without flow control DTR and RTS stay de-asserted; with the handshake
    // they are asserted so that the other end may send. (Which lines the
    // handshake watches is the system's: RTS/CTS alone on termios, which has
    // no DTR/DSR handshake; both pairs on Windows.)
    const bool assert = kind == kFlowHardware;
    if (const uint32_t code = m_backend.SetModemLines(m_hPort, assert, assert)) return Fail(code);
    return m_lastError;
}

uint32_t CComPort::SetReadMode(uint8_t mode) {
    if (!BeginCall()) return m_lastError;
    if (mode > kReadBlocking) return Fail(kErrInvalidArg);
    // The device always stays non-blocking with VMIN = VTIME = 0; the blocking
    // mode is this object's own wait, which keeps it cancellable.
    m_readMode = mode;
    return m_lastError;
}

// The getters share one read of the line state; -1 when the object is closed
// or the read fails, with the reason in m_lastError.
bool CComPort::ReadLineState(LineState &state) {
    m_lastError = 0;
    if (m_hPort == kNoHandle) return Fail(kErrInvalidHandle), false;
    if (const uint32_t code = m_backend.GetState(m_hPort, state)) return Fail(code), false;
    return true;
}

int32_t CComPort::BaudRate() {
    LineState state;
    return ReadLineState(state) ? static_cast<int32_t>(state.baudRate) : -1;
}

int32_t CComPort::DataBits() {
    LineState state;
    return ReadLineState(state) ? state.byteSize : -1;
}

int32_t CComPort::Parity() {
    LineState state;
    if (!ReadLineState(state)) return -1;
    return state.parityEnabled ? state.parity : 0;
}

int32_t CComPort::StopBits() {
    LineState state;
    return ReadLineState(state) ? state.stopBits : -1;
}

int32_t CComPort::FlowControl() {
    LineState state;
    return ReadLineState(state) ? state.flow : -1;
}

uint32_t CComPort::EventMask() {
    m_lastError = 0;
    if (m_hPort == kNoHandle) return Fail(kErrInvalidHandle), 0;
    return m_eventMask.load();
}

uint8_t CComPort::EventCharacter() {
    m_lastError = 0;
    if (m_hPort == kNoHandle) return Fail(kErrInvalidHandle), 0;
    LineState state;
    if (const uint32_t code = m_backend.GetState(m_hPort, state)) return Fail(code), 0;
    return m_eventChar;
}

uint32_t CComPort::WriteText(const char *text, uint32_t *written, uint32_t timeoutMs) {
    m_lastError = 0;
    if (text == nullptr) return Fail(kErrInvalidParameter);
    return Write(reinterpret_cast<const uint8_t *>(text), static_cast<uint32_t>(std::strlen(text)),
                 written, timeoutMs);
}

bool CComPort::ReadyToTransfer(const void *bytes, uint32_t count, uint32_t *moved,
                               uint32_t timeoutMs) {
    if (moved) *moved = 0;
    if (!BeginCall()) return false;
    if (m_hIoEvent == kNoHandle && timeoutMs != kInfinite)
        Fail(kErrInvalidFunction);
    else if (count != 0 && bytes == nullptr)
        Fail(kErrInvalidParameter);
    return m_lastError == 0 && count != 0;
}

uint32_t CComPort::Write(const uint8_t *data, uint32_t count, uint32_t *written,
                         uint32_t timeoutMs) {
    if (!ReadyToTransfer(data, count, written, timeoutMs)) return m_lastError;
    size_t done = 0;
    // Bounded by the backend: on time-out it has discarded what was not sent.
    if (const uint32_t code = m_backend.Write(m_hPort, data, count, timeoutMs, done)) {
        return Fail(code);
    }
    if (written) *written = static_cast<uint32_t>(done);
    return m_lastError;
}

uint32_t CComPort::Read(uint8_t *buffer, uint32_t count, uint32_t *got, uint32_t timeoutMs) {
    if (!ReadyToTransfer(buffer, count, got, timeoutMs)) return m_lastError;
    size_t n = 0;
    const uint32_t code =
        m_backend.Read(m_hPort, buffer, count, m_readMode == kReadBlocking, timeoutMs, n);
    if (got) *got = static_cast<uint32_t>(n);
    // Whatever was taken, the listener may watch for new data again.
    ReArmEvents();
    return Fail(code);
}

uint32_t CComPort::Purge(uint32_t flags) {
    if (!BeginCall()) return m_lastError;
    const bool input = (flags & kPurgeRxClear) != 0;
    const bool output = (flags & kPurgeTxClear) != 0;
    if (input || output) {
        if (const uint32_t code = m_backend.Purge(m_hPort, input, output)) return Fail(code);
    }
    if (input) ReArmEvents();
    return m_lastError;
}

}  // namespace portlink
